#include "ticket/print_ticket_api.h"

#include "platform/kernel/kernel.h"

#include <cstdlib>

namespace aio {

PrintTicketApi g_print_ticket_api;

namespace {

void FreePrintTicketLibrary()
{
    if (g_print_ticket_api.library != nullptr)
        FreeLibrary(g_print_ticket_api.library);
}

// Loads the library while the process starts, before the entry runs, and frees it at exit.
struct PrintTicketLibraryLoader {
    PrintTicketLibraryLoader()
    {
        g_print_ticket_api.library = LoadLibraryW(u"prntvpt.dll");
        std::atexit(FreePrintTicketLibrary);
    }
};
const PrintTicketLibraryLoader g_loader;

// Stores the address of `name` in `entry`; true when it was found.
template <typename Function>
bool Bind(Function& entry, const char* name)
{
    // Through the generic function type, the one cast between function types that is always clean.
    const auto address = reinterpret_cast<void (*)()>(GetProcAddress(g_print_ticket_api.library, name));
    entry = reinterpret_cast<Function>(address);
    return entry != nullptr;
}

} // namespace

bool BindPrintTicketApi()
{
    PrintTicketApi& api = g_print_ticket_api;
    if (api.library == nullptr)
        return false;
    return Bind(api.open_provider, "PTOpenProvider") && Bind(api.get_print_capabilities, "PTGetPrintCapabilities")
        && Bind(api.devmode_to_ticket, "PTConvertDevModeToPrintTicket")
        && Bind(api.ticket_to_devmode, "PTConvertPrintTicketToDevMode")
        && Bind(api.merge_and_validate, "PTMergeAndValidatePrintTicket") && Bind(api.release_memory, "PTReleaseMemory")
        && Bind(api.close_provider, "PTCloseProvider");
}

bool EnsurePrintTicketApi()
{
    if (!g_print_ticket_api.binding_attempted) {
        g_print_ticket_api.binding_attempted = true;
        g_print_ticket_api.bound = BindPrintTicketApi();
    }
    return g_print_ticket_api.bound;
}

ComInitScope::ComInitScope()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (result == RPC_E_CHANGED_MODE)
        result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // Only an apartment actually entered is left again: an unmatched CoUninitialize would end an
    // apartment that belongs to someone else on this thread.
    initialised_ = SUCCEEDED(result);
}

ComInitScope::~ComInitScope()
{
    if (initialised_)
        CoUninitialize();
}

} // namespace aio

// prntvpt.so, the Print Ticket API the tool binds for the whole process at start-up. The provider
// itself, with the XML library it reads and writes documents with (libxml2, and ICU with it), is
// libquillon_print_schema.so beside this module, loaded on the first call that needs it: a start
// whose operation asks for no ticket or capabilities never pays for loading and relocating them.
#include "platform/kernel/kernel.h"
#include "platform/prntvpt/prntvpt.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <string>

#define PRNTVPT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr char kProviderLibrary[] = "libquillon_print_schema.so";

// The provider's entry points, of the same names and types as this module's.
struct ProviderCalls {
    decltype(&PTOpenProvider) openProvider = nullptr;
    decltype(&PTCloseProvider) closeProvider = nullptr;
    decltype(&PTGetPrintCapabilities) getCapabilities = nullptr;
    decltype(&PTConvertDevModeToPrintTicket) devModeToTicket = nullptr;
    decltype(&PTConvertPrintTicketToDevMode) ticketToDevMode = nullptr;
    decltype(&PTMergeAndValidatePrintTicket) mergeAndValidate = nullptr;
    decltype(&PTReleaseMemory) releaseMemory = nullptr;
};

// The folder this module was loaded from: the provider is installed beside it.
std::string OwnFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&OwnFolder), &info) == 0 || !info.dli_fname)
        return ".";
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

template <typename Call>
bool Find(void* library, const char* name, Call& call)
{
    call = reinterpret_cast<Call>(::dlsym(library, name));
    return call != nullptr;
}

ProviderCalls LoadProvider()
{
    const std::string path = OwnFolder() + "/" + kProviderLibrary;
    // Kept for the life of the process: libxml2 and ICU keep tables that unloading would strand.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ProviderCalls calls;
    const bool found = library && Find(library, "PTOpenProvider", calls.openProvider)
        && Find(library, "PTCloseProvider", calls.closeProvider)
        && Find(library, "PTGetPrintCapabilities", calls.getCapabilities)
        && Find(library, "PTConvertDevModeToPrintTicket", calls.devModeToTicket)
        && Find(library, "PTConvertPrintTicketToDevMode", calls.ticketToDevMode)
        && Find(library, "PTMergeAndValidatePrintTicket", calls.mergeAndValidate)
        && Find(library, "PTReleaseMemory", calls.releaseMemory);
    if (!found) {
        const char* reason = ::dlerror();
        std::fprintf(stderr, "quillon: the Print Schema provider %s cannot be loaded: %s\n", path.c_str(),
                     reason ? reason : "an entry point is missing");
        return ProviderCalls{};
    }
    return calls;
}

// The provider, loaded on the first call that asks for it (once, whoever asks); with `load` false,
// null when it has not been loaded yet.
const ProviderCalls* Provider(bool load = true)
{
    static std::atomic<bool> asked{false};
    if (!load && !asked.load())
        return nullptr;
    asked = true;
    static const ProviderCalls calls = LoadProvider();
    return calls.openProvider ? &calls : nullptr;
}

// What a call answers when the provider cannot be loaded.
const HRESULT kNoProvider = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

} // namespace

// Opens a provider for an installed printer and schema version 1.
PRNTVPT_EXPORT HRESULT PTOpenProvider(PCWSTR printerName, DWORD version, HPTPROVIDER* provider)
{
    if (provider == nullptr)
        return E_POINTER;
    *provider = nullptr;
    const ProviderCalls* calls = Provider();
    return calls ? calls->openProvider(printerName, version, provider) : kNoProvider;
}

// Closes a provider handle; E_HANDLE for anything that is not an open one.
PRNTVPT_EXPORT HRESULT PTCloseProvider(HPTPROVIDER provider)
{
    // No handle can be open before the provider was loaded.
    const ProviderCalls* calls = Provider(false);
    return calls ? calls->closeProvider(provider) : E_HANDLE;
}

// Writes the printer's PrintCapabilities document into the stream.
PRNTVPT_EXPORT HRESULT PTGetPrintCapabilities(HPTPROVIDER provider, IStream* printTicket, IStream* capabilities,
                                              BSTR* errorMessage)
{
    if (errorMessage != nullptr)
        *errorMessage = nullptr;
    const ProviderCalls* calls = Provider(false);
    return calls ? calls->getCapabilities(provider, printTicket, capabilities, errorMessage) : E_HANDLE;
}

// Writes the PrintTicket of a device mode, with the features of the scope's levels.
PRNTVPT_EXPORT HRESULT PTConvertDevModeToPrintTicket(HPTPROVIDER provider, ULONG devModeSize, PDEVMODEW devMode,
                                                     EPrintTicketScope scope, IStream* printTicket)
{
    const ProviderCalls* calls = Provider(false);
    return calls ? calls->devModeToTicket(provider, devModeSize, devMode, scope, printTicket) : E_HANDLE;
}

// Makes the device mode of a PrintTicket over the printer's default; free it with PTReleaseMemory.
PRNTVPT_EXPORT HRESULT PTConvertPrintTicketToDevMode(HPTPROVIDER provider, IStream* printTicket,
                                                     EDefaultDevmodeType baseDevModeType, EPrintTicketScope scope,
                                                     ULONG* devModeSize, PDEVMODEW* devMode, BSTR* errorMessage)
{
    if (errorMessage != nullptr)
        *errorMessage = nullptr;
    const ProviderCalls* calls = Provider(false);
    return calls
        ? calls->ticketToDevMode(provider, printTicket, baseDevModeType, scope, devModeSize, devMode, errorMessage)
        : E_HANDLE;
}

// Merges a delta ticket into a base ticket and validates the result against the printer.
PRNTVPT_EXPORT HRESULT PTMergeAndValidatePrintTicket(HPTPROVIDER provider, IStream* baseTicket, IStream* deltaTicket,
                                                     EPrintTicketScope scope, IStream* resultTicket, BSTR* errorMessage)
{
    if (errorMessage != nullptr)
        *errorMessage = nullptr;
    const ProviderCalls* calls = Provider(false);
    return calls ? calls->mergeAndValidate(provider, baseTicket, deltaTicket, scope, resultTicket, errorMessage)
                 : E_HANDLE;
}

// Frees memory the provider handed out; null is fine, any other pointer is refused.
PRNTVPT_EXPORT HRESULT PTReleaseMemory(PVOID buffer)
{
    if (buffer == nullptr)
        return S_OK;
    // Nothing can have been handed out before the provider was loaded.
    const ProviderCalls* calls = Provider(false);
    return calls ? calls->releaseMemory(buffer) : E_INVALIDARG;
}

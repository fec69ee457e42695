// The Print Ticket API ("prntvpt.dll"): loaded while the process starts, bound by name on first use,
// and the COM scope every print-ticket operation runs in.
#pragma once

#include "platform/prntvpt/prntvpt.h"

namespace aio {

struct PrintTicketApi {
    HMODULE library = nullptr;
    decltype(&PTOpenProvider) open_provider = nullptr;
    decltype(&PTGetPrintCapabilities) get_print_capabilities = nullptr;
    decltype(&PTConvertDevModeToPrintTicket) devmode_to_ticket = nullptr;
    decltype(&PTConvertPrintTicketToDevMode) ticket_to_devmode = nullptr;
    decltype(&PTMergeAndValidatePrintTicket) merge_and_validate = nullptr;
    decltype(&PTReleaseMemory) release_memory = nullptr;
    decltype(&PTCloseProvider) close_provider = nullptr;
    bool binding_attempted = false;
    bool bound = false;
};

// The process-wide binding; its entry points are valid once EnsurePrintTicketApi returned true.
extern PrintTicketApi g_print_ticket_api;

// Looks up the seven entry points; false when the library is missing or lacks any of them.
bool BindPrintTicketApi();
// Binds the API on the first call only; returns whether it is bound.
bool EnsurePrintTicketApi();

// Enters the thread into a COM apartment (multithreaded, or single-threaded when the thread already
// lives in one) and leaves it again when the scope ends.
class ComInitScope final {
public:
    ComInitScope();
    ~ComInitScope();

    ComInitScope(const ComInitScope&) = delete;
    ComInitScope& operator=(const ComInitScope&) = delete;

private:
    bool initialised_ = false;
};

} // namespace aio

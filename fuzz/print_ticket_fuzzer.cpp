// A job's print ticket: the input is the ticket the -c request carries, turned into a device mode
// for each sample printer the way the tool does it, through the Print Schema provider the tool
// loads (its ticket reader, merge and device mode mapping).
#include "fuzz/fuzz_support.h"
#include "ticket/print_ticket_api.h"
#include "ticket/ticket_to_devmode.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    if (!aio::EnsurePrintTicketApi())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string ticket(reinterpret_cast<const char*>(data), size);
    for (const char16_t* printer : {u"Quillon Office", u"Quillon Photo"}) {
        DEVMODEW* devmode = nullptr;
        if (SUCCEEDED(aio::PrintTicketToDevMode(printer, ticket, &devmode)) && devmode)
            aio::g_print_ticket_api.release_memory(devmode);
    }
    return 0;
}

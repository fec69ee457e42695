#include "ticket/ticket_to_devmode.h"

#include "ticket/print_ticket_api.h"
#include "ticket/print_ticket_queries.h"

namespace aio {

HRESULT PrintTicketToDevMode(const std::u16string& printer_name, const std::string& ticket, DEVMODEW** devmode)
{
    if (!EnsurePrintTicketApi())
        return E_FAIL;
    ComInitScope com;

    IStream* stream = nullptr;
    const HRESULT created = CreateTextStream(ticket, &stream);
    if (FAILED(created))
        return created;
    ComRelease<IStream> streamScope(stream);

    HPTPROVIDER provider = nullptr;
    const HRESULT opened = g_print_ticket_api.open_provider(printer_name.c_str(), 1, &provider);
    if (FAILED(opened))
        return opened;

    ULONG size = 0;
    const HRESULT result = g_print_ticket_api.ticket_to_devmode(provider, stream, kUserDefaultDevmode, kPTDocumentScope,
                                                                &size, devmode, nullptr);
    g_print_ticket_api.close_provider(provider);
    return result;
}

} // namespace aio

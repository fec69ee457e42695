// A stand-in Print Ticket library that lacks PTMergeAndValidatePrintTicket and answers every other
// call with a recognisable document, so a tool that wrongly binds it would reply with that text.
#include "platform/prntvpt/prntvpt.h"

#include <cstring>

namespace {

HRESULT WriteMarker(IStream* stream)
{
    static const char kMarker[] = "stand-in provider";
    ULONG written = 0;
    return stream == nullptr ? E_POINTER : stream->Write(kMarker, sizeof kMarker - 1, &written);
}

HPTPROVIDER__* const kProvider = reinterpret_cast<HPTPROVIDER__*>(0x1000);

} // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT PTOpenProvider(PCWSTR, DWORD, HPTPROVIDER* provider)
{
    *provider = kProvider;
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT PTCloseProvider(HPTPROVIDER)
{
    return S_OK;
}

__attribute__((visibility("default"))) HRESULT PTGetPrintCapabilities(HPTPROVIDER, IStream*, IStream* out, BSTR*)
{
    return WriteMarker(out);
}

__attribute__((visibility("default"))) HRESULT PTConvertDevModeToPrintTicket(HPTPROVIDER, ULONG, PDEVMODEW,
                                                                             EPrintTicketScope, IStream* out)
{
    return WriteMarker(out);
}

__attribute__((visibility("default"))) HRESULT
PTConvertPrintTicketToDevMode(HPTPROVIDER, IStream*, EDefaultDevmodeType, EPrintTicketScope, ULONG*, PDEVMODEW*, BSTR*)
{
    return E_FAIL;
}

__attribute__((visibility("default"))) HRESULT PTReleaseMemory(PVOID)
{
    return S_OK;
}

} // extern "C"

// The Print Ticket API ("prntvpt.dll"): the provider's exported entry points and their types.
// The tool binds these by name at run time; the provider in plugins/prntvpt implements them.
#pragma once

#include "platform/com/com.h"
#include "platform/spooler/spooler.h"

struct HPTPROVIDER__;
using HPTPROVIDER = HPTPROVIDER__*;

enum EDefaultDevmodeType { kUserDefaultDevmode = 0, kPrinterDefaultDevmode = 1 };
enum EPrintTicketScope { kPTPageScope = 0, kPTDocumentScope = 1, kPTJobScope = 2 };

constexpr HRESULT E_PRINTTICKET_FORMAT = static_cast<HRESULT>(0x80040001u);
constexpr HRESULT E_PRINTCAPABILITIES_FORMAT = static_cast<HRESULT>(0x80040002u);
constexpr HRESULT E_DELTA_PRINTTICKET_FORMAT = static_cast<HRESULT>(0x80040003u);
constexpr HRESULT S_PT_NO_CONFLICT = 0x00040001;
constexpr HRESULT S_PT_CONFLICT_RESOLVED = 0x00040002;

extern "C" {
HRESULT PTOpenProvider(PCWSTR printerName, DWORD version, HPTPROVIDER* provider);
HRESULT PTCloseProvider(HPTPROVIDER provider);
HRESULT PTGetPrintCapabilities(HPTPROVIDER provider, IStream* printTicket, IStream* capabilities, BSTR* errorMessage);
HRESULT PTConvertDevModeToPrintTicket(HPTPROVIDER provider, ULONG devModeSize, PDEVMODEW devMode,
                                      EPrintTicketScope scope, IStream* printTicket);
HRESULT PTConvertPrintTicketToDevMode(HPTPROVIDER provider, IStream* printTicket, EDefaultDevmodeType baseDevModeType,
                                      EPrintTicketScope scope, ULONG* devModeSize, PDEVMODEW* devMode,
                                      BSTR* errorMessage);
HRESULT PTMergeAndValidatePrintTicket(HPTPROVIDER provider, IStream* baseTicket, IStream* deltaTicket,
                                      EPrintTicketScope scope, IStream* resultTicket, BSTR* errorMessage);
HRESULT PTReleaseMemory(PVOID buffer);
}

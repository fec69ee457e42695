// The print spooler: device modes, printer handles, document properties and device capabilities.
#pragma once

#include "platform/win32.h"

#include <cstddef>

// Failure answers of the print job calls.
constexpr int SP_ERROR = -1;
constexpr int SP_APPABORT = -2;
constexpr int SP_USERABORT = -3;
constexpr int SP_OUTOFDISK = -4;
constexpr int SP_OUTOFMEMORY = -5;

constexpr int CCHDEVICENAME = 32;
constexpr int CCHFORMNAME = 32;

// The public part of a device mode, laid out as on Windows (220 bytes); a printer's driver-private
// part of dmDriverExtra bytes follows it directly in memory.
struct DEVMODEW {
    WCHAR dmDeviceName[CCHDEVICENAME];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength;
    SHORT dmPaperWidth;
    SHORT dmScale;
    SHORT dmCopies;
    SHORT dmDefaultSource;
    SHORT dmPrintQuality;
    SHORT dmColor;
    SHORT dmDuplex;
    SHORT dmYResolution;
    SHORT dmTTOption;
    SHORT dmCollate;
    WCHAR dmFormName[CCHFORMNAME];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmNup;
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
};
static_assert(sizeof(DEVMODEW) == 220, "DEVMODEW public part must match Windows");
// Device modes cross process and file boundaries as bytes: the offsets are part of the format.
static_assert(offsetof(DEVMODEW, dmFields) == 72);
static_assert(offsetof(DEVMODEW, dmOrientation) == 76);
static_assert(offsetof(DEVMODEW, dmPaperSize) == 78);
static_assert(offsetof(DEVMODEW, dmPaperLength) == 80);
static_assert(offsetof(DEVMODEW, dmPaperWidth) == 82);
static_assert(offsetof(DEVMODEW, dmCopies) == 86);
static_assert(offsetof(DEVMODEW, dmPrintQuality) == 90);
static_assert(offsetof(DEVMODEW, dmColor) == 92);
static_assert(offsetof(DEVMODEW, dmDuplex) == 94);
static_assert(offsetof(DEVMODEW, dmYResolution) == 96);
static_assert(offsetof(DEVMODEW, dmCollate) == 100);
static_assert(offsetof(DEVMODEW, dmFormName) == 102);
static_assert(offsetof(DEVMODEW, dmLogPixels) == 166);
using PDEVMODEW = DEVMODEW*;
using LPDEVMODEW = DEVMODEW*;

constexpr WORD DM_SPECVERSION = 0x0401;

// dmFields bits.
constexpr DWORD DM_ORIENTATION = 0x00000001;
constexpr DWORD DM_PAPERSIZE = 0x00000002;
constexpr DWORD DM_PAPERLENGTH = 0x00000004;
constexpr DWORD DM_PAPERWIDTH = 0x00000008;
constexpr DWORD DM_SCALE = 0x00000010;
constexpr DWORD DM_NUP = 0x00000040;
constexpr DWORD DM_COPIES = 0x00000100;
constexpr DWORD DM_DEFAULTSOURCE = 0x00000200;
constexpr DWORD DM_PRINTQUALITY = 0x00000400;
constexpr DWORD DM_COLOR = 0x00000800;
constexpr DWORD DM_DUPLEX = 0x00001000;
constexpr DWORD DM_YRESOLUTION = 0x00002000;
constexpr DWORD DM_TTOPTION = 0x00004000;
constexpr DWORD DM_COLLATE = 0x00008000;
constexpr DWORD DM_FORMNAME = 0x00010000;
constexpr DWORD DM_MEDIATYPE = 0x02000000;

constexpr SHORT DMORIENT_PORTRAIT = 1;
constexpr SHORT DMORIENT_LANDSCAPE = 2;
constexpr SHORT DMCOLOR_MONOCHROME = 1;
constexpr SHORT DMCOLOR_COLOR = 2;
constexpr SHORT DMDUP_SIMPLEX = 1;
constexpr SHORT DMDUP_VERTICAL = 2;   // two-sided, long edge
constexpr SHORT DMDUP_HORIZONTAL = 3; // two-sided, short edge
constexpr SHORT DMCOLLATE_FALSE = 0;
constexpr SHORT DMCOLLATE_TRUE = 1;

constexpr SHORT DMPAPER_LETTER = 1;
constexpr SHORT DMPAPER_TABLOID = 3;
constexpr SHORT DMPAPER_LEGAL = 5;
constexpr SHORT DMPAPER_STATEMENT = 6;
constexpr SHORT DMPAPER_EXECUTIVE = 7;
constexpr SHORT DMPAPER_A3 = 8;
constexpr SHORT DMPAPER_A4 = 9;
constexpr SHORT DMPAPER_A5 = 11;
constexpr SHORT DMPAPER_ENV_10 = 20;
constexpr SHORT DMPAPER_ENV_DL = 27;
constexpr SHORT DMPAPER_ENV_C5 = 28;
constexpr SHORT DMPAPER_JAPANESE_POSTCARD = 43;
constexpr SHORT DMPAPER_A6 = 70;
constexpr SHORT DMPAPER_USER = 256;

// DocumentPropertiesW modes.
constexpr DWORD DM_UPDATE = 1;
constexpr DWORD DM_COPY = 2;
constexpr DWORD DM_PROMPT = 4;
constexpr DWORD DM_MODIFY = 8;
constexpr DWORD DM_OUT_DEFAULT = DM_UPDATE;
constexpr DWORD DM_OUT_BUFFER = DM_COPY;
constexpr DWORD DM_IN_PROMPT = DM_PROMPT;
constexpr DWORD DM_IN_BUFFER = DM_MODIFY;
constexpr LONG IDOK = 1;

// DeviceCapabilitiesW capabilities.
constexpr WORD DC_FIELDS = 1;
constexpr WORD DC_PAPERS = 2;
constexpr WORD DC_PAPERSIZE = 3;
constexpr WORD DC_MINEXTENT = 4;
constexpr WORD DC_MAXEXTENT = 5;
constexpr WORD DC_DUPLEX = 7;
constexpr WORD DC_SIZE = 8;
constexpr WORD DC_EXTRA = 9;
constexpr WORD DC_VERSION = 10;
constexpr WORD DC_ENUMRESOLUTIONS = 13;
constexpr WORD DC_PAPERNAMES = 16;
constexpr WORD DC_ORIENTATION = 17;
constexpr WORD DC_COPIES = 18;
constexpr WORD DC_COLLATE = 22;
constexpr WORD DC_COLORDEVICE = 32;

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    LPDEVMODEW pDevMode;
    DWORD DesiredAccess;
};
using LPPRINTER_DEFAULTSW = PRINTER_DEFAULTSW*;

// Opens a printer by name; FALSE with ERROR_INVALID_PRINTER_NAME for an unknown or empty name.
BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, LPPRINTER_DEFAULTSW defaults);
// Closes a printer handle made by OpenPrinterW.
BOOL ClosePrinter(HANDLE printer);

// Mode 0: size in bytes of the printer's full device mode. DM_OUT_BUFFER: writes the printer's
// default device mode (merged with DM_IN_BUFFER's input and validated). Returns IDOK, or < 0 on failure.
// A printer handle, when given, names the printer (the device name is then not consulted). Input
// and output may be the same buffer. Merged settings the printer cannot take are corrected to the
// closest one it has (copies clamped to its range, duplex and colour dropped when it lacks them, an
// unknown paper number replaced by the default paper, a custom size kept within its smallest and
// largest sheet) and the call still returns IDOK. DM_IN_PROMPT shows nothing: there is no dialog.
LONG DocumentPropertiesW(HWND window, HANDLE printer, LPWSTR deviceName, PDEVMODEW devModeOutput,
                         PDEVMODEW devModeInput, DWORD mode);

// A printer capability; with output null, the count of entries. -1 for an unknown printer, and -1
// with ERROR_NOT_SUPPORTED for a capability this driver does not answer. DC_MINEXTENT and
// DC_MAXEXTENT return the sheet packed in the value (width in the low 16 bits, length in the high
// 16 bits, tenths of a millimetre) and write nothing to output. Answers do not depend on devMode,
// and within one process they come from the printer as it was first read, so a count and the
// lists asked for after it always agree.
int DeviceCapabilitiesW(LPCWSTR device, LPCWSTR port, WORD capability, LPWSTR output, const DEVMODEW* devMode);

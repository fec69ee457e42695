// GDI: device contexts, print jobs, world transforms, device-independent bitmaps, printer escapes
// and enhanced metafiles, as the tool and its plug-ins call them.
#pragma once

#include "platform/spooler/spooler.h"
#include "platform/win32.h"

using FLOAT = float;
using LONG_PTR = std::intptr_t;
using LPARAM = LONG_PTR;

using HDC = struct HDC__*;
using HENHMETAFILE = struct HENHMETAFILE__*;
using HGDIOBJ = void*;

// A world transform in row-vector form: x' = x * eM11 + y * eM21 + eDx, y' = x * eM12 + y * eM22 + eDy.
struct XFORM {
    FLOAT eM11;
    FLOAT eM12;
    FLOAT eM21;
    FLOAT eM22;
    FLOAT eDx;
    FLOAT eDy;
};
using LPXFORM = XFORM*;

// The document of a print job. Callers written for 32-bit Windows pass cbSize 20, for 64-bit 40.
struct DOCINFOW {
    int cbSize;
    LPCWSTR lpszDocName;
    LPCWSTR lpszOutput;
    LPCWSTR lpszDatatype;
    DWORD fwType;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is part of the metafile format");

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// The header record of an enhanced metafile, in its 108-byte form.
struct ENHMETAHEADER {
    DWORD iType;
    DWORD nSize;
    RECTL rclBounds;
    RECTL rclFrame;
    DWORD dSignature;
    DWORD nVersion;
    DWORD nBytes;
    DWORD nRecords;
    WORD nHandles;
    WORD sReserved;
    DWORD nDescription;
    DWORD offDescription;
    DWORD nPalEntries;
    SIZEL szlDevice;
    SIZEL szlMillimeters;
    DWORD cbPixelFormat;
    DWORD offPixelFormat;
    DWORD bOpenGL;
    SIZEL szlMicrometers;
};
static_assert(sizeof(ENHMETAHEADER) == 108, "ENHMETAHEADER is part of the metafile format");
using LPENHMETAHEADER = ENHMETAHEADER*;

// One record of an enhanced metafile as enumeration hands it out: type, size in bytes, then fields.
struct ENHMETARECORD {
    DWORD iType;
    DWORD nSize;
    DWORD dParm[1];
};

// The object table of a metafile being played.
struct HANDLETABLE {
    HGDIOBJ objectHandle[1];
};
using LPHANDLETABLE = HANDLETABLE*;

using ENHMFENUMPROC = int (*)(HDC dc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM data);

// GetDeviceCaps indices.
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;

// TECHNOLOGY answers.
constexpr int DT_RASDISPLAY = 1;
constexpr int DT_RASPRINTER = 2;
constexpr int DT_METAFILE = 5;

// Graphics modes and world-transform modification modes.
constexpr int GM_COMPATIBLE = 1;
constexpr int GM_ADVANCED = 2;
constexpr DWORD MWT_IDENTITY = 1;
constexpr DWORD MWT_LEFTMULTIPLY = 2;
constexpr DWORD MWT_RIGHTMULTIPLY = 3;
// Only in metafile records: the record's transform replaces the current one.
constexpr DWORD MWT_SET = 4;

// Layouts.
constexpr DWORD LAYOUT_RTL = 0x1;
constexpr DWORD LAYOUT_BITMAPORIENTATIONPRESERVED = 0x8;
constexpr DWORD GDI_ERROR = 0xFFFFFFFFu;

// Device-independent bitmaps.
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;
constexpr DWORD SRCCOPY = 0x00CC0020u;
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD BI_JPEG = 4;
constexpr DWORD BI_PNG = 5;

// Printer escapes.
constexpr int QUERYESCSUPPORT = 8;
constexpr int CHECKJPEGFORMAT = 4119;
constexpr int CHECKPNGFORMAT = 4120;

// GetDC of a window: there are no windows here.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// Failure answers of the print job calls.
constexpr int SP_ERROR = -1;
constexpr int SP_APPABORT = -2;
constexpr int SP_USERABORT = -3;
constexpr int SP_OUTOFDISK = -4;
constexpr int SP_OUTOFMEMORY = -5;

// Enhanced metafile record types.
constexpr DWORD EMR_HEADER = 1;
constexpr DWORD EMR_EOF = 14;
constexpr DWORD EMR_SAVEDC = 33;
constexpr DWORD EMR_RESTOREDC = 34;
constexpr DWORD EMR_SETWORLDTRANSFORM = 35;
constexpr DWORD EMR_MODIFYWORLDTRANSFORM = 36;
constexpr DWORD EMR_GDICOMMENT = 70;
constexpr DWORD EMR_STRETCHDIBITS = 81;
constexpr DWORD EMR_SETLAYOUT = 115;
constexpr DWORD ENHMETA_SIGNATURE = 0x464D4520u;

// Device contexts.

// Makes a device context for a printer of the registry, set up by the device mode (null: the
// printer's default); null for an unknown printer or a device mode the printer refuses.
HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* initData);
// Deletes a device context made by CreateDCW or CreateEnhMetaFileW.
BOOL DeleteDC(HDC dc);
// The screen's device context (window null), 96 dots per inch.
HDC GetDC(HWND window);
// Releases a device context from GetDC; 1 when released, 0 otherwise.
int ReleaseDC(HWND window, HDC dc);
// A device capability (the indices above).
int GetDeviceCaps(HDC dc, int index);

// Print jobs.

// Starts a print job; the job identifier (> 0), or SP_ERROR.
int StartDocW(HDC dc, const DOCINFOW* docInfo);
// Starts a page; > 0 on success.
int StartPage(HDC dc);
// Ends a page; > 0 on success.
int EndPage(HDC dc);
// Ends the job and hands it to the printer; > 0 on success.
int EndDoc(HDC dc);
// Discards the job; > 0 on success.
int AbortDoc(HDC dc);

// State.

// Saves the device context's state; the saved state's number (> 0), or 0.
int SaveDC(HDC dc);
// Restores a saved state: a positive number names it, a negative one counts back from the newest.
BOOL RestoreDC(HDC dc, int savedDC);
// Sets GM_COMPATIBLE or GM_ADVANCED; the previous mode, or 0.
int SetGraphicsMode(HDC dc, int mode);
// The current graphics mode, or 0.
int GetGraphicsMode(HDC dc);
// Reads the world transform.
BOOL GetWorldTransform(HDC dc, LPXFORM xform);
// Replaces the world transform (GM_ADVANCED only).
BOOL SetWorldTransform(HDC dc, const XFORM* xform);
// Changes the world transform (GM_ADVANCED only): MWT_IDENTITY, MWT_LEFTMULTIPLY or MWT_RIGHTMULTIPLY.
BOOL ModifyWorldTransform(HDC dc, const XFORM* xform, DWORD mode);
// Sets the layout; the previous layout, or GDI_ERROR.
DWORD SetLayout(HDC dc, DWORD layout);
// The current layout, or GDI_ERROR.
DWORD GetLayout(HDC dc);

// Drawing.

// Draws a rectangle of a device-independent bitmap stretched into a destination rectangle
// (logical units); the number of scan lines drawn, or 0.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* bitmapInfo, UINT usage, DWORD rop);
// Writes a comment; recorded into a metafile, ignored elsewhere.
BOOL GdiComment(HDC dc, UINT size, const BYTE* data);
// A printer escape: QUERYESCSUPPORT, CHECKJPEGFORMAT, CHECKPNGFORMAT. > 0 on success, 0 when the
// escape is not known, < 0 on failure.
int ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output);

// Enhanced metafiles.

// Starts a recording (reference device: the given one, or the screen), in memory or into a file.
HDC CreateEnhMetaFileW(HDC reference, LPCWSTR fileName, const RECT* frame, LPCWSTR description);
// Ends a recording; its metafile, or null.
HENHMETAFILE CloseEnhMetaFile(HDC dc);
// Opens a metafile file.
HENHMETAFILE GetEnhMetaFileW(LPCWSTR fileName);
// Makes a metafile from its bytes.
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data);
// Copies a metafile's bytes; with data null, its size.
UINT GetEnhMetaFileBits(HENHMETAFILE metafile, UINT size, LPBYTE data);
// Copies up to size bytes of a metafile's header; with header null, the header's size.
UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, UINT size, LPENHMETAHEADER header);
// Deletes a metafile handle (a file behind it stays).
BOOL DeleteEnhMetaFile(HENHMETAFILE metafile);
// Calls `callback` for each record, playing them onto dc (which may be null) mapped into `rect`.
BOOL EnumEnhMetaFile(HDC dc, HENHMETAFILE metafile, ENHMFENUMPROC callback, LPVOID data, const RECT* rect);
// Plays one record onto a device context.
BOOL PlayEnhMetaFileRecord(HDC dc, LPHANDLETABLE table, const ENHMETARECORD* record, UINT objects);
// Plays a whole metafile onto a device context, mapped into `rect`.
BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE metafile, const RECT* rect);

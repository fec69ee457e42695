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
using HPEN = struct HPEN__*;
using HBRUSH = struct HBRUSH__*;
using HFONT = struct HFONT__*;
using HBITMAP = struct HBITMAP__*;
using COLORREF = DWORD;
using ULONG_PTR = std::uintptr_t;
using LPPOINT = POINT*;

// A colour as GDI packs it: red in the low byte, then green, then blue.
constexpr COLORREF RGB(BYTE red, BYTE green, BYTE blue)
{
    return static_cast<COLORREF>(red) | static_cast<COLORREF>(green) << 8 | static_cast<COLORREF>(blue) << 16;
}
constexpr BYTE GetRValue(COLORREF color)
{
    return static_cast<BYTE>(color);
}
constexpr BYTE GetGValue(COLORREF color)
{
    return static_cast<BYTE>(color >> 8);
}
constexpr BYTE GetBValue(COLORREF color)
{
    return static_cast<BYTE>(color >> 16);
}

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

// A brush as pens and CreateBrushIndirect describe it.
struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
};

constexpr int LF_FACESIZE = 32;

// A logical font. Heights are in logical units: negative, the em height; positive, the cell height.
struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW is part of the metafile format");

// How AlphaBlend combines its source with the destination.
struct BLENDFUNCTION {
    BYTE BlendOp;
    BYTE BlendFlags;
    BYTE SourceConstantAlpha;
    BYTE AlphaFormat;
};

// A vertex of GradientFill: its position (logical units) and its colour, 16 bits a channel.
struct TRIVERTEX {
    LONG x;
    LONG y;
    USHORT Red;
    USHORT Green;
    USHORT Blue;
    USHORT Alpha;
};
static_assert(sizeof(TRIVERTEX) == 16, "TRIVERTEX is part of the metafile format");
using PTRIVERTEX = TRIVERTEX*;

// A triangle of GradientFill (GRADIENT_FILL_TRIANGLE): three indices into its vertices.
struct GRADIENT_TRIANGLE {
    ULONG Vertex1;
    ULONG Vertex2;
    ULONG Vertex3;
};

// A rectangle of GradientFill (GRADIENT_FILL_RECT_H and _V): the indices of its upper-left and
// lower-right vertices.
struct GRADIENT_RECT {
    ULONG UpperLeft;
    ULONG LowerRight;
};

// The text a glyph of a private font stands for, so that printed text can be found again: up to
// four UTF-16 units (a ligature such as "ffi" stands for three).
struct FONTGLYPHTEXT {
    WORD glyph;
    WORD length;
    WCHAR text[4];
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

// Stock objects (GetStockObject).
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;

// Brush styles.
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;

// Pen styles (ExtCreatePen): the type, the dash style, the end caps and the joins are or-ed.
constexpr DWORD PS_SOLID = 0;
constexpr DWORD PS_NULL = 5;
constexpr DWORD PS_USERSTYLE = 7;
constexpr DWORD PS_STYLE_MASK = 0x0000000F;
constexpr DWORD PS_ENDCAP_ROUND = 0x00000000;
constexpr DWORD PS_ENDCAP_SQUARE = 0x00000100;
constexpr DWORD PS_ENDCAP_FLAT = 0x00000200;
constexpr DWORD PS_ENDCAP_MASK = 0x00000F00;
constexpr DWORD PS_JOIN_ROUND = 0x00000000;
constexpr DWORD PS_JOIN_BEVEL = 0x00001000;
constexpr DWORD PS_JOIN_MITER = 0x00002000;
constexpr DWORD PS_JOIN_MASK = 0x0000F000;
constexpr DWORD PS_COSMETIC = 0x00000000;
constexpr DWORD PS_GEOMETRIC = 0x00010000;
constexpr DWORD PS_TYPE_MASK = 0x000F0000;

// Polygon fill modes.
constexpr int ALTERNATE = 1; // even-odd
constexpr int WINDING = 2;   // nonzero
// How StretchDIBits and AlphaBlend stretch a picture: BLACKONWHITE (the default), WHITEONBLACK and
// COLORONCOLOR show its pixels as they are, HALFTONE smooths what it enlarges.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Text alignment (SetTextAlign): where the reference point lies on the text, horizontally
// (left, right, centre) and vertically (the cell's top, its bottom, the baseline); with
// TA_UPDATECP the text starts at the current position and moves it.
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_NOUPDATECP = 0;
constexpr UINT TA_UPDATECP = 1;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
constexpr UINT TA_RTLREADING = 256;

// ExtTextOutW options: the rectangle filled with the background colour first, the glyphs cut to
// the rectangle, glyph indices instead of characters, an x and a y advance per glyph.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
constexpr UINT ETO_GLYPH_INDEX = 0x0010;
constexpr UINT ETO_PDY = 0x2000;

// Clip region combinations.
constexpr int RGN_AND = 1;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;

// AlphaBlend.
constexpr BYTE AC_SRC_OVER = 0x00;
constexpr BYTE AC_SRC_ALPHA = 0x01;

// GradientFill: rectangles whose colour runs from left to right, or top to bottom; triangles.
constexpr ULONG GRADIENT_FILL_RECT_H = 0x00;
constexpr ULONG GRADIENT_FILL_RECT_V = 0x01;
constexpr ULONG GRADIENT_FILL_TRIANGLE = 0x02;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
constexpr DWORD FW_NORMAL = 400;

// Enhanced metafile record types.
constexpr DWORD EMR_HEADER = 1;
constexpr DWORD EMR_POLYBEZIERTO = 5;
constexpr DWORD EMR_POLYLINETO = 6;
constexpr DWORD EMR_EOF = 14;
constexpr DWORD EMR_SETBKMODE = 18;
constexpr DWORD EMR_SETPOLYFILLMODE = 19;
constexpr DWORD EMR_SETSTRETCHBLTMODE = 21;
constexpr DWORD EMR_SETTEXTALIGN = 22;
constexpr DWORD EMR_SETTEXTCOLOR = 24;
constexpr DWORD EMR_MOVETOEX = 27;
constexpr DWORD EMR_SAVEDC = 33;
constexpr DWORD EMR_RESTOREDC = 34;
constexpr DWORD EMR_SETWORLDTRANSFORM = 35;
constexpr DWORD EMR_MODIFYWORLDTRANSFORM = 36;
constexpr DWORD EMR_SELECTOBJECT = 37;
constexpr DWORD EMR_CREATEBRUSHINDIRECT = 39;
constexpr DWORD EMR_DELETEOBJECT = 40;
constexpr DWORD EMR_LINETO = 54;
constexpr DWORD EMR_SETMITERLIMIT = 58;
constexpr DWORD EMR_BEGINPATH = 59;
constexpr DWORD EMR_ENDPATH = 60;
constexpr DWORD EMR_CLOSEFIGURE = 61;
constexpr DWORD EMR_FILLPATH = 62;
constexpr DWORD EMR_STROKEANDFILLPATH = 63;
constexpr DWORD EMR_STROKEPATH = 64;
constexpr DWORD EMR_SELECTCLIPPATH = 67;
constexpr DWORD EMR_ABORTPATH = 68;
constexpr DWORD EMR_GDICOMMENT = 70;
constexpr DWORD EMR_STRETCHDIBITS = 81;
constexpr DWORD EMR_EXTCREATEFONTINDIRECTW = 82;
constexpr DWORD EMR_EXTTEXTOUTW = 84;
constexpr DWORD EMR_POLYBEZIERTO16 = 88;
constexpr DWORD EMR_POLYLINETO16 = 89;
constexpr DWORD EMR_EXTCREATEPEN = 95;
constexpr DWORD EMR_ALPHABLEND = 114;
constexpr DWORD EMR_SETLAYOUT = 115;
constexpr DWORD EMR_GRADIENTFILL = 118;
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
// Draws a rectangle of the bitmap selected into `source` (a memory device context) stretched
// into a destination rectangle, blended by `blend`: a constant alpha, and with AC_SRC_ALPHA the
// bitmap's own per-pixel alpha (32-bit pixels, colours premultiplied).
BOOL AlphaBlend(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC source, int xSrc, int ySrc,
                int srcWidth, int srcHeight, BLENDFUNCTION blend);
// Fills `meshCount` triangles (GRADIENT_FILL_TRIANGLE: GRADIENT_TRIANGLE) or rectangles
// (GRADIENT_FILL_RECT_H or _V: GRADIENT_RECT) given by indices into `vertexCount` vertices, their
// colours interpolated between the vertices' (the vertices' alpha is not used).
BOOL GradientFill(HDC dc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount, ULONG mode);
// Writes a comment; recorded into a metafile, ignored elsewhere.
BOOL GdiComment(HDC dc, UINT size, const BYTE* data);
// A printer escape: QUERYESCSUPPORT, CHECKJPEGFORMAT, CHECKPNGFORMAT. > 0 on success, 0 when the
// escape is not known, < 0 on failure.
int ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output);

// Memory device contexts and bitmaps.

// A memory device context like `dc` (null: like the screen), holding a 1 x 1 bitmap until one is selected.
HDC CreateCompatibleDC(HDC dc);
// A device-independent bitmap whose pixels the caller writes at *bits (top-down when biHeight < 0).
// `section` must be null: bitmaps are never backed by a file mapping here.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);

// GDI objects: pens, brushes, fonts, bitmaps.

// A geometric or cosmetic pen: width in logical units, style with end caps, joins and dashes
// (PS_USERSTYLE: `styleCount` lengths, dash first, in logical units).
HPEN ExtCreatePen(DWORD penStyle, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* style);
HBRUSH CreateSolidBrush(COLORREF color);
// A font. Its face name must name a font this process registered (AddFontMemResourceWithTextW).
HFONT CreateFontIndirectW(const LOGFONTW* font);
HGDIOBJ GetStockObject(int index);
// Selects a pen, brush, font or bitmap into a device context; the object it replaces, or null.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Deletes a pen, brush, font or bitmap; stock objects stay.
BOOL DeleteObject(HGDIOBJ object);

// Drawing attributes. Each answers the previous value (on failure: 0, CLR_INVALID for a colour,
// GDI_ERROR for an alignment).
int SetPolyFillMode(HDC dc, int mode);
int SetStretchBltMode(HDC dc, int mode);
BOOL SetMiterLimit(HDC dc, FLOAT limit, FLOAT* old);
COLORREF SetTextColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
UINT SetTextAlign(HDC dc, UINT align);

// Paths. Points are logical units; a figure is started by MoveToEx inside the bracket.
BOOL BeginPath(HDC dc);
BOOL EndPath(HDC dc);
BOOL AbortPath(HDC dc);
BOOL CloseFigure(HDC dc);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL PolylineTo(HDC dc, const POINT* points, DWORD count);
// Cubic Bezier curves from the current position: three points each (two controls, an end).
BOOL PolyBezierTo(HDC dc, const POINT* points, DWORD count);
// Fills, strokes, or both, the closed path, which is then gone.
BOOL FillPath(HDC dc);
BOOL StrokePath(HDC dc);
BOOL StrokeAndFillPath(HDC dc);
// Combines the closed path with the clip region (RGN_AND: intersects, RGN_DIFF: takes the path's
// area out of it, the area counted by the even-odd rule whatever the fill mode, RGN_COPY: replaces).
BOOL SelectClipPath(HDC dc, int mode);

// Text: with ETO_GLYPH_INDEX `text` holds glyph indices of the selected font, else characters its
// character map turns into glyphs; `dx` gives each glyph's advance in logical units along the
// baseline (with ETO_PDY, an advance along the baseline and one perpendicular to it, positive
// upwards as a font's design space counts), or is null for the font's own advances. Inside a path
// bracket the glyphs' outlines are added to the path. Fails with ERROR_NOT_FOUND when the selected
// font's face is not one this process registered.
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx);

// Private fonts, this platform's own call in the manner of AddFontMemResourceEx: registers the font
// program of `size` bytes at `data` (TrueType, OpenType, CFF or Type 1) for the life of the process
// under a face name of its own, written to `faceName` (LF_FACESIZE units). The name cannot collide
// with a document's font names, and the same program with the same texts always gets the same name
// in the process, so a metafile naming it plays back in the same process. `texts` (may be null)
// tells what glyphs stand for, for printers that keep text searchable (each glyph's first entry
// counts; an entry that is not well-formed UTF-16 or holds a zero is left out). Null with the last
// error set: ERROR_INVALID_DATA when the program cannot be read as a scalable font,
// ERROR_INVALID_PARAMETER for an entry longer than four units. The handle needs no releasing.
HANDLE AddFontMemResourceWithTextW(const void* data, DWORD size, const FONTGLYPHTEXT* texts, DWORD textCount,
                                   LPWSTR faceName);

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

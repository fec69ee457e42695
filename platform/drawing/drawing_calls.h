// The GDI and GDI+ calls that live in the drawing library, libquillon_gdi.so (cairo, gdk-pixbuf,
// FreeType, libjpeg, libpng), listed once. The platform library answers each call with a stand-in
// that loads the drawing library on the first call and forwards to it, as a Windows program
// delay-loads a DLL: a process that never draws, such as a capabilities query, never loads the
// drawing libraries. The drawing library hands out its table of the real calls (DrawingCalls).
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"

// X(return type, name, parameters, arguments, the answer when the drawing library cannot be loaded)
#define QUILLON_GDI_CALLS(X)                                                                                           \
    X(HDC, CreateDCW, (LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* initData),                      \
      (driver, device, output, initData), nullptr)                                                                     \
    X(BOOL, DeleteDC, (HDC dc), (dc), FALSE)                                                                           \
    X(HDC, GetDC, (HWND window), (window), nullptr)                                                                    \
    X(int, ReleaseDC, (HWND window, HDC dc), (window, dc), 0)                                                          \
    X(int, GetDeviceCaps, (HDC dc, int index), (dc, index), 0)                                                         \
    X(int, StartDocW, (HDC dc, const DOCINFOW* docInfo), (dc, docInfo), 0)                                             \
    X(int, StartPage, (HDC dc), (dc), 0)                                                                               \
    X(int, EndPage, (HDC dc), (dc), 0)                                                                                 \
    X(int, EndDoc, (HDC dc), (dc), 0)                                                                                  \
    X(int, AbortDoc, (HDC dc), (dc), 0)                                                                                \
    X(int, SaveDC, (HDC dc), (dc), 0)                                                                                  \
    X(BOOL, RestoreDC, (HDC dc, int savedDC), (dc, savedDC), FALSE)                                                    \
    X(int, SetGraphicsMode, (HDC dc, int mode), (dc, mode), 0)                                                         \
    X(int, GetGraphicsMode, (HDC dc), (dc), 0)                                                                         \
    X(BOOL, GetWorldTransform, (HDC dc, LPXFORM xform), (dc, xform), FALSE)                                            \
    X(BOOL, SetWorldTransform, (HDC dc, const XFORM* xform), (dc, xform), FALSE)                                       \
    X(BOOL, ModifyWorldTransform, (HDC dc, const XFORM* xform, DWORD mode), (dc, xform, mode), FALSE)                  \
    X(DWORD, SetLayout, (HDC dc, DWORD layout), (dc, layout), GDI_ERROR)                                               \
    X(DWORD, GetLayout, (HDC dc), (dc), GDI_ERROR)                                                                     \
    X(int, StretchDIBits,                                                                                              \
      (HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth, int srcHeight,   \
       const void* bits, const BITMAPINFO* bitmapInfo, UINT usage, DWORD rop),                                         \
      (dc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits, bitmapInfo, usage, rop), 0)     \
    X(BOOL, AlphaBlend,                                                                                                \
      (HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC source, int xSrc, int ySrc, int srcWidth,    \
       int srcHeight, BLENDFUNCTION blend),                                                                            \
      (dest, xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight, blend), FALSE)              \
    X(BOOL, GradientFill,                                                                                              \
      (HDC dc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount, ULONG mode),           \
      (dc, vertices, vertexCount, mesh, meshCount, mode), FALSE)                                                       \
    X(BOOL, GdiComment, (HDC dc, UINT size, const BYTE* data), (dc, size, data), FALSE)                                \
    X(int, ExtEscape, (HDC dc, int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output),                 \
      (dc, escape, inputSize, input, outputSize, output), -1)                                                          \
    X(HDC, CreateCompatibleDC, (HDC dc), (dc), nullptr)                                                                \
    X(HBITMAP, CreateDIBSection,                                                                                       \
      (HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset),                         \
      (dc, info, usage, bits, section, offset), nullptr)                                                               \
    X(HPEN, ExtCreatePen, (DWORD penStyle, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* style),  \
      (penStyle, width, brush, styleCount, style), nullptr)                                                            \
    X(HBRUSH, CreateSolidBrush, (COLORREF color), (color), nullptr)                                                    \
    X(HFONT, CreateFontIndirectW, (const LOGFONTW* font), (font), nullptr)                                             \
    X(HGDIOBJ, GetStockObject, (int index), (index), nullptr)                                                          \
    X(HGDIOBJ, SelectObject, (HDC dc, HGDIOBJ object), (dc, object), nullptr)                                          \
    X(BOOL, DeleteObject, (HGDIOBJ object), (object), FALSE)                                                           \
    X(int, SetPolyFillMode, (HDC dc, int mode), (dc, mode), 0)                                                         \
    X(int, SetStretchBltMode, (HDC dc, int mode), (dc, mode), 0)                                                       \
    X(BOOL, SetMiterLimit, (HDC dc, FLOAT limit, FLOAT * old), (dc, limit, old), FALSE)                                \
    X(COLORREF, SetTextColor, (HDC dc, COLORREF color), (dc, color), CLR_INVALID)                                      \
    X(int, SetBkMode, (HDC dc, int mode), (dc, mode), 0)                                                               \
    X(UINT, SetTextAlign, (HDC dc, UINT align), (dc, align), GDI_ERROR)                                                \
    X(BOOL, BeginPath, (HDC dc), (dc), FALSE)                                                                          \
    X(BOOL, EndPath, (HDC dc), (dc), FALSE)                                                                            \
    X(BOOL, AbortPath, (HDC dc), (dc), FALSE)                                                                          \
    X(BOOL, CloseFigure, (HDC dc), (dc), FALSE)                                                                        \
    X(BOOL, MoveToEx, (HDC dc, int x, int y, LPPOINT previous), (dc, x, y, previous), FALSE)                           \
    X(BOOL, LineTo, (HDC dc, int x, int y), (dc, x, y), FALSE)                                                         \
    X(BOOL, PolylineTo, (HDC dc, const POINT* points, DWORD count), (dc, points, count), FALSE)                        \
    X(BOOL, PolyBezierTo, (HDC dc, const POINT* points, DWORD count), (dc, points, count), FALSE)                      \
    X(BOOL, FillPath, (HDC dc), (dc), FALSE)                                                                           \
    X(BOOL, StrokePath, (HDC dc), (dc), FALSE)                                                                         \
    X(BOOL, StrokeAndFillPath, (HDC dc), (dc), FALSE)                                                                  \
    X(BOOL, SelectClipPath, (HDC dc, int mode), (dc, mode), FALSE)                                                     \
    X(BOOL, ExtTextOutW,                                                                                               \
      (HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx),                 \
      (dc, x, y, options, rect, text, count, dx), FALSE)                                                               \
    X(HANDLE, AddFontMemResourceWithTextW,                                                                             \
      (const void* data, DWORD size, const FONTGLYPHTEXT* texts, DWORD textCount, LPWSTR faceName),                    \
      (data, size, texts, textCount, faceName), nullptr)                                                               \
    X(HDC, CreateEnhMetaFileW, (HDC reference, LPCWSTR fileName, const RECT* frame, LPCWSTR description),              \
      (reference, fileName, frame, description), nullptr)                                                              \
    X(HENHMETAFILE, CloseEnhMetaFile, (HDC dc), (dc), nullptr)                                                         \
    X(HENHMETAFILE, GetEnhMetaFileW, (LPCWSTR fileName), (fileName), nullptr)                                          \
    X(HENHMETAFILE, SetEnhMetaFileBits, (UINT size, const BYTE* data), (size, data), nullptr)                          \
    X(UINT, GetEnhMetaFileBits, (HENHMETAFILE metafile, UINT size, LPBYTE data), (metafile, size, data), 0)            \
    X(UINT, GetEnhMetaFileHeader, (HENHMETAFILE metafile, UINT size, LPENHMETAHEADER header),                          \
      (metafile, size, header), 0)                                                                                     \
    X(BOOL, DeleteEnhMetaFile, (HENHMETAFILE metafile), (metafile), FALSE)                                             \
    X(BOOL, EnumEnhMetaFile, (HDC dc, HENHMETAFILE metafile, ENHMFENUMPROC callback, LPVOID data, const RECT* rect),   \
      (dc, metafile, callback, data, rect), FALSE)                                                                     \
    X(BOOL, PlayEnhMetaFileRecord, (HDC dc, LPHANDLETABLE table, const ENHMETARECORD* record, UINT objects),           \
      (dc, table, record, objects), FALSE)                                                                             \
    X(BOOL, PlayEnhMetaFile, (HDC dc, HENHMETAFILE metafile, const RECT* rect), (dc, metafile, rect), FALSE)

#define QUILLON_GDIPLUS_CALLS(X)                                                                                       \
    X(Status, GdiplusStartup, (ULONG_PTR * token, const GdiplusStartupInput* input, GdiplusStartupOutput* output),     \
      (token, input, output), Win32Error)                                                                              \
    X(void, GdiplusShutdown, (ULONG_PTR token), (token), void())

#define QUILLON_GDIPLUS_FLAT_CALLS(X)                                                                                  \
    X(GpStatus, GdipCreateBitmapFromGdiDib, (const BITMAPINFO* gdiBitmapInfo, void* gdiBitmapData, GpBitmap** bitmap), \
      (gdiBitmapInfo, gdiBitmapData, bitmap), Win32Error)                                                              \
    X(GpStatus, GdipCreateBitmapFromFile, (const WCHAR* filename, GpBitmap** bitmap), (filename, bitmap), Win32Error)  \
    X(GpStatus, GdipGetImageWidth, (GpImage * image, UINT * width), (image, width), Win32Error)                        \
    X(GpStatus, GdipGetImageHeight, (GpImage * image, UINT * height), (image, height), Win32Error)                     \
    X(GpStatus, GdipBitmapLockBits,                                                                                    \
      (GpBitmap * bitmap, const GpRect* rect, UINT flags, PixelFormat format, BitmapData* lockedBitmapData),           \
      (bitmap, rect, flags, format, lockedBitmapData), Win32Error)                                                     \
    X(GpStatus, GdipBitmapUnlockBits, (GpBitmap * bitmap, BitmapData * lockedBitmapData), (bitmap, lockedBitmapData),  \
      Win32Error)                                                                                                      \
    X(GpStatus, GdipDisposeImage, (GpImage * image), (image), Win32Error)                                              \
    X(GpStatus, GdipCreateFromHDC2, (HDC hdc, HANDLE hDevice, GpGraphics * *graphics), (hdc, hDevice, graphics),       \
      Win32Error)                                                                                                      \
    X(GpStatus, GdipTranslateWorldTransform, (GpGraphics * graphics, REAL dx, REAL dy, GpMatrixOrder order),           \
      (graphics, dx, dy, order), Win32Error)                                                                           \
    X(GpStatus, GdipRotateWorldTransform, (GpGraphics * graphics, REAL angle, GpMatrixOrder order),                    \
      (graphics, angle, order), Win32Error)                                                                            \
    X(GpStatus, GdipDrawImageRectRect,                                                                                 \
      (GpGraphics * graphics, GpImage * image, REAL dstx, REAL dsty, REAL dstwidth, REAL dstheight, REAL srcx,         \
       REAL srcy, REAL srcwidth, REAL srcheight, GpUnit srcUnit, const GpImageAttributes* imageAttributes,             \
       DrawImageAbort callback, void* callbackData),                                                                   \
      (graphics, image, dstx, dsty, dstwidth, dstheight, srcx, srcy, srcwidth, srcheight, srcUnit, imageAttributes,    \
       callback, callbackData),                                                                                        \
      Win32Error)                                                                                                      \
    X(GpStatus, GdipFlush, (GpGraphics * graphics, GpFlushIntention intention), (graphics, intention), Win32Error)     \
    X(GpStatus, GdipDeleteGraphics, (GpGraphics * graphics), (graphics), Win32Error)
namespace platform::gdi {
namespace drawing_call_types {
// The GDI+ calls' types are named as in their own namespace.
using namespace ::Gdiplus;

#define QUILLON_DRAWING_CALL_POINTER(type, name, params, args, failure) type(*name) params;

// The drawing library's calls, in the order of the lists above.
struct DrawingCalls {
    QUILLON_GDI_CALLS(QUILLON_DRAWING_CALL_POINTER)
    QUILLON_GDIPLUS_CALLS(QUILLON_DRAWING_CALL_POINTER)
    QUILLON_GDIPLUS_FLAT_CALLS(QUILLON_DRAWING_CALL_POINTER)
};

#undef QUILLON_DRAWING_CALL_POINTER
} // namespace drawing_call_types

using drawing_call_types::DrawingCalls;

// The drawing library's entry: answers its table of calls.
inline constexpr const char* kDrawingLibrary = "libquillon_gdi.so";
inline constexpr const char* kDrawingCallsEntry = "QuillonDrawingCalls";

} // namespace platform::gdi

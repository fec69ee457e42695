// The GDI+ flat API as the tool calls it: start-up and shut-down; bitmaps made from picture files
// and from device-independent bitmaps (JPEG and PNG bits included), their size, and their pixels
// locked for reading; graphics on a device context with a world transform, drawing bitmaps.
// GDI+ objects are handles of the platform's object table, never pointers to follow.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>

using ULONG_PTR = std::uintptr_t;

namespace Gdiplus {

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
    ProfileNotFound = 21,
};
using GpStatus = Status;

enum DebugEventLevel { DebugEventLevelFatal, DebugEventLevelWarning };
using DebugEventProc = void (*)(DebugEventLevel level, char* message);
using NotificationHookProc = Status (*)(ULONG_PTR* token);
using NotificationUnhookProc = void (*)(ULONG_PTR token);

struct GdiplusStartupInput {
    std::uint32_t GdiplusVersion = 1;
    DebugEventProc DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};

// With SuppressBackgroundThread the caller hooks and unhooks its notifications through these.
struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;
};

// Starts GDI+ (versions 1 to 3); every start gets its own token. Starts are counted: GDI+ works
// until as many shut-downs as starts have been made.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
// Ends the start of this token; an unknown token is ignored.
void GdiplusShutdown(ULONG_PTR token);

using REAL = float;

// The units coordinates are given in. On a printer, UnitDisplay is a hundredth of an inch; on the
// screen, a pixel.
enum Unit {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};
using GpUnit = Unit;

// Prepend: the new transform applies to a point before the current one; Append: after it.
enum MatrixOrder {
    MatrixOrderPrepend = 0,
    MatrixOrderAppend = 1,
};
using GpMatrixOrder = MatrixOrder;

enum FlushIntention {
    FlushIntentionFlush = 0,
    FlushIntentionSync = 1,
};
using GpFlushIntention = FlushIntention;

// Called while a picture is drawn; TRUE stops the drawing.
using DrawImageAbort = BOOL (*)(void* data);

struct RectF {
    REAL X;
    REAL Y;
    REAL Width;
    REAL Height;
};

using PixelFormat = INT;
constexpr PixelFormat PixelFormat24bppRGB = 0x00021808;
constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;
constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A;

enum ImageLockMode {
    ImageLockModeRead = 0x0001,
    ImageLockModeWrite = 0x0002,
    ImageLockModeUserInputBuf = 0x0004,
};

struct Rect {
    INT X;
    INT Y;
    INT Width;
    INT Height;
};
using GpRect = Rect;

class BitmapData {
public:
    UINT Width;
    UINT Height;
    INT Stride;
    ::Gdiplus::PixelFormat PixelFormat;
    void* Scan0;
    UINT_PTR Reserved;
};

// Object types without members: values of these pointer types are handles, and a bitmap is an
// image, so a GpBitmap* is passed wherever a GpImage* is asked for.
class GpImage {};
class GpBitmap : public GpImage {};
class GpGraphics {};
class GpImageAttributes {};

namespace DllExports {
extern "C" {

// A bitmap of a device-independent bitmap: uncompressed 24- or 32-bit rows, or JPEG or PNG bits
// (biSizeImage bytes), decoded. InvalidParameter for bits that are none of these.
GpStatus GdipCreateBitmapFromGdiDib(const BITMAPINFO* gdiBitmapInfo, void* gdiBitmapData, GpBitmap** bitmap);
// A bitmap of a JPEG, PNG, BMP, TIFF or GIF file (a GIF's first frame, a TIFF's first page), the
// turn of its orientation tag taken: its width and height are those after the turn. A JPEG is
// checked whole here and decoded when its pixels are first needed. FileNotFound or Win32Error
// (last error set) when the file cannot be read; UnknownImageFormat for other files;
// InvalidParameter for a damaged or cut-off picture; ValueOverflow beyond the picture limits.
GpStatus GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap);
GpStatus GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus GdipGetImageHeight(GpImage* image, UINT* height);
// Locks a rectangle of a bitmap's pixels for reading, as PixelFormat32bppRGB (the fourth byte
// 0xFF) or PixelFormat32bppARGB (straight alpha), into GDI+'s buffer or, with
// ImageLockModeUserInputBuf, into the caller's (Scan0, Stride). Write access is not offered
// (NotImplemented), nor other pixel formats. One lock at a time (WrongState).
GpStatus GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags, PixelFormat format,
                            BitmapData* lockedBitmapData);
GpStatus GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedBitmapData);
GpStatus GdipDisposeImage(GpImage* image);

// Graphics on a printer's or the screen's device context (NotImplemented for a metafile's). The
// page unit is UnitDisplay and the origin that of the device: a printer's printable area's corner.
// Drawing lands in the device context's logical units, its own transform applying after GDI+'s.
// The device handle is not needed and may be null.
GpStatus GdipCreateFromHDC2(HDC hdc, HANDLE hDevice, GpGraphics** graphics);
GpStatus GdipTranslateWorldTransform(GpGraphics* graphics, REAL dx, REAL dy, GpMatrixOrder order);
// Turns by `angle` degrees, clockwise on a device whose y axis points down.
GpStatus GdipRotateWorldTransform(GpGraphics* graphics, REAL angle, GpMatrixOrder order);
// Draws the source rectangle of a picture (UnitPixel only, in the picture as seen) into the
// destination rectangle (world units); the part of the source beyond the picture is left out.
// Image attributes are not offered (NotImplemented). A callback answering TRUE stops the drawing
// (Aborted).
GpStatus GdipDrawImageRectRect(GpGraphics* graphics, GpImage* image, REAL dstx, REAL dsty, REAL dstwidth,
                               REAL dstheight, REAL srcx, REAL srcy, REAL srcwidth, REAL srcheight, GpUnit srcUnit,
                               const GpImageAttributes* imageAttributes, DrawImageAbort callback, void* callbackData);
// Drawing is done when each call returns: there is nothing to wait for.
GpStatus GdipFlush(GpGraphics* graphics, GpFlushIntention intention);
GpStatus GdipDeleteGraphics(GpGraphics* graphics);

} // extern "C"
} // namespace DllExports

} // namespace Gdiplus

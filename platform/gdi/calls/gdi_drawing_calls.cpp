// The GDI calls of vector drawing: objects, drawing attributes, paths, lines and the clip. Each
// checks its handles and arguments, then hands the work to the device context behind the handle.
#include "platform/gdi/gdi.h"

#include "platform/gdi/calls/call_support.h"
#include "platform/gdi/context/gdi_objects.h"
#include "platform/gdi/devices/devices.h"
#include "platform/gdi/fonts/private_fonts.h"
#include "platform/gdi/metafile/emf_recorder.h"

#include <algorithm>

namespace {

using platform::gdi::DeviceContext;
using platform::gdi::FindDc;
using platform::gdi::GdiObject;
using platform::gdi::Guarded;
using platform::gdi::OnDc;

// A handle for a new object, or null with the last error set.
template <typename Handle, typename Made>
Handle Added(std::optional<Made> made)
{
    if (!made)
        return nullptr;
    return Guarded<Handle>(nullptr, [&] {
        return static_cast<Handle>(platform::gdi::AddGdiObject(std::make_shared<GdiObject>(std::move(*made))));
    });
}

} // namespace

HPEN ExtCreatePen(DWORD penStyle, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* style)
{
    if (!brush || (styleCount > 0 && !style)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Added<HPEN>(platform::gdi::MakePen(penStyle, width, *brush, std::span<const DWORD>(style, styleCount)));
}

HBRUSH CreateSolidBrush(COLORREF color)
{
    return Added<HBRUSH>(platform::gdi::MakeBrush(LOGBRUSH{BS_SOLID, color, 0}));
}

HFONT CreateFontIndirectW(const LOGFONTW* font)
{
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A face nobody registered is taken, as Windows takes it; drawing with it fails.
    return Added<HFONT>(std::optional<platform::gdi::Font>(platform::gdi::Font{*font}));
}

HGDIOBJ GetStockObject(int index)
{
    const std::shared_ptr<GdiObject> object
        = Guarded<std::shared_ptr<GdiObject>>(nullptr, [&] { return platform::gdi::StockObject(index); });
    if (!object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return object->Handle();
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object)
{
    const std::shared_ptr<DeviceContext> context = FindDc(dc);
    if (!context)
        return nullptr;
    const std::shared_ptr<GdiObject> found = platform::gdi::FindGdiObject(object);
    if (!found)
        return nullptr;
    return Guarded<HGDIOBJ>(nullptr, [&] { return context->SelectObject(found); });
}

BOOL DeleteObject(HGDIOBJ object)
{
    const std::shared_ptr<GdiObject> found = platform::gdi::FindGdiObject(object);
    if (!found)
        return FALSE;
    // Stock objects stay; deleting one is harmless.
    if (found->IsStock())
        return TRUE;
    platform::RemoveObject<GdiObject>(object);
    return Guarded(FALSE, [&] {
        platform::gdi::EmfRecorder::ObjectDeleted(object);
        return TRUE;
    });
}

int SetPolyFillMode(HDC dc, int mode)
{
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.SetPolyFillMode(mode); });
}

int SetStretchBltMode(HDC dc, int mode)
{
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.SetStretchBltMode(mode); });
}

BOOL SetMiterLimit(HDC dc, FLOAT limit, FLOAT* old)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.SetMiterLimit(limit, old) ? TRUE : FALSE; });
}

COLORREF SetTextColor(HDC dc, COLORREF color)
{
    return OnDc(dc, CLR_INVALID, [&](DeviceContext& context) { return context.SetTextColor(color); });
}

int SetBkMode(HDC dc, int mode)
{
    return OnDc(dc, 0, [&](DeviceContext& context) { return context.SetBkMode(mode); });
}

UINT SetTextAlign(HDC dc, UINT align)
{
    return OnDc(dc, static_cast<UINT>(GDI_ERROR), [&](DeviceContext& context) { return context.SetTextAlign(align); });
}

BOOL BeginPath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.BeginPath() ? TRUE : FALSE; });
}

BOOL EndPath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.EndPath() ? TRUE : FALSE; });
}

BOOL AbortPath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.AbortPath() ? TRUE : FALSE; });
}

BOOL CloseFigure(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.CloseFigure() ? TRUE : FALSE; });
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.MoveTo(x, y, previous) ? TRUE : FALSE; });
}

BOOL LineTo(HDC dc, int x, int y)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.LineTo(x, y) ? TRUE : FALSE; });
}

BOOL PolylineTo(HDC dc, const POINT* points, DWORD count)
{
    if (count > 0 && !points) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return OnDc(dc, FALSE, [&](DeviceContext& context) {
        return context.PolylineTo(std::span<const POINT>(points, count)) ? TRUE : FALSE;
    });
}

BOOL PolyBezierTo(HDC dc, const POINT* points, DWORD count)
{
    if (count > 0 && !points) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return OnDc(dc, FALSE, [&](DeviceContext& context) {
        return context.PolyBezierTo(std::span<const POINT>(points, count)) ? TRUE : FALSE;
    });
}

BOOL FillPath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.FillPath() ? TRUE : FALSE; });
}

BOOL StrokePath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.StrokePath() ? TRUE : FALSE; });
}

BOOL StrokeAndFillPath(HDC dc)
{
    return OnDc(dc, FALSE, [](DeviceContext& context) { return context.StrokeAndFillPath() ? TRUE : FALSE; });
}

BOOL SelectClipPath(HDC dc, int mode)
{
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.SelectClipPath(mode) ? TRUE : FALSE; });
}

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx)
{
    if (count > 0 && !text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::gdi::TextCall call;
    call.x = x;
    call.y = y;
    call.options = options;
    call.rect = rect;
    call.text = std::span<const WCHAR>(text, count);
    call.dx = dx;
    return OnDc(dc, FALSE, [&](DeviceContext& context) { return context.ExtTextOut(call) ? TRUE : FALSE; });
}

HANDLE AddFontMemResourceWithTextW(const void* data, DWORD size, const FONTGLYPHTEXT* texts, DWORD textCount,
                                   LPWSTR faceName)
{
    if (!data || !faceName || (textCount > 0 && !texts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::shared_ptr<const platform::gdi::PrivateFont> font
        = Guarded<std::shared_ptr<const platform::gdi::PrivateFont>>(nullptr, [&] {
              return platform::gdi::RegisterPrivateFont(std::span<const BYTE>(static_cast<const BYTE*>(data), size),
                                                        std::span<const FONTGLYPHTEXT>(texts, textCount));
          });
    if (!font)
        return nullptr;
    const std::u16string_view name = font->FaceName();
    std::fill(faceName, faceName + LF_FACESIZE, u'\0');
    std::copy(name.begin(), name.end(), faceName);
    // There is nothing to release: the font stays for the life of the process. The handle is made
    // of the font's number, odd so that it is never a handle of the object table (multiples of 4).
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(font->Number() * 2 + 1));
}

BOOL AlphaBlend(HDC dest, int xDest, int yDest, int destWidth, int destHeight, HDC source, int xSrc, int ySrc,
                int srcWidth, int srcHeight, BLENDFUNCTION blend)
{
    const std::shared_ptr<DeviceContext> target = FindDc(dest);
    const std::shared_ptr<DeviceContext> from = target ? FindDc(source) : nullptr;
    if (!from)
        return FALSE;
    // The source is the bitmap of a memory context; its coordinates are the bitmap's pixels.
    const platform::gdi::Bitmap* bitmap
        = from->State().bitmap ? from->State().bitmap->As<platform::gdi::Bitmap>() : nullptr;
    if (from->GetKind() != DeviceContext::Kind::Memory || !bitmap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::gdi::BlendCall call;
    call.xDest = xDest;
    call.yDest = yDest;
    call.destWidth = destWidth;
    call.destHeight = destHeight;
    call.layout = &bitmap->layout;
    call.bits = bitmap->bits.data();
    call.xSrc = xSrc;
    call.ySrc = ySrc;
    call.srcWidth = srcWidth;
    call.srcHeight = srcHeight;
    call.blend = blend;
    return Guarded(FALSE, [&] { return target->AlphaBlend(call) ? TRUE : FALSE; });
}

BOOL GradientFill(HDC dc, const TRIVERTEX* vertices, ULONG vertexCount, const void* mesh, ULONG meshCount, ULONG mode)
{
    const std::shared_ptr<DeviceContext> context = FindDc(dc);
    if (!context)
        return FALSE;
    const std::size_t perPiece = mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
    if ((vertexCount > 0 && !vertices) || (meshCount > 0 && !mesh) || vertexCount > platform::gdi::kMaxGradientVertices
        || meshCount > platform::gdi::kMaxGradientPieces) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // GRADIENT_TRIANGLE and GRADIENT_RECT are made of ULONG indices alone.
    const std::span<const ULONG> indices(static_cast<const ULONG*>(mesh), std::size_t{meshCount} * perPiece);
    return Guarded(FALSE, [&] {
        return context->GradientFill(std::span<const TRIVERTEX>(vertices, vertexCount), indices, mode) ? TRUE : FALSE;
    });
}

HDC CreateCompatibleDC(HDC dc)
{
    std::shared_ptr<DeviceContext> reference;
    if (dc && !(reference = FindDc(dc)))
        return nullptr;
    return Guarded<HDC>(nullptr, [&] {
        const std::unique_ptr<platform::gdi::DeviceBackend> screen
            = reference ? nullptr : platform::gdi::MakeScreenDevice();
        const platform::gdi::DeviceBackend& device = reference ? reference->Backend() : *screen;
        return platform::AddObject<HDC>(
            std::make_shared<DeviceContext>(DeviceContext::Kind::Memory, platform::gdi::MakeMemoryDevice(device)));
    });
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD /*offset*/)
{
    if (bits)
        *bits = nullptr;
    if (dc && !FindDc(dc))
        return nullptr;
    // Colours come as RGB values; a bitmap's pixels always live in the process, never in a mapping.
    if (!info || usage != DIB_RGB_COLORS || section) {
        SetLastError(section ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::optional<platform::gdi::Bitmap> bitmap = Guarded<std::optional<platform::gdi::Bitmap>>(
        std::nullopt, [&] { return platform::gdi::MakeBitmap(info->bmiHeader); });
    if (!bitmap)
        return nullptr;
    return Guarded<HBITMAP>(nullptr, [&] {
        auto object = std::make_shared<GdiObject>(std::move(*bitmap));
        void* pixels = object->MutableBitmap()->bits.data();
        HBITMAP handle = static_cast<HBITMAP>(platform::gdi::AddGdiObject(std::move(object)));
        if (bits)
            *bits = pixels;
        return handle;
    });
}

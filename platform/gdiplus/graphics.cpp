// Graphics: a world transform and a page unit over a device context. Pictures are drawn through
// the device context's own picture entry, so a printer draws them exactly as it draws the
// pictures of StretchDIBits, JPEG bytes passed on unchanged included.
#include "platform/gdi/context/device_context.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/gdiplus/image.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>

namespace platform::gdiplus {
namespace {

using gdi::Affine;

constexpr double kDisplayUnitsPerInch = 100.0;
constexpr double kDegreesPerQuarterTurn = 90.0;
// Angles up to this size that are whole quarter turns get exact matrices.
constexpr double kLargestExactAngle = 360.0 * 1024;

class Graphics final {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::GdiplusGraphics;

    Graphics(HDC dc, const Affine& pageToDevice) : dc_(dc), pageToDevice_(pageToDevice) {}

    // Puts `transform` before (Prepend) or after (Append) the world transform.
    Gdiplus::Status Combine(const Affine& transform, Gdiplus::MatrixOrder order)
    {
        if (order != Gdiplus::MatrixOrderPrepend && order != Gdiplus::MatrixOrderAppend)
            return Gdiplus::InvalidParameter;
        std::lock_guard lock(mutex_);
        const Affine world
            = order == Gdiplus::MatrixOrderPrepend ? gdi::Then(transform, world_) : gdi::Then(world_, transform);
        if (!gdi::IsFinite(world))
            return Gdiplus::ValueOverflow;
        world_ = world;
        return Gdiplus::Ok;
    }

    // World units to the device context's logical units.
    Affine WorldToLogical() const
    {
        std::lock_guard lock(mutex_);
        return gdi::Then(world_, pageToDevice_);
    }

    HDC Dc() const { return dc_; }

private:
    const HDC dc_;
    const Affine pageToDevice_;
    mutable std::mutex mutex_;
    Affine world_;
};

// A turn of `angle` degrees in row-vector form; whole quarter turns are exact, so that pictures
// turned by them keep their edges on whole units.
Affine Rotation(double angle)
{
    double cosine = std::cos(angle * std::numbers::pi / 180.0);
    double sine = std::sin(angle * std::numbers::pi / 180.0);
    if (std::abs(angle) <= kLargestExactAngle && std::fmod(angle, kDegreesPerQuarterTurn) == 0) {
        static constexpr double cosines[] = {1, 0, -1, 0};
        static constexpr double sines[] = {0, 1, 0, -1};
        const int quarter = (static_cast<int>(angle / kDegreesPerQuarterTurn) % 4 + 4) % 4;
        cosine = cosines[quarter];
        sine = sines[quarter];
    }
    return Affine{cosine, sine, -sine, cosine, 0, 0};
}

bool AllFinite(std::initializer_list<Gdiplus::REAL> values)
{
    for (const Gdiplus::REAL value : values) {
        if (!std::isfinite(value))
            return false;
    }
    return true;
}

} // namespace
} // namespace platform::gdiplus

namespace Gdiplus::DllExports {

using platform::gdiplus::Graphics;

GpStatus GdipCreateFromHDC2(HDC hdc, HANDLE /*hDevice*/, GpGraphics** graphics)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    if (!graphics)
        return InvalidParameter;
    *graphics = nullptr;
    const std::shared_ptr<platform::gdi::DeviceContext> dc = platform::FindObject<platform::gdi::DeviceContext>(hdc);
    if (!dc)
        return InvalidParameter;
    // The page unit, UnitDisplay: a hundredth of an inch on a printer, a pixel on the screen.
    platform::gdi::Affine pageToDevice;
    switch (dc->GetKind()) {
    case platform::gdi::DeviceContext::Kind::Printer:
        pageToDevice = platform::gdi::Scaling(dc->Backend().Caps(LOGPIXELSX) / platform::gdiplus::kDisplayUnitsPerInch,
                                              dc->Backend().Caps(LOGPIXELSY) / platform::gdiplus::kDisplayUnitsPerInch);
        break;
    case platform::gdi::DeviceContext::Kind::Screen:
    case platform::gdi::DeviceContext::Kind::Memory:
        break;
    case platform::gdi::DeviceContext::Kind::Metafile:
        return NotImplemented;
    }
    try {
        *graphics = platform::AddObject<GpGraphics*>(std::make_shared<Graphics>(hdc, pageToDevice));
        return Ok;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

GpStatus GdipTranslateWorldTransform(GpGraphics* graphics, REAL dx, REAL dy, GpMatrixOrder order)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Graphics> found = platform::FindObject<Graphics>(graphics);
    if (!found || !platform::gdiplus::AllFinite({dx, dy}))
        return InvalidParameter;
    return found->Combine(platform::gdi::Translation(dx, dy), order);
}

GpStatus GdipRotateWorldTransform(GpGraphics* graphics, REAL angle, GpMatrixOrder order)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Graphics> found = platform::FindObject<Graphics>(graphics);
    if (!found || !platform::gdiplus::AllFinite({angle}))
        return InvalidParameter;
    return found->Combine(platform::gdiplus::Rotation(angle), order);
}

GpStatus GdipDrawImageRectRect(GpGraphics* graphics, GpImage* image, REAL dstx, REAL dsty, REAL dstwidth,
                               REAL dstheight, REAL srcx, REAL srcy, REAL srcwidth, REAL srcheight, GpUnit srcUnit,
                               const GpImageAttributes* imageAttributes, DrawImageAbort callback, void* callbackData)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    const std::shared_ptr<Graphics> found = platform::FindObject<Graphics>(graphics);
    const std::shared_ptr<platform::gdiplus::Image> picture = platform::gdiplus::FindImage(image);
    if (!found || !picture
        || !platform::gdiplus::AllFinite({dstx, dsty, dstwidth, dstheight, srcx, srcy, srcwidth, srcheight})
        || srcwidth == 0 || srcheight == 0)
        return InvalidParameter;
    if (srcUnit != UnitPixel || imageAttributes)
        return NotImplemented;
    const std::shared_ptr<platform::gdi::DeviceContext> dc
        = platform::FindObject<platform::gdi::DeviceContext>(found->Dc());
    if (!dc)
        return InvalidParameter;
    if (callback && callback(callbackData))
        return Aborted;

    // The source rectangle onto the destination rectangle, then the world and the page.
    const double scaleX = static_cast<double>(dstwidth) / srcwidth;
    const double scaleY = static_cast<double>(dstheight) / srcheight;
    const platform::gdi::Affine sourceToWorld{scaleX, 0, 0, scaleY, dstx - srcx * scaleX, dsty - srcy * scaleY};
    const platform::gdi::Affine pictureToLogical = platform::gdi::Then(sourceToWorld, found->WorldToLogical());

    // Only the part of the source rectangle that lies on the picture is drawn.
    const double width = picture->Picture().Width();
    const double height = picture->Picture().Height();
    const double left = std::max(0.0, std::min<double>(srcx, srcx + srcwidth));
    const double right = std::min(width, std::max<double>(srcx, srcx + srcwidth));
    const double top = std::max(0.0, std::min<double>(srcy, srcy + srcheight));
    const double bottom = std::min(height, std::max<double>(srcy, srcy + srcheight));
    if (right <= left || bottom <= top || dstwidth == 0 || dstheight == 0)
        return Ok;
    const platform::gdi::RectD shown{left, top, right - left, bottom - top};
    try {
        // GDI+ smooths what it enlarges (its default interpolation).
        return dc->DrawPicture(picture->Picture(), shown, pictureToLogical, 1, true) ? Ok : Win32Error;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

GpStatus GdipFlush(GpGraphics* graphics, GpFlushIntention /*intention*/)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    return platform::FindObject<Graphics>(graphics) ? Ok : InvalidParameter;
}

GpStatus GdipDeleteGraphics(GpGraphics* graphics)
{
    if (!platform::gdiplus::IsStarted())
        return GdiplusNotInitialized;
    return platform::RemoveObject<Graphics>(graphics) ? Ok : InvalidParameter;
}

} // namespace Gdiplus::DllExports

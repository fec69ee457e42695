#include "platform/gdi/context/device_context.h"

#include "platform/gdi/context/emf_records.h"
#include "platform/gdi/pictures/picture.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace platform::gdi {
namespace {

constexpr DWORD kKnownLayouts = LAYOUT_RTL | LAYOUT_BITMAPORIENTATIONPRESERVED;

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// The drawn extent of a rectangle mapped to the device, inclusive, as metafile bounds count it.
RECTL DeviceBounds(const Affine& toDevice, double x, double y, double width, double height)
{
    const PointD corners[] = {Apply(toDevice, x, y), Apply(toDevice, x + width, y), Apply(toDevice, x, y + height),
                              Apply(toDevice, x + width, y + height)};
    double left = corners[0].x, right = corners[0].x, top = corners[0].y, bottom = corners[0].y;
    for (const PointD& corner : corners) {
        left = std::min(left, corner.x);
        right = std::max(right, corner.x);
        top = std::min(top, corner.y);
        bottom = std::max(bottom, corner.y);
    }
    auto clamp = [](double value) { return static_cast<LONG>(std::clamp(value, -2147483648.0, 2147483647.0)); };
    RECTL bounds{clamp(std::floor(left)), clamp(std::floor(top)), clamp(std::ceil(right) - 1),
                 clamp(std::ceil(bottom) - 1)};
    bounds.right = std::max(bounds.right, bounds.left);
    bounds.bottom = std::max(bounds.bottom, bounds.top);
    return bounds;
}

// What a device other than a printer answers to the calls of a print job.
int NoPrintJob()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
}

} // namespace

int DeviceBackend::StartDoc(const DOCINFOW&)
{
    return NoPrintJob();
}

int DeviceBackend::StartPage()
{
    return NoPrintJob();
}

int DeviceBackend::EndPage()
{
    return NoPrintJob();
}

int DeviceBackend::EndDoc()
{
    return NoPrintJob();
}

int DeviceBackend::AbortDoc()
{
    return NoPrintJob();
}

bool DeviceBackend::KnowsEscape(int) const
{
    return false;
}

bool DeviceBackend::TakesUnchanged(DWORD, std::span<const BYTE>) const
{
    return false;
}

CallTaken DeviceBackend::Take(const emf::AnyRecord&, const RECTL&)
{
    return CallTaken::Passed;
}

bool DeviceBackend::Select(const GdiObject&)
{
    return true;
}

bool DeviceBackend::DrawPath(const PathDrawing&)
{
    return true;
}

bool DeviceBackend::DrawGradient(const GradientDrawing&)
{
    return true;
}

bool DeviceBackend::DrawGlyphs(const GlyphRun&)
{
    return true;
}

bool DeviceBackend::Comment(std::span<const BYTE>)
{
    return true;
}

CopiedCaps::CopiedCaps(const DeviceBackend& device)
{
    static constexpr int kCopied[] = {TECHNOLOGY, HORZSIZE,      VERTSIZE,       HORZRES,         VERTRES,
                                      BITSPIXEL,  PLANES,        NUMCOLORS,      RASTERCAPS,      LOGPIXELSX,
                                      LOGPIXELSY, PHYSICALWIDTH, PHYSICALHEIGHT, PHYSICALOFFSETX, PHYSICALOFFSETY};
    for (int index : kCopied)
        caps_.emplace_back(index, device.Caps(index));
}

int CopiedCaps::operator()(int index) const
{
    for (const auto& [known, value] : caps_) {
        if (known == index)
            return value;
    }
    return 0;
}

DeviceContext::DeviceContext(Kind kind, std::unique_ptr<DeviceBackend> backend)
    : kind_(kind),
      backend_(std::move(backend))
{
    state_.pen = StockObject(BLACK_PEN);
    state_.brush = StockObject(WHITE_BRUSH);
    state_.font = StockObject(SYSTEM_FONT);
    if (kind_ == Kind::Memory)
        state_.bitmap = DefaultBitmap();
}

DeviceContext::~DeviceContext() = default;

CallTaken DeviceContext::Hand(const emf::AnyRecord& call, const RECTL& inked)
{
    return backend_->Take(call, inked);
}

int DeviceContext::Save()
{
    if (Hand(emf::SaveDcRecord{}) == CallTaken::Refused)
        return 0;
    saved_.push_back(state_);
    return static_cast<int>(saved_.size());
}

bool DeviceContext::Restore(int savedDC)
{
    const auto depth = static_cast<std::int64_t>(saved_.size());
    // A positive number names a saved state; a negative one counts back from the newest.
    const std::int64_t target = savedDC > 0 ? savedDC : depth + savedDC + 1;
    if (savedDC == 0 || target < 1 || target > depth)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::RestoreDcRecord{static_cast<LONG>(target - depth - 1)}) == CallTaken::Refused)
        return false;
    state_ = saved_[static_cast<std::size_t>(target - 1)];
    saved_.resize(static_cast<std::size_t>(target - 1));
    return true;
}

int DeviceContext::SetGraphicsMode(int mode)
{
    if (mode != GM_COMPATIBLE && mode != GM_ADVANCED)
        return Fail(ERROR_INVALID_PARAMETER);
    return std::exchange(state_.graphicsMode, mode);
}

bool DeviceContext::ReplaceWorld(const XFORM& xform)
{
    if (Hand(emf::SetWorldTransformRecord{xform}) == CallTaken::Refused)
        return false;
    state_.world = xform;
    return true;
}

bool DeviceContext::SetWorldTransform(const XFORM& xform)
{
    if (state_.graphicsMode != GM_ADVANCED || !IsFinite(xform))
        return Fail(ERROR_INVALID_PARAMETER);
    return ReplaceWorld(xform);
}

bool DeviceContext::ModifyWorldTransform(const XFORM* xform, DWORD mode)
{
    if (state_.graphicsMode != GM_ADVANCED)
        return Fail(ERROR_INVALID_PARAMETER);
    Affine world;
    switch (mode) {
    case MWT_IDENTITY:
        break;
    case MWT_LEFTMULTIPLY:
    case MWT_RIGHTMULTIPLY:
        if (!xform || !IsFinite(*xform))
            return Fail(ERROR_INVALID_PARAMETER);
        world = mode == MWT_LEFTMULTIPLY ? Then(FromXform(*xform), FromXform(state_.world))
                                         : Then(FromXform(state_.world), FromXform(*xform));
        if (!IsFinite(world))
            return Fail(ERROR_INVALID_PARAMETER);
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (Hand(emf::ModifyWorldTransformRecord{xform ? *xform : XFORM{1, 0, 0, 1, 0, 0}, mode}) == CallTaken::Refused)
        return false;
    state_.world = ToXform(world);
    return true;
}

DWORD DeviceContext::SetLayout(DWORD layout)
{
    if ((layout & ~kKnownLayouts) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return GDI_ERROR;
    }
    if (Hand(emf::SetLayoutRecord{layout}) == CallTaken::Refused)
        return GDI_ERROR;
    return std::exchange(state_.layout, layout);
}

Affine DeviceContext::LogicalToDevice() const
{
    const Affine world = FromXform(state_.world);
    if (!(state_.layout & LAYOUT_RTL))
        return world;
    return Then(world, Affine{-1, 0, 0, 1, static_cast<double>(backend_->Caps(HORZRES)), 0});
}

bool DeviceContext::DrawPicture(const Picture& picture, const RectD& source, const Affine& pictureToLogical,
                                double opacity, bool smoothEnlarged)
{
    Affine pictureToDevice = Then(pictureToLogical, LogicalToDevice());
    // A right-to-left layout mirrors where a picture goes; this flag keeps the picture itself
    // the right way round by mirroring it back within its own rectangle.
    if ((state_.layout & LAYOUT_RTL) && (state_.layout & LAYOUT_BITMAPORIENTATIONPRESERVED))
        pictureToDevice = Then(Affine{-1, 0, 0, 1, 2 * source.x + source.width, 0}, pictureToDevice);
    if (!IsInvertible(pictureToDevice))
        return true; // a transform that flattens the picture leaves nothing to draw
    return backend_->Paint(PicturePlacement{picture, source, pictureToDevice, state_.clip, opacity, smoothEnlarged});
}

int DeviceContext::StretchDIBits(const StretchCall& call)
{
    if (!call.bitmapInfo || !call.bits)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<DibLayout> layout = ReadDibLayout(call.bitmapInfo->bmiHeader);
    if (!layout)
        return Fail(ERROR_INVALID_PARAMETER);
    if (call.rop != SRCCOPY || (call.usage != DIB_RGB_COLORS && call.usage != DIB_PAL_COLORS))
        return Fail(ERROR_NOT_SUPPORTED);
    if (call.srcWidth == 0 || call.srcHeight == 0 || call.destWidth == 0 || call.destHeight == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* bits = static_cast<const BYTE*>(call.bits);
    const int lines = call.srcHeight < 0 ? -call.srcHeight : call.srcHeight;

    // Only the basic header is handed on: it says all the bits need.
    BITMAPINFOHEADER header = call.bitmapInfo->bmiHeader;
    header.biSize = sizeof header;
    const RECTL bounds = DeviceBounds(LogicalToDevice(), call.xDest, call.yDest, call.destWidth, call.destHeight);
    const emf::StretchDiBitsRecord record{.bounds = bounds,
                                          .xDest = call.xDest,
                                          .yDest = call.yDest,
                                          .xSrc = call.xSrc,
                                          .ySrc = call.ySrc,
                                          .cxSrc = call.srcWidth,
                                          .cySrc = call.srcHeight,
                                          .info = emf::Blob(reinterpret_cast<const BYTE*>(&header), sizeof header),
                                          .bits = emf::Blob(bits, layout->bitsSize),
                                          .usage = call.usage,
                                          .rop = call.rop,
                                          .cxDest = call.destWidth,
                                          .cyDest = call.destHeight};
    switch (Hand(record, bounds)) {
    case CallTaken::Refused:
        return 0;
    case CallTaken::Kept:
        return lines;
    case CallTaken::Passed:
        break;
    }

    std::shared_ptr<Picture> picture;
    if (layout->compression != BI_RGB) {
        const std::span<const BYTE> data(bits, layout->bitsSize);
        if (!backend_->TakesUnchanged(layout->compression, data))
            return Fail(ERROR_NOT_SUPPORTED);
        picture = Picture::Decode(data);
        if (!picture || picture->Width() != layout->width || picture->Height() != layout->height)
            return Fail(ERROR_INVALID_DATA);
    }

    // The source rectangle in the upright pixel grid. A bottom-up bitmap's origin is its
    // lower-left corner, so its ySrc counts from the bottom row.
    const double xSrc = call.xSrc;
    const double srcWidth = call.srcWidth;
    const double srcHeight = call.srcHeight;
    const double width = layout->width;
    const double height = layout->height;
    const double ySrc = layout->topDown || layout->compression != BI_RGB ? call.ySrc : height - call.ySrc - srcHeight;
    const double scaleX = call.destWidth / srcWidth;
    const double scaleY = call.destHeight / srcHeight;
    const Affine imageToLogical{scaleX, 0, 0, scaleY, call.xDest - xSrc * scaleX, call.yDest - ySrc * scaleY};

    // Only the part of the source rectangle that lies on the bitmap is drawn.
    const double left = std::max(0.0, std::min(xSrc, xSrc + srcWidth));
    const double right = std::min(width, std::max(xSrc, xSrc + srcWidth));
    const double top = std::max(0.0, std::min(ySrc, ySrc + srcHeight));
    const double bottom = std::min(height, std::max(ySrc, ySrc + srcHeight));
    if (right <= left || bottom <= top)
        return lines;

    if (picture)
        return DrawPicture(*picture, RectD{left, top, right - left, bottom - top}, imageToLogical, 1, Smooths()) ? lines
                                                                                                                 : 0;

    const bool whole = left == 0 && top == 0 && right == width && bottom == height;
    if (whole && layout->bitCount == 32 && reinterpret_cast<std::uintptr_t>(bits) % 4 == 0) {
        picture = Picture::Borrow32(*layout, bits);
        if (!picture)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        return DrawPicture(*picture, RectD{0, 0, right, bottom}, imageToLogical, 1, Smooths()) ? lines : 0;
    }
    // Other bitmaps are copied, and only the source rectangle of them.
    const int x = static_cast<int>(left);
    const int y = static_cast<int>(top);
    const int columns = static_cast<int>(right) - x;
    const int rows = static_cast<int>(bottom) - y;
    picture = Picture::FromDib(*layout, bits, x, y, columns, rows);
    if (!picture)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const RectD all{0, 0, static_cast<double>(columns), static_cast<double>(rows)};
    return DrawPicture(*picture, all, Then(Translation(x, y), imageToLogical), 1, Smooths()) ? lines : 0;
}

bool DeviceContext::AlphaBlend(const BlendCall& call)
{
    if (!call.layout || !call.bits || call.layout->compression != BI_RGB)
        return Fail(ERROR_INVALID_PARAMETER);
    const DibLayout& layout = *call.layout;
    const BLENDFUNCTION& blend = call.blend;
    // Per-pixel alpha needs the fourth byte of 32-bit pixels.
    const bool perPixel = blend.AlphaFormat == AC_SRC_ALPHA;
    if (blend.BlendOp != AC_SRC_OVER || blend.BlendFlags != 0 || (blend.AlphaFormat & ~AC_SRC_ALPHA) != 0
        || (perPixel && layout.bitCount != 32))
        return Fail(ERROR_INVALID_PARAMETER);
    // The source rectangle lies on the bitmap; no side is negative.
    const std::int64_t xSrc = call.xSrc, ySrc = call.ySrc, srcWidth = call.srcWidth, srcHeight = call.srcHeight;
    if (call.destWidth < 0 || call.destHeight < 0 || xSrc < 0 || ySrc < 0 || srcWidth < 0 || srcHeight < 0
        || xSrc + srcWidth > layout.width || ySrc + srcHeight > layout.height)
        return Fail(ERROR_INVALID_PARAMETER);
    if (call.destWidth == 0 || call.destHeight == 0 || srcWidth == 0 || srcHeight == 0)
        return true;

    // The source rectangle as 32-bit rows, top-down: what a recording carries and a device paints.
    const auto width = static_cast<std::size_t>(srcWidth);
    const auto height = static_cast<std::size_t>(srcHeight);
    std::vector<BYTE> rows(width * height * 4);
    const std::size_t bytesPerPixel = static_cast<std::size_t>(layout.bitCount / 8);
    for (std::size_t row = 0; row < height; ++row) {
        const std::size_t imageRow = static_cast<std::size_t>(ySrc) + row;
        const std::size_t storedRow
            = layout.topDown ? imageRow : static_cast<std::size_t>(layout.height) - 1 - imageRow;
        const BYTE* in = call.bits + storedRow * layout.stride + static_cast<std::size_t>(xSrc) * bytesPerPixel;
        BYTE* out = rows.data() + row * width * 4;
        for (std::size_t column = 0; column < width; ++column, in += bytesPerPixel, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = bytesPerPixel == 4 ? in[3] : 0;
        }
    }

    const BITMAPINFOHEADER header = TopDown32Header(call.srcWidth, call.srcHeight);
    const RECTL bounds = DeviceBounds(LogicalToDevice(), call.xDest, call.yDest, call.destWidth, call.destHeight);
    const emf::AlphaBlendRecord record{.bounds = bounds,
                                       .xDest = call.xDest,
                                       .yDest = call.yDest,
                                       .cxDest = call.destWidth,
                                       .cyDest = call.destHeight,
                                       .blend = call.blend,
                                       .info = emf::Blob(reinterpret_cast<const BYTE*>(&header), sizeof header),
                                       .bits = emf::Blob(rows.data(), rows.size()),
                                       .cxSrc = call.srcWidth,
                                       .cySrc = call.srcHeight};
    switch (Hand(record, bounds)) {
    case CallTaken::Refused:
        return false;
    case CallTaken::Kept:
        return true;
    case CallTaken::Passed:
        break;
    }
    const std::shared_ptr<Picture> picture
        = Picture::FromRows32(rows.data(), static_cast<int>(width), static_cast<int>(height), perPixel);
    if (!picture)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const double scaleX = call.destWidth / static_cast<double>(width);
    const double scaleY = call.destHeight / static_cast<double>(height);
    const Affine pictureToLogical{
        scaleX, 0, 0, scaleY, static_cast<double>(call.xDest), static_cast<double>(call.yDest)};
    return DrawPicture(*picture, RectD{0, 0, static_cast<double>(width), static_cast<double>(height)}, pictureToLogical,
                       blend.SourceConstantAlpha / 255.0, Smooths());
}

bool DeviceContext::Comment(UINT size, const BYTE* data)
{
    if (size > 0 && !data)
        return Fail(ERROR_INVALID_PARAMETER);
    switch (Hand(emf::GdiCommentRecord{emf::Counted<BYTE>(data, size)})) {
    case CallTaken::Refused:
        return false;
    case CallTaken::Kept:
        return true;
    case CallTaken::Passed:
        break;
    }
    return backend_->Comment(std::span<const BYTE>(data, size));
}

int DeviceContext::Escape(int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output)
{
    const auto* in = reinterpret_cast<const BYTE*>(input);
    if (inputSize < 0 || outputSize < 0 || (inputSize > 0 && !input) || (outputSize > 0 && !output)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!backend_->KnowsEscape(escape))
        return 0;
    switch (escape) {
    case QUERYESCSUPPORT: {
        if (inputSize < static_cast<int>(sizeof(DWORD))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        DWORD asked = 0;
        std::memcpy(&asked, in, sizeof asked);
        return backend_->KnowsEscape(static_cast<int>(asked)) ? 1 : 0;
    }
    case CHECKJPEGFORMAT:
    case CHECKPNGFORMAT: {
        if (outputSize < static_cast<int>(sizeof(DWORD))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        const DWORD compression = escape == CHECKJPEGFORMAT ? BI_JPEG : BI_PNG;
        const DWORD answer
            = backend_->TakesUnchanged(compression, std::span<const BYTE>(in, static_cast<std::size_t>(inputSize))) ? 1
                                                                                                                    : 0;
        std::memcpy(output, &answer, sizeof answer);
        return 1;
    }
    default:
        return 0;
    }
}

void DeviceContext::BeginPlayback(const Affine& frameToTarget)
{
    // A recording that can no longer be written saves nothing: there is then nothing to restore.
    const int saved = Save();
    state_.graphicsMode = GM_ADVANCED;
    const Affine base = Then(frameToTarget, FromXform(state_.world));
    ReplaceWorld(ToXform(base));
    // A metafile starts from the default objects and attributes, inside the clip it finds.
    ResetDrawingState();
    playbacks_.push_back(Playback{base, saved > 0 ? static_cast<std::size_t>(saved) : 0, state_.clip});
}

void DeviceContext::EndPlayback()
{
    if (playbacks_.empty())
        return;
    const std::size_t depth = playbacks_.back().depth;
    playbacks_.pop_back();
    if (depth >= 1 && depth <= saved_.size())
        Restore(static_cast<int>(depth));
}

Affine DeviceContext::PlaybackBase() const
{
    return playbacks_.empty() ? Affine{} : playbacks_.back().base;
}

bool DeviceContext::RestoreRelative(int relative)
{
    const auto depth = static_cast<std::int64_t>(saved_.size());
    const std::int64_t floor = playbacks_.empty() ? 1 : static_cast<std::int64_t>(playbacks_.back().depth) + 1;
    if (relative >= 0 || depth + relative + 1 < floor)
        return Fail(ERROR_INVALID_PARAMETER);
    return Restore(relative);
}

} // namespace platform::gdi

#include "platform/gdi/pictures/picture.h"

#include "platform/gdi/pictures/png_reader.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace platform::gdi {
namespace {

// A new image surface of cairo's, flushed for writing into; null when cairo cannot make it.
cairo_surface_t* NewSurface(cairo_format_t format, int width, int height)
{
    cairo_surface_t* surface = cairo_image_surface_create(format, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    return surface;
}

// Compressed data goes to the decoder in pieces this large, so that a picture refused for its
// size is refused after the piece holding its header rather than after all of its data.
constexpr std::size_t kDecoderPieceBytes = 64 * 1024;

constexpr int kUpright = 1;
constexpr int kUpsideDownRows = 4; // the rows stored bottom-up
constexpr int kFirstTurnedOrientation = 5;
constexpr int kLastOrientation = 8;

using Bytes = std::shared_ptr<const std::vector<BYTE>>;

const char* DecoderName(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Jpeg:
        return "jpeg";
    case PictureKind::Png:
        return "png";
    case PictureKind::Bmp:
        return "bmp";
    case PictureKind::Tiff:
        return "tiff";
    case PictureKind::Gif:
        return "gif";
    }
    return "";
}

struct SizeCheck {
    int width = 0; // the most pixels wanted across and down; 0: all of them
    int height = 0;
    bool refused = false;
};

// Refuses a picture before its pixels are decoded: the loader is asked to make it 1 x 1 instead,
// and is given no more data. A picture wanted smaller is asked for at that size: a JPEG then
// decodes at a fraction of its size, other kinds are scaled once decoded.
void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data)
{
    auto* check = static_cast<SizeCheck*>(data);
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide
        || std::int64_t{width} * height > kMaxPicturePixels) {
        check->refused = true;
        gdk_pixbuf_loader_set_size(loader, 1, 1);
    } else if ((check->width > 0 && check->width < width) || (check->height > 0 && check->height < height)) {
        gdk_pixbuf_loader_set_size(loader, check->width > 0 ? std::min(check->width, width) : width,
                                   check->height > 0 ? std::min(check->height, height) : height);
    }
}

// The decoded picture (a reference the caller releases), at most width x height pixels when they
// are given, or null with the fault.
GdkPixbuf* DecodePixbuf(std::span<const BYTE> bytes, PictureKind kind, PictureFault& fault, int width = 0,
                        int height = 0)
{
    GError* error = nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(DecoderName(kind), &error);
    g_clear_error(&error);
    if (!loader) {
        fault = PictureFault::NotAPicture;
        return nullptr;
    }
    SizeCheck check{width, height};
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &check);
    bool loaded = true;
    for (std::size_t at = 0; loaded && !check.refused && at < bytes.size(); at += kDecoderPieceBytes) {
        const std::size_t piece = std::min(kDecoderPieceBytes, bytes.size() - at);
        loaded = gdk_pixbuf_loader_write(loader, bytes.data() + at, piece, &error);
        g_clear_error(&error);
    }
    // A decoder that reports an error may still hand out what it made of the data: never taken.
    loaded = gdk_pixbuf_loader_close(loader, &error) && loaded;
    g_clear_error(&error);
    GdkPixbuf* pixbuf = loaded && !check.refused ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf)
        g_object_ref(pixbuf);
    g_object_unref(loader);
    if (!pixbuf)
        fault = check.refused ? PictureFault::TooLarge : PictureFault::Damaged;
    return pixbuf;
}

// The orientation tag the decoder found (TIFF), or upright.
int PixbufOrientation(GdkPixbuf* pixbuf)
{
    const gchar* option = gdk_pixbuf_get_option(pixbuf, "orientation");
    const int orientation = option ? std::atoi(option) : kUpright;
    return orientation >= kUpright && orientation <= kLastOrientation ? orientation : kUpright;
}

// One 32-bit pixel of cairo: premultiplied, native-endian A, R, G, B.
std::uint32_t Premultiplied(unsigned r, unsigned g, unsigned b, unsigned a)
{
    if (a != 255) {
        r = (r * a + 127) / 255;
        g = (g * a + 127) / 255;
        b = (b * a + 127) / 255;
    }
    return (std::uint32_t{a} << 24) | (r << 16) | (g << 8) | b;
}

cairo_surface_t* SurfaceOfPixbuf(GdkPixbuf* pixbuf, PictureFault& fault)
{
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB
        || channels != (alpha ? 4 : 3)) {
        fault = PictureFault::Damaged;
        return nullptr;
    }
    cairo_surface_t* surface = NewSurface(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    if (!surface) {
        fault = PictureFault::OutOfMemory;
        return nullptr;
    }
    const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
    const std::size_t sourceStride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    BYTE* target = cairo_image_surface_get_data(surface);
    const std::size_t targetStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    for (int row = 0; row < height; ++row) {
        const guchar* in = source + row * sourceStride;
        auto* out = reinterpret_cast<std::uint32_t*>(target + row * targetStride);
        for (int column = 0; column < width; ++column, in += channels)
            out[column] = Premultiplied(in[0], in[1], in[2], alpha ? in[3] : 255);
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

// Turns a surface's pixels to shades of grey where they lie.
void MakeGrey(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    BYTE* data = cairo_image_surface_get_data(surface);
    const std::size_t stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int row = 0; row < height; ++row) {
        auto* pixels = reinterpret_cast<std::uint32_t*>(data + row * stride);
        for (int column = 0; column < width; ++column) {
            const std::uint32_t pixel = pixels[column];
            // Luma of the premultiplied colour is the premultiplied luma: the weights sum to one.
            const std::uint32_t luma
                = (299 * ((pixel >> 16) & 0xFF) + 587 * ((pixel >> 8) & 0xFF) + 114 * (pixel & 0xFF) + 500) / 1000;
            pixels[column] = (pixel & 0xFF000000u) | (luma << 16) | (luma << 8) | luma;
        }
    }
    cairo_surface_mark_dirty(surface);
}

// A copy of a surface, for pixels that are not ours to change.
cairo_surface_t* CopyOf(cairo_surface_t* source)
{
    const int width = cairo_image_surface_get_width(source);
    const int height = cairo_image_surface_get_height(source);
    cairo_surface_t* copy = NewSurface(cairo_image_surface_get_format(source), width, height);
    if (!copy)
        return nullptr;
    cairo_surface_flush(source);
    const std::size_t sourceStride = static_cast<std::size_t>(cairo_image_surface_get_stride(source));
    const std::size_t copyStride = static_cast<std::size_t>(cairo_image_surface_get_stride(copy));
    const BYTE* in = cairo_image_surface_get_data(source);
    BYTE* out = cairo_image_surface_get_data(copy);
    for (int row = 0; row < height; ++row)
        std::memcpy(out + row * copyStride, in + row * sourceStride, static_cast<std::size_t>(width) * 4);
    cairo_surface_mark_dirty(copy);
    return copy;
}

void ReleaseBytes(void* holder)
{
    delete static_cast<Bytes*>(holder);
}

struct PixelPosition {
    int x = 0;
    int y = 0;
};

// The stored pixel that shows at (x, y) of the picture as seen, for a stored grid of width x height.
PixelPosition StoredPixel(int orientation, int width, int height, int x, int y)
{
    switch (orientation) {
    case 2:
        return {width - 1 - x, y};
    case 3:
        return {width - 1 - x, height - 1 - y};
    case 4:
        return {x, height - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, height - 1 - x};
    case 7:
        return {width - 1 - y, height - 1 - x};
    case 8:
        return {width - 1 - y, x};
    default:
        return {x, y};
    }
}

} // namespace

Picture::Picture(cairo_surface_t* surface, int orientation, bool borrowed)
    : storedWidth_(cairo_image_surface_get_width(surface)),
      storedHeight_(cairo_image_surface_get_height(surface)),
      orientation_(orientation),
      borrowed_(borrowed),
      given_(surface)
{}

Picture::Picture(Bytes bytes, PictureKind kind, int width, int height, bool passable, int orientation)
    : storedWidth_(width),
      storedHeight_(height),
      orientation_(orientation),
      bytes_(std::move(bytes)),
      kind_(kind),
      passable_(passable)
{}

Picture::~Picture()
{
    if (made_)
        cairo_surface_destroy(made_);
    if (given_) {
        // A borrowed picture's rows belong to the caller: finishing the surface makes cairo copy
        // whatever a PDF page still holds of it before the caller frees them.
        if (borrowed_)
            cairo_surface_finish(given_);
        cairo_surface_destroy(given_);
    }
    if (jpegSurface_)
        cairo_surface_destroy(jpegSurface_);
}

std::shared_ptr<Picture> Picture::Open(Bytes bytes, bool upright, PictureFault& fault)
{
    fault = PictureFault::None;
    const std::optional<PictureKind> sniffed = bytes ? SniffPicture(*bytes) : std::nullopt;
    if (!sniffed) {
        fault = PictureFault::NotAPicture;
        return nullptr;
    }
    const PictureKind kind = *sniffed;
    const std::span<const BYTE> data(*bytes);
    try {
        if (kind == PictureKind::Jpeg) {
            JpegInfo frame;
            fault = ScanJpeg(data, kMaxPictureSide, kMaxPicturePixels, frame);
            if (fault != PictureFault::None)
                return nullptr;
            const std::optional<JpegInfo> inspected = InspectJpeg(data);
            const bool passable = inspected && inspected->components != 4 && inspected->width == frame.width
                && inspected->height == frame.height;
            const int orientation = upright ? JpegOrientation(data) : kUpright;
            return std::shared_ptr<Picture>(
                new Picture(std::move(bytes), kind, frame.width, frame.height, passable, orientation));
        }
        // Some decoders make (and clear) the whole picture before they report its size, and a few
        // bytes can declare gigabytes of it.
        if (const std::optional<DeclaredSize> size = ReadDeclaredSize(data, kind); size
            && (size->width > kMaxPictureSide || size->height > kMaxPictureSide
                || size->width * size->height > kMaxPicturePixels || !IsBacked(data, kind))) {
            fault = PictureFault::TooLarge;
            return nullptr;
        }
        // These decoders take a file that ends early without complaint, filling in the rest.
        if ((kind == PictureKind::Png && !IsCompletePng(data)) || (kind == PictureKind::Bmp && !IsCompleteBmp(data))) {
            fault = PictureFault::Damaged;
            return nullptr;
        }
        // A PNG's rows are read through once, one at a time; other kinds are decoded once whole,
        // their decoders being what tells a damaged file, and the pixels let go until drawn.
        if (kind == PictureKind::Png) {
            fault = CheckPngData(data);
            const std::optional<DeclaredSize> size = ReadDeclaredSize(data, kind);
            if (fault != PictureFault::None || !size)
                return nullptr;
            return std::shared_ptr<Picture>(new Picture(std::move(bytes), kind, static_cast<int>(size->width),
                                                        static_cast<int>(size->height), false, kUpright));
        }
        GdkPixbuf* pixbuf = DecodePixbuf(data, kind, fault);
        if (!pixbuf)
            return nullptr;
        const int orientation = upright ? PixbufOrientation(pixbuf) : kUpright;
        const int width = gdk_pixbuf_get_width(pixbuf);
        const int height = gdk_pixbuf_get_height(pixbuf);
        g_object_unref(pixbuf);
        return std::shared_ptr<Picture>(new Picture(std::move(bytes), kind, width, height, false, orientation));
    } catch (const std::bad_alloc&) {
        fault = PictureFault::OutOfMemory;
        return nullptr;
    }
}

std::shared_ptr<Picture> Picture::Decode(std::span<const BYTE> bytes)
{
    PictureFault fault = PictureFault::None;
    return Open(std::make_shared<const std::vector<BYTE>>(bytes.begin(), bytes.end()), false, fault);
}

std::shared_ptr<Picture> Picture::FromDib(const DibLayout& layout, const BYTE* bits, int x, int y, int width,
                                          int height)
{
    cairo_surface_t* surface = NewSurface(CAIRO_FORMAT_RGB24, width, height);
    if (!surface)
        return nullptr;
    BYTE* target = cairo_image_surface_get_data(surface);
    const std::size_t targetStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    const std::size_t bytesPerPixel = static_cast<std::size_t>(layout.bitCount / 8);
    for (int row = 0; row < height; ++row) {
        const int imageRow = y + row;
        const int storedRow = layout.topDown ? imageRow : layout.height - 1 - imageRow;
        const BYTE* in = bits + static_cast<std::size_t>(storedRow) * layout.stride + x * bytesPerPixel;
        auto* out = reinterpret_cast<std::uint32_t*>(target + row * targetStride);
        for (int column = 0; column < width; ++column, in += bytesPerPixel)
            out[column] = 0xFF000000u | (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
    }
    cairo_surface_mark_dirty(surface);
    return std::shared_ptr<Picture>(new Picture(surface, kUpright, false));
}

std::shared_ptr<Picture> Picture::FromRows32(const BYTE* rows, int width, int height, bool alpha)
{
    cairo_surface_t* surface = NewSurface(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    if (!surface)
        return nullptr;
    BYTE* target = cairo_image_surface_get_data(surface);
    const std::size_t targetStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    for (int row = 0; row < height; ++row) {
        const BYTE* in = rows + static_cast<std::size_t>(row) * width * 4;
        auto* out = reinterpret_cast<std::uint32_t*>(target + row * targetStride);
        for (int column = 0; column < width; ++column, in += 4) {
            const unsigned a = alpha ? in[3] : 255;
            const unsigned r = std::min<unsigned>(in[2], a);
            const unsigned g = std::min<unsigned>(in[1], a);
            const unsigned b = std::min<unsigned>(in[0], a);
            out[column] = (std::uint32_t{a} << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return std::shared_ptr<Picture>(new Picture(surface, kUpright, false));
}

std::shared_ptr<Picture> Picture::Borrow32(const DibLayout& layout, const BYTE* bits)
{
    // cairo only reads these rows; it never writes to a surface used as a source.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<BYTE*>(bits), CAIRO_FORMAT_RGB24, layout.width, layout.height, static_cast<int>(layout.stride));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::shared_ptr<Picture>(new Picture(surface, layout.topDown ? kUpright : kUpsideDownRows, true));
}

int Picture::Width() const
{
    return orientation_ >= kFirstTurnedOrientation ? storedHeight_ : storedWidth_;
}

int Picture::Height() const
{
    return orientation_ >= kFirstTurnedOrientation ? storedWidth_ : storedHeight_;
}

Affine Picture::StoredToUpright() const
{
    const double width = storedWidth_;
    const double height = storedHeight_;
    switch (orientation_) {
    case 2:
        return Affine{-1, 0, 0, 1, width, 0};
    case 3:
        return Affine{-1, 0, 0, -1, width, height};
    case 4:
        return Affine{1, 0, 0, -1, 0, height};
    case 5:
        return Affine{0, 1, 1, 0, 0, 0};
    case 6:
        return Affine{0, 1, -1, 0, height, 0};
    case 7:
        return Affine{0, -1, -1, 0, height, width};
    case 8:
        return Affine{0, -1, 1, 0, 0, width};
    default:
        return Affine{};
    }
}

cairo_surface_t* Picture::Pixels(int width, int height, bool grey) const
{
    std::lock_guard lock(mutex_);
    if (given_) {
        if (!grey)
            return given_;
        // The given pixels may be the caller's: grey goes into a copy, made once.
        if (!made_) {
            made_ = CopyOf(given_);
            if (made_)
                MakeGrey(made_);
        }
        return made_;
    }
    width = std::clamp(width, 1, storedWidth_);
    height = std::clamp(height, 1, storedHeight_);
    if (made_ && madeGrey_ == grey && cairo_image_surface_get_width(made_) >= width
        && cairo_image_surface_get_height(made_) >= height)
        return made_;
    // The pixels made before go first: a picture never holds two grids of itself.
    if (made_)
        cairo_surface_destroy(std::exchange(made_, nullptr));
    PictureFault fault = PictureFault::None;
    if (kind_ == PictureKind::Png)
        made_ = ReadPngAtSize(*bytes_, width, height, grey, fault);
    // An interlaced PNG comes in passes over the whole picture: its decoder makes it whole first.
    if (!made_ && (kind_ != PictureKind::Png || fault == PictureFault::NotAPicture)) {
        GdkPixbuf* pixbuf = DecodePixbuf(*bytes_, kind_, fault, width, height);
        if (pixbuf && gdk_pixbuf_get_width(pixbuf) == width && gdk_pixbuf_get_height(pixbuf) == height)
            made_ = SurfaceOfPixbuf(pixbuf, fault);
        if (pixbuf)
            g_object_unref(pixbuf);
        if (made_ && grey)
            MakeGrey(made_);
    }
    madeGrey_ = grey;
    return made_;
}

cairo_surface_t* Picture::JpegSurface() const
{
    if (!passable_)
        return nullptr;
    std::lock_guard lock(mutex_);
    if (jpegSurface_)
        return jpegSurface_;
    // A recording with nothing in it, of the JPEG's size: cairo's PDF output embeds the attached
    // bytes and never asks for pixels, so none are ever made.
    const cairo_rectangle_t extents{0, 0, static_cast<double>(storedWidth_), static_cast<double>(storedHeight_)};
    cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_COLOR, &extents);
    auto* holder = new (std::nothrow) Bytes(bytes_);
    if (holder && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS
        && cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, bytes_->data(), bytes_->size(), ReleaseBytes,
                                       holder)
            == CAIRO_STATUS_SUCCESS) {
        jpegSurface_ = surface;
        return jpegSurface_;
    }
    delete holder;
    cairo_surface_destroy(surface);
    return nullptr;
}

bool Picture::ReadPixels(int x, int y, int width, int height, bool opaque, BYTE* out, std::size_t stride) const
{
    cairo_surface_t* surface = Pixels(storedWidth_, storedHeight_, false);
    if (!surface)
        return false;
    cairo_surface_flush(surface);
    const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
    const BYTE* source = cairo_image_surface_get_data(surface);
    const std::size_t sourceStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    for (int row = 0; row < height; ++row) {
        // One step along a row as seen is the same step in the stored grid all along it.
        const PixelPosition first = StoredPixel(orientation_, storedWidth_, storedHeight_, x, y + row);
        const PixelPosition second = StoredPixel(orientation_, storedWidth_, storedHeight_, x + 1, y + row);
        const auto rowBytes = static_cast<std::ptrdiff_t>(sourceStride);
        const std::ptrdiff_t step = (second.y - first.y) * rowBytes + (second.x - first.x) * std::ptrdiff_t{4};
        std::ptrdiff_t at = first.y * rowBytes + first.x * std::ptrdiff_t{4};
        BYTE* target = out + row * stride;
        for (int column = 0; column < width; ++column, target += 4, at += step) {
            std::uint32_t pixel;
            std::memcpy(&pixel, source + at, sizeof pixel);
            const unsigned a = alpha ? pixel >> 24 : 255;
            unsigned r = (pixel >> 16) & 0xFF;
            unsigned g = (pixel >> 8) & 0xFF;
            unsigned b = pixel & 0xFF;
            if (a != 255) {
                r = a == 0 ? 0 : std::min(255u, (r * 255 + a / 2) / a);
                g = a == 0 ? 0 : std::min(255u, (g * 255 + a / 2) / a);
                b = a == 0 ? 0 : std::min(255u, (b * 255 + a / 2) / a);
            }
            target[0] = static_cast<BYTE>(b);
            target[1] = static_cast<BYTE>(g);
            target[2] = static_cast<BYTE>(r);
            target[3] = static_cast<BYTE>(opaque ? 255 : a);
        }
    }
    return true;
}

} // namespace platform::gdi

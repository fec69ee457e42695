#include "platform/gdi/picture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::gdi {
namespace {

constexpr BYTE kMarker = 0xFF;
constexpr BYTE kStartOfImage = 0xD8;
constexpr BYTE kEndOfImage = 0xD9;
constexpr BYTE kStartOfScan = 0xDA;
constexpr BYTE kBaselineFrame = 0xC0;
constexpr BYTE kExtendedFrame = 0xC1;
constexpr BYTE kProgressiveFrame = 0xC2;
constexpr int kJpegPrecision = 8;

constexpr BYTE kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr BYTE kPngEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr std::size_t kPngHeaderChunkLength = 13;

unsigned ReadBig16(const BYTE* bytes)
{
    return (unsigned{bytes[0]} << 8) | bytes[1];
}

std::uint32_t ReadBig32(const BYTE* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8)
        | bytes[3];
}

// Markers of frames this platform does not hand on: lossless, hierarchical and arithmetic-coded.
bool IsOtherFrame(BYTE marker)
{
    return marker == 0xC3 || (marker >= 0xC5 && marker <= 0xC7) || (marker >= 0xC9 && marker <= 0xCB)
        || (marker >= 0xCD && marker <= 0xCF);
}

// The bytes up to the last non-zero byte: pictures inside metafile records come padded with zeros.
std::span<const BYTE> WithoutPadding(std::span<const BYTE> bytes)
{
    std::size_t size = bytes.size();
    while (size > 0 && bytes[size - 1] == 0)
        --size;
    return bytes.first(size);
}

bool EndsWithEndOfImage(std::span<const BYTE> bytes)
{
    const std::span<const BYTE> trimmed = WithoutPadding(bytes);
    return trimmed.size() >= 2 && trimmed[trimmed.size() - 2] == kMarker && trimmed.back() == kEndOfImage;
}

struct SizeCheck {
    bool refused = false;
};

// Refuses a picture before its pixels are allocated: the loader is asked to make it 1 x 1 instead.
void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data)
{
    auto* check = static_cast<SizeCheck*>(data);
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide
        || std::int64_t{width} * height > kMaxPicturePixels) {
        check->refused = true;
        gdk_pixbuf_loader_set_size(loader, 1, 1);
    }
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

cairo_surface_t* SurfaceOfPixbuf(GdkPixbuf* pixbuf)
{
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB
        || channels != (alpha ? 4 : 3))
        return nullptr;
    cairo_surface_t* surface
        = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
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

// Hands a copy of the JPEG's bytes to cairo, which embeds them unchanged in a PDF.
bool AttachJpeg(cairo_surface_t* surface, std::span<const BYTE> bytes)
{
    auto* copy = static_cast<BYTE*>(std::malloc(bytes.size()));
    if (!copy)
        return false;
    std::memcpy(copy, bytes.data(), bytes.size());
    if (cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, copy, bytes.size(), std::free, copy)
        != CAIRO_STATUS_SUCCESS) {
        std::free(copy);
        return false;
    }
    return true;
}

} // namespace

std::optional<JpegInfo> InspectJpeg(std::span<const BYTE> bytes)
{
    if (bytes.size() < 4 || bytes[0] != kMarker || bytes[1] != kStartOfImage || !EndsWithEndOfImage(bytes))
        return std::nullopt;
    std::size_t position = 2;
    while (position < bytes.size()) {
        if (bytes[position] != kMarker)
            return std::nullopt;
        while (position < bytes.size() && bytes[position] == kMarker)
            ++position; // fill bytes
        if (position >= bytes.size())
            return std::nullopt;
        const BYTE marker = bytes[position++];
        // A scan, an end or a stand-alone marker before the frame: not a JPEG to hand on.
        if (marker == kStartOfScan || marker == kEndOfImage || marker == kStartOfImage || marker == 0x01
            || (marker >= 0xD0 && marker <= 0xD7) || IsOtherFrame(marker))
            return std::nullopt;
        if (position + 2 > bytes.size())
            return std::nullopt;
        const std::size_t length = ReadBig16(&bytes[position]);
        if (length < 2 || position + length > bytes.size())
            return std::nullopt;
        if (marker == kBaselineFrame || marker == kExtendedFrame || marker == kProgressiveFrame) {
            if (length < 8)
                return std::nullopt;
            const BYTE* frame = &bytes[position + 2];
            JpegInfo info;
            info.height = static_cast<int>(ReadBig16(frame + 1));
            info.width = static_cast<int>(ReadBig16(frame + 3));
            info.components = frame[5];
            const bool componentsFit = length >= 8 + 3 * std::size_t{frame[5]};
            if (frame[0] != kJpegPrecision || info.width == 0 || info.height == 0 || !componentsFit
                || (info.components != 1 && info.components != 3 && info.components != 4))
                return std::nullopt;
            return info;
        }
        position += length;
    }
    return std::nullopt;
}

bool IsCompletePng(std::span<const BYTE> bytes)
{
    constexpr std::size_t headerEnd = sizeof kPngSignature + 8 + kPngHeaderChunkLength + 4;
    if (bytes.size() < headerEnd + sizeof kPngEnd
        || std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) != 0)
        return false;
    const BYTE* header = bytes.data() + sizeof kPngSignature;
    if (ReadBig32(header) != kPngHeaderChunkLength || std::memcmp(header + 4, "IHDR", 4) != 0)
        return false;
    const std::uint32_t width = ReadBig32(header + 8);
    const std::uint32_t height = ReadBig32(header + 12);
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return false;
    const std::span<const BYTE> trimmed = WithoutPadding(bytes);
    return trimmed.size() >= headerEnd + sizeof kPngEnd
        && std::memcmp(trimmed.data() + trimmed.size() - sizeof kPngEnd, kPngEnd, sizeof kPngEnd) == 0;
}

Picture::~Picture()
{
    // A borrowed picture's rows belong to the caller: finishing the surface makes cairo copy
    // whatever a PDF page still holds of it before the caller frees them.
    if (borrowed_)
        cairo_surface_finish(surface_);
    cairo_surface_destroy(surface_);
}

std::shared_ptr<Picture> Picture::Decode(std::span<const BYTE> bytes)
{
    if (bytes.empty())
        return nullptr;
    const bool looksLikeJpeg = bytes.size() >= 2 && bytes[0] == kMarker && bytes[1] == kStartOfImage;
    // A JPEG cut off before its end decodes without complaint, the missing part grey: refuse it.
    if (looksLikeJpeg && !EndsWithEndOfImage(bytes))
        return nullptr;

    SizeCheck check;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &check);
    GError* error = nullptr;
    bool loaded = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error);
    g_clear_error(&error);
    loaded = gdk_pixbuf_loader_close(loader, &error) && loaded;
    g_clear_error(&error);
    GdkPixbuf* pixbuf = loaded && !check.refused ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    cairo_surface_t* surface = pixbuf ? SurfaceOfPixbuf(pixbuf) : nullptr;
    g_object_unref(loader);
    if (!surface)
        return nullptr;

    if (looksLikeJpeg) {
        const std::optional<JpegInfo> info = InspectJpeg(bytes);
        if (info && info->components != 4 && info->width == cairo_image_surface_get_width(surface)
            && info->height == cairo_image_surface_get_height(surface) && !AttachJpeg(surface, bytes)) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
    }
    return std::shared_ptr<Picture>(new Picture(surface, false, false));
}

std::shared_ptr<Picture> Picture::FromDib(const DibLayout& layout, const BYTE* bits, int x, int y, int width,
                                          int height)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
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
    return std::shared_ptr<Picture>(new Picture(surface, false, false));
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
    return std::shared_ptr<Picture>(new Picture(surface, !layout.topDown, true));
}

int Picture::Width() const
{
    return cairo_image_surface_get_width(surface_);
}

int Picture::Height() const
{
    return cairo_image_surface_get_height(surface_);
}

bool Picture::CarriesJpeg() const
{
    const unsigned char* data = nullptr;
    unsigned long length = 0;
    cairo_surface_get_mime_data(surface_, CAIRO_MIME_TYPE_JPEG, &data, &length);
    return data != nullptr;
}

std::shared_ptr<Picture> Picture::Grey() const
{
    const cairo_format_t format = cairo_image_surface_get_format(surface_);
    const int width = Width();
    const int height = Height();
    cairo_surface_t* grey = cairo_image_surface_create(format, width, height);
    if (cairo_surface_status(grey) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(grey);
        return nullptr;
    }
    cairo_surface_flush(surface_);
    cairo_surface_flush(grey);
    const BYTE* source = cairo_image_surface_get_data(surface_);
    const std::size_t sourceStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface_));
    BYTE* target = cairo_image_surface_get_data(grey);
    const std::size_t targetStride = static_cast<std::size_t>(cairo_image_surface_get_stride(grey));
    for (int row = 0; row < height; ++row) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(source + row * sourceStride);
        auto* out = reinterpret_cast<std::uint32_t*>(target + row * targetStride);
        for (int column = 0; column < width; ++column) {
            const std::uint32_t pixel = in[column];
            // Luma of the premultiplied colour is the premultiplied luma: the weights sum to one.
            const std::uint32_t luma
                = (299 * ((pixel >> 16) & 0xFF) + 587 * ((pixel >> 8) & 0xFF) + 114 * (pixel & 0xFF) + 500) / 1000;
            out[column] = (pixel & 0xFF000000u) | (luma << 16) | (luma << 8) | luma;
        }
    }
    cairo_surface_mark_dirty(grey);
    return std::shared_ptr<Picture>(new Picture(grey, bottomUp_, false));
}

void Picture::ReadPixels(int x, int y, int width, int height, bool opaque, BYTE* out, std::size_t stride) const
{
    cairo_surface_flush(surface_);
    const bool alpha = cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_ARGB32;
    const BYTE* source = cairo_image_surface_get_data(surface_);
    const std::size_t sourceStride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface_));
    for (int row = 0; row < height; ++row) {
        const int storedRow = bottomUp_ ? Height() - 1 - (y + row) : y + row;
        const auto* in = reinterpret_cast<const std::uint32_t*>(source + storedRow * sourceStride) + x;
        BYTE* target = out + row * stride;
        for (int column = 0; column < width; ++column, target += 4) {
            const std::uint32_t pixel = in[column];
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
}

} // namespace platform::gdi

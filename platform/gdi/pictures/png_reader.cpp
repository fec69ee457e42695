#include "platform/gdi/pictures/png_reader.h"

#include "platform/gdi/pictures/picture.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace platform::gdi {
namespace {

constexpr BYTE kSignatureBytes = 8;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kChunkCrcBytes = 4;
constexpr std::size_t kColourTypeAt = 25;
constexpr BYTE kAlphaColourBit = 4;
// A row of the widest PNG taken, 16-bit RGBA: the most one read row holds before any transform.
constexpr std::size_t kMaxBytesPerPixel = 8;

struct MemorySource {
    const BYTE* data;
    std::size_t size;
    std::size_t at;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (length > source->size - source->at)
        png_error(png, "cut off");
    std::memcpy(out, source->data + source->at, length);
    source->at += length;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp /*message*/)
{
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/)
{}

// What is done with each row read: nothing (a check), or its pixels added to a smaller picture.
struct RowSink {
    void (*take)(void* context, png_uint_32 row, const BYTE* rgba);
    void* context;
};

enum class ReadResult { Read, Damaged, Interlaced };

// Reads all rows into `row` (one row's room, kMaxBytesPerPixel per pixel), as 8-bit RGBA when
// `expand`, each handed to the sink. Only plain C objects live here: libpng may jump out of any
// call in it.
ReadResult ReadRows(std::span<const BYTE> bytes, BYTE* row, bool expand, RowSink sink)
{
    MemorySource source{bytes.data(), bytes.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return ReadResult::Damaged;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return ReadResult::Damaged;
    }
    png_set_read_fn(png, &source, ReadFromMemory);
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_read_info(png, info);
    if (expand) {
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    int passes = 1;
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
        if (sink.take) {
            png_destroy_read_struct(&png, &info, nullptr);
            return ReadResult::Interlaced;
        }
        passes = png_set_interlace_handling(png);
    }
    png_read_update_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, row, nullptr);
            if (sink.take)
                sink.take(sink.context, y, row);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return ReadResult::Read;
}

// True for a PNG with an alpha channel or a transparent colour (a tRNS chunk before its data).
bool HasTransparency(std::span<const BYTE> bytes)
{
    if (bytes.size() <= kColourTypeAt)
        return false;
    if (bytes[kColourTypeAt] & kAlphaColourBit)
        return true;
    for (std::size_t at = kSignatureBytes; bytes.size() - at >= kChunkHeaderBytes;) {
        const std::uint32_t length = (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16)
            | (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
        const BYTE* type = &bytes[at + 4];
        if (std::memcmp(type, "tRNS", 4) == 0)
            return true;
        if (std::memcmp(type, "IDAT", 4) == 0 || length > bytes.size() - at - kChunkHeaderBytes)
            return false;
        at += kChunkHeaderBytes + length;
        if (bytes.size() - at < kChunkCrcBytes)
            return false;
        at += kChunkCrcBytes;
    }
    return false;
}

// A smaller picture made while the rows go by: each target pixel the average of the source pixels
// that fall on it (their colour weighted by their coverage), kept as sums for the one target row
// being made, which is written out when the rows move on to the next.
class Shrinker final {
public:
    Shrinker(int sourceWidth, int sourceHeight, cairo_surface_t* target, bool grey)
        : sourceHeight_(sourceHeight),
          targetWidth_(cairo_image_surface_get_width(target)),
          targetHeight_(cairo_image_surface_get_height(target)),
          grey_(grey),
          column_(static_cast<std::size_t>(sourceWidth)),
          columnCount_(static_cast<std::size_t>(targetWidth_), 0),
          sums_(static_cast<std::size_t>(targetWidth_) * 4, 0),
          target_(cairo_image_surface_get_data(target)),
          stride_(static_cast<std::size_t>(cairo_image_surface_get_stride(target)))
    {
        for (int x = 0; x < sourceWidth; ++x) {
            column_[static_cast<std::size_t>(x)] = static_cast<int>(std::int64_t{x} * targetWidth_ / sourceWidth);
            ++columnCount_[static_cast<std::size_t>(column_[static_cast<std::size_t>(x)])];
        }
    }

    static void Take(void* context, png_uint_32 row, const BYTE* rgba)
    {
        static_cast<Shrinker*>(context)->Add(static_cast<int>(row), rgba);
    }

    // Writes out the last target row.
    void Finish()
    {
        if (rows_ > 0)
            Flush();
    }

private:
    void Add(int row, const BYTE* rgba)
    {
        const int targetRow = static_cast<int>(std::int64_t{row} * targetHeight_ / sourceHeight_);
        if (targetRow != row_ && rows_ > 0)
            Flush();
        row_ = targetRow;
        ++rows_;
        for (std::size_t x = 0; x < column_.size(); ++x, rgba += 4) {
            std::uint64_t* sum = &sums_[static_cast<std::size_t>(column_[x]) * 4];
            const unsigned alpha = rgba[3];
            sum[0] += rgba[0] * alpha;
            sum[1] += rgba[1] * alpha;
            sum[2] += rgba[2] * alpha;
            sum[3] += alpha;
        }
    }

    void Flush()
    {
        auto* out = reinterpret_cast<std::uint32_t*>(target_ + static_cast<std::size_t>(row_) * stride_);
        for (int x = 0; x < targetWidth_; ++x) {
            std::uint64_t* sum = &sums_[static_cast<std::size_t>(x) * 4];
            const std::uint64_t count = std::uint64_t{columnCount_[static_cast<std::size_t>(x)]} * rows_;
            // Premultiplied: the colour sums already carry each pixel's alpha.
            const auto alpha = static_cast<std::uint32_t>((sum[3] + count / 2) / count);
            auto r = static_cast<std::uint32_t>((sum[0] + 255 * count / 2) / (255 * count));
            auto g = static_cast<std::uint32_t>((sum[1] + 255 * count / 2) / (255 * count));
            auto b = static_cast<std::uint32_t>((sum[2] + 255 * count / 2) / (255 * count));
            if (grey_) {
                // Luma of the premultiplied colour is the premultiplied luma: the weights sum to one.
                r = g = b = (299 * r + 587 * g + 114 * b + 500) / 1000;
            }
            out[x] = (alpha << 24) | (r << 16) | (g << 8) | b;
            sum[0] = sum[1] = sum[2] = sum[3] = 0;
        }
        rows_ = 0;
    }

    const int sourceHeight_;
    const int targetWidth_;
    const int targetHeight_;
    const bool grey_;
    std::vector<int> column_;                // the target column of each source column
    std::vector<std::uint32_t> columnCount_; // source columns per target column
    std::vector<std::uint64_t> sums_;        // per target column: red, green, blue (times alpha), alpha
    BYTE* target_;
    std::size_t stride_;
    int row_ = 0;
    std::uint32_t rows_ = 0; // source rows summed into the target row so far
};

} // namespace

PictureFault CheckPngData(std::span<const BYTE> bytes)
{
    const std::optional<DeclaredSize> size = ReadDeclaredSize(bytes, PictureKind::Png);
    if (!size || size->width <= 0 || size->width > kMaxPictureSide)
        return PictureFault::Damaged;
    try {
        std::vector<BYTE> row(static_cast<std::size_t>(size->width) * kMaxBytesPerPixel);
        return ReadRows(bytes, row.data(), false, RowSink{nullptr, nullptr}) == ReadResult::Read
            ? PictureFault::None
            : PictureFault::Damaged;
    } catch (const std::bad_alloc&) {
        return PictureFault::OutOfMemory;
    }
}

cairo_surface_t* ReadPngAtSize(std::span<const BYTE> bytes, int width, int height, bool grey, PictureFault& fault)
{
    const std::optional<DeclaredSize> size = ReadDeclaredSize(bytes, PictureKind::Png);
    if (!size || size->width <= 0 || size->height <= 0 || size->width > kMaxPictureSide
        || size->height > kMaxPictureSide) {
        fault = PictureFault::Damaged;
        return nullptr;
    }
    const int sourceWidth = static_cast<int>(size->width);
    const int sourceHeight = static_cast<int>(size->height);
    width = std::clamp(width, 1, sourceWidth);
    height = std::clamp(height, 1, sourceHeight);
    cairo_surface_t* target
        = cairo_image_surface_create(HasTransparency(bytes) ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(target) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(target);
        fault = PictureFault::OutOfMemory;
        return nullptr;
    }
    cairo_surface_flush(target);
    ReadResult result = ReadResult::Damaged;
    try {
        std::vector<BYTE> row(static_cast<std::size_t>(sourceWidth) * kMaxBytesPerPixel);
        Shrinker shrinker(sourceWidth, sourceHeight, target, grey);
        result = ReadRows(bytes, row.data(), true, RowSink{Shrinker::Take, &shrinker});
        if (result == ReadResult::Read)
            shrinker.Finish();
    } catch (const std::bad_alloc&) {
        cairo_surface_destroy(target);
        fault = PictureFault::OutOfMemory;
        return nullptr;
    }
    if (result != ReadResult::Read) {
        cairo_surface_destroy(target);
        fault = result == ReadResult::Interlaced ? PictureFault::NotAPicture : PictureFault::Damaged;
        return nullptr;
    }
    cairo_surface_mark_dirty(target);
    return target;
}

} // namespace platform::gdi

// Picture files made for tests: a picture of four coloured quarters in each kind the platform
// decodes (JPEG, PNG and BMP through gdk-pixbuf, CMYK JPEG through libjpeg, TIFF and GIF written
// here, with pages, frames and an orientation tag), JPEGs with an EXIF orientation, and damaged
// copies. Quarters make a turn or a mirror of the picture plain to see.
#pragma once

#include "tests/gdi/gdi_test_support.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>

namespace picture_files {

using gdi_test::Colour;

// The four quarters of a picture as seen.
struct Quarters {
    Colour topLeft;
    Colour topRight;
    Colour bottomLeft;
    Colour bottomRight;

    Colour At(int x, int y, int width, int height) const
    {
        const bool right = x >= width / 2;
        const bool bottom = y >= height / 2;
        return bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft);
    }
};

constexpr Colour kYellow{255, 230, 0};
constexpr Quarters kFourColours{gdi_test::kRed, gdi_test::kGreen, gdi_test::kBlue, kYellow};
constexpr Quarters kAllRed{gdi_test::kRed, gdi_test::kRed, gdi_test::kRed, gdi_test::kRed};
constexpr Quarters kAllBlue{gdi_test::kBlue, gdi_test::kBlue, gdi_test::kBlue, gdi_test::kBlue};

// The colour of each pixel of a picture.
using Painter = std::function<Colour(int x, int y)>;

// RGB rows, 3 bytes a pixel, no padding.
inline std::vector<BYTE> PaintedRows(int width, int height, const Painter& paint)
{
    std::vector<BYTE> rows(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour colour = paint(x, y);
            BYTE* pixel = &rows[(static_cast<std::size_t>(y) * width + x) * 3];
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
    }
    return rows;
}

inline std::vector<BYTE> QuarterRows(int width, int height, const Quarters& quarters)
{
    return PaintedRows(width, height, [&](int x, int y) { return quarters.At(x, y, width, height); });
}

// A JPEG, PNG or BMP written by gdk-pixbuf ("jpeg", "png", "bmp").
inline std::vector<BYTE> SavedPicture(const std::string& type, int width, int height, const Painter& paint)
{
    std::vector<BYTE> rows = PaintedRows(width, height, paint);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(rows.data(), GDK_COLORSPACE_RGB, FALSE, 8, width, height, width * 3,
                                                 nullptr, nullptr);
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    const bool saved = type == "jpeg"
        ? gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", &error, "quality", "95", nullptr)
        : gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type.c_str(), &error, nullptr);
    g_object_unref(pixbuf);
    EXPECT_TRUE(saved) << type << ": " << (error ? error->message : "");
    g_clear_error(&error);
    std::vector<BYTE> bytes(buffer, buffer + size);
    g_free(buffer);
    return bytes;
}

inline void PutLittle16(std::vector<BYTE>& out, unsigned value)
{
    out.push_back(static_cast<BYTE>(value));
    out.push_back(static_cast<BYTE>(value >> 8));
}

inline void PutLittle32(std::vector<BYTE>& out, std::uint32_t value)
{
    PutLittle16(out, value & 0xFFFF);
    PutLittle16(out, value >> 16);
}

inline std::vector<BYTE> SavedPicture(const std::string& type, int width, int height, const Quarters& quarters)
{
    return SavedPicture(type, width, height, [&](int x, int y) { return quarters.At(x, y, width, height); });
}

// An uncompressed RGB TIFF of one page per entry of `pages`, with an orientation tag unless it is 0.
inline std::vector<BYTE> TiffPicture(int width, int height, const std::vector<Quarters>& pages, int orientation = 0)
{
    std::vector<BYTE> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
    std::size_t link = 4; // where the next page's offset goes
    for (const Quarters& page : pages) {
        const std::vector<BYTE> rows = QuarterRows(width, height, page);
        const auto strip = static_cast<std::uint32_t>(out.size());
        out.insert(out.end(), rows.begin(), rows.end());
        const auto bits = static_cast<std::uint32_t>(out.size());
        out.insert(out.end(), {8, 0, 8, 0, 8, 0});
        if (out.size() % 2)
            out.push_back(0); // directories start on a word
        for (int i = 0; i < 4; ++i)
            out[link + i] = static_cast<BYTE>(out.size() >> (8 * i));
        // Tag, type (3 short, 4 long), count, value; in tag order.
        std::vector<std::array<std::uint32_t, 4>> entries = {{256, 4, 1, std::uint32_t(width)},
                                                             {257, 4, 1, std::uint32_t(height)},
                                                             {258, 3, 3, bits},
                                                             {259, 3, 1, 1},
                                                             {262, 3, 1, 2},
                                                             {273, 4, 1, strip},
                                                             {274, 3, 1, std::uint32_t(orientation)},
                                                             {277, 3, 1, 3},
                                                             {278, 4, 1, std::uint32_t(height)},
                                                             {279, 4, 1, std::uint32_t(rows.size())}};
        if (orientation == 0)
            entries.erase(entries.begin() + 6);
        PutLittle16(out, static_cast<unsigned>(entries.size()));
        for (const auto& [tag, type, count, value] : entries) {
            PutLittle16(out, tag);
            PutLittle16(out, type);
            PutLittle32(out, count);
            PutLittle32(out, value); // a short is the low half of the field
        }
        link = out.size();
        PutLittle32(out, 0);
    }
    return out;
}

// A GIF of one frame per entry of `frames`: four colours, three-bit LZW codes kept that short by
// a clear code (4) before every second pixel, an end code (5) closing the frame.
inline std::vector<BYTE> GifPicture(int width, int height, const std::vector<Quarters>& frames)
{
    std::vector<BYTE> out = {'G', 'I', 'F', '8', '9', 'a'};
    PutLittle16(out, static_cast<unsigned>(width));
    PutLittle16(out, static_cast<unsigned>(height));
    out.insert(out.end(), {0, 0, 0}); // no global colour table
    for (const Quarters& frame : frames) {
        out.insert(out.end(), {0x2C, 0, 0, 0, 0});
        PutLittle16(out, static_cast<unsigned>(width));
        PutLittle16(out, static_cast<unsigned>(height));
        out.push_back(0x81); // a local table of four colours
        for (const Colour& colour : {frame.topLeft, frame.topRight, frame.bottomLeft, frame.bottomRight})
            out.insert(out.end(), {colour.r, colour.g, colour.b});
        out.push_back(2); // the smallest code size
        std::vector<BYTE> data;
        std::uint32_t bits = 0;
        int count = 0;
        auto put = [&](unsigned code) {
            bits |= code << count;
            for (count += 3; count >= 8; count -= 8, bits >>= 8)
                data.push_back(static_cast<BYTE>(bits));
        };
        for (int i = 0; i < width * height; ++i) {
            if (i % 2 == 0)
                put(4);
            put((i / width >= height / 2 ? 2u : 0u) + (i % width >= width / 2 ? 1u : 0u));
        }
        put(5);
        if (count > 0)
            data.push_back(static_cast<BYTE>(bits));
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t block = std::min<std::size_t>(255, data.size() - at);
            out.push_back(static_cast<BYTE>(block));
            out.insert(out.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + block));
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

// The JPEG with an EXIF segment holding an orientation tag (after a resolution unit) put after its
// start-of-image marker, in little- or big-endian byte order.
inline std::vector<BYTE> WithExifOrientation(const std::vector<BYTE>& jpeg, int orientation, bool bigEndian = false)
{
    const auto o = static_cast<BYTE>(orientation);
    const std::vector<BYTE> segment = bigEndian
        ? std::vector<BYTE>{0xFF, 0xE1, 0, 46, 'E',  'x',  'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0,
                            0,    8,    0, 2,  0x01, 0x28, 0,   3,   0, 0, 0,   1,   0, 2,  0, 0,
                            0x01, 0x12, 0, 3,  0,    0,    0,   1,   0, o, 0,   0,   0, 0,  0, 0}
        : std::vector<BYTE>{0xFF, 0xE1, 0, 46, 'E',  'x',  'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0,
                            0,    0,    2, 0,  0x28, 0x01, 3,   0,   1, 0, 0,   0,   2,  0, 0, 0,
                            0x12, 0x01, 3, 0,  1,    0,    0,   0,   o, 0, 0,   0,   0,  0, 0, 0};
    // Copied into place rather than inserted: GCC 12 at -O3 misreads the inserts as overflows.
    std::vector<BYTE> out(jpeg.size() + segment.size());
    std::copy_n(jpeg.begin(), 2, out.begin());
    std::copy(segment.begin(), segment.end(), out.begin() + 2);
    std::copy(jpeg.begin() + 2, jpeg.end(), out.begin() + 2 + static_cast<std::ptrdiff_t>(segment.size()));
    return out;
}

// A CMYK JPEG of one colour given as ink amounts, stored inverted as Adobe's programs store them
// (libjpeg marks it with an Adobe segment).
inline std::vector<BYTE> CmykJpeg(int width, int height, BYTE c, BYTE m, BYTE y, BYTE k)
{
    jpeg_compress_struct encoder;
    jpeg_error_mgr errors;
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&encoder, &buffer, &size);
    encoder.image_width = static_cast<JDIMENSION>(width);
    encoder.image_height = static_cast<JDIMENSION>(height);
    encoder.input_components = 4;
    encoder.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 95, TRUE);
    jpeg_start_compress(&encoder, TRUE);
    std::vector<BYTE> row;
    for (int i = 0; i < width; ++i)
        row.insert(row.end(),
                   {static_cast<BYTE>(255 - c), static_cast<BYTE>(255 - m), static_cast<BYTE>(255 - y),
                    static_cast<BYTE>(255 - k)});
    while (encoder.next_scanline < encoder.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&encoder, rows, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    std::vector<BYTE> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// The JPEG with its (baseline) frame header claiming another size.
inline std::vector<BYTE> WithFrameSize(std::vector<BYTE> jpeg, int width, int height)
{
    std::size_t frame = 2;
    while (frame + 9 < jpeg.size() && !(jpeg[frame] == 0xFF && jpeg[frame + 1] == 0xC0))
        ++frame;
    const BYTE size[] = {BYTE(height >> 8), BYTE(height), BYTE(width >> 8), BYTE(width)};
    std::copy(std::begin(size), std::end(size), jpeg.begin() + std::ptrdiff_t(frame + 5));
    return jpeg;
}

// The bytes with `count` bytes from the middle on turned into others.
inline std::vector<BYTE> Corrupted(std::vector<BYTE> bytes, std::size_t count = 64)
{
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + count && i < bytes.size(); ++i)
        bytes[i] ^= 0x5A;
    return bytes;
}

// The first `share` of the bytes.
inline std::vector<BYTE> CutOff(const std::vector<BYTE>& bytes, double share = 0.6)
{
    return std::vector<BYTE>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * share));
}

// Expects each (x, y) of a rendered page to show its colour.
inline void ExpectColours(const gdi_test::Page& page, std::initializer_list<std::tuple<int, int, Colour>> probes)
{
    ASSERT_FALSE(page.rgb.empty()) << "no page to look at";
    for (const auto& [x, y, colour] : probes)
        EXPECT_TRUE(gdi_test::Near(page.At(x, y), colour)) << x << "," << y << ": " << gdi_test::Describe(page.At(x, y))
                                                           << " instead of " << gdi_test::Describe(colour);
}

// A path as the platform takes it (the test folders' names are ASCII).
inline std::u16string WidePath(const std::filesystem::path& path)
{
    const std::string text = path.string();
    return std::u16string(text.begin(), text.end());
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<BYTE>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace picture_files

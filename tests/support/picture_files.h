// Picture files made for tests: a picture of four coloured quarters in each kind the platform
// decodes (JPEG, PNG and BMP through gdk-pixbuf, CMYK JPEG through libjpeg, TIFF and GIF written
// here, with pages, frames and an orientation tag), JPEGs with an EXIF orientation, and damaged
// copies. Quarters make a turn or a mirror of the picture plain to see.
#pragma once

#include "tests/gdi/gdi_test_support.h"

#include <csetjmp>
#include <cstdio>
#include <functional>
#include <string>
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

// An uncompressed RGB TIFF, one page per entry of `pages`, each in one strip; an orientation tag
// on every page when `orientation` is not 0. `declaredWidth`/`declaredHeight` (when not 0) are
// written in place of the real size, for a header that promises more than the data holds.
inline std::vector<BYTE> TiffPicture(int width, int height, const std::vector<Quarters>& pages, int orientation = 0,
                                     int declaredWidth = 0, int declaredHeight = 0)
{
    std::vector<BYTE> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
    std::size_t nextDirectoryField = 4;
    for (const Quarters& page : pages) {
        const std::vector<BYTE> rows = QuarterRows(width, height, page);
        const auto stripOffset = static_cast<std::uint32_t>(out.size());
        out.insert(out.end(), rows.begin(), rows.end());
        const auto bitsOffset = static_cast<std::uint32_t>(out.size());
        for (int i = 0; i < 3; ++i)
            PutLittle16(out, 8);
        if (out.size() % 2)
            out.push_back(0);
        const auto directory = static_cast<std::uint32_t>(out.size());
        for (int i = 0; i < 4; ++i)
            out[nextDirectoryField + i] = static_cast<BYTE>(directory >> (8 * i));
        struct Entry {
            unsigned tag;
            unsigned type; // 3 short, 4 long
            std::uint32_t count;
            std::uint32_t value;
        };
        std::vector<Entry> entries = {
            {256, 4, 1, static_cast<std::uint32_t>(declaredWidth ? declaredWidth : width)},
            {257, 4, 1, static_cast<std::uint32_t>(declaredHeight ? declaredHeight : height)},
            {258, 3, 3, bitsOffset},
            {259, 3, 1, 1}, // no compression
            {262, 3, 1, 2}, // RGB
            {273, 4, 1, stripOffset},
            {277, 3, 1, 3},
            {278, 4, 1, static_cast<std::uint32_t>(height)},
            {279, 4, 1, static_cast<std::uint32_t>(rows.size())},
            {284, 3, 1, 1}, // samples interleaved
        };
        if (orientation != 0)
            entries.insert(entries.begin() + 6, Entry{274, 3, 1, static_cast<std::uint32_t>(orientation)});
        PutLittle16(out, static_cast<unsigned>(entries.size()));
        for (const Entry& entry : entries) {
            PutLittle16(out, entry.tag);
            PutLittle16(out, entry.type);
            PutLittle32(out, entry.count);
            if (entry.type == 3 && entry.count == 1) {
                PutLittle16(out, entry.value);
                PutLittle16(out, 0);
            } else {
                PutLittle32(out, entry.value);
            }
        }
        nextDirectoryField = out.size();
        PutLittle32(out, 0);
    }
    return out;
}

// A GIF of one frame per entry of `frames` (four colours, LZW codes of three bits kept that short
// by a clear code before every second pixel).
inline std::vector<BYTE> GifPicture(int width, int height, const std::vector<Quarters>& frames)
{
    std::vector<BYTE> out = {'G', 'I', 'F', '8', '9', 'a'};
    PutLittle16(out, static_cast<unsigned>(width));
    PutLittle16(out, static_cast<unsigned>(height));
    out.insert(out.end(), {0x00, 0, 0}); // no global colour table
    for (const Quarters& frame : frames) {
        const Colour palette[4] = {frame.topLeft, frame.topRight, frame.bottomLeft, frame.bottomRight};
        out.push_back(0x2C);
        PutLittle16(out, 0);
        PutLittle16(out, 0);
        PutLittle16(out, static_cast<unsigned>(width));
        PutLittle16(out, static_cast<unsigned>(height));
        out.push_back(0x81); // a local colour table of four entries
        for (const Colour& colour : palette)
            out.insert(out.end(), {colour.r, colour.g, colour.b});
        out.push_back(2); // LZW minimum code size
        std::vector<BYTE> data;
        std::uint32_t bits = 0;
        int bitCount = 0;
        auto put = [&](unsigned code) {
            bits |= code << bitCount;
            bitCount += 3;
            while (bitCount >= 8) {
                data.push_back(static_cast<BYTE>(bits));
                bits >>= 8;
                bitCount -= 8;
            }
        };
        constexpr unsigned kClear = 4;
        constexpr unsigned kEnd = 5;
        for (int i = 0; i < width * height; ++i) {
            if (i % 2 == 0)
                put(kClear);
            const int x = i % width;
            const int y = i / width;
            put((y >= height / 2 ? 2u : 0u) + (x >= width / 2 ? 1u : 0u));
        }
        put(kEnd);
        if (bitCount > 0)
            data.push_back(static_cast<BYTE>(bits));
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t block = std::min<std::size_t>(255, data.size() - at);
            out.push_back(static_cast<BYTE>(block));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + block));
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

// The JPEG with an EXIF segment holding an orientation tag put after its start-of-image marker.
inline std::vector<BYTE> WithExifOrientation(const std::vector<BYTE>& jpeg, int orientation, bool bigEndian = false)
{
    auto put16 = [&](std::vector<BYTE>& out, unsigned value) {
        if (bigEndian) {
            out.push_back(static_cast<BYTE>(value >> 8));
            out.push_back(static_cast<BYTE>(value));
        } else {
            PutLittle16(out, value);
        }
    };
    auto put32 = [&](std::vector<BYTE>& out, std::uint32_t value) {
        put16(out, bigEndian ? value >> 16 : value & 0xFFFF);
        put16(out, bigEndian ? value & 0xFFFF : value >> 16);
    };
    std::vector<BYTE> tiff = {static_cast<BYTE>(bigEndian ? 'M' : 'I'), static_cast<BYTE>(bigEndian ? 'M' : 'I')};
    put16(tiff, 42);
    put32(tiff, 8);
    put16(tiff, 2);
    // A resolution unit first, so that the orientation is not the directory's only entry.
    put16(tiff, 0x0128);
    put16(tiff, 3);
    put32(tiff, 1);
    put16(tiff, 2);
    put16(tiff, 0);
    put16(tiff, 0x0112);
    put16(tiff, 3);
    put32(tiff, 1);
    put16(tiff, static_cast<unsigned>(orientation));
    put16(tiff, 0);
    put32(tiff, 0);
    std::vector<BYTE> segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    const std::size_t length = segment.size() - 2;
    segment[2] = static_cast<BYTE>(length >> 8);
    segment[3] = static_cast<BYTE>(length);
    std::vector<BYTE> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
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

// The offset of a JPEG's baseline frame header (its marker), or 0.
inline std::size_t FrameOffset(const std::vector<BYTE>& jpeg)
{
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0)
            return i;
    }
    return 0;
}

// The JPEG with its frame header claiming another size.
inline std::vector<BYTE> WithFrameSize(std::vector<BYTE> jpeg, int width, int height)
{
    const std::size_t frame = FrameOffset(jpeg);
    jpeg[frame + 5] = static_cast<BYTE>(height >> 8);
    jpeg[frame + 6] = static_cast<BYTE>(height);
    jpeg[frame + 7] = static_cast<BYTE>(width >> 8);
    jpeg[frame + 8] = static_cast<BYTE>(width);
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

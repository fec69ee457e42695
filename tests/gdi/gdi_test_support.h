// Test support for device contexts and metafiles: a private root with the sample printers, bitmaps
// of known colours, pictures made with gdk-pixbuf, and a job's PDF looked at the way a person
// would: rendered with pdftoppm and probed pixel by pixel.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/kernel/host.h"
#include "platform/spooler/spooler.h"
#include "tests/support/temp_root.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace gdi_test {

namespace fs = std::filesystem;

struct Colour {
    BYTE r = 0;
    BYTE g = 0;
    BYTE b = 0;
};
constexpr Colour kRed{255, 0, 0};
constexpr Colour kGreen{0, 200, 0};
constexpr Colour kBlue{0, 0, 255};
constexpr Colour kWhite{255, 255, 255};

// Text appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "text" + std::string.
template <typename... Pieces>
std::string Joined(const Pieces&... pieces)
{
    std::string text;
    (text.append(pieces), ...);
    return text;
}

inline LPWSTR Name(const char16_t* text)
{
    return const_cast<LPWSTR>(text);
}

// A bitmap as StretchDIBits takes it: its header and its rows.
struct Dib {
    BITMAPINFO info{};
    std::vector<BYTE> bits;

    const BITMAPINFO* Info() const { return &info; }
    const void* Bits() const { return bits.data(); }
};

// A 24- or 32-bit bitmap of `width` x `height` whose upper half (as shown) is `top` and lower half
// `bottom`; stored top-down or bottom-up.
inline Dib TwoBandBitmap(int width, int height, int bitCount, bool topDown, Colour top, Colour bottom)
{
    Dib dib;
    BITMAPINFOHEADER& header = dib.info.bmiHeader;
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = topDown ? -height : height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitCount);
    header.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
    dib.bits.assign(stride * height, 0);
    for (int row = 0; row < height; ++row) {
        const int shownRow = topDown ? row : height - 1 - row;
        const Colour colour = shownRow < height / 2 ? top : bottom;
        BYTE* out = dib.bits.data() + row * stride;
        for (int column = 0; column < width; ++column, out += bitCount / 8) {
            out[0] = colour.b;
            out[1] = colour.g;
            out[2] = colour.r;
        }
    }
    return dib;
}

// A picture encoded by gdk-pixbuf ("jpeg" or "png"): left half `left`, right half `right`.
inline std::vector<BYTE> EncodedPicture(const char* type, int width, int height, Colour left, Colour right)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const Colour colour = column < width / 2 ? left : right;
            guchar* pixel = pixels + row * stride + column * 3;
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
    }
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    const bool saved = std::string(type) == "jpeg"
        ? gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, &error, "quality", "95", nullptr)
        : gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, &error, nullptr);
    g_object_unref(pixbuf);
    EXPECT_TRUE(saved);
    g_clear_error(&error);
    std::vector<BYTE> bytes(buffer, buffer + size);
    g_free(buffer);
    return bytes;
}

// The BITMAPINFO of a compressed picture for StretchDIBits.
inline BITMAPINFO CompressedInfo(DWORD compression, int width, int height, std::size_t size)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 0;
    info.bmiHeader.biCompression = compression;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(size);
    return info;
}

// One rendered page: RGB pixels.
struct Page {
    int width = 0;
    int height = 0;
    std::vector<BYTE> rgb;

    Colour At(int x, int y) const
    {
        const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
        return Colour{rgb[at], rgb[at + 1], rgb[at + 2]};
    }
};

inline bool Near(Colour a, Colour b, int tolerance = 40)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

inline std::string Describe(Colour c)
{
    return Joined("(", std::to_string(c.r), ",", std::to_string(c.g), ",", std::to_string(c.b), ")");
}

inline std::string Quoted(const fs::path& path)
{
    return Joined("'", path.string(), "'");
}

// Renders one page of a PDF at `dpi` with pdftoppm.
inline Page RenderPage(const fs::path& pdf, int page, int dpi)
{
    const fs::path prefix = pdf.parent_path() / Joined("render-", pdf.stem().string(), "-", std::to_string(page));
    const std::string command = Joined("pdftoppm -r ", std::to_string(dpi), " -f ", std::to_string(page), " -l ",
                                       std::to_string(page), " -singlefile ", Quoted(pdf), " ", Quoted(prefix));
    Page result;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "pdftoppm failed on " << pdf;
        return result;
    }
    std::ifstream in(prefix.string() + ".ppm", std::ios::binary);
    std::string magic;
    int maximum = 0;
    in >> magic >> result.width >> result.height >> maximum;
    in.get();
    result.rgb.resize(static_cast<std::size_t>(result.width) * result.height * 3);
    in.read(reinterpret_cast<char*>(result.rgb.data()), static_cast<std::streamsize>(result.rgb.size()));
    EXPECT_EQ(magic, "P6");
    fs::remove(prefix.string() + ".ppm");
    return result;
}

// One line of pdfinfo's answer ("Pages", "Title", "Page size"...), without its label.
inline std::string PdfInfo(const fs::path& pdf, const std::string& field)
{
    const std::string command = Joined("pdfinfo ", Quoted(pdf), " 2>/dev/null");
    FILE* pipe = popen(command.c_str(), "r");
    std::string text;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    if (pipe)
        pclose(pipe);
    const std::size_t at = text.find(field + ":");
    if (at == std::string::npos)
        return {};
    std::size_t start = text.find_first_not_of(' ', at + field.size() + 1);
    return text.substr(start, text.find('\n', start) - start);
}

// Metafile bytes taken apart.
struct Record {
    DWORD type = 0;
    std::vector<BYTE> bytes; // the whole record
};

template <typename T>
T Field(const std::vector<BYTE>& bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <typename T>
void SetField(std::vector<BYTE>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

inline std::vector<BYTE> BytesOf(HENHMETAFILE metafile)
{
    std::vector<BYTE> bytes(GetEnhMetaFileBits(metafile, 0, nullptr));
    EXPECT_EQ(GetEnhMetaFileBits(metafile, static_cast<UINT>(bytes.size()), bytes.data()), bytes.size());
    return bytes;
}

// The records of well-formed metafile bytes, split by their sizes.
inline std::vector<Record> RecordsOf(const std::vector<BYTE>& bytes)
{
    std::vector<Record> records;
    for (std::size_t offset = 0; offset + 8 <= bytes.size();) {
        const DWORD size = Field<DWORD>(bytes, offset + 4);
        if (size < 8 || offset + size > bytes.size())
            break;
        records.push_back(
            {Field<DWORD>(bytes, offset), std::vector<BYTE>(bytes.begin() + offset, bytes.begin() + offset + size)});
        offset += size;
    }
    return records;
}

inline std::vector<DWORD> TypesOf(const std::vector<Record>& records)
{
    std::vector<DWORD> types;
    for (const Record& record : records)
        types.push_back(record.type);
    return types;
}

inline ENHMETAHEADER HeaderOf(HENHMETAFILE metafile)
{
    ENHMETAHEADER header{};
    EXPECT_EQ(GetEnhMetaFileHeader(metafile, sizeof header, &header), sizeof header);
    return header;
}

// A private root with the sample printers installed, and the spool folder of a printer in it.
class GdiRoot : public ::testing::Test {
protected:
    GdiRoot() { root_.InstallSamplePrinters(QUILLON_SOURCE_DIR); }

    fs::path SpoolFolder(const std::string& printer) const { return root_.Path() / "var/spool/quillon" / printer; }

    // Installs an extra printer definition.
    void InstallPrinter(const std::string& fileName, const std::string& text) const
    {
        std::ofstream(root_.Path() / "etc/quillon/printers" / fileName) << text;
    }

    // The names of the files in a printer's spool folder, sorted, hidden ones included.
    std::vector<std::string> SpoolFiles(const std::string& printer) const
    {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(SpoolFolder(printer), error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testing_support::TempRoot root_;
};

} // namespace gdi_test

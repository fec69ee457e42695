// PDF documents made inside the tests, and a whole-page raster assembled from the renderer's bands.
#pragma once

#include "plugins/pdf/renderer.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pdf_test {

// A page written by hand: boxes as "x0 y0 x1 y1" in points, a content stream in PDF operators
// (y up from the bottom of the media box), and extra entries for the page dictionary.
struct HandPage {
    std::string mediaBox = "0 0 600 800";
    std::string cropBox;
    int rotate = 0;
    std::string content;
    std::string extra;
};

// Writes objects with a correct cross-reference table. Object numbers start at 1.
class PdfWriter {
public:
    int Add(const std::string& body);
    int AddStream(const std::string& dictionaryEntries, const std::string& data);
    // Object numbers of the next objects, for objects that refer to ones not yet added.
    int Next() const { return static_cast<int>(bodies_.size()) + 1; }
    std::string Finish(int catalog, const std::string& trailerExtra = "") const;

private:
    std::vector<std::string> bodies_;
};

// A document of the given pages, each filling its content with the given operators.
std::string HandWrittenPdf(const std::vector<HandPage>& pages);

// A document of `pages` Letter pages full of text, made by cairo's PDF surface (fonts embedded).
std::string CairoTextPdf(int pages);

// The document encrypted by qpdf (AES-256): empty user password opens without one.
std::string Encrypted(const std::string& pdf, const std::string& userPassword);

std::span<const BYTE> Bytes(const std::string& text);

// A page rendered through pdf::RenderPage into one raster the size of the bounds. Pixels no band
// covered keep the value kUntouched.
struct Raster {
    static constexpr std::uint32_t kUntouched = 0x00123456;
    static constexpr std::uint32_t kWhite = 0xFFFFFFFF;

    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    int bands = 0;

    std::uint32_t At(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    // Fraction of the pixels in [x0, x1) × [y0, y1) that equal `value`.
    double Share(int x0, int y0, int x1, int y1, std::uint32_t value) const;
};

// Colours as a 32-bit BI_RGB pixel with its opaque top byte.
constexpr std::uint32_t Rgb(int r, int g, int b)
{
    return 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

// Renders one page into bounds (0, 0, width, height) at `dpi`; `ok` tells what RenderPage answered.
Raster Render(const std::string& pdf, int page, int width, int height, int dpi, const pdf::RenderOptions& options = {},
              std::size_t bandBytes = pdf::BandRenderer::kBandBytes, bool* ok = nullptr);

} // namespace pdf_test

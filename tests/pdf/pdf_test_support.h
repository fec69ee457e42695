// PDF documents made inside the tests, and a whole-page raster assembled from the renderer's bands.
#pragma once

#include "plugins/pdf/renderer.h"
#include "tests/support/pdf_writer.h"

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
using PdfWriter = testing_support::PdfWriter;

// A document of the given pages, each filling its content with the given operators.
std::string HandWrittenPdf(const std::vector<HandPage>& pages);

// A document of `pages` Letter pages full of text, made by cairo's PDF surface (fonts embedded).
std::string CairoTextPdf(int pages);

// A Letter document made by cairo of what the renderer draws as GDI calls, and one page it cannot:
//  1. shapes: dashed lines (with phases), the three joins, an even-odd star, nested clips, a thin
//     0.4-point rule, a circle stroked under a non-uniform scale, text upright, turned and stretched;
//  2. pictures: an image with an alpha channel (a soft mask), a stencil (an image mask), an opaque
//     image, and Type 3 glyphs (a user font);
//  3. a landscape page of text;
//  4. text and thin rules under a half-transparent group of shapes: a page drawn as a picture.
std::string FeaturePdf();

// A one-page document whose content stream (compressed) paints `fills` small squares, one
// "1 1 1 1 re f" each: a small file that costs as many drawing operations.
std::string ManyFillsPdf(int fills);

// The document encrypted by qpdf (AES-256): empty user password opens without one.
std::string Encrypted(const std::string& pdf, const std::string& userPassword);

std::span<const BYTE> Bytes(const std::string& text);

// A page rendered through pdf::RenderPage onto a printer whose sheet is a bitmap of the bounds'
// size, its job read back with pdftoppm, as 0x00RRGGBB pixels: the sheet is white where nothing
// was painted.
struct Raster {
    static constexpr std::uint32_t kWhite = 0x00FFFFFF;

    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t At(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    // Fraction of the pixels in [x0, x1) × [y0, y1) that equal `value`.
    double Share(int x0, int y0, int x1, int y1, std::uint32_t value) const;
};

constexpr std::uint32_t Rgb(int r, int g, int b)
{
    return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

// Renders one page into bounds (left, top, width, height) on a sheet of (left + width) × (top +
// height) dots, or the sheet the call names, each dot a tenth of a millimetre; the bounds are
// measured at `dpi`. `ok` tells what RenderPage answered.
struct RenderCall {
    int page = 0;
    int width = 600;
    int height = 800;
    int dpi = 72;
    int left = 0;
    int top = 0;
    // The sheet, when larger than the bounds and their corner.
    int sheetWidth = 0;
    int sheetHeight = 0;
    pdf::RenderOptions options;
    std::size_t bandBytes = pdf::BandRenderer::kBandBytes;
    pdf::PageLimits limits;
};
Raster Render(const std::string& pdf, const RenderCall& call, bool* ok = nullptr);

} // namespace pdf_test

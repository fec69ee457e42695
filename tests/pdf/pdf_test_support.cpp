#include "tests/pdf/pdf_test_support.h"

#include "tests/support/temp_root.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pdf_test {

int PdfWriter::Add(const std::string& body)
{
    bodies_.push_back(body);
    return static_cast<int>(bodies_.size());
}

int PdfWriter::AddStream(const std::string& dictionaryEntries, const std::string& data)
{
    return Add("<< " + dictionaryEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data
               + "\nendstream");
}

std::string PdfWriter::Finish(int catalog, const std::string& trailerExtra) const
{
    std::string out = "%PDF-1.7\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < bodies_.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + bodies_[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies_.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies_.size() + 1) + " /Root " + std::to_string(catalog) + " 0 R "
        + trailerExtra + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string HandWrittenPdf(const std::vector<HandPage>& pages)
{
    PdfWriter writer;
    const int catalog = writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    // Pages tree at 2, then each page followed by its content stream.
    for (std::size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    writer.Add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (const HandPage& page : pages) {
        std::string dictionary = "<< /Type /Page /Parent 2 0 R /MediaBox [" + page.mediaBox + "]";
        if (!page.cropBox.empty())
            dictionary += " /CropBox [" + page.cropBox + "]";
        if (page.rotate != 0)
            dictionary += " /Rotate " + std::to_string(page.rotate);
        dictionary += " /Contents " + std::to_string(writer.Next() + 1) + " 0 R " + page.extra + ">>";
        writer.Add(dictionary);
        writer.AddStream("", page.content);
    }
    return writer.Finish(catalog);
}

// The serif face of Debian's fonts-dejavu-core, loaded from its file once for the program: cairo's
// own font lookup through fontconfig leaves allocations behind that the leak checker reports.
cairo_font_face_t* SerifFont()
{
    static cairo_font_face_t* const font = [] {
        constexpr char kPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
        FT_Library freetype = nullptr;
        FT_Face face = nullptr;
        if (FT_Init_FreeType(&freetype) != 0 || FT_New_Face(freetype, kPath, 0, &face) != 0)
            throw std::runtime_error(std::string("cannot load ") + kPath);
        return cairo_ft_font_face_create_for_ft_face(face, 0);
    }();
    return font;
}

std::string CairoTextPdf(int pages)
{
    std::string out;
    auto append = [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    };
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    cairo_set_font_face(context, SerifFont());
    cairo_set_font_size(context, 10);
    for (int page = 0; page < pages; ++page) {
        for (int line = 0; line < 56; ++line) {
            cairo_move_to(context, 54, 72 + line * 12);
            const std::string text = "Page " + std::to_string(page + 1) + ", line " + std::to_string(line + 1)
                + ": the quick brown fox jumps over the lazy dog 0123456789.";
            cairo_show_text(context, text.c_str());
        }
        cairo_show_page(context);
    }
    cairo_destroy(context);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return out;
}

std::string Encrypted(const std::string& pdf, const std::string& userPassword)
{
    testing_support::TempRoot folder;
    const auto in = folder.Path() / "in.pdf";
    const auto out = folder.Path() / "out.pdf";
    std::ofstream(in, std::ios::binary) << pdf;
    const std::string command
        = "qpdf --encrypt '" + userPassword + "' owner-secret 256 -- '" + in.string() + "' '" + out.string() + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("qpdf failed: " + command);
    return testing_support::ReadWholeFile(out);
}

std::span<const BYTE> Bytes(const std::string& text)
{
    return {reinterpret_cast<const BYTE*>(text.data()), text.size()};
}

double Raster::Share(int x0, int y0, int x1, int y1, std::uint32_t value) const
{
    std::size_t matching = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            matching += At(x, y) == value ? 1 : 0;
    return double(matching) / (double(x1 - x0) * double(y1 - y0));
}

Raster Render(const std::string& pdf, int page, int width, int height, int dpi, const pdf::RenderOptions& options,
              std::size_t bandBytes, bool* ok)
{
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.pixels.assign(std::size_t(width) * height, Raster::kUntouched);
    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = static_cast<int>(pdf.size());
    request.page = page;
    request.dpiX = dpi;
    request.dpiY = dpi;
    request.width = width;
    request.height = height;
    request.options = options;
    const bool rendered = pdf::RenderPage(
        request,
        [&](const pdf::Band& band) {
            const auto* rows = reinterpret_cast<const std::uint32_t*>(band.pixels);
            for (int y = 0; y < band.height; ++y)
                std::copy_n(rows + std::size_t(y) * band.width, band.width,
                            raster.pixels.begin() + std::size_t(band.top + y) * width + band.left);
            ++raster.bands;
            return true;
        },
        bandBytes);
    if (ok)
        *ok = rendered;
    return raster;
}

} // namespace pdf_test

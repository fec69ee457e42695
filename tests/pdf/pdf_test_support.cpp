#include "tests/pdf/pdf_test_support.h"

#include "tests/support/temp_root.h"

#include "platform/gdi/gdi.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace pdf_test {

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

Raster Render(const std::string& pdf, const RenderCall& call, bool* ok)
{
    // A printer whose sheet is the bitmap: ten dots a millimetre (254 per inch), no margins, so
    // that the job's page read back at 254 dpi has a pixel for every dot.
    testing_support::TempRoot root;
    const int width = call.sheetWidth > 0 ? call.sheetWidth : call.left + call.width;
    const int height = call.sheetHeight > 0 ? call.sheetHeight : call.top + call.height;
    const auto printers = root.Path() / "etc/quillon/printers";
    std::filesystem::create_directories(printers);
    std::ofstream(printers / "Raster.printer")
        << "[printer]\nname = Raster\nresolution = 254\ndefault-paper = 256\n"
           "color = yes\n\n[paper 256]\nname = Bitmap\nsize = "
        << width / 10 << "." << width % 10 << " x " << height / 10 << "." << height % 10 << "\nmargins = 0\n";
    HDC dc = CreateDCW(u"", u"Raster", nullptr, nullptr);
    const DOCINFOW document{20, u"render test", nullptr, nullptr, 0};
    const int job = dc ? StartDocW(dc, &document) : 0;
    if (job <= 0 || StartPage(dc) <= 0 || GetDeviceCaps(dc, PHYSICALWIDTH) != width
        || GetDeviceCaps(dc, PHYSICALHEIGHT) != height)
        throw std::runtime_error("no printer for a bitmap of this size");

    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = static_cast<int>(pdf.size());
    request.page = call.page;
    request.dpiX = call.dpi;
    request.dpiY = call.dpi;
    request.left = call.left;
    request.top = call.top;
    request.width = call.width;
    request.height = call.height;
    request.options = call.options;
    const bool rendered = pdf::RenderPage(request, dc, call.bandBytes, call.limits);
    EndPage(dc);
    EndDoc(dc);
    DeleteDC(dc);
    if (ok)
        *ok = rendered;

    const auto page = root.Path() / "var/spool/quillon/Raster" / (std::to_string(job) + ".pdf");
    const auto picture = root.Path() / "page";
    // The page's side in points rounds up a sliver past the last dot: the picture is cut to the sheet.
    const std::string command = "pdftoppm -r 254 -x 0 -y 0 -W " + std::to_string(width) + " -H "
        + std::to_string(height) + " -singlefile '" + page.string() + "' '" + picture.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("pdftoppm failed: " + command);
    std::istringstream in(testing_support::ReadWholeFile(picture.string() + ".ppm"));
    std::string magic;
    int maximum = 0;
    Raster raster;
    in >> magic >> raster.width >> raster.height >> maximum;
    in.get();
    const std::string rgb(std::istreambuf_iterator<char>(in), {});
    if (magic != "P6" || maximum != 255 || raster.width != width || raster.height != height
        || rgb.size() != std::size_t(raster.width) * raster.height * 3)
        throw std::runtime_error("unexpected picture from " + command);
    raster.pixels.resize(std::size_t(raster.width) * raster.height);
    for (std::size_t i = 0; i < raster.pixels.size(); ++i)
        raster.pixels[i] = Rgb(static_cast<unsigned char>(rgb[3 * i]), static_cast<unsigned char>(rgb[3 * i + 1]),
                               static_cast<unsigned char>(rgb[3 * i + 2]));
    return raster;
}

namespace {

cairo_status_t AppendTo(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// A Type 3 glyph: a box, and for odd glyphs a stroke across it, 0.8 em wide.
cairo_status_t BoxGlyph(cairo_scaled_font_t*, unsigned long glyph, cairo_t* context, cairo_text_extents_t* extents)
{
    cairo_rectangle(context, 0.1, -0.7, 0.6, 0.7);
    cairo_fill(context);
    if (glyph % 2 == 1) {
        cairo_set_line_width(context, 0.08);
        cairo_move_to(context, 0.1, 0.1);
        cairo_line_to(context, 0.7, -0.8);
        cairo_stroke(context);
    }
    extents->x_advance = 0.8;
    return CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* Image(cairo_format_t format, int width, int height,
                       const std::function<std::uint32_t(int x, int y)>& pixel)
{
    cairo_surface_t* image = cairo_image_surface_create(format, width, height);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (format == CAIRO_FORMAT_A1) {
                if (pixel(x, y))
                    reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride)[x / 32] |= 1u << (x % 32);
            } else {
                reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride)[x] = pixel(x, y);
            }
        }
    cairo_surface_mark_dirty(image);
    return image;
}

} // namespace

std::string FeaturePdf()
{
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(AppendTo, &out, 612, 792);
    cairo_t* c = cairo_create(surface);
    cairo_set_font_face(c, SerifFont());

    // Page 1: shapes.
    const double longDash[] = {12, 6};
    const double threeDashes[] = {2, 4, 8};
    cairo_set_source_rgb(c, 0, 0, 0.8);
    cairo_set_line_width(c, 4);
    const std::vector<std::tuple<const double*, int, double>> dashes
        = {{longDash, 2, 0}, {longDash, 2, 5}, {threeDashes, 3, 3}, {threeDashes, 3, 20}};
    for (std::size_t i = 0; i < dashes.size(); ++i) {
        const auto& [pattern, count, phase] = dashes[i];
        cairo_set_dash(c, pattern, count, phase);
        cairo_move_to(c, 72, 72 + 18 * double(i));
        cairo_line_to(c, 300, 72 + 18 * double(i));
        cairo_stroke(c);
    }
    cairo_set_dash(c, nullptr, 0, 0);
    cairo_set_line_width(c, 12);
    const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND, CAIRO_LINE_JOIN_BEVEL};
    for (int i = 0; i < 3; ++i) {
        cairo_set_line_join(c, joins[i]);
        cairo_move_to(c, 340 + i * 80, 140);
        cairo_line_to(c, 370 + i * 80, 80);
        cairo_line_to(c, 400 + i * 80, 140);
        cairo_stroke(c);
    }
    cairo_set_line_join(c, CAIRO_LINE_JOIN_MITER);
    cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_set_source_rgb(c, 0.8, 0, 0);
    for (int i = 0; i < 5; ++i) {
        const double angle = -std::numbers::pi / 2 + i * 4 * std::numbers::pi / 5;
        cairo_line_to(c, 160 + 80 * std::cos(angle), 270 + 80 * std::sin(angle));
    }
    cairo_close_path(c);
    cairo_fill(c);
    cairo_set_fill_rule(c, CAIRO_FILL_RULE_WINDING);
    cairo_save(c);
    cairo_arc(c, 430, 270, 80, 0, 2 * std::numbers::pi);
    cairo_clip(c);
    cairo_rectangle(c, 380, 190, 200, 60);
    cairo_clip(c);
    cairo_set_source_rgb(c, 0, 0.6, 0);
    cairo_paint(c);
    cairo_restore(c);
    cairo_set_source_rgb(c, 0, 0, 0);
    cairo_set_line_width(c, 0.4);
    cairo_move_to(c, 72, 380);
    cairo_line_to(c, 540, 380);
    cairo_stroke(c);
    // A circle stroked in a space stretched three times across: the pen is stretched too.
    cairo_save(c);
    cairo_translate(c, 300, 470);
    cairo_scale(c, 3, 1);
    cairo_arc(c, 0, 0, 40, 0, 2 * std::numbers::pi);
    cairo_restore(c);
    cairo_set_line_width(c, 3);
    cairo_save(c);
    cairo_scale(c, 3, 1);
    cairo_stroke(c);
    cairo_restore(c);
    cairo_set_font_size(c, 14);
    cairo_move_to(c, 72, 600);
    cairo_show_text(c, "Pages stay drawings: the quick brown fox.");
    cairo_save(c);
    cairo_translate(c, 300, 720);
    cairo_rotate(c, -std::numbers::pi / 8);
    cairo_scale(c, 1.5, 1);
    cairo_move_to(c, 0, 0);
    cairo_show_text(c, "Turned and stretched");
    cairo_restore(c);
    cairo_show_page(c);

    // Page 2: pictures and Type 3 glyphs.
    cairo_surface_t* faded = Image(CAIRO_FORMAT_ARGB32, 64, 64, [](int x, int y) {
        const std::uint32_t alpha = x < 32 ? 255 : 96;
        const std::uint32_t green = std::uint32_t(y * 4) * alpha / 255;
        return alpha << 24 | alpha << 16 | green << 8;
    });
    cairo_save(c);
    cairo_translate(c, 72, 72);
    cairo_scale(c, 3, 3);
    cairo_set_source_surface(c, faded, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_paint(c);
    cairo_restore(c);
    cairo_surface_destroy(faded);
    cairo_surface_t* stencil = Image(CAIRO_FORMAT_A1, 32, 32, [](int x, int y) { return (x / 8 + y / 8) % 2; });
    cairo_save(c);
    cairo_set_source_rgb(c, 0, 0, 1);
    cairo_translate(c, 330, 72);
    cairo_scale(c, 6, 6);
    cairo_mask_surface(c, stencil, 0, 0);
    cairo_restore(c);
    cairo_surface_destroy(stencil);
    cairo_surface_t* opaque = Image(CAIRO_FORMAT_RGB24, 4, 4, [](int x, int y) {
        return std::uint32_t(x * 80) << 16 | std::uint32_t(y * 80) << 8 | 128;
    });
    cairo_save(c);
    cairo_translate(c, 72, 360);
    cairo_scale(c, 50, 50);
    cairo_set_source_surface(c, opaque, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_paint(c);
    cairo_restore(c);
    cairo_surface_destroy(opaque);
    cairo_font_face_t* boxes = cairo_user_font_face_create();
    cairo_user_font_face_set_render_glyph_func(boxes, BoxGlyph);
    cairo_set_font_face(c, boxes);
    cairo_set_font_size(c, 30);
    cairo_set_source_rgb(c, 0, 0.5, 0);
    cairo_move_to(c, 320, 500);
    cairo_show_text(c, "Type3");
    cairo_font_face_destroy(boxes);
    cairo_set_font_face(c, SerifFont());
    cairo_show_page(c);

    // Page 3: landscape.
    cairo_pdf_surface_set_size(surface, 792, 612);
    cairo_set_source_rgb(c, 0, 0, 0);
    cairo_set_font_size(c, 12);
    for (int line = 0; line < 30; ++line) {
        cairo_move_to(c, 72, 72 + line * 16);
        const std::string text = "Landscape line " + std::to_string(line + 1) + " runs across the long side.";
        cairo_show_text(c, text.c_str());
    }
    cairo_show_page(c);

    // Page 4: a transparency group of a fill and a stroke (a group of fills alone is drawn as its
    // fills; one that strokes too goes as an area).
    cairo_pdf_surface_set_size(surface, 612, 792);
    cairo_set_font_size(c, 10);
    cairo_set_line_width(c, 0.4);
    for (int line = 0; line < 40; ++line) {
        cairo_move_to(c, 72, 72 + line * 14);
        cairo_show_text(c, "Text under a transparency group keeps every line whole.");
        cairo_move_to(c, 72, 75 + line * 14);
        cairo_line_to(c, 540, 75 + line * 14);
        cairo_stroke(c);
    }
    cairo_push_group(c);
    cairo_rectangle(c, 200, 200, 200, 300);
    cairo_set_source_rgb(c, 0, 0, 1);
    cairo_fill_preserve(c);
    cairo_set_source_rgb(c, 0, 0.5, 0);
    cairo_set_line_width(c, 6);
    cairo_stroke(c);
    cairo_pop_group_to_source(c);
    cairo_paint_with_alpha(c, 0.5);
    cairo_show_page(c);

    cairo_destroy(c);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return out;
}

std::string ManyFillsPdf(int fills)
{
    std::string content;
    content.reserve(std::size_t(fills) * 13);
    for (int i = 0; i < fills; ++i)
        content += "1 1 1 1 re f\n";
    uLongf packedSize = compressBound(uLong(content.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(content.data()),
                  uLong(content.size()), Z_BEST_COMPRESSION)
        != Z_OK)
        throw std::runtime_error("zlib failed");
    packed.resize(packedSize);
    PdfWriter writer;
    const int catalog = writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    writer.AddStream("/Filter /FlateDecode", packed);
    return writer.Finish(catalog);
}

} // namespace pdf_test

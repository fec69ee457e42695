#include "bench/bench_documents.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>

namespace bench {

namespace {

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

// A document of these objects, the first the catalogue.
std::string PdfOf(const std::vector<std::string>& objects)
{
    std::string out = "%PDF-1.7\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

// Chinese text of a manual, one line of the page after another.
const char kCjkText[] = "打印机驱动程序把页面描述转换成点阵，页面的每一条带依次绘制。文档中的字体以其自身的字形打印，"
                        "文字在作业中保留，可以搜索和复制。中文文档无论横排还是竖排都能正确打印。"
                        "系统字体代替文档未嵌入的字体，每个字符都映射到替代字体的字形上，字距与原文相同。";

// The characters of kCjkText, UTF-8 decoded.
std::u32string CjkCharacters()
{
    std::u32string characters;
    const std::string text = kCjkText;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            value = value << 6 | (static_cast<unsigned char>(text[i + std::size_t(k)]) & 0x3F);
        characters.push_back(value);
        i += std::size_t(length);
    }
    return characters;
}

// Line `line` of a page of 60 lines of 40 characters, taken from kCjkText round and round.
std::u32string CjkLine(const std::u32string& characters, int page, int line)
{
    std::u32string out;
    for (int column = 0; column < 40; ++column)
        out.push_back(characters[std::size_t((page * 60 + line) * 40 + column) % characters.size()]);
    return out;
}

} // namespace

std::string TextDocument(int pages)
{
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    cairo_select_font_face(context, "DejaVu Serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context, 9);
    for (int page = 0; page < pages; ++page) {
        for (int line = 0; line < 70; ++line) {
            cairo_move_to(context, 60, 60 + line * 10);
            const std::string text = "Section " + std::to_string(page + 1) + "." + std::to_string(line + 1)
                + ": a printer driver converts the page description into dots; each band of the page is drawn "
                  "in turn.";
            cairo_show_text(context, text.c_str());
        }
        cairo_show_page(context);
    }
    cairo_destroy(context);
    cairo_surface_destroy(surface);
    return out;
}

std::string PictureDocument()
{
    constexpr int kWidth = 6000;
    constexpr int kHeight = 4000;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, kWidth, kHeight);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    unsigned noise = 1;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            guchar* p = pixels + std::size_t(y) * rowstride + std::size_t(x) * 3;
            p[0] = static_cast<guchar>(128 + 100 * std::sin(x / 300.0) + ((noise >> 16) & 15));
            p[1] = static_cast<guchar>(128 + 100 * std::cos(y / 200.0) + ((noise >> 20) & 15));
            p[2] = static_cast<guchar>((x ^ y) & 255);
            reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride)[x] = p[0] << 16 | p[1] << 8 | p[2];
        }
    }
    cairo_surface_mark_dirty(image);
    gchar* jpeg = nullptr;
    gsize jpegSize = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &jpeg, &jpegSize, "jpeg", nullptr, "quality", "90", nullptr);
    g_object_unref(pixbuf);
    cairo_surface_set_mime_data(image, CAIRO_MIME_TYPE_JPEG, reinterpret_cast<unsigned char*>(jpeg), jpegSize, g_free,
                                jpeg);

    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    // Turned a quarter so that the landscape photograph covers the portrait page.
    cairo_translate(context, 36, 756);
    cairo_rotate(context, -std::numbers::pi / 2);
    cairo_scale(context, 720.0 / kWidth, 720.0 / kWidth);
    cairo_set_source_surface(context, image, 0, 0);
    cairo_paint(context);
    cairo_destroy(context);
    cairo_surface_destroy(surface);
    cairo_surface_destroy(image);
    return out;
}

std::string GroupDocument()
{
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    cairo_select_font_face(context, "DejaVu Serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context, 9);
    cairo_set_line_width(context, 0.4);
    for (int line = 0; line < 70; ++line) {
        cairo_move_to(context, 60, 60 + line * 10);
        cairo_show_text(context, "A line of text under a transparency group, with a thin rule below it.");
        cairo_move_to(context, 60, 62 + line * 10);
        cairo_line_to(context, 552, 62 + line * 10);
        cairo_stroke(context);
    }
    cairo_push_group(context);
    for (int i = 0; i < 12; ++i) {
        cairo_arc(context, 150 + 30 * i, 200 + 40 * i, 80, 0, 2 * std::numbers::pi);
        cairo_set_source_rgb(context, i / 12.0, 0.3, 1 - i / 12.0);
        cairo_fill(context);
    }
    cairo_pop_group_to_source(context);
    cairo_paint_with_alpha(context, 0.5);
    cairo_destroy(context);
    cairo_surface_destroy(surface);
    return out;
}

namespace {

// A one-page Letter document whose content is compressed, with objects of its own after the
// content (numbered from 5) and the page's resources.
std::string PageDocument(const std::string& content, const std::vector<std::string>& more = {},
                         const std::string& resources = "")
{
    uLongf packedSize = compressBound(uLong(content.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(content.data()),
              uLong(content.size()), Z_BEST_COMPRESSION);
    packed.resize(packedSize);
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << " + resources + " >> >>",
        "<< /Filter /FlateDecode /Length " + std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream",
    };
    objects.insert(objects.end(), more.begin(), more.end());
    return PdfOf(objects);
}

} // namespace

std::string ManyFillsDocument(int fills)
{
    std::string content;
    for (int i = 0; i < fills; ++i)
        content += "1 1 1 1 re f\n";
    return PageDocument(content);
}

std::vector<Sample> HostileDocuments()
{
    std::string clips;
    for (int i = 0; i < 14000; ++i)
        clips += "q 0 0 600 700 re W n\n";
    clips += "1 0 0 rg 10 10 100 100 re f\n";
    for (int i = 0; i < 14000; ++i)
        clips += "Q\n";
    const std::string tiles
        = PageDocument("/Pattern cs /Tiles scn 0 0 600 700 re f",
                       {"<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 1 1] /XStep 0.000001 /YStep 0.000001 "
                        "/Resources << >> /Length 12 >>\nstream\n0 0 1 1 re f\nendstream"},
                       "/Pattern << /Tiles 5 0 R >>");
    // A Coons patch mesh of 2000 patches whose sides bend to and fro across the page: cut finely
    // enough to show, it would be millions of triangles.
    std::string patches;
    for (int patch = 0; patch < 2000; ++patch) {
        patches += '\0';
        for (int point = 0; point < 12; ++point) {
            patches += char(point % 2 ? 255 : 0);
            patches += char(point % 3 ? 0 : 255);
        }
        for (int component = 0; component < 12; ++component)
            patches += char(component * 20);
    }
    const std::string bent = PageDocument(
        "/Bent sh",
        {"<< /ShadingType 6 /ColorSpace /DeviceRGB /BitsPerCoordinate 8 /BitsPerComponent 8 /BitsPerFlag 8 "
         "/Decode [0 600 0 700 0 1 0 1 0 1] /Length "
         + std::to_string(patches.size()) + " >>\nstream\n" + patches + "\nendstream"},
        "/Shading << /Bent 5 0 R >>");
    std::string table = PageDocument("");
    const std::size_t header = table.find("xref\n0 ");
    table.replace(header, table.find('\n', header + 5) - header, "xref\n0 30000000");
    return {{"clips nested 14000 deep", PageDocument(clips), 1},
            {"tiling step of a millionth", tiles, 1},
            {"2000 bent patches", bent, 1},
            {"table of 3e7 entries", table, 1}};
}

std::string CjkDocument(int pages)
{
    const std::u32string characters = CjkCharacters();
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    cairo_select_font_face(context, "Noto Sans CJK SC", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context, 11);
    for (int page = 0; page < pages; ++page) {
        for (int line = 0; line < 60; ++line) {
            std::string utf8;
            for (char32_t c : CjkLine(characters, page, line)) {
                utf8.push_back(char(0xE0 | (c >> 12)));
                utf8.push_back(char(0x80 | ((c >> 6) & 0x3F)));
                utf8.push_back(char(0x80 | (c & 0x3F)));
            }
            cairo_move_to(context, 66, 60 + line * 11.5);
            cairo_show_text(context, utf8.c_str());
        }
        cairo_show_page(context);
    }
    cairo_destroy(context);
    cairo_surface_destroy(surface);
    return out;
}

std::string CjkSubstituteDocument()
{
    const std::u32string characters = CjkCharacters();
    std::string content = "BT /F1 11 Tf 11.5 TL 66 720 Td\n";
    for (int line = 0; line < 60; ++line) {
        content += "<";
        for (char32_t c : CjkLine(characters, 0, line)) {
            char unit[5];
            std::snprintf(unit, sizeof unit, "%04X", unsigned(c));
            content += unit;
        }
        content += "> Tj T*\n";
    }
    content += "ET\n";
    return PdfOf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R "
        ">>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-H /DescendantFonts [6 0 R] >>",
        "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light /CIDSystemInfo << /Registry (Adobe) /Ordering "
        "(GB1) /Supplement 4 >> /FontDescriptor 7 0 R /DW 1000 >>",
        "<< /Type /FontDescriptor /FontName /STSong-Light /Flags 6 /FontBBox [-25 -254 1000 880] /ItalicAngle 0 "
        "/Ascent 880 /Descent -120 /CapHeight 880 /StemV 93 >>",
    });
}

std::string MeshPlotDocument()
{
    std::ifstream in(std::filesystem::path(QUILLON_SOURCE_DIR) / "bench/mesh_plot.pdf", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Sample> RealDocuments()
{
    const char* const files[] = {
        "/usr/share/doc/libtasn1-doc/libtasn1.pdf",
        "/usr/share/doc/nettle-dev/nettle.pdf.gz",
        "/usr/share/doc/bzip2/manual.pdf.gz",
        "/usr/share/doc/fontconfig/fontconfig-user.pdf.gz",
        "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf",
    };
    std::vector<Sample> documents;
    for (const char* file : files) {
        if (!std::filesystem::exists(file))
            continue;
        std::string bytes;
        if (std::filesystem::path(file).extension() == ".gz") {
            gzFile packed = gzopen(file, "rb");
            char chunk[65536];
            for (int read = 0; packed && (read = gzread(packed, chunk, sizeof chunk)) > 0;)
                bytes.append(chunk, std::size_t(read));
            if (packed)
                gzclose(packed);
        } else {
            std::ifstream in(file, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const std::string name = std::filesystem::path(file).filename().string();
        documents.push_back({name.substr(0, name.find('.')), std::move(bytes), 0});
    }
    return documents;
}

std::vector<Sample> Samples(int textPages)
{
    std::vector<Sample> samples;
    samples.push_back({"text", TextDocument(textPages), textPages});
    samples.push_back({"picture", PictureDocument(), 1});
    return samples;
}

std::vector<Sample> TransparentPages(const std::string& pagesFolder)
{
    std::vector<Sample> pages;
    for (const char* name :
         {"slide_translucent_box", "translucent_paint", "translucent_text", "shadows_under_boxes", "opacity",
          "knockout_group", "blend_modes", "soft_mask_group", "soft_mask_image", "slide_beamer"}) {
        std::ifstream in(std::filesystem::path(pagesFolder) / (std::string(name) + ".pdf"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!bytes.empty())
            pages.push_back({name, std::move(bytes), 1});
    }
    return pages;
}

std::string ScatterDocument(int points)
{
    std::string out;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &out, 612, 792);
    cairo_t* context = cairo_create(surface);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < points; ++i) {
        cairo_arc(context, 50 + 510 * unit(random), 50 + 690 * unit(random), 2 + 6 * unit(random), 0,
                  2 * std::numbers::pi);
        cairo_set_source_rgba(context, unit(random), unit(random), unit(random), 0.4);
        cairo_fill(context);
    }
    cairo_destroy(context);
    cairo_surface_destroy(surface);
    return out;
}

std::string BeamerDeck(const std::string& folder)
{
    const std::filesystem::path tex = std::filesystem::path(folder) / "deck.tex";
    std::ofstream(tex) << R"(\documentclass{beamer}
\usetheme{Warsaw}
\setbeamercovered{transparent}
\usepackage{tikz}
\title{Quarterly review}\author{The platform team}\date{March}
\begin{document}
\frame{\titlepage}
\begin{frame}{Results}
\begin{itemize}
\item<1-> Revenue grew in every region this quarter
\item<2-> Costs stayed within the plan we set in spring
\item<3-> Three new partners signed for next year
\end{itemize}
\begin{block}{Note}
The service answered every request on time.
\end{block}
\end{frame}
\begin{frame}{A figure}
\begin{tikzpicture}
\fill[blue!50, opacity=0.5] (0,0) circle (1.5);
\fill[red!50, opacity=0.5] (1.5,0) circle (1.5);
\draw[green!50!black, line width=3pt, opacity=0.6] (-2,-2) -- (4,2);
\node at (0.75,-2.2) {Overlap of two sets};
\end{tikzpicture}
\end{frame}
\end{document}
)";
    // Twice, as beamer's navigation needs; nothing is made without pdflatex and beamer.
    const std::string run = "cd '" + folder + "' && pdflatex -interaction=batchmode deck.tex > /dev/null 2>&1";
    if (std::system((run + " && " + run.substr(run.find("pdflatex"))).c_str()) != 0)
        return {};
    std::ifstream in(std::filesystem::path(folder) / "deck.pdf", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace bench

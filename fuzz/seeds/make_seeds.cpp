// Writes the fuzz programs' seed inputs: small valid inputs of every kind, made by our own code and
// the libraries the tool stands on. quillon-fuzz-seeds FOLDER writes FOLDER/<target>/<name>.
#include "fuzz/fuzz_support.h"
#include "platform/gdi/devices/page_notes.h"
#include "platform/gdi/gdi.h"
#include "platform/spooler/cups_attributes.h"
#include "printing/emf.h"
#include "ticket/print_ticket_queries.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/ipp.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path g_folder;
int g_failures = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes)
{
    fs::create_directories(g_folder / target);
    if (bytes.empty() || !fuzz::WriteFile((g_folder / target / name).string(), bytes)) {
        std::fprintf(stderr, "quillon-fuzz-seeds: could not make %s/%s\n", target.c_str(), name.c_str());
        ++g_failures;
    }
}

Bytes BytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A request as the service sends it: UTF-16LE code units, no terminating zero.
Bytes Utf16(const std::u16string& text)
{
    Bytes bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

void JobRequests(const std::string& ticket)
{
    const std::u16string wideTicket(ticket.begin(), ticket.end());
    Write("job_request", "pdf",
          Utf16(u"Quillon Office{00}D:\\jobs\\report.pdf{11}application/pdf{22}{33}{44}Report{55}"));
    Write("job_request", "picture-options",
          Utf16(u"Quillon Photo{00}D:\\jobs\\photo.jpg{11}image/jpeg{22}{33}{44}Photo{55}PaperSizeAuto{}ShrinkToFit{}"
                u"copies=2{}{}"));
    Write("job_request", "ticket",
          Utf16(u"Quillon Office{00}D:\\jobs\\a.pdf{11}application/pdf{22}" + wideTicket + u"{33}{44}A{55}"));
    // Longer than the 131072-byte request buffer: the request arrives in two chunks.
    std::u16string padded = u"Quillon Office{00}D:\\jobs\\b.pdf{11}application/pdf{22}";
    padded += std::u16string(70000 - padded.size(), u' ');
    padded += u"{33}{44}B{55}";
    Write("job_request", "two-chunks", Utf16(padded));
}

std::string Ticket(const char16_t* printer)
{
    std::string ticket;
    if (aio::GetDefaultPrintTicket(printer, ticket) != S_OK)
        ticket.clear();
    return ticket;
}

void PrintTickets(const std::string& office, const std::string& photo)
{
    Write("print_ticket", "office-default", BytesOf(office));
    Write("print_ticket", "photo-default", BytesOf(photo));
}

void PrinterFiles()
{
    for (const auto& entry : fs::directory_iterator(fs::path(QUILLON_SOURCE_DIR) / "printers")) {
        if (entry.path().extension() != ".printer")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        Write("printer_file", entry.path().stem().string(), Bytes(std::istreambuf_iterator<char>(in), {}));
    }
    Write("printer_file", "minimal",
          BytesOf("[printer]\nname = Minimal\nresolution = 300\ndefault-paper = 9\n\n"
                  "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n"));
}

// A top-down 24-bit bitmap of `width` × `height`: a red upper half and a blue lower half.
struct Dib {
    BITMAPINFO info{};
    Bytes bits;
};

Dib TwoColourDib(int width, int height)
{
    Dib dib;
    dib.info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    dib.info.bmiHeader.biWidth = width;
    dib.info.bmiHeader.biHeight = -height;
    dib.info.bmiHeader.biPlanes = 1;
    dib.info.bmiHeader.biBitCount = 24;
    dib.info.bmiHeader.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) / 4 * 4;
    dib.bits.assign(static_cast<std::size_t>(stride) * height, 0);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            dib.bits[row * stride + column * 3 + (row < height / 2 ? 2 : 0)] = 0xFF;
    return dib;
}

Bytes Encoded(const char* type, int width, int height)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, 0x2080C0FF);
    gchar* buffer = nullptr;
    gsize size = 0;
    Bytes bytes;
    if (gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, nullptr, nullptr))
        bytes.assign(buffer, buffer + size);
    g_free(buffer);
    g_object_unref(pixbuf);
    return bytes;
}

// A 1 × 1 GIF of two palette colours: LZW codes clear, 0, end at three bits each.
Bytes TinyGif()
{
    return {'G', 'I',  'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0x80, 0x00, 0,   0,
            0,   0x2C, 0,   0,   0,   0,   1, 0, 1, 0, 0,    2, 2, 0x44, 0x01, 0,    0x3B};
}

// Every vector call once or more: objects made, selected and deleted while selected, curves and
// lines in both point sizes, fills, strokes, clips, text of glyphs and of characters, text made a
// clip, a blended picture, and the note of a page drawn as a picture.
void VectorPage(HDC dc)
{
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM scale{0.25f, 0, 0, 0.25f, 5, 5};
    SetWorldTransform(dc, &scale);
    const LOGBRUSH red{BS_SOLID, RGB(255, 0, 0), 0};
    const DWORD dashes[] = {40, 20, 10};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER, 12, &red, 3, dashes);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    SetMiterLimit(dc, 4, nullptr);
    SetPolyFillMode(dc, WINDING);
    BeginPath(dc);
    MoveToEx(dc, 100, 100, nullptr);
    LineTo(dc, 600, 100);
    const POINT curve[] = {{700, 150}, {700, 350}, {600, 400}};
    PolyBezierTo(dc, curve, 3);
    const POINT far[] = {{100000, 400}, {100, 400}};
    PolylineTo(dc, far, 2);
    CloseFigure(dc);
    EndPath(dc);
    StrokeAndFillPath(dc);
    DeleteObject(pen);
    LineTo(dc, 100, 800);
    SaveDC(dc);
    BeginPath(dc);
    MoveToEx(dc, 0, 0, nullptr);
    const POINT box[] = {{400, 0}, {400, 400}, {0, 400}};
    PolylineTo(dc, box, 3);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    BeginPath(dc);
    MoveToEx(dc, 200, 200, nullptr);
    PolylineTo(dc, box, 3);
    EndPath(dc);
    FillPath(dc);
    RestoreDC(dc, -1);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    BeginPath(dc);
    AbortPath(dc);

    if (fuzz::RegisterSampleFont()) {
        LOGFONTW logFont{};
        logFont.lfHeight = -120;
        logFont.lfEscapement = 300;
        std::copy(std::begin(fuzz::SampleFontFace), std::end(fuzz::SampleFontFace), logFont.lfFaceName);
        HFONT font = CreateFontIndirectW(&logFont);
        SelectObject(dc, font);
        SetTextColor(dc, RGB(0, 128, 0));
        SetBkMode(dc, TRANSPARENT);
        SetTextAlign(dc, TA_BASELINE);
        const WCHAR glyphs[] = {36, 37, 38};
        const INT pairs[] = {70, 0, 70, 10, 70, -10};
        const RECT cut{0, 0, 500, 500};
        ExtTextOutW(dc, 100, 600, ETO_GLYPH_INDEX | ETO_PDY | ETO_CLIPPED, &cut, glyphs, 3, pairs);
        const std::u16string text = u"Text \U0001F600";
        SetBkMode(dc, OPAQUE);
        ExtTextOutW(dc, 100, 800, 0, nullptr, text.data(), static_cast<UINT>(text.size()), nullptr);
        BeginPath(dc);
        ExtTextOutW(dc, 100, 1000, ETO_GLYPH_INDEX, nullptr, glyphs, 3, nullptr);
        EndPath(dc);
        SelectClipPath(dc, RGN_COPY);
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
    }

    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 4;
    info.bmiHeader.biHeight = 4;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bits)
        std::fill_n(static_cast<std::uint8_t*>(bits), 4 * 4 * 4, 0x80);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    AlphaBlend(dc, 50, 50, 300, 200, memory, 1, 1, 3, 2, BLENDFUNCTION{AC_SRC_OVER, 0, 200, AC_SRC_ALPHA});
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    // A shading: triangles, and rectangles whose colour runs along x.
    const TRIVERTEX vertices[] = {{100, 100, 0xFFFF, 0, 0, 0},
                                  {400, 100, 0, 0xFFFF, 0, 0},
                                  {250, 300, 0, 0, 0xFFFF, 0},
                                  {500, 100, 0x8000, 0x8000, 0, 0}};
    const GRADIENT_TRIANGLE triangles[] = {{0, 1, 2}, {1, 3, 2}};
    GradientFill(dc, vertices, 4, triangles, 2, GRADIENT_FILL_TRIANGLE);
    const GRADIENT_RECT rects[] = {{0, 2}, {2, 3}};
    GradientFill(dc, vertices, 4, rects, 2, GRADIENT_FILL_RECT_H);
    const DWORD note[] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNotePicture};
    GdiComment(dc, sizeof note, reinterpret_cast<const BYTE*>(note));
    DeleteObject(brush);
}

Bytes MetafileBytes(aio::printing::Emf& metafile)
{
    Bytes bytes(metafile.GetByteSize());
    if (bytes.empty() || !metafile.CopyBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        bytes.clear();
    return bytes;
}

void Metafiles()
{
    using aio::printing::Emf;
    const Dib dib = TwoColourDib(16, 8);
    {
        // A page as the tool records one: page marks around a picture, under a transform.
        Emf metafile;
        metafile.StartRecording();
        HDC dc = metafile.GetRecordingDC();
        metafile.MarkPageStart({}, {}, 1.0f);
        SaveDC(dc);
        SetGraphicsMode(dc, GM_ADVANCED);
        const XFORM half{0.5f, 0, 0, 0.5f, 10, 20};
        SetWorldTransform(dc, &half);
        StretchDIBits(dc, 0, 0, 160, 80, 0, 0, 16, 8, dib.bits.data(), &dib.info, DIB_RGB_COLORS, SRCCOPY);
        RestoreDC(dc, -1);
        metafile.MarkPageEnd();
        metafile.StopRecording();
        Write("metafile", "page-with-marks", MetafileBytes(metafile));
    }
    {
        // A JPEG and a PNG passed in their own bytes.
        Emf metafile;
        metafile.StartRecording();
        HDC dc = metafile.GetRecordingDC();
        for (const auto& [compression, type] : {std::pair{DWORD{BI_JPEG}, "jpeg"}, std::pair{DWORD{BI_PNG}, "png"}}) {
            const Bytes picture = Encoded(type, 8, 8);
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = 8;
            // Compressed bits are top-down whatever the sign; a header says so with a positive height.
            info.bmiHeader.biHeight = 8;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biCompression = compression;
            info.bmiHeader.biSizeImage = static_cast<DWORD>(picture.size());
            StretchDIBits(dc, 0, 0, 80, 80, 0, 0, 8, 8, picture.data(), &info, DIB_RGB_COLORS, SRCCOPY);
        }
        const BYTE comment[] = {'n', 'o', 't', 'e'};
        GdiComment(dc, sizeof comment, comment);
        metafile.StopRecording();
        Write("metafile", "compressed-pictures", MetafileBytes(metafile));
    }
    {
        // A page of vectors and text as the renderer draws one.
        Emf metafile;
        metafile.StartRecording();
        HDC dc = metafile.GetRecordingDC();
        metafile.MarkPageStart({}, {}, 1.0f);
        VectorPage(dc);
        metafile.MarkPageEnd();
        metafile.StopRecording();
        Write("metafile", "vectors-and-text", MetafileBytes(metafile));
    }
}

cairo_status_t AppendToBytes(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<Bytes*>(closure)->insert(static_cast<Bytes*>(closure)->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// A PDF drawn with cairo: pages of the given sizes (points), each with a frame, a filled shape,
// a line of text and, on the first, a small picture.
Bytes Pdf(std::initializer_list<std::pair<double, double>> pages)
{
    Bytes bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(AppendToBytes, &bytes, 100, 100);
    cairo_t* cr = cairo_create(surface);
    bool first = true;
    for (const auto& [width, height] : pages) {
        cairo_pdf_surface_set_size(surface, width, height);
        cairo_set_source_rgb(cr, 0.1, 0.3, 0.8);
        cairo_rectangle(cr, 10, 10, width - 20, height - 20);
        cairo_stroke(cr);
        cairo_arc(cr, width / 2, height / 2, width / 5, 0, 6.28);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, 20, 40);
        cairo_set_font_size(cr, 14);
        cairo_show_text(cr, "Quillon");
        if (first) {
            cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
            cairo_set_source_surface(cr, image, 30, 60);
            cairo_paint(cr);
            cairo_surface_destroy(image);
            first = false;
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return bytes;
}

void Pdfs()
{
    Write("pdf", "letter", Pdf({{612, 792}}));
    Write("pdf", "two-pages-landscape", Pdf({{842, 595}, {300, 200}}));
}

void Pictures()
{
    Write("picture", "png", Encoded("png", 12, 9));
    Write("picture", "jpeg", Encoded("jpeg", 16, 12));
    Write("picture", "bmp", Encoded("bmp", 5, 3));
    Write("picture", "tiff", Encoded("tiff", 6, 4));
    Write("picture", "gif", TinyGif());
}

ssize_t AppendIpp(void* context, ipp_uchar_t* data, size_t length)
{
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + length);
    return static_cast<ssize_t>(length);
}

// A media-col value: a sheet in hundredths of a millimetre with equal margins.
ipp_t* MediaCol(int width, int length, int margin)
{
    ipp_t* size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
    ipp_t* col = ippNew();
    ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
    ippDelete(size);
    for (const char* name : {"media-left-margin", "media-top-margin", "media-right-margin", "media-bottom-margin"})
        ippAddInteger(col, IPP_TAG_ZERO, IPP_TAG_INTEGER, name, margin);
    return col;
}

// A queue's Get-Printer-Attributes answer as an IPP Everywhere printer gives it.
Bytes QueueAttributes(bool colour)
{
    ipp_t* response = ippNew();
    ippSetVersion(response, 2, 0);
    ippSetStatusCode(response, IPP_STATUS_OK);
    ippSetRequestId(response, 1);
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", nullptr, "utf-8");
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", nullptr, "en");
    ipp_t* cols[] = {MediaCol(21590, 27940, 423), MediaCol(21000, 29700, 423), MediaCol(10160, 15240, 0)};
    ippAddCollections(response, IPP_TAG_PRINTER, "media-col-database", 3, const_cast<const ipp_t**>(cols));
    ippAddCollection(response, IPP_TAG_PRINTER, "media-col-default", cols[0]);
    for (ipp_t* col : cols)
        ippDelete(col);
    const char* media[] = {"na_letter_8.5x11in", "iso_a4_210x297mm", "na_index-4x6_4x6in"};
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-supported", 3, nullptr, media);
    ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-default", nullptr, media[0]);
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-ready", 1, nullptr, media);
    const int margins[] = {0, 423};
    for (const char* name : {"media-bottom-margin-supported", "media-left-margin-supported",
                             "media-right-margin-supported", "media-top-margin-supported"})
        ippAddIntegers(response, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name, 2, margins);
    const int xres[] = {300, 600};
    const int yres[] = {300, 600};
    ippAddResolutions(response, IPP_TAG_PRINTER, "printer-resolution-supported", 2, IPP_RES_PER_INCH, xres, yres);
    ippAddResolution(response, IPP_TAG_PRINTER, "printer-resolution-default", IPP_RES_PER_INCH, 600, 600);
    const char* sides[] = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "sides-supported", 3, nullptr, sides);
    const char* modes[] = {"monochrome", "color"};
    ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-color-mode-supported", colour ? 2 : 1, nullptr,
                  modes);
    ippAddBoolean(response, IPP_TAG_PRINTER, "color-supported", colour ? 1 : 0);
    ippAddRange(response, IPP_TAG_PRINTER, "copies-supported", 1, 99);
    Bytes bytes;
    ippSetState(response, IPP_STATE_IDLE);
    if (ippWriteIO(&bytes, AppendIpp, 1, nullptr, response) != IPP_STATE_DATA)
        bytes.clear();
    ippDelete(response);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon-fuzz-seeds FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    const std::string office = Ticket(u"Quillon Office");
    const std::string photo = Ticket(u"Quillon Photo");
    JobRequests(office);
    PrintTickets(office, photo);
    PrinterFiles();
    Metafiles();
    Pdfs();
    Pictures();
    Write("cups_attributes", "colour-queue", QueueAttributes(true));
    Write("cups_attributes", "monochrome-queue", QueueAttributes(false));
    return g_failures == 0 ? 0 : 1;
}

// The output device: which pages GDI calls can show, the limits a page is counted against, the dash
// styles of PDF dash patterns, and the records a page leaves in a metafile.
#include "platform/gdi/gdi.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/renderer.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/support/temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

namespace pdf_test {
namespace {

using pdf::PageWay;
using ::testing::ElementsAreArray;

// A one-page document with graphics states, a transparency group, a knockout group, a soft mask and
// a shading pattern to use, drawing `content`.
std::string WithResources(const std::string& content)
{
    PdfWriter writer;
    writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R /Resources << "
               "/ExtGState << /Half 5 0 R /Multiply 6 0 R /Masked 7 0 R /Full 9 0 R >> "
               "/XObject << /Group 10 0 R /Knockout 11 0 R /Image 12 0 R >> "
               "/Pattern << /Shade 13 0 R >> /Font << /F 14 0 R >> >> >>");
    writer.AddStream("", content);
    writer.Add("<< /Type /ExtGState /ca 0.5 /CA 0.5 >>");
    writer.Add("<< /Type /ExtGState /BM /Multiply >>");
    writer.Add("<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 8 0 R >> >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >>",
                     "1 g 0 0 300 800 re f");
    writer.Add("<< /Type /ExtGState /ca 1 /CA 1 /BM /Normal >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >>",
                     "0 0 1 rg 100 100 200 200 re f");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency /K true >>",
                     "0 0 1 rg 100 100 200 200 re f");
    writer.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 8",
                     std::string("\x00\x40\x80\xC0", 4));
    writer.Add("<< /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 600 0] "
               "/Function << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> >> >>");
    writer.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return writer.Finish(1);
}

PageWay Survey(const std::string& pdf, const pdf::PageLimits& limits = {})
{
    const auto document = pdf::Document::Open(Bytes(pdf), pdf::Document::Storage::Borrow);
    EXPECT_TRUE(document);
    if (!document)
        return PageWay::TooCostly;
    const auto page = document->LoadPage(0);
    pdf::PageTexts texts;
    return pdf::SurveyPage(*page, {}, texts, limits);
}

TEST(OutputDevice, PagesGoAsPicturesOnlyWhereGdiCannotShowThem)
{
    const std::vector<std::pair<const char*, PageWay>> cases = {
        {"0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"/Full gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"/Half gs 0 0 1 rg 10 10 100 100 re f", PageWay::Picture},
        {"/Half gs 0 0 1 RG 10 10 100 100 re S", PageWay::Picture},
        {"/Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Picture},
        {"/Masked gs 0 0 1 rg 10 10 100 100 re f", PageWay::Picture},
        // A group that looks the same drawn straight onto the page is drawn as shapes.
        {"/Group Do", PageWay::Vectors},
        {"/Half gs /Group Do", PageWay::Picture},
        {"/Knockout Do", PageWay::Picture},
        // Constant alpha on a picture is AlphaBlend's own.
        {"/Half gs q 100 0 0 100 0 0 cm /Image Do Q", PageWay::Vectors},
        {"/Multiply gs q 100 0 0 100 0 0 cm /Image Do Q", PageWay::Picture},
        {"BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {"/Half gs BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Picture},
        {"/Half gs BT 3 Tr /F 12 Tf 10 10 Td (invisible) Tj ET", PageWay::Vectors},
        // A gradient becomes fills of its colours; a stencil filled with it cannot be drawn.
        {"/Pattern cs /Shade scn 0 0 600 100 re f", PageWay::Vectors},
        {"/Pattern cs /Shade scn q 100 0 0 100 0 0 cm BI /W 1 /H 1 /IM true ID \x00 EI Q", PageWay::Picture},
        {"/Pattern CS /Shade SCN 10 w 0 0 m 600 100 l S", PageWay::Picture},
    };
    for (const auto& [content, way] : cases)
        EXPECT_EQ(Survey(WithResources(content)), way) << content;
}

TEST(OutputDevice, EachLimitIsCountedWhateverThePageIsDrawnWith)
{
    // Each content within its limit, and one more of what it counts past it.
    struct Case {
        const char* name;
        std::int64_t pdf::PageLimits::*limit;
        std::int64_t value;
        std::string within;
        std::string past;
    };
    auto repeat = [](const std::string& text, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += text;
        return out;
    };
    // Besides what the content draws, a page saves and restores the state once and clips to its
    // crop box (5 points); a picture counts its pixels (2 x 2).
    const std::vector<Case> cases = {
        {"operations", &pdf::PageLimits::operations, 7, repeat("1 1 1 1 re f ", 4), repeat("1 1 1 1 re f ", 5)},
        {"points of one path", &pdf::PageLimits::pathPoints, 10, "0 0 m" + repeat(" 1 1 l", 9) + " S",
         "0 0 m" + repeat(" 1 1 l", 10) + " S"},
        {"points of the page", &pdf::PageLimits::pagePathPoints, 15, repeat("1 1 1 1 re f ", 2),
         repeat("1 1 1 1 re f ", 3)},
        {"glyphs", &pdf::PageLimits::glyphs, 4, "BT /F 12 Tf (four) Tj ET", "BT /F 12 Tf (fives) Tj ET"},
        {"picture pixels", &pdf::PageLimits::imagePixels, 8, "/Image Do /Image Do", "/Image Do /Image Do /Image Do"},
        {"picture pixels of a picture page", &pdf::PageLimits::imagePixels, 8, "/Multiply gs /Image Do /Image Do",
         "/Multiply gs /Image Do /Image Do /Image Do"},
    };
    for (const Case& c : cases) {
        pdf::PageLimits limits;
        limits.*c.limit = c.value;
        EXPECT_NE(Survey(WithResources(c.within), limits), PageWay::TooCostly) << c.name;
        EXPECT_EQ(Survey(WithResources(c.past), limits), PageWay::TooCostly) << c.name;
    }
}

TEST(OutputDevice, DashPatternsBecomeEvenStylesStartingAtTheirPhase)
{
    struct Case {
        std::vector<double> dashes;
        double phase;
        bool flatCaps;
        std::vector<DWORD> style;
    };
    // Lengths are doubled (scale 2) on the way.
    const std::vector<Case> cases = {
        {{3, 2}, 0, true, {6, 4}},
        {{3, 2}, 1, true, {4, 4, 2, 0}},          // in the dash: its rest first, its start last
        {{3, 2}, 4, true, {0, 2, 6, 2}},          // in the gap: a dash of no length first
        {{3, 2}, 4, false, {6, 4}},               // ... which round caps would show: the next dash
        {{3, 2}, 3, true, {0, 4, 6, 0}},          // on the gap's start exactly
        {{3, 2}, -1, true, {0, 2, 6, 2}},         // a negative phase counts back
        {{3, 2}, 11, true, {4, 4, 2, 0}},         // a phase past the pattern wraps
        {{1, 2, 3}, 0, true, {2, 4, 6, 2, 4, 6}}, // odd: twice over
        {{0, 3}, 0, false, {0, 6}},               // a dot stays a dot
        {{}, 0, true, {}},                        // solid
        {{0, 0}, 0, true, {}},
        {{3, -1}, 0, true, {}},
        {std::vector<double>(9, 1.0), 0, true, {}}, // 18 entries: more than GDI takes
    };
    for (const Case& c : cases) {
        EXPECT_THAT(pdf::DashStyle(c.dashes, c.phase, 2.0, c.flatCaps), ElementsAreArray(c.style))
            << ::testing::PrintToString(c.dashes) << " phase " << c.phase;
    }
}

// The records of a metafile, by type, in order.
std::vector<DWORD> RecordTypes(const std::vector<BYTE>& bytes)
{
    std::vector<DWORD> types;
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
        DWORD type = 0, size = 0;
        std::memcpy(&type, bytes.data() + at, 4);
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (size < 8)
            break;
        types.push_back(type);
        at += size;
    }
    return types;
}

// A page recorded as the tool records one: the screen as reference, scaled from 600-dpi dots.
std::vector<BYTE> RecordPage(const std::string& pdf, int page)
{
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM scale{96.0f / 600.0f, 0, 0, 96.0f / 600.0f, 0, 0};
    ModifyWorldTransform(recording, &scale, MWT_LEFTMULTIPLY);
    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = int(pdf.size());
    request.page = page;
    request.dpiX = request.dpiY = 600;
    request.width = 5100;
    request.height = 6600;
    EXPECT_TRUE(pdf::RenderPage(request, recording));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    std::vector<BYTE> bytes(GetEnhMetaFileBits(metafile, 0, nullptr));
    GetEnhMetaFileBits(metafile, UINT(bytes.size()), bytes.data());
    DeleteEnhMetaFile(metafile);
    return bytes;
}

std::map<DWORD, int> Count(const std::vector<DWORD>& types)
{
    std::map<DWORD, int> counts;
    for (DWORD type : types)
        ++counts[type];
    return counts;
}

TEST(OutputDevice, ATextPageIsRecordedAsGlyphsAndPathsWithoutPixels)
{
    const std::vector<BYTE> bytes = RecordPage(CairoTextPdf(1), 0);
    std::map<DWORD, int> counts = Count(RecordTypes(bytes));
    // 56 lines of text, each one glyph run in one font made once; nothing drawn as pixels and no
    // comment beyond the page.
    EXPECT_EQ(counts[EMR_EXTTEXTOUTW], 56);
    EXPECT_EQ(counts[EMR_EXTCREATEFONTINDIRECTW], 1);
    EXPECT_EQ(counts[EMR_STRETCHDIBITS], 0);
    EXPECT_EQ(counts[EMR_ALPHABLEND], 0);
    EXPECT_EQ(counts[EMR_GDICOMMENT], 0);
    // Every save is restored, every object made is deleted.
    EXPECT_EQ(counts[EMR_SAVEDC], counts[EMR_RESTOREDC]);
    EXPECT_EQ(counts[EMR_EXTCREATEFONTINDIRECTW] + counts[EMR_CREATEBRUSHINDIRECT] + counts[EMR_EXTCREATEPEN],
              counts[EMR_DELETEOBJECT]);
    EXPECT_LT(bytes.size(), 64u * 1024);

    // An independent reader takes it.
    testing_support::TempRoot folder;
    const auto emf = folder.Path() / "page.emf";
    const auto svg = folder.Path() / "page.svg";
    std::ofstream(emf, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(std::system(("emf2svg-conv -i '" + emf.string() + "' -o '" + svg.string() + "'").c_str()), 0);
    EXPECT_GT(std::filesystem::file_size(svg), 1000u);
}

TEST(OutputDevice, APicturePageIsRecordedAsPiecesOfInkWithItsNote)
{
    const std::vector<BYTE> bytes = RecordPage(FeaturePdf(), 3);
    const std::vector<DWORD> types = RecordTypes(bytes);
    std::map<DWORD, int> counts = Count(types);
    EXPECT_EQ(counts[EMR_EXTTEXTOUTW], 0);
    EXPECT_GE(counts[EMR_STRETCHDIBITS], 1);
    // The note: an 8-byte comment, "QPIC" and 1, before the first piece.
    ASSERT_EQ(counts[EMR_GDICOMMENT], 1);
    std::size_t at = 0;
    for (DWORD type : types) {
        DWORD size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (type == EMR_GDICOMMENT) {
            ASSERT_EQ(size, 20u);
            DWORD note[3];
            std::memcpy(note, bytes.data() + at + 8, sizeof note);
            EXPECT_EQ(note[0], 8u);
            EXPECT_EQ(note[1], 0x43495051u);
            EXPECT_EQ(note[2], 1u);
            break;
        }
        at += size;
    }
}

} // namespace
} // namespace pdf_test

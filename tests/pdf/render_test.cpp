// Pages drawn into a memory device context and probed pixel by pixel: where content lands, that the
// paper is left alone, fitting and turning, and pages that only a picture can show.
#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/renderer.h"
#include "tests/pdf/pdf_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <set>

namespace pdf_test {
namespace {

constexpr std::uint32_t kRed = Rgb(255, 0, 0);
constexpr std::uint32_t kBlue = Rgb(0, 0, 255);
constexpr std::uint32_t kBlack = Rgb(0, 0, 0);
constexpr std::uint32_t kPaper = Raster::kWhite;

// A 600 × 800 point page with a red square at its top-left corner and a blue one at its
// bottom-right, each 100 points wide (PDF y runs up from the bottom).
const std::string kCorners = "1 0 0 rg 0 700 100 100 re f 0 0 1 rg 500 0 100 100 re f";

// The same corners with a half-transparent group over the middle: a page drawn as a picture.
std::string CornersUnderAGroup()
{
    PdfWriter writer;
    writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
               "/Resources << /ExtGState << /Half 5 0 R >> /XObject << /Group 6 0 R >> >> >>");
    writer.AddStream("", kCorners + " q /Half gs /Group Do Q");
    writer.Add("<< /Type /ExtGState /ca 0.5 /CA 0.5 >>");
    // The group's fill is clipped to a triangle holding it whole: a group drawn through a clip of any
    // other shape than a box goes as an area.
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >>",
                     "190 290 m 800 290 l 190 1100 l h W n 0 0 0 rg 200 300 200 200 re f");
    return writer.Finish(1);
}

TEST(RenderPage, ContentLandsWhereThePagePutsIt)
{
    const Raster raster = Render(HandWrittenPdf({{.content = kCorners}}), {});
    EXPECT_EQ(raster.Share(0, 0, 100, 100, kRed), 1.0);
    EXPECT_EQ(raster.Share(500, 700, 600, 800, kBlue), 1.0);
    EXPECT_EQ(raster.Share(100, 100, 500, 700, kPaper), 1.0);
    EXPECT_EQ(raster.Share(100, 0, 600, 100, kPaper), 1.0);
    EXPECT_EQ(raster.Share(0, 700, 500, 800, kPaper), 1.0);
}

TEST(RenderPage, TextLandsOnItsLines)
{
    // 56 lines of 10-point text from x = 54 points, baselines from y = 72 points every 12 points.
    const Raster raster = Render(CairoTextPdf(1), {.width = 612, .height = 792});
    auto inked = [&](int x0, int y0, int x1, int y1) { return 1.0 - raster.Share(x0, y0, x1, y1, kPaper); };
    EXPECT_EQ(inked(0, 0, 53, 792), 0.0);
    EXPECT_EQ(inked(0, 0, 612, 62), 0.0);
    EXPECT_GT(inked(54, 63, 300, 74), 0.1);
    EXPECT_GT(inked(54, 723, 300, 734), 0.1);
    EXPECT_EQ(inked(0, 737, 612, 792), 0.0);
}

TEST(RenderPage, RotatedPagesAreTurnedBackToFitTheBounds)
{
    // /Rotate 90 shows the page landscape, turned clockwise: the red corner goes to the top-right.
    const std::string rotated = HandWrittenPdf({{.rotate = 90, .content = kCorners}});
    const Raster landscape = Render(rotated, {.width = 800, .height = 600});
    EXPECT_EQ(landscape.Share(700, 0, 800, 100, kRed), 1.0);
    EXPECT_EQ(landscape.Share(0, 500, 100, 600, kBlue), 1.0);

    // On portrait bounds the landscape view is turned a quarter back: the page fills them as drawn.
    const Raster portrait = Render(rotated, {});
    EXPECT_EQ(portrait.Share(0, 0, 100, 100, kRed), 1.0);
    EXPECT_EQ(portrait.Share(500, 700, 600, 800, kBlue), 1.0);

    // Without rotateToFit it shrinks to 600 × 450, centred down the bounds (top at 175).
    const Raster kept = Render(rotated, {.options = {.rotateToFit = false}});
    EXPECT_EQ(kept.Share(0, 0, 600, 175, kPaper), 1.0);
    EXPECT_EQ(kept.Share(525, 175, 600, 250, kRed), 1.0);
    EXPECT_EQ(kept.Share(0, 550, 75, 625, kBlue), 1.0);
    EXPECT_EQ(kept.Share(0, 625, 600, 800, kPaper), 1.0);
}

TEST(RenderPage, PagesOfDifferentSizesAreEachFitted)
{
    // Page 1 is landscape, twice as wide as high; page 2 a quarter of page 0's size.
    const std::string pdf = HandWrittenPdf({
        {.content = kCorners},
        {.mediaBox = "0 0 800 400", .content = "1 0 0 rg 0 300 100 100 re f"},
        {.mediaBox = "0 0 150 200", .content = "0 0 1 rg 125 0 25 25 re f"},
    });
    // Landscape turned onto portrait bounds: 400 × 800, centred across; its top-left corner at
    // the bottom-left of its rectangle.
    const Raster turned = Render(pdf, {.page = 1});
    EXPECT_EQ(turned.Share(100, 700, 200, 800, kRed), 1.0);
    EXPECT_EQ(turned.Share(0, 0, 600, 700, kPaper), 1.0);
    EXPECT_EQ(turned.Share(200, 700, 600, 800, kPaper), 1.0);
    // The small page is enlarged four times: its blue corner becomes 100 × 100.
    const Raster enlarged = Render(pdf, {.page = 2});
    EXPECT_EQ(enlarged.Share(500, 700, 600, 800, kBlue), 1.0);
    EXPECT_EQ(enlarged.Share(0, 0, 500, 700, kPaper), 1.0);
}

TEST(RenderPage, TheCropBoxIsThePageAndClipsItsContent)
{
    // The crop box cuts the red corner away and starts 100 points in from the left; content
    // reaching past it (a green band across the whole media box) is cut at its edges.
    const std::string pdf
        = HandWrittenPdf({{.cropBox = "100 0 600 800", .content = kCorners + " 0 1 0 rg -50 390 700 20 re f"}});
    const Raster raster = Render(pdf, {.width = 500});
    EXPECT_EQ(raster.Share(400, 700, 500, 800, kBlue), 1.0);
    EXPECT_EQ(raster.Share(0, 390, 500, 410, Rgb(0, 255, 0)), 1.0);
    EXPECT_EQ(raster.Share(0, 0, 500, 390, kPaper), 1.0);

    // Drawn into bounds that start elsewhere, nothing lands outside the page's rectangle.
    const Raster shifted = Render(pdf, {.width = 500, .left = 100, .top = 50, .sheetWidth = 700, .sheetHeight = 900});
    EXPECT_EQ(shifted.Share(100, 440, 600, 460, Rgb(0, 255, 0)), 1.0);
    EXPECT_EQ(shifted.Share(0, 0, 100, 900, kPaper), 1.0);
    EXPECT_EQ(shifted.Share(600, 0, 700, 900, kPaper), 1.0);
}

TEST(RenderPage, StretchingFillsTheBounds)
{
    const std::string pdf = HandWrittenPdf({{.content = kCorners}});
    const Raster raster = Render(pdf, {.width = 300, .options = {.stretchToBounds = true}});
    EXPECT_EQ(raster.Share(0, 0, 50, 100, kRed), 1.0);
    EXPECT_EQ(raster.Share(250, 700, 300, 800, kBlue), 1.0);
}

TEST(RenderPage, MarkupsArePrintedOnlyWhenAsked)
{
    // A square annotation flagged for printing, with a green appearance over the page's middle.
    PdfWriter writer;
    writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Annots [4 0 R] >>");
    writer.Add("<< /Type /Annot /Subtype /Square /Rect [200 300 400 500] /F 4 /C [0 1 0] /AP << /N 5 0 R >> >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200]", "0 1 0 rg 0 0 200 200 re f");
    const std::string pdf = writer.Finish(1);
    EXPECT_EQ(Render(pdf, {}).At(300, 400), Rgb(0, 255, 0));
    EXPECT_EQ(Render(pdf, {.options = {.printMarkups = false}}).At(300, 400), kPaper);
}

TEST(RenderPage, ATransparentAreaIsPaintedOverTheVectorsAroundIt)
{
    const std::string pdf = CornersUnderAGroup();
    const Raster raster = Render(pdf, {});
    EXPECT_EQ(raster.Share(0, 0, 99, 99, kRed), 1.0);
    EXPECT_EQ(raster.Share(501, 701, 600, 800, kBlue), 1.0);
    // The group: black at half strength over white paper.
    EXPECT_NEAR(double(raster.At(300, 400) & 0xFF), 127.5, 1.0);
    EXPECT_EQ(raster.Share(0, 110, 600, 290, kPaper), 1.0);

    // Recorded, the corners are shapes and the group's area one picture painted over them: what the
    // group paints, grown by a point and a margin of five dots (at 72 dpi) on every side.
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = int(pdf.size());
    request.dpiX = request.dpiY = 72;
    request.width = 600;
    request.height = 800;
    ASSERT_TRUE(pdf::RenderPage(request, recording));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    std::vector<BYTE> bytes(GetEnhMetaFileBits(metafile, 0, nullptr));
    GetEnhMetaFileBits(metafile, UINT(bytes.size()), bytes.data());
    DeleteEnhMetaFile(metafile);
    auto field = [&](std::size_t at) {
        std::int32_t value = 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    };
    int fills = 0;
    std::vector<std::array<int, 4>> pieces;
    for (std::size_t at = 0; at + 8 <= bytes.size() && field(at + 4) > 0; at += std::size_t(field(at + 4))) {
        if (field(at) == std::int32_t(EMR_STRETCHDIBITS))
            pieces.push_back({field(at + 24), field(at + 28), field(at + 72), field(at + 76)});
        fills += field(at) == std::int32_t(EMR_FILLPATH) ? 1 : 0;
    }
    const std::vector<std::array<int, 4>> expected = {{194, 294, 212, 212}};
    EXPECT_EQ(pieces, expected);
    // The two corners; the group's own fill lies under its picture and is left out.
    EXPECT_EQ(fills, 2);
}

TEST(BandRenderer, AntialiasingSmoothsEdgesOnlyWhenAsked)
{
    // A circle, drawn as a picture is.
    const std::string pdf
        = HandWrittenPdf({{.content = "0 0 0 rg 400 300 m 400 420 300 500 200 500 c 100 500 30 420 30 300 c "
                                      "30 180 100 100 200 100 c f"}});
    const auto document = pdf::Document::Open(Bytes(pdf), pdf::Document::Storage::Borrow);
    const auto page = document->LoadPage(0);
    auto shades = [&](bool antialias) {
        const pdf::RenderOptions options{.antialias = antialias};
        const auto placement = pdf::PagePlacement::Fit(page->Width(), page->Height(), 600, 800, 72, 72, options);
        const auto renderer = pdf::BandRenderer::Create(*page, *placement, options);
        std::vector<BYTE> band(renderer->BufferBytes());
        EXPECT_TRUE(renderer->Record() && renderer->DrawRows(0, band));
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(band.data());
        return std::set<std::uint32_t>(pixels, pixels + 600 * 800).size();
    };
    EXPECT_GT(shades(true), 16u);
    // Hard edges: paper and ink.
    EXPECT_EQ(shades(false), 2u);
}

TEST(RenderPage, RefusesRequestsItCannotDraw)
{
    const std::string pdf = HandWrittenPdf({{.content = kCorners}, {}});
    auto attempt = [&](auto change) {
        pdf::PageRequest request;
        request.data = reinterpret_cast<const BYTE*>(pdf.data());
        request.size = int(pdf.size());
        request.dpiX = request.dpiY = 72;
        request.width = 60;
        request.height = 80;
        change(request);
        HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
        const bool drawn = pdf::RenderPage(request, recording);
        DeleteEnhMetaFile(CloseEnhMetaFile(recording));
        return drawn;
    };
    EXPECT_TRUE(attempt([](pdf::PageRequest&) {}));
    EXPECT_TRUE(attempt([](pdf::PageRequest& r) { r.page = 1; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.page = 2; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.page = -1; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.data = nullptr; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.size = 0; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.dpiY = 0; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.dpiX = pdf::kMaxResolution + 1; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.width = 0; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.height = pdf::kMaxRasterSide + 1; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.left = INT_MAX - 59; }));
    EXPECT_TRUE(attempt([](pdf::PageRequest& r) { r.left = INT_MAX - 60; }));
    EXPECT_FALSE(attempt([](pdf::PageRequest& r) { r.top = INT_MAX - 79; }));

    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = int(pdf.size());
    request.dpiX = request.dpiY = 72;
    request.width = 60;
    request.height = 80;
    EXPECT_FALSE(pdf::RenderPage(request, nullptr));
}

TEST(RenderPage, APagePastALimitFailsAndTheNextPageStillPrints)
{
    // The small hostile document of the limits: two million fills in about fifty kilobytes.
    const std::string hostile = ManyFillsPdf(2'000'000);
    EXPECT_LT(hostile.size(), 100'000u);
    bool ok = true;
    const Raster failed = Render(hostile, {}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(failed.Share(0, 0, 600, 800, kPaper), 1.0);

    // Each limit holds on its own, whichever way the page is drawn.
    pdf::PageLimits few;
    few.operations = 50;
    const std::string fills = ManyFillsPdf(20);
    Render(fills, {.limits = few}, &ok);
    EXPECT_TRUE(ok);
    Render(ManyFillsPdf(60), {.limits = few}, &ok);
    EXPECT_FALSE(ok);
    Render(CornersUnderAGroup(), {.limits = few}, &ok);
    EXPECT_TRUE(ok);
    few.operations = 3;
    Render(CornersUnderAGroup(), {.limits = few}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Render(HandWrittenPdf({{.content = kCorners}}), {}).At(50, 50), kRed);
}

// A page with its one tiling pattern filling a square at the top-left: red tiles of 10 points
// with a step of `step`.
std::string TiledPdf(const std::string& step)
{
    PdfWriter writer;
    writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
               "/Resources << /Pattern << /Tiles 5 0 R >> >> >>");
    writer.AddStream("", "/Pattern cs /Tiles scn 0 600 200 200 re f");
    writer.AddStream("/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep " + step + " /YStep " + step
                         + " /Resources << >>",
                     "1 0 0 rg 0 0 10 10 re f");
    return writer.Finish(1);
}

// Small hostile pages fail at a limit, quickly, and say which: tiles of a tiling pattern are
// counted before poppler draws them one by one (with a step of a millionth of a point it would
// tile for minutes), and clips nested thousands deep are counted as they are made. A document
// declaring 3·10^7 objects in a few hundred bytes is refused before its table is made.
TEST(RenderPage, SmallHostilePagesFailAtALimitAndSayWhich)
{
    bool ok = false;
    const Raster tiled = Render(TiledPdf("20"), {}, &ok);
    EXPECT_TRUE(ok);
    // The tiles start at the page's origin, at its bottom-left corner: 800 points below the top.
    EXPECT_EQ(tiled.At(5, 15), kRed);
    EXPECT_EQ(tiled.At(185, 195), kRed);
    EXPECT_EQ(tiled.At(15, 15), kPaper);
    EXPECT_EQ(tiled.At(5, 5), kPaper);
    EXPECT_EQ(tiled.At(205, 195), kPaper);
    EXPECT_EQ(pdf::PageNote(), "");

    Render(TiledPdf("0.000001"), {}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(pdf::PageNote(), "the page was not drawn: it passes the limit of 500000 drawing operations");

    std::string nested;
    for (int i = 0; i < 2000; ++i)
        nested += "q 0 0 600 800 re W n\n";
    nested += "1 0 0 rg 0 0 100 100 re f\n";
    for (int i = 0; i < 2000; ++i)
        nested += "Q\n";
    Render(HandWrittenPdf({{.content = nested}}), {}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(pdf::PageNote(), "the page was not drawn: it passes the limit of 1024 clip paths in force");

    const std::string sound = HandWrittenPdf({{.content = kCorners}});
    int pages = 0;
    EXPECT_TRUE(pdf::ReadDocumentInfo(Bytes(sound).data(), int(sound.size()), &pages, nullptr));
    const std::size_t table = sound.find("xref\n");
    ASSERT_NE(table, std::string::npos);
    const std::string header = sound.substr(table, sound.find('\n', table + 5) - table);
    // The table's one subsection, the same glued to the word before it (the table is read from
    // where the trailer points, whatever precedes it), or the trailer's /Size (a digit put in front
    // of its own).
    for (const auto& [from, to] : {std::pair<std::string, std::string>{header, "xref\n0 30000000"},
                                   {"\n" + header, "nxref\n0 30000000"},
                                   {"/Size ", "/Size 3000000"}}) {
        std::string hostile = sound;
        hostile.replace(hostile.find(from), from.size(), to);
        SCOPED_TRACE(to);
        EXPECT_FALSE(pdf::ReadDocumentInfo(Bytes(hostile).data(), int(hostile.size()), &pages, nullptr));
    }
}

TEST(RenderPage, WhatGdiRefusesToDrawIsLeftOutAndThePageDrawnOn)
{
    // Text squashed ten million to one, a pen likewise: GDI refuses to draw them.
    PdfWriter writer;
    writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
    writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
               "/Resources << /Font << /F 5 0 R >> >> >>");
    writer.AddStream("",
                     "BT /F 24 Tf 0.00001 Tz 100 400 Td (squashed) Tj ET "
                     "q 1 0 0 0.0000001 0 400 cm 5 w 0 0 m 600 0 l S Q "
                         + kCorners);
    writer.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    bool ok = false;
    const Raster raster = Render(writer.Finish(1), {}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(raster.Share(0, 0, 100, 100, kRed), 1.0);
    EXPECT_EQ(raster.Share(500, 700, 600, 800, kBlue), 1.0);
}

TEST(RenderPage, APictureDrawnInThisProcessLeavesTheDocumentsOpenDrawable)
{
    // The document the renderer keeps, drawn once.
    const std::string kept = HandWrittenPdf({{.content = kCorners}});
    EXPECT_EQ(Render(kept, {}).At(50, 50), kRed);
    // A page drawn as a picture here, its document then closed: the picture drawing's library
    // counts its users of poppler's settings, and must not take them from under the kept document.
    {
        const std::string other = CornersUnderAGroup();
        const auto document = pdf::Document::Open(Bytes(other), pdf::Document::Storage::Borrow);
        const auto page = document->LoadPage(0);
        const auto placement = pdf::PagePlacement::Fit(page->Width(), page->Height(), 60, 80, 72, 72, {});
        const auto renderer = pdf::BandRenderer::Create(*page, *placement, {});
        ASSERT_TRUE(renderer && renderer->Record());
    }
    bool ok = false;
    EXPECT_EQ(Render(kept, {}, &ok).At(50, 50), kRed);
    EXPECT_TRUE(ok);
}

// A band starting at any row is an exact cut of the page drawn whole, so pieces meet without seams.
TEST(BandRenderer, BandsFromAnyRowAreCutsOfOneWholeRender)
{
    const std::string text = CairoTextPdf(1);
    const auto document = pdf::Document::Open(Bytes(text), pdf::Document::Storage::Borrow);
    ASSERT_TRUE(document);
    const auto page = document->LoadPage(0);
    const auto placement = pdf::PagePlacement::Fit(page->Width(), page->Height(), 850, 1100, 100, 100, {});
    ASSERT_TRUE(placement);
    const auto whole = pdf::BandRenderer::Create(*page, *placement, {}, std::size_t(850) * 4 * 1100);
    ASSERT_TRUE(whole && whole->Record());
    ASSERT_EQ(whole->BandRows(), 1100);
    std::vector<BYTE> all(whole->BufferBytes());
    ASSERT_TRUE(whole->DrawRows(0, all));
    const auto banded = pdf::BandRenderer::Create(*page, *placement, {}, std::size_t(850) * 4 * 300);
    ASSERT_TRUE(banded && banded->Record());
    EXPECT_EQ(banded->BandRows(), 300);
    std::vector<BYTE> band(banded->BufferBytes());
    for (int first : {0, 1, 37, 512, 1099}) {
        ASSERT_TRUE(banded->DrawRows(first, band));
        const int rows = std::min(300, 1100 - first);
        EXPECT_TRUE(std::equal(band.begin(), band.begin() + std::ptrdiff_t(rows) * 850 * 4,
                               all.begin() + std::ptrdiff_t(first) * 850 * 4))
            << first;
    }
    EXPECT_FALSE(banded->DrawRows(1100, band));
    EXPECT_FALSE(banded->DrawRows(-1, band));
    // Bands never hold fewer rows than the cuts need, whatever memory they are given.
    const auto tiny = pdf::BandRenderer::Create(*page, *placement, {}, 1);
    EXPECT_EQ(tiny->BandRows(), pdf::BandRenderer::kMinBandRows);
}

} // namespace
} // namespace pdf_test

// Pages rendered into bands and probed pixel by pixel: where content lands, white paper, seams.
#include "plugins/pdf/renderer.h"
#include "tests/pdf/pdf_test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace pdf_test {
namespace {

constexpr std::uint32_t kRed = Rgb(255, 0, 0);
constexpr std::uint32_t kBlue = Rgb(0, 0, 255);
constexpr std::uint32_t kBlack = Rgb(0, 0, 0);

// A 600 × 800 point page with a red square at its top-left corner and a blue one at its
// bottom-right, each 100 points wide (PDF y runs up from the bottom).
const std::string kCorners = "1 0 0 rg 0 700 100 100 re f 0 0 1 rg 500 0 100 100 re f";

// The raster of a 60 × 80 pixel region per 600 × 800 points: one pixel per ten points.
struct Probe {
    const Raster& raster;
    // The colour at the middle of the ten-point cell whose top-left corner is (x, y) in pixels.
    std::uint32_t Cell(int x, int y) const { return raster.At(x + 5, y + 5); }
};

TEST(RenderPage, ContentLandsWhereThePagePutsIt)
{
    const Raster raster = Render(HandWrittenPdf({{.content = kCorners}}), 0, 600, 800, 72);
    EXPECT_EQ(raster.Share(0, 0, 100, 100, kRed), 1.0);
    EXPECT_EQ(raster.Share(500, 700, 600, 800, kBlue), 1.0);
    // White paper everywhere else, with its opaque top byte.
    EXPECT_EQ(raster.Share(100, 100, 500, 700, Raster::kWhite), 1.0);
    EXPECT_EQ(raster.Share(100, 0, 600, 100, Raster::kWhite), 1.0);
    EXPECT_EQ(raster.Share(0, 700, 500, 800, Raster::kWhite), 1.0);
}

TEST(RenderPage, TextLandsOnItsLines)
{
    // 56 lines of 10-point text from x = 54 points, baselines from y = 72 points every 12 points.
    const Raster raster = Render(CairoTextPdf(1), 0, 612, 792, 72);
    auto inked = [&](int x0, int y0, int x1, int y1) { return 1.0 - raster.Share(x0, y0, x1, y1, Raster::kWhite); };
    EXPECT_EQ(inked(0, 0, 53, 792), 0.0);
    EXPECT_EQ(inked(0, 0, 612, 62), 0.0);
    EXPECT_GT(inked(54, 63, 300, 74), 0.1);
    EXPECT_GT(inked(54, 723, 300, 734), 0.1);
    EXPECT_EQ(inked(0, 737, 612, 792), 0.0);
}

TEST(RenderPage, ABlankPageIsWhitePaper)
{
    const Raster raster = Render(HandWrittenPdf({{.mediaBox = "0 0 612 792"}}), 0, 510, 660, 60);
    EXPECT_EQ(raster.Share(0, 0, 510, 660, Raster::kWhite), 1.0);
}

TEST(RenderPage, RotatedPagesAreTurnedBackToFitTheBounds)
{
    // /Rotate 90 shows the page landscape, turned clockwise: the red corner goes to the top-right.
    const std::string rotated = HandWrittenPdf({{.rotate = 90, .content = kCorners}});
    const Raster landscape = Render(rotated, 0, 800, 600, 72);
    EXPECT_EQ(landscape.Share(700, 0, 800, 100, kRed), 1.0);
    EXPECT_EQ(landscape.Share(0, 500, 100, 600, kBlue), 1.0);

    // On portrait bounds the landscape view is turned a quarter back: the page fills them as drawn.
    const Raster portrait = Render(rotated, 0, 600, 800, 72);
    EXPECT_EQ(portrait.Share(0, 0, 100, 100, kRed), 1.0);
    EXPECT_EQ(portrait.Share(500, 700, 600, 800, kBlue), 1.0);

    // Without rotateToFit it shrinks to 600 × 450, centred down the bounds (top at 175).
    const Raster kept = Render(rotated, 0, 600, 800, 72, {.rotateToFit = false});
    EXPECT_EQ(kept.Share(0, 0, 600, 175, Raster::kUntouched), 1.0);
    EXPECT_EQ(kept.Share(525, 175, 600, 250, kRed), 1.0);
    EXPECT_EQ(kept.Share(0, 550, 75, 625, kBlue), 1.0);
    EXPECT_EQ(kept.Share(0, 625, 600, 800, Raster::kUntouched), 1.0);
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
    const Raster turned = Render(pdf, 1, 600, 800, 72);
    EXPECT_EQ(turned.Share(0, 0, 100, 800, Raster::kUntouched), 1.0);
    EXPECT_EQ(turned.Share(100, 700, 200, 800, kRed), 1.0);
    EXPECT_EQ(turned.Share(500, 0, 600, 800, Raster::kUntouched), 1.0);
    EXPECT_EQ(turned.At(150, 650), Raster::kWhite);
    // The small page is enlarged four times: its blue corner becomes 100 × 100.
    const Raster enlarged = Render(pdf, 2, 600, 800, 72);
    EXPECT_EQ(enlarged.Share(500, 700, 600, 800, kBlue), 1.0);
    EXPECT_EQ(enlarged.Share(0, 0, 500, 700, Raster::kWhite), 1.0);
}

TEST(RenderPage, TheCropBoxIsThePage)
{
    // The crop box cuts the red corner away and starts 100 points in from the left.
    const std::string pdf = HandWrittenPdf({{.cropBox = "100 0 600 800", .content = kCorners}});
    const Raster raster = Render(pdf, 0, 500, 800, 72);
    EXPECT_EQ(raster.Share(0, 0, 500, 700, Raster::kWhite), 1.0);
    EXPECT_EQ(raster.Share(400, 700, 500, 800, kBlue), 1.0);
}

TEST(RenderPage, BandsMeetWithoutSeams)
{
    // Text, a circle and a turned page: every band size gives the pixels of a single band.
    const std::string text = CairoTextPdf(1);
    const std::string shapes = HandWrittenPdf({{.mediaBox = "0 0 792 612",
                                                .content = "0.2 0.5 0.8 rg 400 300 m 400 420 300 500 200 500 c "
                                                           "100 500 30 420 30 300 c 30 180 100 100 200 100 c f "
                                                           "0 0 0 RG 3 w 0 0 m 800 600 l S"}});
    for (const std::string* pdf : {&text, &shapes}) {
        const Raster whole = Render(*pdf, 0, 850, 1100, 100, {}, std::size_t(850) * 4 * 1100);
        ASSERT_EQ(whole.bands, 1);
        for (std::size_t rows : {1, 37, 512}) {
            const Raster banded = Render(*pdf, 0, 850, 1100, 100, {}, std::size_t(850) * 4 * rows);
            EXPECT_EQ(banded.bands, int((1100 + rows - 1) / rows));
            EXPECT_TRUE(banded.pixels == whole.pixels) << rows << " rows";
        }
    }
}

TEST(RenderPage, AntialiasingSmoothsEdgesOnlyWhenAsked)
{
    const std::string text = CairoTextPdf(1);
    auto shades = [](const Raster& raster) {
        std::set<std::uint32_t> seen(raster.pixels.begin(), raster.pixels.end());
        return seen.size();
    };
    const Raster smooth = Render(text, 0, 612, 792, 72);
    EXPECT_GT(shades(smooth), 16u);
    const Raster hard = Render(text, 0, 612, 792, 72, {.antialias = false});
    EXPECT_EQ(shades(hard), 2u);
    EXPECT_GT(hard.Share(0, 0, 612, 792, kBlack), 0.01);
}

TEST(RenderPage, StretchingFillsTheBounds)
{
    const std::string pdf = HandWrittenPdf({{.content = kCorners}});
    const Raster raster = Render(pdf, 0, 300, 800, 72, {.stretchToBounds = true});
    EXPECT_EQ(raster.Share(0, 0, 50, 100, kRed), 1.0);
    EXPECT_EQ(raster.Share(250, 700, 300, 800, kBlue), 1.0);
    EXPECT_EQ(raster.Share(0, 0, 300, 800, Raster::kUntouched), 0.0);
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
    EXPECT_EQ(Render(pdf, 0, 600, 800, 72).At(300, 400), Rgb(0, 255, 0));
    EXPECT_EQ(Render(pdf, 0, 600, 800, 72, {.printMarkups = false}).At(300, 400), Raster::kWhite);
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
        int bands = 0;
        const bool ok = pdf::RenderPage(request, [&](const pdf::Band&) { return ++bands > 0; });
        return ok ? bands : -1;
    };
    EXPECT_EQ(attempt([](pdf::PageRequest&) {}), 1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.page = 1; }), 1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.page = 2; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.page = -1; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.data = nullptr; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.size = 0; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.dpiY = 0; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.dpiX = pdf::kMaxResolution + 1; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.width = 0; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.height = pdf::kMaxRasterSide + 1; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.left = INT_MAX - 59; }), -1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.left = INT_MAX - 60; }), 1);
    EXPECT_EQ(attempt([](pdf::PageRequest& r) { r.top = INT_MAX - 79; }), -1);
}

TEST(RenderPage, BandsArePlacedAtTheBoundsAndStopWhenRefused)
{
    const std::string pdf = HandWrittenPdf({{.content = kCorners}});
    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(pdf.data());
    request.size = int(pdf.size());
    request.dpiX = request.dpiY = 72;
    request.left = -30;
    request.top = 1000;
    request.width = 80;
    request.height = 80;
    std::vector<pdf::Band> seen;
    const bool ok = pdf::RenderPage(
        request,
        [&](const pdf::Band& band) {
            seen.push_back(band);
            return seen.size() < 2;
        },
        std::size_t(60) * 4 * 30);
    EXPECT_FALSE(ok);
    ASSERT_EQ(seen.size(), 2u);
    // A 60 × 80 page centred in 80 × 80 bounds, in bands of 30 rows.
    EXPECT_EQ(seen[0].left, -20);
    EXPECT_EQ(seen[0].top, 1000);
    EXPECT_EQ(seen[0].width, 60);
    EXPECT_EQ(seen[0].height, 30);
    EXPECT_EQ(seen[1].top, 1030);
}

} // namespace
} // namespace pdf_test

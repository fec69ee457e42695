// The output device: which pages GDI calls can show, the limits a page is counted against, the dash
// styles of PDF dash patterns, and the records a page leaves in a metafile.
#include "platform/gdi/gdi.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/path_trim.h"
#include "plugins/pdf/renderer.h"
#include "plugins/pdf/stroke_outline.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/support/temp_root.h"

#include <Page.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>

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
               "/ExtGState << /Half 5 0 R /Multiply 6 0 R /Masked 7 0 R /Full 9 0 R /None 15 0 R "
               "/MaskedByPicture 18 0 R /Shadow 20 0 R >> "
               "/XObject << /Group 10 0 R /Knockout 11 0 R /Image 12 0 R /HalfInside 16 0 R "
               "/MultiplyIsolated 17 0 R /TextInside 23 0 R >> "
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
    writer.Add("<< /Type /ExtGState /ca 0 /CA 0 >>");
    // A group whose resources hold transparency: poppler hands it over even when it is plain.
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >> "
                     "/Resources << /ExtGState << /Half 5 0 R >> >>",
                     "/Half gs 0 0 1 rg 100 100 200 200 re f");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency /I true >> "
                     "/Resources << /ExtGState << /Multiply 6 0 R >> >>",
                     "/Multiply gs 0 0 1 rg 100 100 200 200 re f");
    writer.Add("<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 19 0 R >> >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >> "
                     "/Resources << /XObject << /Image 12 0 R >> >>",
                     "q 600 0 0 800 0 0 cm /Image Do Q");
    // A mask of a shading across a box, fading out to its right: a shadow's.
    writer.Add("<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 21 0 R >> >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency /CS /DeviceGray >> "
                     "/Resources << /Shading << /Sh 22 0 R >> >>",
                     "q 100 100 200 200 re W n /Sh sh Q");
    writer.Add("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [100 0 300 0] "
               "/Function << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >> >>");
    writer.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 600 800] /Group << /S /Transparency >> "
                     "/Resources << /Font << /F 14 0 R >> >>",
                     "0 0 1 rg 100 100 200 200 re f BT /F 12 Tf 120 120 Td (text) Tj ET");
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

TEST(OutputDevice, OnlyWhatGdiCannotShowGoesAsRegions)
{
    // A picture beneath: no blend is drawn over it as shapes or text of a colour worked out.
    const std::string picture = "q 600 0 0 800 0 0 cm /Image Do Q ";
    const std::vector<std::pair<std::string, PageWay>> cases = {
        {"0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"/Full gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        // A constant opacity on a fill or a stroke (solid or dashed) is a blend through a clip...
        {"/Half gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"/Half gs 0 0 1 RG 10 10 100 100 re S", PageWay::Vectors},
        {"/Half gs 0 0 1 RG [4 2] 0 d 10 10 100 100 re S", PageWay::Vectors},
        // ... but not one of millions of dashes, nor a line of no width.
        {"/Half gs 0 0 1 RG [0.001 0.001] 0 d 0 0 m 600 800 l S", PageWay::Regions},
        {"/Half gs 0 0 1 RG 0 w 10 10 100 100 re S", PageWay::Regions},
        {"/None gs 0 0 1 rg 10 10 100 100 re f 5 w 0 0 m 100 100 l S", PageWay::Vectors},
        // A fill in a blend mode or under a soft mask of plain fills, over only plain fills, is the
        // opaque parts it leaves; over anything else, inside an isolated group, or under a mask
        // holding more than plain fills, it is an area; a stroke so painted always is.
        {"/Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"1 0 0 rg 0 0 50 50 re f /Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"/Masked gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"1 0 0 rg 0 0 50 50 re f /Masked gs /Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Vectors},
        {"BT /F 12 Tf 10 10 Td (text) Tj ET /Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Regions},
        {"/Half gs 1 0 0 rg 0 0 50 50 re f /Full gs /Multiply gs 0 0 1 rg 10 10 100 100 re f", PageWay::Regions},
        {"q 0 0 m 50 0 l 0 50 l h W n 1 0 0 rg 0 0 50 50 re f Q /Masked gs 0 0 1 rg 10 10 100 100 re f",
         PageWay::Regions},
        {"/MultiplyIsolated Do", PageWay::Regions},
        {"/MaskedByPicture gs 0 0 1 rg 10 10 100 100 re f", PageWay::Regions},
        // A mask of a shading is flat too; its paint may lie over words where the mask lets nothing
        // through, but not where it lets something through.
        {"/Shadow gs 0 g 0 0 600 800 re f", PageWay::Vectors},
        {"BT /F 12 Tf 400 400 Td (text) Tj ET /Shadow gs 0 g 0 0 600 800 re f", PageWay::Vectors},
        {"BT /F 12 Tf 150 150 Td (text) Tj ET /Shadow gs 0 g 0 0 600 800 re f", PageWay::Regions},
        {"/Multiply gs 0 0 1 RG 10 10 100 100 re S", PageWay::Regions},
        // A group that looks the same drawn straight onto the page is drawn as shapes.
        {"/Group Do", PageWay::Vectors},
        {"/HalfInside Do", PageWay::Vectors},
        // A group of opaque fills under an opacity, or of fills of their own opacities knocking one
        // another out, is its fills, each cut by the later ones; a group of translucent fills
        // over one another, or holding anything but fills, is an area.
        {"/Half gs /Group Do", PageWay::Vectors},
        {"/Knockout Do", PageWay::Vectors},
        {"/Half gs /HalfInside Do", PageWay::Regions},
        {"/Half gs /TextInside Do", PageWay::Regions},
        {"/Multiply gs /Group Do", PageWay::Regions},
        {"/Masked gs /Group Do", PageWay::Regions},
        // Constant alpha on a picture is AlphaBlend's own.
        {"/Half gs q 100 0 0 100 0 0 cm /Image Do Q", PageWay::Vectors},
        {"/Multiply gs q 100 0 0 100 0 0 cm /Image Do Q", PageWay::Regions},
        {"/Masked gs q 100 0 0 100 0 0 cm /Image Do Q", PageWay::Regions},
        {"BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        // Text filled under an opacity or in a blend mode over the paper or one plain box is text in
        // the colour it leaves there. Over anything else, large text filled under a constant
        // opacity (36 points on the page and more) is its glyphs' outlines blended; smaller,
        // stroked, or of no opacity (a layer of words meant to be found), it goes as an area over
        // its words.
        {"/Half gs BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {"/Multiply gs BT /F 48 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {"0 g 0 0 600 100 re f /Multiply gs BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {"0 g 0 0 600 12 re f /Multiply gs BT /F 12 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {picture + "/Half gs BT /F 36 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {picture + "2 0 0 2 0 0 cm /Half gs BT /F 18 Tf 10 10 Td (text) Tj ET", PageWay::Vectors},
        {picture + "/Half gs BT /F 35 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {picture + "0.5 0 0 0.5 0 0 cm /Half gs BT /F 60 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {"/Half gs BT 1 Tr /F 48 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {"/None gs BT /F 48 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {picture + "/Multiply gs BT /F 48 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        // Small translucent text holding a tenth of a page's glyphs at most goes as outlines too:
        // one translucent glyph beside nine opaque ones, not beside eight.
        {picture + "BT /F 12 Tf 10 10 Td (ninechars) Tj ET /Half gs BT /F 12 Tf 10 100 Td (t) Tj ET", PageWay::Vectors},
        {picture + "BT /F 12 Tf 10 10 Td (eightchr) Tj ET /Half gs BT /F 12 Tf 10 100 Td (t) Tj ET", PageWay::Regions},
        {"/Masked gs BT /F 48 Tf 10 10 Td (text) Tj ET", PageWay::Regions},
        {"/Half gs BT 3 Tr /F 12 Tf 10 10 Td (invisible) Tj ET", PageWay::Vectors},
        // A gradient becomes fills of its colours; a stencil filled with it cannot be drawn.
        {"/Pattern cs /Shade scn 0 0 600 100 re f", PageWay::Vectors},
        {"/Pattern cs /Shade scn q 100 0 0 100 0 0 cm BI /W 1 /H 1 /IM true ID \x00 EI Q", PageWay::Regions},
        {"/Pattern CS /Shade SCN 10 w 0 0 m 600 100 l S", PageWay::Regions},
    };
    for (const auto& [content, way] : cases)
        EXPECT_EQ(Survey(WithResources(content)), way) << content;
}

// The areas and covers the counting pass finds, in device points (y down from the top of the
// 800-point page).
pdf::PageAreas Found(const std::string& content)
{
    const std::string pdf = WithResources(content);
    const auto document = pdf::Document::Open(Bytes(pdf), pdf::Document::Storage::Borrow);
    const auto page = document->LoadPage(0);
    pdf::PageTexts texts;
    pdf::PageAreas areas;
    pdf::SurveyPage(*page, {}, texts, {}, &areas);
    return areas;
}

std::vector<pdf::PageArea> Areas(const std::string& content)
{
    return Found(content).areas;
}

TEST(OutputDevice, AnAreaIsWhereTheUnplainPaintLandsWithinTheClip)
{
    auto expectArea = [](const std::string& content, double x0, double y0, double x1, double y1) {
        const std::vector<pdf::PageArea> areas = Areas(content);
        ASSERT_EQ(areas.size(), 1u) << content;
        // Boxes are grown by a point, so that smoothed edges stay inside.
        EXPECT_NEAR(areas[0].x0, x0, 1.01) << content;
        EXPECT_NEAR(areas[0].y0, y0, 1.01) << content;
        EXPECT_NEAR(areas[0].x1, x1, 1.01) << content;
        EXPECT_NEAR(areas[0].y1, y1, 1.01) << content;
    };
    // Blends over a picture, which no blend is drawn over as shapes.
    const std::string picture = "q 600 0 0 800 0 0 cm /Image Do Q ";
    expectArea(picture + "/Multiply gs 0 0 1 rg 10 10 100 100 re f", 10, 690, 110, 790);
    // A stroke reaches half its width (a mitred corner its miter limit) beyond its path.
    expectArea("/Multiply gs 0 0 1 RG 10 w 2 M 10 10 100 100 re S", 0, 680, 120, 800);
    // Round joins reach no further than half the width.
    expectArea("/Multiply gs 0 0 1 RG 10 w 1 j 10 10 100 100 re S", 5, 685, 115, 795);
    // Cut to the clip.
    expectArea(picture + "0 0 50 50 re W n /Multiply gs 0 0 1 rg 10 10 100 100 re f", 10, 750, 50, 790);
    // A group is as large as what it paints, not its bounding box (the whole page here): the
    // translucent fill it holds, under the group's opacity.
    expectArea("/Half gs /HalfInside Do", 100, 500, 300, 700);
    // Plain paint around it makes no area.
    expectArea(picture + "q /Multiply gs 1 0 0 rg 200 200 10 10 re f Q 0 g 0 0 5 5 re f", 200, 590, 210, 600);
    EXPECT_TRUE(Areas("0 0 1 rg 10 10 100 100 re f").empty());
    // A soft mask ends with the state it was set in: what is painted after that is plain.
    expectArea("q /MaskedByPicture gs 0 0 1 rg 10 10 100 100 re f Q 1 0 0 rg 300 300 100 100 re f", 10, 690, 110, 790);
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
        double lead = 0;
    };
    // Lengths are doubled (scale 2) on the way.
    const std::vector<Case> cases = {
        {{3, 2}, 0, true, {6, 4}},
        {{3, 2}, 1, true, {4, 4, 2, 0}},          // in the dash: its rest first, its start last
        {{3, 2}, 4, true, {0, 2, 6, 2}},          // in the gap: a dash of no length first
        {{3, 2}, 4, false, {6, 4}, 2},            // ... which round caps would show: the path starts later
        {{3, 2}, 3.5, false, {6, 4}, 3},          // ... by the rest of the gap
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
        const pdf::PenDashes pen = pdf::DashStyle(c.dashes, c.phase, 2.0, c.flatCaps);
        EXPECT_THAT(pen.style, ElementsAreArray(c.style)) << ::testing::PrintToString(c.dashes) << " phase " << c.phase;
        EXPECT_DOUBLE_EQ(pen.lead, c.lead) << ::testing::PrintToString(c.dashes) << " phase " << c.phase;
    }
    // At 600 dpi in sixteenths of a dot (400/3 a point): a phase on a dash's end stays there, though
    // the scaled lengths do not add up exactly; entries are rounded where they end, so every cycle
    // keeps the document's length instead of losing a unit to each rounded entry.
    const double sixteenths = 400.0 / 3;
    const pdf::PenDashes onEnd = pdf::DashStyle({30, 30}, 90, sixteenths, false);
    EXPECT_THAT(onEnd.style, ElementsAreArray({4000u, 4000u}));
    EXPECT_DOUBLE_EQ(onEnd.lead, 4000);
    const pdf::PenDashes inGap = pdf::DashStyle({40, 20}, 50, sixteenths, true);
    EXPECT_EQ(std::accumulate(inGap.style.begin(), inGap.style.end(), DWORD{0}), 8000u);
}

// The points of a path, subpath by subpath, "x,y" with "c" before a curve's points and "z" after a
// closed subpath.
std::vector<std::string> PathPoints(const GfxPath& path)
{
    std::vector<std::string> subpaths;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        std::string points;
        for (int p = 0; p < subpath->getNumPoints(); ++p) {
            char point[64];
            std::snprintf(point, sizeof point, "%s%.3g,%.3g ", subpath->getCurve(p) ? "c" : "", subpath->getX(p),
                          subpath->getY(p));
            points += point;
        }
        subpaths.push_back(points + (subpath->isClosed() ? "z" : ""));
    }
    return subpaths;
}

TEST(OutputDevice, DashedSubpathsStartingInAGapStartWhereTheirFirstDashDoes)
{
    GfxPath path;
    // A closed square, a short line wholly inside the gap, a quarter circle of radius 10.
    path.moveTo(0, 0);
    path.lineTo(10, 0);
    path.lineTo(10, 10);
    path.lineTo(0, 10);
    path.close();
    path.moveTo(20, 0);
    path.lineTo(22, 0);
    path.moveTo(30, 0);
    const double k = 0.5523 * 10;
    path.curveTo(30 + k, 0, 40, 10 - k, 40, 10);
    const std::unique_ptr<GfxPath> trimmed = pdf::TrimSubpathStarts(path, 4);
    const std::vector<std::string> subpaths = PathPoints(*trimmed);
    ASSERT_EQ(subpaths.size(), 2u);
    // The square is cut open and ends back at its first corner.
    EXPECT_EQ(subpaths[0], "4,0 10,0 10,10 0,10 0,0 ");
    // The arc starts 4 along it: at an angle of 4/10 radians from its start.
    GfxSubpath* arc = trimmed->getSubpath(1);
    ASSERT_EQ(arc->getNumPoints(), 4);
    EXPECT_NEAR(arc->getX(0), 30 + 10 * std::sin(0.4), 0.01);
    EXPECT_NEAR(arc->getY(0), 10 - 10 * std::cos(0.4), 0.01);
    EXPECT_NEAR(arc->getX(3), 40, 1e-9);
    EXPECT_NEAR(arc->getY(3), 10, 1e-9);
    // Nothing to cut copies the path.
    EXPECT_EQ(PathPoints(*pdf::TrimSubpathStarts(path, 0)), PathPoints(path));
}

// The stretches along x that the outline of a stroke along y = 0 covers, joined where they meet.
std::vector<std::pair<double, double>> Covered(const std::vector<double>& pattern, double phase, int cap, double length)
{
    const PDFRectangle page(0, 0, 600, 800);
    GfxState state(72, 72, &page, 0, false);
    state.setLineWidth(2);
    state.setLineCap(cap);
    state.setLineDash(std::vector<double>(pattern), phase);
    GfxPath path;
    path.moveTo(0, 0);
    path.lineTo(length, 0);
    const std::unique_ptr<GfxPath> outline = pdf::StrokeOutline(&state, path, pdf::Matrix{});
    std::vector<std::pair<double, double>> stretches;
    if (!outline)
        return stretches;
    for (int i = 0; i < outline->getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = outline->getSubpath(i);
        double x0 = HUGE_VAL, x1 = -HUGE_VAL;
        for (int p = 0; p < subpath->getNumPoints(); ++p) {
            x0 = std::min(x0, subpath->getX(p));
            x1 = std::max(x1, subpath->getX(p));
        }
        stretches.emplace_back(x0, x1);
    }
    std::sort(stretches.begin(), stretches.end());
    std::vector<std::pair<double, double>> joined;
    for (const auto& stretch : stretches) {
        if (!joined.empty() && stretch.first <= joined.back().second + 1e-6)
            joined.back().second = std::max(joined.back().second, stretch.second);
        else
            joined.push_back(stretch);
    }
    return joined;
}

TEST(OutputDevice, AStrokesOutlineHoldsItsDashesFromThePhaseWithTheirCaps)
{
    using Stretches = std::vector<std::pair<double, double>>;
    auto expectStretches = [](const Stretches& got, const Stretches& expected, const char* what) {
        ASSERT_EQ(got.size(), expected.size()) << what;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].first, expected[i].first, 1e-6) << what << " " << i;
            EXPECT_NEAR(got[i].second, expected[i].second, 1e-6) << what << " " << i;
        }
    };
    // Flat caps: the pattern starts 6 into its first dash, and the last dash ends with the line.
    expectStretches(Covered({20, 12}, 6, 0, 100), {{0, 14}, {26, 46}, {58, 78}, {90, 100}}, "dashes from a phase");
    // An odd pattern repeats with dashes and gaps swapped.
    expectStretches(Covered({10}, 0, 0, 45), {{0, 10}, {20, 30}, {40, 45}}, "an odd pattern");
    // A phase inside a gap starts with the rest of the gap; square caps reach half the width.
    expectStretches(Covered({4, 6}, 7, 2, 20), {{2, 8}, {12, 18}}, "square caps from a gap");
    // Dashes of no length with round caps are dots, one at every cycle.
    expectStretches(Covered({0, 10}, 0, 1, 30), {{-1, 1}, {9, 11}, {19, 21}, {29, 31}}, "round dots");
    // Solid, it is one stretch; millions of dashes have no outline.
    expectStretches(Covered({}, 0, 0, 50), {{0, 50}}, "solid");
    expectStretches(Covered({0.00001, 0.00001}, 0, 0, 50), {}, "past the dashes an outline holds");
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
std::vector<BYTE> RecordPage(const std::string& pdf, int page, const pdf::PageLimits& limits = {})
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
    EXPECT_TRUE(pdf::RenderPage(request, recording, pdf::BandRenderer::kBandBytes, limits));
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

TEST(OutputDevice, TranslucentPaintIsItsShapeMadeTheClipAndItsColourBlendedOverIt)
{
    // A fill and a round-capped stroke at half opacity, and a fill of none: each painted one is a
    // clip to its shape (the stroke's outline) and a one-pixel bitmap of its colour blended at half
    // alpha inside a saved state; no pen, no picture, no area.
    const std::vector<BYTE> bytes
        = RecordPage(WithResources("/Half gs 0 0 1 rg 10 10 100 100 re f 1 0 0 RG 20 w 1 J 200 200 m 400 300 l S "
                                   "/None gs 0 1 0 rg 300 300 100 100 re f"),
                     0);
    std::map<DWORD, int> counts = Count(RecordTypes(bytes));
    EXPECT_EQ(counts[EMR_ALPHABLEND], 2);
    EXPECT_EQ(counts[EMR_SELECTCLIPPATH], 1 + 2); // the crop box, then one for each
    EXPECT_EQ(counts[EMR_FILLPATH] + counts[EMR_STROKEPATH] + counts[EMR_STRETCHDIBITS] + counts[EMR_GDICOMMENT], 0);
    EXPECT_EQ(counts[EMR_SAVEDC], counts[EMR_RESTOREDC]);
    std::vector<std::array<LONG, 4>> boxes;
    std::size_t at = 0;
    for (DWORD type : RecordTypes(bytes)) {
        DWORD size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (type == EMR_ALPHABLEND) {
            BLENDFUNCTION blend{};
            std::memcpy(&blend, bytes.data() + at + 40, sizeof blend);
            EXPECT_EQ(blend.SourceConstantAlpha, 128);
            EXPECT_EQ(blend.AlphaFormat, 0);
            LONG box[4];
            std::memcpy(box, bytes.data() + at + 8, sizeof box);
            boxes.push_back({box[0], box[1], box[2], box[3]});
        }
        at += size;
    }
    ASSERT_EQ(boxes.size(), 2u);
    // The stroke's blend covers its outline: the line's 200 by 100 points, its round caps reaching
    // 10 beyond each end (at 96 dpi, 4/3 of a unit a point, within the blend's margin).
    const double across = boxes[1][2] - boxes[1][0], down = boxes[1][3] - boxes[1][1];
    EXPECT_NEAR(across, (200 + 2 * 10) * 4.0 / 3, 4);
    EXPECT_NEAR(down, (100 + 2 * 10) * 4.0 / 3, 4);

    // Large glyphs filled under a constant opacity over a picture: each is its outline blended, and
    // no glyph run is left to show them opaque.
    const std::map<DWORD, int> text
        = Count(RecordTypes(RecordPage(WithResources("q 600 0 0 800 0 0 cm /Image Do Q "
                                                     "/Half gs 0 0 1 rg BT /F 48 Tf 10 400 Td (Hi) Tj ET"),
                                       0)));
    EXPECT_EQ(text.at(EMR_ALPHABLEND), 2);
    EXPECT_FALSE(text.contains(EMR_EXTTEXTOUTW));
    EXPECT_FALSE(text.contains(EMR_GDICOMMENT));

    // A shape reaching kilometres off the page: its blend's box still fits GDI's integers.
    const std::vector<BYTE> far
        = RecordPage(WithResources("/Half gs 1 0 0 rg -1000000000 -1000000000 2000000000 2000000000 re f"), 0);
    EXPECT_EQ(Count(RecordTypes(far))[EMR_ALPHABLEND], 1);
}

TEST(OutputDevice, ATransparentPageKeepsItsTextAndPaintsItsAreasOverIt)
{
    // Text and rules under a half-transparent group: the text stays glyph runs, the group's area
    // is painted over them as one picture, and the page is no picture page (no note).
    const std::vector<BYTE> bytes = RecordPage(FeaturePdf(), 3);
    std::map<DWORD, int> counts = Count(RecordTypes(bytes));
    EXPECT_GE(counts[EMR_EXTTEXTOUTW], 40);
    // One note for the area ("QPIC" and 2), none for a picture page.
    ASSERT_EQ(counts[EMR_GDICOMMENT], 1);
    // The area, larger than a band's memory, goes in strips of its full width, each starting a
    // margin of rows (25 at 600 dpi, recorded at the screen's 96 dpi: 4) before the last one ends,
    // so that the rows both paint are the same and no seam can open between them.
    std::vector<std::array<LONG, 4>> strips;
    std::size_t at = 0;
    for (DWORD type : RecordTypes(bytes)) {
        DWORD size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (type == EMR_STRETCHDIBITS) {
            LONG bounds[4];
            std::memcpy(bounds, bytes.data() + at + 8, sizeof bounds);
            strips.push_back({bounds[0], bounds[1], bounds[2], bounds[3]});
        }
        at += size;
    }
    ASSERT_GE(strips.size(), 2u);
    for (std::size_t i = 1; i < strips.size(); ++i) {
        EXPECT_EQ(strips[i][0], strips[0][0]);
        EXPECT_EQ(strips[i][2], strips[0][2]);
        EXPECT_GT(strips[i][1], strips[i - 1][1]);
        EXPECT_LE(strips[i][1], strips[i - 1][3] - 3);
    }
    // The picture is painted last, over everything beneath it.
    const std::vector<DWORD> types = RecordTypes(bytes);
    auto last = [&](DWORD type) { return std::find(types.rbegin(), types.rend(), type) - types.rbegin(); };
    EXPECT_LT(last(EMR_STRETCHDIBITS), last(EMR_EXTTEXTOUTW));
    EXPECT_LT(last(EMR_STRETCHDIBITS), last(EMR_STROKEPATH));
}

TEST(OutputDevice, APageWhoseAreasCostMoreThanThePageGoesAsAPictureWithItsNote)
{
    // The same page when half its metafile could not hold the area's pixels: drawn whole as
    // pieces of ink, the note first.
    pdf::PageLimits limits;
    limits.metafileBytes = 2 << 20;
    const std::vector<BYTE> bytes = RecordPage(FeaturePdf(), 3, limits);
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

// The bytes of the first DCT stream of a document.
std::string FirstJpeg(const std::string& pdf)
{
    const std::size_t filter = pdf.find("/DCTDecode");
    const std::size_t length = pdf.find("/Length ", filter);
    const std::size_t start = pdf.find("stream\n", filter) + 7;
    return pdf.substr(start, std::stoul(pdf.substr(length + 8)));
}

// The BITMAPINFOHEADER and the bits of every EMR_STRETCHDIBITS record of a metafile.
std::vector<std::pair<BITMAPINFOHEADER, std::string>> StretchedBitmaps(const std::vector<BYTE>& bytes)
{
    std::vector<std::pair<BITMAPINFOHEADER, std::string>> bitmaps;
    std::size_t at = 0;
    for (DWORD type : RecordTypes(bytes)) {
        DWORD size = 0, offBmi = 0, offBits = 0, cbBits = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (type == EMR_STRETCHDIBITS) {
            std::memcpy(&offBmi, bytes.data() + at + 48, 4);
            std::memcpy(&offBits, bytes.data() + at + 56, 4);
            std::memcpy(&cbBits, bytes.data() + at + 60, 4);
            BITMAPINFOHEADER header;
            std::memcpy(&header, bytes.data() + at + offBmi, sizeof header);
            bitmaps.emplace_back(header,
                                 std::string(reinterpret_cast<const char*>(bytes.data() + at + offBits), cbBits));
        }
        at += size;
    }
    return bitmaps;
}

TEST(OutputDevice, APhotographTravelsAsTheJpegBytesTheDocumentHolds)
{
    std::ifstream file(std::string(QUILLON_PAGES_DIR) + "/photograph.pdf", std::ios::binary);
    const std::string photograph((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string jpeg = FirstJpeg(photograph);
    ASSERT_GT(jpeg.size(), 1000u);
    auto page = [&](const std::string& entries) {
        PdfWriter writer;
        writer.Add("<< /Type /Catalog /Pages 2 0 R >>");
        writer.Add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        writer.Add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
                   "/Resources << /XObject << /Photo 5 0 R >> >> >>");
        writer.AddStream("", "q 468 0 0 312 72 380 cm /Photo Do Q");
        writer.AddStream("/Type /XObject /Subtype /Image /Width 640 /Height 427 /BitsPerComponent 8 "
                         "/Filter /DCTDecode "
                             + entries,
                         jpeg);
        return writer.Finish(1);
    };
    // As the document holds it: the same bytes, one picture of the image's size.
    std::vector<std::pair<BITMAPINFOHEADER, std::string>> kept
        = StretchedBitmaps(RecordPage(page("/ColorSpace /DeviceRGB"), 0));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].first.biCompression, DWORD(BI_JPEG));
    EXPECT_EQ(kept[0].first.biWidth, 640);
    EXPECT_EQ(kept[0].first.biHeight, 427);
    EXPECT_TRUE(kept[0].second == jpeg);
    // Samples the document shows otherwise than the JPEG does (inverted by a decode range, or
    // counted as another colour space) are decoded by the renderer.
    for (const std::string entries :
         {"/ColorSpace /DeviceRGB /Decode [1 0 1 0 1 0]", "/ColorSpace /DeviceGray", "/ColorSpace /DeviceCMYK"}) {
        for (const auto& [header, bits] : StretchedBitmaps(RecordPage(page(entries), 0)))
            EXPECT_EQ(header.biCompression, DWORD(BI_RGB)) << entries;
    }
}

TEST(OutputDevice, AreasBecomeRegionsGrownByTheirMarginJoinedWhereTheyMeet)
{
    // A page of 600 × 800 points placed one pixel a point, with a margin of 5 pixels.
    pdf::PagePlacement placement;
    placement.width = 600;
    placement.height = 800;
    placement.pageToPixels = pdf::Matrix{};
    placement.dpiX = placement.dpiY = 72;
    EXPECT_EQ(pdf::RegionMargin(placement), 5);
    // Counted in the sheet's dots however the page was scaled to fit it: 25 at 600 dpi for a small
    // page enlarged and for an A3 page reduced, 13 at 300 dpi.
    for (const auto& [width, height] : {std::pair{100.0, 100.0}, {841.89, 1190.55}})
        EXPECT_EQ(pdf::RegionMargin(*pdf::PagePlacement::Fit(width, height, 5100, 6600, 600, 600, {})), 25);
    EXPECT_EQ(pdf::RegionMargin(*pdf::PagePlacement::Fit(612, 792, 2550, 3300, 300, 300, {})), 13);
    auto rects = [&](const std::vector<pdf::PageArea>& areas) {
        std::vector<std::array<int, 4>> out;
        for (const pdf::RegionRect& r : pdf::RegionRectangles(areas, placement, 5))
            out.push_back({r.left, r.top, r.width, r.height});
        return out;
    };
    using Rects = std::vector<std::array<int, 4>>;
    // Grown to whole pixels and by the margin; cut to the page.
    EXPECT_EQ(rects({{10.5, 20, 30, 40.5}}), (Rects{{5, 15, 30, 31}}));
    EXPECT_EQ(rects({{-50, 790, 20, 900}}), (Rects{{0, 785, 25, 15}}));
    // Apart by more than two margins: two regions; closer: one around both, and so is a third
    // that only the joined one reaches.
    EXPECT_EQ(rects({{0, 0, 10, 10}, {100, 0, 110, 10}}), (Rects{{0, 0, 15, 15}, {95, 0, 20, 15}}));
    EXPECT_EQ(rects({{100, 100, 110, 110}, {300, 100, 310, 110}, {115, 100, 295, 105}}), (Rects{{95, 95, 220, 20}}));
    EXPECT_TRUE(rects({{700, 0, 800, 10}}).empty());
}

TEST(OutputDevice, OpaquePaintOverAnAreaCoversItsBoxUntilAnAreaLandsOnIt)
{
    auto covers = [](const std::string& content) { return Found(content).covers; };
    // A shadow under a soft mask, then a box over it: the box covers (device space, y down).
    const std::string shadow = "q /MaskedByPicture gs 0 g 20 20 220 120 re f Q ";
    const std::vector<pdf::PageArea> box = covers(shadow + "1 0 0 rg 10 30 220 120 re f");
    ASSERT_EQ(box.size(), 1u);
    EXPECT_NEAR(box[0].x0, 10, 1e-6);
    EXPECT_NEAR(box[0].y0, 650, 1e-6);
    EXPECT_NEAR(box[0].x1, 230, 1e-6);
    EXPECT_NEAR(box[0].y1, 770, 1e-6);
    // Cut to a clip that is a box; none under a clip of another shape, which the paint may not fill.
    const std::vector<pdf::PageArea> clipped = covers(shadow + "q 0 0 100 800 re W n 1 0 0 rg 10 30 220 120 re f Q");
    ASSERT_EQ(clipped.size(), 1u);
    EXPECT_NEAR(clipped[0].x1, 100, 1e-6);
    EXPECT_TRUE(covers(shadow + "q 0 0 m 600 0 l 0 800 l h W n 1 0 0 rg 10 30 220 120 re f Q").empty());
    // Paint before the area, beside it, translucent, in another blend mode or inside a group that
    // goes as an area covers nothing; nor does a shape with no box inside it.
    EXPECT_TRUE(covers("1 0 0 rg 10 30 220 120 re f " + shadow).empty());
    EXPECT_TRUE(covers(shadow + "1 0 0 rg 300 300 100 100 re f").empty());
    EXPECT_TRUE(covers(shadow + "/Half gs 1 0 0 rg 10 30 220 120 re f").empty());
    EXPECT_TRUE(covers(shadow + "/Multiply gs 1 0 0 rg 10 30 220 120 re f").empty());
    EXPECT_TRUE(covers(shadow + "/Half gs /Group Do").empty());
    EXPECT_TRUE(covers(shadow + "1 0 0 rg 10 30 m 230 30 l 10 150 l 230 150 l h f").empty());
    // An area painted over the cover afterwards shows there: the cover goes.
    EXPECT_TRUE(covers(shadow + "1 0 0 rg 10 30 220 120 re f /Multiply gs 50 50 10 10 re f").empty());
    EXPECT_EQ(covers(shadow + "1 0 0 rg 10 30 220 120 re f /Multiply gs 400 400 10 10 re f").size(), 1u);
}

TEST(OutputDevice, ARegionIsPaintedAroundTheHoleACoverLeavesInIt)
{
    const pdf::RegionRect region{100, 200, 300, 400};
    auto pieces = [&](const std::vector<pdf::RegionRect>& holes) {
        std::vector<std::array<int, 4>> out;
        for (const pdf::RegionRect& r : pdf::RegionPieces(region, holes, 5))
            out.push_back({r.left, r.top, r.width, r.height});
        return out;
    };
    using Rects = std::vector<std::array<int, 4>>;
    // Bands above and below the hole, and pieces beside it reaching 5 pixels into both bands.
    EXPECT_EQ(pieces({{150, 250, 100, 200}}),
              (Rects{{100, 200, 300, 50}, {100, 450, 300, 150}, {100, 245, 50, 210}, {250, 245, 150, 210}}));
    // The largest hole in it counts, cut to the region; where it reaches the region's sides, no piece.
    EXPECT_EQ(pieces({{0, 0, 10, 10}, {50, 250, 400, 100}, {120, 220, 20, 20}}),
              (Rects{{100, 200, 300, 50}, {100, 350, 300, 250}}));
    // No hole in it, or one too narrow to spare anything: the region whole.
    EXPECT_EQ(pieces({}), (Rects{{100, 200, 300, 400}}));
    EXPECT_EQ(pieces({{0, 0, 50, 50}}), (Rects{{100, 200, 300, 400}}));
    EXPECT_EQ(pieces({{150, 250, 10, 200}}), (Rects{{100, 200, 300, 400}}));
}

} // namespace
} // namespace pdf_test

// Flat paint: the colour each blend mode leaves over an opaque backdrop, checked against cairo's
// own blend operators, and which fills a backdrop finds beneath a box.
#include "plugins/pdf/flat_paint.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace pdf_test {
namespace {

using pdf::Rgb;

// The pixel cairo leaves when `source` is painted under `alpha` with `op` over an opaque `backdrop`.
Rgb CairoComposite(cairo_operator_t op, const Rgb& backdrop, const Rgb& source, double alpha)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, backdrop.r, backdrop.g, backdrop.b);
    cairo_paint(cr);
    cairo_set_operator(cr, op);
    cairo_set_source_rgba(cr, source.r, source.g, source.b, alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, cairo_image_surface_get_data(surface), sizeof pixel);
    cairo_surface_destroy(surface);
    return Rgb{((pixel >> 16) & 0xFF) / 255.0, ((pixel >> 8) & 0xFF) / 255.0, (pixel & 0xFF) / 255.0};
}

TEST(FlatPaint, EveryBlendModeLeavesTheColourCairoLeaves)
{
    const std::array<std::pair<GfxBlendMode, cairo_operator_t>, 16> modes{{
        {gfxBlendNormal, CAIRO_OPERATOR_OVER},
        {gfxBlendMultiply, CAIRO_OPERATOR_MULTIPLY},
        {gfxBlendScreen, CAIRO_OPERATOR_SCREEN},
        {gfxBlendOverlay, CAIRO_OPERATOR_OVERLAY},
        {gfxBlendDarken, CAIRO_OPERATOR_DARKEN},
        {gfxBlendLighten, CAIRO_OPERATOR_LIGHTEN},
        {gfxBlendColorDodge, CAIRO_OPERATOR_COLOR_DODGE},
        {gfxBlendColorBurn, CAIRO_OPERATOR_COLOR_BURN},
        {gfxBlendHardLight, CAIRO_OPERATOR_HARD_LIGHT},
        {gfxBlendSoftLight, CAIRO_OPERATOR_SOFT_LIGHT},
        {gfxBlendDifference, CAIRO_OPERATOR_DIFFERENCE},
        {gfxBlendExclusion, CAIRO_OPERATOR_EXCLUSION},
        {gfxBlendHue, CAIRO_OPERATOR_HSL_HUE},
        {gfxBlendSaturation, CAIRO_OPERATOR_HSL_SATURATION},
        {gfxBlendColor, CAIRO_OPERATOR_HSL_COLOR},
        {gfxBlendLuminosity, CAIRO_OPERATOR_HSL_LUMINOSITY},
    }};
    // Colours dark, light, grey, saturated and at the ends of the range, so that every branch of a
    // mode (below and above the middle, the dodge and burn ends, the clipped hues) is taken.
    // Colours dark, light, grey, saturated and at the ends of the range, so that every branch of a
    // mode (below and above the middle, the dodge and burn ends, the clipped hues) is taken; in
    // whole 8-bit steps, as cairo holds them.
    auto bytes = [](int r, int g, int b) { return Rgb{r / 255.0, g / 255.0, b / 255.0}; };
    const std::array<Rgb, 7> colours{{bytes(26, 51, 179), bytes(242, 140, 38), bytes(128, 128, 128),
                                      bytes(255, 255, 255), bytes(0, 0, 0), bytes(51, 230, 77), bytes(204, 26, 242)}};
    for (const auto& [mode, op] : modes)
        for (const Rgb& backdrop : colours)
            for (const Rgb& source : colours)
                for (const double alpha : {1.0, 0.6}) {
                    const Rgb ours = pdf::Composite(mode, backdrop, source, alpha);
                    const Rgb cairos = CairoComposite(op, backdrop, source, alpha);
                    // Cairo works in 8 bits on premultiplied values.
                    const double within = 2.5 / 255;
                    EXPECT_NEAR(ours.r, cairos.r, within) << "mode " << mode << " alpha " << alpha;
                    EXPECT_NEAR(ours.g, cairos.g, within) << "mode " << mode << " alpha " << alpha;
                    EXPECT_NEAR(ours.b, cairos.b, within) << "mode " << mode << " alpha " << alpha;
                }
}

TEST(FlatPaint, ABackdropFindsTheFillsBeneathABoxUnlessOtherPaintIsThere)
{
    pdf::FlatBackdrop backdrop;
    auto fill = [](double x0, double x1) {
        pdf::FlatFill fill;
        fill.clip = {0, 0, 1000, 1000};
        fill.box = {x0, 0, x1, 100};
        return fill;
    };
    backdrop.AddFill(fill(0, 100));
    backdrop.AddFill(fill(200, 300));
    backdrop.AddOther({400, 0, 500, 100});
    const auto beneath = backdrop.Beneath({50, 10, 250, 20});
    ASSERT_TRUE(beneath);
    ASSERT_EQ(beneath->size(), 2u);
    EXPECT_EQ((*beneath)[0]->box.x0, 0);
    EXPECT_EQ((*beneath)[1]->box.x0, 200);
    // Boxes that only touch do not overlap.
    EXPECT_EQ(backdrop.Beneath({100, 10, 200, 20})->size(), 0u);
    EXPECT_FALSE(backdrop.Beneath({250, 10, 450, 20}));

    // Past the boxes kept apart, other paint is kept as the one box around it all: a box between
    // two of them is then taken as lying on other paint.
    pdf::FlatBackdrop text;
    for (std::size_t i = 0; i <= pdf::kMaxOtherPaint; ++i)
        text.AddOther({double(i % 2 == 0 ? 0 : 900), 0, double(i % 2 == 0 ? 10 : 910), 10});
    EXPECT_FALSE(text.Beneath({500, 2, 510, 8}));
    // Past the fills kept, a fill counts as other paint.
    pdf::FlatBackdrop many;
    for (std::size_t i = 0; i <= pdf::kMaxBackdropFills; ++i)
        many.AddFill(fill(double(i), double(i) + 0.5));
    EXPECT_TRUE(many.Beneath({0, 0, 0.25, 1}));
    EXPECT_FALSE(many.Beneath({double(pdf::kMaxBackdropFills), 0, double(pdf::kMaxBackdropFills) + 0.25, 1}));
}

TEST(FlatPaint, ABoxLessAHoleIsTheBandsAboveAndBelowAndThePiecesBeside)
{
    auto area = [](const std::vector<pdf::PageArea>& boxes) {
        double sum = 0;
        for (const pdf::PageArea& b : boxes)
            sum += (b.x1 - b.x0) * (b.y1 - b.y0);
        return sum;
    };
    const pdf::PageArea box{0, 0, 100, 50};
    // A hole inside leaves four pieces; one across a side three, one over a corner two.
    EXPECT_EQ(pdf::Subtract(box, {40, 10, 60, 20}).size(), 4u);
    EXPECT_DOUBLE_EQ(area(pdf::Subtract(box, {40, 10, 60, 20})), 5000 - 200);
    EXPECT_EQ(pdf::Subtract(box, {40, -10, 60, 20}).size(), 3u);
    EXPECT_DOUBLE_EQ(area(pdf::Subtract(box, {90, 40, 200, 200})), 5000 - 100);
    // A hole beside the box, or only touching it, leaves it whole; one over all of it, nothing.
    EXPECT_EQ(pdf::Subtract(box, {100, 0, 120, 50}).size(), 1u);
    EXPECT_TRUE(pdf::Subtract(box, {-1, -1, 101, 51}).empty());
}

TEST(FlatPaint, AMaskReachesWhereItsPartsLetSomethingThrough)
{
    auto fill = [](double x0, double y0, double x1, double y1, double value) {
        pdf::MaskPart part;
        part.fill.clip = {0, 0, 1000, 1000};
        part.fill.box = {x0, y0, x1, y1};
        part.fill.exact = {{x0, y0, x1, y1}};
        part.value = value;
        return part;
    };
    pdf::FlatMask mask;
    // A value outside the parts reaches everywhere.
    mask.outside = 0.5;
    EXPECT_FALSE(pdf::MaskReach(mask));
    // A shadow's mask: a white box, with a black one of no value over its middle.
    mask.outside = 0;
    mask.parts.push_back(fill(0, 0, 100, 100, 1));
    mask.parts.push_back(fill(10, 10, 90, 90, 0));
    const auto ring = pdf::MaskReach(mask);
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring->size(), 4u);
    for (const pdf::PageArea& piece : *ring)
        EXPECT_FALSE(pdf::Overlap(piece, {10, 10, 90, 90}));
    // A part of some value over the black one reaches again.
    mask.parts.push_back(fill(40, 40, 60, 60, 0.3));
    EXPECT_EQ(pdf::MaskReach(mask)->size(), 5u);

    // A shading reaches by its pieces with a vertex of some value, within its clip.
    pdf::FlatMask faded;
    pdf::MaskPart shading;
    shading.fill.clip = {0, -10, 150, 1000};
    auto pieces = std::make_shared<pdf::GradientPieces>();
    pieces->mode = GRADIENT_FILL_RECT_H;
    for (const LONG x : {0, 100, 200})
        for (const LONG y : {0, 100})
            pieces->vertices.push_back(TRIVERTEX{x, y, 0, 0, 0, 0});
    // Rectangles from x 0 to 100 and 100 to 200; only the first's vertices have some value.
    pieces->indices = {0, 3, 2, 5};
    shading.vertexValues = {1, 0, 0, 0, 0, 0};
    shading.shading = pieces;
    faded.parts.push_back(shading);
    const auto reach = pdf::MaskReach(faded);
    ASSERT_TRUE(reach);
    ASSERT_EQ(reach->size(), 1u);
    // The first rectangle, grown by its smoothing and cut to the clip.
    EXPECT_DOUBLE_EQ((*reach)[0].x0, 0);
    EXPECT_DOUBLE_EQ((*reach)[0].x1, 101);
    EXPECT_DOUBLE_EQ((*reach)[0].y0, -1);
    EXPECT_DOUBLE_EQ((*reach)[0].y1, 101);
}

} // namespace
} // namespace pdf_test

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

} // namespace
} // namespace pdf_test

#include "plugins/pdf/flat_paint.h"

#include <algorithm>
#include <cmath>

namespace pdf {
namespace {

// How far apart, in points, two edges may lie and still be taken as one.
constexpr double kTouching = 1e-3;

double Multiply(double b, double s)
{
    return b * s;
}

double Screen(double b, double s)
{
    return b + s - b * s;
}

double HardLight(double b, double s)
{
    return s <= 0.5 ? Multiply(b, 2 * s) : Screen(b, 2 * s - 1);
}

double SoftLight(double b, double s)
{
    if (s <= 0.5)
        return b - (1 - 2 * s) * b * (1 - b);
    const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
    return b + (2 * s - 1) * (d - b);
}

// The blend of one channel in a separable mode.
double Separable(GfxBlendMode mode, double b, double s)
{
    switch (mode) {
    case gfxBlendMultiply:
        return Multiply(b, s);
    case gfxBlendScreen:
        return Screen(b, s);
    case gfxBlendOverlay:
        return HardLight(s, b);
    case gfxBlendDarken:
        return std::min(b, s);
    case gfxBlendLighten:
        return std::max(b, s);
    case gfxBlendColorDodge:
        if (b <= 0)
            return 0;
        return b >= 1 - s ? 1 : b / (1 - s);
    case gfxBlendColorBurn:
        if (b >= 1)
            return 1;
        return 1 - b >= s ? 0 : 1 - (1 - b) / s;
    case gfxBlendHardLight:
        return HardLight(b, s);
    case gfxBlendSoftLight:
        return SoftLight(b, s);
    case gfxBlendDifference:
        return std::abs(b - s);
    case gfxBlendExclusion:
        return b + s - 2 * b * s;
    default:
        return s;
    }
}

// The colour with its luminosity moved to `lum`, brought back into range keeping that luminosity.
Rgb SetLuminosity(const Rgb& c, double lum)
{
    const double d = lum - Luminosity(c);
    Rgb out{c.r + d, c.g + d, c.b + d};
    const double l = Luminosity(out);
    const double low = std::min({out.r, out.g, out.b});
    const double high = std::max({out.r, out.g, out.b});
    auto clip = [&](double& x) {
        if (low < 0 && l - low > 0)
            x = l + (x - l) * l / (l - low);
        if (high > 1 && high - l > 0)
            x = l + (x - l) * (1 - l) / (high - l);
    };
    clip(out.r);
    clip(out.g);
    clip(out.b);
    return out;
}

double Saturation(const Rgb& c)
{
    return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b});
}

// The colour with its saturation set to `sat`, its hue kept.
Rgb SetSaturation(const Rgb& c, double sat)
{
    double Rgb::*channels[3] = {&Rgb::r, &Rgb::g, &Rgb::b};
    std::sort(std::begin(channels), std::end(channels), [&c](double Rgb::*x, double Rgb::*y) { return c.*x < c.*y; });
    const double low = c.*channels[0];
    const double mid = c.*channels[1];
    const double high = c.*channels[2];
    Rgb out{};
    if (high > low) {
        out.*channels[1] = (mid - low) * sat / (high - low);
        out.*channels[2] = sat;
    }
    return out;
}

Rgb Blend(GfxBlendMode mode, const Rgb& b, const Rgb& s)
{
    switch (mode) {
    case gfxBlendHue:
        return SetLuminosity(SetSaturation(s, Saturation(b)), Luminosity(b));
    case gfxBlendSaturation:
        return SetLuminosity(SetSaturation(b, Saturation(s)), Luminosity(b));
    case gfxBlendColor:
        return SetLuminosity(s, Luminosity(b));
    case gfxBlendLuminosity:
        return SetLuminosity(b, Luminosity(s));
    default:
        return Rgb{Separable(mode, b.r, s.r), Separable(mode, b.g, s.g), Separable(mode, b.b, s.b)};
    }
}

} // namespace

double Luminosity(const Rgb& colour)
{
    return 0.3 * colour.r + 0.59 * colour.g + 0.11 * colour.b;
}

Rgb Composite(GfxBlendMode mode, const Rgb& backdrop, const Rgb& source, double alpha)
{
    const Rgb blended = Blend(mode, backdrop, source);
    const double a = std::clamp(alpha, 0.0, 1.0);
    auto mix = [a](double b, double s) { return std::clamp((1 - a) * b + a * s, 0.0, 1.0); };
    return Rgb{mix(backdrop.r, blended.r), mix(backdrop.g, blended.g), mix(backdrop.b, blended.b)};
}

std::vector<PageArea> Subtract(const PageArea& box, const PageArea& hole)
{
    if (!Overlap(box, hole))
        return {box};
    std::vector<PageArea> pieces;
    auto keep = [&pieces](const PageArea& piece) {
        if (piece.x1 > piece.x0 && piece.y1 > piece.y0)
            pieces.push_back(piece);
    };
    // The bands above and below the hole, then the pieces beside it between them.
    keep(PageArea{box.x0, box.y0, box.x1, hole.y0});
    keep(PageArea{box.x0, hole.y1, box.x1, box.y1});
    const double top = std::max(box.y0, hole.y0), bottom = std::min(box.y1, hole.y1);
    keep(PageArea{box.x0, top, hole.x0, bottom});
    keep(PageArea{hole.x1, top, box.x1, bottom});
    return pieces;
}

void AddBox(GfxPath& path, const PageArea& box)
{
    path.moveTo(box.x0, box.y0);
    path.lineTo(box.x1, box.y0);
    path.lineTo(box.x1, box.y1);
    path.lineTo(box.x0, box.y1);
    path.close();
}

Rgb CompositeOver(const FlatFill* fill, GfxBlendMode mode, const Rgb& source, double alpha)
{
    return fill ? Composite(mode, fill->colour, source, alpha) : Composite(gfxBlendNormal, Rgb{1, 1, 1}, source, alpha);
}

bool Overlap(const PageArea& a, const PageArea& b)
{
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

PageArea Intersection(const PageArea& a, const PageArea& b)
{
    return PageArea{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

std::optional<std::vector<PageArea>> MaskReach(const FlatMask& mask)
{
    // A value below the least step of eight bits lets nothing show.
    constexpr double kNone = 0.5 / 255;
    if (mask.outside >= kNone)
        return std::nullopt;
    std::vector<PageArea> reach;
    for (const MaskPart& part : mask.parts) {
        if (reach.size() > kMaxReachBoxes)
            return std::nullopt;
        if (!part.shading && part.value < kNone && !part.fill.exact.empty()) {
            // A fill of no value over earlier parts shuts them there (a shadow's mask blacks out
            // the box the shadow lies under).
            for (const PageArea& hole : part.fill.exact) {
                std::vector<PageArea> open;
                for (const PageArea& box : reach)
                    for (const PageArea& piece : Subtract(box, hole))
                        open.push_back(piece);
                reach = std::move(open);
            }
            continue;
        }
        if (!part.shading) {
            if (part.value >= kNone)
                reach.push_back(part.fill.box);
            continue;
        }
        PageArea box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        const GradientPieces& pieces = *part.shading;
        const std::size_t corners = pieces.mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
        for (std::size_t first = 0; first + corners <= pieces.indices.size(); first += corners) {
            bool shows = false;
            for (std::size_t k = 0; k < corners; ++k)
                shows = shows || part.vertexValues[pieces.indices[first + k]] >= kNone;
            if (!shows)
                continue;
            // A rectangle's two corners give its other two.
            for (std::size_t k = 0; k < corners; ++k)
                for (std::size_t other = 0; other < corners; ++other) {
                    const TRIVERTEX& a = pieces.vertices[pieces.indices[first + k]];
                    const TRIVERTEX& b = pieces.vertices[pieces.indices[first + other]];
                    double x = 0, y = 0;
                    part.shadingToDevice.Apply(double(a.x), double(corners == 2 ? b.y : a.y), x, y);
                    box = PageArea{std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x), std::max(box.y1, y)};
                }
        }
        // Pieces' smoothed edges reach a little beyond their corners; a shading reaches no further
        // than its clip.
        if (box.x1 >= box.x0)
            reach.push_back(Intersection(PageArea{box.x0 - 1, box.y0 - 1, box.x1 + 1, box.y1 + 1}, part.fill.clip));
    }
    if (reach.size() > kMaxReachBoxes)
        return std::nullopt;
    return reach;
}

void FlatBackdrop::AddFill(FlatFill fill)
{
    if (fills_.size() >= kMaxBackdropFills) {
        AddOther(fill.box);
        return;
    }
    fills_.push_back(std::move(fill));
}

void FlatBackdrop::AddOther(const PageArea& box)
{
    if (!(box.x1 > box.x0 && box.y1 > box.y0))
        return;
    if (others_.size() < kMaxOtherPaint) {
        others_.push_back(box);
        return;
    }
    // Many small boxes (the glyphs of a page of text) become the one around them all: a blend
    // anywhere near them is then taken as lying over them.
    PageArea around = box;
    for (const PageArea& other : others_)
        around = PageArea{std::min(around.x0, other.x0), std::min(around.y0, other.y0), std::max(around.x1, other.x1),
                          std::max(around.y1, other.y1)};
    others_.assign(1, around);
}

std::optional<std::vector<const FlatFill*>> FlatBackdrop::Beneath(const PageArea& box) const
{
    // Boxes that meet where one edge was worked out through another transform than the other may
    // overlap by a rounding error: they only touch.
    const PageArea inner{box.x0 + kTouching, box.y0 + kTouching, box.x1 - kTouching, box.y1 - kTouching};
    if (std::any_of(others_.begin(), others_.end(), [&inner](const PageArea& other) { return Overlap(other, inner); }))
        return std::nullopt;
    std::vector<const FlatFill*> beneath;
    for (const FlatFill& fill : fills_)
        if (Overlap(fill.box, box))
            beneath.push_back(&fill);
    return beneath;
}

} // namespace pdf

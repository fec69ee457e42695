#include "plugins/pdf/flat_paint.h"

#include <algorithm>
#include <cmath>

namespace pdf {
namespace {

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

bool Overlap(const PageArea& a, const PageArea& b)
{
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

PageArea Intersection(const PageArea& a, const PageArea& b)
{
    return PageArea{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
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
    if (std::any_of(others_.begin(), others_.end(), [&box](const PageArea& other) { return Overlap(other, box); }))
        return std::nullopt;
    std::vector<const FlatFill*> beneath;
    for (const FlatFill& fill : fills_)
        if (Overlap(fill.box, box))
            beneath.push_back(&fill);
    return beneath;
}

} // namespace pdf

// Text on a device context: ExtTextOutW laid out with the selected font (one this process
// registered) as GDI lays it out (the font's height and width, its escapement, the alignment of
// the reference point, explicit or natural advances), then drawn, recorded, or added to the path.
#include "platform/gdi/context/device_context.h"

#include "platform/gdi/context/emf_records.h"
#include "platform/gdi/fonts/private_fonts.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <cmath>

namespace platform::gdi {
namespace {

constexpr UINT kKnownTextOptions = ETO_OPAQUE | ETO_CLIPPED | ETO_GLYPH_INDEX | ETO_PDY;
constexpr UINT kHorizontalAlign = TA_CENTER; // TA_LEFT, TA_RIGHT or TA_CENTER
constexpr UINT kVerticalAlign = TA_BASELINE; // TA_TOP, TA_BOTTOM or TA_BASELINE
// A font of height 0 is this many points high.
constexpr double kDefaultFontPoints = 12;
constexpr double kTenthsOfDegreeToRadians = 3.14159265358979323846 / 1800;

std::u16string_view FaceOf(const LOGFONTW& font)
{
    const auto* name = reinterpret_cast<const char16_t*>(font.lfFaceName);
    std::size_t length = 0;
    while (length < LF_FACESIZE && name[length] != 0)
        ++length;
    return std::u16string_view(name, length);
}

PointD Plus(const PointD& a, const PointD& b)
{
    return PointD{a.x + b.x, a.y + b.y};
}

PointD Times(const PointD& a, double factor)
{
    return PointD{a.x * factor, a.y * factor};
}

Quad QuadOf(const Affine& toDevice, const PointD& corner, const PointD& across, const PointD& down)
{
    const PointD points[] = {corner, Plus(corner, across), Plus(Plus(corner, across), down), Plus(corner, down)};
    Quad quad;
    for (std::size_t i = 0; i < quad.size(); ++i)
        quad[i] = Apply(toDevice, points[i].x, points[i].y);
    return quad;
}

LONG Rounded(double value)
{
    return static_cast<LONG>(std::clamp(std::lround(value), -2147483647L, 2147483647L));
}

// How a logical font sets text on a device: the em (logical units), the stretch of its width, and
// the directions along its baseline and down across it (logical units, device y running down).
struct TextFrame {
    double em = 0;
    double widthScale = 1;
    PointD along;
    PointD down;
};

TextFrame FrameOf(const PrivateFont& font, const LOGFONTW& logFont, int dpiY)
{
    const double unitsPerEm = font.UnitsPerEm();
    TextFrame frame;
    // A negative height is the em; a positive one the cell, ascent and descent together.
    frame.em = std::abs(static_cast<double>(logFont.lfHeight));
    if (logFont.lfHeight > 0)
        frame.em = logFont.lfHeight * unitsPerEm / (font.Ascent() + font.Descent());
    else if (logFont.lfHeight == 0)
        frame.em = kDefaultFontPoints * dpiY / 72;
    // A width stretches the font until its average character is that wide.
    frame.widthScale = logFont.lfWidth == 0
        ? 1
        : std::abs(static_cast<double>(logFont.lfWidth)) * unitsPerEm / (font.AverageWidth() * frame.em);
    // The escapement turns the baseline counter-clockwise as seen.
    const double angle = logFont.lfEscapement * kTenthsOfDegreeToRadians;
    frame.along = PointD{std::cos(angle), -std::sin(angle)};
    frame.down = PointD{std::sin(angle), std::cos(angle)};
    return frame;
}

// The glyphs of a call go into `run`, each with the text it stands for; the answer is each glyph's
// step to the next (logical units). A call without advances gets the font's, rounded as a
// metafile records them, in `advances`; a call with advances gets its own back there.
std::vector<PointD> PlaceGlyphs(const TextCall& call, const PrivateFont& font, const TextFrame& frame, GlyphRun& run,
                                std::vector<INT>& advances)
{
    const bool indices = call.options & ETO_GLYPH_INDEX;
    const bool pairs = (call.options & ETO_PDY) && call.dx;
    const std::size_t count = call.text.size();
    const double unitsPerEm = font.UnitsPerEm();
    advances.clear();
    if (!call.dx)
        advances.reserve(count);
    std::vector<PointD> steps;
    steps.reserve(count);
    run.glyphs.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        PlacedGlyph glyph;
        std::size_t units = 1;
        if (indices) {
            glyph.index = call.text[i];
            const std::u16string_view text = font.TextOf(glyph.index);
            glyph.textOffset = static_cast<std::uint32_t>(run.text.size());
            glyph.textLength = static_cast<std::uint32_t>(text.size());
            run.text.append(text);
        } else {
            char32_t character = call.text[i];
            if (character >= 0xD800 && character <= 0xDBFF && i + 1 < count && call.text[i + 1] >= 0xDC00
                && call.text[i + 1] <= 0xDFFF) {
                character = 0x10000 + ((character - 0xD800) << 10) + (call.text[i + 1] - 0xDC00);
                units = 2;
            }
            glyph.index = font.GlyphOf(character);
            glyph.textOffset = static_cast<std::uint32_t>(run.text.size());
            glyph.textLength = static_cast<std::uint32_t>(units);
            run.text.append(call.text.subspan(i, units).begin(), call.text.subspan(i, units).end());
        }
        // A glyph the font does not have is its missing glyph.
        if (glyph.index >= font.GlyphCount())
            glyph.index = 0;
        double x = 0;
        double y = 0;
        if (call.dx) {
            for (std::size_t unit = i; unit < i + units; ++unit) {
                x += call.dx[pairs ? 2 * unit : unit];
                y += pairs ? call.dx[2 * unit + 1] : 0;
            }
        } else {
            x = font.Advance(glyph.index) / unitsPerEm * frame.em * frame.widthScale;
            advances.push_back(Rounded(x));
            if (units == 2)
                advances.push_back(0);
        }
        steps.push_back(Plus(Times(frame.along, x), Times(frame.down, -y)));
        run.glyphs.push_back(glyph);
        i += units - 1;
    }
    if (call.dx)
        advances.assign(call.dx, call.dx + (pairs ? 2 * count : count));
    return steps;
}

// Where the first glyph's origin goes for text `width` long (logical units) set from `reference`
// under the alignment `align`, and in `end` the position a TA_UPDATECP call leaves.
PointD AlignedStart(const POINT& reference, UINT align, const PointD& width, const TextFrame& frame, double ascent,
                    double descent, POINT& end)
{
    PointD start{static_cast<double>(reference.x), static_cast<double>(reference.y)};
    switch (align & kHorizontalAlign) {
    case TA_RIGHT:
        start = Plus(start, Times(width, -1));
        end = reference;
        end.x = Rounded(start.x);
        end.y = Rounded(start.y);
        break;
    case TA_CENTER:
        start = Plus(start, Times(width, -0.5));
        end = reference;
        break;
    default:
        end = POINT{Rounded(start.x + width.x), Rounded(start.y + width.y)};
        break;
    }
    switch (align & kVerticalAlign) {
    case TA_BASELINE:
        break;
    case TA_BOTTOM:
        start = Plus(start, Times(frame.down, -descent));
        break;
    default:
        start = Plus(start, Times(frame.down, ascent));
        break;
    }
    return start;
}

} // namespace

std::optional<GlyphRun> DeviceContext::LayOutText(const TextCall& call, std::vector<INT>& advances, ExtentD& extent,
                                                  POINT& end) const
{
    const Font* selected = state_.font ? state_.font->As<Font>() : nullptr;
    std::shared_ptr<const PrivateFont> font = selected ? FindPrivateFont(FaceOf(selected->logFont)) : nullptr;
    if (!font) {
        SetLastError(ERROR_NOT_FOUND);
        return std::nullopt;
    }
    const TextFrame frame = FrameOf(*font, selected->logFont, backend_->Caps(LOGPIXELSY));
    const PointD& down = frame.down;

    const Affine toDevice = LogicalToDevice();
    GlyphRun run;
    run.font = font;
    run.color = state_.textColor;
    run.emToDevice
        = Then(Affine{frame.em * frame.widthScale * frame.along.x, frame.em * frame.widthScale * frame.along.y,
                      frame.em * down.x, frame.em * down.y, 0, 0},
               Affine{toDevice.m11, toDevice.m12, toDevice.m21, toDevice.m22, 0, 0});
    // A font too large for numbers to hold (a height and a width at the ends of their range).
    if (!IsFinite(run.emToDevice)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }

    const std::vector<PointD> steps = PlaceGlyphs(call, *font, frame, run, advances);
    PointD width{0, 0};
    for (const PointD& step : steps)
        width = Plus(width, step);
    const POINT reference = (state_.textAlign & TA_UPDATECP) ? state_.position : POINT{call.x, call.y};
    const double ascent = font->Ascent() / font->UnitsPerEm() * frame.em;
    const double descent = font->Descent() / font->UnitsPerEm() * frame.em;
    const PointD start = AlignedStart(reference, state_.textAlign, width, frame, ascent, descent, end);

    // The glyphs' origins, and the device extent their boxes may ink.
    const ExtentD box = font->GlyphBox();
    ExtentD reach;
    for (const PointD& corner : {PointD{box.left, box.top}, PointD{box.right, box.top}, PointD{box.left, box.bottom},
                                 PointD{box.right, box.bottom}})
        reach.Add(Apply(run.emToDevice, corner.x, corner.y));
    extent = ExtentD();
    PointD origin = start;
    for (std::size_t i = 0; i < run.glyphs.size(); ++i) {
        run.glyphs[i].origin = Apply(toDevice, origin.x, origin.y);
        extent.Add(Plus(run.glyphs[i].origin, PointD{reach.left, reach.top}));
        extent.Add(Plus(run.glyphs[i].origin, PointD{reach.right, reach.bottom}));
        origin = Plus(origin, steps[i]);
    }

    if (state_.backgroundMode == OPAQUE && !run.glyphs.empty()) {
        const Quad cell = QuadOf(toDevice, Plus(start, Times(down, -ascent)), width, Times(down, ascent + descent));
        run.background.push_back(cell);
        for (const PointD& corner : cell)
            extent.Add(corner);
    }
    if (call.rect && (call.options & (ETO_OPAQUE | ETO_CLIPPED))) {
        const RECT& rect = *call.rect;
        const Quad quad = QuadOf(toDevice, PointD{static_cast<double>(rect.left), static_cast<double>(rect.top)},
                                 PointD{static_cast<double>(rect.right) - rect.left, 0},
                                 PointD{0, static_cast<double>(rect.bottom) - rect.top});
        if (call.options & ETO_OPAQUE) {
            run.background.insert(run.background.begin(), quad);
            for (const PointD& corner : quad)
                extent.Add(corner);
        }
        if (call.options & ETO_CLIPPED)
            run.clipRect = quad;
    }
    run.clip = state_.clip;
    return run;
}

bool DeviceContext::ExtTextOut(const TextCall& call)
{
    if ((call.options & ~kKnownTextOptions) != 0 || call.text.size() > kMaxTextUnits) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<INT> advances;
    ExtentD extent;
    POINT end{};
    std::optional<GlyphRun> run = LayOutText(call, advances, extent, end);
    if (!run)
        return false;

    // Inside a path bracket the glyphs' outlines join the path.
    const bool inPath = state_.bracket == PathBracket::Open;
    std::vector<PathPoint> outlines;
    if (inPath) {
        const double unitsPerEm = run->font->UnitsPerEm();
        const Affine unitsToEm = Scaling(1 / unitsPerEm, -1 / unitsPerEm);
        for (const PlacedGlyph& glyph : run->glyphs) {
            Affine unitsToDevice = Then(unitsToEm, run->emToDevice);
            unitsToDevice.dx = glyph.origin.x;
            unitsToDevice.dy = glyph.origin.y;
            if (!run->font->AppendOutline(glyph.index, unitsToDevice, outlines)
                || outlines.size() > kMaxPathPoints - state_.path.size()) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return false;
            }
        }
    }

    const RECTL bounds = BoundsOf(extent);
    // In the compatible mode a reader scales page units (the device's pixels) to 0.01 mm.
    const bool compatible = state_.graphicsMode == GM_COMPATIBLE;
    const int pixelsX = backend_->Caps(HORZRES);
    const int pixelsY = backend_->Caps(VERTRES);
    const emf::ExtTextOutRecord record{
        .bounds = bounds,
        .graphicsMode = static_cast<DWORD>(state_.graphicsMode),
        .scaleX = compatible && pixelsX > 0 ? 100.0f * backend_->Caps(HORZSIZE) / pixelsX : 0.0f,
        .scaleY = compatible && pixelsY > 0 ? 100.0f * backend_->Caps(VERTSIZE) / pixelsY : 0.0f,
        .reference = POINTL{call.x, call.y},
        .text = emf::Placed<WCHAR>(call.text),
        .options = call.options,
        .rectangle
        = call.rect ? RECTL{call.rect->left, call.rect->top, call.rect->right, call.rect->bottom} : RECTL{0, 0, -1, -1},
        .advances = emf::Trailing<INT>(std::span<const INT>(advances))};
    const CallTaken taken = Hand(record, inPath ? kNothingInked : bounds);
    if (taken == CallTaken::Refused || (taken == CallTaken::Passed && !inPath && !backend_->DrawGlyphs(*run)))
        return false;
    if (inPath) {
        state_.path.insert(state_.path.end(), outlines.begin(), outlines.end());
        state_.newFigure = true;
    }
    if (state_.textAlign & TA_UPDATECP)
        state_.position = end;
    return true;
}

} // namespace platform::gdi

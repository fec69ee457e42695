#include "plugins/pdf/gdi_output_dev.h"

#include "plugins/pdf/kept_jpeg.h"
#include "plugins/pdf/page_covers.h"
#include "plugins/pdf/path_trim.h"
#include "plugins/pdf/stroke_outline.h"

#include <GfxFont.h>
#include <GfxState.h>
#include <Stream.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace pdf {
namespace {

// The em of the fonts glyph runs are drawn with, in the run's logical units: advances keep a
// precision of 1/kEm of the font size.
constexpr int kEm = 2048;
// Glyphs drawn with one ExtTextOutW at most.
constexpr std::size_t kMaxRunGlyphs = 1024;
// Coordinates are kept within this many sub-units of the origin (nearly 3 km at 600 dpi),
// so that no integer overflows on the way to the device.
constexpr double kMaxUnit = double(1 << 30);
// Entries of a dash style GDI is given at most; a longer pattern is drawn solid.
constexpr std::size_t kMaxDashEntries = 16;
// How far two matrices or a conformal test may differ and still count as the same.
constexpr double kSameMatrix = 1e-6;
// Points of a path filled, and of a path stroked, under a constant opacity through a clip at most;
// a larger one goes as pixels. The clip is the path itself, or the stroke's outline, which has
// some ten points for each one of the line (its sides, caps and joins): both stay well within
// the clip points a page's playback holds at once.
constexpr std::int64_t kMaxBlendedFillPoints = 100'000;
constexpr std::int64_t kMaxBlendedStrokePoints = 10'000;
// How far a blend's box reaches beyond its clip's, in dots: its own edges, which viewers round and
// smooth, never meet the clip's.
constexpr int kBlendMargin = 2;

POINT Unit(double x, double y)
{
    auto whole = [](double value) {
        if (!std::isfinite(value))
            return LONG(0);
        return LONG(std::lround(std::clamp(value, -kMaxUnit, kMaxUnit)));
    };
    return POINT{whole(x), whole(y)};
}

COLORREF ToColour(const GfxRGB& rgb)
{
    return RGB(colToByte(rgb.r), colToByte(rgb.g), colToByte(rgb.b));
}

Matrix Ctm(GfxState* state)
{
    const double* m = state->getCTM();
    return Matrix{m[0], m[1], m[2], m[3], m[4], m[5]};
}

bool SameLinear(const Matrix& x, const Matrix& y)
{
    const double scale = std::max({std::abs(x.a), std::abs(x.b), std::abs(x.c), std::abs(x.d), 1e-12});
    return std::abs(x.a - y.a) <= kSameMatrix * scale && std::abs(x.b - y.b) <= kSameMatrix * scale
        && std::abs(x.c - y.c) <= kSameMatrix * scale && std::abs(x.d - y.d) <= kSameMatrix * scale;
}

// Whether the linear part maps circles to circles (a rotation and a uniform scale, maybe mirrored).
bool Conformal(const Matrix& m)
{
    const double scale = std::max({std::abs(m.a), std::abs(m.b), std::abs(m.c), std::abs(m.d), 1e-12});
    const double tolerance = 1e-3 * scale;
    return (std::abs(m.a - m.d) <= tolerance && std::abs(m.b + m.c) <= tolerance)
        || (std::abs(m.a + m.d) <= tolerance && std::abs(m.b - m.c) <= tolerance);
}

// The least em (points on the page) at which a glyph filled under a constant opacity is drawn as
// its outline blended rather than as an area over its word: display type and watermarks, whose
// areas cost pixels by the square of their size; smaller text keeps its words.
constexpr double kMinBlendedGlyphEm = 36;

// Covers a page keeps at most: a page of many boxes over its areas keeps the first.
constexpr std::size_t kMaxCovers = 1024;

// The points of a path of one subpath in poppler's device space, curves followed by chords (which
// lie inside a convex shape); empty for a path of more subpaths or more than kMaxCoverPoints points.
std::vector<std::pair<double, double>> DevicePolygon(const GfxPath& path, const Matrix& toDevice)
{
    std::vector<std::pair<double, double>> points;
    if (path.getNumSubpaths() != 1)
        return points;
    const GfxSubpath& subpath = *path.getSubpath(0);
    if (subpath.getNumPoints() < 1 || std::size_t(subpath.getNumPoints()) > kMaxCoverPoints)
        return points;
    const std::vector<PathPoint> line = Flattened(subpath, toDevice);
    if (line.size() > kMaxCoverPoints)
        return points;
    for (const PathPoint& point : line) {
        double x = 0, y = 0;
        toDevice.Apply(point.x, point.y, x, y);
        points.push_back({x, y});
    }
    return points;
}

bool PaintsPlainly(GfxState* state, double opacity)
{
    return opacity >= 1.0 && state->getBlendMode() == gfxBlendNormal;
}

// Reads a picture's samples into opaque 32-bit pixels (blue, green, red, 0xFF); with colour-key
// ranges, pixels whose every component lies in its range become transparent (all zero).
std::vector<std::uint32_t> ReadPixels(Stream* str, int width, int height, GfxImageColorMap* colorMap,
                                      const int* maskColors)
{
    std::vector<std::uint32_t> pixels(std::size_t(width) * std::size_t(height), 0xFFFFFFFFu);
    const int components = colorMap->getNumPixelComps();
    ImageStream image(str, width, components, colorMap->getBits());
    image.reset();
    for (int y = 0; y < height; ++y) {
        unsigned char* line = image.getLine();
        if (!line)
            break;
        std::uint32_t* row = pixels.data() + std::size_t(y) * width;
        if (colorMap->useRGBLine()) {
            colorMap->getRGBLine(line, reinterpret_cast<unsigned int*>(row), width);
        } else {
            for (int x = 0; x < width; ++x) {
                GfxRGB rgb;
                colorMap->getRGB(line + std::size_t(x) * components, &rgb);
                row[x]
                    = std::uint32_t(colToByte(rgb.r)) << 16 | std::uint32_t(colToByte(rgb.g)) << 8 | colToByte(rgb.b);
            }
        }
        for (int x = 0; x < width; ++x) {
            bool keyed = maskColors != nullptr;
            for (int c = 0; keyed && c < components; ++c) {
                const int sample = line[std::size_t(x) * components + c];
                keyed = sample >= maskColors[2 * c] && sample <= maskColors[2 * c + 1];
            }
            row[x] = keyed ? 0 : (row[x] | 0xFF000000u);
        }
    }
    image.close();
    return pixels;
}

// Reads a mask's samples as alpha values (0 to 255), one byte per pixel: a stencil's (one bit,
// painted where the sample is 0, or 1 when inverted) or a soft mask's grey.
std::vector<std::uint8_t> ReadMask(Stream* str, int width, int height, GfxImageColorMap* softMap, bool invert)
{
    std::vector<std::uint8_t> alpha(std::size_t(width) * std::size_t(height), 0);
    const int components = softMap ? softMap->getNumPixelComps() : 1;
    ImageStream image(str, width, components, softMap ? softMap->getBits() : 1);
    image.reset();
    for (int y = 0; y < height; ++y) {
        unsigned char* line = image.getLine();
        if (!line)
            break;
        std::uint8_t* row = alpha.data() + std::size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            if (softMap) {
                GfxGray grey;
                softMap->getGray(line + std::size_t(x) * components, &grey);
                row[x] = colToByte(grey);
            } else {
                row[x] = ((line[x] != 0) == invert) ? 255 : 0;
            }
        }
    }
    image.close();
    return alpha;
}

std::uint32_t Premultiplied(std::uint32_t pixel, unsigned alpha)
{
    auto scale = [alpha](std::uint32_t channel) { return (channel * alpha + 127) / 255; };
    return scale(pixel >> 16 & 0xFF) << 16 | scale(pixel >> 8 & 0xFF) << 8 | scale(pixel & 0xFF) | alpha << 24;
}

} // namespace

// The header of a top-down 32-bit BI_RGB bitmap: pixels blue, green, red, reserved.
BITMAPINFO TopDown32(int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = DWORD(width) * DWORD(height) * 4;
    return info;
}

PenDashes DashStyle(const std::vector<double>& dashes, double phase, double scale, bool flatCaps)
{
    std::vector<double> cycle;
    double total = 0;
    for (double dash : dashes) {
        if (!std::isfinite(dash) || dash < 0)
            return {};
        cycle.push_back(dash);
        total += dash;
    }
    // The pattern is followed in the document's lengths, where a phase lands exactly on the end of
    // a dash as the document means it; they are scaled once it is laid out.
    if (!(total > 0) || !std::isfinite(total * scale))
        return {};
    // An odd pattern repeats with dashes and gaps swapped: twice over it is even.
    if (cycle.size() % 2 == 1) {
        const std::size_t once = cycle.size();
        for (std::size_t i = 0; i < once; ++i)
            cycle.push_back(cycle[i]);
        total *= 2;
    }

    // The element the phase falls in, and how much of it the phase has used up.
    double offset = std::fmod(phase, total);
    if (!std::isfinite(offset))
        offset = 0;
    if (offset < 0)
        offset += total;
    std::size_t first = 0;
    // A dash of no length where the phase lands is kept: with round caps it is a dot.
    while (first + 1 < cycle.size() && offset >= cycle[first] && !(offset == 0 && cycle[first] == 0)) {
        offset -= cycle[first];
        ++first;
    }
    // The pattern from the phase on: lengths, even positions dashes.
    std::vector<double> rotated;
    double lead = 0;
    bool startsWithGap = first % 2 == 1;
    rotated.push_back(cycle[first] - offset);
    for (std::size_t i = 1; i < cycle.size(); ++i)
        rotated.push_back(cycle[(first + i) % cycle.size()]);
    if (offset > 0)
        rotated.push_back(offset);
    if (startsWithGap) {
        if (flatCaps) {
            rotated.insert(rotated.begin(), 0.0);
        } else {
            // Start at the dash after the gap, the path cut to start there as well; the gap's
            // part before the phase (if any) joins the whole gap at the end.
            const double gap = rotated.front();
            lead = gap;
            rotated.erase(rotated.begin());
            if (offset > 0)
                rotated.back() += gap;
            else
                rotated.push_back(gap);
        }
    }
    // A trailing dash is followed by the leading one: a gap of no length keeps them one dash.
    if (rotated.size() % 2 == 1)
        rotated.push_back(0.0);
    if (rotated.size() > kMaxDashEntries)
        return {};
    // Whole units where each entry ends, so that rounding never adds up along the pattern: a
    // cycle is as long as the document's, rounded once.
    PenDashes pen;
    double end = 0;
    long previous = 0;
    for (double length : rotated) {
        end = std::min(end + length * scale, double(kMaxUnit));
        const long boundary = std::lround(end);
        pen.style.push_back(DWORD(boundary - previous));
        previous = boundary;
    }
    pen.lead = lead * scale;
    return pen;
}

std::unique_ptr<GdiOutputDev> GdiOutputDev::Counting(const PageLimits& limits, PageTexts& texts)
{
    return std::unique_ptr<GdiOutputDev>(new GdiOutputDev(nullptr, Matrix{}, nullptr, &texts, limits));
}

std::unique_ptr<GdiOutputDev> GdiOutputDev::Drawing(HDC dc, const Matrix& pointsToUnits, PageFonts& fonts,
                                                    const PageLimits& limits)
{
    if (!dc)
        return nullptr;
    const Matrix subunits{kSubunits, 0, 0, kSubunits, 0, 0};
    return std::unique_ptr<GdiOutputDev>(new GdiOutputDev(dc, pointsToUnits.Then(subunits), &fonts, nullptr, limits));
}

GdiOutputDev::GdiOutputDev(HDC dc, const Matrix& pointsToUnits, PageFonts* fonts, PageTexts* texts,
                           const PageLimits& limits)
    : dc_(dc),
      pointsToUnits_(pointsToUnits),
      fonts_(fonts),
      texts_(texts),
      limits_(limits)
{}

GdiOutputDev::~GdiOutputDev()
{
    Finish();
}

bool GdiOutputDev::StopDrawing(void* device)
{
    return static_cast<GdiOutputDev*>(device)->cost_.overLimit;
}

void GdiOutputDev::Begin()
{
    if (!Draws() || begun_)
        return;
    begun_ = true;
    outerState_ = SaveDC(dc_);
    Check(outerState_ > 0);
    const XFORM subunit{1.0f / kSubunits, 0, 0, 1.0f / kSubunits, 0, 0};
    Check(ModifyWorldTransform(dc_, &subunit, MWT_LEFTMULTIPLY));
    SetBkMode(dc_, TRANSPARENT);
    SetTextAlign(dc_, TA_BASELINE);
    SetFillMode(WINDING);
}

void GdiOutputDev::Finish()
{
    if (!begun_)
        return;
    FlushRun();
    begun_ = false;
    // Back to the state before the page: nothing of the page's stays selected, so it can go.
    if (outerState_ > 0)
        RestoreDC(dc_, outerState_);
    saved_.clear();
    selection_ = Selection{};
    for (auto& [colour, brush] : brushes_)
        DeleteObject(brush);
    for (auto& [key, pen] : pens_)
        DeleteObject(pen);
    for (auto& [name, font] : fonts16_)
        DeleteObject(font);
    brushes_.clear();
    pens_.clear();
    fonts16_.clear();
    if (memoryDc_)
        DeleteDC(memoryDc_);
    memoryDc_ = nullptr;
}

bool GdiOutputDev::Spend(std::int64_t operations, std::int64_t points, std::int64_t glyphs, std::int64_t pixels)
{
    if (cost_.overLimit)
        return false;
    cost_.operations += operations;
    cost_.pathPoints += points;
    cost_.glyphs += glyphs;
    cost_.imagePixels += pixels;
    cost_.overLimit = cost_.operations > limits_.operations || cost_.pathPoints > limits_.pagePathPoints
        || cost_.glyphs > limits_.glyphs || cost_.imagePixels > limits_.imagePixels
        || cost_.fontBytes > limits_.fontBytes || points > limits_.pathPoints || cost_.clipPaths > limits_.clipPaths;
    return !cost_.overLimit;
}

void GdiOutputDev::AddClip()
{
    ++clipsInForce_;
    cost_.clipPaths = std::max(cost_.clipPaths, clipsInForce_);
}

bool GdiOutputDev::SpendPath(const GfxPath& path)
{
    std::int64_t points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        points += path.getSubpath(i)->getNumPoints();
    return Spend(1, points, 0, 0);
}

bool GdiOutputDev::PaintsWithGdi(GfxState* state, bool fill, bool stroke, const PageArea& box, bool noted)
{
    const bool plain = (!fill || PaintsPlainly(state, state->getFillOpacity()))
        && (!stroke || PaintsPlainly(state, state->getStrokeOpacity())) && !softMask_;
    return Plain(state, plain, box, noted);
}

GdiOutputDev::Painting GdiOutputDev::HowPainted(GfxState* state, bool stroke) const
{
    const double opacity = stroke ? state->getStrokeOpacity() : state->getFillOpacity();
    if (state->getBlendMode() != gfxBlendNormal || softMask_)
        return Painting::Pixels;
    if (opacity >= 1)
        return Painting::Opaque;
    // Below the least step of a constant alpha nothing shows; it also paints nothing the
    // areas need, outside a group (whose content goes as pixels whatever it paints).
    if (!(std::lround(opacity * 255) > 0))
        return Painting::Nothing;
    const GfxColorSpace* space = stroke ? state->getStrokeColorSpace() : state->getFillColorSpace();
    if (!space || space->getMode() == csPattern)
        return Painting::Pixels;
    return Painting::Blended;
}

GdiOutputDev::Painting GdiOutputDev::HowPainted(GfxState* state, const GfxPath& path, bool stroke) const
{
    if (!stroke && (state->getBlendMode() != gfxBlendNormal || softMask_))
        return PlanFlat(state, path) ? Painting::Flat : Painting::Pixels;
    if (const Painting painting = HowPainted(state, stroke); painting != Painting::Blended)
        return painting;
    std::int64_t points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        points += path.getSubpath(i)->getNumPoints();
    if (points > (stroke ? kMaxBlendedStrokePoints : kMaxBlendedFillPoints))
        return Painting::Pixels;
    // A line of no width is the thinnest the device draws, whatever its shape: it has no outline.
    if (stroke && !HasOutline(state, path))
        return Painting::Pixels;
    return Painting::Blended;
}

std::optional<GdiOutputDev::FlatPlan> GdiOutputDev::PlanFlat(GfxState* state, const GfxPath& path) const
{
    // Blends inside a group that goes as an area (poppler hands over every isolated group) or in
    // a soft mask's group do not land on the page's backdrop.
    if (maskGroups_ > 0 || Hidden() || (softMask_ && !flatMask_))
        return std::nullopt;
    const GfxColorSpace* space = state->getFillColorSpace();
    if (!space || space->getMode() == csPattern)
        return std::nullopt;
    std::int64_t points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        points += path.getSubpath(i)->getNumPoints();
    if (points > kMaxBlendedFillPoints)
        return std::nullopt;
    // Where a soft mask lets nothing through, the paint leaves what lies there as it is, whatever it
    // is: a shadow's rect may reach under words where its mask has faded to nothing. The parts are
    // kept to the mask's reach only then: along its edges they lie one over the other, each
    // smoothed, and the lower would show through.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    const PageArea box = Intersection(PathBox(state, path, false), PageArea{x0, y0, x1, y1});
    FlatPlan plan;
    if (auto fills = backdrop_.Beneath(box)) {
        plan.boxes = {box};
        plan.beneath = std::move(*fills);
    } else if (flatMask_ && flatMask_->reach) {
        plan.withinReach = true;
        for (const PageArea& reach : *flatMask_->reach) {
            const PageArea part = Intersection(box, reach);
            if (!(part.x1 > part.x0 && part.y1 > part.y0))
                continue;
            plan.boxes.push_back(part);
            fills = backdrop_.Beneath(part);
            if (!fills)
                return std::nullopt;
            plan.beneath.insert(plan.beneath.end(), fills->begin(), fills->end());
        }
        // The fills in the order painted, each once (they lie in one list, in that order).
        std::sort(plan.beneath.begin(), plan.beneath.end());
        plan.beneath.erase(std::unique(plan.beneath.begin(), plan.beneath.end()), plan.beneath.end());
    } else {
        return std::nullopt;
    }
    if (FlatParts(plan.beneath.size()) > kMaxFlatParts)
        return std::nullopt;
    return plan;
}

std::size_t GdiOutputDev::FlatParts(std::size_t beneath) const
{
    return (1 + beneath) * (1 + (flatMask_ ? flatMask_->parts.size() : 0));
}

bool GdiOutputDev::NoteFlatFill(GfxState* state, const GfxPath& path, bool evenOdd)
{
    const GfxColorSpace* space = state->getFillColorSpace();
    if (!clipIsBox_ || !space || space->getMode() == csPattern || areaGroups_ > 0 || stencilMasks_ > 0
        || hiddenFromDepth_ >= 0)
        return false;
    // Inside a soft mask's group only its own fills make the mask; a group within it is left to pixels.
    const bool forMask = maskGroups_ > 0;
    if (forMask && (maskGroups_ > 1 || groupKinds_.back() != GroupKind::Mask || maskParts_.size() >= kMaxMaskParts))
        return false;
    // A fill is kept as its path: only so many, each of so many points.
    std::int64_t points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        points += path.getSubpath(i)->getNumPoints();
    if (points > kMaxFlatFillPoints || (!forMask && backdrop_.Full()))
        return false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    FlatFill fill;
    fill.path = std::shared_ptr<const GfxPath>(path.copy());
    fill.toDevice = Ctm(state);
    fill.evenOdd = evenOdd;
    fill.clip = PageArea{x0, y0, x1, y1};
    fill.colour = Rgb{colToDbl(rgb.r), colToDbl(rgb.g), colToDbl(rgb.b)};
    fill.box = Intersection(PathBox(state, path, false), fill.clip);
    // A mask's fills of no value shut what earlier parts let through, when they are boxes.
    if (forMask)
        fill.exact = ExactBoxes(fill);
    if (forMask) {
        MaskPart part;
        part.fill = std::move(fill);
        maskParts_.push_back(std::move(part));
    } else {
        backdrop_.AddFill(std::move(fill));
    }
    return true;
}

bool GdiOutputDev::NoteMaskShading(GfxState* state, const GradientPieces& pieces)
{
    // A shading in a soft mask's own group, through a box clip, gives the mask's value point by
    // point; elsewhere a shading is paint like any other.
    if (maskGroups_ != 1 || groupKinds_.back() != GroupKind::Mask || !clipIsBox_ || areaGroups_ > 0 || stencilMasks_ > 0
        || hiddenFromDepth_ >= 0 || maskParts_.size() >= kMaxMaskParts)
        return false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    MaskPart part;
    part.fill.clip = PageArea{x0, y0, x1, y1};
    part.fill.box = part.fill.clip;
    part.shading = std::make_shared<const GradientPieces>(pieces);
    part.shadingToDevice = pieces.frameToUser.Then(Ctm(state));
    maskParts_.push_back(std::move(part));
    return true;
}

void GdiOutputDev::NoteOther(GfxState* state, const PageArea& box, bool glyph)
{
    if (fillsGroup_ && maskGroups_ == 0)
        fillsGroup_->drawable = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    if (maskGroups_ > 0)
        maskFlat_ = false;
    else if (glyph)
        textBoxes_.push_back(Intersection(box, PageArea{x0, y0, x1, y1}));
    else
        backdrop_.AddOther(Intersection(box, PageArea{x0, y0, x1, y1}));
}

std::optional<COLORREF> GdiOutputDev::TextColourOver(GfxState* state, const PageArea& box) const
{
    const GfxColorSpace* space = state->getFillColorSpace();
    if (softMask_ || Hidden() || !space || space->getMode() == csPattern)
        return std::nullopt;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    const PageArea cut = Intersection(box, PageArea{x0, y0, x1, y1});
    const auto fills = backdrop_.Beneath(cut);
    if (!fills)
        return std::nullopt;
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    const Rgb source{colToDbl(rgb.r), colToDbl(rgb.g), colToDbl(rgb.b)};
    auto colour = [](const Rgb& c) { return RGB(dblToByte(c.r), dblToByte(c.g), dblToByte(c.b)); };
    // Over the paper alone, or over a fill that holds the whole box.
    if (fills->empty())
        return colour(CompositeOver(nullptr, state->getBlendMode(), source, state->getFillOpacity()));
    const FlatFill& top = *fills->back();
    for (const PageArea& e : ExactBoxes(top))
        if (e.x0 <= cut.x0 && e.y0 <= cut.y0 && cut.x1 <= e.x1 && cut.y1 <= e.y1)
            return colour(CompositeOver(&top, state->getBlendMode(), source, state->getFillOpacity()));
    return std::nullopt;
}

bool GdiOutputDev::Plain(GfxState* state, bool plain, const PageArea& box, bool noted)
{
    SettleGroup(nullptr);
    if (!noted)
        NoteOther(state, box);
    // Inside a group that goes as an area, everything painted makes the group's area.
    if (!plain)
        cost_.needsPicture = true;
    if (!plain || !groupAreas_.empty())
        AddArea(state, box);
    return plain;
}

void GdiOutputDev::AddArea(GfxState* state, PageArea box)
{
    // A soft mask's group paints nothing that shows; what a group drawn as an area paints makes
    // that group's area.
    if (maskGroups_ > 0)
        return;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    box = Intersection(box, PageArea{x0, y0, x1, y1});
    if (!(box.x1 > box.x0 && box.y1 > box.y0))
        return;
    if (!groupAreas_.empty()) {
        groupAreas_.back() = Union(groupAreas_.back(), box);
        return;
    }
    AddCutArea(box);
}

void GdiOutputDev::AddCutArea(const PageArea& box)
{
    areas_.push_back(box);
    // A cover hides only what was painted before it: an area over it shows there.
    std::erase_if(covers_, [&box](const PageArea& cover) { return Overlap(cover, box); });
}

void GdiOutputDev::AddCover(GfxState* state, const GfxPath& path)
{
    // Only a cover of areas painted before it spares pixels; the clip must be a box, else the paint
    // may not reach every part of the box inside its shape.
    if (areas_.empty() || !clipIsBox_ || covers_.size() >= kMaxCovers)
        return;
    const std::optional<PageArea> inside = BoxInside(DevicePolygon(path, Ctm(state)));
    if (!inside)
        return;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    const PageArea cover = Intersection(*inside, PageArea{x0, y0, x1, y1});
    const bool hidesAnArea
        = std::any_of(areas_.begin(), areas_.end(), [&cover](const PageArea& area) { return Overlap(cover, area); });
    if (cover.x1 > cover.x0 && cover.y1 > cover.y0 && hidesAnArea)
        covers_.push_back(cover);
}

std::vector<PageArea> GdiOutputDev::ExactBoxes(const FlatFill& fill)
{
    std::vector<PageArea> boxes;
    if (!fill.path || std::size_t(fill.path->getNumSubpaths()) > kMaxExactBoxes)
        return boxes;
    for (int i = 0; i < fill.path->getNumSubpaths(); ++i) {
        const GfxSubpath& subpath = *fill.path->getSubpath(i);
        if (std::size_t(subpath.getNumPoints()) > kMaxCoverPoints)
            return {};
        std::vector<std::pair<double, double>> polygon;
        for (const PathPoint& point : Flattened(subpath, fill.toDevice)) {
            double x = 0, y = 0;
            fill.toDevice.Apply(point.x, point.y, x, y);
            polygon.push_back({x, y});
        }
        if (polygon.empty() || !IsBox(polygon))
            return {};
        PageArea box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (const auto& [x, y] : polygon)
            box = Union(box, PageArea{x, y, x, y});
        if (const PageArea cut = Intersection(box, fill.clip); cut.x1 > cut.x0 && cut.y1 > cut.y0)
            boxes.push_back(cut);
    }
    return boxes;
}

PageArea GdiOutputDev::Union(const PageArea& a, const PageArea& b)
{
    return PageArea{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

bool GdiOutputDev::Hidden() const
{
    return areaGroups_ > 0 || maskGroups_ > 0 || stencilMasks_ > 0 || hiddenFromDepth_ >= 0;
}

PageArea GdiOutputDev::BoxOf(GfxState* state, const Matrix& toUser, double x0, double y0, double x1, double y1,
                             double grow)
{
    PageArea box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const auto& [x, y] : {std::pair{x0, y0}, std::pair{x1, y0}, std::pair{x0, y1}, std::pair{x1, y1}}) {
        double ux = 0, uy = 0, dx = 0, dy = 0;
        toUser.Apply(x, y, ux, uy);
        state->transform(ux, uy, &dx, &dy);
        box = PageArea{std::min(box.x0, dx), std::min(box.y0, dy), std::max(box.x1, dx), std::max(box.y1, dy)};
    }
    return PageArea{box.x0 - grow, box.y0 - grow, box.x1 + grow, box.y1 + grow};
}

PageArea GdiOutputDev::PathBox(GfxState* state, const GfxPath& path, bool stroke)
{
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        for (int p = 0; p < subpath->getNumPoints(); ++p) {
            x0 = std::min(x0, subpath->getX(p));
            y0 = std::min(y0, subpath->getY(p));
            x1 = std::max(x1, subpath->getX(p));
            y1 = std::max(y1, subpath->getY(p));
        }
    }
    // A stroke reaches half its width beyond the path, a mitred corner up to its miter limit, a
    // square cap's corner half its diagonal.
    double reach = state->getLineJoin() == 0 ? std::max(1.0, state->getMiterLimit()) : 1.0;
    if (state->getLineCap() == 2)
        reach = std::max(reach, std::sqrt(2.0));
    const double grow = stroke ? state->getTransformedLineWidth() * reach / 2 : 0;
    return BoxOf(state, Matrix{}, x0, y0, x1, y1, grow + 1);
}

void GdiOutputDev::Check(bool succeeded)
{
    if (!succeeded)
        cost_.drawFailed = true;
}

void GdiOutputDev::Save()
{
    Check(SaveDC(dc_) > 0);
    saved_.push_back(selection_);
}

void GdiOutputDev::Restore()
{
    if (saved_.empty())
        return;
    Check(RestoreDC(dc_, -1));
    selection_ = saved_.back();
    saved_.pop_back();
}

Matrix GdiOutputDev::UserToUnits(GfxState* state) const
{
    return Ctm(state).Then(pointsToUnits_);
}

void GdiOutputDev::SelectBrush(COLORREF colour)
{
    HBRUSH& brush = brushes_[colour];
    if (!brush)
        brush = CreateSolidBrush(colour);
    Check(brush != nullptr);
    if (brush && selection_.brush != brush) {
        SelectObject(dc_, brush);
        selection_.brush = brush;
    }
}

void GdiOutputDev::SelectPen(const PenKey& key)
{
    HPEN& pen = pens_[key];
    if (!pen) {
        const auto& [style, width, colour, dashes] = key;
        const LOGBRUSH brush{BS_SOLID, colour, 0};
        pen = ExtCreatePen(style, width, &brush, DWORD(dashes.size()), dashes.empty() ? nullptr : dashes.data());
    }
    Check(pen != nullptr);
    if (pen && selection_.pen != pen) {
        SelectObject(dc_, pen);
        selection_.pen = pen;
    }
}

void GdiOutputDev::SelectFont(const std::u16string& faceName)
{
    HFONT& font = fonts16_[faceName];
    if (!font) {
        LOGFONTW description{};
        description.lfHeight = -kEm;
        description.lfWeight = FW_NORMAL;
        const std::size_t units = std::min<std::size_t>(faceName.size(), LF_FACESIZE - 1);
        std::copy_n(faceName.begin(), units, description.lfFaceName);
        font = CreateFontIndirectW(&description);
    }
    Check(font != nullptr);
    if (font && selection_.font != font) {
        SelectObject(dc_, font);
        selection_.font = font;
    }
}

void GdiOutputDev::SetFillMode(int mode)
{
    if (selection_.fillMode != mode) {
        SetPolyFillMode(dc_, mode);
        selection_.fillMode = mode;
    }
}

void GdiOutputDev::SetTextColour(COLORREF colour)
{
    if (selection_.textColor != colour) {
        SetTextColor(dc_, colour);
        selection_.textColor = colour;
    }
}

void GdiOutputDev::SetSmoothing(bool smooth)
{
    const int mode = smooth ? HALFTONE : COLORONCOLOR;
    if (selection_.stretchMode != mode) {
        SetStretchBltMode(dc_, mode);
        selection_.stretchMode = mode;
    }
}

void GdiOutputDev::SetMiter(double limit)
{
    if (selection_.miterLimit != limit) {
        SetMiterLimit(dc_, FLOAT(limit), nullptr);
        selection_.miterLimit = limit;
    }
}

void GdiOutputDev::EmitPath(const GfxPath& path, const Matrix& toUnits)
{
    std::vector<POINT> points;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        const int count = subpath->getNumPoints();
        if (count < 1)
            continue;
        auto at = [&](int index) {
            double x = 0, y = 0;
            toUnits.Apply(subpath->getX(index), subpath->getY(index), x, y);
            return Unit(x, y);
        };
        const POINT start = at(0);
        MoveToEx(dc_, start.x, start.y, nullptr);
        // Runs of lines and runs of curves each go as one call.
        int index = 1;
        while (index < count) {
            points.clear();
            if (subpath->getCurve(index) && index + 2 < count) {
                while (index + 2 < count && subpath->getCurve(index)) {
                    points.push_back(at(index));
                    points.push_back(at(index + 1));
                    points.push_back(at(index + 2));
                    index += 3;
                }
                PolyBezierTo(dc_, points.data(), DWORD(points.size()));
            } else {
                while (index < count && !(subpath->getCurve(index) && index + 2 < count)) {
                    points.push_back(at(index));
                    ++index;
                }
                if (points.size() == 1)
                    LineTo(dc_, points[0].x, points[0].y);
                else
                    PolylineTo(dc_, points.data(), DWORD(points.size()));
            }
        }
        if (subpath->isClosed())
            CloseFigure(dc_);
    }
}

void GdiOutputDev::FillUserPath(GfxState* state, const GfxPath& path, bool evenOdd, COLORREF colour)
{
    FillPathWith(path, UserToUnits(state), evenOdd, colour);
}

void GdiOutputDev::FillPathWith(const GfxPath& path, const Matrix& toUnits, bool evenOdd, COLORREF colour)
{
    SelectBrush(colour);
    SetFillMode(evenOdd ? ALTERNATE : WINDING);
    BeginPath(dc_);
    EmitPath(path, toUnits);
    EndPath(dc_);
    FillPath(dc_);
}

void GdiOutputDev::FlatUserPath(GfxState* state, const GfxPath& path, bool evenOdd, const FlatPlan& plan)
{
    const std::vector<const FlatFill*>& beneath = plan.beneath;
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    const Rgb source{colToDbl(rgb.r), colToDbl(rgb.g), colToDbl(rgb.b)};
    const double opacity = state->getFillOpacity();
    auto composite = [&](const FlatFill* backdropFill, double value) {
        return CompositeOver(backdropFill, state->getBlendMode(), source, opacity * value);
    };
    // The mask's value where none of its parts lies comes first, as the paper does among the
    // backdrop's colours: each part is painted over those it lies on.
    MaskPart everywhere;
    everywhere.value = flatMask_ ? flatMask_->outside : 1.0;
    std::vector<const MaskPart*> maskParts{&everywhere};
    if (flatMask_)
        for (const MaskPart& part : flatMask_->parts)
            maskParts.push_back(&part);
    if (plan.boxes.empty())
        return;
    PageArea box = plan.boxes.front();
    for (const PageArea& other : plan.boxes)
        box = Union(box, other);
    Save();
    ClipUserPath(state, path, evenOdd);
    if (plan.withinReach) {
        GfxPath reach;
        for (const PageArea& b : plan.boxes)
            AddBox(reach, b);
        ClipPathWith(reach, pointsToUnits_, false);
    }
    // A part a later fill of the backdrop paints over whole is left out (a slide's background
    // fill over the paper).
    std::vector<std::vector<PageArea>> exact;
    for (const FlatFill* fill : beneath)
        exact.push_back(ExactBoxes(*fill));
    auto hidden = [&exact](std::size_t after, const PageArea& part) {
        for (std::size_t k = after; k < exact.size(); ++k)
            for (const PageArea& e : exact[k])
                if (e.x0 <= part.x0 && e.y0 <= part.y0 && part.x1 <= e.x1 && part.y1 <= e.y1)
                    return true;
        return false;
    };
    // The paper's part is kept off the backdrop's boxes, all but a margin along their edges. The
    // parts are each smoothed along the path's edge: where two of them lie there one over the
    // other, the lower would show through as a light seam. Along the boxes' own edges the paper's
    // part lies beneath, as the page has it.
    GfxPath paperOnly;
    std::vector<PageArea> paper{box};
    for (const std::vector<PageArea>& boxes : exact)
        for (const PageArea& e : boxes) {
            const PageArea inner{e.x0 + kPaperOverlap, e.y0 + kPaperOverlap, e.x1 - kPaperOverlap,
                                 e.y1 - kPaperOverlap};
            if (!(inner.x1 > inner.x0 && inner.y1 > inner.y0))
                continue;
            std::vector<PageArea> left;
            for (const PageArea& piece : paper)
                for (const PageArea& rest : Subtract(piece, inner))
                    left.push_back(rest);
            paper = std::move(left);
        }
    if (paper.size() <= kMaxExactBoxes)
        for (const PageArea& piece : paper)
            AddBox(paperOnly, piece);
    for (const MaskPart* maskPart : maskParts) {
        const FlatFill* maskFill = maskPart == &everywhere ? nullptr : &maskPart->fill;
        // Where the mask lets nothing through and no part lies beneath, the page stays as it is.
        if (!maskFill && flatMask_ && flatMask_->reach)
            continue;
        for (std::size_t i = 0; i <= beneath.size(); ++i) {
            const FlatFill* backdropFill = i == 0 ? nullptr : beneath[i - 1];
            PageArea part = box;
            for (const FlatFill* fill : {maskFill, backdropFill})
                if (fill)
                    part = Intersection(part, fill->box);
            if (!(part.x1 > part.x0 && part.y1 > part.y0) || hidden(i, part))
                continue;
            Save();
            for (const FlatFill* fill : {maskFill, backdropFill})
                if (fill && fill->path)
                    ClipPathWith(*fill->path, fill->toDevice.Then(pointsToUnits_), fill->evenOdd);
            if (!backdropFill && paperOnly.getNumSubpaths() > 0)
                ClipPathWith(paperOnly, pointsToUnits_, false);
            GfxPath rectangle;
            AddBox(rectangle, part);
            if (maskPart->shading) {
                // The shading itself, its colours those its mask values leave over this backdrop.
                ClipPathWith(rectangle, pointsToUnits_, false);
                GradientPieces pieces = *maskPart->shading;
                for (std::size_t v = 0; v < pieces.vertices.size(); ++v) {
                    const Rgb colour = composite(backdropFill, maskPart->vertexValues[v]);
                    pieces.vertices[v].Red = USHORT(std::lround(colour.r * 65535));
                    pieces.vertices[v].Green = USHORT(std::lround(colour.g * 65535));
                    pieces.vertices[v].Blue = USHORT(std::lround(colour.b * 65535));
                }
                const XFORM world = ToXform(maskPart->shadingToDevice.Then(pointsToUnits_));
                if (Invertible(world)) {
                    Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
                    GradientFill(dc_, pieces.vertices.data(), ULONG(pieces.vertices.size()), pieces.indices.data(),
                                 ULONG(pieces.Count()), pieces.mode);
                }
            } else {
                const Rgb colour = composite(backdropFill, maskPart->value);
                FillPathWith(rectangle, pointsToUnits_, false,
                             RGB(dblToByte(colour.r), dblToByte(colour.g), dblToByte(colour.b)));
            }
            Restore();
        }
    }
    Restore();
}

void GdiOutputDev::BlendUserPath(GfxState* state, const GfxPath& path, bool evenOdd, COLORREF colour, double opacity)
{
    BlendPathWith(path, UserToUnits(state), evenOdd, colour, opacity, {});
}

void GdiOutputDev::BlendPathWith(const GfxPath& path, const Matrix& userToUnits, bool evenOdd, COLORREF colour,
                                 double opacity, std::span<const GroupFill* const> cuts)
{
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        for (int p = 0; p < subpath->getNumPoints(); ++p) {
            double x = 0, y = 0;
            userToUnits.Apply(subpath->getX(p), subpath->getY(p), x, y);
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
        }
    }
    if (!(x1 >= x0 && y1 >= y0))
        return;
    // The box is kept within half the coordinates' range either way, so that its sides fit GDI's
    // integers; the clip cuts the blend to the shape wherever the shape reaches.
    const double margin = double(kBlendMargin * kSubunits);
    auto within = [](double value) { return std::clamp(value, -kMaxUnit / 2, kMaxUnit / 2); };
    const POINT low = Unit(within(std::floor(x0) - margin), within(std::floor(y0) - margin));
    const POINT high = Unit(within(std::ceil(x1) + margin), within(std::ceil(y1) + margin));
    if (!memoryDc_)
        memoryDc_ = CreateCompatibleDC(dc_);
    const BITMAPINFO info = TopDown32(1, 1);
    void* bits = nullptr;
    HBITMAP bitmap = memoryDc_ ? CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    Check(bitmap != nullptr && bits != nullptr);
    if (!bitmap || !bits)
        return;
    const std::uint32_t pixel = 0xFF000000u | std::uint32_t(GetRValue(colour)) << 16
        | std::uint32_t(GetGValue(colour)) << 8 | GetBValue(colour);
    std::memcpy(bits, &pixel, sizeof pixel);
    Save();
    // One pixel enlarged shows as it is: smoothed, its colour would fade towards its edges.
    SetSmoothing(false);
    ClipPathWith(path, userToUnits, evenOdd);
    for (const GroupFill* cut : cuts) {
        SetFillMode(ALTERNATE);
        BeginPath(dc_);
        EmitPath(*cut->path, cut->toDevice.Then(pointsToUnits_));
        EndPath(dc_);
        Check(SelectClipPath(dc_, RGN_DIFF));
    }
    HGDIOBJ previous = SelectObject(memoryDc_, bitmap);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, BYTE(std::lround(std::clamp(opacity, 0.0, 1.0) * 255)), 0};
    Check(AlphaBlend(dc_, low.x, low.y, high.x - low.x, high.y - low.y, memoryDc_, 0, 0, 1, 1, blend) != FALSE);
    SelectObject(memoryDc_, previous);
    DeleteObject(bitmap);
    Restore();
}

void GdiOutputDev::StrokeUserPath(GfxState* state, const GfxPath& path)
{
    GfxRGB rgb;
    state->getStrokeRGB(&rgb);
    const COLORREF colour = ToColour(rgb);
    const Matrix userToUnits = UserToUnits(state);
    const double scale = std::sqrt(std::abs(userToUnits.Determinant()));
    const double width = state->getLineWidth();

    // A line of no width is the thinnest the device draws: a cosmetic pen of one pixel.
    if (!(width > 0) || !(scale > 0)) {
        SelectPen(PenKey{PS_COSMETIC | PS_SOLID, 1, colour, {}});
        BeginPath(dc_);
        EmitPath(path, userToUnits);
        EndPath(dc_);
        StrokePath(dc_);
        return;
    }

    DWORD style = PS_GEOMETRIC;
    switch (state->getLineCap()) {
    case 1:
        style |= PS_ENDCAP_ROUND;
        break;
    case 2:
        style |= PS_ENDCAP_SQUARE;
        break;
    default:
        style |= PS_ENDCAP_FLAT;
        break;
    }
    switch (state->getLineJoin()) {
    case 1:
        style |= PS_JOIN_ROUND;
        break;
    case 2:
        style |= PS_JOIN_BEVEL;
        break;
    default:
        style |= PS_JOIN_MITER;
        SetMiter(std::max(1.0, state->getMiterLimit()));
        break;
    }
    double phase = 0;
    const std::vector<double>& dashes = state->getLineDash(&phase);
    PenDashes pen = DashStyle(dashes, phase, scale, state->getLineCap() == 0);
    style |= pen.style.empty() ? PS_SOLID : PS_USERSTYLE;
    const DWORD penWidth = DWORD(std::max(1L, std::lround(std::min(width * scale, kMaxUnit))));
    SelectPen(PenKey{style, penWidth, colour, std::move(pen.style)});
    // Where the pattern starts inside a gap, the subpaths start where its next dash does.
    std::unique_ptr<GfxPath> trimmed;
    const GfxPath& stroked = pen.lead > 0 ? *(trimmed = TrimSubpathStarts(path, pen.lead / scale)) : path;

    if (Conformal(userToUnits)) {
        // The pen is round in user space and stays round: the path can be mapped here.
        BeginPath(dc_);
        EmitPath(stroked, userToUnits);
        EndPath(dc_);
        StrokePath(dc_);
        return;
    }
    // A transform that stretches one way more than the other deforms the pen as well: the path is
    // drawn in user space (scaled uniformly to keep precision), the world transform doing the rest.
    const Matrix userToLogical{scale, 0, 0, scale, 0, 0};
    const Matrix logicalToUnits = Matrix{1 / scale, 0, 0, 1 / scale, 0, 0}.Then(userToUnits);
    const XFORM world = ToXform(logicalToUnits);
    if (!Invertible(world))
        return;
    Save();
    Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
    BeginPath(dc_);
    EmitPath(stroked, userToLogical);
    EndPath(dc_);
    StrokePath(dc_);
    Restore();
}

void GdiOutputDev::ClipUserPath(GfxState* state, const GfxPath& path, bool evenOdd)
{
    ClipPathWith(path, UserToUnits(state), evenOdd);
}

void GdiOutputDev::ClipPathWith(const GfxPath& path, const Matrix& toUnits, bool evenOdd)
{
    SetFillMode(evenOdd ? ALTERNATE : WINDING);
    BeginPath(dc_);
    if (path.getNumSubpaths() > 0) {
        EmitPath(path, toUnits);
    } else {
        // An empty clip path shows nothing: a figure without area says so.
        MoveToEx(dc_, 0, 0, nullptr);
        LineTo(dc_, 0, 0);
        CloseFigure(dc_);
    }
    EndPath(dc_);
    // A clip that was refused would leave what follows drawn unclipped: the page fails instead.
    Check(SelectClipPath(dc_, RGN_AND));
}

void GdiOutputDev::saveState(GfxState*)
{
    savedClips_.push_back(clipsInForce_);
    savedClipIsBox_.push_back(clipIsBox_);
    savedSoftMasks_.push_back(softMask_);
    savedFlatMasks_.push_back(flatMask_);
    ++stateDepth_;
    if (!Spend(1, 0, 0, 0) || !Draws())
        return;
    FlushRun();
    Save();
}

void GdiOutputDev::restoreState(GfxState*)
{
    if (!savedClips_.empty()) {
        clipsInForce_ = savedClips_.back();
        savedClips_.pop_back();
    }
    if (!savedClipIsBox_.empty()) {
        clipIsBox_ = savedClipIsBox_.back();
        savedClipIsBox_.pop_back();
    }
    // A soft mask belongs to the state it was set in: restoring the state ends it.
    if (!savedSoftMasks_.empty()) {
        softMask_ = savedSoftMasks_.back();
        savedSoftMasks_.pop_back();
        flatMask_ = std::move(savedFlatMasks_.back());
        savedFlatMasks_.pop_back();
    }
    --stateDepth_;
    if (hiddenFromDepth_ > stateDepth_)
        hiddenFromDepth_ = -1;
    if (!Spend(1, 0, 0, 0) || !Draws())
        return;
    FlushRun();
    Restore();
}

void GdiOutputDev::stroke(GfxState* state)
{
    const GfxPath& path = *state->getPath();
    if (!SpendPath(path))
        return;
    const Painting painting = HowPainted(state, path, true);
    if (!Plain(state, painting != Painting::Pixels, PathBox(state, path, true)) || Hidden() || !Draws()
        || painting == Painting::Nothing)
        return;
    FlushRun();
    if (painting == Painting::Opaque) {
        StrokeUserPath(state, path);
        return;
    }
    // A pen paints only opaque: a translucent stroke is its outline filled with the blend.
    const Matrix userToDots = UserToUnits(state).Then(Matrix{1.0 / kSubunits, 0, 0, 1.0 / kSubunits, 0, 0});
    const std::unique_ptr<GfxPath> outline = StrokeOutline(state, path, userToDots);
    if (!outline || outline->getNumSubpaths() == 0)
        return;
    GfxRGB rgb;
    state->getStrokeRGB(&rgb);
    BlendUserPath(state, *outline, false, ToColour(rgb), state->getStrokeOpacity());
}

void GdiOutputDev::fill(GfxState* state)
{
    FillCurrentPath(state, false);
}

void GdiOutputDev::eoFill(GfxState* state)
{
    FillCurrentPath(state, true);
}

void GdiOutputDev::FillCurrentPath(GfxState* state, bool evenOdd)
{
    const GfxPath& path = *state->getPath();
    if (!SpendPath(path))
        return;
    const Painting painting = HowPainted(state, path, false);
    std::optional<FlatPlan> plan;
    if (painting == Painting::Flat) {
        // Each part clips to the path of the fill beneath and the mask's fill that make it.
        plan = PlanFlat(state, path);
        const std::vector<const FlatFill*>& beneath = plan->beneath;
        auto pointsOf = [](const FlatFill& fill) {
            std::int64_t points = 0;
            for (int i = 0; fill.path && i < fill.path->getNumSubpaths(); ++i)
                points += fill.path->getSubpath(i)->getNumPoints();
            return points;
        };
        std::int64_t points = 0, pieces = 0;
        for (const FlatFill* fill : beneath)
            points += pointsOf(*fill);
        if (flatMask_)
            for (const MaskPart& part : flatMask_->parts) {
                points += pointsOf(part.fill) * std::int64_t(1 + beneath.size());
                pieces += part.shading ? std::int64_t(part.shading->Count()) : 0;
            }
        if (!Spend(std::int64_t(FlatParts(beneath.size())) + pieces * std::int64_t(1 + beneath.size()), points, 0, 0))
            return;
    }
    const bool noted = NoteGroupFill(state, path, evenOdd, painting)
        || (painting == Painting::Opaque && NoteFlatFill(state, path, evenOdd));
    const bool plain = Plain(state, painting != Painting::Pixels, PathBox(state, path, false), noted);
    if (plain && painting == Painting::Opaque && !Hidden())
        AddCover(state, path);
    if (!plain || Hidden() || !Draws() || painting == Painting::Nothing)
        return;
    FlushRun();
    if (painting == Painting::Flat) {
        FlatUserPath(state, path, evenOdd, *plan);
        return;
    }
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    if (painting == Painting::Blended)
        BlendUserPath(state, path, evenOdd, ToColour(rgb), state->getFillOpacity());
    else
        FillUserPath(state, path, evenOdd, ToColour(rgb));
}

void GdiOutputDev::clip(GfxState* state)
{
    ClipToCurrentPath(state, false);
}

void GdiOutputDev::eoClip(GfxState* state)
{
    ClipToCurrentPath(state, true);
}

void GdiOutputDev::ClipToCurrentPath(GfxState* state, bool evenOdd)
{
    AddClip();
    if (clipIsBox_) {
        const std::vector<std::pair<double, double>> polygon = DevicePolygon(*state->getPath(), Ctm(state));
        clipIsBox_ = !polygon.empty() && IsBox(polygon);
    }
    if (!SpendPath(*state->getPath()) || !Draws())
        return;
    FlushRun();
    ClipUserPath(state, *state->getPath(), evenOdd);
}

void GdiOutputDev::clipToStrokePath(GfxState* state)
{
    // The outline of a stroke as a clip (a stroke painted with a pattern): no GDI call makes it.
    AddClip();
    clipIsBox_ = false;
    // What is painted through it, until the state is restored, goes as an area.
    SpendPath(*state->getPath());
    Plain(state, false, PathBox(state, *state->getPath(), true));
    if (hiddenFromDepth_ < 0)
        hiddenFromDepth_ = stateDepth_;
}

void GdiOutputDev::beginTextObject(GfxState*)
{
    textClip_.reset();
}

void GdiOutputDev::endTextObject(GfxState* state)
{
    for (const PageArea& box : textBoxes_)
        backdrop_.AddOther(box);
    textBoxes_.clear();
    if (!Draws())
        return;
    FlushRun();
    if (textClip_) {
        AddClip();
        if (SpendPath(*textClip_))
            ClipUserPath(state, *textClip_, false);
        textClip_.reset();
    }
}

void GdiOutputDev::drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                            CharCode code, int, const Unicode* values, int count)
{
    if (!Spend(0, 0, 1, 0))
        return;
    const int render = state->getRender() & 7;
    const bool fills = render == 0 || render == 2 || render == 4 || render == 6;
    const bool strokes = render == 1 || render == 2 || render == 5 || render == 6;
    const bool clips = render >= 4;
    if (clips)
        clipIsBox_ = false;
    const std::shared_ptr<GfxFont>& gfxFont = state->getFont();
    if (texts_ && gfxFont && fills)
        texts_->Add(*gfxFont, code, values, count);
    if (!gfxFont)
        return;
    // The glyph's em square in user space: the font size, the horizontal scaling and the text
    // matrix, at the glyph's origin.
    const double* text = state->getTextMat();
    const double size = state->getFontSize();
    const Matrix emToText{size * state->getHorizScaling(), 0, 0, size, 0, 0};
    const Matrix textLinear{text[0], text[1], text[2], text[3], 0, 0};
    Matrix emToUser = emToText.Then(textLinear);
    emToUser.e = x - originX;
    emToUser.f = y - originY;
    // A large glyph filled under a constant opacity is its outline filled with the blend, as a
    // translucent shape is: a watermark across a page leaves the page's text and rules drawings, at
    // the cost of its own word. Other glyphs painted in a way GDI cannot show go as an area, and
    // stay as text beneath it, so that their words are kept; nothing of a soft mask's own content
    // is drawn.
    //
    // Text under an opacity or in a blend mode over one colour of the backdrop alone (the paper, or
    // a plain box holding the glyph) is text in the colour it leaves there, words and all. Whether
    // the backdrop is one colour is told by the font's own box, which holds its glyphs' ink; areas
    // take a wider box, as fonts may not say it right.
    const PageArea glyphBox = BoxOf(state, emToUser, -0.5, -0.5, 1.5, 1.5, 1);
    const double* fontBox = gfxFont->getFontBBox();
    const bool fontBoxSound = fontBox[2] > fontBox[0] && fontBox[3] > fontBox[1] && fontBox[0] >= -4 && fontBox[1] >= -4
        && fontBox[2] <= 4 && fontBox[3] <= 4;
    const PageArea inkBox
        = fontBoxSound ? BoxOf(state, emToUser, fontBox[0], fontBox[1], fontBox[2], fontBox[3], 1) : glyphBox;
    const Painting painting = HowPainted(state, false);
    const COLORREF flatColour
        = fills && !strokes && !clips && painting != Painting::Opaque && painting != Painting::Nothing
        ? TextColourOver(state, inkBox).value_or(CLR_INVALID)
        : CLR_INVALID;
    const bool flat = flatColour != CLR_INVALID;
    const bool large = std::sqrt(std::abs(emToUser.Then(Ctm(state)).Determinant())) >= kMinBlendedGlyphEm;
    const bool translucent = !flat && fills && !strokes && !Hidden() && painting == Painting::Blended;
    const bool blended = translucent && (large || outlineTranslucentText_);
    cost_.filledGlyphs += fills ? 1 : 0;
    cost_.smallTranslucentGlyphs += translucent && !large ? 1 : 0;
    NoteOther(state, inkBox, true);
    const bool plain = flat || blended ? Plain(state, true, glyphBox, true)
                                       : PaintsWithGdi(state, fills, strokes, glyphBox, true)
            && Plain(state, !fills || state->getFillColorSpace()->getMode() != csPattern, glyphBox, true);
    const bool shown = plain && !Hidden();
    if (!Draws() || maskGroups_ > 0 || (!fills && !strokes && !clips))
        return;

    std::size_t programBytes = std::size_t(cost_.fontBytes);
    const PageFont& font = fonts_->For(*gfxFont, programBytes);
    cost_.fontBytes = std::int64_t(programBytes);
    if (!Spend(0, 0, 0, 0))
        return;
    const unsigned glyph = font.GlyphOf(code);
    const Matrix userToUnits = UserToUnits(state);

    const bool filledOutline = fills && (font.GetWay() == PageFont::Way::Outlines || blended);
    if (fills && font.GetWay() == PageFont::Way::Text && !blended) {
        GfxRGB rgb;
        state->getFillRGB(&rgb);
        double startX = 0, startY = 0, nextX = 0, nextY = 0;
        userToUnits.Apply(emToUser.e, emToUser.f, startX, startY);
        userToUnits.Apply(emToUser.e + dx, emToUser.f + dy, nextX, nextY);
        Matrix emToUnits = emToUser.Then(userToUnits);
        emToUnits.e = emToUnits.f = 0;
        AddGlyph(font, glyph, emToUnits, startX, startY, nextX, nextY, flat ? flatColour : ToColour(rgb),
                 gfxFont->getWMode() == 1);
    }
    const bool outlines = (shown && (filledOutline || strokes)) || clips;
    if (!outlines || font.GetWay() == PageFont::Way::Nothing)
        return;
    GfxPath path;
    if (!font.AppendOutline(glyph, emToUser, path) || path.getNumSubpaths() == 0)
        return;
    if (clips) {
        if (!textClip_)
            textClip_ = std::make_unique<GfxPath>();
        textClip_->append(&path);
    }
    if (!shown || (!filledOutline && !strokes))
        return;
    if (!SpendPath(path))
        return;
    FlushRun();
    if (filledOutline) {
        GfxRGB rgb;
        state->getFillRGB(&rgb);
        if (blended)
            BlendUserPath(state, path, false, ToColour(rgb), state->getFillOpacity());
        else
            FillUserPath(state, path, false, flat ? flatColour : ToColour(rgb));
    }
    if (strokes)
        StrokeUserPath(state, path);
}

void GdiOutputDev::AddGlyph(const PageFont& font, unsigned glyph, const Matrix& emToUnits, double x, double y,
                            double nextX, double nextY, COLORREF colour, bool vertical)
{
    const double determinant = emToUnits.Determinant();
    if (!(std::abs(determinant) > 0) || !std::isfinite(determinant))
        return;
    // The run's logical space: the em is kEm units, x along the baseline, y down.
    auto logical = [&](const GlyphRun& run, double unitX, double unitY) {
        const double relX = unitX - run.originX;
        const double relY = unitY - run.originY;
        const Matrix& m = run.emToUnits;
        const double u = (m.d * relX - m.c * relY) / m.Determinant();
        const double v = (-m.b * relX + m.a * relY) / m.Determinant();
        return Unit(u * kEm, -v * kEm);
    };
    bool joins = run_.font == &font && run_.colour == colour && run_.vertical == vertical
        && SameLinear(run_.emToUnits, emToUnits) && run_.glyphs.size() < kMaxRunGlyphs;
    POINT origin{};
    if (joins) {
        origin = logical(run_, x, y);
        // One baseline: horizontal text keeps its y, vertical text its x.
        joins = vertical ? origin.x == 0 : origin.y == 0;
    }
    if (!joins) {
        FlushRun();
        run_.font = &font;
        run_.colour = colour;
        run_.vertical = vertical;
        run_.emToUnits = emToUnits;
        run_.originX = x;
        run_.originY = y;
        origin = POINT{0, 0};
    }
    run_.glyphs.push_back(WCHAR(glyph));
    run_.origins.push_back(origin);
    run_.end = logical(run_, nextX, nextY);
}

void GdiOutputDev::FlushRun()
{
    if (run_.glyphs.empty() || !Draws()) {
        run_.glyphs.clear();
        run_.origins.clear();
        return;
    }
    const std::size_t count = run_.glyphs.size();
    std::vector<INT> advances;
    const bool pdy = run_.vertical;
    for (std::size_t i = 0; i < count; ++i) {
        const POINT next = i + 1 < count ? run_.origins[i + 1] : run_.end;
        advances.push_back(INT(next.x - run_.origins[i].x));
        // GDI's second advance rises against the run's y, which runs down the page: vertical text
        // steps down with negative ones.
        if (pdy)
            advances.push_back(INT(run_.origins[i].y - next.y));
    }
    SelectFont(run_.font->FaceName());
    SetTextColour(run_.colour);
    const Matrix& m = run_.emToUnits;
    const Matrix logicalToUnits{m.a / kEm, m.b / kEm, -m.c / kEm, -m.d / kEm, run_.originX, run_.originY};
    const XFORM world = ToXform(logicalToUnits);
    if (Invertible(world)) {
        Save();
        Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
        // A run GDI refuses (a font squashed past what it draws) is left out, the page drawn on.
        ExtTextOutW(dc_, run_.origins[0].x, run_.origins[0].y, ETO_GLYPH_INDEX | (pdy ? ETO_PDY : 0), nullptr,
                    run_.glyphs.data(), UINT(count), advances.data());
        Restore();
    }
    run_.glyphs.clear();
    run_.origins.clear();
}

bool GdiOutputDev::tilingPatternFill(GfxState*, Gfx*, Catalog*, GfxTilingPattern*, const double*, int x0, int y0,
                                     int x1, int y1, double, double)
{
    // Poppler looks at no limit while it draws the tiles, one operation each: a step of a millionth
    // would tile for minutes. Past a limit the fill is done, with nothing drawn; within them
    // poppler draws the tiles (false).
    const double tiles = std::max(0.0, double(x1) - double(x0)) * std::max(0.0, double(y1) - double(y0));
    const std::int64_t counted = tiles > double(limits_.operations) ? limits_.operations + 1 : std::int64_t(tiles);
    return !Spend(counted, 0, 0, 0);
}

std::size_t GdiOutputDev::ShadingBudget() const
{
    return std::size_t(std::max<std::int64_t>(0, limits_.operations - cost_.operations));
}

bool GdiOutputDev::FillShading(GfxState* state, bool within, const GradientPieces& pieces)
{
    // Past the limit the shading is done, with nothing drawn, and the page fails.
    if (!within) {
        Spend(limits_.operations + 1, 0, 0, 0);
        return true;
    }
    if (!Spend(std::max<std::int64_t>(1, std::int64_t(pieces.Count())), 0, 0, 0))
        return true;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    const bool noted = NoteMaskShading(state, pieces);
    if (!PaintsWithGdi(state, true, false, PageArea{x0, y0, x1, y1}, noted) || Hidden() || !Draws()
        || pieces.indices.empty())
        return true;
    FlushRun();
    const XFORM world = ToXform(pieces.frameToUser.Then(UserToUnits(state)));
    if (!Invertible(world))
        return true;
    Save();
    Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
    // A shading GDI refuses is left out, the page drawn on.
    GradientFill(dc_, pieces.vertices.data(), ULONG(pieces.vertices.size()), pieces.indices.data(),
                 ULONG(pieces.Count()), pieces.mode);
    Restore();
    return true;
}

bool GdiOutputDev::axialShadedFill(GfxState* state, GfxAxialShading* shading, double, double)
{
    // The range along the axis is worked out from the clip, with the shading's Extend.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getUserClipBBox(&x0, &y0, &x1, &y1);
    GradientPieces pieces;
    const bool within = AxialPieces(*shading, UserBox{x0, y0, x1, y1}, ShadingBudget(), pieces);
    return FillShading(state, within, pieces);
}

bool GdiOutputDev::radialShadedFill(GfxState* state, GfxRadialShading* shading, double, double)
{
    // How far the circles run is worked out from the clip, with the shading's Extend.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getUserClipBBox(&x0, &y0, &x1, &y1);
    GradientPieces pieces;
    const bool within = RadialPieces(*shading, UserBox{x0, y0, x1, y1}, Ctm(state), ShadingBudget(), pieces);
    return FillShading(state, within, pieces);
}

bool GdiOutputDev::functionShadedFill(GfxState* state, GfxFunctionShading* shading)
{
    GradientPieces pieces;
    const bool within = FunctionPieces(*shading, ShadingBudget(), pieces);
    return FillShading(state, within, pieces);
}

bool GdiOutputDev::gouraudTriangleShadedFill(GfxState* state, GfxGouraudTriangleShading* shading)
{
    GradientPieces pieces;
    const bool within = GouraudPieces(*shading, ShadingBudget(), pieces);
    return FillShading(state, within, pieces);
}

bool GdiOutputDev::patchMeshShadedFill(GfxState* state, GfxPatchMeshShading* shading)
{
    GradientPieces pieces;
    const bool within = PatchPieces(*shading, Ctm(state), ShadingBudget(), pieces);
    return FillShading(state, within, pieces);
}

bool GdiOutputDev::beginType3Char(GfxState*, double, double, double, double, CharCode, const Unicode*, int)
{
    // The glyph's procedure is drawn as it stands: its paths come through fill and stroke.
    // How its paths paint is looked at as each is painted.
    Spend(1, 0, 1, 0);
    if (Draws())
        FlushRun();
    return false;
}

void GdiOutputDev::endType3Char(GfxState*)
{}

Matrix GdiOutputDev::ImageToUnits(GfxState* state, int width, int height) const
{
    // A picture fills the unit square of user space, its first row at the top (y = 1).
    return Matrix{1.0 / width, 0, 0, -1.0 / height, 0, 1}.Then(UserToUnits(state));
}

void GdiOutputDev::DrawPixels(const std::vector<std::uint32_t>& pixels, int width, int height,
                              const Matrix& pixelsToUnits, bool alpha)
{
    FlushRun();
    const XFORM world = ToXform(pixelsToUnits);
    if (!Invertible(world))
        return;
    const BITMAPINFO info = TopDown32(width, height);
    Save();
    Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
    if (!alpha) {
        StretchDIBits(dc_, 0, 0, width, height, 0, 0, width, height, pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        if (!memoryDc_)
            memoryDc_ = CreateCompatibleDC(dc_);
        void* bits = nullptr;
        HBITMAP bitmap = memoryDc_ ? CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
        Check(bitmap != nullptr && bits != nullptr);
        if (bitmap && bits) {
            std::memcpy(bits, pixels.data(), pixels.size() * sizeof(std::uint32_t));
            HGDIOBJ previous = SelectObject(memoryDc_, bitmap);
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            AlphaBlend(dc_, 0, 0, width, height, memoryDc_, 0, 0, width, height, blend);
            SelectObject(memoryDc_, previous);
            DeleteObject(bitmap);
        }
    }
    Restore();
}

void GdiOutputDev::DrawJpeg(const std::vector<BYTE>& jpeg, int width, int height, const Matrix& pixelsToUnits)
{
    FlushRun();
    const XFORM world = ToXform(pixelsToUnits);
    if (!Invertible(world))
        return;
    // A JPEG's rows are top-down by definition: its height is given as it is.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biCompression = BI_JPEG;
    info.bmiHeader.biSizeImage = DWORD(jpeg.size());
    Save();
    Check(ModifyWorldTransform(dc_, &world, MWT_LEFTMULTIPLY));
    StretchDIBits(dc_, 0, 0, width, height, 0, 0, width, height, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    Restore();
}

void GdiOutputDev::drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                                 bool interpolate, bool inlineImg)
{
    if (width < 1 || height < 1 || !Spend(1, 0, 0, std::int64_t(width) * height))
        return;
    // A stencil painted with a pattern is a soft mask GDI has no call for.
    const PageArea box = BoxOf(state, Matrix{}, 0, 0, 1, 1, 1);
    const bool plain = PaintsWithGdi(state, true, false, box)
        && Plain(state, state->getFillColorSpace()->getMode() != csPattern, box);
    if (!Draws() || !plain || Hidden()) {
        // Skips the samples of a picture inside the content stream.
        OutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate, inlineImg);
        return;
    }
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    const std::uint32_t colour
        = std::uint32_t(colToByte(rgb.r)) << 16 | std::uint32_t(colToByte(rgb.g)) << 8 | colToByte(rgb.b);
    const std::vector<std::uint8_t> mask = ReadMask(str, width, height, nullptr, invert);
    std::vector<std::uint32_t> pixels(mask.size());
    for (std::size_t i = 0; i < mask.size(); ++i)
        pixels[i] = mask[i] ? Premultiplied(colour, mask[i]) : 0;
    SetSmoothing(interpolate);
    DrawPixels(pixels, width, height, ImageToUnits(state, width, height), true);
}

void GdiOutputDev::setSoftMaskFromImageMask(GfxState* state, Object* ref, Stream* str, int width, int height,
                                            bool invert, bool inlineImg, double* baseMatrix)
{
    // A stencil filled with a pattern: drawn only as a picture.
    // What the pattern paints through it, until the mask is unset, goes as an area.
    Spend(1, 0, 0, std::int64_t(std::max(width, 0)) * std::max(height, 0));
    Plain(state, false, BoxOf(state, Matrix{}, 0, 0, 1, 1, 1));
    ++stencilMasks_;
    if (inlineImg)
        OutputDev::drawImageMask(state, ref, str, width, height, invert, false, inlineImg);
    (void)baseMatrix;
}

void GdiOutputDev::unsetSoftMaskFromImageMask(GfxState*, double*)
{
    if (stencilMasks_ > 0)
        --stencilMasks_;
}

void GdiOutputDev::drawImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, const int* maskColors, bool inlineImg)
{
    if (width < 1 || height < 1 || !Spend(1, 0, 0, std::int64_t(width) * height))
        return;
    const bool plain
        = Plain(state, state->getBlendMode() == gfxBlendNormal && !softMask_, BoxOf(state, Matrix{}, 0, 0, 1, 1, 1));
    if (!Draws() || !plain || Hidden()) {
        OutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
        return;
    }
    // A constant alpha below 1 is the picture's own alpha times it.
    const unsigned opacity = unsigned(std::lround(std::clamp(state->getFillOpacity(), 0.0, 1.0) * 255));
    if (!inlineImg && !maskColors && opacity == 255) {
        if (const std::vector<BYTE> jpeg = KeptJpegBytes(str, width, height, colorMap); !jpeg.empty()) {
            SetSmoothing(interpolate);
            DrawJpeg(jpeg, width, height, ImageToUnits(state, width, height));
            return;
        }
    }
    std::vector<std::uint32_t> pixels = ReadPixels(str, width, height, colorMap, maskColors);
    const bool alpha = maskColors != nullptr || opacity < 255;
    if (alpha) {
        for (std::uint32_t& pixel : pixels)
            pixel = Premultiplied(pixel, (pixel >> 24) * opacity / 255);
    }
    SetSmoothing(interpolate);
    DrawPixels(pixels, width, height, ImageToUnits(state, width, height), alpha);
}

void GdiOutputDev::drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height,
                                   GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                                   int maskHeight, bool maskInvert, bool)
{
    DrawMaskedPixels(state, str, width, height, colorMap, maskStr, maskWidth, maskHeight, nullptr, maskInvert,
                     interpolate);
}

void GdiOutputDev::drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height,
                                       GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                                       int maskHeight, GfxImageColorMap* maskColorMap, bool)
{
    DrawMaskedPixels(state, str, width, height, colorMap, maskStr, maskWidth, maskHeight, maskColorMap, false,
                     interpolate);
}

void GdiOutputDev::DrawMaskedPixels(GfxState* state, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                                    Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* softMask,
                                    bool invert, bool interpolate)
{
    // Both grids are sampled onto the finer of the two.
    const int outWidth = std::max(width, maskWidth);
    const int outHeight = std::max(height, maskHeight);
    if (width < 1 || height < 1 || maskWidth < 1 || maskHeight < 1
        || !Spend(1, 0, 0,
                  std::int64_t(width) * height + std::int64_t(maskWidth) * maskHeight
                      + std::int64_t(outWidth) * outHeight))
        return;
    const bool plain
        = Plain(state, state->getBlendMode() == gfxBlendNormal && !softMask_, BoxOf(state, Matrix{}, 0, 0, 1, 1, 1));
    if (!Draws() || !plain || Hidden())
        return;
    const std::vector<std::uint32_t> colours = ReadPixels(str, width, height, colorMap, nullptr);
    const std::vector<std::uint8_t> mask = ReadMask(maskStr, maskWidth, maskHeight, softMask, invert);
    const unsigned opacity = unsigned(std::lround(std::clamp(state->getFillOpacity(), 0.0, 1.0) * 255));
    std::vector<std::uint32_t> pixels(std::size_t(outWidth) * outHeight);
    for (int y = 0; y < outHeight; ++y) {
        const std::size_t imageRow = std::size_t(std::int64_t(y) * height / outHeight) * width;
        const std::size_t maskRow = std::size_t(std::int64_t(y) * maskHeight / outHeight) * maskWidth;
        for (int x = 0; x < outWidth; ++x) {
            const std::uint32_t colour = colours[imageRow + std::size_t(std::int64_t(x) * width / outWidth)];
            const unsigned alpha = mask[maskRow + std::size_t(std::int64_t(x) * maskWidth / outWidth)] * opacity / 255;
            pixels[std::size_t(y) * outWidth + x] = Premultiplied(colour, alpha);
        }
    }
    SetSmoothing(interpolate);
    DrawPixels(pixels, outWidth, outHeight, ImageToUnits(state, outWidth, outHeight), true);
}

bool GdiOutputDev::checkTransparencyGroup(GfxState* state, bool knockout)
{
    // A group with full opacity, the normal blend mode, no knockout and no soft mask looks the same
    // drawn straight onto the page. Poppler asks here with the state the group is painted in, and
    // may still hand the group over (when its resources hold transparency), with that state reset:
    // the answer is kept for it.
    const bool changes = knockout || !PaintsPlainly(state, state->getFillOpacity())
        || !PaintsPlainly(state, state->getStrokeOpacity()) || softMask_;
    plainGroupChecked_ = !changes;
    return changes;
}

void GdiOutputDev::beginTransparencyGroup(GfxState*, const double*, GfxColorSpace* blendingColorSpace, bool,
                                          bool knockout, bool forSoftMask)
{
    // A soft mask's group only makes the mask; a group found plain is drawn as its content; any
    // other group changes what lies beneath it and goes as an area, its content drawn beneath only
    // as text.
    const GroupKind kind = forSoftMask ? GroupKind::Mask : plainGroupChecked_ ? GroupKind::Plain : GroupKind::Area;
    plainGroupChecked_ = false;
    // A group within the group of fills leaves it to pixels; the outermost group that goes as an
    // area may be one. How it is painted is told when poppler paints it.
    if (fillsGroup_ && kind != GroupKind::Plain)
        fillsGroup_->drawable = false;
    SettleGroup(nullptr);
    if (kind == GroupKind::Area && areaGroups_ == 0 && maskGroups_ == 0) {
        fillsGroup_.emplace();
        fillsGroup_->knockout = knockout;
    }
    groupKinds_.push_back(kind);
    // A mask is flat while its group paints only plain fills, and holds no group of its own.
    if (maskGroups_ > 0)
        maskFlat_ = false;
    if (kind == GroupKind::Mask && maskGroups_ == 0) {
        maskFlat_ = true;
        maskParts_.clear();
        maskSpace_.reset(blendingColorSpace ? blendingColorSpace->copy() : nullptr);
    }
    if (kind == GroupKind::Mask)
        ++maskGroups_;
    if (kind != GroupKind::Area)
        return;
    // The group's area is made of what its content paints, found as it is painted; the page needs
    // it once the group ends, unless the group is drawn as its fills.
    ++areaGroups_;
    groupAreas_.push_back(PageArea{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL});
}

void GdiOutputDev::endTransparencyGroup(GfxState* state)
{
    if (groupKinds_.empty())
        return;
    const GroupKind kind = groupKinds_.back();
    groupKinds_.pop_back();
    if (kind == GroupKind::Mask)
        --maskGroups_;
    if (kind != GroupKind::Area)
        return;
    --areaGroups_;
    const PageArea painted = groupAreas_.back();
    groupAreas_.pop_back();
    if (areaGroups_ == 0 && fillsGroup_) {
        // Poppler paints the group next, in the state it is painted in.
        fillsGroup_->painted = painted;
        endedGroup_ = std::exchange(fillsGroup_, std::nullopt);
        return;
    }
    if (painted.x1 > painted.x0 && painted.y1 > painted.y0) {
        cost_.needsPicture = true;
        AddArea(state, painted);
    }
}

void GdiOutputDev::paintTransparencyGroup(GfxState* state, const double*)
{
    SettleGroup(state);
}

void GdiOutputDev::endPage()
{
    SettleGroup(nullptr);
}

void GdiOutputDev::SettleGroup(GfxState* state)
{
    // A group of fills painted in the normal blend mode, without a soft mask, is drawn as its fills
    // under the opacity it is painted with; any other group (or one poppler never painted) is the
    // area it painted.
    if (!endedGroup_)
        return;
    FillsGroup group = *std::exchange(endedGroup_, std::nullopt);
    if (state && group.drawable && state->getBlendMode() == gfxBlendNormal && !softMask_ && !Hidden()) {
        group.opacity = state->getFillOpacity();
        DrawFillsGroup(group);
        return;
    }
    if (group.painted.x1 > group.painted.x0 && group.painted.y1 > group.painted.y0) {
        cost_.needsPicture = true;
        AddCutArea(group.painted);
    }
}

bool GdiOutputDev::NoteGroupFill(GfxState* state, const GfxPath& path, bool evenOdd, Painting painting)
{
    if (!fillsGroup_ || !fillsGroup_->drawable || areaGroups_ != 1 || maskGroups_ > 0 || stencilMasks_ > 0
        || hiddenFromDepth_ >= 0)
        return false;
    FillsGroup& group = *fillsGroup_;
    // Without knockout each fill lies over the ones before it, which a fill of its own opacity
    // would let show: only opaque ones are drawn so.
    const GfxColorSpace* space = state->getFillColorSpace();
    std::int64_t points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        points += path.getSubpath(i)->getNumPoints();
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    state->getClipBBox(&x0, &y0, &x1, &y1);
    const PageArea clip{x0, y0, x1, y1};
    const bool sameClip = group.fills.empty()
        || (clip.x0 == group.clip.x0 && clip.y0 == group.clip.y0 && clip.x1 == group.clip.x1
            && clip.y1 == group.clip.y1);
    // A fill is cut out of the ones before it by its even-odd area: it must be the area it fills.
    const bool cuttable
        = evenOdd || (path.getNumSubpaths() == 1 && BoxInside(DevicePolygon(path, Ctm(state))).has_value());
    if (!(painting == Painting::Opaque || (painting == Painting::Blended && group.knockout)) || !space
        || space->getMode() == csPattern || !clipIsBox_ || !sameClip || points > kMaxFlatFillPoints
        || group.fills.size() >= kMaxGroupFills || !cuttable) {
        group.drawable = false;
        return false;
    }
    GfxRGB rgb;
    state->getFillRGB(&rgb);
    group.clip = clip;
    group.fills.push_back(GroupFill{std::shared_ptr<const GfxPath>(path.copy()), Ctm(state), evenOdd, ToColour(rgb),
                                    painting == Painting::Opaque ? 1.0 : state->getFillOpacity(),
                                    Intersection(PathBox(state, path, false), clip)});
    return true;
}

void GdiOutputDev::DrawFillsGroup(const FillsGroup& group)
{
    // Each fill shows where no later fill lies: it is cut by the later ones over it, and blended
    // under its own opacity times the group's.
    std::int64_t cuts = 0, points = 0;
    for (std::size_t k = 0; k < group.fills.size(); ++k)
        for (std::size_t j = k + 1; j < group.fills.size(); ++j)
            if (Overlap(group.fills[k].box, group.fills[j].box)) {
                ++cuts;
                for (int i = 0; i < group.fills[j].path->getNumSubpaths(); ++i)
                    points += group.fills[j].path->getSubpath(i)->getNumPoints();
            }
    PageArea painted{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const GroupFill& fill : group.fills)
        painted = Union(painted, fill.box);
    if (!group.fills.empty())
        backdrop_.AddOther(painted);
    if (!Spend(std::int64_t(group.fills.size()) + cuts, points, 0, 0) || !Draws() || group.fills.empty())
        return;
    FlushRun();
    Save();
    GfxPath clip;
    AddBox(clip, group.clip);
    ClipPathWith(clip, pointsToUnits_, false);
    for (std::size_t k = 0; k < group.fills.size(); ++k) {
        const GroupFill& fill = group.fills[k];
        std::vector<const GroupFill*> later;
        for (std::size_t j = k + 1; j < group.fills.size(); ++j)
            if (Overlap(fill.box, group.fills[j].box))
                later.push_back(&group.fills[j]);
        BlendPathWith(*fill.path, fill.toDevice.Then(pointsToUnits_), fill.evenOdd, fill.colour,
                      fill.opacity * group.opacity, later);
    }
    Restore();
}

void GdiOutputDev::setSoftMask(GfxState*, const double*, bool alpha, Function* transferFunc, GfxColor* backdropColor)
{
    softMask_ = true;
    flatMask_.reset();
    // A mask made of plain fills has one value outside them and one in each: the luminosity of its
    // backdrop colour and of each fill's colour, or for an alpha mask none and full, each passed
    // through the transfer function.
    // A backdrop colour is read in the group's colour space; without one, only black is known.
    const bool knownBackdrop = alpha || !backdropColor || maskSpace_
        || std::all_of(backdropColor->c, backdropColor->c + gfxColorMaxComps, [](GfxColorComp c) { return c == 0; });
    if (maskFlat_ && knownBackdrop) {
        auto transfer = [transferFunc](double value) {
            if (!transferFunc)
                return value;
            double out[gfxColorMaxComps] = {};
            transferFunc->transform(&value, out);
            return std::clamp(out[0], 0.0, 1.0);
        };
        double outside = 0;
        if (!alpha && backdropColor && maskSpace_) {
            GfxRGB rgb;
            maskSpace_->getRGB(backdropColor, &rgb);
            outside = Luminosity(Rgb{colToDbl(rgb.r), colToDbl(rgb.g), colToDbl(rgb.b)});
        }
        auto mask = std::make_shared<FlatMask>();
        mask->outside = transfer(outside);
        for (MaskPart& part : maskParts_) {
            part.value = transfer(alpha ? 1.0 : Luminosity(part.fill.colour));
            if (part.shading)
                for (const TRIVERTEX& vertex : part.shading->vertices)
                    part.vertexValues.push_back(transfer(
                        alpha ? 1.0
                              : Luminosity(Rgb{vertex.Red / 65535.0, vertex.Green / 65535.0, vertex.Blue / 65535.0})));
            mask->parts.push_back(std::move(part));
        }
        mask->reach = MaskReach(*mask);
        flatMask_ = std::move(mask);
    }
    maskParts_.clear();
    maskFlat_ = false;
    // The page needs areas unless every paint under the mask goes as flat parts: the counting pass
    // finds which as they are painted.
    if (!flatMask_)
        cost_.needsPicture = true;
}

void GdiOutputDev::clearSoftMask(GfxState*)
{
    softMask_ = false;
    flatMask_.reset();
}

} // namespace pdf

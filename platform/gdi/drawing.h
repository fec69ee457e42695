// What a device context hands its device to draw: paths and clip regions in device units, and
// how a path is filled and stroked. A path keeps its points in device units from the moment they
// are added, as GDI does, so a transform changed afterwards does not move them.
#pragma once

#include "platform/gdi/transform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::gdi {

// Point types of a path, as GDI names them: a figure's start, a line's end, each of a Bezier
// curve's three points; PT_CLOSEFIGURE is or-ed into the last point of a figure that is closed.
constexpr BYTE PT_CLOSEFIGURE = 0x01;
constexpr BYTE PT_LINETO = 0x02;
constexpr BYTE PT_BEZIERTO = 0x04;
constexpr BYTE PT_MOVETO = 0x06;

// A path holds at most this many points: a call that would grow it further fails, so a hostile
// metafile cannot make one path cost gigabytes.
constexpr std::size_t kMaxPathPoints = std::size_t{1} << 22;

struct PathPoint {
    PointD point;
    BYTE type = PT_MOVETO;
};

// The extent of points in device units: left, top, right, bottom; empty when there are none.
struct ExtentD {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    bool empty = true;

    void Add(const PointD& point);
    void Add(const ExtentD& other);
    // Grows the extent by (x, y) on every side.
    void Grow(double x, double y);
};

ExtentD ExtentOf(std::span<const PathPoint> points);

// The drawn extent as metafile bounds count it: inclusive device pixels, {0, 0, -1, -1} when empty.
RECTL BoundsOf(const ExtentD& extent);

// One path of a clip region, with the fill rule that makes it an area; an excluded path's area
// (its even-odd area: a clip can be cut only by that) is what the region leaves out.
struct ClipPath {
    std::vector<PathPoint> points;
    bool evenOdd = true;
    bool excluded = false;
};

// A device context's clip: the area inside every one of its paths. Regions are shared and never
// changed once made, so a device can tell by identity whether the clip changed.
struct ClipRegion {
    std::vector<std::shared_ptr<const ClipPath>> paths;
};
using SharedClip = std::shared_ptr<const ClipRegion>;

// How a path is filled: a solid colour, by a fill rule.
struct FillSpec {
    COLORREF color = 0;
    bool evenOdd = true;
};

// How a path is stroked. A geometric pen's width and dashes are in logical units and go through
// `logicalToDevice` when the path is stroked; a cosmetic pen is one device pixel wide and its
// dashes are in device pixels.
struct StrokeSpec {
    COLORREF color = 0;
    bool cosmetic = true;
    double width = 1;
    DWORD endCap = PS_ENDCAP_ROUND;
    DWORD join = PS_JOIN_ROUND;
    double miterLimit = 10;
    std::span<const DWORD> dashes; // empty: solid
    Affine logicalToDevice;
};

// One path drawing: filled, stroked or both (the fill first), under a clip.
struct PathDrawing {
    std::span<const PathPoint> points;
    std::optional<FillSpec> fill;
    std::optional<StrokeSpec> stroke;
    SharedClip clip;
};

// One GradientFill: vertices in logical units with their colours, and its pieces as indices into
// them (three a triangle; two a rectangle, its upper-left and lower-right corners), which
// `logicalToDevice` maps onto the device, under a clip. The caller has checked every index.
struct GradientDrawing {
    std::span<const TRIVERTEX> vertices;
    std::span<const ULONG> indices;
    ULONG mode = GRADIENT_FILL_TRIANGLE;
    Affine logicalToDevice;
    SharedClip clip;
};

class PrivateFont;

// A quadrilateral in device units: a logical rectangle after the world transform.
using Quad = std::array<PointD, 4>;

// One glyph of a run: its index in the font, its origin on the baseline (device units), and the
// text it stands for (units of GlyphRun::text; none when its length is 0).
struct PlacedGlyph {
    unsigned index = 0;
    PointD origin;
    std::uint32_t textOffset = 0;
    std::uint32_t textLength = 0;
};

// The glyphs of one ExtTextOutW call as they land on the device.
struct GlyphRun {
    std::shared_ptr<const PrivateFont> font;
    // Maps one em of text space (x along the baseline, y down) to device units; no translation.
    Affine emToDevice;
    std::vector<PlacedGlyph> glyphs;
    std::u16string text;
    COLORREF color = 0;
    // Filled with the background colour before the glyphs: the text's cells (background mode
    // OPAQUE) and the call's rectangle (ETO_OPAQUE).
    std::vector<Quad> background;
    std::optional<Quad> clipRect; // ETO_CLIPPED: the glyphs are cut to the call's rectangle
    SharedClip clip;
};

// A pen's dash entries as a strictly alternating dash, gap, dash... pattern and the distance into
// it at which a line starts. GDI cycles the entries as given, an entry's index parity deciding
// whether it is a dash or a gap, so with an odd count the last dash runs on into the first.
// Empty lengths: the line is solid (a single entry, or no gap longer than zero).
struct DashPattern {
    std::vector<double> lengths;
    double offset = 0;
};
DashPattern NormaliseDashes(std::span<const DWORD> entries);

} // namespace platform::gdi

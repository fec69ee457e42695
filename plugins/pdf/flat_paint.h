// Flat paint: where a page blends (a blend mode other than normal, a soft mask made of plain fills
// and shadings) over what only opaque fills of one colour painted, every part of the result is
// itself one opaque colour, or a shading between such colours. The blend is then drawn as those
// parts, each a plain fill or a gradient clipped to the shapes that make it, and needs no pixels.
#pragma once

#include "plugins/pdf/matrix.h"
#include "plugins/pdf/page_regions.h"
#include "plugins/pdf/shading_mesh.h"

#include <GfxState.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pdf {

// Opaque fills the backdrop keeps for blends over them, and points of each; past these, fills
// count as any other paint.
constexpr std::size_t kMaxBackdropFills = 256;
constexpr std::int64_t kMaxFlatFillPoints = 4096;
// Boxes of other paint the backdrop keeps apart; past this they are kept as the one box around them.
constexpr std::size_t kMaxOtherPaint = 4096;
// Fills and shadings a soft mask may be made of and still be flat.
constexpr std::size_t kMaxMaskParts = 16;
// Fills a group drawn as its fills holds at most: each is cut by every later one it meets.
constexpr std::size_t kMaxGroupFills = 32;
// Parts a blend is drawn as at most (backdrop colours times mask values): past this it goes as pixels.
constexpr std::size_t kMaxFlatParts = 64;
// Boxes a fill's shape or the paper's part of a blend is looked at as at most.
constexpr std::size_t kMaxExactBoxes = 256;
// How far the paper's part of a blend reaches under the backdrop's boxes along their edges, in
// points: a pixel of a viewer at 72 dpi and more.
constexpr double kPaperOverlap = 1;

// A colour as three channels from 0 to 1.
struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

// The opaque colour a `source` colour painted in blend `mode` under `alpha` leaves over an opaque
// `backdrop`: the blend's result mixed with the backdrop by alpha.
Rgb Composite(GfxBlendMode mode, const Rgb& backdrop, const Rgb& source, double alpha);

struct FlatFill;

// The opaque colour `source` painted in `mode` under `alpha` leaves over a fill of the backdrop, or
// over the paper when there is none: where nothing was painted the page is clear, and the paint
// lands on the paper as it is, whatever its blend mode.
Rgb CompositeOver(const FlatFill* fill, GfxBlendMode mode, const Rgb& source, double alpha);

// The luminosity a soft mask takes from a colour.
double Luminosity(const Rgb& colour);

// One opaque fill of one colour: its path in user space and the map onto device space, the box of
// the clip it was painted through (a box: nothing else is kept), and what it painted.
struct FlatFill {
    std::shared_ptr<const GfxPath> path;
    Matrix toDevice;
    bool evenOdd = false;
    PageArea clip;
    // The path's device box cut to the clip.
    PageArea box;
    Rgb colour;
    // What the fill paints whole when each piece of its shape is a box along the axes, cut to the
    // clip (stripes, a grid of cells, a background); nothing for any other shape.
    std::vector<PageArea> exact;
};

// What lies beneath paint so far: the opaque fills of one colour, in the order painted, and boxes
// of everything else. White paper lies beneath them all.
class FlatBackdrop final {
public:
    // Notes a fill of one colour; past the fills kept, it counts as other paint.
    void AddFill(FlatFill fill);
    // Whether no more fills are kept.
    bool Full() const { return fills_.size() >= kMaxBackdropFills; }
    // Notes paint of any other kind over `box`.
    void AddOther(const PageArea& box);
    // The fills that lie beneath `box`, in the order painted, when no other paint does; nothing
    // when some does.
    std::optional<std::vector<const FlatFill*>> Beneath(const PageArea& box) const;

private:
    std::vector<FlatFill> fills_;
    std::vector<PageArea> others_;
};

// One part of a soft mask made of plain paint: an opaque fill of one mask value, or a shading whose
// colours give the mask's value at each of its vertices. A shading's part has no path: it reaches
// as far as its pieces within its clip's box.
struct MaskPart {
    FlatFill fill;
    double value = 0;
    std::shared_ptr<const GradientPieces> shading;
    // The shading's frame on the page, and the mask's value at each of its vertices.
    Matrix shadingToDevice;
    std::vector<double> vertexValues;
};

// A soft mask made only of plain paint: its value where none of it lies, and its parts in the
// order painted; and the boxes (device space) outside which it lets nothing through, when it has
// them (its value where none of it lies is none).
struct FlatMask {
    double outside = 0;
    std::vector<MaskPart> parts;
    std::optional<std::vector<PageArea>> reach;
};

// Boxes a mask's reach is kept as at most; past this the mask is taken to reach everywhere.
constexpr std::size_t kMaxReachBoxes = 64;

// The boxes of a mask's parts that let something through: a fill of some value whole, a shading
// by the pieces with a vertex of some value, less the boxes later fills of no value paint whole.
// Nothing when its value where none of it lies is not none.
std::optional<std::vector<PageArea>> MaskReach(const FlatMask& mask);

// The parts of `box` outside `hole`: at most four boxes.
std::vector<PageArea> Subtract(const PageArea& box, const PageArea& hole);
// Adds `box` to `path` as a closed rectangle.
void AddBox(GfxPath& path, const PageArea& box);
// Whether two boxes share some area.
bool Overlap(const PageArea& a, const PageArea& b);
// The part two boxes share (empty, with x1 <= x0 or y1 <= y0, when none).
PageArea Intersection(const PageArea& a, const PageArea& b);

} // namespace pdf

// The outline of a stroke as a shape to fill: a stroke under a constant opacity is drawn as its
// colour blended through a clip to that shape, since a GDI pen paints only opaque. Also the
// flattening of a path's curves it is made from.
#pragma once

#include "plugins/pdf/matrix.h"

#include <GfxState.h>

#include <memory>
#include <vector>

namespace pdf {

// A point of a flattened path, in user space.
struct PathPoint {
    double x = 0;
    double y = 0;
};

// The subpath as a polyline in user space, curves cut into pieces that stray at most half a unit of
// `userToDevice` from them, their number multiplied by `share` (at most 1); a closed subpath ends
// where it started.
std::vector<PathPoint> Flattened(const GfxSubpath& subpath, const Matrix& userToDevice, double share = 1);

// Whether StrokeOutline makes the outline of the state's stroke of `path`: a line of some width,
// solid or dashed in at most 10 000 dashes (counted along the path's control points, which no
// curve is longer than).
bool HasOutline(GfxState* state, const GfxPath& path);

// The shape a stroke of `path` paints with the state's line width, caps, joins, miter limit and
// dashes, in user space, to be filled with the nonzero rule. Curves are flattened to within a
// half a unit of `userToDevice` (a printer dot). Null when HasOutline is false or the
// transform flattens the page; an empty path when the stroke paints nothing.
std::unique_ptr<GfxPath> StrokeOutline(GfxState* state, const GfxPath& path, const Matrix& userToDevice);

} // namespace pdf

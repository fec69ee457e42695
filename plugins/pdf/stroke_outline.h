// The outline of a stroke as a shape to fill: a stroke under a constant opacity is drawn as its
// colour blended through a clip to that shape, since a GDI pen paints only opaque.
#pragma once

#include "plugins/pdf/matrix.h"

#include <GfxState.h>

#include <memory>

namespace pdf {

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

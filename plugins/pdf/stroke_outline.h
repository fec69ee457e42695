// The outline of a stroke as a shape to fill: a stroke under a constant opacity is drawn as its
// colour blended through a clip to that shape, since a GDI pen paints only opaque.
#pragma once

#include "plugins/pdf/matrix.h"

#include <GfxState.h>

#include <memory>

namespace pdf {

// The shape a solid stroke of `path` paints with the state's line width, caps, joins and miter
// limit, in user space, to be filled with the nonzero rule. Curves are flattened to within a
// quarter of a unit of `userToDevice` (a printer dot). Null for a line of no width, a dashed line
// or a transform that flattens the page; an empty path when the stroke paints nothing.
std::unique_ptr<GfxPath> StrokeOutline(GfxState* state, const GfxPath& path, const Matrix& userToDevice);

} // namespace pdf

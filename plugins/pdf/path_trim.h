// Cutting the start off every subpath of a path: where a dashed line's pattern begins inside a gap,
// the pen's dash style can only begin with a dash, so the path is made to begin where that dash does.
#pragma once

#include <GfxState.h>

#include <memory>

namespace pdf {

// A copy of `path` with the first `length` (measured along each subpath, in the path's own units)
// cut off each of its subpaths. A closed subpath becomes an open one that ends where it started;
// a subpath no longer than `length` is left out. A length of zero or less (or not finite) copies
// the path as it is.
std::unique_ptr<GfxPath> TrimSubpathStarts(const GfxPath& path, double length);

} // namespace pdf

// Covers: rectangles of a page that opaque paint hides whole. Where such paint is laid over what a
// page painted in a way GDI cannot (a block over its soft-masked shadow), the vectors show there
// what the page shows, and the picture of the region around it need not.
#pragma once

#include "plugins/pdf/page_regions.h"

#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace pdf {

// Points a shape may have to be looked at for a cover: a box with rounded corners has some
// dozens; past this a shape is left alone.
constexpr std::size_t kMaxCoverPoints = 1024;

// Whether the closed polygon (device points, in order) is exactly its bounding box: four corners
// joined by sides along the axes.
bool IsBox(std::span<const std::pair<double, double>> polygon);

// A rectangle inside the closed polygon (device points, in order) when the polygon is convex: its
// bounding box shrunk evenly until its corners lie inside, so a box with rounded corners gives the
// box less a little of each corner's round. Nothing for a polygon that is not convex, has no area,
// or has more than kMaxCoverPoints points.
std::optional<PageArea> BoxInside(std::span<const std::pair<double, double>> polygon);

// The pixels of the placed page each cover hides whole, less `margin` on every side, so that a
// region's picture meets the vectors inside the cover, where both show the same paint. None when
// the placement turns the page other than by quarter turns; covers with nothing left are left out.
std::vector<RegionRect> CoveredRectangles(const std::vector<PageArea>& covers, const PagePlacement& placement,
                                          int margin);

} // namespace pdf

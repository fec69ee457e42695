#include "plugins/pdf/page_placement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace pdf {
namespace {

constexpr double kPointsPerInch = 72.0;

// A length in device units, never less than one unit nor more than the bounds allow.
int WholeUnits(double units, int limit)
{
    return static_cast<int>(std::clamp(std::lround(units), 1L, static_cast<long>(limit)));
}

} // namespace

std::optional<PagePlacement> PagePlacement::Fit(double pageWidth, double pageHeight, int boundsWidth, int boundsHeight,
                                                int dpiX, int dpiY, const RenderOptions& options)
{
    if (!(pageWidth > 0) || !(pageHeight > 0) || !std::isfinite(pageWidth) || !std::isfinite(pageHeight)
        || boundsWidth <= 0 || boundsHeight <= 0 || dpiX <= 0 || dpiY <= 0)
        return std::nullopt;

    // Orientation of the bounds in inches: width / dpiX against height / dpiY, compared exactly.
    const std::int64_t boundsAcross = std::int64_t{boundsWidth} * dpiY;
    const std::int64_t boundsDown = std::int64_t{boundsHeight} * dpiX;
    PagePlacement placement;
    placement.dpiX = dpiX;
    placement.dpiY = dpiY;
    placement.turned = options.rotateToFit
        && ((pageWidth > pageHeight && boundsDown > boundsAcross)
            || (pageHeight > pageWidth && boundsAcross > boundsDown));
    const double shownWidth = placement.turned ? pageHeight : pageWidth;
    const double shownHeight = placement.turned ? pageWidth : pageHeight;

    if (options.stretchToBounds) {
        placement.width = boundsWidth;
        placement.height = boundsHeight;
    } else {
        const double scale = std::min((double(boundsWidth) / dpiX) / (shownWidth / kPointsPerInch),
                                      (double(boundsHeight) / dpiY) / (shownHeight / kPointsPerInch));
        // A page so small that the scale overflows has nothing to show.
        if (!std::isfinite(scale))
            return std::nullopt;
        placement.width = WholeUnits(shownWidth / kPointsPerInch * scale * dpiX, boundsWidth);
        placement.height = WholeUnits(shownHeight / kPointsPerInch * scale * dpiY, boundsHeight);
    }
    placement.x = (boundsWidth - placement.width) / 2;
    placement.y = (boundsHeight - placement.height) / 2;

    const double width = placement.width;
    const double height = placement.height;
    if (placement.turned) {
        // A quarter turn counter-clockwise: the page's top edge runs up the rectangle's left side,
        // so its top-left corner lands at the rectangle's bottom-left corner.
        placement.pageToPixels = Matrix{0, -height / pageWidth, width / pageHeight, 0, 0, height};
    } else {
        placement.pageToPixels = Matrix{width / pageWidth, 0, 0, height / pageHeight, 0, 0};
    }
    return placement;
}

} // namespace pdf

// Where a page lands in the bounds it is drawn into, and how its points map onto device pixels.
#pragma once

#include "plugins/pdf/matrix.h"

#include <optional>

namespace pdf {

// The four choices a caller makes about a page (the meaning is documented with the entry points).
struct RenderOptions {
    bool antialias = true;
    bool stretchToBounds = false;
    bool printMarkups = true;
    bool rotateToFit = true;
};

// A page's rectangle inside the bounds, in whole device units relative to the bounds' top-left
// corner, and the matrix from the page's points (origin at its top-left corner, y down) to pixels
// of that rectangle.
struct PagePlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // Whether the page was given a quarter turn counter-clockwise to match the bounds' orientation.
    bool turned = false;
    Matrix pageToPixels;
    // The device's dots per inch across and down, whatever the page's own scale.
    int dpiX = 0;
    int dpiY = 0;

    // Fits a page of pageWidth × pageHeight points into bounds of boundsWidth × boundsHeight device
    // units, dpiX × dpiY of them per inch. Without stretchToBounds the page keeps its proportions
    // (measured in inches, so non-square dots do not distort it), is made as large as the bounds
    // allow and is centred; with rotateToFit a page whose orientation disagrees with the bounds'
    // is turned first. A square page or square bounds are never turned. Nothing for sizes or
    // resolutions that are not positive.
    static std::optional<PagePlacement> Fit(double pageWidth, double pageHeight, int boundsWidth, int boundsHeight,
                                            int dpiX, int dpiY, const RenderOptions& options);
};

} // namespace pdf

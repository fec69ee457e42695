// Transparency by regions: where a page paints in a way GDI cannot (opacity, soft masks, blend
// modes, knockout groups), only that area goes as pixels, the page's own pixels there composited
// as the document shows them and painted over the vectors; everything else stays shapes and text.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/page_placement.h"

#include <cstddef>
#include <vector>

namespace pdf {

// A box of a page in poppler's device space at 72 per inch (points, y down from the top-left
// corner of the crop box, the page's /Rotate applied).
struct PageArea {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

// What the counting pass finds on a page that needs regions (poppler's device space): the areas GDI
// cannot show, and the covers laid over them (boxes that plain opaque paint hides whole, painted
// after the areas beneath them and under none after them).
struct PageAreas {
    std::vector<PageArea> areas;
    std::vector<PageArea> covers;
    // Small translucent text goes as its outlines, not as areas over its words: it holds no more
    // than a tenth of the page's words.
    bool translucentTextAsOutlines = false;
};

// The share of a page's filled glyphs its small translucent text may hold and still go as outlines:
// the page keeps nine words in ten.
constexpr double kMaxOutlinedWords = 0.1;

// A rectangle of the placed page's raster, in its pixels.
struct RegionRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Regions a page is painted over with at most; past this they are painted as the one rectangle
// around them all.
constexpr std::size_t kMaxRegions = 64;

// The rectangles of the placed page's raster the areas cover, each grown by `margin` pixels on
// every side and cut to the raster; rectangles that overlap or touch are joined into the rectangle
// around them (again and again, until none do), so that no two regions meet in a seam. Areas
// covering nothing are left out.
std::vector<RegionRect> RegionRectangles(const std::vector<PageArea>& areas, const PagePlacement& placement,
                                         int margin);

// The margin in pixels kept around an area of the placed page: the pixels a viewer showing the sheet
// at half size may stretch a picture's edge by, and one more, so that the picture's edge always
// falls where it shows the same as the vectors beneath it. Counted in the device's dots per inch,
// not the page's own scale.
int RegionMargin(const PagePlacement& placement);

// Bytes the regions' pictures take: 3 a pixel, each row padded to whole 32-bit words.
std::size_t RegionBytes(const std::vector<RegionRect>& regions);

// The pieces of a region that are painted: the region less the largest of `holes` inside it (pixels
// the vectors show as the page does), as the bands above and below the hole and the pieces beside
// it, each reaching `overlap` pixels into the pieces it meets. The region whole when no hole is in it.
std::vector<RegionRect> RegionPieces(const RegionRect& region, const std::vector<RegionRect>& holes, int overlap);

// Paints each region of the page (placed at `placement` in bounds whose corner is (left, top)) over
// what `dc` holds: the page's own pixels there, drawn whole by poppler's cairo backend at the
// placement's resolution, as opaque top-down 24-bit bitmaps with StretchDIBits, leaving out the
// largest of `holes` in it. False when the page cannot be drawn or a region is refused.
bool PaintRegions(const Page& page, const PagePlacement& placement, int left, int top, const RenderOptions& options,
                  const std::vector<RegionRect>& regions, const std::vector<RegionRect>& holes, HDC dc);

} // namespace pdf

// A page through the output device: the counting pass that decides how the page goes, and the page
// drawn as GDI calls.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_fonts.h"
#include "plugins/pdf/page_placement.h"

#include <set>
#include <string>
#include <vector>

namespace pdf {

// How a page can be drawn.
enum class PageWay {
    Vectors,   // as GDI calls
    Regions,   // as GDI calls, with areas GDI cannot show painted over them as pixels
    Picture,   // only as a picture: its areas would cost more than the whole page as pixels
    TooCostly, // not at all: it passes a limit
};

// The limit a page met, one per figure of PageLimits.
enum class PageLimit : BYTE { None, Operations, PathPoints, PagePathPoints, Glyphs, ImagePixels, FontBytes, ClipPaths };

// The limit a cost has passed; None while it is within them all.
PageLimit PassedLimit(const PageCost& cost, const PageLimits& limits);

// The limit in words, with its figure, as the log tells it ("500000 drawing operations").
std::string DescribeLimit(PageLimit limit, const PageLimits& limits);

// Walks the page with a counting device, which draws nothing and reads no font or picture, and notes
// in `texts` what the page's text says. For a page of regions, the areas GDI cannot show and the
// covers over them go to `areas` when it is given, and for every page how its translucent text is to
// be drawn; the limit a page too costly met goes to `passed`.
PageWay SurveyPage(const Page& page, const RenderOptions& options, PageTexts& texts, const PageLimits& limits = {},
                   PageAreas* areas = nullptr, PageLimit* passed = nullptr);

// Draws the page, placed in bounds whose corner is (left, top), as GDI calls on `dc`, on top of the
// transform dc has. Fonts are registered as the page needs them, their glyphs with the texts the
// survey of the page found; those whose face names are not in `knownFaces` are appended to
// `registered` in the order they were registered. What GDI cannot show is left out (the areas a
// caller paints over); small translucent text as outlines when the survey says so. True when the
// page was drawn within the limits and every call succeeded. A limit it met goes to `passed`.
bool DrawPageAsVectors(const Page& page, const PagePlacement& placement, int left, int top,
                       const RenderOptions& options, HDC dc, const PageTexts& texts,
                       const std::set<std::u16string>& knownFaces, std::vector<FontRegistration>& registered,
                       const PageLimits& limits = {}, PageLimit* passed = nullptr,
                       bool translucentTextAsOutlines = false);

} // namespace pdf

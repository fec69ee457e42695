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
    Picture,   // only as a picture: GDI cannot show what it draws
    TooCostly, // not at all: it passes a limit
};

// Walks the page with a counting device, which draws nothing and reads no font or picture, and notes
// in `texts` what the page's text says.
PageWay SurveyPage(const Page& page, const RenderOptions& options, PageTexts& texts, const PageLimits& limits = {});

// Draws the page, placed in bounds whose corner is (left, top), as GDI calls on `dc`, on top of the
// transform dc has. Fonts are registered as the page needs them, their glyphs with the texts the
// survey of the page found; those whose face names are not in
// `knownFaces` are appended to `registered` in the order they were registered. True when the page
// was drawn within the limits, all of it as GDI calls, and every call succeeded.
bool DrawPageAsVectors(const Page& page, const PagePlacement& placement, int left, int top,
                       const RenderOptions& options, HDC dc, const PageTexts& texts,
                       const std::set<std::u16string>& knownFaces, std::vector<FontRegistration>& registered,
                       const PageLimits& limits = {});

} // namespace pdf

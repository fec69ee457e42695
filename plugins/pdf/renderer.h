// The work of the two entry points.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_placement.h"

#include <string>

namespace pdf {

// One page to draw: the document's bytes, the page's 0-based index, the device's resolution and
// the bounds in device units.
struct PageRequest {
    const BYTE* data = nullptr;
    int size = 0;
    int page = 0;
    int dpiX = 0;
    int dpiY = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    RenderOptions options;
};

// GetPDFDocInfo: checks its arguments, opens (or finds) the document and writes its page count.
bool ReadDocumentInfo(const BYTE* data, int size, int* pageCount, const void* reserved);

// RenderPDFPageToDC: checks the request, opens (or finds) the document, places the page in the
// bounds and draws it onto `dc` in a child process: as GDI calls, or where GDI cannot show the page,
// as pictures of the rows that carry ink, drawn in bands of `bandBytes`. True when the page was
// drawn within `limits`. Calls are serialised: one document and one page at a time per process.
bool RenderPage(const PageRequest& request, HDC dc, std::size_t bandBytes = BandRenderer::kBandBytes,
                const PageLimits& limits = {});

// What there is to tell about the last page RenderPage drew: why it failed ("the page was not
// drawn: it passes the limit of 500000 drawing operations"), or that text of it went as outlines
// because the process holds all the fonts it takes; empty when there is nothing to tell.
std::string PageNote();

} // namespace pdf

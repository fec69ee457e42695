// The work of the two entry points, without the device context: the exported RenderPDFPageToDC
// only hands the bands made here to StretchDIBits.
#pragma once

#include "platform/win32.h"
#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/page_placement.h"

#include <functional>

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

// RenderPDFPageToDC without the device context: checks the request, opens (or finds) the
// document, places the page in the bounds, draws it in a child process and hands its bands, top
// to bottom, to `sink`. True when every band was drawn and taken. Calls are serialised: one
// document and one band at a time per process.
bool RenderPage(const PageRequest& request, const std::function<bool(const Band&)>& sink,
                std::size_t bandBytes = BandRenderer::kBandBytes);

} // namespace pdf

// The two entry points of the PDF renderer. Neither lets an exception out to its C caller: any
// failure, an exhausted memory included, is the answer false.
#include "plugins/pdf/pdf_renderer.h"
#include "plugins/pdf/renderer.h"

#include <algorithm>
#include <cstring>
#include <string>

#define PDF_EXPORT extern "C" __attribute__((visibility("default")))

// Writes the page count of a PDF held in memory; false for anything that is not a readable PDF.
PDF_EXPORT bool GetPDFDocInfo(const BYTE* data, int size, int* pageCount, void* reserved)
{
    try {
        return pdf::ReadDocumentInfo(data, size, pageCount, reserved);
    } catch (...) {
        return false;
    }
}

// Draws one page of a PDF held in memory into the bounds of a device context.
PDF_EXPORT bool RenderPDFPageToDC(const BYTE* data, int size, int page, HDC dc, int dpiX, int dpiY, int left, int top,
                                  int width, int height, bool antialias, bool stretchToBounds, bool printMarkups,
                                  bool rotateToFit)
{
    pdf::PageRequest request;
    request.data = data;
    request.size = size;
    request.page = page;
    request.dpiX = dpiX;
    request.dpiY = dpiY;
    request.left = left;
    request.top = top;
    request.width = width;
    request.height = height;
    request.options = {antialias, stretchToBounds, printMarkups, rotateToFit};
    try {
        return pdf::RenderPage(request, dc);
    } catch (...) {
        return false;
    }
}

// Copies what there is to tell about the last page drawn in this process, as text ended by a zero
// (cut to fit `size`); its whole length, 0 when there is nothing to tell.
PDF_EXPORT int GetPDFPageNote(char* text, int size)
{
    if (!text || size <= 0)
        return 0;
    try {
        const std::string note = pdf::PageNote();
        const std::size_t copied = std::min(note.size(), std::size_t(size) - 1);
        std::memcpy(text, note.data(), copied);
        text[copied] = '\0';
        return int(note.size());
    } catch (...) {
        text[0] = '\0';
        return 0;
    }
}

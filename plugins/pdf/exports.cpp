// The two entry points of the PDF renderer. Neither lets an exception out to its C caller: any
// failure, an exhausted memory included, is the answer false.
#include "plugins/pdf/pdf_renderer.h"
#include "plugins/pdf/renderer.h"

#define PDF_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The header of a top-down 32-bit bitmap of one band: BI_RGB pixels blue, green, red, reserved.
BITMAPINFO BandBitmap(const pdf::Band& band, int dpiX, int dpiY)
{
    constexpr double kInchesPerMetre = 1000.0 / 25.4;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = band.width;
    info.bmiHeader.biHeight = -band.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(band.width) * static_cast<DWORD>(band.height) * 4;
    info.bmiHeader.biXPelsPerMeter = static_cast<LONG>(dpiX * kInchesPerMetre + 0.5);
    info.bmiHeader.biYPelsPerMeter = static_cast<LONG>(dpiY * kInchesPerMetre + 0.5);
    return info;
}

} // namespace

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
    if (!dc)
        return false;
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
        return pdf::RenderPage(request, [&](const pdf::Band& band) {
            const BITMAPINFO info = BandBitmap(band, dpiX, dpiY);
            return StretchDIBits(dc, band.left, band.top, band.width, band.height, 0, 0, band.width, band.height,
                                 band.pixels, &info, DIB_RGB_COLORS, SRCCOPY)
                != 0;
        });
    } catch (...) {
        return false;
    }
}

// The two entry points of the PDF renderer. Neither lets an exception out to its C caller: any
// failure, an exhausted memory included, is the answer false.
#include "plugins/pdf/pdf_renderer.h"
#include "plugins/pdf/renderer.h"

#include <cstring>
#include <vector>

#define PDF_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A run of rows of plain white paper at least this long is painted as one white pixel stretched
// over it: the page looks the same, and a metafile or a printer receives bytes only for the rows
// that carry something. Shorter runs travel with the rows around them, so that a page of text is
// not cut into a piece per line.
constexpr int kMinWhiteRows = 32;

// The header of a top-down 32-bit BI_RGB bitmap: pixels blue, green, red, reserved.
BITMAPINFO TopDownBitmap(int width, int height, int dpiX, int dpiY)
{
    constexpr double kInchesPerMetre = 1000.0 / 25.4;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
    info.bmiHeader.biXPelsPerMeter = static_cast<LONG>(dpiX * kInchesPerMetre + 0.5);
    info.bmiHeader.biYPelsPerMeter = static_cast<LONG>(dpiY * kInchesPerMetre + 0.5);
    return info;
}

// Paints rows [first, last) of a band: white paper as one stretched white pixel, anything else as
// the band's own rows.
bool PaintRows(HDC dc, const pdf::Band& band, int first, int last, bool white, int dpiX, int dpiY)
{
    static constexpr DWORD kWhitePixel = 0xFFFFFFFFu;
    const int rows = last - first;
    const BITMAPINFO info = TopDownBitmap(white ? 1 : band.width, white ? 1 : rows, dpiX, dpiY);
    const void* bits = white ? static_cast<const void*>(&kWhitePixel)
                             : band.pixels + static_cast<std::size_t>(first) * band.width * 4;
    return StretchDIBits(dc, band.left, band.top + first, band.width, rows, 0, 0, white ? 1 : band.width,
                         white ? 1 : rows, bits, &info, DIB_RGB_COLORS, SRCCOPY)
        != 0;
}

// Paints one band, its long runs of white rows as white pixels stretched over them.
bool PaintBand(HDC dc, const pdf::Band& band, int dpiX, int dpiY)
{
    const std::size_t rowBytes = static_cast<std::size_t>(band.width) * 4;
    const std::vector<BYTE> whiteRow(rowBytes, 0xFF);
    auto isWhite = [&](int row) {
        return std::memcmp(band.pixels + static_cast<std::size_t>(row) * rowBytes, whiteRow.data(), rowBytes) == 0;
    };
    // Rows from `start` not yet painted; a run of white rows is painted once it is long enough
    // and ends, the rows before it as the band's own.
    int start = 0;
    int row = 0;
    while (row < band.height) {
        if (!isWhite(row)) {
            ++row;
            continue;
        }
        int end = row + 1;
        while (end < band.height && isWhite(end))
            ++end;
        if (end - row >= kMinWhiteRows) {
            if (row > start && !PaintRows(dc, band, start, row, false, dpiX, dpiY))
                return false;
            if (!PaintRows(dc, band, row, end, true, dpiX, dpiY))
                return false;
            start = end;
        }
        row = end;
    }
    return start == band.height || PaintRows(dc, band, start, band.height, false, dpiX, dpiY);
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
        return pdf::RenderPage(request, [&](const pdf::Band& band) { return PaintBand(dc, band, dpiX, dpiY); });
    } catch (...) {
        return false;
    }
}

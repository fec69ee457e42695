// A stand-in for the PDF renderer, built in variants by the tests of the page loop. It reports
// STAND_IN_PAGE_COUNT pages for any bytes, draws a one-inch black square an inch in from the
// corner of every page it is asked for, and notes each call in renderer-calls.txt beside itself.
// STAND_IN_REFUSED_PAGE names a page it refuses; STAND_IN_LOSES_DATA_FOLDER makes the machine's
// folders unnameable once page 0 is drawn, so that no later page gets a temporary file.
#include "plugins/pdf/pdf_renderer.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef STAND_IN_PAGE_COUNT
#error "a stand-in renderer needs STAND_IN_PAGE_COUNT"
#endif
#ifndef STAND_IN_REFUSED_PAGE
#define STAND_IN_REFUSED_PAGE -1
#endif

namespace {

void Note(const std::string& line)
{
    Dl_info module{};
    if (dladdr(reinterpret_cast<void*>(&Note), &module) == 0 || module.dli_fname == nullptr)
        return;
    const std::string path = module.dli_fname;
    FILE* calls = std::fopen((path.substr(0, path.rfind('/') + 1) + "renderer-calls.txt").c_str(), "a");
    if (calls == nullptr)
        return;
    std::fputs((line + "\n").c_str(), calls);
    std::fclose(calls);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) bool GetPDFDocInfo(const BYTE* data, int size, int* pageCount, void* reserved)
{
    if (data == nullptr || size <= 0 || pageCount == nullptr || reserved != nullptr)
        return false;
    *pageCount = STAND_IN_PAGE_COUNT;
    return true;
}

__attribute__((visibility("default"))) bool RenderPDFPageToDC(const BYTE*, int, int page, HDC dc, int dpiX, int dpiY,
                                                              int left, int top, int width, int height, bool antialias,
                                                              bool stretchToBounds, bool printMarkups, bool rotateToFit)
{
    char line[200];
    std::snprintf(line, sizeof line, "page %d, %d x %d dpi, bounds %d %d %d %d, options %d %d %d %d", page, dpiX, dpiY,
                  left, top, width, height, antialias, stretchToBounds, printMarkups, rotateToFit);
    Note(line);
    if (page == STAND_IN_REFUSED_PAGE)
        return false;

    const DWORD black = 0;
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{40, 1, 1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const int drawn
        = StretchDIBits(dc, left + dpiX, top + dpiY, dpiX, dpiY, 0, 0, 1, 1, &black, &info, DIB_RGB_COLORS, SRCCOPY);
#ifdef STAND_IN_LOSES_DATA_FOLDER
    if (page == 0)
        setenv("QUILLON_ROOT", ("/tmp/" + std::string(300, 'x')).c_str(), 1);
#endif
    return drawn > 0;
}

} // extern "C"

// A stand-in for the PDF renderer, built in variants by the tests of the page loop. It reports
// STAND_IN_PAGE_COUNT pages for any bytes, draws a one-inch black square an inch in from the
// corner of every page it is asked for, and notes each call in renderer-calls.txt beside itself,
// with the permission bits of the page files in the data folder while the page is drawn.
// STAND_IN_REFUSED_PAGE names a page it refuses; STAND_IN_LOSES_DATA_FOLDER makes the machine's
// folders unnameable once page 0 is drawn, so that no later page gets a temporary file;
// STAND_IN_CHANGES_DOCUMENT changes the job's document once page 0 is drawn.
#include "plugins/pdf/pdf_renderer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
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

// The permission bits of the page files in the data folder, in octal, each kind once: the page
// being drawn has its file there, and nobody but its owner may read it.
std::string PageFileModes()
{
    const char* root = std::getenv("QUILLON_ROOT");
    std::set<std::string> modes;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(root ? root : "") + "/var/lib/Marlowin", error)) {
        if (entry.path().filename().string().rfind("ZVPrintFile", 0) != 0)
            continue;
        struct stat status {};
        char octal[8];
        if (::lstat(entry.path().c_str(), &status) == 0) {
            std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(status.st_mode & 07777));
            modes.insert(octal);
        }
    }
    std::string text;
    for (const std::string& mode : modes)
        text += " " + mode;
    return text.empty() ? " none" : text;
}

// Changes the job's document, three.pdf in the machine root, the way the file change-document
// beside it says, each time into other bytes: "replaced" puts another file of the same size and
// time in its place, "rewritten" writes into it at the same size, "restored" does so and puts its
// times back, as a careful writer would, "grown" adds a byte and puts its time back.
[[maybe_unused]] void ChangeDocument()
{
    const char* root = std::getenv("QUILLON_ROOT");
    const std::string document = std::string(root ? root : "") + "/three.pdf";
    std::string change;
    std::ifstream(std::string(root ? root : "") + "/change-document") >> change;
    struct stat before {};
    if (::stat(document.c_str(), &before) != 0)
        return;
    const timespec times[2] = {before.st_atim, before.st_mtim};
    const std::string other(static_cast<std::size_t>(before.st_size), '%');
    if (change == "replaced") {
        std::ofstream(document + ".new", std::ios::binary) << other;
        ::utimensat(AT_FDCWD, (document + ".new").c_str(), times, 0);
        std::rename((document + ".new").c_str(), document.c_str());
    } else if (change == "rewritten") {
        std::ofstream(document, std::ios::binary | std::ios::in | std::ios::out) << other;
    } else if (change == "restored") {
        std::ofstream(document, std::ios::binary | std::ios::in | std::ios::out) << other;
        ::utimensat(AT_FDCWD, document.c_str(), times, 0);
    } else if (change == "grown") {
        std::ofstream(document, std::ios::binary | std::ios::app) << '%';
        ::utimensat(AT_FDCWD, document.c_str(), times, 0);
    }
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
    Note(line + std::string(", page files") + PageFileModes());
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
#ifdef STAND_IN_CHANGES_DOCUMENT
    if (page == 0)
        ChangeDocument();
#endif
    return drawn > 0;
}

} // extern "C"

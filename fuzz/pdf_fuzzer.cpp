// A PDF job's document: the input is the PDF's bytes, handed to the renderer plug-in the tool loads
// (pdf.dll) through its two entry points: GetPDFDocInfo, then RenderPDFPageToDC of the first page
// into a metafile's recording context, as the tool records a page.
//
// RenderPDFPageToDC draws in a forked child process, whose coverage and faults never reach the
// fuzzer: a child that crashes only makes the call answer false. So each page is also drawn here,
// in this process, by the very code the child runs: the counting pass, then the output device
// drawing GDI calls into a metafile, or for a page that goes as a picture its bands and their cuts.
// A fault in the drawing is a fault of this program that the fuzzer sees and keeps.
#include "fuzz/fuzz_support.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"
#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/page_covers.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/page_placement.h"
#include "plugins/pdf/pdf_renderer.h"
#include "plugins/pdf/picture_cuts.h"

#include <cstdlib>
#include <span>
#include <vector>

namespace {

// A small sheet keeps every input quick: the page at 36 dpi into 3 × 4 inches.
constexpr int kDpi = 36;
constexpr int kBoundsWidth = 3 * kDpi;
constexpr int kBoundsHeight = 4 * kDpi;

GetPDFDocInfoProc g_getDocInfo = nullptr;
RenderPDFPageToDCProc g_renderPage = nullptr;

// The drawing of the child process, done here.
void DrawInProcess(std::span<const BYTE> bytes)
{
    const std::shared_ptr<pdf::Document> document = pdf::Document::Open(bytes, pdf::Document::Storage::Borrow);
    if (!document)
        return;
    const std::unique_ptr<pdf::Page> page = document->LoadPage(0);
    if (!page)
        return;
    const pdf::RenderOptions options;
    const std::optional<pdf::PagePlacement> placement
        = pdf::PagePlacement::Fit(page->Width(), page->Height(), kBoundsWidth, kBoundsHeight, kDpi, kDpi, options);
    if (!placement)
        return;
    pdf::PageTexts texts;
    pdf::PageAreas areas;
    switch (pdf::SurveyPage(*page, options, texts, {}, &areas)) {
    case pdf::PageWay::Vectors:
    case pdf::PageWay::Regions: {
        HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
        if (!recording)
            std::abort();
        SetGraphicsMode(recording, GM_ADVANCED);
        const std::set<std::u16string> known;
        std::vector<pdf::FontRegistration> registered;
        if (pdf::DrawPageAsVectors(*page, *placement, 0, 0, options, recording, texts, known, registered)) {
            const int margin = pdf::RegionMargin(*placement);
            const std::vector<pdf::RegionRect> regions = pdf::RegionRectangles(areas.areas, *placement, margin);
            if (pdf::RegionBytes(regions) <= pdf::PageLimits{}.metafileBytes / 2)
                pdf::PaintRegions(*page, *placement, 0, 0, options, regions,
                                  pdf::CoveredRectangles(areas.covers, *placement, margin), recording);
        }
        DeleteEnhMetaFile(CloseEnhMetaFile(recording));
        break;
    }
    case pdf::PageWay::Picture: {
        const std::unique_ptr<pdf::BandRenderer> renderer = pdf::BandRenderer::Create(*page, *placement, options);
        if (!renderer || !renderer->Record())
            return;
        std::vector<BYTE> buffer(renderer->BufferBytes());
        pdf::PictureCutter cutter(renderer->Width(), renderer->Height(), renderer->BandRows(), kDpi, kDpi);
        for (int first = 0; first >= 0 && first < renderer->Height();) {
            if (!renderer->DrawRows(first, buffer))
                return;
            const int rows = std::min(renderer->BandRows(), renderer->Height() - first);
            first = cutter.Take(first, rows, buffer.data(), [](const pdf::PicturePiece&) { return true; });
        }
        break;
    }
    case pdf::PageWay::TooCostly:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    HMODULE renderer = LoadLibraryW(u"pdf.dll");
    if (!renderer)
        std::abort();
    g_getDocInfo = reinterpret_cast<GetPDFDocInfoProc>(GetProcAddress(renderer, "GetPDFDocInfo"));
    g_renderPage = reinterpret_cast<RenderPDFPageToDCProc>(GetProcAddress(renderer, "RenderPDFPageToDC"));
    if (!g_getDocInfo || !g_renderPage)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int pages = 0;
    if (size > INT32_MAX || !g_getDocInfo(data, static_cast<int>(size), &pages, nullptr))
        return 0;
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    if (!recording)
        std::abort();
    SetGraphicsMode(recording, GM_ADVANCED);
    g_renderPage(data, static_cast<int>(size), 0, recording, kDpi, kDpi, 0, 0, kBoundsWidth, kBoundsHeight, true, false,
                 true, true);
    DeleteEnhMetaFile(CloseEnhMetaFile(recording));
    DrawInProcess({data, size});
    return 0;
}

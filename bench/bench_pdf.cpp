// quillon-bench-pdf: processor seconds per page the PDF renderer's core takes for a multi-page
// text document, a page of shapes under a transparency group (drawn as a picture) and a page
// holding a large picture, at 300 and 600 dpi: through its entry (a drawing child per page, the
// counting pass, the page recorded as a metafile in the child and played into the caller's
// metafile here) beside the same page drawn as GDI calls in this process (the child's cost is the
// difference). Also the metafile's bytes per page, and the largest resident size of a drawing child
// beside one page raster.
//
// Usage: quillon-bench-pdf [TEXT_PAGES]   (default 12)
#include "bench/bench_documents.h"
#include "platform/gdi/gdi.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/page_covers.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/renderer.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double CpuNow(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Cpu()
{
    return CpuNow(RUSAGE_SELF) + CpuNow(RUSAGE_CHILDREN);
}

pdf::PageRequest Request(const std::string& document, int page, int dpi)
{
    pdf::PageRequest request;
    request.data = reinterpret_cast<const BYTE*>(document.data());
    request.size = static_cast<int>(document.size());
    request.page = page;
    request.dpiX = request.dpiY = dpi;
    request.width = 85 * dpi / 10;
    request.height = 11 * dpi;
    return request;
}

// A recording as the tool makes one: in screen pixels, scaled down from printer dots.
HDC Recording(int dpi)
{
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM scale{96.0f / float(dpi), 0, 0, 96.0f / float(dpi), 0, 0};
    ModifyWorldTransform(recording, &scale, MWT_LEFTMULTIPLY);
    return recording;
}

// Closes a recording; the bytes of its metafile.
double Close(HDC recording)
{
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    const double bytes = metafile ? GetEnhMetaFileBits(metafile, 0, nullptr) : 0;
    DeleteEnhMetaFile(metafile);
    return bytes;
}

struct Figures {
    double entry = 0;
    double inProcess = 0;
    double metafileBytes = 0;
    const char* way = "";
};

Figures Measure(const bench::Sample& sample, int dpi)
{
    Figures figures;
    // One page first keeps the parse out of the figures: the tool pays it once per job.
    HDC warm = Recording(dpi);
    pdf::RenderPage(Request(sample.document, 0, dpi), warm);
    Close(warm);

    double start = Cpu();
    for (int page = 0; page < sample.pages; ++page) {
        HDC recording = Recording(dpi);
        if (!pdf::RenderPage(Request(sample.document, page, dpi), recording)) {
            std::fprintf(stderr, "%s page %d failed\n", sample.name.c_str(), page + 1);
            std::exit(1);
        }
        figures.metafileBytes += Close(recording);
    }
    figures.entry = (Cpu() - start) / sample.pages;
    figures.metafileBytes /= sample.pages;

    const auto document
        = pdf::Document::Open({reinterpret_cast<const BYTE*>(sample.document.data()), sample.document.size()},
                              pdf::Document::Storage::Borrow);
    start = Cpu();
    for (int page = 0; page < sample.pages; ++page) {
        const pdf::PageRequest request = Request(sample.document, page, dpi);
        const auto loaded = document->LoadPage(page);
        const auto placement = pdf::PagePlacement::Fit(loaded->Width(), loaded->Height(), request.width, request.height,
                                                       dpi, dpi, request.options);
        pdf::PageTexts texts;
        pdf::PageAreas areas;
        const pdf::PageWay way = pdf::SurveyPage(*loaded, request.options, texts, {}, &areas);
        figures.way = way == pdf::PageWay::Vectors ? "vectors" : way == pdf::PageWay::Regions ? "regions" : "picture";
        if (way != pdf::PageWay::Vectors && way != pdf::PageWay::Regions)
            continue;
        HDC recording = Recording(dpi);
        const std::set<std::u16string> known;
        std::vector<pdf::FontRegistration> registered;
        pdf::DrawPageAsVectors(*loaded, *placement, 0, 0, request.options, recording, texts, known, registered);
        const int margin = pdf::RegionMargin(*placement);
        pdf::PaintRegions(*loaded, *placement, 0, 0, request.options,
                          pdf::RegionRectangles(areas.areas, *placement, margin),
                          pdf::CoveredRectangles(areas.covers, *placement, margin), recording);
        Close(recording);
    }
    figures.inProcess = (Cpu() - start) / sample.pages;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const int textPages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    std::vector<bench::Sample> samples = bench::Samples(textPages);
    samples.insert(samples.begin() + 1, {"group", bench::GroupDocument(), 1});

    std::printf("%-8s %4s %6s %8s %14s %14s %14s\n", "document", "dpi", "pages", "way", "entry cpu s/pg", "in-process",
                "metafile KiB");
    for (const bench::Sample& sample : samples) {
        for (int dpi : {300, 600}) {
            const Figures figures = Measure(sample, dpi);
            std::printf("%-8s %4d %6d %8s %14.4f %14.4f %14.1f\n", sample.name.c_str(), dpi, sample.pages, figures.way,
                        figures.entry, figures.inProcess, figures.metafileBytes / 1024);
        }
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double raster = 8.5 * 600 * 11 * 600 * 4 / 1048576.0;
    std::printf("\nlargest resident size of a drawing child: %.1f MiB; one 600-dpi Letter page raster: %.1f MiB\n",
                children.ru_maxrss / 1024.0, raster);
    return 0;
}

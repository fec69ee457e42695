// quillon-bench-pdf: seconds per page the PDF renderer's core takes (page drawn in a child process,
// in bands, every band handed over) for a multi-page text document and for a page with a large
// picture, at 300 and 600 dpi, beside `pdftocairo -png -r DPI` on the same pages. Also the time
// of the same bands drawn in this process (the child process costs the difference) and the
// largest resident size of a drawing child beside the size of one page raster.
//
// Usage: quillon-bench-pdf [TEXT_PAGES]   (default 10)
#include "bench/bench_documents.h"
#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/renderer.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
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

// Every band is read once, as a device context reading the bitmap would.
bool Consume(const pdf::Band& band)
{
    static volatile std::uint32_t sink = 0;
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(band.pixels);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < std::size_t(band.width) * band.height; i += 64)
        sum += pixels[i];
    sink = sink + sum;
    return true;
}

// Seconds per page through the renderer's entry (child process included).
double CorePerPage(const std::string& document, int pages, int dpi)
{
    const auto start = Clock::now();
    for (int page = 0; page < pages; ++page) {
        if (!pdf::RenderPage(Request(document, page, dpi), Consume)) {
            std::fprintf(stderr, "page %d failed\n", page + 1);
            std::exit(1);
        }
    }
    return Seconds(start) / pages;
}

// Seconds per page for the same bands drawn in this process.
double InProcessPerPage(const std::string& document, int pages, int dpi)
{
    pdf::DocumentCache cache;
    const auto start = Clock::now();
    for (int page = 0; page < pages; ++page) {
        const pdf::PageRequest request = Request(document, page, dpi);
        const auto opened = cache.Open({request.data, std::size_t(request.size)});
        const auto loaded = opened->LoadPage(page);
        const auto placement = pdf::PagePlacement::Fit(loaded->Width(), loaded->Height(), request.width, request.height,
                                                       dpi, dpi, request.options);
        const auto renderer = pdf::BandRenderer::Create(*loaded, *placement, 0, 0, request.options);
        std::vector<BYTE> buffer(renderer->BufferBytes());
        renderer->Render(buffer, Consume);
    }
    return Seconds(start) / pages;
}

double PdftocairoPerPage(const std::filesystem::path& file, int pages, int dpi)
{
    const std::filesystem::path out = file.parent_path() / "pdftocairo";
    const std::string command = "pdftocairo -png -r " + std::to_string(dpi) + " -f 1 -l " + std::to_string(pages) + " '"
        + file.string() + "' '" + out.string() + "'";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return Seconds(start) / pages;
}

} // namespace

int main(int argc, char** argv)
{
    const int textPages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char folderName[] = "/tmp/quillon-bench-pdf-XXXXXX";
    if (!mkdtemp(folderName))
        return 1;
    const std::filesystem::path folder = folderName;

    const std::vector<bench::Sample> samples = bench::Samples(textPages);

    struct Row {
        const bench::Sample* sample;
        int dpi;
        double core;
        double inProcess;
        double reference;
    };
    std::vector<Row> rows;
    for (const bench::Sample& sample : samples) {
        for (int dpi : {300, 600}) {
            // One page first keeps the parse out of the figures: the tool pays it once per job.
            pdf::RenderPage(Request(sample.document, 0, dpi), Consume);
            const double core = CorePerPage(sample.document, sample.pages, dpi);
            rows.push_back({&sample, dpi, core, InProcessPerPage(sample.document, sample.pages, dpi), 0});
        }
    }
    // Taken before pdftocairo runs, so that only drawing children count.
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    for (Row& row : rows) {
        const std::filesystem::path file = folder / (std::string(row.sample->name) + ".pdf");
        std::ofstream(file, std::ios::binary) << row.sample->document;
        row.reference = PdftocairoPerPage(file, row.sample->pages, row.dpi);
    }

    std::printf("%-8s %4s %6s %14s %14s %14s %10s\n", "document", "dpi", "pages", "core s/page", "in-process",
                "pdftocairo", "core share");
    for (const Row& row : rows)
        std::printf("%-8s %4d %6d %14.3f %14.3f %14.3f %9.0f%%\n", row.sample->name, row.dpi, row.sample->pages,
                    row.core, row.inProcess, row.reference, 100 * row.core / row.reference);
    const double raster = 8.5 * 600 * 11 * 600 * 4 / 1048576.0;
    std::printf("\nband buffer: %.1f MiB; one 600-dpi Letter page raster: %.1f MiB\n",
                double(pdf::BandRenderer::kBandBytes) / 1048576.0, raster);
    std::printf("largest resident size of a drawing child: %.1f MiB\n", children.ru_maxrss / 1024.0);
    std::filesystem::remove_all(folder);
    return 0;
}

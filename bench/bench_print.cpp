// quillon-bench-print: seconds per page of PDF jobs through the whole tool (quillon-service asking
// the tool for the printer's default ticket, then starting it again for the job, and reading the
// reply) for a multi-page text document and for a page with a large picture, on virtual printers
// of 300 and 600 dpi, beside `pdftocairo -png -r DPI` on the same pages. Also the largest resident
// size among the tool's processes during each job beside the size of one page raster (width ×
// height × 4 bytes at the printer's resolution), and where a 600-dpi page's time goes: rendering,
// writing and reading the page metafile, and drawing it into the job's PDF with its compression.
//
// Usage: quillon-bench-print [TEXT_PAGES]   (default 10)
#include "bench/bench_documents.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"
#include "plugins/pdf/pdf_renderer.h"
#include "printing/emf.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor seconds of this process and of the children it has waited for.
double CpuNow()
{
    double seconds = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        seconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

double MiB(double bytes)
{
    return bytes / 1048576.0;
}

std::string PrinterName(int dpi)
{
    return "Bench " + std::to_string(dpi);
}

// A Letter printer of the given resolution in the root.
void InstallPrinter(const fs::path& root, int dpi)
{
    const fs::path folder = root / "etc/quillon/printers";
    fs::create_directories(folder);
    std::ofstream(folder / (PrinterName(dpi) + ".printer"))
        << "[printer]\nname = " << PrinterName(dpi) << "\nresolution = " << dpi
        << "\ndefault-paper = 1\ncolor = yes\n\n[paper 1]\nname = Letter\nsize = 215.9 x 279.4\nmargins = 4.23\n";
}

struct RunFigures {
    double wall = -1;
    double cpu = -1;
    double peakBytes = 0;
};

// Runs a program to its end with its output thrown away: its wall time, the processor time of the
// program and every child it waited for, and the largest resident size among them (each waited
// for by its parent, so the kernel hands the largest on). Processor time is the figure to compare
// on a machine shared with other work; wall time follows it on an idle one.
RunFigures Run(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    RunFigures figures;
    const auto start = Clock::now();
    // A forked child, not a spawned one: a child that shares this process's memory until it starts
    // the program would hand this process's own peak on as the program's.
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0)
        return figures;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return figures;
    figures.wall = Seconds(start);
    figures.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakBytes = usage.ru_maxrss * 1024.0;
    return figures;
}

// Where the processor time of one page goes, the tool's way, in this process: the renderer alone
// (its bands handed to the screen, which keeps nothing), the same page recorded into a metafile
// backed by a file (the difference is the metafile's writing), the metafile played onto the screen
// (its reading), and played onto a printer through to the finished job's PDF (the difference is
// the drawing into the PDF and its compression).
struct Stages {
    double render = -1;
    double write = -1;
    double read = -1;
    double pdf = -1;
};

Stages PageStages(const fs::path& folder, const std::string& document, int dpi)
{
    Stages stages;
    HMODULE library = LoadLibraryW(u"pdf.dll");
    const auto render = reinterpret_cast<RenderPDFPageToDCProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "RenderPDFPageToDC")));
    const std::string name = PrinterName(dpi);
    const std::u16string printer(name.begin(), name.end());
    HDC dc = CreateDCW(u"", printer.c_str(), nullptr, nullptr);
    HDC screen = GetDC(nullptr);
    if (!render || !dc || !screen)
        return stages;
    DOCINFOW info{20, u"stages", nullptr, nullptr, 0};
    StartDocW(dc, &info);
    SetGraphicsMode(dc, GM_ADVANCED);
    const float scale = static_cast<float>(dpi / 96.0);
    const XFORM toPrinter{scale,
                          0,
                          0,
                          scale,
                          -static_cast<float>(GetDeviceCaps(dc, PHYSICALOFFSETX)),
                          -static_cast<float>(GetDeviceCaps(dc, PHYSICALOFFSETY))};
    ModifyWorldTransform(dc, &toPrinter, MWT_LEFTMULTIPLY);

    const auto bytes = reinterpret_cast<const BYTE*>(document.data());
    const int size = static_cast<int>(document.size());
    const int width = GetDeviceCaps(dc, PHYSICALWIDTH);
    const int height = GetDeviceCaps(dc, PHYSICALHEIGHT);
    // A first page keeps the parse out of the figures: the tool pays it once per job.
    render(bytes, size, 0, screen, dpi, dpi, 0, 0, 1, 1, true, false, true, true);

    double start = CpuNow();
    render(bytes, size, 0, screen, dpi, dpi, 0, 0, width, height, true, false, true, true);
    stages.render = CpuNow() - start;

    aio::printing::Emf page;
    start = CpuNow();
    page.StartRecordingToFile((folder / "page.emf").u16string());
    SetGraphicsMode(page.GetRecordingDC(), GM_ADVANCED);
    const XFORM toScreen{1 / scale, 0, 0, 1 / scale, 0, 0};
    ModifyWorldTransform(page.GetRecordingDC(), &toScreen, MWT_LEFTMULTIPLY);
    page.MarkPageStart({}, {}, 1.0f);
    render(bytes, size, 0, page.GetRecordingDC(), dpi, dpi, 0, 0, width, height, true, false, true, true);
    page.MarkPageEnd();
    page.StopRecording();
    stages.write = CpuNow() - start - stages.render;

    start = CpuNow();
    page.PlayWithRepair(screen);
    stages.read = CpuNow() - start;

    start = CpuNow();
    page.PlayWithRepair(dc);
    EndDoc(dc);
    stages.pdf = CpuNow() - start - stages.read;
    ReleaseDC(nullptr, screen);
    DeleteDC(dc);
    FreeLibrary(library);
    return stages;
}

} // namespace

int main(int argc, char** argv)
{
    const int textPages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char folderName[] = "/tmp/quillon-bench-print-XXXXXX";
    if (!mkdtemp(folderName))
        return 1;
    const fs::path root = folderName;
    setenv("QUILLON_ROOT", root.c_str(), 1);
    const fs::path service = fs::canonical("/proc/self/exe").parent_path() / "quillon-service";
    for (int dpi : {300, 600})
        InstallPrinter(root, dpi);

    const std::vector<bench::Sample> samples = bench::Samples(textPages);

    std::printf("%-8s %4s %5s | %21s | %21s | %6s | %8s %8s %7s\n", "", "", "", "tool s/page", "pdftocairo s/page",
                "share", "peak", "page", "peak /");
    std::printf("%-8s %4s %5s | %10s %10s | %10s %10s | %6s | %8s %8s %7s\n", "document", "dpi", "pages", "cpu", "wall",
                "cpu", "wall", "(cpu)", "MiB", "MiB", "page");
    for (const bench::Sample& sample : samples) {
        const fs::path file = root / (std::string(sample.name) + ".pdf");
        std::ofstream(file, std::ios::binary) << sample.document;
        for (int dpi : {300, 600}) {
            const RunFigures job = Run({service.string(), "print", PrinterName(dpi), file.string(), "--quiet"});
            const RunFigures reference = Run({"pdftocairo", "-png", "-r", std::to_string(dpi), "-f", "1", "-l",
                                              std::to_string(sample.pages), file.string(), (root / "png").string()});
            if (job.cpu < 0 || reference.cpu < 0) {
                std::fprintf(stderr, "printing %s at %d dpi failed\n", sample.name, dpi);
                return 1;
            }
            const double raster = 8.5 * dpi * 11 * dpi * 4;
            const double pages = sample.pages;
            std::printf("%-8s %4d %5d | %10.3f %10.3f | %10.3f %10.3f | %5.0f%% | %8.1f %8.1f %7.2f\n", sample.name,
                        dpi, sample.pages, job.cpu / pages, job.wall / pages, reference.cpu / pages,
                        reference.wall / pages, 100 * job.cpu / reference.cpu, MiB(job.peakBytes), MiB(raster),
                        job.peakBytes / raster);
        }
    }

    std::printf("\nprocessor seconds of one 600-dpi page, in this process: %8s %8s %8s %8s\n", "render", "write",
                "read", "PDF");
    for (const bench::Sample& sample : samples) {
        const Stages stages = PageStages(root, sample.document, 600);
        std::printf("%-55s %8.3f %8.3f %8.3f %8.3f\n", sample.name, stages.render, stages.write, stages.read,
                    stages.pdf);
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}

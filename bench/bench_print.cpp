// quillon-bench-print: whole PDF jobs through the tool (quillon-service asking the tool for the
// printer's default ticket, then starting it again for the job, and reading the reply) for a
// multi-page text document, a page drawn as a picture (a transparency group), pages of CJK text
// (the font embedded, and a page in a font the document does not hold), a mesh-shaded surface plot
// (whose job is also set beside pdftocairo's output, both keeping the shading), a page with a large
// photograph and the manuals of Debian's documentation packages on this machine, on virtual Letter
// printers of 300 and 600 dpi, beside `pdftocairo -pdf` on the same file: processor seconds of the
// whole job and per page, the job PDF's size against the source's, and the largest resident size
// among the tool's processes beside one page raster (width × height × 4 bytes at the printer's
// resolution). Then small pages far past the renderer's limits (two million fills in 50 KB, and
// those of HostileDocuments), and where a 600-dpi page's time goes: rendering, writing and reading
// the page metafile, and drawing it into the job's PDF.
//
// Usage: quillon-bench-print [TEXT_PAGES]   (default 12)
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
#include <iterator>
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
    int exitCode = -1;
    std::string out;
};

// Runs a program to its end with its output thrown away: its wall time, the processor time of the
// program and every child it waited for, and the largest resident size among them (each waited
// for by its parent, so the kernel hands the largest on). Processor time is the figure to compare
// on a machine shared with other work; wall time follows it on an idle one.
RunFigures Run(std::vector<std::string> arguments, const fs::path& outFile = "/dev/null")
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
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0)
        return figures;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
        return figures;
    figures.exitCode = WEXITSTATUS(status);
    figures.wall = Seconds(start);
    figures.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakBytes = usage.ru_maxrss * 1024.0;
    if (outFile != "/dev/null") {
        std::ifstream in(outFile);
        figures.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return figures;
}

int PageCount(const fs::path& pdf, const fs::path& folder)
{
    const RunFigures info = Run({"pdfinfo", pdf.string()}, folder / "pdfinfo.txt");
    const std::size_t at = info.out.find("Pages:");
    return at == std::string::npos ? 0 : std::atoi(info.out.c_str() + at + 6);
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
    const int textPages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char folderName[] = "/tmp/quillon-bench-print-XXXXXX";
    if (!mkdtemp(folderName))
        return 1;
    const fs::path root = folderName;
    setenv("QUILLON_ROOT", root.c_str(), 1);
    const fs::path service = fs::canonical("/proc/self/exe").parent_path() / "quillon-service";
    for (int dpi : {300, 600})
        InstallPrinter(root, dpi);

    std::vector<bench::Sample> samples = bench::Samples(textPages);
    samples.insert(samples.begin() + 1, {"group", bench::GroupDocument(), 1});
    samples.insert(samples.begin() + 2, {"cjk", bench::CjkDocument(4), 4});
    samples.insert(samples.begin() + 3, {"cjk-substitute", bench::CjkSubstituteDocument(), 1});
    samples.insert(samples.begin() + 4, {"mesh-plot", bench::MeshPlotDocument(), 1});
    const std::size_t generated = samples.size();
    for (bench::Sample& manual : bench::RealDocuments())
        samples.push_back(std::move(manual));

    std::printf("%-22s %4s %5s | %9s %8s | %9s | %6s | %9s %9s %6s | %8s %8s %6s\n", "", "", "", "tool cpu", "",
                "pdftocairo", "", "", "", "", "peak", "page", "peak /");
    std::printf("%-22s %4s %5s | %9s %8s | %9s | %6s | %9s %9s %6s | %8s %8s %6s\n", "document", "dpi", "pages", "s",
                "s/page", "-pdf cpu s", "ratio", "job KiB", "src KiB", "ratio", "MiB", "MiB", "page");
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const bench::Sample& sample = samples[index];
        const fs::path file = root / (sample.name + ".pdf");
        std::ofstream(file, std::ios::binary) << sample.document;
        const int pages = sample.pages > 0 ? sample.pages : PageCount(file, root);
        const RunFigures reference = Run({"pdftocairo", "-pdf", file.string(), (root / "reference.pdf").string()});
        for (int dpi : {300, 600}) {
            if (index >= generated && dpi != 600)
                continue;
            const RunFigures job
                = Run({service.string(), "print", PrinterName(dpi), file.string(), "--quiet"}, root / "reply.txt");
            const std::string jobFile
                = job.out.substr(job.out.find('\n') + 1, job.out.rfind('\n') - job.out.find('\n') - 1);
            std::error_code error;
            const double jobBytes = double(fs::file_size(jobFile, error));
            if (job.exitCode != 0 || reference.cpu < 0 || error) {
                std::fprintf(stderr, "printing %s at %d dpi failed\n", sample.name.c_str(), dpi);
                return 1;
            }
            const double raster = 8.5 * dpi * 11 * dpi * 4;
            const double referenceBytes = double(fs::file_size(root / "reference.pdf", error));
            std::printf("%-22s %4d %5d | %9.3f %8.4f | %9.3f | %5.1fx | %9.0f %9.0f %5.2fx | %8.1f %8.1f %6.2f\n",
                        sample.name.c_str(), dpi, pages, job.cpu, job.cpu / pages, reference.cpu,
                        job.cpu / reference.cpu, jobBytes / 1024, double(sample.document.size()) / 1024,
                        jobBytes / double(sample.document.size()), MiB(job.peakBytes), MiB(raster),
                        job.peakBytes / raster);
            // The job of a shaded page against what pdftocairo makes of it, both keeping shadings.
            if (sample.name == "mesh-plot")
                std::printf("%-22s %4d %5s | job %.0f KiB against pdftocairo -pdf's %.0f KiB: %.2fx\n", "", dpi, "",
                            jobBytes / 1024, referenceBytes / 1024, jobBytes / referenceBytes);
            fs::remove(jobFile, error);
        }
    }

    const fs::path hostile = root / "hostile.pdf";
    const std::string hostileBytes = bench::ManyFillsDocument(2'000'000);
    std::ofstream(hostile, std::ios::binary) << hostileBytes;
    const RunFigures refused
        = Run({service.string(), "print", PrinterName(600), hostile.string(), "--quiet"}, root / "reply.txt");
    std::printf("\na page of two million fills in %.0f KiB, at 600 dpi: reply %s, %.2f s (%.2f s processor), "
                "largest tool process %.1f MiB\n",
                double(hostileBytes.size()) / 1024, refused.out.substr(0, refused.out.find('\n')).c_str(), refused.wall,
                refused.cpu, MiB(refused.peakBytes));
    for (const bench::Sample& sample : bench::HostileDocuments()) {
        std::ofstream(hostile, std::ios::binary | std::ios::trunc) << sample.document;
        const RunFigures figures
            = Run({service.string(), "print", PrinterName(600), hostile.string(), "--quiet"}, root / "reply.txt");
        std::printf("a page of %s in %zu bytes, at 600 dpi: reply %s, %.2f s (%.2f s processor), largest tool "
                    "process %.1f MiB\n",
                    sample.name.c_str(), sample.document.size(), figures.out.substr(0, figures.out.find('\n')).c_str(),
                    figures.wall, figures.cpu, MiB(figures.peakBytes));
    }

    std::printf("\nprocessor seconds of one 600-dpi page, in this process: %8s %8s %8s %8s\n", "render", "write",
                "read", "PDF");
    for (std::size_t index = 0; index < generated; ++index) {
        const Stages stages = PageStages(root, samples[index].document, 600);
        std::printf("%-55s %8.3f %8.3f %8.3f %8.3f\n", samples[index].name.c_str(), stages.render, stages.write,
                    stages.read, stages.pdf);
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}

// Benchmark: one Letter page at 600 dpi held as a 32-bit bitmap (5100 x 6600, 134 MB), taken the
// document path's way: recorded into a metafile file, loaded, and played with repair onto a
// printer device context through to the finished job PDF. Beside it, cairo alone writing the same
// bitmap into a PDF. Each run is a child process of its own, so its peak memory is its own.
//
// quillon-bench-emf-page [RUNS]   (default 3; the median time of each figure is printed)
#include "platform/gdi/gdi.h"
#include "printing/emf.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 5100;
constexpr int kHeight = 6600;
constexpr int kFigures = 5; // record, load, play, total, cairo alone

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A page that compresses like a photograph: smooth shading with fine noise over it.
std::vector<BYTE> PhotoLikePage()
{
    std::vector<BYTE> bits(static_cast<std::size_t>(kWidth) * kHeight * 4);
    std::uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = bits.data() + static_cast<std::size_t>(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int jitter = static_cast<int>(noise >> 28) - 8;
            row[x * 4 + 0]
                = static_cast<BYTE>(std::clamp(128 + static_cast<int>(100 * std::sin(x / 300.0)) + jitter, 0, 255));
            row[x * 4 + 1]
                = static_cast<BYTE>(std::clamp(128 + static_cast<int>(100 * std::cos(y / 400.0)) + jitter, 0, 255));
            row[x * 4 + 2] = static_cast<BYTE>(std::clamp((x + y) * 255 / (kWidth + kHeight) + jitter, 0, 255));
            row[x * 4 + 3] = 0;
        }
    }
    return bits;
}

BITMAPINFO PageInfo()
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The document path: record into a file, load it, play it onto the printer to the job's PDF.
// Writes the record, load, play and total times.
void ThroughMetafile(const fs::path& folder, double* figures)
{
    std::vector<BYTE> page = PhotoLikePage(); // the renderer's band, here one band for the page
    const BITMAPINFO info = PageInfo();
    const Clock::time_point start = Clock::now();
    const fs::path emfPath = folder / "page.emf";
    {
        const Clock::time_point recordStart = Clock::now();
        aio::printing::Emf emf;
        emf.StartRecordingToFile(emfPath.u16string());
        HDC dc = emf.GetRecordingDC();
        SetGraphicsMode(dc, GM_ADVANCED);
        const XFORM toScreen{96.0f / 600, 0, 0, 96.0f / 600, 0, 0};
        ModifyWorldTransform(dc, &toScreen, MWT_LEFTMULTIPLY);
        emf.MarkPageStart({}, {}, 1.0f);
        StretchDIBits(dc, 0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, page.data(), &info, DIB_RGB_COLORS, SRCCOPY);
        emf.MarkPageEnd();
        emf.StopRecording();
        figures[0] = Seconds(recordStart);
    }
    std::vector<BYTE>().swap(page); // the renderer's memory is gone before the page is played

    Clock::time_point phase = Clock::now();
    aio::printing::Emf loaded;
    loaded.LoadFromFile(emfPath.u16string());
    figures[1] = Seconds(phase);

    phase = Clock::now();
    HDC printer = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const DOCINFOW docInfo{20, u"benchmark page", nullptr, nullptr, 0};
    StartDocW(printer, &docInfo);
    SetGraphicsMode(printer, GM_ADVANCED);
    const XFORM toPrinter{6.25f,
                          0,
                          0,
                          6.25f,
                          static_cast<float>(-GetDeviceCaps(printer, PHYSICALOFFSETX)),
                          static_cast<float>(-GetDeviceCaps(printer, PHYSICALOFFSETY))};
    ModifyWorldTransform(printer, &toPrinter, MWT_LEFTMULTIPLY);
    loaded.PlayWithRepair(printer);
    EndDoc(printer);
    DeleteDC(printer);
    figures[2] = Seconds(phase);
    figures[3] = Seconds(start);
}

// cairo alone: the same bitmap painted onto one PDF page of the same size.
void CairoAlone(const fs::path& folder, double* figures)
{
    std::vector<BYTE> page = PhotoLikePage();
    const Clock::time_point start = Clock::now();
    cairo_surface_t* image
        = cairo_image_surface_create_for_data(page.data(), CAIRO_FORMAT_RGB24, kWidth, kHeight, kWidth * 4);
    cairo_surface_t* pdf = cairo_pdf_surface_create((folder / "cairo.pdf").c_str(), 612, 792);
    cairo_t* cr = cairo_create(pdf);
    cairo_scale(cr, 72.0 / 600, 72.0 / 600);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    cairo_surface_destroy(pdf);
    cairo_surface_destroy(image);
    figures[4] = Seconds(start);
}

struct Run {
    double figures[kFigures] = {};
    long peakKb = 0;
};

// Runs `work` in a child process; its figures and its peak resident memory.
template <typename Work>
Run InChild(Work work)
{
    int ends[2];
    if (::pipe(ends) != 0)
        std::exit(1);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        double figures[kFigures] = {};
        work(figures);
        const bool sent = ::write(ends[1], figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
        ::_exit(sent ? 0 : 1);
    }
    ::close(ends[1]);
    Run run;
    if (::read(ends[0], run.figures, sizeof run.figures) != static_cast<ssize_t>(sizeof run.figures))
        std::fprintf(stderr, "a benchmark run failed\n");
    ::close(ends[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    run.peakKb = usage.ru_maxrss;
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MegaBytes(std::uintmax_t bytes)
{
    return static_cast<double>(bytes) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string pattern = (fs::temp_directory_path() / "quillon-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "etc/quillon/printers");
    fs::copy_file(fs::path(QUILLON_SOURCE_DIR) / "printers/quillon-office.printer",
                  root / "etc/quillon/printers/quillon-office.printer");
    ::setenv("QUILLON_ROOT", root.c_str(), 1);

    std::vector<double> record, load, play, total, cairo;
    long pathPeak = 0, cairoPeak = 0;
    for (int i = 0; i < runs; ++i) {
        const Run path = InChild([&](double* figures) { ThroughMetafile(root, figures); });
        record.push_back(path.figures[0]);
        load.push_back(path.figures[1]);
        play.push_back(path.figures[2]);
        total.push_back(path.figures[3]);
        pathPeak = std::max(pathPeak, path.peakKb);
        const Run alone = InChild([&](double* figures) { CairoAlone(root, figures); });
        cairo.push_back(alone.figures[4]);
        cairoPeak = std::max(cairoPeak, alone.peakKb);
    }
    // The playback alone, from the saved metafile file, in a process that never held the bitmap.
    const Run playOnly = InChild([&](double* figures) {
        const Clock::time_point start = Clock::now();
        aio::printing::Emf loaded;
        loaded.LoadFromFile((root / "page.emf").u16string());
        HDC printer = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
        const DOCINFOW docInfo{20, u"benchmark page", nullptr, nullptr, 0};
        StartDocW(printer, &docInfo);
        SetGraphicsMode(printer, GM_ADVANCED);
        loaded.PlayWithRepair(printer);
        EndDoc(printer);
        DeleteDC(printer);
        figures[2] = Seconds(start);
    });

    std::uintmax_t pdfBytes = 0;
    for (const auto& entry : fs::directory_iterator(root / "var/spool/quillon/Quillon Office"))
        if (entry.path().extension() == ".pdf")
            pdfBytes = entry.file_size();
    const double bitmap = MegaBytes(static_cast<std::uintmax_t>(kWidth) * kHeight * 4);
    std::printf("One Letter page at 600 dpi as a 32-bit bitmap: %d x %d, %.1f MB; median of %d runs\n", kWidth, kHeight,
                bitmap, runs);
    std::printf("through a metafile file onto the printer (the document path):\n");
    std::printf("  record and save   %6.3f s   (metafile %.1f MB)\n", Median(record),
                MegaBytes(fs::file_size(root / "page.emf")));
    std::printf("  load              %6.3f s\n", Median(load));
    std::printf("  play to the PDF   %6.3f s   (job PDF %.1f MB)\n", Median(play), MegaBytes(pdfBytes));
    std::printf("  total             %6.3f s   peak memory %.0f MB (the page bitmap itself: %.0f MB)\n", Median(total),
                pathPeak / 1000.0, bitmap);
    std::printf("  playing the saved metafile alone: %.3f s, peak memory %.0f MB\n", playOnly.figures[2],
                playOnly.peakKb / 1000.0);
    std::printf("cairo alone, the same bitmap into a PDF: %.3f s, peak memory %.0f MB\n", Median(cairo),
                cairoPeak / 1000.0);
    fs::remove_all(root);
    return 0;
}

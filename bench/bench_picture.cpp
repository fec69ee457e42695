// quillon-bench-picture: a 24-megapixel JPEG job and a 4.5-megapixel PNG job printed on "Quillon
// Office" through quillon-service (its default-ticket and job exchanges included), each beside
// img2pdf putting the same picture on a Letter page, with the peak resident memory of each run
// beside the decoded picture's size (width x height x 4). It prints figures; it judges nothing.
//
// usage: quillon-bench-picture [RUNS]     (default 3)
#include "bench/process_run.h"
#include "platform/kernel/host.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRuns = 3;
constexpr int kMaxRuns = 100;

namespace fs = std::filesystem;

// A photo-like picture: colour gradients under fine noise, so that it compresses as photos do.
bool SavePicture(const fs::path& path, const char* type, int width, int height)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (!pixbuf)
        return false;
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 28) - 8;
            guchar* pixel = pixels + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3;
            pixel[0] = static_cast<guchar>(std::clamp(255 * x / width + grain, 0, 255));
            pixel[1] = static_cast<guchar>(std::clamp(255 * y / height + grain, 0, 255));
            pixel[2] = static_cast<guchar>(std::clamp(128 + ((x / 64 + y / 64) % 2) * 64 + grain, 0, 255));
        }
    }
    GError* error = nullptr;
    const bool saved = std::string(type) == "jpeg"
        ? gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, "quality", "90", nullptr)
        : gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr);
    g_clear_error(&error);
    g_object_unref(pixbuf);
    return saved;
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command `runs` times; prints its median and fastest time and its largest peak.
void Report(const char* what, const std::vector<std::string>& argv, int runs, double decodedMiB)
{
    std::vector<double> seconds;
    long peak = 0;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const bench::ProcessRun run = bench::RunProcess(argv);
        seconds.push_back(run.wallSeconds);
        peak = std::max(peak, run.peakKiB);
        failed += run.ok ? 0 : 1;
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("  %-34s median %6.3f s  fastest %6.3f s  peak %7.1f MiB (%.2f x the decoded picture)%s\n", what,
                median, seconds.front(), peak / 1024.0, peak / 1024.0 / decodedMiB, failed ? "  SOME RUNS FAILED" : "");
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
    if (argc > 2 || runs < 1 || runs > kMaxRuns) {
        std::fprintf(stderr, "usage: quillon-bench-picture [RUNS (1-%d)]\n", kMaxRuns);
        return 2;
    }
    const std::string root = bench::MakeServiceRoot("quillon-bench-picture", fs::path(QUILLON_SOURCE_DIR) / "printers");
    if (root.empty())
        return 1;
    std::error_code failure;
    const std::string service = platform::ExecutableFolder() + "/quillon-service";
    const fs::path spool = fs::path(root) / "var/spool/quillon/Quillon Office";

    struct Picture {
        const char* type;
        const char* file;
        int width;
        int height;
    };
    const Picture pictures[] = {{"jpeg", "photo.jpg", 6000, 4000}, {"png", "picture.png", 3000, 1500}};
    std::printf("quillon-bench-picture: %d runs each, root %s\n", runs, root.c_str());
    for (const Picture& picture : pictures) {
        const fs::path file = fs::path(root) / picture.file;
        // Made in a child of its own: a program started from this one begins with this one's peak
        // memory as its own, so this one must stay small.
        const pid_t maker = fork();
        if (maker == 0)
            _exit(SavePicture(file, picture.type, picture.width, picture.height) ? 0 : 1);
        int status = 0;
        if (maker < 0 || waitpid(maker, &status, 0) != maker || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "quillon-bench-picture: cannot write %s\n", file.c_str());
            return 1;
        }
        const double decodedMiB = picture.width * 4.0 * picture.height / (1024 * 1024);
        std::printf("\n%s, %d x %d (%.1f MP), %.1f MiB file, %.1f MiB decoded:\n", picture.file, picture.width,
                    picture.height, picture.width * picture.height / 1e6,
                    static_cast<double>(fs::file_size(file, failure)) / (1024 * 1024), decodedMiB);
        // One run first, so that every timed run finds the programs and the picture in the page cache.
        bench::RunProcess({service, "print", "Quillon Office", file.string(), "--quiet"});
        Report("quillon-service print (-b and -c)", {service, "print", "Quillon Office", file.string(), "--quiet"},
               runs, decodedMiB);
        const fs::path converted = fs::path(root) / "img2pdf.pdf";
        Report("img2pdf --pagesize Letter --fit into",
               {"img2pdf", "--pagesize", "Letter", "--fit", "into", "-o", converted.string(), file.string()}, runs,
               decodedMiB);
        // The newest job: the highest job number.
        fs::path last;
        long lastJob = 0;
        for (const auto& entry : fs::directory_iterator(spool, failure)) {
            const long job = std::atol(entry.path().stem().c_str());
            if (entry.path().extension() == ".pdf" && job > lastJob) {
                lastJob = job;
                last = entry.path();
            }
        }
        const std::string bytes = ReadAll(file);
        std::printf("  the job's PDF: %.1f MiB; the picture's own bytes in it: %s\n",
                    static_cast<double>(fs::file_size(last, failure)) / (1024 * 1024),
                    ReadAll(last).find(bytes) != std::string::npos ? "yes" : "no");
    }
    fs::remove_all(root, failure);
    return 0;
}

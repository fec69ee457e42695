// Long runs through quillon-service batch, under a private root: many jobs in a row (a one-page
// document and a small picture, taking turns) with what the service, the tool and the data folder
// hold after each job; then the same jobs one at a time and twenty at once, in jobs per second.
// Prints figures and judges nothing.
//
//   quillon-bench-load [JOBS_IN_A_ROW] [JOBS_AT_ONCE]   (default 1000 and 20)
#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kBinDir = QUILLON_BIN_DIR;

// One line of the service's --stats file.
struct JobFigures {
    int line = 0;
    double seconds = 0;
    bool printed = false;
    long toolPeakKib = 0;
    long serviceFds = 0;
    long serviceRssKib = 0;
    long long dataBytes = 0;
    long long logBytes = 0;
};

void MakeDocument(const fs::path& path)
{
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 612, 792);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    for (int line = 0; line < 12; ++line) {
        cairo_move_to(cr, 72, 96 + 16 * line);
        cairo_show_text(cr, "Quarterly report: every job of the batch prints this page whole.");
    }
    cairo_rectangle(cr, 72, 400, 200, 100);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void MakePicture(const fs::path& path)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 300, 200);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.9, 0.3, 0.1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.1, 0.3, 0.9);
    cairo_rectangle(cr, 50, 50, 100, 100);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
}

std::string JobsFile(const fs::path& folder, const std::string& name, int jobs, const fs::path& document,
                     const fs::path& picture)
{
    const fs::path path = folder / name;
    std::ofstream out(path);
    for (int i = 0; i < jobs; ++i)
        out << "\"Quillon Office\" '" << (i % 2 == 0 ? document : picture).string() << "'\n";
    return path.string();
}

// Runs one batch; its wall time in seconds, its figures per job in the order the jobs ended.
double RunBatch(const fs::path& root, const std::string& jobs, int parallel, std::vector<JobFigures>& figures)
{
    const fs::path stats = root / ("stats-" + std::to_string(parallel));
    fs::remove(stats);
    const std::string command = "QUILLON_ROOT='" + root.string() + "' '" + (kBinDir / "quillon-service").string()
        + "' batch --quiet --parallel " + std::to_string(parallel) + " --stats '" + stats.string() + "' '" + jobs
        + "' > /dev/null 2> '" + (root / "batch.err").string() + "'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (status != 0)
        std::cerr << "the batch did not print every job; see " << (root / "batch.err") << "\n";
    std::ifstream in(stats);
    std::string header;
    std::getline(in, header);
    JobFigures job;
    double started = 0;
    while (in >> job.line >> started >> job.seconds >> job.printed >> job.toolPeakKib >> job.serviceFds
           >> job.serviceRssKib >> job.dataBytes >> job.logBytes)
        figures.push_back(job);
    return took.count();
}

double MeanSeconds(std::vector<JobFigures>::const_iterator begin, std::vector<JobFigures>::const_iterator end)
{
    if (begin == end)
        return 0;
    return std::accumulate(begin, end, 0.0, [](double sum, const JobFigures& job) { return sum + job.seconds; })
        / static_cast<double>(end - begin);
}

template <typename Field>
std::string Range(const std::vector<JobFigures>& figures, Field field)
{
    long long low = field(figures.front());
    long long high = low;
    for (const JobFigures& job : figures) {
        low = std::min<long long>(low, field(job));
        high = std::max<long long>(high, field(job));
    }
    std::ostringstream text;
    text << "first " << field(figures.front()) << ", last " << field(figures.back()) << ", least " << low << ", most "
         << high;
    return text.str();
}

long PeakTool(const std::vector<JobFigures>& figures)
{
    long peak = 0;
    for (const JobFigures& job : figures)
        peak = std::max(peak, job.toolPeakKib);
    return peak;
}

int Printed(const std::vector<JobFigures>& figures)
{
    return static_cast<int>(
        std::count_if(figures.begin(), figures.end(), [](const JobFigures& j) { return j.printed; }));
}

// Files in the data folder and the spool folder that no finished job should leave.
int Leftovers(const fs::path& root)
{
    int count = 0;
    for (const fs::path& folder : {root / "var/lib/Marlowin", root / "var/spool/quillon/Quillon Office"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            count += name.rfind("ZVPrintFile", 0) == 0 || name.ends_with(".part") ? 1 : 0;
        }
    }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    const int inARow = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int atOnce = argc > 2 ? std::atoi(argv[2]) : 20;
    if (inARow < 200 || atOnce < 1 || atOnce > 64) {
        std::cerr << "usage: quillon-bench-load [JOBS_IN_A_ROW >= 200] [JOBS_AT_ONCE 1..64]\n";
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "quillon-bench-load-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "etc/quillon/printers");
    for (const auto& entry : fs::directory_iterator(fs::path(QUILLON_SOURCE_DIR) / "printers"))
        if (entry.path().extension() == ".printer")
            fs::copy_file(entry.path(), root / "etc/quillon/printers" / entry.path().filename());
    MakeDocument(root / "report.pdf");
    MakePicture(root / "photo.png");

    std::vector<JobFigures> row;
    const double rowSeconds
        = RunBatch(root, JobsFile(root, "row", inARow, root / "report.pdf", root / "photo.png"), 1, row);
    std::printf("%d jobs in a row (a one-page document and a 300 x 200 picture taking turns, 600 dpi Letter):\n",
                inARow);
    std::printf("  printed %d in %.1f s, %.2f jobs/s\n", Printed(row), rowSeconds, inARow / rowSeconds);
    if (row.size() >= 200) {
        std::printf("  mean seconds per job: first hundred %.3f, last hundred %.3f\n",
                    MeanSeconds(row.begin(), row.begin() + 100), MeanSeconds(row.end() - 100, row.end()));
    }
    std::printf("  service open descriptors after each job: %s\n",
                Range(row, [](const JobFigures& j) { return j.serviceFds; }).c_str());
    std::printf("  service resident KiB after each job: %s\n",
                Range(row, [](const JobFigures& j) { return j.serviceRssKib; }).c_str());
    std::printf("  tool peak resident KiB per job: %s\n",
                Range(row, [](const JobFigures& j) { return j.toolPeakKib; }).c_str());
    std::printf("  data folder bytes (the log apart) after each job: %s\n",
                Range(row, [](const JobFigures& j) { return j.dataBytes; }).c_str());
    std::printf("  log bytes after each job: %s\n", Range(row, [](const JobFigures& j) { return j.logBytes; }).c_str());
    std::printf("  page files and unfinished jobs left: %d\n", Leftovers(root));

    for (const int parallel : {1, atOnce}) {
        std::vector<JobFigures> figures;
        const int jobs = 2 * atOnce;
        const double seconds = RunBatch(
            root, JobsFile(root, "set-" + std::to_string(parallel), jobs, root / "report.pdf", root / "photo.png"),
            parallel, figures);
        std::printf("%d jobs, %d at once: printed %d in %.2f s, %.2f jobs/s; the largest tool %.1f MiB\n", jobs,
                    parallel, Printed(figures), seconds, jobs / seconds, PeakTool(figures) / 1024.0);
    }
    std::printf("page files and unfinished jobs left at the end: %d\n", Leftovers(root));
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}

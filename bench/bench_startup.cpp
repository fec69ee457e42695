// quillon-bench-startup: the processor time a start of the tool costs, beside starting /bin/true:
// the bare tool (an unknown switch: it sets up its log, writes the banner and ends), the service
// alone (--help), and an -a round trip on a virtual printer (the service and the tool it starts),
// with the shared objects each process loads. It prints figures; it judges nothing.
//
// usage: quillon-bench-startup [RUNS]     (default 50)
#include "bench/process_run.h"
#include "platform/kernel/host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRuns = 50;
// Enough to see a trend, few enough to finish in a minute.
constexpr int kMaxRuns = 10'000;

namespace fs = std::filesystem;

struct Case {
    const char* what;
    std::vector<std::string> argv;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The shared objects each process of one run loads, as the dynamic loader reports them (its
// "generating link map" lines, dlopen included), one count per process, largest first.
std::vector<int> SharedObjectCounts(const std::vector<std::string>& argv, const fs::path& folder)
{
    std::error_code failure;
    fs::remove_all(folder, failure);
    fs::create_directories(folder, failure);
    const std::string prefix = (folder / "ld").string();
    setenv("LD_DEBUG", "files", 1);
    setenv("LD_DEBUG_OUTPUT", prefix.c_str(), 1);
    bench::RunProcess(argv);
    unsetenv("LD_DEBUG");
    unsetenv("LD_DEBUG_OUTPUT");

    std::vector<int> counts;
    for (const auto& entry : fs::directory_iterator(folder, failure)) {
        std::ifstream file(entry.path());
        int count = 0;
        for (std::string line; std::getline(file, line);)
            count += line.find("generating link map") != std::string::npos ? 1 : 0;
        counts.push_back(count);
    }
    std::sort(counts.rbegin(), counts.rend());
    return counts;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
    if (argc > 2 || runs < 1 || runs > kMaxRuns) {
        std::fprintf(stderr, "usage: quillon-bench-startup [RUNS (1-%d)]\n", kMaxRuns);
        return 2;
    }

    // A private root with the sample printers, so the round trip does real work and the tool's log
    // goes nowhere else.
    const std::string root = bench::MakeServiceRoot("quillon-bench-startup", fs::path(QUILLON_SOURCE_DIR) / "printers");
    if (root.empty())
        return 1;
    std::error_code failure;

    const std::string folder = platform::ExecutableFolder();
    const std::string service = folder + "/quillon-service";
    const std::vector<Case> cases = {
        {"/bin/true", {"/bin/true"}},
        {"the bare tool (an unknown switch)", {folder + "/QuillonTool", "--none"}},
        {"quillon-service --help", {service, "--help"}},
        {"-a round trip (service and tool)", {service, "caps", "Quillon Office", "--quiet"}},
    };

    std::printf("quillon-bench-startup: %d runs each, root %s\n", runs, root.c_str());
    std::printf("processor time is user + system of the process and every process it waited for\n\n");
    std::printf("%-36s %12s %12s %12s %12s %14s\n", "", "cpu median", "cpu min", "wall median", "x /bin/true",
                "shared objects");
    double trueCpu = 0;
    for (const Case& one : cases) {
        // One run first, so that every timed run finds the files in the page cache.
        const bool worked = bench::RunProcess(one.argv).ok;
        std::vector<double> cpu;
        std::vector<double> wall;
        int failures = 0;
        for (int i = 0; i < runs; ++i) {
            const bench::ProcessRun run = bench::RunProcess(one.argv);
            cpu.push_back(run.cpuSeconds * 1e3);
            wall.push_back(run.wallSeconds * 1e3);
            failures += run.ok ? 0 : 1;
        }
        const double median = Median(cpu);
        if (trueCpu == 0)
            trueCpu = median;
        std::string objects;
        for (int count : SharedObjectCounts(one.argv, fs::path(root) / "ld-debug"))
            objects += (objects.empty() ? "" : " + ") + std::to_string(count);
        std::printf("%-36s %9.3f ms %9.3f ms %9.3f ms %11.1fx %14s", one.what, median,
                    *std::min_element(cpu.begin(), cpu.end()), Median(wall), trueCpu > 0 ? median / trueCpu : 0.0,
                    objects.c_str());
        if (!worked || failures > 0)
            std::printf("   (%d of %d runs did not exit 0)", failures + (worked ? 0 : 1), runs + 1);
        std::printf("\n");
    }

    fs::remove_all(root, failure);
    return 0;
}

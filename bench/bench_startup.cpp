// quillon-bench-startup: the processor time a start of the tool costs, beside starting /bin/true:
// the bare tool (an unknown switch: it sets up its log, writes the banner and ends), the service
// alone (--help), and an -a round trip on a virtual printer (the service and the tool it starts),
// with the shared objects each process loads. It prints figures; it judges nothing.
//
// The cases run in rounds, one run of each per round, so that a change in the machine's load
// during the benchmark weighs on every case alike; each start's ratio to /bin/true is also taken
// within its round, and the median of those ratios is the figure to compare with a target.
//
// usage: quillon-bench-startup [--folder DIR] [RUNS]     (default 200 rounds; DIR holds the
//        programs, e.g. the installed /usr/lib/<triplet>/quillon; default the benchmark's own folder)
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

constexpr int kDefaultRuns = 200;
// Enough to see a trend, few enough to finish in a minute.
constexpr int kMaxRuns = 10'000;

namespace fs = std::filesystem;

struct Case {
    const char* what;
    std::vector<std::string> argv;
};

// The value below which `share` of `values` lie (0.5: the median), by linear interpolation.
double Quantile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double position = share * double(values.size() - 1);
    const auto below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (position - double(below));
}

double Median(const std::vector<double>& values)
{
    return Quantile(values, 0.5);
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
    std::string folder = platform::ExecutableFolder();
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--folder") {
        folder = argv[2];
        first = 3;
    }
    const int runs = argc > first ? std::atoi(argv[first]) : kDefaultRuns;
    if (argc > first + 1 || runs < 1 || runs > kMaxRuns || !fs::is_directory(folder)) {
        std::fprintf(stderr, "usage: quillon-bench-startup [--folder DIR] [RUNS (1-%d)]\n", kMaxRuns);
        return 2;
    }

    // A private root with the sample printers, so the round trip does real work and the tool's log
    // goes nowhere else.
    const std::string root = bench::MakeServiceRoot("quillon-bench-startup", fs::path(QUILLON_SOURCE_DIR) / "printers");
    if (root.empty())
        return 1;
    std::error_code failure;

    const std::string service = folder + "/quillon-service";
    const std::vector<Case> cases = {
        {"/bin/true", {"/bin/true"}},
        {"the bare tool (an unknown switch)", {folder + "/QuillonTool", "--none"}},
        {"quillon-service --help", {service, "--help"}},
        {"-a round trip (service and tool)", {service, "caps", "Quillon Office", "--quiet"}},
    };

    // One run of each first, so that every timed run finds the files in the page cache.
    std::vector<bool> worked;
    for (const Case& one : cases)
        worked.push_back(bench::RunProcess(one.argv).ok);
    std::vector<std::vector<double>> cpu(cases.size());
    std::vector<std::vector<double>> wall(cases.size());
    std::vector<std::vector<double>> ratio(cases.size());
    std::vector<int> failures(cases.size());
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const bench::ProcessRun run = bench::RunProcess(cases[i].argv);
            cpu[i].push_back(run.cpuSeconds * 1e3);
            wall[i].push_back(run.wallSeconds * 1e3);
            failures[i] += run.ok ? 0 : 1;
        }
        for (std::size_t i = 0; i < cases.size(); ++i)
            ratio[i].push_back(cpu[0].back() > 0 ? cpu[i].back() / cpu[0].back() : 0.0);
    }

    std::printf("quillon-bench-startup: %d rounds, programs in %s, root %s\n", runs, folder.c_str(), root.c_str());
    std::printf("processor time is user + system of the process and every process it waited for;\n"
                "x /bin/true is the median of each round's ratio (quartiles beside it)\n\n");
    std::printf("%-36s %11s %19s %11s %20s %8s\n", "", "cpu median", "cpu quartiles", "wall median", "x /bin/true",
                "objects");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string objects;
        for (int count : SharedObjectCounts(cases[i].argv, fs::path(root) / "ld-debug"))
            objects += (objects.empty() ? "" : "+") + std::to_string(count);
        std::printf("%-36s %8.3f ms %7.3f-%7.3f ms %8.3f ms %6.2fx (%4.2f-%5.2f) %8s", cases[i].what, Median(cpu[i]),
                    Quantile(cpu[i], 0.25), Quantile(cpu[i], 0.75), Median(wall[i]), Median(ratio[i]),
                    Quantile(ratio[i], 0.25), Quantile(ratio[i], 0.75), objects.c_str());
        if (!worked[i] || failures[i] > 0)
            std::printf("   (%d of %d runs did not exit 0)", failures[i] + (worked[i] ? 0 : 1), runs + 1);
        std::printf("\n");
    }

    fs::remove_all(root, failure);
    return 0;
}

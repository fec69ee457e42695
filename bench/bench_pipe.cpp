// quillon-bench-pipe: how long one -a exchange through quillon-service takes, end to end, beside
// the cost of merely starting and reaping a trivial process. It prints figures; it judges nothing.
//
// usage: quillon-bench-pipe [PRINTER] [RUNS]     (defaults: "Quillon Office", 50)
#include "bench/process_run.h"
#include "platform/kernel/host.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRuns = 50;
// Enough to see a trend, few enough to finish in seconds.
constexpr int kMaxRuns = 10'000;

struct Timing {
    std::vector<double> milliseconds;
    int failures = 0;
};

Timing TimeRuns(const std::vector<std::string>& argv, int runs)
{
    Timing timing;
    for (int i = 0; i < runs; ++i) {
        const bench::ProcessRun run = bench::RunProcess(argv);
        if (!run.ok)
            ++timing.failures;
        timing.milliseconds.push_back(run.wallSeconds * 1e3);
    }
    return timing;
}

void Report(const char* what, Timing timing)
{
    auto& values = timing.milliseconds;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%-34s median %8.3f ms   min %8.3f ms   max %8.3f ms   (%zu runs", what, median, values.front(),
                values.back(), n);
    if (timing.failures > 0)
        std::printf(", %d did not exit 0", timing.failures);
    std::printf(")\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::string printer = argc > 1 ? argv[1] : "Quillon Office";
    int runs = argc > 2 ? std::atoi(argv[2]) : kDefaultRuns;
    if (argc > 3 || runs < 1 || runs > kMaxRuns) {
        std::fprintf(stderr, "usage: quillon-bench-pipe [PRINTER] [RUNS (1-%d)]\n", kMaxRuns);
        return 2;
    }

    // A private root with the sample printers, so the exchange does real work and touches nothing else.
    const std::string root
        = bench::MakeServiceRoot("quillon-bench-pipe", std::filesystem::path(QUILLON_SOURCE_DIR) / "printers");
    if (root.empty())
        return 1;
    std::error_code failure;

    const std::string service = platform::ExecutableFolder() + "/quillon-service";
    std::printf("quillon-bench-pipe: %d runs each, root %s\n", runs, root.c_str());
    // One run first, so that every timed run finds the libraries in the page cache; its reply shows
    // whether the exchange did real work.
    std::string reply = root + "/reply.xml";
    bench::RunProcess({service, "caps", printer, "--quiet"}, reply.c_str());
    std::printf("capabilities of \"%s\": %ju bytes\n", printer.c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(reply, failure)));
    Report("start and reap /bin/true", TimeRuns({"/bin/true"}, runs));
    Report("-a exchange via quillon-service", TimeRuns({service, "caps", printer, "--quiet"}, runs));

    std::filesystem::remove_all(root, failure);
    return 0;
}

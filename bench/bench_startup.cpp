// quillon-bench-startup: the processor time a start of the tool costs, beside starting /bin/true:
// the bare tool (an unknown switch: it sets up its log, writes the banner and ends), the service
// alone (--help), and an -a round trip on a virtual printer (the service and the tool it starts),
// with the shared objects each process loads. It prints figures; it judges nothing.
//
// usage: quillon-bench-startup [RUNS]     (default 50)
#include "platform/kernel/host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kDefaultRuns = 50;
// Enough to see a trend, few enough to finish in a minute.
constexpr int kMaxRuns = 10'000;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
    double cpuMs = 0; // user and system time of the process and of every process it waited for
    double wallMs = 0;
    bool ok = false;
};

struct Case {
    const char* what;
    std::vector<std::string> argv;
};

// Starts argv with no input and its output thrown away, and waits for it.
Run RunOnce(const std::vector<std::string>& argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments = argv;
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    Run run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int failure = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (failure == 0)
        wait4(pid, &status, 0, &usage);
    run.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.ok = failure == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

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
    RunOnce(argv);
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
    std::string root = fs::temp_directory_path().string() + "/quillon-bench-XXXXXX";
    if (mkdtemp(root.data()) == nullptr) {
        std::perror("quillon-bench-startup: cannot make a temporary root");
        return 1;
    }
    std::error_code failure;
    const fs::path installed = fs::path(root) / "etc/quillon/printers";
    fs::create_directories(installed, failure);
    for (const auto& entry : fs::directory_iterator(fs::path(QUILLON_SOURCE_DIR) / "printers", failure)) {
        if (entry.path().extension() == ".printer")
            fs::copy_file(entry.path(), installed / entry.path().filename(), failure);
    }
    setenv("QUILLON_ROOT", root.c_str(), 1);

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
        const bool worked = RunOnce(one.argv).ok;
        std::vector<double> cpu;
        std::vector<double> wall;
        int failures = 0;
        for (int i = 0; i < runs; ++i) {
            const Run run = RunOnce(one.argv);
            cpu.push_back(run.cpuMs);
            wall.push_back(run.wallMs);
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

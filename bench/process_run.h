// What one run of a program costs, as the benchmarks that start programs measure it, and the
// private machine root they run the service under.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

struct ProcessRun {
    double wallSeconds = 0;
    double cpuSeconds = 0; // user and system time of the program and of every process it waited for
    long peakKiB = 0;      // the largest resident size among them
    bool ok = false;       // started and exited 0
};

// Starts argv (a program name without a slash is looked up on the PATH) with no input, its
// standard output going to `outputPath` and its error output thrown away, and waits for it.
inline ProcessRun RunProcess(const std::vector<std::string>& argv, const char* outputPath = "/dev/null")
{
    ProcessRun run;
    if (argv.empty())
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> arguments = argv;
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int failure = posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (failure == 0)
        wait4(pid, &status, 0, &usage);
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    run.ok = failure == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// A fresh private root with the repository's sample printers (from `samples`), made QUILLON_ROOT
// for this process and the programs it starts; empty, said on standard error, when it cannot be
// made.
inline std::string MakeServiceRoot(const char* program, const std::filesystem::path& samples)
{
    namespace fs = std::filesystem;
    std::string root = (fs::temp_directory_path() / "quillon-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
        std::fprintf(stderr, "%s: cannot make a temporary root\n", program);
        return {};
    }
    std::error_code failure;
    const fs::path installed = fs::path(root) / "etc/quillon/printers";
    fs::create_directories(installed, failure);
    for (const auto& entry : fs::directory_iterator(samples, failure)) {
        if (entry.path().extension() == ".printer")
            fs::copy_file(entry.path(), installed / entry.path().filename(), failure);
    }
    setenv("QUILLON_ROOT", root.c_str(), 1);
    return root;
}

} // namespace bench

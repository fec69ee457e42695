// One run of the tool as a child process, watched through a pidfd so that waits can be bounded.
#pragma once

#include "service/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quillon::service {

class ToolProcess final {
public:
    // Starts the program at path with the single argument switchText. Its standard output and
    // error go to our standard error, or nowhere when quiet; its standard input is empty.
    // Returns null and sets error when it cannot be started.
    static std::unique_ptr<ToolProcess> Start(const std::string& path, const std::string& switchText, bool quiet,
                                              std::string& error);
    // Kills and reaps the process if it is still there.
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // A descriptor that becomes readable when the process ends, to wait on with poll.
    int ExitNotifier() const { return pidfd_.Get(); }
    // Waits up to timeout for the process to end and reaps it; its wait status, or nothing when it
    // is still running.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    // Kills the process and reaps it.
    void Kill();

private:
    ToolProcess(pid_t pid, UniqueFd pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}

    pid_t pid_;
    UniqueFd pidfd_;
    bool reaped_ = false;
};

// Says in words how a process ended, from its wait status: "exited with status 3",
// "was killed by signal 11 (Segmentation fault)".
std::string DescribeExit(int status);

} // namespace quillon::service

// One run of the tool as a child process, watched through a pidfd so that waits can be bounded.
#pragma once

#include "service/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quillon::service {

// Where the tool's standard output and error go: our standard error, nowhere, or a pipe that
// the caller reads (ToolProcess::Output).
enum class ToolOutput { Forward, Discard, Capture };

class ToolProcess final {
public:
    // Starts the program at path with the single argument switchText, its standard output and
    // error sent where output says; its standard input is empty. Returns null and sets error when
    // it cannot be started.
    static std::unique_ptr<ToolProcess> Start(const std::string& path, const std::string& switchText, ToolOutput output,
                                              std::string& error);
    static std::unique_ptr<ToolProcess> Start(const std::string& path, const std::string& switchText, bool quiet,
                                              std::string& error)
    {
        return Start(path, switchText, quiet ? ToolOutput::Discard : ToolOutput::Forward, error);
    }
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

    pid_t Pid() const { return pid_; }
    // The read end of the captured output (non-blocking), or -1 when it is not captured or
    // has been closed.
    int Output() const { return output_.Get(); }
    void CloseOutput() { output_.Reset(); }
    // The largest resident size the process reached, in KiB; 0 until it is reaped.
    long PeakResidentKib() const { return peakResidentKib_; }

private:
    ToolProcess(pid_t pid, UniqueFd pidfd, UniqueFd output)
        : pid_(pid),
          pidfd_(std::move(pidfd)),
          output_(std::move(output))
    {}
    void Reap(int options, int& status, pid_t& done);

    pid_t pid_;
    UniqueFd pidfd_;
    UniqueFd output_;
    bool reaped_ = false;
    long peakResidentKib_ = 0;
};

// Says in words how a process ended, from its wait status: "exited with status 3",
// "was killed by signal 11 (Segmentation fault)".
std::string DescribeExit(int status);

} // namespace quillon::service

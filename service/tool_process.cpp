#include "service/tool_process.h"

#include "service/signal_cleanup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace quillon::service {
namespace {

// Owns the spawn settings for the length of one posix_spawn call.
class SpawnSettings final {
public:
    SpawnSettings()
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

} // namespace

std::unique_ptr<ToolProcess> ToolProcess::Start(const std::string& path, const std::string& switchText,
                                                ToolOutput output, std::string& error)
{
    SpawnSettings settings;
    posix_spawn_file_actions_addopen(&settings.actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    UniqueFd captureRead;
    UniqueFd captureWrite;
    if (output == ToolOutput::Capture) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            error = std::string("cannot make a pipe for the tool's output: ") + std::strerror(errno);
            return nullptr;
        }
        captureRead = UniqueFd(ends[0]);
        captureWrite = UniqueFd(ends[1]);
        fcntl(captureRead.Get(), F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_adddup2(&settings.actions_, captureWrite.Get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&settings.actions_, captureWrite.Get(), STDERR_FILENO);
    } else if (output == ToolOutput::Discard) {
        posix_spawn_file_actions_addopen(&settings.actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&settings.actions_, STDOUT_FILENO, STDERR_FILENO);
    } else {
        // Our standard output carries only the reply.
        posix_spawn_file_actions_adddup2(&settings.actions_, STDERR_FILENO, STDOUT_FILENO);
    }
    // The child starts with the signal state of a fresh program, not our ignored SIGPIPE.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signalNumber);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    posix_spawnattr_setsigdefault(&settings.attributes_, &defaults);
    posix_spawnattr_setsigmask(&settings.attributes_, &noneBlocked);
    posix_spawnattr_setflags(&settings.attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::string program = path;
    std::string argument = switchText;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    int failure = 0;
    {
        // The tool may connect, and the service be told to stop, before posix_spawn returns here:
        // the signal waits until the tool is known to the handler that stops it.
        const SignalsDeferred deferred;
        failure = posix_spawn(&pid, path.c_str(), &settings.actions_, &settings.attributes_, argv, environ);
        if (failure == 0)
            AddSignalCleanupTool(pid);
    }
    if (failure != 0) {
        error = "cannot start the tool " + path + ": " + std::strerror(failure);
        return nullptr;
    }
    // The child is not reaped before we have its pidfd, so the pid cannot name another process.
    // Called through syscall(): the glibc 2.36 header declares pidfd_open without C linkage.
    UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    captureWrite.Reset(); // the tool holds the only write end: the output ends when it does
    auto process = std::unique_ptr<ToolProcess>(new ToolProcess(pid, std::move(pidfd), std::move(captureRead)));
    if (!process->pidfd_.Valid()) {
        error = std::string("cannot watch the tool process: ") + std::strerror(errno);
        return nullptr; // the destructor kills and reaps it
    }
    return process;
}

ToolProcess::~ToolProcess()
{
    if (!reaped_)
        Kill();
}

std::optional<int> ToolProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    if (reaped_)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiter{pidfd_.Get(), POLLIN, 0};
        int ready = poll(&waiter, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        break;
    }
    int status = 0;
    pid_t done;
    Reap(WNOHANG, status, done);
    if (done != pid_)
        return std::nullopt;
    return status;
}

void ToolProcess::Kill()
{
    if (reaped_)
        return;
    kill(pid_, SIGKILL);
    int status = 0;
    pid_t done;
    Reap(0, status, done);
}

void ToolProcess::Reap(int options, int& status, pid_t& done)
{
    rusage usage{};
    do {
        done = wait4(pid_, &status, options, &usage);
    } while (done < 0 && errno == EINTR);
    if (done != pid_)
        return;
    reaped_ = true;
    peakResidentKib_ = usage.ru_maxrss;
    RemoveSignalCleanupTool(pid_);
}

std::string DescribeExit(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        int signalNumber = WTERMSIG(status);
        return "was killed by signal " + std::to_string(signalNumber) + " (" + strsignal(signalNumber) + ")";
    }
    return "ended with wait status " + std::to_string(status);
}

} // namespace quillon::service

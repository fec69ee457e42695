#include "service/signal_cleanup.h"

#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace quillon::service {
namespace {

// A socket path cannot be longer than sockaddr_un::sun_path, so a fixed array holds any of them;
// the handler may read only memory that is never reallocated.
char g_socketPath[sizeof(sockaddr_un::sun_path) + 1];
volatile sig_atomic_t g_toolPids[kMaxCleanupTools] = {};

void CleanUpAndDie(int signalNumber)
{
    if (g_socketPath[0] != '\0')
        ::unlink(g_socketPath);
    for (const volatile sig_atomic_t& pid : g_toolPids) {
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
    // Die of the same signal, so the parent sees what happened.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

} // namespace

SignalsDeferred::SignalsDeferred()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalsDeferred::~SignalsDeferred()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void InstallSignalCleanup()
{
    struct sigaction action {};
    action.sa_handler = CleanUpAndDie;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void SetSignalCleanupSocket(const std::string& path)
{
    const SignalsDeferred deferred;
    if (path.size() >= sizeof(g_socketPath)) {
        g_socketPath[0] = '\0';
        return;
    }
    std::memcpy(g_socketPath, path.c_str(), path.size() + 1);
}

void AddSignalCleanupTool(pid_t pid)
{
    const SignalsDeferred deferred;
    for (volatile sig_atomic_t& slot : g_toolPids) {
        if (slot == 0) {
            slot = pid;
            return;
        }
    }
}

void RemoveSignalCleanupTool(pid_t pid)
{
    const SignalsDeferred deferred;
    for (volatile sig_atomic_t& slot : g_toolPids) {
        if (slot == pid)
            slot = 0;
    }
}

} // namespace quillon::service

// Leaves nothing behind when the service is interrupted: on SIGINT, SIGTERM or SIGHUP the socket
// file is removed and the tools are stopped before the service dies of the signal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace quillon::service {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, and ignores SIGPIPE (write errors are
// reported as values instead). Call once, before the first socket is made.
void InstallSignalCleanup();

// Names the socket file to remove on a signal; an empty path removes nothing.
void SetSignalCleanupSocket(const std::string& path);

// The most tool processes stopped on a signal: as many as a batch runs at once.
constexpr int kMaxCleanupTools = 64;

// Adds a tool process to stop on a signal, or takes one off once it has been reaped.
void AddSignalCleanupTool(pid_t pid);
void RemoveSignalCleanupTool(pid_t pid);

// Holds SIGINT, SIGTERM and SIGHUP back while it lives: one that arrives meanwhile is handled as it
// ends. A tool is started and added inside one, so that no signal finds it running but unknown.
class SignalsDeferred final {
public:
    SignalsDeferred();
    ~SignalsDeferred();
    SignalsDeferred(const SignalsDeferred&) = delete;
    SignalsDeferred& operator=(const SignalsDeferred&) = delete;

private:
    sigset_t previous_;
};

} // namespace quillon::service

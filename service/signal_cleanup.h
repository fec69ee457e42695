// Leaves nothing behind when the service is interrupted: on SIGINT, SIGTERM or SIGHUP the socket
// file is removed and the tool is stopped before the service dies of the signal.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillon::service {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, and ignores SIGPIPE (write errors are
// reported as values instead). Call once, before the first socket is made.
void InstallSignalCleanup();

// Names the socket file to remove on a signal; an empty path removes nothing.
void SetSignalCleanupSocket(const std::string& path);

// Names the tool process to stop on a signal; 0 stops nothing.
void SetSignalCleanupTool(pid_t pid);

} // namespace quillon::service

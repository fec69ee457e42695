// The server end of the tool's named pipe: a SOCK_SEQPACKET Unix socket, so each write is one
// message with its boundaries kept, as in a Windows message-mode pipe.
#pragma once

#include "service/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace quillon::service {

// Send and receive buffers of both socket ends: the largest message either side can pass is
// bounded by them (a capabilities reply is UTF-16, twice its document's size). The host caps the
// value at net.core.wmem_max / rmem_max.
constexpr int kPipeBufferBytes = 4 * 1024 * 1024;

// One accepted connection from the tool.
class PipeConnection final {
public:
    enum class Receive { Message, Closed, TimedOut, Failed };

    explicit PipeConnection(UniqueFd socket) : socket_(std::move(socket)) {}

    // Sends one message (any length, zero included). Returns false and sets error on failure.
    bool Send(std::string_view message, std::string& error);
    // The connected socket, to wait on with poll.
    int Socket() const { return socket_.Get(); }
    // The process at the other end, as the kernel saw it connect; -1 when it cannot be told.
    pid_t PeerProcess() const;
    // Waits up to timeout for one message. Message: it is in message (maybe empty). Closed: the
    // tool ended the connection without sending one. Failed: error says why.
    Receive ReceiveMessage(std::chrono::milliseconds timeout, std::string& message, std::string& error);

private:
    UniqueFd socket_;
};

// The listening socket, held under an exclusive lock on "<socket>.lock" so that services sharing
// one root take turns instead of replacing each other's socket. The socket file is removed when
// the object ends.
class PipeServer final {
public:
    // Makes missing folders, waits up to lockTimeout for the lock (naming its holder when it
    // gives up), replaces a stale socket file and listens with room for `instances` connections
    // waiting to be accepted: one for a single tool, as many as tools run at once for a batch.
    // Returns null and sets error when a step fails; nothing is left behind then.
    static std::unique_ptr<PipeServer> Create(const std::string& socketPath, std::chrono::milliseconds lockTimeout,
                                              std::string& error, int instances = 1);
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // The listening socket (non-blocking), to wait on with poll.
    int ListeningSocket() const { return listener_.Get(); }
    // Takes one queued connection; null when none is queued (error stays empty) or on failure
    // (error set).
    std::unique_ptr<PipeConnection> Accept(std::string& error);

private:
    PipeServer(std::string path, UniqueFd lock, UniqueFd listener);

    std::string path_;
    UniqueFd lock_;
    UniqueFd listener_;
};

} // namespace quillon::service

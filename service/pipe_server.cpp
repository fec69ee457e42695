#include "service/pipe_server.h"

#include "platform/kernel/file_modes.h"
#include "service/signal_cleanup.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quillon::service {
namespace {

// The lock file beside the socket.
constexpr mode_t kLockFileMode = 0644;

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Turns on what both socket ends of the pipe need: credentials on every message (so an empty
// message can be told from the end of the connection) and buffers large enough for a document.
bool PreparePipeSocket(int fd, std::string& error)
{
    int on = 1;
    int size = kPipeBufferBytes;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0
        || setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0
        || setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        error = SystemError("cannot set up the pipe socket");
        return false;
    }
    return true;
}

// Removes what a previous service left at path, provided it is a socket: anything else is
// somebody's file and stays.
bool RemoveStaleSocket(const std::string& path, std::string& error)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return true;
        error = SystemError("cannot examine " + path);
        return false;
    }
    if (!S_ISSOCK(info.st_mode)) {
        error = path + " exists and is not a socket; it was left in place";
        return false;
    }
    if (unlink(path.c_str()) != 0) {
        error = SystemError("cannot remove the stale socket " + path);
        return false;
    }
    return true;
}

// Whoever may write in the pipe folder may put a socket of their own in the pipe's place and feed
// the tool requests. Only this service's own user and the system may; a folder of ours that was
// made wider earlier is tightened, anything else is refused.
bool SecurePipeFolder(const std::string& folder, std::string& error)
{
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0) {
        error = SystemError("cannot examine the pipe folder " + folder);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = "the pipe folder " + folder + " is not a folder; nothing is served from it";
        return false;
    }
    const uid_t self = geteuid();
    const bool othersWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if ((status.st_uid == self || (self == 0 && status.st_uid == 0)) && othersWrite)
        chmod(folder.c_str(), status.st_mode & 07755);
    if (lstat(folder.c_str(), &status) != 0 || (status.st_uid != self && status.st_uid != 0)
        || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        error = "the pipe folder " + folder + " (mode " + mode + ", owner " + std::to_string(status.st_uid)
            + ") can be written by another user; nothing is served from it";
        return false;
    }
    return true;
}

} // namespace

bool PipeConnection::Send(std::string_view message, std::string& error)
{
    ssize_t sent;
    do {
        sent = send(socket_.Get(), message.data(), message.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        error = errno == EMSGSIZE
            ? "the request (" + std::to_string(message.size()) + " bytes) is larger than the pipe can carry"
            : SystemError("cannot send the request to the tool");
        return false;
    }
    return true;
}

PipeConnection::Receive PipeConnection::ReceiveMessage(std::chrono::milliseconds timeout, std::string& message,
                                                       std::string& error)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return Receive::TimedOut;
        pollfd waiter{socket_.Get(), POLLIN, 0};
        int ready = poll(&waiter, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            error = SystemError("cannot wait for the reply");
            return Receive::Failed;
        }
        if (ready == 0)
            return Receive::TimedOut;
        break;
    }

    // MSG_TRUNC with MSG_PEEK tells the whole message's length without taking it.
    ssize_t length = recv(socket_.Get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
        error = SystemError("cannot read the reply");
        return Receive::Failed;
    }
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received = recvmsg(socket_.Get(), &header, MSG_DONTWAIT);
    if (received < 0) {
        error = SystemError("cannot read the reply");
        return Receive::Failed;
    }
    if (header.msg_flags & MSG_TRUNC) {
        error = "the reply was cut short while it was read";
        return Receive::Failed;
    }
    // Every message carries the sender's credentials, an empty one too; the end of the connection
    // carries none.
    bool hasCredentials = false;
    for (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr; item = CMSG_NXTHDR(&header, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_CREDENTIALS)
            hasCredentials = true;
    }
    if (received == 0 && !hasCredentials)
        return Receive::Closed;
    message.assign(buffer.data(), static_cast<size_t>(received));
    return Receive::Message;
}

pid_t PipeConnection::PeerProcess() const
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(socket_.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer || peer.pid <= 0)
        return -1;
    return peer.pid;
}

std::unique_ptr<PipeServer> PipeServer::Create(const std::string& socketPath, std::string& error, int instances)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        error = "the pipe socket path \"" + socketPath + "\" is empty or longer than "
            + std::to_string(sizeof address.sun_path - 1) + " bytes; choose a shorter QUILLON_ROOT";
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    // The pipe folder and its parents are the machine's: 0755 whatever the umask.
    const std::string folder = std::filesystem::path(socketPath).parent_path().string();
    if (!platform::MakeFolders(folder)) {
        error = SystemError("cannot make the folder " + folder);
        return nullptr;
    }
    if (!SecurePipeFolder(folder, error))
        return nullptr;

    UniqueFd lock(open((socketPath + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode));
    if (!lock.Valid()) {
        error = SystemError("cannot open the lock file " + socketPath + ".lock");
        return nullptr;
    }
    // Any user may take turns on the lock, whatever the umask; it holds nothing.
    struct stat lockStatus {};
    if (fstat(lock.Get(), &lockStatus) == 0 && lockStatus.st_uid == geteuid()
        && (lockStatus.st_mode & 07777) != kLockFileMode)
        fchmod(lock.Get(), kLockFileMode);
    int locked;
    do {
        locked = flock(lock.Get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        error = SystemError("cannot lock " + socketPath + ".lock");
        return nullptr;
    }

    // From here on the path is ours until the lock is released.
    if (!RemoveStaleSocket(socketPath, error))
        return nullptr;
    UniqueFd listener(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.Valid()) {
        error = SystemError("cannot make the pipe socket");
        return nullptr;
    }
    if (!PreparePipeSocket(listener.Get(), error))
        return nullptr;
    SetSignalCleanupSocket(socketPath);
    if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = SystemError("cannot make the pipe socket " + socketPath);
        SetSignalCleanupSocket("");
        return nullptr;
    }
    auto server = std::unique_ptr<PipeServer>(new PipeServer(socketPath, std::move(lock), std::move(listener)));
    // Beyond the instances served at once, a client waits in the queue, as for a busy pipe.
    if (listen(server->listener_.Get(), instances) != 0) {
        error = SystemError("cannot listen on " + socketPath);
        return nullptr;
    }
    return server;
}

PipeServer::PipeServer(std::string path, UniqueFd lock, UniqueFd listener)
    : path_(std::move(path)),
      lock_(std::move(lock)),
      listener_(std::move(listener))
{}

PipeServer::~PipeServer()
{
    listener_.Reset();
    unlink(path_.c_str());
    SetSignalCleanupSocket("");
    // Closing the lock file releases the lock for the next service in line.
}

std::unique_ptr<PipeConnection> PipeServer::Accept(std::string& error)
{
    int fd;
    do {
        fd = accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            error = SystemError("cannot accept the tool's connection");
        return nullptr;
    }
    UniqueFd socket(fd);
    if (!PreparePipeSocket(socket.Get(), error))
        return nullptr;
    return std::make_unique<PipeConnection>(std::move(socket));
}

} // namespace quillon::service

#include "service/pipe_server.h"

#include "platform/kernel/file_modes.h"
#include "service/exchange.h"
#include "service/signal_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

namespace quillon::service {
namespace {

// The lock file beside the socket: only the service's own user may open it, and so take the lock.
constexpr mode_t kLockFileMode = 0600;
// The socket itself: connecting takes write access to it, so only the service's own user (and the
// superuser) can reach the pipe, whatever the umask the service was started with.
constexpr mode_t kSocketMode = 0600;
// How often a service waiting for the pipe tries the lock again.
constexpr std::chrono::milliseconds kLockRetry{50};

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

// The process holding a lock on the file of this device and inode, as the kernel lists it in
// /proc/locks; 0 when it cannot be told (the holder is in another pid namespace, say).
pid_t LockHolder(dev_t device, ino_t inode)
{
    std::ifstream locks("/proc/locks");
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(device), minor(device),
                  static_cast<unsigned long long>(inode));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, advisory, access, where;
        long long pid = 0;
        fields >> number >> kind;
        if (kind == "->") // a process waiting for the lock, not holding it
            continue;
        if (fields >> advisory >> access >> pid >> where && kind == "FLOCK" && where == wanted && pid > 0)
            return static_cast<pid_t>(pid);
    }
    return 0;
}

// "process 123 (quillon-service)", or "another process" when the holder cannot be told.
std::string HolderText(pid_t pid)
{
    if (pid <= 0)
        return "another process";
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

// Opens the lock file (made private to this user) and takes its exclusive lock, waiting up to
// `timeout` for a service holding it; nothing with error set when it cannot be had.
std::optional<UniqueFd> TakeLock(const std::string& path, std::chrono::milliseconds timeout, std::string& error)
{
    UniqueFd lock(open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockFileMode));
    if (!lock.Valid()) {
        error = SystemError("cannot open the lock file " + path);
        return std::nullopt;
    }
    struct stat status {};
    if (fstat(lock.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "the lock file " + path + " is not a regular file; nothing is served";
        return std::nullopt;
    }
    // A lock file left open to others by an earlier version is closed to them from now on.
    if (status.st_uid == geteuid() && (status.st_mode & 07777) != kLockFileMode
        && fchmod(lock.Get(), kLockFileMode) != 0) {
        error = SystemError("cannot make the lock file " + path + " private");
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (flock(lock.Get(), LOCK_EX | LOCK_NB) == 0)
            return lock;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = SystemError("cannot lock " + path);
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kLockRetry);
    }
    error = "the pipe is in use: " + HolderText(LockHolder(status.st_dev, status.st_ino)) + " has held " + path
        + " for the " + SecondsText(timeout) + " waited; nothing was done";
    return std::nullopt;
}

// True for the name mkdtemp gives a private binding folder: ".q" and six letters or digits.
bool IsBindingFolderName(std::string_view name)
{
    return name.size() == 8 && name.starts_with(".q") && std::all_of(name.begin() + 2, name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

// Removes the private binding folders (and the socket in one) that a service killed while it bound
// its socket left in the pipe folder. Only the holder of the pipe's lock makes them, and the caller
// holds it, so every one of this user's there is left over.
void RemoveBindingLeftovers(const std::string& folder)
{
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = descriptor < 0 ? nullptr : fdopendir(dup(descriptor));
    std::vector<std::string> names;
    while (const dirent* entry = listing ? readdir(listing) : nullptr) {
        if (IsBindingFolderName(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    if (listing)
        closedir(listing);
    for (const std::string& name : names) {
        UniqueFd inner(openat(descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (!inner.Valid() || fstat(inner.Get(), &status) != 0 || status.st_uid != geteuid())
            continue;
        unlinkat(inner.Get(), "p", 0);
        unlinkat(descriptor, name.c_str(), AT_REMOVEDIR);
    }
    if (descriptor >= 0)
        close(descriptor);
}

// Binds the listening socket to path with exactly kSocketMode. A socket takes its mode from the
// umask when it is bound, so it is bound in a folder only this user can enter, given its mode
// there, and then renamed into its place: no other user can reach it at any moment.
bool BindPrivately(int listener, const std::string& path, std::string& error)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    std::string privateFolder = folder + "/.qXXXXXX";
    if (mkdtemp(privateFolder.data()) == nullptr) {
        error = SystemError("cannot make a private folder in " + folder);
        return false;
    }
    const std::string bound = privateFolder + "/p";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bool done = bound.size() < sizeof address.sun_path;
    if (!done)
        error = "the pipe socket path " + bound + " is longer than " + std::to_string(sizeof address.sun_path - 1)
            + " bytes; choose a shorter QUILLON_ROOT";
    if (done) {
        std::memcpy(address.sun_path, bound.c_str(), bound.size() + 1);
        SetSignalCleanupSocket(bound);
        done = bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
            && chmod(bound.c_str(), kSocketMode) == 0;
        if (done)
            SetSignalCleanupSocket(path);
        done = done && rename(bound.c_str(), path.c_str()) == 0;
        if (!done)
            error = SystemError("cannot make the pipe socket " + path);
    }
    unlink(bound.c_str());
    rmdir(privateFolder.c_str());
    return done;
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

std::unique_ptr<PipeServer> PipeServer::Create(const std::string& socketPath, std::chrono::milliseconds lockTimeout,
                                               std::string& error, int instances)
{
    const std::size_t longest = sizeof sockaddr_un::sun_path - 1;
    if (socketPath.empty() || socketPath.size() > longest) {
        error = "the pipe socket path \"" + socketPath + "\" is empty or longer than " + std::to_string(longest)
            + " bytes; choose a shorter QUILLON_ROOT";
        return nullptr;
    }

    // The pipe folder and its parents are the machine's: 0755 whatever the umask.
    const std::string folder = std::filesystem::path(socketPath).parent_path().string();
    if (!platform::MakeFolders(folder)) {
        error = SystemError("cannot make the folder " + folder);
        return nullptr;
    }
    if (!SecurePipeFolder(folder, error))
        return nullptr;

    std::optional<UniqueFd> lock = TakeLock(socketPath + ".lock", lockTimeout, error);
    if (!lock)
        return nullptr;

    // From here on the path is ours until the lock is released.
    if (!RemoveStaleSocket(socketPath, error))
        return nullptr;
    RemoveBindingLeftovers(folder);
    UniqueFd listener(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.Valid()) {
        error = SystemError("cannot make the pipe socket");
        return nullptr;
    }
    if (!PreparePipeSocket(listener.Get(), error))
        return nullptr;
    if (!BindPrivately(listener.Get(), socketPath, error)) {
        SetSignalCleanupSocket("");
        return nullptr;
    }
    auto server = std::unique_ptr<PipeServer>(new PipeServer(socketPath, std::move(*lock), std::move(listener)));
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

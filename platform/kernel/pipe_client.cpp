// Named pipe clients over Unix SOCK_SEQPACKET sockets at <root>/run/quillon/pipe/NAME.
//
// A Windows message pipe hands a long message out in pieces (ERROR_MORE_DATA) without losing
// a byte, while a plain recv into a short buffer would drop the rest of the message. So every
// read first peeks at the whole message's length, and a message longer than the caller's buffer
// is taken whole into the handle's pending remainder and handed out from there.
#include "platform/kernel/pipe_client.h"

#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace platform::kernel {
namespace {

constexpr std::u16string_view kPipePrefix = u"\\\\.\\pipe\\";
// Large enough for a capabilities reply (UTF-16, twice the document) in one message; the
// kernel caps it at its own maximum (net.core.wmem_max / rmem_max).
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;
// What NMPWAIT_USE_DEFAULT_WAIT stands for: the default wait of a pipe made without one.
constexpr DWORD kDefaultWaitMs = 50;

class PipeClient final : public KernelObject {
public:
    // Takes ownership of a connected socket.
    static std::shared_ptr<PipeClient> Create(int socket)
    {
        return std::shared_ptr<PipeClient>(new PipeClient(socket));
    }
    ~PipeClient() override { ::close(socket_); }

    BOOL Read(void* buffer, DWORD bytesToRead, DWORD& bytesRead) override;
    BOOL Write(const void* buffer, DWORD bytesToWrite, DWORD& bytesWritten) override;
    // Nothing is buffered on this side: a message is in the socket once WriteFile returns.
    BOOL Flush() override { return TRUE; }
    bool Size(ULONGLONG&) override
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    bool Information(BY_HANDLE_FILE_INFORMATION&) override
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    bool BasicInformation(FILE_BASIC_INFO&) override
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    // Not under the read lock: a read blocked waiting for a message must not hold this up.
    void SetMessageMode(bool messageMode) { messageMode_ = messageMode; }

private:
    explicit PipeClient(int socket) : socket_(socket) {}

    // The length of the next message without taking it; ended at the end of the connection.
    // False with the last error set when the socket fails.
    bool PeekLength(std::size_t& length, bool& ended);
    bool Receive(void* buffer, std::size_t length);
    BOOL HandOutPending(void* buffer, DWORD bytesToRead, DWORD& bytesRead);

    const int socket_;
    std::mutex readMutex_;
    std::atomic<bool> messageMode_ = false;
    std::vector<unsigned char> pending_;
    std::size_t pendingOffset_ = 0;
};

// Sets the last error for a failed receive.
void SetReceiveError(int error)
{
    SetLastError(error == ECONNRESET || error == ENOTCONN ? ERROR_BROKEN_PIPE : ErrorFromErrno(error));
}

bool PipeClient::PeekLength(std::size_t& length, bool& ended)
{
    // Every message carries SCM_CREDENTIALS (SO_PASSCRED is on); the end of the connection
    // carries none. That is the only way to tell an empty message from the end.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    for (;;) {
        msghdr message{};
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t result = ::recvmsg(socket_, &message, MSG_PEEK | MSG_TRUNC);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0) {
            SetReceiveError(errno);
            return false;
        }
        length = static_cast<std::size_t>(result);
        ended = result == 0 && message.msg_controllen == 0;
        return true;
    }
}

bool PipeClient::Receive(void* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t result = ::recv(socket_, buffer, length, 0);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0) {
            SetReceiveError(errno);
            return false;
        }
        if (static_cast<std::size_t>(result) != length) {
            SetLastError(ERROR_BROKEN_PIPE);
            return false;
        }
        return true;
    }
}

BOOL PipeClient::HandOutPending(void* buffer, DWORD bytesToRead, DWORD& bytesRead)
{
    const std::size_t remaining = pending_.size() - pendingOffset_;
    const std::size_t count = std::min<std::size_t>(remaining, bytesToRead);
    if (count > 0)
        std::memcpy(buffer, pending_.data() + pendingOffset_, count);
    pendingOffset_ += count;
    bytesRead = static_cast<DWORD>(count);
    if (pendingOffset_ == pending_.size()) {
        pending_.clear();
        pending_.shrink_to_fit();
        pendingOffset_ = 0;
        return TRUE;
    }
    if (!messageMode_)
        return TRUE;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
}

BOOL PipeClient::Read(void* buffer, DWORD bytesToRead, DWORD& bytesRead)
{
    std::lock_guard lock(readMutex_);
    if (!pending_.empty())
        return HandOutPending(buffer, bytesToRead, bytesRead);

    std::size_t length = 0;
    bool ended = false;
    if (!PeekLength(length, ended))
        return FALSE;
    if (ended) {
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    if (length <= bytesToRead) {
        if (!Receive(length > 0 ? buffer : nullptr, length))
            return FALSE;
        bytesRead = static_cast<DWORD>(length);
        return TRUE;
    }
    // A zero-byte read only reports that a message waits; it takes nothing.
    if (bytesToRead == 0) {
        if (!messageMode_)
            return TRUE;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    try {
        pending_.resize(length);
    } catch (const std::bad_alloc&) {
        pending_.clear();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!Receive(pending_.data(), length)) {
        pending_.clear();
        return FALSE;
    }
    pendingOffset_ = 0;
    return HandOutPending(buffer, bytesToRead, bytesRead);
}

BOOL PipeClient::Write(const void* buffer, DWORD bytesToWrite, DWORD& bytesWritten)
{
    // One call is one message; MSG_NOSIGNAL keeps a vanished reader from killing the process.
    static const char kEmpty = 0;
    const void* data = bytesToWrite > 0 ? buffer : &kEmpty;
    for (;;) {
        const ssize_t result = ::send(socket_, data, bytesToWrite, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0) {
            const int error = errno;
            if (error == EPIPE || error == ECONNRESET || error == ENOTCONN)
                SetLastError(ERROR_NO_DATA);
            else if (error == EMSGSIZE)
                SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            else
                SetLastErrorFromErrno(error);
            return FALSE;
        }
        bytesWritten = static_cast<DWORD>(result);
        return TRUE;
    }
}

// Connections that WaitNamedPipeW made while waiting for room, by socket path; the next
// CreateFileW of that pipe takes one instead of connecting again, so the server never sees
// a probe connection.
struct ParkedConnections {
    std::mutex mutex;
    std::multimap<std::string, int> sockets;
};

ParkedConnections& Parked()
{
    static ParkedConnections parked;
    return parked;
}

int TakeParked(const std::string& path)
{
    ParkedConnections& parked = Parked();
    std::lock_guard lock(parked.mutex);
    const auto found = parked.sockets.find(path);
    if (found == parked.sockets.end())
        return -1;
    const int socket = found->second;
    parked.sockets.erase(found);
    return socket;
}

bool HasParked(const std::string& path)
{
    ParkedConnections& parked = Parked();
    std::lock_guard lock(parked.mutex);
    return parked.sockets.count(path) > 0;
}

void Park(const std::string& path, int socket)
{
    ParkedConnections& parked = Parked();
    std::lock_guard lock(parked.mutex);
    parked.sockets.emplace(path, socket);
}

bool SetTimeout(int socket, int option, std::chrono::milliseconds timeout)
{
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof(value)) == 0;
}

// A new client socket, set up to receive credentials and to carry messages of up to
// kSocketBufferBytes; -1 with errno set on failure.
int NewClientSocket(bool nonBlocking)
{
    const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (socket < 0)
        return -1;
    const int on = 1;
    if (::setsockopt(socket, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0) {
        const int error = errno;
        ::close(socket);
        errno = error;
        return -1;
    }
    // The kernel silently caps these at its maximum; a smaller buffer only limits message size.
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof(kSocketBufferBytes));
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof(kSocketBufferBytes));
    return socket;
}

sockaddr_un SocketAddress(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

void CloseKeepingErrno(int socket)
{
    const int error = errno;
    ::close(socket);
    errno = error;
}

// Connects without waiting; a full listener queue fails with EAGAIN. -1 with errno on failure.
int ConnectNow(const std::string& path)
{
    const int socket = NewClientSocket(true);
    if (socket < 0)
        return -1;
    const sockaddr_un address = SocketAddress(path);
    int result;
    do {
        result = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        CloseKeepingErrno(socket);
        return -1;
    }
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        CloseKeepingErrno(socket);
        return -1;
    }
    return socket;
}

// Connects, waiting at most timeoutMs (NMPWAIT_WAIT_FOREVER: no limit) for room in the
// listener's queue: a Unix connect waits for room and honours the send timeout. A wait that
// runs out fails with EAGAIN. -1 with errno on failure.
int ConnectWaiting(const std::string& path, DWORD timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == NMPWAIT_WAIT_FOREVER;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    const int socket = NewClientSocket(false);
    if (socket < 0)
        return -1;
    const sockaddr_un address = SocketAddress(path);
    for (;;) {
        if (!forever) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                ::close(socket);
                errno = EAGAIN;
                return -1;
            }
            if (!SetTimeout(socket, SO_SNDTIMEO, left)) {
                CloseKeepingErrno(socket);
                return -1;
            }
        }
        if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
            break;
        if (errno != EINTR) {
            CloseKeepingErrno(socket);
            return -1;
        }
    }
    // Later writes block as long as they need to, like any synchronous pipe write.
    if (!forever && !SetTimeout(socket, SO_SNDTIMEO, std::chrono::milliseconds(0))) {
        CloseKeepingErrno(socket);
        return -1;
    }
    return socket;
}

// Whether the server at the other end may hand this client requests: a pipe is served by the
// print service, which runs as the client's own user or as the system's. Anyone else could have
// put a socket in the pipe's place. This is the Linux form of a Windows client checking its pipe's
// server, and it is done before a single byte is read.
bool ServedByTrustedUser(int socket)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer)
        return false;
    return peer.uid == ::geteuid() || peer.uid == 0;
}

// The socket path of a \\.\pipe\NAME path; empty (with the last error set) when it has none.
std::string SocketPathOf(std::u16string_view pipePath)
{
    const std::string path = HasPipePrefix(pipePath) ? PipeSocketPath(pipePath) : std::string();
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    return path;
}

} // namespace

// True when the path names a pipe: it starts with \\.\pipe\ (in any case).
bool HasPipePrefix(std::u16string_view path)
{
    return path.size() >= kPipePrefix.size() && EqualFoldingAscii(path.substr(0, kPipePrefix.size()), kPipePrefix);
}

// The NAME of \\.\pipe\NAME, or the text itself when it has no such prefix.
std::u16string_view PipeNameOf(std::u16string_view text)
{
    return HasPipePrefix(text) ? text.substr(kPipePrefix.size()) : text;
}

// True when NAME can be a socket file name: not empty, not "." or "..", no "/" and no zero.
bool IsUsablePipeName(std::u16string_view name)
{
    return !name.empty() && name != u"." && name != u".." && name.find(u'/') == std::u16string_view::npos
        && name.find(u'\0') == std::u16string_view::npos;
}

// Connects to \\.\pipe\NAME as a client; INVALID_HANDLE_VALUE with the last error on failure.
HANDLE OpenPipeClient(std::u16string_view pipePath)
{
    const std::string path = SocketPathOf(pipePath);
    if (path.empty())
        return INVALID_HANDLE_VALUE;

    int socket = TakeParked(path);
    if (socket < 0)
        socket = ConnectNow(path);
    if (socket < 0) {
        const int error = errno;
        if (error == ENOENT || error == ECONNREFUSED)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else if (error == EAGAIN)
            SetLastError(ERROR_PIPE_BUSY);
        else
            SetLastErrorFromErrno(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!ServedByTrustedUser(socket)) {
        ::close(socket);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    try {
        const HANDLE handle = AddHandle(PipeClient::Create(socket));
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        ::close(socket);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

} // namespace platform::kernel

// Waits until an instance of the named pipe can take a connection, or the timeout passes.
BOOL WaitNamedPipeW(LPCWSTR pipeName, DWORD timeoutMs)
{
    using namespace platform::kernel;
    if (!pipeName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = SocketPathOf(pipeName);
    if (path.empty())
        return FALSE;
    if (HasParked(path))
        return TRUE;

    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
        return FALSE;
    }
    const int socket = ConnectWaiting(path, timeoutMs == NMPWAIT_USE_DEFAULT_WAIT ? kDefaultWaitMs : timeoutMs);
    if (socket < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EINPROGRESS)
            SetLastError(ERROR_SEM_TIMEOUT);
        else if (error == ENOENT || error == ECONNREFUSED)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else
            SetLastErrorFromErrno(error);
        return FALSE;
    }
    try {
        Park(path, socket);
    } catch (const std::bad_alloc&) {
        ::close(socket);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

// Sets the read mode of a pipe client handle (byte or message).
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout)
{
    using namespace platform::kernel;
    const auto client = std::dynamic_pointer_cast<PipeClient>(FindHandle(pipe));
    if (!client) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Collection settings belong to byte pipes across a network; local pipes have none.
    if (maxCollectionCount || collectDataTimeout || (mode && (*mode & ~PIPE_READMODE_MESSAGE) != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode)
        client->SetMessageMode(*mode == PIPE_READMODE_MESSAGE);
    return TRUE;
}

#include "plugins/pdf/child_render.h"

#include <cerrno>
#include <csignal>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pdf {
namespace {

// The child's one-byte messages, and the parent's answer after each band.
constexpr char kBandReady = 'B';
constexpr char kFinished = 'F';
constexpr char kGoOn = 'G';

// Sends one byte; never raises SIGPIPE when the other side is gone.
bool Send(int socket, char message)
{
    for (;;) {
        const ssize_t sent = ::send(socket, &message, 1, MSG_NOSIGNAL);
        if (sent == 1)
            return true;
        if (sent < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// Receives one byte; false when the other side has closed or died.
bool Receive(int socket, char& message)
{
    for (;;) {
        const ssize_t received = ::recv(socket, &message, 1, 0);
        if (received == 1)
            return true;
        if (received < 0 && errno == EINTR)
            continue;
        return false;
    }
}

class SharedMemory final {
public:
    explicit SharedMemory(std::size_t bytes)
        : bytes_(bytes),
          address_(::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))
    {}
    ~SharedMemory()
    {
        if (Valid())
            ::munmap(address_, bytes_);
    }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    bool Valid() const { return address_ != MAP_FAILED; }
    std::span<BYTE> Bytes() const { return {static_cast<BYTE*>(address_), bytes_}; }

private:
    std::size_t bytes_;
    void* address_;
};

// In the child: draws the bands, announcing each and waiting until the parent has taken it.
[[noreturn]] void DrawInChild(const BandRenderer& renderer, std::span<BYTE> buffer, int socket)
{
    const bool drawn = renderer.Render(buffer, [socket](const Band&) {
        char answer = 0;
        return Send(socket, kBandReady) && Receive(socket, answer) && answer == kGoOn;
    });
    if (drawn)
        Send(socket, kFinished);
    // No exit handlers and no destructors of the parent's objects run in the child.
    ::_exit(drawn ? 0 : 1);
}

} // namespace

bool RenderInChildProcess(const BandRenderer& renderer, const std::function<bool(const Band&)>& sink)
{
    const SharedMemory shared(renderer.BufferBytes());
    if (!shared.Valid())
        return false;
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return false;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // A child never outlives the program it draws for, even one stuck in a page that never ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        ::close(sockets[0]);
        DrawInChild(renderer, shared.Bytes(), sockets[1]);
    }
    ::close(sockets[1]);
    if (child < 0) {
        ::close(sockets[0]);
        return false;
    }

    bool taken = true;
    for (int index = 0; taken && index < renderer.BandCount(); ++index) {
        char message = 0;
        taken = Receive(sockets[0], message) && message == kBandReady
            && sink(renderer.BandAt(index, shared.Bytes().data())) && Send(sockets[0], kGoOn);
    }
    char last = 0;
    const bool finished = taken && Receive(sockets[0], last) && last == kFinished;
    // A child still waiting for its answer sees the socket close and gives up.
    ::close(sockets[0]);

    int status = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    // A host that ignores SIGCHLD has its children reaped for it: then the last message decides.
    const bool exitedWell = reaped < 0 ? errno == ECHILD : WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return finished && exitedWell;
}

} // namespace pdf

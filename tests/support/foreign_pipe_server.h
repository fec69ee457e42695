// A stand-in pipe server that listens as another user, for tests that a client refuses it.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace testing_support {

// The user nobody, when this process may become it (it runs as the superuser); null otherwise.
inline const passwd* SwitchableUser()
{
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

// Serves one connection at a socket path from a child process that binds the socket and then
// listens as another user: to a client, the pipe is that user's. The child sends the request as
// soon as a client connects and then waits for the end of the connection.
class ForeignPipeServer final {
public:
    ForeignPipeServer(const std::string& socketPath, const passwd& user, const std::string& request)
    {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            Serve(socketPath, user, request, ready[1]);
        }
        ::close(ready[1]);
        char signal = 0;
        if (child_ < 0 || ::read(ready[0], &signal, 1) != 1)
            Reap();
        ::close(ready[0]);
    }
    ~ForeignPipeServer()
    {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            Reap();
        }
    }
    ForeignPipeServer(const ForeignPipeServer&) = delete;
    ForeignPipeServer& operator=(const ForeignPipeServer&) = delete;

    // Waits for the server: true when the client went away without a reply, either closing the
    // connection or resetting it with the request still unread.
    bool EndedWithoutReply() { return Reap() == 0; }

private:
    [[noreturn]] static void Serve(const std::string& socketPath, const passwd& user, const std::string& request,
                                   int ready)
    {
        ::alarm(30); // never outlive a test that went wrong
        const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::setresgid(user.pw_gid, user.pw_gid, user.pw_gid) != 0
            || ::setresuid(user.pw_uid, user.pw_uid, user.pw_uid) != 0 || ::listen(listener, 1) != 0
            || ::write(ready, "r", 1) != 1)
            ::_exit(2);
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::setsockopt(connection, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        ::send(connection, request.data(), request.size(), MSG_NOSIGNAL);
        // Every message, even an empty one, carries credentials; the end of the connection does not.
        char reply[16];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec part{reply, sizeof reply};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(connection, &header, 0);
        const bool ended = (got == 0 && header.msg_controllen == 0) || (got < 0 && errno == ECONNRESET);
        ::_exit(ended ? 0 : 3);
    }

    // The child's exit code, -1 when it did not exit normally or was reaped already.
    int Reap()
    {
        if (child_ <= 0)
            return -1;
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {}
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t child_ = -1;
};

} // namespace testing_support

// A stand-in for the tool, for testing quillon-service against tool behaviour the real tool never
// shows. It connects to the pipe under QUILLON_ROOT and acts out the mode named by its argument.
#include "platform/kernel/host.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A connection to the pipe, or -1 when it cannot be made.
int TryConnect()
{
    std::string path = platform::PipeSocketPath(u"QuillonPipe");
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    int on = 1;
    int size = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int Connect()
{
    const int fd = TryConnect();
    if (fd < 0)
        std::exit(9);
    return fd;
}

std::string ReadRequest(int fd)
{
    ssize_t length = recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1);
    ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
    return std::string(buffer.data(), static_cast<size_t>(got > 0 ? got : 0));
}

void Reply(int fd, const std::string& message)
{
    send(fd, message.data(), message.size(), MSG_NOSIGNAL);
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    // Started by a service command with a real switch: it echoes.
    if (mode == "-a" || mode == "-b" || mode == "-c")
        mode = "echo";
    if (mode == "exit-early")
        return 4;
    // With <root>/fake-tool.intruder there, a process of its own connects first, as a process the
    // service did not start would, and writes what it got into that file: "closed" or the request,
    // or "refused" when it could not connect. With <root>/fake-tool.intruder-uid holding a user
    // number, it connects as that user, and answers a request it gets with 31337.
    const std::string intruder = platform::RootFolder() + "/fake-tool.intruder";
    if (access(intruder.c_str(), F_OK) == 0) {
        const pid_t child = fork();
        if (child == 0) {
            FILE* file = std::fopen(intruder.c_str(), "a");
            unsigned uid = 0;
            if (FILE* user = std::fopen((intruder + "-uid").c_str(), "r")) {
                if (std::fscanf(user, "%u", &uid) != 1 || setgid(uid) != 0 || setuid(uid) != 0)
                    _exit(8);
                std::fclose(user);
            }
            const int own = TryConnect();
            const std::string got = own < 0 ? "refused" : ReadRequest(own);
            if (own >= 0 && !got.empty() && uid != 0)
                Reply(own,
                      std::string("3\0"
                                  "1\0"
                                  "3\0"
                                  "3\0"
                                  "7\0",
                                  10));
            if (file) {
                std::fprintf(file, "%s\n", got.empty() ? "closed" : got.c_str());
                std::fclose(file);
            }
            _exit(0);
        }
        waitpid(child, nullptr, 0);
    }
    int fd = Connect();
    std::string pidFile = platform::RootFolder() + "/fake-tool.pid";
    if (FILE* file = std::fopen(pidFile.c_str(), "w")) {
        std::fprintf(file, "%d", static_cast<int>(getpid()));
        std::fclose(file);
    }
    std::string request = ReadRequest(fd);
    if (mode == "echo")
        Reply(fd, request);
    if (mode == "slow-echo") {
        usleep(200'000);
        Reply(fd, request);
    }
    if (mode == "empty")
        Reply(fd, "");
    if (mode == "odd")
        Reply(fd, std::string("A\0B", 3));
    if (mode == "large")
        Reply(fd, std::string(3'000'000, 'x'));
    if (mode == "crash")
        std::abort();
    if (mode == "hang")
        pause();
    if (mode == "exit3-after-reply") {
        Reply(fd, std::string("1\0", 2));
        return 3;
    }
    if (mode == "linger-after-reply") {
        Reply(fd, std::string("1\0", 2));
        pause();
    }
    // "close": nothing is sent.
    close(fd);
    return 0;
}

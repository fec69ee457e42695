// The named pipe client against a SOCK_SEQPACKET server made inside the test.
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "tests/platform/kernel_test_support.h"
#include "tests/support/foreign_pipe_server.h"
#include "tests/support/process_state.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char16_t* kPipe = u"\\\\.\\pipe\\TestPipe";
constexpr int kBufferBytes = 4 * 1024 * 1024;

void Configure(int socket)
{
    const int on = 1;
    ASSERT_EQ(::setsockopt(socket, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)), 0);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kBufferBytes, sizeof(kBufferBytes));
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &kBufferBytes, sizeof(kBufferBytes));
}

// The service's side of the pipe: a listening SOCK_SEQPACKET socket at the pipe's path.
class PipeServer {
public:
    explicit PipeServer(int backlog = 4)
    {
        const std::string path = platform::PipeSocketPath(kPipe);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        Configure(listener_);
        address_.sun_family = AF_UNIX;
        std::strncpy(address_.sun_path, path.c_str(), sizeof(address_.sun_path) - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address_), sizeof(address_)), 0);
        EXPECT_EQ(::listen(listener_, backlog), 0);
    }
    ~PipeServer()
    {
        for (const int socket : accepted_)
            ::close(socket);
        if (listener_ >= 0)
            ::close(listener_);
    }

    int Accept()
    {
        const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_GE(socket, 0);
        Configure(socket);
        accepted_.push_back(socket);
        return socket;
    }

    // A raw connection of another client, made to fill the listener's queue.
    int ConnectOther()
    {
        const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        EXPECT_EQ(::connect(socket, reinterpret_cast<sockaddr*>(&address_), sizeof(address_)), 0);
        accepted_.push_back(socket);
        return socket;
    }

    void StopListening()
    {
        ::close(listener_);
        listener_ = -1;
    }

private:
    int listener_ = -1;
    sockaddr_un address_{};
    std::vector<int> accepted_;
};

HANDLE OpenPipe()
{
    return CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void SetMessageMode(HANDLE pipe)
{
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
}

void SendMessage(int socket, const std::vector<unsigned char>& bytes)
{
    ASSERT_EQ(::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

std::vector<unsigned char> Pattern(std::size_t size, unsigned seed)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

// Reads one message in chunks of chunkSize the way the tool does, checking the protocol.
std::vector<unsigned char> ReadWholeMessage(HANDLE pipe, DWORD chunkSize)
{
    std::vector<unsigned char> message;
    std::vector<unsigned char> chunk(chunkSize);
    for (;;) {
        DWORD read = 0;
        SetLastError(0);
        const BOOL ok = ReadFile(pipe, chunk.data(), chunkSize, &read, nullptr);
        message.insert(message.end(), chunk.begin(), chunk.begin() + read);
        if (ok)
            return message;
        EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
        EXPECT_EQ(read, chunkSize);
        if (GetLastError() != ERROR_MORE_DATA)
            return message;
    }
}

class PipeClientTest : public ::testing::Test {
protected:
    platform_test::PrivateRoot root_;
};

TEST_F(PipeClientTest, MissingPipeIsFileNotFoundAtOnce)
{
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(WaitNamedPipeW(kPipe, NMPWAIT_WAIT_FOREVER));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // A socket file left behind by a server that is gone is no pipe either.
    PipeServer server;
    server.StopListening();
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PipeClientTest, BadPipeNamesAreRejected)
{
    EXPECT_EQ(CreateFileW(u"\\\\.\\pipe\\a/../../x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(CreateFileW(u"\\\\.\\pipe\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(WaitNamedPipeW(nullptr, 10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WaitNamedPipeW(u"C:\\not-a-pipe", 10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(PipeClientTest, LongMessagesComeInChunksByteExact)
{
    PipeServer server;
    // The prefix is matched in any case, as Windows does.
    const HANDLE pipe
        = CreateFileW(u"\\\\.\\PIPE\\TestPipe", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    const int peer = server.Accept();

    // Larger than the default socket buffer, and not a multiple of any chunk size used.
    const auto big = Pattern(300000, 7);
    const auto second = Pattern(131072, 3);
    const auto small = Pattern(100, 5);
    SendMessage(peer, big);
    SendMessage(peer, second);
    SendMessage(peer, small);

    EXPECT_EQ(ReadWholeMessage(pipe, 2048), big);
    // Exactly the buffer's size: one read, no ERROR_MORE_DATA.
    EXPECT_EQ(ReadWholeMessage(pipe, 131072), second);
    EXPECT_EQ(ReadWholeMessage(pipe, 4096), small);
    EXPECT_TRUE(CloseHandle(pipe));
}

TEST_F(PipeClientTest, ZeroByteReadReportsAWaitingMessageWithoutTakingIt)
{
    PipeServer server;
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    const auto message = Pattern(10, 1);
    SendMessage(server.Accept(), message);

    char buffer[64];
    DWORD read = 99;
    EXPECT_FALSE(ReadFile(pipe, buffer, 0, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(read, 0u);

    // Half taken: the rest is still pending, and a zero-byte read still says so.
    EXPECT_FALSE(ReadFile(pipe, buffer, 4, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_FALSE(ReadFile(pipe, buffer, 0, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(read, 6u);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 6),
              std::vector<unsigned char>(message.begin() + 4, message.end()));
    CloseHandle(pipe);
}

TEST_F(PipeClientTest, EmptyMessageIsNotTheEndOfTheConnection)
{
    PipeServer server;
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    SetMessageMode(pipe);
    const int peer = server.Accept();
    SendMessage(peer, {});
    SendMessage(peer, Pattern(3, 0));
    ::shutdown(peer, SHUT_RDWR);

    char buffer[16];
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(read, 3u);
    EXPECT_FALSE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    EXPECT_EQ(read, 0u);
    CloseHandle(pipe);
}

TEST_F(PipeClientTest, ByteModeHandsOutAMessageAcrossReads)
{
    PipeServer server;
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const auto message = Pattern(10, 9);
    SendMessage(server.Accept(), message);

    std::vector<unsigned char> got;
    unsigned char buffer[4];
    for (int i = 0; i < 3; ++i) {
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr));
        got.insert(got.end(), buffer, buffer + read);
    }
    EXPECT_EQ(got, message);
    CloseHandle(pipe);
}

TEST_F(PipeClientTest, WritesAreMessagesAndAGonePeerIsNoData)
{
    PipeServer server;
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const int peer = server.Accept();

    const char16_t reply[] = u"42";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(pipe, reply, 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    EXPECT_TRUE(WriteFile(pipe, nullptr, 0, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(FlushFileBuffers(pipe));

    char buffer[16];
    EXPECT_EQ(::recv(peer, buffer, sizeof(buffer), 0), 4);
    EXPECT_EQ(std::memcmp(buffer, reply, 4), 0);
    // The empty message arrives as a message of its own, with credentials.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    EXPECT_EQ(::recvmsg(peer, &header, 0), 0);
    EXPECT_GT(header.msg_controllen, 0u);

    // Writing to a peer that is gone must fail, not raise SIGPIPE.
    ::close(peer);
    EXPECT_FALSE(WriteFile(pipe, reply, 4, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
    CloseHandle(pipe);
}

TEST_F(PipeClientTest, BusyPipeWaitsUntilTheServerAccepts)
{
    PipeServer server(0);
    server.ConnectOther(); // the one place in the queue is taken
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);

    // The queue is freed only once this thread is blocked waiting for room in it.
    const pid_t waiter = gettid();
    std::atomic<bool> returned = false;
    std::atomic<bool> waited = false;
    std::thread acceptor([&] {
        using testing_support::CallState;
        CallState state = CallState::NotYet;
        while (!returned && (state = testing_support::StateIn(waiter, SYS_connect)) == CallState::NotYet)
            testing_support::PauseBetweenLooks();
        waited = state == CallState::Sleeping;
        server.Accept();
    });
    EXPECT_TRUE(WaitNamedPipeW(kPipe, NMPWAIT_WAIT_FOREVER));
    returned = true;
    acceptor.join();
    EXPECT_TRUE(waited) << "WaitNamedPipeW did not wait for room";

    // The connection made while waiting is the one CreateFileW hands out.
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const int peer = server.Accept();
    SendMessage(peer, Pattern(5, 2));
    SetMessageMode(pipe);
    EXPECT_EQ(ReadWholeMessage(pipe, 16), Pattern(5, 2));
    CloseHandle(pipe);
}

TEST_F(PipeClientTest, WaitOnAQueueThatStaysFullTimesOut)
{
    PipeServer server(0);
    server.ConnectOther();
    EXPECT_FALSE(WaitNamedPipeW(kPipe, 100));
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    EXPECT_FALSE(WaitNamedPipeW(kPipe, NMPWAIT_USE_DEFAULT_WAIT));
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    EXPECT_EQ(OpenPipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
}

// Waits for a forked child and returns its exit code, -1 when it did not exit normally.
int ExitCodeOf(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PipeClientTest, APipeServedByAnotherUserIsRefusedBeforeAnythingIsRead)
{
    const passwd* nobody = testing_support::SwitchableUser();
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to serve the pipe as the user nobody";
    const std::string path = platform::PipeSocketPath(kPipe);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testing_support::ForeignPipeServer server(path, *nobody, std::string("Q\0", 2));

    const HANDLE pipe = OpenPipe();
    EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    if (pipe != INVALID_HANDLE_VALUE)
        CloseHandle(pipe);
    EXPECT_TRUE(server.EndedWithoutReply());
}

TEST_F(PipeClientTest, APipeServedByTheSystemIsTakenByAnyUser)
{
    const passwd* nobody = testing_support::SwitchableUser();
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to be a client as the user nobody";
    PipeServer server;
    const std::string path = platform::PipeSocketPath(kPipe);
    // Let the other user reach the socket at all.
    for (std::filesystem::path folder = std::filesystem::path(path).parent_path(); folder != root_.Path().parent_path();
         folder = folder.parent_path())
        ::chmod(folder.c_str(), 0755);
    ::chmod(path.c_str(), 0777);
    const pid_t client = ::fork();
    ASSERT_GE(client, 0);
    if (client == 0) {
        ::alarm(30);
        if (::setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0
            || ::setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0)
            ::_exit(2);
        const HANDLE pipe = OpenPipe();
        ::_exit(pipe == INVALID_HANDLE_VALUE ? 3 : 0);
    }
    // The connection waits in the listener's queue; the client's answer is its exit code.
    EXPECT_EQ(ExitCodeOf(client), 0);
}

TEST_F(PipeClientTest, HandleStateAndReadArgumentsAreChecked)
{
    PipeServer server;
    const HANDLE pipe = OpenPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

    DWORD mode = PIPE_READMODE_MESSAGE | 0x1; // PIPE_NOWAIT is not offered
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DWORD count = 1;
    mode = PIPE_READMODE_MESSAGE;
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &mode, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetNamedPipeHandleState(reinterpret_cast<HANDLE>(0x1235), &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    DWORD read = 0;
    EXPECT_FALSE(ReadFile(pipe, nullptr, 10, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetFileSize(pipe, nullptr), INVALID_FILE_SIZE);

    EXPECT_TRUE(CloseHandle(pipe));
    EXPECT_FALSE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace

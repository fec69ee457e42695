// Reading a request from a real pipe connection into a small buffer: the chunks of a long message,
// the text of the last one only, and a service that hangs up.
#include "pipe/request_reading.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "tests/support/temp_root.h"

#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char16_t* kPipe = u"\\\\.\\pipe\\QuillonPipe";

// The service's end of one connection, and the tool's pipe handle in message mode.
class Connection : public ::testing::Test {
protected:
    Connection()
    {
        const std::string path = platform::PipeSocketPath(kPipe);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 1), 0);
        pipe_ = CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
        service_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        DWORD mode = PIPE_READMODE_MESSAGE;
        EXPECT_TRUE(SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr));
    }
    ~Connection() override
    {
        CloseHandle(pipe_);
        ::close(service_);
        ::close(listener_);
    }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(::send(service_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    }

    testing_support::TempRoot root_;
    int listener_ = -1;
    int service_ = -1;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

TEST_F(Connection, ALongMessageArrivesInChunksAndTheRequestIsTheLastOneAlone)
{
    // Two chunks of 8 bytes, then 3: "E", and a final odd byte that is a character of its own.
    Send(std::string("A\0B\0C\0D\0W\0X\0Y\0Z\0E\0F", 19));
    std::vector<BYTE> buffer(8);
    std::u16string request = u"stale";
    ASSERT_TRUE(aio::ReadRequest(pipe_, buffer.data(), 8, request));
    EXPECT_EQ(request, u"EF");
}

TEST_F(Connection, TheTextEndsAtTheFirstZeroCharacter)
{
    Send(std::string("A\0B\0\0\0C\0", 8));
    std::vector<BYTE> buffer(64);
    std::u16string request;
    ASSERT_TRUE(aio::ReadRequest(pipe_, buffer.data(), 64, request));
    EXPECT_EQ(request, u"AB");
}

TEST_F(Connection, AServiceThatHangsUpBeforeSendingFailsTheRead)
{
    ::shutdown(service_, SHUT_RDWR);
    std::vector<BYTE> buffer(64);
    std::u16string request;
    EXPECT_FALSE(aio::ReadRequest(pipe_, buffer.data(), 64, request));
}

} // namespace

// The -c request as the service's pipe delivers it: the input is one message on a real pipe
// connection, read in chunks into the 131072-byte request buffer by the tool's own reading code,
// then parsed as a job request and asked for the options the tool looks at.
#include "fuzz/fuzz_support.h"
#include "pipe/job_request.h"
#include "pipe/request_reading.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char16_t* kPipeName = u"\\\\.\\pipe\\QuillonPipe";
constexpr DWORD kJobRequestBufferSize = 131072;
// The service end's send buffer: room for messages of several buffers, which reach the tool in
// chunks (the kernel may cap it at its own maximum).
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

int g_listener = -1;

// The service's end: a listening SOCK_SEQPACKET socket where the pipe's socket file lies.
int Listen()
{
    const std::string path = platform::PipeSocketPath(kPipeName);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener < 0 || path.size() >= sizeof address.sun_path)
        std::abort();
    path.copy(address.sun_path, path.size());
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener, 4) != 0)
        std::abort();
    return listener;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    g_listener = Listen();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HANDLE pipe = CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        std::abort();
    const int service = ::accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (service < 0)
        std::abort();
    ::setsockopt(service, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    // A message the socket cannot carry in one piece is cut to what it carries: the pipe never
    // hands out more than one send.
    std::size_t length = size;
    while (::send(service, data, length, MSG_NOSIGNAL) < 0 && errno == EMSGSIZE && length > 0)
        length /= 2;

    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    std::vector<BYTE> buffer(kJobRequestBufferSize);
    std::u16string request;
    if (aio::ReadRequest(pipe, buffer.data(), kJobRequestBufferSize, request)) {
        aio::PrintJobRequest job;
        std::u16string printerName;
        aio::ParseJobRequest(request, printerName, job);
        job.HasOption("PaperSizeAuto");
        job.HasOption("ShrinkToFit");
        if (!job.options.empty())
            job.HasOption(job.options.front());
    }
    CloseHandle(pipe);
    ::close(service);
    return 0;
}

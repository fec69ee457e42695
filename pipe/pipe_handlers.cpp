#include "pipe/pipe_handlers.h"

#include "driver/log_sink.h"
#include "pipe/job_request.h"
#include "pipe/request_reading.h"
#include "pipe/text_conversions.h"
#include "platform/crt/crt.h"
#include "platform/kernel/kernel.h"
#include "print/print_impl.h"
#include "ticket/print_ticket_queries.h"

#include <array>
#include <functional>
#include <sstream>

namespace aio {

namespace {

constexpr const WCHAR* kPipeName = u"\\\\.\\pipe\\QuillonPipe";
constexpr DWORD kBusyPipeWaitMs = 5000;
// Request buffers: printer names for -a and -b, whole job requests (with their tickets) for -c.
constexpr DWORD kNameRequestBufferSize = 2048;
constexpr DWORD kJobRequestBufferSize = 131072;

enum : int { kExchangeDone = 0, kExchangeFailed = 1 };

// Connects to the service's pipe, waiting as long as it is busy. Null after a console message.
HANDLE ConnectToServicePipe()
{
    for (;;) {
        HANDLE pipe = CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            wprintf(u"The named pipe (%s) is connected.\n", kPipeName);
            return pipe;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            wprintf(u"Unable to open named pipe w/err 0x%08lx\n", static_cast<unsigned long>(error));
            return nullptr;
        }
        if (!WaitNamedPipeW(kPipeName, kBusyPipeWaitMs)) {
            wprintf(u"Could not open pipe: 5 second wait timed out.");
            return nullptr;
        }
    }
}

// Writes the reply as one message of UTF-16 code units without a terminating zero.
void WriteReply(HANDLE pipe, const std::u16string& reply)
{
    DWORD bytesWritten = 0;
    const DWORD bytes = static_cast<DWORD>(reply.size() * sizeof(char16_t));
    if (WriteFile(pipe, reply.data(), bytes, &bytesWritten, nullptr)) {
        wprintf(u"Send %ld bytes to server: \"%s\"\n", static_cast<long>(bytesWritten), ConsoleText(reply).c_str());
    } else {
        wprintf(u"WriteFile to pipe failed w/err 0x%08lx\n", static_cast<unsigned long>(GetLastError()));
        FlushFileBuffers(pipe);
    }
}

// One whole exchange: connect, message mode, read the request into `buffer`, run `operation` on
// it, write its reply, close.
int RunExchange(BYTE* buffer, DWORD bufferSize, const std::function<std::u16string(const std::u16string&)>& operation)
{
    HANDLE pipe = ConnectToServicePipe();
    if (pipe == nullptr)
        return kExchangeFailed;

    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
        wprintf(u"SetNamedPipeHandleState failed w/err 0x%08lx\n", static_cast<unsigned long>(GetLastError()));
        CloseHandle(pipe);
        return kExchangeFailed;
    }

    std::u16string request;
    if (!ReadRequest(pipe, buffer, bufferSize, request)) {
        CloseHandle(pipe);
        return kExchangeFailed;
    }

    WriteReply(pipe, operation(request));
    CloseHandle(pipe);
    return kExchangeDone;
}

// -a and -b: the request is a printer name, the reply the document of `query` when it returned
// exactly S_OK (any other result, success codes included, gives an empty reply).
int RunDocumentQuery(HRESULT (*query)(const std::u16string&, std::string&))
{
    std::array<BYTE, kNameRequestBufferSize> buffer;
    return RunExchange(buffer.data(), kNameRequestBufferSize, [query](const std::u16string& printerName) {
        std::string document;
        const HRESULT result = query(printerName, document);
        return result == S_OK ? WidenText(document) : std::u16string();
    });
}

} // namespace

int PerformGetCapabilities()
{
    return RunDocumentQuery(QueryPrintCapabilities);
}

int PerformGetTicket()
{
    return RunDocumentQuery(GetDefaultPrintTicket);
}

int PerformPrintJob()
{
    std::array<BYTE, kJobRequestBufferSize> buffer;
    return RunExchange(buffer.data(), kJobRequestBufferSize, [](const std::u16string& request) {
        PrintJobRequest job;
        std::u16string printerName;
        ParseJobRequest(request, printerName, job);

        std::int32_t jobId = 0;
        PrintImpl::PrintFileImpl(printerName.c_str(), job, jobId);
        QLOG(base::debug) << "PrintFileImpl return job id: " << jobId;

        std::ostringstream reply;
        reply << jobId;
        return WidenText(reply.str());
    });
}

} // namespace aio

#include "print/job_dispatch.h"

#include "driver/function_tracer.h"
#include "driver/log_sink.h"
#include "platform/kernel/kernel.h"
#include "print/print_impl.h"
#include "ticket/print_ticket_api.h"
#include "ticket/ticket_to_devmode.h"

#include <array>
#include <cstring>
#include <vector>

namespace aio {

namespace {

constexpr std::array<const char*, 5> kImageMimeTypes
    = {"image/jpeg", "image/png", "image/bmp", "image/tiff", "image/gif"};

// Gives the provider's device mode back to it on every road out of the job.
class DevModeRelease final {
public:
    explicit DevModeRelease(DEVMODEW* devmode) : devmode_(devmode) {}
    ~DevModeRelease() { g_print_ticket_api.release_memory(devmode_); }
    DevModeRelease(const DevModeRelease&) = delete;
    DevModeRelease& operator=(const DevModeRelease&) = delete;

private:
    DEVMODEW* devmode_;
};

// The document name of the job: its UTF-8 name up to the first zero byte, or the default for a
// job that names none. False when the name does not convert.
bool DocumentNameOf(const std::string& utf8_name, std::u16string& document_name)
{
    if (utf8_name.empty()) {
        document_name = kDefaultDocumentName;
        return true;
    }
    const int length = static_cast<int>(std::strlen(utf8_name.c_str()));
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8_name.c_str(), length, nullptr, 0);
    if (needed <= 0)
        return false;
    std::vector<WCHAR> buffer(static_cast<std::size_t>(needed) + 1);
    const int converted = MultiByteToWideChar(CP_UTF8, 0, utf8_name.c_str(), length, buffer.data(), needed);
    buffer[static_cast<std::size_t>(converted > 0 ? converted : 0)] = 0;
    document_name = buffer.data();
    return true;
}

} // namespace

bool IsImageMimeType(const std::string& mime_type)
{
    for (const char* image_type : kImageMimeTypes)
        if (mime_type == image_type)
            return true;
    return false;
}

bool PrintImpl::PrintFileImpl(const WCHAR* printer_name, const PrintJobRequest& job, std::int32_t& job_id)
{
    FunctionTracer tracer("aio::PrintImpl::PrintFileImpl");
    // Not looked at: without the API the conversion below fails by itself.
    EnsurePrintTicketApi();

    DEVMODEW* devmode = nullptr;
    const std::u16string printer(printer_name ? printer_name : u"");
    if (FAILED(PrintTicketToDevMode(printer, job.print_ticket, &devmode))) {
        QLOG(base::debug) << "In PrintFileImpl, PrintTicketToDevMode failed.";
        return false;
    }
    const DevModeRelease release(devmode);

    std::u16string document_name;
    if (!DocumentNameOf(job.document_name, document_name))
        return false;

    if (IsImageMimeType(job.mime_type)) {
        const bool paper_size_auto = job.HasOption(kPaperSizeAutoOption);
        const bool shrink_to_fit = job.HasOption(kShrinkToFitOption);
        return PrintImageImpl(document_name, job_id, printer, job.file_path, devmode, paper_size_auto, shrink_to_fit);
    }
    return PrintDocImpl(job_id, printer, job.file_path, document_name, devmode);
}

} // namespace aio

// Interim routing of the -c command, for picture jobs only: the job's ticket becomes a device mode
// and a picture goes to the picture path. Documents are not printed by this build (the job fails
// with id 0). The job dispatch replaces this file.
#include "print/print_impl.h"

#include "platform/kernel/kernel.h"
#include "ticket/print_ticket_api.h"
#include "ticket/ticket_to_devmode.h"

#include <algorithm>
#include <vector>

namespace aio {

bool PrintImpl::PrintFileImpl(const WCHAR* printer_name, const PrintJobRequest& job, std::int32_t& job_id)
{
    static constexpr const char* kPictureTypes[] = {"image/jpeg", "image/png", "image/bmp", "image/tiff", "image/gif"};
    if (std::find(std::begin(kPictureTypes), std::end(kPictureTypes), job.mime_type) == std::end(kPictureTypes))
        return false;
    EnsurePrintTicketApi();
    const std::u16string printer(printer_name);
    DEVMODEW* devmode = nullptr;
    if (FAILED(PrintTicketToDevMode(printer, job.print_ticket, &devmode)))
        return false;
    std::u16string documentName = u"FromMarlowin";
    if (!job.document_name.empty()) {
        const int units = MultiByteToWideChar(CP_UTF8, 0, job.document_name.c_str(),
                                              static_cast<int>(job.document_name.size()), nullptr, 0);
        std::vector<WCHAR> name(static_cast<std::size_t>(std::max(units, 0)));
        MultiByteToWideChar(CP_UTF8, 0, job.document_name.c_str(), static_cast<int>(job.document_name.size()),
                            name.data(), units);
        documentName.assign(name.begin(), name.end());
    }
    const bool printed = PrintImageImpl(documentName, job_id, printer, job.file_path, devmode,
                                        job.HasOption("PaperSizeAuto"), job.HasOption("ShrinkToFit"));
    g_print_ticket_api.release_memory(devmode);
    return printed;
}

} // namespace aio

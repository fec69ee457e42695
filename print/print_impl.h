// The print paths of the -c command: the job dispatch, the picture path and the document path.
#pragma once

#include "pipe/job_request.h"
#include "platform/spooler/spooler.h"

#include <cstdint>
#include <string>

namespace aio {

class PrintImpl final {
public:
    // Turns the job's ticket into a device mode and routes the job by content type to the picture
    // or the document path; the path writes the job identifier. True when the path succeeded.
    static bool PrintFileImpl(const WCHAR* printer_name, const PrintJobRequest& job, std::int32_t& job_id);

    // Prints one picture as one page placed in the printable area. `devmode` may be a pointer or a
    // movable global memory handle. The job identifier is written once the printer has taken the
    // whole job; a job started and then thrown away leaves it as it was. True when it was written.
    static bool PrintImageImpl(const std::u16string& document_name, std::int32_t& job_id,
                               const std::u16string& printer_name, const std::u16string& file_path, DEVMODEW* devmode,
                               bool paper_size_auto, bool shrink_to_fit);

    // Prints a PDF document page by page through metafiles; writes the spool result into the job
    // identifier in every case. True when that is greater than 0.
    static bool PrintDocImpl(std::int32_t& job_id, const std::u16string& printer_name, const std::u16string& file_path,
                             const std::u16string& document_name, DEVMODEW* devmode);
};

} // namespace aio

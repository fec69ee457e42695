// The job sink of CUPS queues. StartDocW creates the CUPS job, carrying the device mode as the job's
// IPP attributes, and its id is the document's job id; the document is drawn into an unnamed
// private file (it vanishes with the process whatever happens); EndDoc sends that PDF as the job's
// one document. A job that is thrown away is cancelled on the server. Every failure is a Windows
// failure answer with the last error set and one line on standard error.
#include "platform/spooler/job_sink.h"

#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/report_once.h"
#include "platform/spooler/cups_connection.h"
#include "platform/spooler/spooler.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace platform::spooler {
namespace {

constexpr std::size_t kSendChunkBytes = 64 * 1024;
// The longest job name IPP carries, in bytes.
constexpr std::size_t kMaxJobNameBytes = 255;

// An unnamed file in the temporary folder, readable by its owner only; -1 with errno set.
int OpenPrivateFile()
{
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
    const int file = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file >= 0 || (errno != EOPNOTSUPP && errno != EISDIR))
        return file;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string pattern = std::string(folder) + "/quillon-job-XXXXXX";
    const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(pattern.c_str());
    return named;
}

// The job's name as the server and its operators get it: the document name in UTF-8, each control
// character (which would reach the queue's listings and logs, and terminals showing them) made a
// space, cut to what IPP carries without splitting a character.
std::string JobName(std::u16string_view documentName)
{
    std::u16string cleaned(documentName);
    for (char16_t& unit : cleaned) {
        if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0))
            unit = u' ';
    }
    std::string name = Utf16ToUtf8(cleaned);
    if (name.size() > kMaxJobNameBytes) {
        std::size_t end = kMaxJobNameBytes;
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
            --end;
        name.resize(end);
    }
    return name;
}

// The options of a job printed with this device mode: the sheet (its size as the queue lists it,
// and its margins, all zero for a borderless paper), copies, sides and colour. Pages reach the
// queue already turned on their sheets, so no orientation is asked for.
int JobOptions(const PrinterDefinition& printer, const FullDevMode& mode, http_t* http, cups_dest_t* dest,
               cups_dinfo_t* info, cups_option_t** options)
{
    const DEVMODEW& devMode = mode.devMode;
    auto hundredths = [](std::int32_t micrometres) { return (std::max(micrometres, 0) + 5) / 10; };
    const int left = hundredths(mode.extra.marginLeft);
    const int top = hundredths(mode.extra.marginTop);
    const int right = hundredths(mode.extra.marginRight);
    const int bottom = hundredths(mode.extra.marginBottom);
    const bool borderless = left == 0 && top == 0 && right == 0 && bottom == 0;
    int width = devMode.dmPaperWidth * 10;
    int length = devMode.dmPaperLength * 10;
    // Tenths of a millimetre lose a little of sizes given in inches: the queue's own size is sent.
    cups_size_t listed{};
    if (cupsGetDestMediaBySize(http, dest, info, width, length, borderless ? CUPS_MEDIA_FLAGS_BORDERLESS : 0,
                               &listed)) {
        width = listed.width;
        length = listed.length;
    }
    const std::string mediaCol = "{media-size={x-dimension=" + std::to_string(width)
        + " y-dimension=" + std::to_string(length) + "} media-left-margin=" + std::to_string(left)
        + " media-top-margin=" + std::to_string(top) + " media-right-margin=" + std::to_string(right)
        + " media-bottom-margin=" + std::to_string(bottom) + "}";

    int count = 0;
    count = cupsAddOption("copies", std::to_string(std::max<int>(devMode.dmCopies, 1)).c_str(), count, options);
    count = cupsAddOption("media-col", mediaCol.c_str(), count, options);
    count
        = cupsAddOption("print-color-mode", devMode.dmColor == DMCOLOR_COLOR ? "color" : "monochrome", count, options);
    if (printer.Duplex()) {
        const char* sides = devMode.dmDuplex == DMDUP_VERTICAL ? "two-sided-long-edge"
            : devMode.dmDuplex == DMDUP_HORIZONTAL             ? "two-sided-short-edge"
                                                               : "one-sided";
        count = cupsAddOption("sides", sides, count, options);
    }
    return count;
}

class CupsJobSink final : public JobSink {
public:
    CupsJobSink(const PrinterDefinition& printer, const FullDevMode& devMode)
        : printer_(printer),
          devMode_(devMode),
          queue_(Utf16ToUtf8(printer.Name()))
    {}

    ~CupsJobSink() override
    {
        Discard();
        if (info_)
            cupsFreeDestInfo(info_);
    }

    int Start(const std::u16string& documentName) override
    {
        Discard();
        CupsFailure failure;
        if (!Connect(failure))
            return Fail(failure);
        cups_option_t* options = nullptr;
        const int count = JobOptions(printer_, devMode_, connection_->Http(), dest_, info_, &options);
        int jobId = 0;
        connection_->AllowSeconds(kCupsExchangeSeconds);
        const ipp_status_t status = cupsCreateDestJob(connection_->Http(), dest_, info_, &jobId,
                                                      JobName(documentName).c_str(), count, options);
        cupsFreeOptions(count, options);
        if (status > IPP_STATUS_OK_CONFLICTING || jobId <= 0)
            return Fail(connection_->LastFailure("creating a job for " + queue_));
        jobId_ = jobId;
        document_ = OpenPrivateFile();
        if (document_ < 0) {
            const int error = errno;
            CancelJob();
            kernel::ReportOnce("the document of CUPS job " + std::to_string(jobId)
                               + " cannot be made: " + std::strerror(error));
            platform::kernel::SetLastErrorFromErrno(error);
            return SP_ERROR;
        }
        return jobId_;
    }

    int DocumentFile() const override { return document_; }

    void ReportWriteFailure(int error) const override
    {
        kernel::ReportOnce("the document of CUPS job " + std::to_string(jobId_) + " on " + queue_
                           + " cannot be written: " + std::strerror(error) + "; the job is cancelled");
    }

    bool Finish(const JobDescription& description) override
    {
        if (document_ < 0 || jobId_ <= 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // A document without pages has nothing to print: its job goes away.
        if (description.pages == 0) {
            CancelJob();
            ::close(std::exchange(document_, -1));
            return true;
        }
        const std::string name = Utf16ToUtf8(description.documentName);
        connection_->AllowSeconds(kCupsExchangeSeconds);
        const bool started = cupsStartDestDocument(connection_->Http(), dest_, info_, jobId_, name.c_str(),
                                                   CUPS_FORMAT_PDF, 0, nullptr, 1)
            == HTTP_STATUS_CONTINUE;
        bool sent = started;
        std::array<char, kSendChunkBytes> chunk;
        for (off_t offset = 0; sent;) {
            const ssize_t read = ::pread(document_, chunk.data(), chunk.size(), offset);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0) {
                sent = read == 0;
                break;
            }
            // While the document goes, the server may be silent only so long at a time.
            connection_->AllowSeconds(kCupsSilenceSeconds);
            sent = cupsWriteRequestData(connection_->Http(), chunk.data(), static_cast<std::size_t>(read))
                == HTTP_STATUS_CONTINUE;
            offset += read;
        }
        // Finishing also reads the server's answer to a document cut short.
        connection_->AllowSeconds(kCupsExchangeSeconds);
        const ipp_status_t status
            = started ? cupsFinishDestDocument(connection_->Http(), dest_, info_) : cupsLastError();
        ::close(std::exchange(document_, -1));
        if (sent && status <= IPP_STATUS_OK_CONFLICTING) {
            jobId_ = 0;
            return true;
        }
        const CupsFailure failure = connection_->LastFailure("sending the document of job " + std::to_string(jobId_));
        CancelJob();
        Fail(failure);
        return false;
    }

    void Discard() override
    {
        if (jobId_ <= 0 && document_ < 0)
            return;
        CancelJob();
        if (document_ >= 0)
            ::close(std::exchange(document_, -1));
    }

private:
    bool Connect(CupsFailure& failure)
    {
        if (!connection_)
            connection_ = CupsConnection::Open(failure);
        if (!connection_)
            return false;
        if (!dests_) {
            std::optional<CupsDestinations> listed = CupsDestinations::List(*connection_, failure);
            if (!listed)
                return false;
            dests_.emplace(std::move(*listed));
            dest_ = dests_->Find(queue_);
        }
        if (!dest_) {
            failure.error = ERROR_INVALID_PRINTER_NAME;
            failure.message = "the CUPS server " + connection_->Server() + " has no queue " + queue_;
            return false;
        }
        if (!info_) {
            connection_->AllowSeconds(kCupsExchangeSeconds);
            info_ = cupsCopyDestInfo(connection_->Http(), dest_);
        }
        if (!info_) {
            failure = connection_->LastFailure("reading the queue " + queue_);
            return false;
        }
        return true;
    }

    int Fail(const CupsFailure& failure)
    {
        kernel::ReportOnce(failure.message);
        SetLastError(failure.error);
        return SP_ERROR;
    }

    // Cancels the job on the server, once; a server that is gone has nothing left to cancel.
    void CancelJob()
    {
        const int jobId = std::exchange(jobId_, 0);
        if (jobId <= 0 || !connection_)
            return;
        connection_->AllowSeconds(kCupsExchangeSeconds);
        if (cupsCancelDestJob(connection_->Http(), dest_, jobId) > IPP_STATUS_OK_CONFLICTING)
            kernel::ReportOnce(connection_->LastFailure("cancelling job " + std::to_string(jobId)).message);
    }

    PrinterDefinition printer_;
    FullDevMode devMode_;
    std::string queue_;
    std::unique_ptr<CupsConnection> connection_;
    std::optional<CupsDestinations> dests_;
    cups_dest_t* dest_ = nullptr;
    cups_dinfo_t* info_ = nullptr;
    int jobId_ = 0;
    int document_ = -1;
};

} // namespace

std::unique_ptr<JobSink> MakeCupsJobSink(const PrinterDefinition& printer, const FullDevMode& devMode)
{
    return std::make_unique<CupsJobSink>(printer, devMode);
}

} // namespace platform::spooler

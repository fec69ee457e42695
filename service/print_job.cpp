#include "service/print_job.h"

#include "platform/kernel/host.h"
#include "platform/kernel/leftovers.h"
#include "platform/spooler/job_sink.h"
#include "platform/spooler/printer_registry.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::service {
namespace {

bool ToUtf16(std::string_view what, const std::string& text, std::u16string& out, std::string& error)
{
    if (!platform::Utf8ToUtf16(text, out)) {
        error = std::string(what) + " is not valid UTF-8";
        return false;
    }
    return true;
}

} // namespace

bool PreparePrintJob(const JobOrder& order, PrintJob& job, std::string& error)
{
    if (!ToUtf16("the printer name", order.printer, job.printer, error))
        return false;
    std::error_code failure;
    const auto absolute = std::filesystem::absolute(order.file, failure);
    if (failure) {
        error = "cannot find the absolute path of " + order.file + ": " + failure.message();
        return false;
    }
    if (!std::filesystem::is_regular_file(absolute, failure)) {
        error = order.file + " is not a file that can be printed";
        return false;
    }
    if (!ToUtf16("the file path", absolute.string(), job.filePath, error))
        return false;

    if (order.type) {
        job.contentType = *order.type;
    } else {
        std::ifstream file(absolute, std::ios::binary);
        char head[8] = {};
        file.read(head, sizeof head);
        if (file.bad() || (!file && !file.eof())) {
            error = "cannot read " + order.file;
            return false;
        }
        job.contentType = GuessContentType(std::string_view(head, static_cast<std::size_t>(file.gcount())));
    }

    job.documentName = order.name ? *order.name : absolute.filename().string();
    std::u16string checked;
    if (!ToUtf16("the document name", job.documentName, checked, error))
        return false;
    job.options = order.options;
    std::u16string request;
    return BuildJobRequest(job, request, error);
}

bool ReadTicketFile(const std::string& path, std::string& bytes, std::string& error)
{
    bytes.clear();
    // Without blocking: opening a FIFO for reading would otherwise wait for a writer.
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        error = "cannot open the ticket " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        error = "the ticket " + path + " is not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(status.st_size) > kMaxTicketFileBytes) {
        ::close(file);
        error = "the ticket " + path + " is larger than " + std::to_string(kMaxTicketFileBytes / 1024) + " KiB";
        return false;
    }
    // The file may grow while it is read: one byte beyond the limit is enough to tell.
    bytes.resize(kMaxTicketFileBytes + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read the ticket " + path + ": " + std::strerror(errno);
            ::close(file);
            bytes.clear();
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(file);
    if (done > kMaxTicketFileBytes) {
        bytes.clear();
        error = "the ticket " + path + " is larger than " + std::to_string(kMaxTicketFileBytes / 1024) + " KiB";
        return false;
    }
    bytes.resize(done);
    return true;
}

SpooledJob FindSpooledJob(const std::u16string& printer, const std::string& jobId)
{
    SpooledJob job;
    const auto definition = platform::FindPrinter(printer);
    job.virtualPrinter = definition && definition->Source() == platform::PrinterSource::File;
    if (!job.virtualPrinter)
        return job;
    const std::string folder = platform::spooler::SpoolFolder(printer) + "/";
    std::error_code failure;
    job.complete = std::filesystem::is_regular_file(folder + jobId + ".json", failure);
    if (std::filesystem::is_regular_file(folder + jobId + ".pdf", failure))
        job.document = folder + jobId + ".pdf";
    return job;
}

// The tool's data folder (native).
std::string ToolDataFolder()
{
    const std::string root = platform::RootFolder();
    return (root == "/" ? std::string() : root) + "/var/lib/Marlowin";
}

// Sweeps what a print job's tool left when it ended without its answer.
void SweepJobLeftovers(const std::u16string& printer)
{
    // The names the tool gives the page files of a document (GetTempFileNameW's prefix).
    static constexpr char kPageFilePrefix[] = "ZVPrintFile";
    platform::SweepTempFileLeftovers(ToolDataFolder(), kPageFilePrefix);
    platform::spooler::SweepUnfinishedJobs(printer);
}

std::string ThrownAwayMessage(const std::string& printer, const std::string& jobId)
{
    return "the tool answered with job id " + jobId + ", but printer \"" + printer
        + "\" holds no such job: it was thrown away (the tool's console says why)";
}

} // namespace quillon::service

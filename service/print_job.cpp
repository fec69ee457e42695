#include "service/print_job.h"

#include "platform/kernel/host.h"
#include "platform/spooler/job_sink.h"
#include "platform/spooler/printer_registry.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

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

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
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

std::string ThrownAwayMessage(const std::string& printer, const std::string& jobId)
{
    return "the tool answered with job id " + jobId + ", but printer \"" + printer
        + "\" holds no such job: it was thrown away (the tool's console says why)";
}

} // namespace quillon::service

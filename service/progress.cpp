#include "service/progress.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quillon::service {
namespace {

// How often the log is looked at while the tool works.
constexpr std::chrono::milliseconds kProgressInterval{200};
// The most log bytes taken in one look: a log written faster than this is caught up over looks.
constexpr long long kMostLogBytesPerLook = 4 * 1024 * 1024;
// A record longer than this is no page record; it is passed over.
constexpr std::size_t kLongestRecord = 64 * 1024;

constexpr std::string_view kPageStarted = "In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: ";
constexpr std::string_view kLoopEnded = "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 1";

bool IsLogFile(const std::string& name)
{
    return name.rfind("QuillonTool_", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0;
}

// The log files of the folder with their sizes.
std::map<std::string, long long> LogFiles(const std::string& folder)
{
    std::map<std::string, long long> files;
    std::error_code failure;
    for (auto entry = std::filesystem::directory_iterator(folder, failure);
         !failure && entry != std::filesystem::directory_iterator(); entry.increment(failure)) {
        std::error_code sizeFailure;
        const std::string name = entry->path().filename().string();
        if (!IsLogFile(name) || !entry->is_regular_file(sizeFailure))
            continue;
        const auto size = entry->file_size(sizeFailure);
        if (!sizeFailure)
            files[name] = static_cast<long long>(size);
    }
    return files;
}

void WriteError(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

PageProgress::PageProgress(std::string logFolder) : logFolder_(std::move(logFolder)), readTo_(LogFiles(logFolder_))
{}

int PageProgress::Done() const
{
    return finished_ ? started_ : std::max(started_ - 1, 0);
}

bool PageProgress::Update()
{
    const int done = Done();
    const int total = total_;
    // The files sort by day and number, so records are taken in the order they were written.
    for (const auto& [name, size] : LogFiles(logFolder_)) {
        long long& taken = readTo_[name];
        if (size <= taken)
            continue;
        std::ifstream file(logFolder_ + "/" + name, std::ios::binary);
        file.seekg(taken);
        std::string bytes(static_cast<std::size_t>(std::min(size - taken, kMostLogBytesPerLook)), '\0');
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(file.gcount()));
        taken += static_cast<long long>(bytes.size());
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t end = bytes.find('\n', at);
            partial_.append(bytes, at, end == std::string::npos ? std::string::npos : end - at);
            if (partial_.size() > kLongestRecord)
                partial_.clear();
            if (end == std::string::npos)
                break;
            TakeRecord(partial_);
            partial_.clear();
            at = end + 1;
        }
    }
    return Done() != done || total_ != total;
}

void PageProgress::TakeRecord(const std::string& record)
{
    const std::size_t page = record.find(kPageStarted);
    if (page != std::string::npos) {
        const char* digits = record.data() + page + kPageStarted.size();
        int count = 0;
        const auto [end, failure] = std::from_chars(digits, record.data() + record.size(), count);
        if (failure == std::errc() && count > 0)
            total_ = count;
        ++started_;
    } else if (record.find(kLoopEnded) != std::string::npos) {
        finished_ = true;
    }
}

ProgressLine::~ProgressLine()
{
    Hide();
}

PipeConnection::Receive ProgressLine::Receive(PipeConnection& connection, ToolProcess& tool,
                                              std::chrono::milliseconds timeout, std::string& message,
                                              std::string& error)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pages_.Update())
            Show();
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return PipeConnection::Receive::TimedOut;
        pollfd waiters[2] = {{connection.Socket(), POLLIN, 0}, {tool.Output(), POLLIN, 0}};
        const int ready
            = poll(waiters, tool.Output() >= 0 ? 2 : 1, static_cast<int>(std::min(left, kProgressInterval).count()));
        if (ready < 0 && errno != EINTR) {
            error = std::string("cannot wait for the reply: ") + std::strerror(errno);
            return PipeConnection::Receive::Failed;
        }
        // The reply first: what the tool writes after it is relayed once the progress line is off.
        if (ready > 0 && waiters[0].revents != 0) {
            const PipeConnection::Receive received
                = connection.ReceiveMessage(std::chrono::milliseconds(0), message, error);
            // The last page's end was written before the reply was sent.
            if (received == PipeConnection::Receive::Message && pages_.Update())
                Show();
            return received;
        }
        if (ready > 0 && waiters[1].revents != 0)
            Relay(tool, connection);
    }
}

void ProgressLine::Drain(ToolProcess& tool)
{
    Take(tool);
    Hide();
    WriteError(pendingOutput_);
    pendingOutput_.clear();
}

// Takes what the tool wrote and shows its whole lines above the progress line. The tool writes
// its last line after its reply: once the reply is there, what was taken waits for Drain, which
// takes the progress line off first.
void ProgressLine::Relay(ToolProcess& tool, const PipeConnection& connection)
{
    Take(tool);
    pollfd reply{connection.Socket(), POLLIN, 0};
    if (poll(&reply, 1, 0) != 0)
        return;
    const std::size_t lines = pendingOutput_.rfind('\n');
    if (lines == std::string::npos)
        return;
    const bool wasShown = shown_;
    Hide();
    WriteError(std::string_view(pendingOutput_).substr(0, lines + 1));
    pendingOutput_.erase(0, lines + 1);
    if (wasShown)
        Show();
}

// Reads what the tool wrote so far, and closes its output at its end.
void ProgressLine::Take(ToolProcess& tool)
{
    char chunk[4096];
    for (;;) {
        const ssize_t count = tool.Output() >= 0 ? read(tool.Output(), chunk, sizeof chunk) : 0;
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0)
            tool.CloseOutput();
        if (count <= 0)
            break;
        pendingOutput_.append(chunk, static_cast<std::size_t>(count));
    }
}

void ProgressLine::Show()
{
    if (pages_.Total() <= 0)
        return;
    // Back to the line's start, the count, and the rest of the line erased.
    WriteError("\rquillon-service: " + std::to_string(pages_.Done()) + " of " + std::to_string(pages_.Total())
               + " pages printed\x1b[K");
    shown_ = true;
}

void ProgressLine::Hide()
{
    if (shown_)
        WriteError("\r\x1b[K");
    shown_ = false;
}

} // namespace quillon::service

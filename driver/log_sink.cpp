#include "driver/log_sink.h"

#include "pipe/text_conversions.h"
#include "platform/kernel/host.h"

#include "platform/kernel/file_modes.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace aio {

namespace {

namespace logging = boost::log;
namespace expr = boost::log::expressions;
namespace sinks = boost::log::sinks;

// Files tried for room in one go: a day's full files are passed over to the first with room.
constexpr unsigned kMaxFilesTried = 1000;

// The record as one line of the file: every control character inside it (a line end or an escape
// sequence in a path, say) written as "\xHH", so that no text can make a record of its own; the
// record's own CR LF closes it.
std::string OneLine(const std::string& formatted)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t body = formatted.size() >= 2 && formatted.compare(formatted.size() - 2, 2, "\r\n") == 0
        ? formatted.size() - 2
        : formatted.size();
    std::string line;
    line.reserve(formatted.size() + 2);
    for (std::size_t i = 0; i < body; ++i) {
        const auto byte = static_cast<unsigned char>(formatted[i]);
        if (byte >= 0x20 && byte != 0x7F) {
            line.push_back(formatted[i]);
            continue;
        }
        line.append("\\x");
        line.push_back(kHex[byte >> 4]);
        line.push_back(kHex[byte & 0xF]);
    }
    line.append("\r\n");
    return line;
}

// Today's local date as the file names carry it: 20261206.
int Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

// The log files of one folder: QuillonTool_YYYYMMDD_NNN.log, each record appended with one write
// (so records of processes writing at once never mix), continued in the next file (NNN + 1) when a
// record would take a file to kLogRotationSize and at midnight. The folder is made with its mode
// and must pass the platform's checks before any file is opened in it; the files are made with
// theirs. A record that cannot be written is dropped.
class LogFileBackend final : public sinks::basic_formatted_sink_backend<char, sinks::synchronized_feeding> {
public:
    explicit LogFileBackend(std::string folder) : folder_(std::move(folder)) {}
    ~LogFileBackend()
    {
        CloseFile();
        if (folderDescriptor_ >= 0)
            ::close(folderDescriptor_);
    }
    LogFileBackend(const LogFileBackend&) = delete;
    LogFileBackend& operator=(const LogFileBackend&) = delete;

    void consume(const logging::record_view& /*record*/, const std::string& formatted)
    {
        const std::string line = OneLine(formatted);
        const int today = Today();
        if (file_ >= 0 && (today != day_ || written_ + line.size() >= kLogRotationSize)) {
            CloseFile();
            ++counter_;
        }
        if (file_ < 0 && !OpenFile(today, line.size()))
            return;
        ssize_t done;
        do {
            done = ::write(file_, line.data(), line.size());
        } while (done < 0 && errno == EINTR);
        if (done > 0)
            written_ += static_cast<std::uintmax_t>(done);
    }

private:
    bool OpenFolder()
    {
        if (folderDescriptor_ >= 0)
            return true;
        if (folderRefused_)
            return false;
        // Nothing is made in a folder that is not to be trusted (the platform checks the parent
        // before it makes the log folder), and nothing is written in one.
        folderRefused_
            = !platform::MakeFolderOfMode(folder_, platform::kLogFolderMode) || !platform::TrustFolder(folder_);
        if (!folderRefused_)
            folderDescriptor_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        folderRefused_ = folderDescriptor_ < 0;
        return !folderRefused_;
    }

    // Opens the first file of the day from the counter on that has room for `needed` bytes.
    bool OpenFile(int today, std::size_t needed)
    {
        if (!OpenFolder())
            return false;
        for (unsigned tries = 0; tries < kMaxFilesTried; ++tries, ++counter_) {
            char name[64];
            std::snprintf(name, sizeof name, "QuillonTool_%08d_%03u.log", today, counter_);
            const int file = platform::OpenAppendFile(folderDescriptor_, name, platform::kLogFileMode);
            struct stat status {};
            if (file < 0 || ::fstat(file, &status) != 0) {
                if (file >= 0)
                    ::close(file);
                return false;
            }
            const auto size = static_cast<std::uintmax_t>(status.st_size);
            if (size == 0 || size + needed < kLogRotationSize) {
                file_ = file;
                day_ = today;
                written_ = size;
                return true;
            }
            ::close(file);
        }
        return false;
    }

    void CloseFile()
    {
        if (file_ >= 0)
            ::close(file_);
        file_ = -1;
    }

    const std::string folder_;
    int folderDescriptor_ = -1;
    bool folderRefused_ = false;
    int file_ = -1;
    int day_ = 0;
    unsigned counter_ = 0;
    std::uintmax_t written_ = 0;
};

} // namespace

void ConfigureLogging(const std::string& root, base::severity_level minimum)
{
    ConfigureLogging(WidenText(root), minimum);
}

void ConfigureLogging(const std::u16string& root, base::severity_level minimum)
{
    auto backend = boost::make_shared<LogFileBackend>(platform::NativePath(root) + kLogFolder);
    using Sink = sinks::synchronous_sink<LogFileBackend>;
    auto sink = boost::make_shared<Sink>(backend);

    // The file is 8-bit text with CR LF line ends.
    sink->set_formatter(expr::format("%1% [%2%] : %3%\r\n") % expr::attr<base::severity_level>("Severity")
                        % expr::format_date_time<boost::posix_time::ptime>("TimeStamp", "%Y-%b-%d %H:%M:%S.%f")
                        % expr::smessage);
    sink->set_filter(expr::attr<base::severity_level>("Severity") >= minimum);

    // The tool must do its work and answer on the pipe whatever happens to its log: a record that
    // cannot be formatted or written is dropped.
    sink->set_exception_handler(logging::make_exception_suppressor());

    auto core = logging::core::get();
    core->add_sink(sink);
    logging::add_common_attributes();
}

} // namespace aio

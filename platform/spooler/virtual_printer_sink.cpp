// The job sink of the virtual printers. A job ends as <id>.pdf and its sidecar <id>.json in the
// printer's spool folder. Both are written under hidden temporary names and renamed into place,
// the PDF first: a job is complete once its sidecar is there. Job ids come from a counter file
// locked while it is read and raised, so processes printing at once never share an id.
// Everything here is private to the user printing: files 0600 and the folder 0700, whatever the
// umask, and a wider folder left from earlier is tightened when a job is next written into it.
// The files of a job being written are marked in use until the job is complete or thrown away, so
// that what a process killed mid-job leaves is swept when the next job starts in the folder.
#include "platform/spooler/job_sink.h"

#include "platform/kernel/console_text.h"
#include "platform/kernel/file_modes.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/leftovers.h"
#include "platform/kernel/planted_links.h"
#include "platform/spooler/spooler.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform::spooler {
namespace {

constexpr char kCounterName[] = ".last-job";
// A counter file holds one decimal number; anything longer is not ours.
constexpr std::size_t kMaxCounterBytes = 32;
// Ids already taken by files the counter does not know of are skipped, this many at most.
constexpr int kMaxIdTries = 1000;

void FailWithErrno(int error)
{
    platform::kernel::SetLastErrorFromErrno(error);
}

// Opens the printer's spool folder, making it 0700 when it is new and tightening it when it was
// left wider. A folder of another user (but the superuser), or below folders others may change,
// is refused: whoever owns it could swap a job's files for links, or replace a finished job.
// Returns a descriptor or -1 with errno set, and for a refused folder the reason.
int OpenPrinterFolder(std::u16string_view printerName, std::string& refusal)
{
    const std::string folder = SpoolFolder(printerName);
    const std::string parent = folder.substr(0, folder.rfind('/'));
    // The spool tree itself shows nothing but printer names: it is the machine's, open to look in.
    if (!platform::MakeFolders(parent))
        return -1;
    // Nothing is made below a folder that is not trusted, nor through a link such a folder holds.
    refusal = platform::UntrustedFolderReason(parent);
    if (!refusal.empty()) {
        errno = EACCES;
        return -1;
    }
    if (::mkdir(folder.c_str(), platform::kPrivateFolderMode) != 0 && errno != EEXIST)
        return -1;
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    struct stat status {};
    // Another user's folder is judged as it is: never tightened on their behalf.
    bool usable = ::fstat(descriptor, &status) == 0
        && ((status.st_uid != ::geteuid() && status.st_uid != 0)
            || (status.st_mode & 07777) == platform::kPrivateFolderMode
            || ::fchmod(descriptor, platform::kPrivateFolderMode) == 0);
    int error = errno;
    if (usable) {
        refusal = platform::UntrustedFolderReason(folder);
        usable = refusal.empty();
        error = EACCES;
    }
    // A link left by another user while the folder was open to all would block a job file's name
    // (the counter, say) for good.
    if (usable)
        platform::RemovePlantedLinks(descriptor, "the spool folder " + folder);
    if (!usable) {
        ::close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

bool WriteAll(int descriptor, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The job number of a file name this sink writes ("12.pdf", "12.json", ".12.pdf.part"...), or 0.
int JobNumberOf(std::string_view name)
{
    if (!name.empty() && name.front() == '.')
        name.remove_prefix(1);
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc() || end == name.data() || *end != '.' || name.front() == '0')
        return 0;
    return number;
}

// The highest job number of the files in the folder: where numbering goes on when the counter file
// is new, so a lost counter never hands out the id of a job that is still there.
int HighestJobInFolder(int folder)
{
    const int copy = ::dup(folder);
    DIR* directory = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!directory) {
        if (copy >= 0)
            ::close(copy);
        return 0;
    }
    int highest = 0;
    while (const dirent* entry = ::readdir(directory))
        highest = std::max(highest, JobNumberOf(entry->d_name));
    ::closedir(directory);
    return highest;
}

bool Exists(int folder, const std::string& name)
{
    struct stat status {};
    return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// What a job cut short leaves in the folder: its document or sidecar still under the hidden name
// (".12.pdf.part", ".12.json.part"), or its document renamed without the sidecar that completes
// the job ("12.pdf" without "12.json").
bool IsUnfinishedJobFile(int folder, std::string_view name)
{
    const int number = JobNumberOf(name);
    if (number <= 0)
        return false;
    const std::string id = std::to_string(number);
    if (name == "." + id + ".pdf.part" || name == "." + id + ".json.part")
        return true;
    return name == id + ".pdf" && !Exists(folder, id + ".json");
}

// Says on standard error, in one write so that lines of processes printing at once never mix, why
// a job failed: the tool's own log records only what it does, not what the disk said.
void ReportFailure(const std::string& line)
{
    const std::string text = "quillon: " + platform::ConsoleText(line) + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

std::string Decimal(std::int64_t value)
{
    return std::to_string(value);
}

// Text appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "text" + std::string.
template <typename... Pieces>
std::string Joined(const Pieces&... pieces)
{
    std::string text;
    (text.append(pieces), ...);
    return text;
}

// Tenths of a millimetre as millimetres with one decimal: 2159 is "215.9".
std::string Millimetres(std::int32_t tenths)
{
    return Joined(Decimal(tenths / 10), ".", Decimal(tenths % 10));
}

// A JSON string: quotes, backslashes and control characters escaped, the rest UTF-8 as it is.
std::string JsonString(std::u16string_view text)
{
    std::string out = "\"";
    for (char c : Utf16ToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::u16string_view FieldText(const WCHAR* field, std::size_t size)
{
    std::size_t length = 0;
    while (length < size && field[length] != u'\0')
        ++length;
    return std::u16string_view(field, length);
}

const char* DuplexName(SHORT duplex)
{
    switch (duplex) {
    case DMDUP_VERTICAL:
        return "long-edge";
    case DMDUP_HORIZONTAL:
        return "short-edge";
    default:
        return "none";
    }
}

class VirtualPrinterSink final : public JobSink {
public:
    VirtualPrinterSink(const PrinterDefinition& printer, const FullDevMode& devMode)
        : printer_(printer),
          devMode_(devMode)
    {}

    ~VirtualPrinterSink() override
    {
        Discard();
        if (folder_ >= 0)
            ::close(folder_);
    }

    int Start(const std::u16string& /*documentName*/) override
    {
        Discard();
        std::string refusal;
        if (folder_ < 0)
            folder_ = OpenPrinterFolder(printer_.Name(), refusal);
        if (folder_ < 0 && !refusal.empty()) {
            ReportFailure(
                Joined("no job could be started on printer \"", Utf16ToUtf8(printer_.Name()), "\": ", refusal));
            FailWithErrno(EACCES);
            return SP_ERROR;
        }
        if (folder_ < 0)
            return RefuseStart(errno);
        // What jobs cut short left here goes before a new job is written beside it.
        platform::SweepLeftovers(folder_, [this](std::string_view name) { return IsUnfinishedJobFile(folder_, name); });
        const int counter
            = ::openat(folder_, kCounterName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, platform::kPrivateFileMode);
        if (counter < 0)
            return RefuseStart(errno);
        const int id = TakeId(counter);
        const int error = errno;
        ::close(counter); // releases the lock
        if (id <= 0)
            return RefuseStart(error);
        return id;
    }

    int DocumentFile() const override { return document_; }

    bool Finish(const JobDescription& description) override
    {
        if (document_ < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // A document without pages has nothing to print: no job is made of it, and its id stays
        // used (the counter already holds it).
        if (description.pages <= 0) {
            Discard();
            return true;
        }
        const std::string pdfName = Joined(Decimal(jobId_), ".pdf");
        const std::string sidecarPart = Joined(".", Decimal(jobId_), ".json.part");
        const std::string sidecarName = Joined(Decimal(jobId_), ".json");
        // The document stays open, and so marked in use, until its sidecar completes the job: a
        // document renamed into place without one is then known to be left over only once its
        // writer is gone.
        bool done = ::fsync(document_) == 0 && ::renameat(folder_, partName_.c_str(), folder_, pdfName.c_str()) == 0;
        if (done) {
            int sidecar;
            bool marked = false;
            {
                const platform::FileMaking making(folder_);
                sidecar = ::openat(folder_, sidecarPart.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   platform::kPrivateFileMode);
                marked = sidecar >= 0 && platform::MarkInUse(sidecar);
            }
            done = marked && WriteAll(sidecar, Sidecar(description)) && ::fsync(sidecar) == 0
                && ::renameat(folder_, sidecarPart.c_str(), folder_, sidecarName.c_str()) == 0;
            const int error = errno;
            if (sidecar >= 0 && !done)
                ::unlinkat(folder_, sidecarPart.c_str(), 0);
            if (sidecar >= 0)
                ::close(sidecar);
            errno = error;
        }
        if (!done) {
            const int error = errno;
            ::unlinkat(folder_, partName_.c_str(), 0);
            ::unlinkat(folder_, pdfName.c_str(), 0);
            ReportFailure(Joined("job ", Decimal(jobId_), " on printer \"", Utf16ToUtf8(printer_.Name()),
                                 "\" was thrown away: it could not be put in the spool folder ",
                                 SpoolFolder(printer_.Name()), ": ", std::strerror(error)));
            FailWithErrno(error);
        }
        // Closed last: the lock goes once the job is complete or gone.
        ::close(std::exchange(document_, -1));
        partName_.clear();
        return done;
    }

    void Discard() override
    {
        if (document_ < 0)
            return;
        // Removed while still marked in use, so no sweep ever meets it half gone.
        ::unlinkat(folder_, partName_.c_str(), 0);
        ::close(std::exchange(document_, -1));
        partName_.clear();
    }

    void ReportWriteFailure(int error) const override
    {
        ReportFailure(Joined("job ", Decimal(jobId_), " on printer \"", Utf16ToUtf8(printer_.Name()),
                             "\" was thrown away: its document could not be written in the spool folder ",
                             SpoolFolder(printer_.Name()), ": ", std::strerror(error)));
    }

private:
    int RefuseStart(int error) const
    {
        ReportFailure(Joined("no job could be started on printer \"", Utf16ToUtf8(printer_.Name()),
                             "\": its spool folder ", SpoolFolder(printer_.Name()),
                             " cannot be written: ", std::strerror(error)));
        FailWithErrno(error);
        return SP_ERROR;
    }

    // Under the counter's lock: the next free id, with its document file created. 0 with errno set.
    int TakeId(int counter)
    {
        int result;
        do {
            result = ::flock(counter, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0)
            return 0;
        char text[kMaxCounterBytes + 1] = {};
        const ssize_t size = ::pread(counter, text, kMaxCounterBytes, 0);
        int last = 0;
        const auto [end, error] = std::from_chars(text, text + std::max<ssize_t>(size, 0), last);
        if (size <= 0 || error != std::errc() || last < 0 || (end != text + size && *end != '\n'))
            last = HighestJobInFolder(folder_);

        for (int tries = 0; tries < kMaxIdTries; ++tries) {
            const int id = last == INT_MAX ? 1 : last + 1;
            last = id;
            const std::string part = Joined(".", Decimal(id), ".pdf.part");
            if (Exists(folder_, Joined(Decimal(id), ".pdf")) || Exists(folder_, Joined(Decimal(id), ".json")))
                continue;
            int document;
            int error = 0;
            {
                const platform::FileMaking making(folder_);
                document = ::openat(folder_, part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                    platform::kPrivateFileMode);
                error = errno;
                if (document >= 0)
                    platform::MarkInUse(document);
            }
            errno = error;
            if (document < 0 && error == EEXIST)
                continue;
            if (document < 0)
                return 0;
            const std::string saved = Joined(Decimal(id), "\n");
            if (::pwrite(counter, saved.data(), saved.size(), 0) != static_cast<ssize_t>(saved.size())
                || ::ftruncate(counter, static_cast<off_t>(saved.size())) != 0) {
                const int error = errno;
                ::unlinkat(folder_, part.c_str(), 0);
                ::close(document);
                errno = error;
                return 0;
            }
            document_ = document;
            partName_ = part;
            jobId_ = id;
            return id;
        }
        errno = EEXIST;
        return 0;
    }

    std::string Sidecar(const JobDescription& description) const
    {
        const DEVMODEW& mode = devMode_.devMode;
        return Joined(
            "{\n  \"job\": ", Decimal(jobId_), ",\n  \"printer\": ", JsonString(printer_.Name()),
            ",\n  \"document\": ", JsonString(description.documentName), ",\n  \"pages\": ", Decimal(description.pages),
            ",\n  \"picture-pages\": ", Decimal(description.picturePages),
            ",\n  \"picture-regions\": ", Decimal(description.pictureRegions),
            ",\n  \"copies\": ", Decimal(mode.dmCopies),
            ",\n  \"collate\": ", mode.dmCollate == DMCOLLATE_TRUE ? "true" : "false", ",\n  \"duplex\": \"",
            DuplexName(mode.dmDuplex), "\",\n  \"color\": \"", mode.dmColor == DMCOLOR_COLOR ? "color" : "monochrome",
            "\",\n  \"paper\": {\"number\": ", Decimal(mode.dmPaperSize), ", \"name\": ", JsonString(PaperName()),
            ", \"width-mm\": ", Millimetres(mode.dmPaperWidth), ", \"length-mm\": ", Millimetres(mode.dmPaperLength),
            "},\n  \"orientation\": \"", mode.dmOrientation == DMORIENT_LANDSCAPE ? "landscape" : "portrait",
            "\",\n  \"resolution\": ", Decimal(mode.dmPrintQuality), "\n}\n");
    }

    // The paper's whole name: the device mode's form name field cuts long names short.
    std::u16string PaperName() const
    {
        const DEVMODEW& mode = devMode_.devMode;
        const PaperDefinition* paper = mode.dmPaperSize != 0 ? printer_.FindPaper(mode.dmPaperSize) : nullptr;
        return paper ? paper->name : std::u16string(FieldText(mode.dmFormName, CCHFORMNAME));
    }

    PrinterDefinition printer_;
    FullDevMode devMode_;
    int folder_ = -1;
    int document_ = -1;
    int jobId_ = 0;
    std::string partName_;
};

} // namespace

std::unique_ptr<JobSink> MakeVirtualPrinterSink(const PrinterDefinition& printer, const FullDevMode& devMode)
{
    return std::make_unique<VirtualPrinterSink>(printer, devMode);
}

int SweepUnfinishedJobs(std::u16string_view printerName)
{
    if (printerName.empty() || printerName == u"." || printerName == u".."
        || printerName.find_first_of(std::u16string_view(u"/\0", 2)) != std::u16string_view::npos)
        return 0;
    const std::string folder = SpoolFolder(printerName);
    // Only a folder that is there and trusted: nothing is made, and no link is followed.
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return 0;
    const int removed = platform::UntrustedFolderReason(folder).empty()
        ? platform::SweepLeftovers(
            descriptor, [descriptor](std::string_view name) { return IsUnfinishedJobFile(descriptor, name); })
        : 0;
    ::close(descriptor);
    return removed;
}

std::string SpoolFolder(std::u16string_view printerName)
{
    std::string root = RootFolder();
    if (root == "/")
        root.clear();
    return Joined(root, "/var/spool/quillon/", Utf16ToUtf8(printerName));
}

} // namespace platform::spooler

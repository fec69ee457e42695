#include "platform/gdi/metafile/enh_metafile.h"

#include "platform/gdi/context/emf_format.h"
#include "platform/kernel/file_modes.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::gdi {
namespace {

using emf::Inside;
using emf::Read;

// A header record longer than this (a description of half a million characters) is not read.
constexpr std::size_t kMaxHeaderBytes = 1 << 20;
// Records are read from a file in windows of this size; a larger record is read on its own.
constexpr std::size_t kWindowBytes = 64 * 1024;

struct HeaderFacts {
    std::size_t headerSize = 0;
    std::size_t length = 0;
};

// The header's own size and the metafile's length, when the header holds together: `header`
// holds the first bytes of the metafile (at least its header record), `available` all there are.
std::optional<HeaderFacts> CheckHeader(std::span<const BYTE> header, std::uint64_t available)
{
    if (header.size() < emf::kMinHeaderBytes || Read<DWORD>(header.data(), 0) != EMR_HEADER)
        return std::nullopt;
    const DWORD size = Read<DWORD>(header.data(), 4);
    const DWORD length = Read<DWORD>(header.data(), offsetof(ENHMETAHEADER, nBytes));
    if (size < emf::kMinHeaderBytes || size % 4 != 0 || size > header.size() || size > kMaxHeaderBytes
        || Read<DWORD>(header.data(), offsetof(ENHMETAHEADER, dSignature)) != ENHMETA_SIGNATURE || length % 4 != 0
        || length < std::uint64_t{size} + emf::kEofBytes || length > available)
        return std::nullopt;
    const DWORD descriptionUnits = Read<DWORD>(header.data(), emf::kHeaderDescriptionCount);
    const DWORD descriptionOffset = Read<DWORD>(header.data(), emf::kHeaderDescriptionOffset);
    if (descriptionUnits > 0
        && (descriptionOffset < emf::kMinHeaderBytes
            || !Inside(descriptionOffset, std::uint64_t{descriptionUnits} * sizeof(WCHAR), size)))
        return std::nullopt;
    return HeaderFacts{size, length};
}

// The size of the record whose first 8 bytes are `prefix`, at `offset` of a metafile of `length`
// bytes, when it fits there; else 0. The EOF record must end the metafile.
std::size_t RecordSizeAt(const BYTE* prefix, std::uint64_t offset, std::uint64_t length)
{
    const DWORD type = Read<DWORD>(prefix, 0);
    const DWORD size = Read<DWORD>(prefix, 4);
    if (size < emf::kRecordPrefixBytes || size % 4 != 0 || !Inside(offset, size, length))
        return 0;
    if (type == EMR_EOF && (size < emf::kEofBytes || offset + size != length))
        return 0;
    return size;
}

// Reads a metafile file in windows, so that a walk over small records costs few system calls.
class FileWindow final {
public:
    FileWindow(int file, std::uint64_t length) : file_(file), length_(length) {}

    // `size` bytes at `offset` (inside the length), valid until the next call; null when the file
    // could not be read that far (errno set).
    const BYTE* Get(std::uint64_t offset, std::size_t size)
    {
        if (offset >= start_ && offset + size <= start_ + window_.size())
            return window_.data() + (offset - start_);
        if (size <= kWindowBytes) {
            // A large record read earlier is given back before the next one is read.
            std::vector<BYTE>().swap(large_);
            window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, length_ - offset)));
            start_ = offset;
            if (!ReadAt(window_.data(), window_.size(), offset)) {
                window_.clear();
                return nullptr;
            }
            return window_.data();
        }
        large_.resize(size);
        return ReadAt(large_.data(), size, offset) ? large_.data() : nullptr;
    }

private:
    bool ReadAt(BYTE* out, std::size_t size, std::uint64_t offset) const
    {
        while (size > 0) {
            const ssize_t count = ::pread(file_, out, size, static_cast<off_t>(offset));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                if (count == 0)
                    errno = EIO; // the file became shorter than its header says
                return false;
            }
            out += count;
            size -= static_cast<std::size_t>(count);
            offset += static_cast<std::uint64_t>(count);
        }
        return true;
    }

    int file_;
    std::uint64_t length_;
    std::vector<BYTE> window_;
    std::uint64_t start_ = 0;
    std::vector<BYTE> large_;
};

// Walks the records after the header, checking each one's framing; true when they reach the EOF
// record that ends the metafile. `prefixAt` gives the 8 bytes at an offset, or null.
template <typename PrefixAt>
bool RecordsHoldTogether(const HeaderFacts& facts, PrefixAt prefixAt)
{
    std::uint64_t offset = facts.headerSize;
    while (offset + emf::kRecordPrefixBytes <= facts.length) {
        const BYTE* prefix = prefixAt(offset);
        if (!prefix)
            return false;
        const std::size_t size = RecordSizeAt(prefix, offset, facts.length);
        if (size == 0)
            return false;
        if (Read<DWORD>(prefix, 0) == EMR_EOF)
            return true;
        offset += size;
    }
    return false;
}

} // namespace

std::size_t WellFormedMetafileLength(std::span<const BYTE> bytes)
{
    const std::optional<HeaderFacts> facts = CheckHeader(bytes, bytes.size());
    if (!facts)
        return 0;
    const bool whole = RecordsHoldTogether(*facts, [&](std::uint64_t offset) { return bytes.data() + offset; });
    return whole ? facts->length : 0;
}

std::shared_ptr<EnhMetaFile> EnhMetaFile::FromBytes(std::vector<BYTE> bytes)
{
    const std::size_t length = WellFormedMetafileLength(bytes);
    if (length == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    bytes.resize(length);
    std::shared_ptr<EnhMetaFile> metafile(new EnhMetaFile());
    metafile->size_ = length;
    metafile->header_.assign(bytes.begin(), bytes.begin() + Read<DWORD>(bytes.data(), 4));
    metafile->memory_ = std::move(bytes);
    return metafile;
}

std::shared_ptr<EnhMetaFile> EnhMetaFile::Open(const std::string& path)
{
    std::shared_ptr<EnhMetaFile> metafile(new EnhMetaFile());
    metafile->file_ = platform::OpenOwnFile(path, O_RDONLY);
    struct stat status {};
    if (metafile->file_ < 0 || ::fstat(metafile->file_, &status) != 0) {
        platform::kernel::SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const auto available = static_cast<std::uint64_t>(status.st_size);
    FileWindow window(metafile->file_, available);
    const std::size_t headerRead = static_cast<std::size_t>(std::min<std::uint64_t>(available, kMaxHeaderBytes));
    const BYTE* start = headerRead >= emf::kMinHeaderBytes ? window.Get(0, emf::kMinHeaderBytes) : nullptr;
    const DWORD headerSize = start ? Read<DWORD>(start, 4) : 0;
    const BYTE* header
        = headerSize >= emf::kMinHeaderBytes && headerSize <= headerRead ? window.Get(0, headerSize) : nullptr;
    const std::optional<HeaderFacts> facts
        = header ? CheckHeader(std::span<const BYTE>(header, headerSize), available) : std::nullopt;
    if (!facts || !RecordsHoldTogether(*facts, [&](std::uint64_t offset) {
            return window.Get(offset, emf::kRecordPrefixBytes);
        })) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    header = window.Get(0, facts->headerSize);
    if (!header) {
        SetLastError(ERROR_READ_FAULT);
        return nullptr;
    }
    metafile->header_.assign(header, header + facts->headerSize);
    metafile->size_ = facts->length;
    return metafile;
}

EnhMetaFile::~EnhMetaFile()
{
    if (file_ >= 0)
        ::close(file_);
}

ENHMETAHEADER EnhMetaFile::Header() const
{
    ENHMETAHEADER header{};
    std::memcpy(&header, header_.data(), std::min(header_.size(), sizeof header));
    return header;
}

bool EnhMetaFile::CopyTo(BYTE* out) const
{
    if (file_ < 0) {
        std::memcpy(out, memory_.data(), size_);
        return true;
    }
    std::size_t done = 0;
    while (done < size_) {
        const ssize_t count = ::pread(file_, out + done, size_ - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            SetLastError(ERROR_READ_FAULT);
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool EnhMetaFile::ForEachRecord(const std::function<bool(const ENHMETARECORD& record)>& visit) const
{
    const HeaderFacts facts{header_.size(), size_};
    FileWindow window(file_, size_);
    std::uint64_t offset = 0;
    while (offset + emf::kRecordPrefixBytes <= facts.length) {
        const BYTE* prefix = file_ < 0 ? memory_.data() + offset : window.Get(offset, emf::kRecordPrefixBytes);
        // A file changed since it was opened is read no further than its records still hold.
        const std::size_t size
            = prefix ? (offset == 0 ? header_.size() : RecordSizeAt(prefix, offset, facts.length)) : 0;
        if (size == 0 || (offset == 0 && Read<DWORD>(prefix, 4) != header_.size())) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        const BYTE* record = file_ < 0 ? prefix : window.Get(offset, size);
        if (!record) {
            SetLastError(ERROR_READ_FAULT);
            return false;
        }
        const bool last = Read<DWORD>(record, 0) == EMR_EOF;
        if (!visit(*reinterpret_cast<const ENHMETARECORD*>(record)))
            return false;
        if (last)
            return true;
        offset += size;
    }
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

} // namespace platform::gdi

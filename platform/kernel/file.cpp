// Files: CreateFileW over open(2), and the file object behind its handles.
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/pipe_client.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::kernel {
namespace {

// read(2) and write(2) move at most this much per call; larger requests are looped.
constexpr std::size_t kMaxChunk = 0x7FFFF000;

// Seconds from 1601-01-01, where Windows file times start, to 1970-01-01, and 100 ns ticks a second.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

// A Linux time as a Windows file time; times before 1601 are 0.
FILETIME FileTimeOf(const timespec& time)
{
    const std::int64_t ticks
        = (static_cast<std::int64_t>(time.tv_sec) + kFileTimeEpochSeconds) * kFileTimeTicksPerSecond
        + time.tv_nsec / 100;
    const auto value = static_cast<std::uint64_t>(std::max<std::int64_t>(ticks, 0));
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The descriptor is known to be open, so EBADF means it was not opened for this direction.
void SetTransferError(int error)
{
    SetLastError(error == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(error));
}

class File final : public KernelObject {
public:
    // Takes ownership of an open descriptor.
    static std::shared_ptr<File> Create(int descriptor) { return std::shared_ptr<File>(new File(descriptor)); }
    ~File() override { ::close(descriptor_); }

    BOOL Read(void* buffer, DWORD bytesToRead, DWORD& bytesRead) override
    {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < bytesToRead) {
            const ssize_t result
                = ::read(descriptor_, bytes + done, std::min<std::size_t>(bytesToRead - done, kMaxChunk));
            if (result < 0 && errno == EINTR)
                continue;
            if (result < 0) {
                bytesRead = static_cast<DWORD>(done);
                SetTransferError(errno);
                return FALSE;
            }
            if (result == 0)
                break; // end of file: success with what was there
            done += static_cast<std::size_t>(result);
        }
        bytesRead = static_cast<DWORD>(done);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD bytesToWrite, DWORD& bytesWritten) override
    {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < bytesToWrite) {
            const ssize_t result
                = ::write(descriptor_, bytes + done, std::min<std::size_t>(bytesToWrite - done, kMaxChunk));
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0) {
                bytesWritten = static_cast<DWORD>(done);
                SetTransferError(result < 0 ? errno : ENOSPC);
                return FALSE;
            }
            done += static_cast<std::size_t>(result);
        }
        bytesWritten = static_cast<DWORD>(done);
        return TRUE;
    }

    BOOL Flush() override
    {
        if (::fsync(descriptor_) != 0 && errno != EINVAL) {
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
        return TRUE;
    }

    bool Size(ULONGLONG& size) override
    {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        size = static_cast<ULONGLONG>(status.st_size);
        return true;
    }

    bool Information(BY_HANDLE_FILE_INFORMATION& information) override
    {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        const auto device = static_cast<std::uint64_t>(status.st_dev);
        const auto index = static_cast<std::uint64_t>(status.st_ino);
        const auto size = static_cast<std::uint64_t>(status.st_size);
        information = BY_HANDLE_FILE_INFORMATION{};
        information.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        // fstat knows no creation time: it stays 0, as on file systems that keep none.
        information.ftLastAccessTime = FileTimeOf(status.st_atim);
        information.ftLastWriteTime = FileTimeOf(status.st_mtim);
        // A device number has 64 bits, a volume serial number 32: both halves count.
        information.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
        information.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        information.nFileSizeLow = static_cast<DWORD>(size);
        information.nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
        information.nFileIndexHigh = static_cast<DWORD>(index >> 32);
        information.nFileIndexLow = static_cast<DWORD>(index);
        return true;
    }

    bool BasicInformation(FILE_BASIC_INFO& information) override
    {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        const auto ticks = [](const timespec& time) {
            const FILETIME value = FileTimeOf(time);
            LARGE_INTEGER large{};
            large.QuadPart = static_cast<LONGLONG>(std::uint64_t{value.dwHighDateTime} << 32 | value.dwLowDateTime);
            return large;
        };
        information = FILE_BASIC_INFO{};
        // As in Information: no creation time is known.
        information.LastAccessTime = ticks(status.st_atim);
        information.LastWriteTime = ticks(status.st_mtim);
        information.ChangeTime = ticks(status.st_ctim);
        information.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return true;
    }

private:
    explicit File(int descriptor) : descriptor_(descriptor) {}

    const int descriptor_;
};

int OpenRetrying(const std::string& path, int flags)
{
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// Opens the file with Windows disposition semantics; -1 with errno on failure. existed tells
// whether CREATE_ALWAYS or OPEN_ALWAYS found the file already there.
int OpenWithDisposition(const std::string& path, int access, DWORD disposition, bool& existed)
{
    existed = false;
    switch (disposition) {
    case CREATE_NEW:
        return OpenRetrying(path, access | O_CREAT | O_EXCL);
    case OPEN_EXISTING:
        return OpenRetrying(path, access);
    case TRUNCATE_EXISTING:
        return OpenRetrying(path, access | O_TRUNC);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: {
        // Create first, so that "existed" is known without a race against another creator.
        const int created = OpenRetrying(path, access | O_CREAT | O_EXCL);
        if (created >= 0 || errno != EEXIST)
            return created;
        existed = true;
        return OpenRetrying(path, access | (disposition == CREATE_ALWAYS ? O_TRUNC : 0));
    }
    default:
        errno = EINVAL;
        return -1;
    }
}

// Sets the last error of a failed open: a missing folder on the way is ERROR_PATH_NOT_FOUND,
// a missing file in an existing folder ERROR_FILE_NOT_FOUND, as Windows tells them apart.
void SetOpenError(int error, const std::string& path)
{
    if (error == ENOENT) {
        const std::size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        struct stat status {};
        if (::stat(folder.c_str(), &status) != 0) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return;
        }
    }
    SetLastErrorFromErrno(error);
}

HANDLE OpenFile(std::u16string_view fileName, DWORD desiredAccess, DWORD disposition)
{
    if (fileName.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // A path with a broken surrogate would open some other file after its repair.
    if (!IsWellFormedUtf16(fileName)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    const bool read = desiredAccess & GENERIC_READ;
    const bool write = desiredAccess & GENERIC_WRITE;
    const int access = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    // Truncating a file needs the right to write it.
    if (disposition == TRUNCATE_EXISTING && !write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    // An existing file opened to be read is only ever a regular file. It is opened without
    // waiting, so a named pipe or a device in its place is refused instead of blocking the caller
    // until some writer comes.
    const bool readExisting = disposition == OPEN_EXISTING && !write;
    const int extraFlags = readExisting ? O_NONBLOCK | O_NOCTTY : 0;

    const std::string path = NativePath(fileName);
    bool existed = false;
    const int descriptor = OpenWithDisposition(path, access | extraFlags, disposition, existed);
    if (descriptor < 0) {
        SetOpenError(errno, path);
        return INVALID_HANDLE_VALUE;
    }
    struct stat status {};
    int error = 0;
    bool refused = false;
    if (::fstat(descriptor, &status) != 0)
        error = errno;
    else if (S_ISDIR(status.st_mode) || (readExisting && !S_ISREG(status.st_mode)))
        refused = true;
    else if (extraFlags != 0 && ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno; // reads of the regular file are to wait as reads normally do
    if (refused || error != 0) {
        ::close(descriptor);
        if (refused)
            SetLastError(ERROR_ACCESS_DENIED);
        else
            SetLastErrorFromErrno(error);
        return INVALID_HANDLE_VALUE;
    }
    try {
        const HANDLE handle = AddHandle(File::Create(descriptor));
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        ::close(descriptor);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

} // namespace
} // namespace platform::kernel

// Opens a file (UTF-16 path) or, for \\.\pipe\NAME, connects to a named pipe as a client.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE)
{
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string_view name(fileName);
    if (platform::kernel::HasPipePrefix(name))
        return platform::kernel::OpenPipeClient(name);
    return platform::kernel::OpenFile(name, desiredAccess, creationDisposition);
}

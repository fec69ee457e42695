// GetTempFileNameW: new, uniquely named empty files made with O_EXCL, safe across processes. Each
// file it makes is marked in use for as long as the file exists or the process lives, and the first
// call of a process in a folder sweeps the files of this kind that a process ended mid-way left
// there (platform/kernel/leftovers.h).
#include "platform/kernel/file_modes.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/leftovers.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room the name needs after the folder: "\" and "ppp" + four hex digits + ".tmp" in Windows'
// own accounting, so a folder text may be at most MAX_PATH - 14 units long.
constexpr std::size_t kMaxFolderLength = MAX_PATH - 14;
// Fresh random numbers tried before giving up on a folder crowded with names.
constexpr int kMaxAttempts = 100;

// "<prefix>XXXXXXXX.tmp" with the number as eight upper-case hex digits.
std::u16string TempName(std::u16string_view prefix, UINT unique)
{
    char digits[9];
    std::snprintf(digits, sizeof(digits), "%08X", unique);
    std::u16string name(prefix);
    for (const char digit : std::string_view(digits))
        name.push_back(static_cast<char16_t>(digit));
    name += u".tmp";
    return name;
}

// A random nonzero number; 0 means "make a file" to the caller and so is never a name.
UINT RandomUnique()
{
    UINT value = 0;
    while (value == 0) {
        if (::getrandom(&value, sizeof(value), 0) != static_cast<ssize_t>(sizeof(value)))
            value = 0;
    }
    return value;
}

// Writes the zero-terminated path into out (MAX_PATH units); false when it does not fit.
bool CopyOut(const std::u16string& path, LPWSTR out)
{
    if (path.size() + 1 > MAX_PATH)
        return false;
    std::copy(path.begin(), path.end(), out);
    out[path.size()] = u'\0';
    return true;
}

// True when name is one GetTempFileNameW makes with this prefix: the prefix, eight upper-case
// hexadecimal digits, ".tmp".
bool IsTempName(std::string_view name, std::string_view prefix)
{
    constexpr std::string_view kSuffix = ".tmp";
    if (name.size() != prefix.size() + 8 + kSuffix.size() || name.substr(0, prefix.size()) != prefix
        || name.substr(name.size() - kSuffix.size()) != kSuffix)
        return false;
    for (const char digit : name.substr(prefix.size(), 8)) {
        if (!((digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F')))
            return false;
    }
    return true;
}

// Sweeps the files of this prefix that nobody uses any more from a folder already trusted.
int SweepFolder(const std::string& folder, const std::string& prefix)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return 0;
    const int removed
        = platform::SweepLeftovers(descriptor, [&prefix](std::string_view name) { return IsTempName(name, prefix); });
    ::close(descriptor);
    return removed;
}

// Sweeps, once per process and folder, the files of this prefix that nobody uses any more.
void SweepFolderOnce(const std::string& folder, const std::string& prefix)
{
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard lock(mutex);
        if (!swept.insert(folder + '\0' + prefix).second)
            return;
    }
    SweepFolder(folder, prefix);
}

void CloseFolder(int descriptor)
{
    if (descriptor >= 0)
        ::close(descriptor);
}

// The Windows error for a failed exclusive create of a new file in the folder.
DWORD CreateError(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_DIRECTORY;
    default:
        return platform::kernel::ErrorFromErrno(error);
    }
}

} // namespace

// Creates a new empty file with a unique name in a folder; returns 0 on failure.
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName)
{
    if (!pathName || !prefixString || !tempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string_view folder(pathName);
    const std::u16string_view prefix(prefixString);
    if (folder.size() > kMaxFolderLength) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    // An empty folder would put the file into the current folder, or with the separator into
    // the file system's root: neither is a folder anyone chose.
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (!platform::kernel::IsWellFormedUtf16(folder) || !platform::kernel::IsWellFormedUtf16(prefix)
        || prefix.find_first_of(u"/\\") != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::u16string folderText(folder);
    if (folderText.back() != u'/' && folderText.back() != u'\\')
        folderText.push_back(u'/');
    // The full path must fit the caller's MAX_PATH buffer before anything is created, so a
    // name that cannot be handed back never leaves a file behind.
    if (folderText.size() + TempName(prefix, 1).size() + 1 > MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }

    if (unique != 0) {
        CopyOut(folderText + TempName(prefix, unique), tempFileName);
        SetLastError(ERROR_SUCCESS);
        return unique;
    }

    // The pages of a document wait in these files: a private folder made earlier under a wider
    // mode is closed first, and each file is its owner's alone from the moment it exists.
    platform::TightenPrivateFolder(platform::NativePath(folder));
    // In a folder another user may change, the file could be swapped for a link to any file this
    // process may write before it is written.
    if (!platform::TrustFolder(platform::NativePath(folder))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    SweepFolderOnce(platform::NativePath(folder), platform::Utf16ToUtf8(prefix));
    // Held while a file is between its creation and its lock, so that no sweep takes it then.
    const int folderDescriptor = ::open(platform::NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const UINT number = RandomUnique();
        const std::u16string path = folderText + TempName(prefix, number);
        const std::string native = platform::NativePath(path);
        int descriptor;
        int error = 0;
        {
            const platform::FileMaking making(folderDescriptor);
            do {
                descriptor = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                    platform::kPrivateFileMode);
            } while (descriptor < 0 && errno == EINTR);
            error = errno;
            // In use from now on: the caller writes and reads it by name and removes it when done.
            if (descriptor >= 0)
                platform::MarkInUse(descriptor);
        }
        if (descriptor < 0 && error == EEXIST)
            continue;
        if (descriptor < 0) {
            CloseFolder(folderDescriptor);
            SetLastError(CreateError(error));
            return 0;
        }
        CloseFolder(folderDescriptor);
        // The umask may have taken away the owner's own bits; it can never have added any.
        ::fchmod(descriptor, platform::kPrivateFileMode);
        platform::HoldUntilRemoved(descriptor, native);
        CopyOut(path, tempFileName);
        SetLastError(ERROR_SUCCESS);
        return number;
    }
    CloseFolder(folderDescriptor);
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

namespace platform {

// Sweeps from a trusted folder the page files of this prefix that nobody uses any more.
int SweepTempFileLeftovers(const std::string& folder, const std::string& prefix)
{
    if (folder.empty() || prefix.empty() || prefix.find('/') != std::string::npos
        || !UntrustedFolderReason(folder).empty())
        return 0;
    return SweepFolder(folder, prefix);
}

} // namespace platform

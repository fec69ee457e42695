// Modes of the folders and files the platform makes, and the folders it trusts to hold them.
#include "platform/kernel/file_modes.h"

#include "platform/kernel/console_text.h"
#include "platform/kernel/host.h"
#include "platform/kernel/leftovers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// The path in a form that can be compared: absolute, without "." and ".." parts or a trailing "/".
std::string Comparable(const std::string& native)
{
    std::error_code error;
    std::string text = std::filesystem::absolute(native, error).lexically_normal().string();
    if (error)
        return {};
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// "user 65534 (nobody)", or "user 1234" for a number without a name.
std::string UserText(uid_t uid)
{
    std::string text = "user " + std::to_string(uid);
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        text += std::string(" (") + found->pw_name + ")";
    return text;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string ParentOf(const std::string& native)
{
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : native.substr(0, slash);
}

// Why a thing owned as status says may not lie in the way of what this process writes; empty
// when it belongs to this process's user or the superuser.
std::string OwnerReason(const std::string& which, const struct stat& status)
{
    if (status.st_uid == ::geteuid() || status.st_uid == 0)
        return {};
    return which + " belongs to " + UserText(status.st_uid)
        + ", neither this process's user nor the superuser; nothing is written there";
}

// Why the folder, as status says, may not hold or lie above `asked`; empty when it may.
std::string FolderReason(const std::string& folder, const std::string& asked, const struct stat& status)
{
    const std::string which = folder == asked ? "the folder " + folder : "the folder " + folder + " above " + asked;
    const std::string reason = OwnerReason(which, status);
    if (!reason.empty())
        return reason;
    const bool othersWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && (status.st_mode & S_ISVTX) == 0)
        return which + " (mode " + ModeText(status.st_mode)
            + ") can be written by other users; nothing is written there";
    return {};
}

// Why the folder the path leads to, or one above it, may not hold `asked`; empty when none.
std::string ResolvedChainReason(const std::string& path, const std::string& asked)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved)
        return {};
    for (std::string folder = resolved.get();; folder = ParentOf(folder)) {
        struct stat status {};
        if (::lstat(folder.c_str(), &status) != 0)
            return {};
        const std::string reason
            = FolderReason(folder, folder == resolved.get() && path == asked ? folder : asked, status);
        if (!reason.empty())
            return reason;
        if (folder == "/")
            return {};
    }
}

} // namespace

// The common application-data folder (native): <root>/var/lib.
std::string CommonAppDataFolder()
{
    const std::string root = RootFolder();
    return (root == "/" ? std::string() : root) + "/var/lib";
}

// True when the native path is a program's folder in the common application-data folder or lies below one.
bool IsPrivatePlace(const std::string& native)
{
    const std::string path = Comparable(native);
    const std::string common = CommonAppDataFolder() + "/";
    return path.size() > common.size() && path.compare(0, common.size(), common) == 0;
}

// Makes one folder with exactly the mode its place calls for, whatever the umask.
bool MakeFolder(const std::string& native, bool& made)
{
    made = false;
    struct stat status {};
    if (::stat(native.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    TightenPrivateFolder(ParentOf(native));
    // Nothing is made in a folder that is not trusted, this folder included.
    if (!TrustFolder(ParentOf(native)))
        return false;
    const mode_t mode = IsPrivatePlace(native) ? kPrivateFolderMode : kSharedFolderMode;
    if (::mkdir(native.c_str(), mode) != 0) {
        // Made meanwhile by someone else: there it is.
        const int error = errno;
        if (error == EEXIST && ::stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            return true;
        errno = error == EEXIST ? ENOTDIR : error;
        return false;
    }
    made = true;
    // The umask can only have taken bits away, so this never opens the folder wider than its mode.
    return ::chmod(native.c_str(), mode) == 0;
}

// Makes an absolute folder and every missing parent, each with the mode of its place.
bool MakeFolders(const std::string& native)
{
    if (native.empty() || native.front() != '/') {
        errno = EINVAL;
        return false;
    }
    for (std::size_t slash = native.find('/', 1);; slash = native.find('/', slash + 1)) {
        const std::string part = native.substr(0, slash);
        bool made = false;
        if (part.back() != '/' && !MakeFolder(part, made))
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

// Makes an absolute folder with exactly `mode` when it is missing.
bool MakeFolderOfMode(const std::string& native, mode_t mode)
{
    if (native.empty() || native.front() != '/') {
        errno = EINVAL;
        return false;
    }
    // A folder that is there needs none of its parents looked at (every start finds its log folder).
    struct stat status {};
    if (::stat(native.c_str(), &status) == 0) {
        errno = S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
        return errno == 0;
    }
    // Nothing is made in a folder that is not trusted.
    if (!MakeFolders(ParentOf(native)) || !TrustFolder(ParentOf(native)))
        return false;
    if (::mkdir(native.c_str(), mode) != 0) {
        const int error = errno;
        if (error == EEXIST && ::stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            return true;
        errno = error == EEXIST ? ENOTDIR : error;
        return false;
    }
    // The umask can only have taken bits away, so this never opens the folder wider than its mode.
    return ::chmod(native.c_str(), mode) == 0;
}

// Takes group and other access away from a private folder its owner made earlier under a wider mode.
void TightenPrivateFolder(const std::string& native)
{
    struct stat status {};
    if (!IsPrivatePlace(native) || ::lstat(native.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid() || (status.st_mode & 077) == 0)
        return;
    ::chmod(native.c_str(), status.st_mode & 07700);
}

// Why the folder may not hold what this process writes; empty when it may.
std::string UntrustedFolderReason(const std::string& native)
{
    const std::string asked = Comparable(native);
    if (asked.empty())
        return {};
    // Where the path leads, and every folder above that.
    std::string reason = ResolvedChainReason(asked, asked);
    // The path as it was given, from the top down: a folder another user may change is refused
    // even when a link below it leads somewhere sound, since that user may point the link
    // anywhere. A link out of a sound folder is followed, where it leads judged too.
    for (std::size_t slash = 0; reason.empty() && slash != std::string::npos;) {
        slash = asked.find('/', slash + 1);
        const std::string folder = asked.substr(0, slash);
        struct stat status {};
        if (::lstat(folder.c_str(), &status) != 0)
            break;
        if (S_ISLNK(status.st_mode)) {
            reason = OwnerReason("the link " + folder + (folder == asked ? "" : " above " + asked), status);
            if (reason.empty())
                reason = ResolvedChainReason(folder, asked);
        } else {
            reason = FolderReason(folder, asked, status);
        }
    }
    return reason;
}

// True when the folder may hold what this process writes; otherwise says why, once.
bool TrustFolder(const std::string& native)
{
    const std::string reason = UntrustedFolderReason(native);
    if (reason.empty())
        return true;
    static std::mutex mutex;
    static std::set<std::string> told;
    {
        std::lock_guard lock(mutex);
        if (told.insert(reason).second) {
            const std::string line = "quillon: " + ConsoleText(reason) + "\n";
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
        }
    }
    errno = EACCES;
    return false;
}

// Opens a file in an open folder to append to, making it with exactly `mode` when it is missing.
int OpenAppendFile(int folder, const std::string& name, mode_t mode)
{
    const int file = ::openat(folder, name.c_str(),
                              O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (file < 0)
        return -1;
    struct stat status {};
    int error = 0;
    if (::fstat(file, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EINVAL;
    // In a folder open to all (with the sticky bit) another user may have made the file first.
    else if (status.st_uid != ::geteuid())
        error = EACCES;
    // The umask may have taken bits away from a new file, and an earlier one may be wider.
    else if (status.st_uid == ::geteuid() && (status.st_mode & 07777) != mode && ::fchmod(file, mode) != 0)
        error = errno;
    if (error != 0) {
        ::close(file);
        errno = error;
        return -1;
    }
    return file;
}

// Opens by its native path a file the platform writes or reads for the program.
int OpenOwnFile(const std::string& native, int flags, mode_t mode)
{
    const int held = HeldFileOf(native);
    struct stat named {};
    if (held >= 0 && (::lstat(native.c_str(), &named) == 0 || errno != ENOENT)) {
        // The open file behind the descriptor, whatever the name now leads to.
        const std::string self = "/proc/self/fd/" + std::to_string(held);
        return ::open(self.c_str(), (flags & ~(O_CREAT | O_EXCL | O_NOFOLLOW)) | O_CLOEXEC);
    }
    // A file made here and removed since is made anew, never through a link put in its place.
    if (held >= 0 || IsPrivatePlace(native))
        flags |= O_NOFOLLOW;
    return ::open(native.c_str(), flags | O_CLOEXEC, mode);
}

} // namespace platform

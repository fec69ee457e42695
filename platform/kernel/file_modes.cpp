// Modes of the folders and files the platform makes, and the process's file-creation mask.
#include "platform/kernel/file_modes.h"

#include "platform/kernel/host.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Runs while the platform library is loaded, before any program code: what a process makes
// without a mode of its own (the log files Boost.Log opens, the folders it makes for them) is then
// never readable or writable by other users, whatever mask the process was started with.
[[gnu::constructor]] void SetProcessCreationMask()
{
    ::umask(kProcessCreationMask);
}

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

std::string ParentOf(const std::string& native)
{
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : native.substr(0, slash);
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

// Takes group and other access away from a private folder its owner made earlier under a wider mode.
void TightenPrivateFolder(const std::string& native)
{
    struct stat status {};
    if (!IsPrivatePlace(native) || ::lstat(native.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid() || (status.st_mode & 077) == 0)
        return;
    ::chmod(native.c_str(), status.st_mode & 07700);
}

} // namespace platform

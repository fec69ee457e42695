// Where the Windows view of the machine meets the Linux file system: the root folder,
// drive paths, pipe socket paths and the executable's folder.
#include "platform/kernel/host.h"

#include "platform/kernel/pipe_client.h"
#include "platform/kernel/text.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {
namespace {

bool IsAsciiLetter(char16_t unit)
{
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}

// The root with its trailing "/" taken off, so that "/" becomes "" and paths join with "/".
std::string RootPrefix()
{
    std::string root = RootFolder();
    if (root == "/")
        root.clear();
    return root;
}

} // namespace

// The machine root: the folder named by QUILLON_ROOT, or "/". Read on every call, so tests can
// move the root between cases.
std::string RootFolder()
{
    const char* value = std::getenv("QUILLON_ROOT");
    if (!value || !*value)
        return "/";
    std::error_code error;
    std::filesystem::path root = std::filesystem::absolute(value, error);
    if (error)
        return "/";
    std::string text = root.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// The native (UTF-8) path of a Windows-style path: "\" is a separator wherever it stands, and X:\rest
// becomes <root>/mnt/x/rest.
std::string NativePath(std::u16string_view path)
{
    const bool drivePath = path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':';
    std::string native;
    std::string rest = Utf16ToUtf8(drivePath ? path.substr(2) : path);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    if (drivePath) {
        native = RootPrefix() + "/mnt/" + static_cast<char>(kernel::FoldAscii(path[0]));
        // "X:name" is relative to the drive's root here: there is no per-drive current folder.
        if (!rest.empty() && rest.front() != '/')
            native.push_back('/');
    }
    return native + rest;
}

// The Unix socket that stands for the named pipe \\.\pipe\NAME: <root>/run/quillon/pipe/NAME.
std::string PipeSocketPath(std::u16string_view pipeName)
{
    const std::u16string_view name = kernel::PipeNameOf(pipeName);
    if (!kernel::IsUsablePipeName(name))
        return {};
    return RootPrefix() + "/run/quillon/pipe/" + Utf16ToUtf8(name);
}

// Folder of the running executable (native path, no trailing "/"); empty when it cannot be read.
std::string ExecutableFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return executable.parent_path().string();
}

// The file appears whole, the process id in it, under its name by a rename; it is watched from
// before the rename, so its removal cannot be missed.
void HoldAfterPageIfAsked()
{
    static std::atomic<bool> held = false;
    const char* path = std::getenv("QUILLON_HOLD_AFTER_PAGE");
    if (!path || !*path || held.exchange(true))
        return;
    const std::string pending = std::string(path) + ".pending";
    const int file = ::open(pending.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        return;
    const std::string pid = std::to_string(::getpid());
    const bool written = ::write(file, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
    ::close(file);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (!written || watch < 0 || ::inotify_add_watch(watch, pending.c_str(), IN_DELETE_SELF) < 0
        || ::rename(pending.c_str(), path) != 0) {
        ::unlink(pending.c_str());
        if (watch >= 0)
            ::close(watch);
        return;
    }
    alignas(inotify_event) char events[sizeof(inotify_event) + NAME_MAX + 1];
    while (::read(watch, events, sizeof events) < 0 && errno == EINTR) {}
    ::close(watch);
}

} // namespace platform

// In-use locks on the files a process works in, and the sweep of those their process left behind.
#include "platform/kernel/leftovers.h"

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

struct HeldFile {
    int descriptor;
    std::string native;
};

std::mutex g_heldMutex;
std::vector<HeldFile> g_held;

// True when the held file has been removed from its folder: it is closed, and its lock let go.
bool Released(const HeldFile& held)
{
    struct stat status {};
    if (::fstat(held.descriptor, &status) == 0 && status.st_nlink > 0)
        return false;
    ::close(held.descriptor);
    return true;
}

// The names in a folder, read before any of them is removed. Read through an open of its own: a
// duplicate descriptor would share, and leave at the end, the reading position of the caller's.
std::vector<std::string> NamesIn(int folder)
{
    std::vector<std::string> names;
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* directory = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!directory) {
        if (copy >= 0)
            ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(directory);
    return names;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes a lock of the kind on an open file or folder, waiting for it unless `wait` is false.
bool Lock(int descriptor, int kind, bool wait)
{
    int result;
    do {
        result = ::flock(descriptor, kind | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

FileMaking::FileMaking(int folder) : folder_(folder >= 0 && Lock(folder, LOCK_SH, true) ? folder : -1)
{}

FileMaking::~FileMaking()
{
    if (folder_ >= 0)
        ::flock(folder_, LOCK_UN);
}

bool MarkInUse(int descriptor)
{
    return Lock(descriptor, LOCK_EX, false);
}

void HoldUntilRemoved(int descriptor, const std::string& native)
{
    std::lock_guard lock(g_heldMutex);
    // Files removed since the last call have no more need of their lock.
    std::erase_if(g_held, Released);
    if (descriptor >= 0)
        g_held.push_back({descriptor, native});
}

int HeldFileOf(const std::string& native)
{
    std::lock_guard lock(g_heldMutex);
    // A held file taken from its folder is still the one asked for: whoever took it may have put
    // something else under its name.
    for (const HeldFile& held : g_held) {
        if (held.native == native)
            return held.descriptor;
    }
    return -1;
}

std::size_t HeldFileCount()
{
    std::lock_guard lock(g_heldMutex);
    return g_held.size();
}

int SweepLeftovers(int folder, const std::function<bool(std::string_view name)>& isLeftover)
{
    if (folder < 0)
        return 0;
    // No maker between a file's creation and its lock while this is held: every free file is left over.
    const bool settled = Lock(folder, LOCK_EX, false);
    int removed = 0;
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : NamesIn(folder)) {
        if (!isLeftover(name))
            continue;
        const int file = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // Its owner's lock free, the file is nobody's; looked at again by name just before it goes,
        // so that a file made meanwhile under the same name is never the one removed.
        const bool abandoned = ::fstat(file, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid()
            && (settled || now - opened.st_mtime >= kLeftoverAge.count()) && MarkInUse(file) && isLeftover(name)
            && ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named);
        if (abandoned && ::unlinkat(folder, name.c_str(), 0) == 0)
            ++removed;
        ::close(file);
    }
    if (settled)
        ::flock(folder, LOCK_UN);
    return removed;
}

} // namespace platform

#include "platform/kernel/planted_links.h"

#include "platform/kernel/console_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace platform {
namespace {

// The names of the links in the folder, read through an open of its own.
std::vector<std::string> LinksIn(int folder)
{
    std::vector<std::string> links;
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* directory = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!directory) {
        if (copy >= 0)
            ::close(copy);
        return links;
    }
    while (const dirent* entry = ::readdir(directory)) {
        struct stat status {};
        if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
            links.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    return links;
}

} // namespace

int RemovePlantedLinks(int folder, const std::string& shown)
{
    struct stat status {};
    if (folder < 0 || ::fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        return 0;
    int removed = 0;
    for (const std::string& name : LinksIn(folder)) {
        char target[4096];
        const ssize_t length = ::readlinkat(folder, name.c_str(), target, sizeof target);
        if (::unlinkat(folder, name.c_str(), 0) != 0)
            continue;
        ++removed;
        const std::string line = "quillon: the link " + ConsoleText(name) + " in " + ConsoleText(shown) + " (to "
            + ConsoleText(std::string_view(target, length > 0 ? static_cast<std::size_t>(length) : 0))
            + "), which another user put there while the folder was open to others, was removed\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    }
    return removed;
}

} // namespace platform

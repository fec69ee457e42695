// Test helpers for file modes: a file-creation mask for the length of a scope, and the permission
// bits of a path as a number to compare whole.
#pragma once

#include <filesystem>
#include <sys/stat.h>

namespace testing_support {

// Sets the process's file-creation mask and puts the previous one back at the end of the scope.
class ScopedUmask final {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

// The permission bits of a path itself (a link is not followed), -1 when it is not there.
inline int ModeOf(const std::filesystem::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

} // namespace testing_support

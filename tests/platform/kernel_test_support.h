// Test support for the platform layer: a private machine root per test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace platform_test {

// A fresh folder that stands as <root> (QUILLON_ROOT) for one test and is removed after it.
class PrivateRoot {
public:
    PrivateRoot()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-platform-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
        ::setenv("QUILLON_ROOT", path_.c_str(), 1);
    }
    ~PrivateRoot()
    {
        ::unsetenv("QUILLON_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PrivateRoot(const PrivateRoot&) = delete;
    PrivateRoot& operator=(const PrivateRoot&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// UTF-16 text of an ASCII/UTF-8 native path, for the wide calls.
inline std::u16string Wide(const std::string& text)
{
    return std::filesystem::path(text).u16string();
}

} // namespace platform_test

// Test support for the platform layer: a private machine root per test.
#pragma once

#include "tests/support/temp_root.h"

#include <filesystem>
#include <string>

namespace platform_test {

// A fresh folder that stands as <root> (QUILLON_ROOT) for one test and is removed after it.
using PrivateRoot = testing_support::TempRoot;

// UTF-16 text of an ASCII/UTF-8 native path, for the wide calls.
inline std::u16string Wide(const std::string& text)
{
    return std::filesystem::path(text).u16string();
}

} // namespace platform_test

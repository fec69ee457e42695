// The shell's common application-data folder and directory creation under a private root.
#include "platform/kernel/kernel.h"
#include "platform/shell/shell.h"
#include "tests/platform/kernel_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;

TEST(ShGetFolderPath, CommonAppDataIsVarLibUnderTheRoot)
{
    WCHAR path[MAX_PATH];
    {
        platform_test::PrivateRoot root;
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
        EXPECT_EQ(std::u16string(path), Wide(root.Path().string()) + u"/var/lib");
        ::setenv("QUILLON_ROOT", (root.Path().string() + "/").c_str(), 1);
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
        EXPECT_EQ(std::u16string(path), Wide(root.Path().string()) + u"/var/lib");
    }
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    EXPECT_EQ(std::u16string(path), u"/var/lib");

    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x1A, nullptr, SHGFP_TYPE_CURRENT, path), E_INVALIDARG);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, nullptr), E_INVALIDARG);

    // A root whose folder would not fit in MAX_PATH is a failure, not a cut path.
    ::setenv("QUILLON_ROOT", ("/" + std::string(260, 'r')).c_str(), 1);
    EXPECT_TRUE(FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)));
    ::unsetenv("QUILLON_ROOT");
}

TEST(ShCreateDirectory, MakesMissingParentsAndReportsWhatWasThere)
{
    platform_test::PrivateRoot root;
    const fs::path target = root.Path() / "var" / "lib" / "Marlowin";
    const std::u16string text = Wide(target.string());
    EXPECT_EQ(SHCreateDirectory(nullptr, text.c_str()), static_cast<int>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(SHCreateDirectory(nullptr, text.c_str()), static_cast<int>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(SHCreateDirectory(nullptr, (text + u"/").c_str()), static_cast<int>(ERROR_ALREADY_EXISTS));

    EXPECT_EQ(SHCreateDirectory(nullptr, u"C:\\ProgramData\\Marlowin"), static_cast<int>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::is_directory(root.Path() / "mnt" / "c" / "ProgramData" / "Marlowin"));
    // "\" separates folders in a Linux path too.
    EXPECT_EQ(SHCreateDirectory(nullptr, (Wide(root.Path().string()) + u"\\one\\two").c_str()),
              static_cast<int>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::is_directory(root.Path() / "one" / "two"));

    std::ofstream(root.Path() / "file") << "x";
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide((root.Path() / "file").string()).c_str()),
              static_cast<int>(ERROR_FILE_EXISTS));
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide((root.Path() / "file" / "sub").string()).c_str()),
              static_cast<int>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(ShCreateDirectory, RefusesPathsItCannotPlace)
{
    platform_test::PrivateRoot root;
    const fs::path before = fs::current_path();
    fs::current_path(root.Path());
    EXPECT_EQ(SHCreateDirectory(nullptr, nullptr), static_cast<int>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(SHCreateDirectory(nullptr, u""), static_cast<int>(ERROR_BAD_PATHNAME));
    // A relative path would land wherever the process happens to stand.
    EXPECT_EQ(SHCreateDirectory(nullptr, u"relative\\folder"), static_cast<int>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_TRUE(fs::is_empty(root.Path()));
    fs::current_path(before);
}

} // namespace

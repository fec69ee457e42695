// The shell's common application-data folder and directory creation under a private root.
#include "platform/kernel/kernel.h"
#include "platform/shell/shell.h"
#include "tests/platform/kernel_test_support.h"
#include "tests/support/file_modes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;
using testing_support::ModeOf;
using testing_support::ScopedUmask;

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

TEST(ShCreateDirectory, FoldersTakeTheModeOfTheirPlaceWhateverTheUmask)
{
    for (const mode_t mask : {00, 022, 077}) {
        SCOPED_TRACE(mask);
        platform_test::PrivateRoot root;
        ScopedUmask umask(mask);
        // The machine's layout is open to look into; a program's data folder and all below it are not.
        const fs::path data = root.Path() / "var" / "lib" / "Marlowin";
        ASSERT_EQ(SHCreateDirectory(nullptr, Wide((data / "pages" / "deep").string()).c_str()),
                  static_cast<int>(ERROR_SUCCESS));
        EXPECT_EQ(ModeOf(root.Path() / "var"), 0755);
        EXPECT_EQ(ModeOf(root.Path() / "var" / "lib"), 0755);
        EXPECT_EQ(ModeOf(data), 0700);
        EXPECT_EQ(ModeOf(data / "pages"), 0700);
        EXPECT_EQ(ModeOf(data / "pages" / "deep"), 0700);
        // A sibling whose name only begins like the common folder's is no program's folder.
        ASSERT_EQ(SHCreateDirectory(nullptr, Wide((root.Path() / "var" / "library").string()).c_str()),
                  static_cast<int>(ERROR_SUCCESS));
        EXPECT_EQ(ModeOf(root.Path() / "var" / "library"), 0755);
        ASSERT_EQ(SHCreateDirectory(nullptr, u"D:\\Logs"), static_cast<int>(ERROR_SUCCESS));
        EXPECT_EQ(ModeOf(root.Path() / "mnt" / "d" / "Logs"), 0755);
    }
}

TEST(ShCreateDirectory, APrivateFolderMadeWiderEarlierIsTightened)
{
    platform_test::PrivateRoot root;
    const fs::path data = root.Path() / "var" / "lib" / "Marlowin";
    fs::create_directories(data / "old");
    fs::permissions(data, fs::perms::all);
    fs::permissions(data / "old", fs::perms::all);
    fs::create_directories(root.Path() / "mnt" / "d");
    fs::permissions(root.Path() / "mnt" / "d", fs::perms::all);

    // Asked for again, or something new made in it: the folder is its owner's alone.
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide(data.string()).c_str()), static_cast<int>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ModeOf(data), 0700);
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide((data / "old" / "new").string()).c_str()),
              static_cast<int>(ERROR_SUCCESS));
    EXPECT_EQ(ModeOf(data / "old"), 0700);
    // Nothing is made below a folder others may write in: another user could swap what is made
    // there for a link. Tightened, only the folder something was to be made in is.
    fs::permissions(data, fs::perms::all);
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide((data / "old" / "other").string()).c_str()),
              static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(fs::exists(data / "old" / "other"));
    EXPECT_EQ(ModeOf(data), 0777);
    // Folders outside the private places stay as their owner left them, and nothing is made in them.
    EXPECT_EQ(SHCreateDirectory(nullptr, u"D:\\new"), static_cast<int>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(fs::exists(root.Path() / "mnt" / "d" / "new"));
    EXPECT_EQ(ModeOf(root.Path() / "mnt" / "d"), 0777);
}

TEST(ShCreateDirectory, SomebodyElsesFolderIsLeftAsItIs)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr)
        GTEST_SKIP() << "needs the superuser and the user nobody to make a folder of another owner";
    platform_test::PrivateRoot root;
    const fs::path data = root.Path() / "var" / "lib" / "Marlowin";
    fs::create_directories(data);
    fs::permissions(data, fs::perms::all);
    ASSERT_EQ(::chown(data.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    EXPECT_EQ(SHCreateDirectory(nullptr, Wide(data.string()).c_str()), static_cast<int>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ModeOf(data), 0777);
}

// Run alone in a process started by the test below: ends that process with its file-creation mask.
TEST(ProcessStart, EndsWithItsCreationMaskWhenAsked)
{
    if (!std::getenv("QUILLON_TEST_EXIT_WITH_UMASK"))
        GTEST_SKIP() << "run by ThePlatformLeavesTheCreationMaskOfAProgramAsItStarted";
    const mode_t mask = ::umask(0);
    std::_Exit(static_cast<int>(mask));
}

// A program that loads the platform keeps the mask it was started with: the platform makes what
// it makes with modes of its own.
TEST(ProcessStart, ThePlatformLeavesTheCreationMaskOfAProgramAsItStarted)
{
    for (const mode_t mask : {0002, 0077}) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::umask(mask);
            ::setenv("QUILLON_TEST_EXIT_WITH_UMASK", "1", 1);
            ::execl("/proc/self/exe", "shell_test", "--gtest_filter=ProcessStart.EndsWithItsCreationMaskWhenAsked",
                    static_cast<char*>(nullptr));
            std::_Exit(255);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(mask));
    }
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

// GetTempFileNameW: unique, exclusive names under contention, and failures that leave nothing.
#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"
#include "tests/platform/kernel_test_support.h"
#include "tests/support/file_modes.h"

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

// The numbers the next calls of getrandom hand out, so a test can make a name come up twice.
// This program's getrandom stands in front of the C library's for every caller in the process.
std::mutex scriptMutex;
std::deque<UINT> scriptedNumbers;

extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned int flags)
{
    {
        std::lock_guard lock(scriptMutex);
        if (!scriptedNumbers.empty() && length == sizeof(UINT)) {
            std::memcpy(buffer, &scriptedNumbers.front(), sizeof(UINT));
            scriptedNumbers.pop_front();
            return static_cast<ssize_t>(length);
        }
    }
    return ::syscall(SYS_getrandom, buffer, length, flags);
}

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;

constexpr const char16_t* kPrefix = u"ZVPrintFile";

std::size_t CountEntries(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class TempFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = root_.Path() / "data";
        fs::create_directory(folder_);
        folderText_ = Wide(folder_.string());
    }
    void TearDown() override
    {
        std::lock_guard lock(scriptMutex);
        scriptedNumbers.clear();
    }

    platform_test::PrivateRoot root_;
    fs::path folder_;
    std::u16string folderText_;
};

TEST_F(TempFileTest, MakesANewEmptyFileWithTheWholePrefix)
{
    WCHAR first[MAX_PATH];
    WCHAR second[MAX_PATH];
    const UINT a = GetTempFileNameW(folderText_.c_str(), kPrefix, 0, first);
    const UINT b = GetTempFileNameW(folderText_.c_str(), kPrefix, 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(std::u16string(first), std::u16string(second));

    const fs::path path(std::u16string{first});
    EXPECT_EQ(path.parent_path(), folder_);
    const std::string name = path.filename().string();
    ASSERT_EQ(name.size(), std::string("ZVPrintFile").size() + 8 + 4);
    EXPECT_EQ(name.substr(0, 11), "ZVPrintFile");
    EXPECT_EQ(name.substr(19), ".tmp");
    EXPECT_EQ(std::stoul(name.substr(11, 8), nullptr, 16), a);
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(TempFileTest, FilesAreTheirOwnersAloneWhateverTheUmask)
{
    // 0277 would even take the owner's own right to write the page away.
    for (const mode_t mask : {00, 022, 0277}) {
        testing_support::ScopedUmask umask(mask);
        WCHAR out[MAX_PATH];
        ASSERT_NE(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
        EXPECT_EQ(testing_support::ModeOf(fs::path(std::u16string(out))), 0600) << mask;
    }
}

TEST_F(TempFileTest, APrivateFolderIsClosedBeforeAPageFileIsMadeInIt)
{
    const fs::path data = root_.Path() / "var" / "lib" / "Marlowin";
    fs::create_directories(data);
    fs::permissions(data, fs::perms::all);
    fs::permissions(folder_, fs::perms::all);
    WCHAR out[MAX_PATH];
    ASSERT_NE(GetTempFileNameW(Wide(data.string()).c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(testing_support::ModeOf(data), 0700);
    // A folder outside the private places is the caller's business: left as it is, and refused
    // while others may write in it.
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(testing_support::ModeOf(folder_), 0777);
}

// In a folder another user may change, a page file could be swapped for a link to a file this
// process may write (the superuser's own files, say) before it is written: no file is made there.
// And a page file swapped all the same is written and read through the descriptor that made it,
// never through the link.
TEST_F(TempFileTest, FoldersOthersMayChangeAreRefusedAndASwappedFileIsNeverWrittenThroughItsName)
{
    WCHAR out[MAX_PATH];
    for (const fs::perms wide : {fs::perms::all, fs::perms::owner_all | fs::perms::group_all}) {
        fs::permissions(folder_, wide);
        SetLastError(0);
        EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(CountEntries(folder_), 0u);
    }
    // Open to all but with the sticky bit, as /tmp is: nobody may take away or rename what is ours.
    fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_NE(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
    fs::permissions(folder_, fs::perms::owner_all);

    const fs::path target = root_.Path() / "precious";
    std::ofstream(target) << "precious";
    ASSERT_NE(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
    const fs::path page(std::u16string{out});
    fs::remove(page);
    fs::create_symlink(target, page);
    HDC recording = CreateEnhMetaFileW(nullptr, out, nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    const BYTE note[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(GdiComment(recording, sizeof note, note));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    EXPECT_GT(GetEnhMetaFileBits(metafile, 0, nullptr), 100u) << "the recording reads back from its own file";
    DeleteEnhMetaFile(metafile);
    EXPECT_TRUE(fs::is_symlink(page));
    std::ifstream kept(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");

    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to give the folder to the user nobody";
    ASSERT_EQ(chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    for (const fs::perms mode : {fs::perms::owner_all, fs::perms::all & ~fs::perms::others_write}) {
        fs::permissions(folder_, mode);
        const std::size_t before = CountEntries(folder_);
        EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(CountEntries(folder_), before);
    }
}

TEST_F(TempFileTest, FolderTextIsKeptAndDrivePathsMap)
{
    WCHAR out[MAX_PATH];
    const std::u16string withSlash = folderText_ + u"/";
    ASSERT_NE(GetTempFileNameW(withSlash.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(std::u16string(out).find(u"//"), std::u16string::npos);

    fs::create_directories(root_.Path() / "mnt" / "c" / "ProgramData");
    ASSERT_NE(GetTempFileNameW(u"C:/ProgramData", kPrefix, 0, out), 0u);
    const std::u16string text(out);
    EXPECT_EQ(text.substr(0, 15), u"C:/ProgramData/");
    EXPECT_EQ(CountEntries(root_.Path() / "mnt" / "c" / "ProgramData"), 1u);
}

TEST_F(TempFileTest, ABackslashAfterTheFolderIsASeparator)
{
    fs::create_directory(folder_ / "sub");
    WCHAR out[MAX_PATH];
    const std::u16string folder = folderText_ + u"/sub\\";
    ASSERT_NE(GetTempFileNameW(folder.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(std::u16string(out).substr(0, folder.size()), folder);
    EXPECT_EQ(CountEntries(folder_), 1u) << "nothing named \"sub\\...\" beside the folder";
    EXPECT_EQ(CountEntries(folder_ / "sub"), 1u);
}

TEST_F(TempFileTest, AGivenNumberOnlyFormsTheName)
{
    WCHAR out[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), u"pre", 0xABCD, out), 0xABCDu);
    EXPECT_EQ(std::u16string(out), folderText_ + u"/pre0000ABCD.tmp");
    EXPECT_EQ(CountEntries(folder_), 0u);
}

TEST_F(TempFileTest, ANameThatExistsIsNeverHandedOutAgain)
{
    {
        std::lock_guard lock(scriptMutex);
        scriptedNumbers = {0x1111, 0x1111, 0, 0x2222};
    }
    WCHAR first[MAX_PATH];
    WCHAR second[MAX_PATH];
    ASSERT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, first), 0x1111u);
    std::ofstream{fs::path(std::u16string(first))} << "page one";
    // The same number comes up again: it is passed over, and 0 is never a number.
    ASSERT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, second), 0x2222u);
    EXPECT_EQ(std::u16string(second), folderText_ + u"/ZVPrintFile00002222.tmp");
    std::ifstream in{fs::path(std::u16string(first))};
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "page one");
    EXPECT_EQ(CountEntries(folder_), 2u);
}

TEST_F(TempFileTest, ManyThreadsAndProcessesNeverShareAName)
{
    constexpr int kThreads = 4;
    constexpr int kProcesses = 3;
    constexpr int kEach = 100;

    // A child's files are leftovers once it has ended (their locks go with it), and the first call
    // of another process in the folder sweeps them: each child says when its files are made, then
    // stays alive until the files have been counted.
    int made[2];
    int release[2];
    ASSERT_EQ(::pipe(made), 0);
    ASSERT_EQ(::pipe(release), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(made[0]);
            ::close(release[1]);
            WCHAR out[MAX_PATH];
            char result = 0;
            for (int i = 0; i < kEach && result == 0; ++i) {
                if (GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out) == 0)
                    result = 1;
            }
            if (::write(made[1], &result, 1) != 1)
                ::_exit(2);
            char end;
            (void)::read(release[0], &end, 1);
            ::_exit(result);
        }
        children.push_back(child);
    }
    ::close(made[1]);
    ::close(release[0]);

    std::mutex mutex;
    std::set<std::u16string> names;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                WCHAR out[MAX_PATH];
                if (GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out) != 0) {
                    std::lock_guard lock(mutex);
                    names.insert(out);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int p = 0; p < kProcesses; ++p) {
        char result = 1;
        EXPECT_EQ(::read(made[0], &result, 1), 1);
        EXPECT_EQ(result, 0);
    }

    EXPECT_EQ(names.size(), static_cast<std::size_t>(kThreads * kEach));
    // Every successful call made its own file: no two calls claimed one name.
    EXPECT_EQ(CountEntries(folder_), static_cast<std::size_t>((kThreads + kProcesses) * kEach));

    ::close(release[1]);
    ::close(made[0]);
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(TempFileTest, FailuresReportAndLeaveNothingBehind)
{
    WCHAR out[MAX_PATH] = u"untouched";
    const std::u16string missing = folderText_ + u"/missing";
    EXPECT_EQ(GetTempFileNameW(missing.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    std::ofstream(folder_ / "file") << "x";
    const std::u16string notFolder = folderText_ + u"/file";
    EXPECT_EQ(GetTempFileNameW(notFolder.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);

    // Longer than MAX_PATH - 14.
    const std::u16string tooLong = folderText_ + u"/" + std::u16string(246, u'x');
    EXPECT_EQ(GetTempFileNameW(tooLong.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);

    // A folder that is short enough but leaves no room for the long prefix: refused before
    // a file is made that could not be handed back.
    fs::path deep = folder_;
    while (deep.string().size() < 235)
        deep /= "abcdefghij";
    fs::create_directories(deep);
    const std::u16string deepText = Wide(deep.string());
    ASSERT_LE(deepText.size(), MAX_PATH - 14);
    EXPECT_EQ(GetTempFileNameW(deepText.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(CountEntries(deep), 0u);

    EXPECT_EQ(GetTempFileNameW(u"", kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetTempFileNameW(nullptr, kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), nullptr, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), u"../x", 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

    EXPECT_EQ(std::u16string(out), u"untouched");
    EXPECT_EQ(CountEntries(folder_), 2u); // "file" and the "abcdefghij" chain only
}

TEST_F(TempFileTest, UnwritableFolderIsAccessDenied)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser may write anywhere";
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    WCHAR out[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(folderText_.c_str(), kPrefix, 0, out), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    fs::permissions(folder_, fs::perms::owner_all);
}

} // namespace

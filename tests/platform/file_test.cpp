// Files through CreateFileW: dispositions, sizes, drive paths, and the handle table's answers
// for handles that are not there.
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "tests/platform/kernel_test_support.h"
#include "tests/support/named_pipe_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;

class FileTest : public ::testing::Test {
protected:
    HANDLE Open(const fs::path& path, DWORD access, DWORD disposition)
    {
        return CreateFileW(Wide(path.string()).c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
    std::string ReadText(const fs::path& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    platform_test::PrivateRoot root_;
};

TEST_F(FileTest, DispositionsFollowWindows)
{
    const fs::path file = root_.Path() / "a.txt";

    HANDLE handle = Open(file, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(handle));

    EXPECT_EQ(Open(file, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    // OPEN_ALWAYS on an existing file keeps it and says it existed.
    handle = Open(file, GENERIC_READ, OPEN_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(handle);
    EXPECT_EQ(ReadText(file), "hello");

    // CREATE_ALWAYS on an existing file empties it and says it existed.
    handle = Open(file, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(handle);
    EXPECT_EQ(fs::file_size(file), 0u);

    // On a new file both create and clear the error.
    handle = Open(root_.Path() / "b.txt", GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(handle);
    handle = Open(root_.Path() / "c.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(handle);

    WriteText(file, "data");
    handle = Open(file, GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(Open(root_.Path() / "none.txt", GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(file, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open(file, GENERIC_READ, 77), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FileTest, OpenFailuresMapToWindowsErrors)
{
    EXPECT_EQ(Open(root_.Path() / "none.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(root_.Path() / "no-folder" / "x.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open(root_.Path() / "no-folder" / "x.txt", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    WriteText(root_.Path() / "plain", "x");
    EXPECT_EQ(Open(root_.Path() / "plain" / "x.txt", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    // A folder is not a file, whichever way it is opened.
    EXPECT_EQ(Open(root_.Path(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(root_.Path(), GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(Open(root_.Path() / std::string(300, 'n'), GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);

    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // A broken surrogate would otherwise be repaired into the name of some other file.
    const std::u16string broken = Wide((root_.Path() / "x").string()) + u'\xD800';
    EXPECT_EQ(CreateFileW(broken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(FileTest, ReadAndWriteRoundTripAndEndOfFileIsEmptySuccess)
{
    const fs::path file = root_.Path() / "data.bin";
    std::string content(200000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);

    HANDLE handle = Open(file, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &count, nullptr));
    EXPECT_EQ(count, content.size());
    EXPECT_TRUE(FlushFileBuffers(handle));
    EXPECT_EQ(GetFileSize(handle, nullptr), content.size());
    // Read-write handle; a read-only one may not write.
    CloseHandle(handle);

    handle = Open(file, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::string back(content.size() + 10, '\0');
    EXPECT_TRUE(ReadFile(handle, back.data(), static_cast<DWORD>(back.size()), &count, nullptr));
    EXPECT_EQ(count, content.size());
    back.resize(count);
    EXPECT_EQ(back, content);
    EXPECT_TRUE(ReadFile(handle, back.data(), 10, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(handle, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(handle);
}

TEST_F(FileTest, FileSizeGivesBothHalves)
{
    const fs::path file = root_.Path() / "big.bin";
    WriteText(file, "");
    // Sparse: costs no disk.
    fs::resize_file(file, 5ull * 1024 * 1024 * 1024 + 3);
    const HANDLE handle = Open(file, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(handle, &high), 1024u * 1024 * 1024 + 3);
    EXPECT_EQ(high, 1u);
    CloseHandle(handle);
}

// Only a regular file is opened to be read, and nothing waits for a writer to come.
TEST_F(FileTest, AnExistingFileOpenedToBeReadIsARegularFile)
{
    const testing_support::NamedPipeFile pipe(root_.Path() / "pipe");
    for (const fs::path& path : {root_.Path() / "pipe", fs::path("/dev/null")}) {
        SCOPED_TRACE(path);
        SetLastError(0);
        EXPECT_EQ(Open(path, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(pipe.ReaderWaited());
}

TEST_F(FileTest, FileInformationSaysWhichFileAHandleHoldsItsSizeAndItsLastWrite)
{
    const fs::path file = root_.Path() / "doc.pdf";
    WriteText(file, "first");
    fs::resize_file(file, 5ull * 1024 * 1024 * 1024 + 3);
    // Last written one second and 500 ns after 1970 began: 11644473601 s and 5 ticks of 100 ns after 1601.
    const timespec times[2] = {{0, UTIME_OMIT}, {1, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);

    const HANDLE handle = Open(file, GENERIC_READ, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION information{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &information));
    EXPECT_EQ((std::vector<DWORD>{information.nFileSizeHigh, information.nFileSizeLow, information.nFileIndexHigh,
                                  information.nFileIndexLow, information.ftLastWriteTime.dwHighDateTime,
                                  information.ftLastWriteTime.dwLowDateTime, information.nNumberOfLinks}),
              (std::vector<DWORD>{1, 1024 * 1024 * 1024 + 3, static_cast<DWORD>(status.st_ino >> 32),
                                  static_cast<DWORD>(status.st_ino), 116444736010000005ull >> 32,
                                  static_cast<DWORD>(116444736010000005ull), 1}));

    EXPECT_FALSE(GetFileInformationByHandle(handle, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(handle);
}

TEST_F(FileTest, DrivePathsLiveUnderTheRoot)
{
    fs::create_directories(root_.Path() / "mnt" / "d" / "Logs");
    for (const char16_t* name : {u"D:\\Logs\\one.txt", u"d:/Logs/two.txt"}) {
        const HANDLE handle = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }
    EXPECT_TRUE(fs::exists(root_.Path() / "mnt" / "d" / "Logs" / "one.txt"));
    EXPECT_TRUE(fs::exists(root_.Path() / "mnt" / "d" / "Logs" / "two.txt"));
}

TEST_F(FileTest, ABackslashSeparatesFoldersInAnyPath)
{
    fs::create_directories(root_.Path() / "sub");
    const std::u16string name = Wide(root_.Path().string()) + u"\\sub\\one.txt";
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    std::vector<fs::path> made;
    for (const auto& entry : fs::recursive_directory_iterator(root_.Path()))
        made.push_back(entry.path());
    EXPECT_EQ(made, (std::vector<fs::path>{root_.Path() / "sub", root_.Path() / "sub" / "one.txt"}));
}

TEST_F(FileTest, NativePathsAndTheRoot)
{
    const std::string root = root_.Path().string();
    EXPECT_EQ(platform::RootFolder(), root);
    EXPECT_EQ(platform::NativePath(u"D:\\OrvelConnectorTool\\log"), root + "/mnt/d/OrvelConnectorTool/log");
    EXPECT_EQ(platform::NativePath(u"C:"), root + "/mnt/c");
    EXPECT_EQ(platform::NativePath(u"/var/lib/x"), "/var/lib/x");
    EXPECT_EQ(platform::NativePath(u"rel\\x"), "rel/x");
    EXPECT_EQ(platform::NativePath(u"/tmp/x/sub\\name"), "/tmp/x/sub/name");
    EXPECT_EQ(platform::NativePath(u"Grüße"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(platform::PipeSocketPath(u"\\\\.\\pipe\\QuillonPipe"), root + "/run/quillon/pipe/QuillonPipe");
    EXPECT_EQ(platform::PipeSocketPath(u"QuillonPipe"), root + "/run/quillon/pipe/QuillonPipe");
    EXPECT_EQ(platform::PipeSocketPath(u".."), "");

    ::setenv("QUILLON_ROOT", (root + "//").c_str(), 1);
    EXPECT_EQ(platform::RootFolder(), root);
    ::unsetenv("QUILLON_ROOT");
    EXPECT_EQ(platform::RootFolder(), "/");
    EXPECT_EQ(platform::NativePath(u"E:\\x"), "/mnt/e/x");
    EXPECT_EQ(platform::PipeSocketPath(u"P"), "/run/quillon/pipe/P");
}

TEST(HandleTable, HandlesThatAreNotThereFailCleanly)
{
    int stackObject = 0;
    const HANDLE bogus[]
        = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x4321), reinterpret_cast<HANDLE>(&stackObject)};
    char buffer[4];
    DWORD count = 7;
    for (const HANDLE handle : bogus) {
        SetLastError(0);
        EXPECT_FALSE(ReadFile(handle, buffer, sizeof(buffer), &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(WriteFile(handle, buffer, sizeof(buffer), &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(FlushFileBuffers(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        BY_HANDLE_FILE_INFORMATION information{};
        EXPECT_FALSE(GetFileInformationByHandle(handle, &information));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }

    // A closed handle stays invalid even after new handles are made.
    platform_test::PrivateRoot root;
    const std::u16string name = Wide((root.Path() / "f").string());
    const HANDLE first = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(first));
    const HANDLE second = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(second, buffer, 1, &count, reinterpret_cast<LPOVERLAPPED>(buffer)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(second));
}

TEST(LastError, BelongsToTheCallingThread)
{
    SetLastError(ERROR_PIPE_BUSY);
    DWORD seen = 1;
    std::thread([&seen] {
        seen = GetLastError();
        SetLastError(ERROR_MORE_DATA);
    }).join();
    EXPECT_EQ(seen, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
}

} // namespace

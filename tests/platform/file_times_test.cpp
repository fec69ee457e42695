// A file's change time, which a writer who puts the time of the last write back cannot put back.
#include "platform/kernel/kernel.h"
#include "tests/platform/kernel_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

FILE_BASIC_INFO BasicInformation(HANDLE handle)
{
    FILE_BASIC_INFO information{};
    EXPECT_TRUE(GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information));
    return information;
}

TEST(FileTimes, ARewriteMovesTheChangeTimeEvenWithTheWriteTimePutBack)
{
    platform_test::PrivateRoot root;
    const fs::path file = root.Path() / "document";
    std::ofstream(file) << "first";
    const HANDLE handle = CreateFileW(platform_test::Wide(file.string()).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const FILE_BASIC_INFO before = BasicInformation(handle);
    BY_HANDLE_FILE_INFORMATION identity{};
    ASSERT_TRUE(GetFileInformationByHandle(handle, &identity));
    EXPECT_EQ(before.LastWriteTime.QuadPart,
              static_cast<LONGLONG>(ULONGLONG{identity.ftLastWriteTime.dwHighDateTime} << 32
                                    | identity.ftLastWriteTime.dwLowDateTime));

    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    std::ofstream(file, std::ios::in | std::ios::out) << "other";
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const FILE_BASIC_INFO after = BasicInformation(handle);
    EXPECT_EQ(after.LastWriteTime.QuadPart, before.LastWriteTime.QuadPart);
    EXPECT_GT(after.ChangeTime.QuadPart, before.ChangeTime.QuadPart);

    // Another class, a short buffer or no buffer is refused; so is a handle that is no file.
    FILE_BASIC_INFO information{};
    EXPECT_FALSE(GetFileInformationByHandleEx(handle, static_cast<FILE_INFO_BY_HANDLE_CLASS>(1), &information,
                                              sizeof information));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information - 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetFileInformationByHandleEx(handle, FileBasicInfo, nullptr, sizeof information));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(handle);
    EXPECT_FALSE(GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace

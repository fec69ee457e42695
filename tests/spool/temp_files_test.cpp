#include "driver/log_sink.h"
#include "spool/temp_files.h"
#include "tests/support/file_modes.h"
#include "tests/support/temp_root.h"

#include <boost/log/core.hpp>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using aio::WidePath;
using testing_support::ReadWholeFile;
using testing_support::TempRoot;

std::filesystem::path NativeOf(const WidePath& path)
{
    return std::filesystem::path(std::u16string(path.Text()));
}

// The log text written while the fixture's logging is configured.
class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override { aio::ConfigureLogging((root_.Path() / "logs").string(), base::debug); }
    void TearDown() override { boost::log::core::get()->remove_all_sinks(); }

    std::string LogText() const
    {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(root_.Path() / "logs/log"))
            text += ReadWholeFile(entry.path());
        return text;
    }

    TempRoot root_;
};

TEST(WidePathTest, JoinsWithSlashesAndTurnsBackslashes)
{
    EXPECT_EQ(WidePath().Append(u"C:\\ProgramData").Append(u"Marlowin").Text(), u"C:/ProgramData/Marlowin");
    EXPECT_EQ(WidePath(u"C:").Append(u"x").Text(), u"C:x");
    EXPECT_EQ(WidePath(u"/a/").Append(u"b").Text(), u"/a/b");
    EXPECT_EQ(WidePath(u"/a").Append(u"\\b\\c").Text(), u"/a/b/c");
    EXPECT_EQ(WidePath(u"/a").Append(u"").Text(), u"/a");
}

TEST_F(TempFilesTest, DataFolderIsMadeBelowTheCommonApplicationData)
{
    WidePath path;
    ASSERT_EQ(aio::GetDataFolderPath(path), 0);
    EXPECT_EQ(NativeOf(path), root_.Path() / "var/lib/Marlowin");
    EXPECT_TRUE(std::filesystem::is_directory(NativeOf(path)));
    // An existing folder is no failure.
    EXPECT_EQ(aio::GetDataFolderPath(path), 0);
}

TEST_F(TempFilesTest, TemporaryFilesAreNewEmptyAndLoggedTwice)
{
    WidePath first;
    WidePath second;
    ASSERT_EQ(aio::GetTempFilePath(first), 0);
    ASSERT_EQ(aio::GetTempFilePath(second), 0);
    EXPECT_NE(first.Text(), second.Text());
    for (const WidePath* path : {&first, &second}) {
        const auto native = NativeOf(*path);
        EXPECT_EQ(native.parent_path(), root_.Path() / "var/lib/Marlowin");
        EXPECT_EQ(native.filename().string().rfind("ZVPrintFile", 0), 0u);
        ASSERT_TRUE(std::filesystem::is_regular_file(native));
        EXPECT_EQ(std::filesystem::file_size(native), 0u);
    }

    const std::string folderRecord
        = "In GetTempFilePath, full temp pdf file path: " + (root_.Path() / "var/lib/Marlowin").string() + "\r\n";
    const std::string fileRecord = "In GetTempFilePath, full temp pdf file path: " + NativeOf(first).string() + "\r\n";
    const std::string log = LogText();
    const std::size_t folderAt = log.find(folderRecord);
    ASSERT_NE(folderAt, std::string::npos) << log;
    EXPECT_GT(log.find(fileRecord), folderAt);
}

TEST_F(TempFilesTest, PageFilesAndTheirFolderAreTheOwnersAloneWhateverTheUmask)
{
    using testing_support::ModeOf;
    for (const mode_t mask : {00, 022}) {
        SCOPED_TRACE(mask);
        std::filesystem::remove_all(root_.Path() / "var");
        testing_support::ScopedUmask umask(mask);
        WidePath page;
        ASSERT_EQ(aio::GetTempFilePath(page), 0);
        EXPECT_EQ(ModeOf(root_.Path() / "var"), 0755);
        EXPECT_EQ(ModeOf(root_.Path() / "var/lib"), 0755);
        EXPECT_EQ(ModeOf(root_.Path() / "var/lib/Marlowin"), 0700);
        EXPECT_EQ(ModeOf(NativeOf(page)), 0600);
    }
    // A data folder left open by an earlier version is closed with the next page.
    std::filesystem::permissions(root_.Path() / "var/lib/Marlowin", std::filesystem::perms::all);
    WidePath page;
    ASSERT_EQ(aio::GetTempFilePath(page), 0);
    EXPECT_EQ(ModeOf(root_.Path() / "var/lib/Marlowin"), 0700);
}

TEST_F(TempFilesTest, RemoveFileReportsWhetherAFileWasRemoved)
{
    WidePath path;
    ASSERT_EQ(aio::GetTempFilePath(path), 0);
    EXPECT_EQ(aio::RemoveFile(path), 0);
    EXPECT_FALSE(std::filesystem::exists(NativeOf(path)));
    EXPECT_EQ(aio::RemoveFile(path), 6);
    EXPECT_EQ(aio::RemoveFile(WidePath()), 6);
    EXPECT_NE(LogText().find("RemoveFile path: " + NativeOf(path).string() + "\r\n"), std::string::npos);
}

TEST_F(TempFilesTest, UnusableDataFolderFailsWithTwo)
{
    // A regular file where the data folder belongs: no file can be made inside it.
    std::filesystem::create_directories(root_.Path() / "var/lib");
    std::ofstream(root_.Path() / "var/lib/Marlowin") << "in the way";
    WidePath path(u"unchanged");
    EXPECT_EQ(aio::GetTempFilePath(path), 2);
    EXPECT_EQ(path.Text(), u"unchanged");
    EXPECT_NE(LogText().find("In GetTempFilePath, GetTempFileName failed.\r\n"), std::string::npos);
}

TEST_F(TempFilesTest, FolderTooLongForAUniqueNameFailsWithTwo)
{
    // A data folder of 250 characters fits the folder buffer but leaves no room for a file name.
    const std::string base = root_.Path().string() + "/";
    const std::string deep = base + std::string(250 - 17 - base.size(), 'd');
    setenv("QUILLON_ROOT", deep.c_str(), 1);
    WidePath path;
    EXPECT_EQ(aio::GetTempFilePath(path), 2);
    EXPECT_TRUE(path.Empty());
    setenv("QUILLON_ROOT", root_.Path().c_str(), 1);
}

TEST_F(TempFilesTest, UnnamedDataFolderNeverFallsBackToTheCurrentFolder)
{
    // A root so long that the common application-data folder cannot be named at all.
    const std::string deep = (root_.Path() / std::string(200, 'd') / std::string(80, 'e')).string();
    setenv("QUILLON_ROOT", deep.c_str(), 1);
    WidePath folder;
    EXPECT_EQ(aio::GetDataFolderPath(folder), 3);

    const auto before = std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator());
    WidePath path;
    EXPECT_EQ(aio::GetTempFilePath(path), 2);
    const auto after = std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator());
    EXPECT_EQ(before, after);
    setenv("QUILLON_ROOT", root_.Path().c_str(), 1);
}

} // namespace

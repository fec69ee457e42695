// The sweep of files a process left behind: only those nobody holds, only those named as leftovers,
// only old ones while a file is being made beside them; and GetTempFileNameW's page files, held
// while they exist.
#include "platform/kernel/kernel.h"
#include "platform/kernel/leftovers.h"
#include "tests/platform/kernel_test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using platform_test::Wide;

void Touch(const fs::path& file, int secondsAgo)
{
    std::ofstream(file) << "left";
    const timespec times[2] = {{std::time(nullptr) - secondsAgo, 0}, {std::time(nullptr) - secondsAgo, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class LeftoversTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = root_.Path() / "data";
        fs::create_directory(folder_);
    }

    int Sweep(const std::function<bool(std::string_view)>& isLeftover)
    {
        const int descriptor = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int removed = platform::SweepLeftovers(descriptor, isLeftover);
        close(descriptor);
        return removed;
    }

    platform_test::PrivateRoot root_;
    fs::path folder_;
};

TEST_F(LeftoversTest, OnlyFilesNobodyHoldsAndNamedAsLeftoversGoHoweverYoung)
{
    Touch(folder_ / "old.left", 1000);
    Touch(folder_ / "young.left", 0);
    // What a process killed between making a file and writing it leaves.
    std::ofstream(folder_ / "empty.left").close();
    Touch(folder_ / "held.left", 1000);
    Touch(folder_ / "old.kept", 1000);
    fs::create_directory(folder_ / "folder.left");
    fs::create_symlink(folder_ / "old.kept", folder_ / "link.left");
    // Held through another open of the file, as another process would hold it.
    const int holder = open((folder_ / "held.left").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(platform::MarkInUse(holder));

    const auto isLeftover = [](std::string_view name) { return name.ends_with(".left"); };
    EXPECT_EQ(Sweep(isLeftover), 3);
    EXPECT_EQ(Names(folder_), (std::vector<std::string>{"folder.left", "held.left", "link.left", "old.kept"}));
    // Once its holder is gone, it goes too.
    close(holder);
    EXPECT_EQ(Sweep(isLeftover), 1);
    EXPECT_FALSE(fs::exists(folder_ / "held.left"));
}

TEST_F(LeftoversTest, WhileAFileIsBeingMadeInTheFolderOnlyOldOnesGo)
{
    const int age = static_cast<int>(platform::kLeftoverAge.count());
    Touch(folder_ / "old.left", age);
    Touch(folder_ / "young.left", age - 2);
    const auto isLeftover = [](std::string_view name) { return name.ends_with(".left"); };
    // Another maker, between making a file and taking its lock: its file may be any young one.
    const int maker = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    {
        const platform::FileMaking making(maker);
        EXPECT_EQ(Sweep(isLeftover), 1);
        EXPECT_EQ(Names(folder_), (std::vector<std::string>{"young.left"}));
    }
    close(maker);
    EXPECT_EQ(Sweep(isLeftover), 1);
    EXPECT_TRUE(Names(folder_).empty());
}

TEST_F(LeftoversTest, TheNameIsJudgedAgainOnceTheLockIsHeld)
{
    Touch(folder_ / "7.pdf", 1000);
    int asked = 0;
    // Settled between the first look and the lock: the holder finished what it was doing.
    EXPECT_EQ(Sweep([&asked](std::string_view) { return ++asked == 1; }), 0);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(fs::exists(folder_ / "7.pdf"));
}

TEST_F(LeftoversTest, TempFilesAreHeldWhileTheyExistAndTheFirstCallInAFolderSweepsOldOnes)
{
    // What a process that ended mid-document left: an old page file, and files that are not page files.
    Touch(folder_ / "ZVPrintFile0A1B2C3D.tmp", 1000);
    Touch(folder_ / "ZVPrintFile0a1b2c3d.tmp", 1000);
    Touch(folder_ / "ZVPrintFile0A1B2C3.tmp", 1000);
    Touch(folder_ / "ZZPrintFile0A1B2C3D.tmp", 1000);
    WCHAR path[MAX_PATH];
    ASSERT_NE(GetTempFileNameW(Wide(folder_.string()).c_str(), u"ZVPrintFile", 0, path), 0u);
    const fs::path made = fs::path(std::u16string(path));
    EXPECT_FALSE(fs::exists(folder_ / "ZVPrintFile0A1B2C3D.tmp"));
    EXPECT_TRUE(fs::exists(folder_ / "ZVPrintFile0a1b2c3d.tmp"));
    EXPECT_TRUE(fs::exists(folder_ / "ZVPrintFile0A1B2C3.tmp"));
    EXPECT_TRUE(fs::exists(folder_ / "ZZPrintFile0A1B2C3D.tmp"));

    // The new file is held: no other process can take its lock, however old it looks.
    Touch(made, 1000);
    const pid_t child = fork();
    if (child == 0) {
        const int descriptor = open(made.c_str(), O_RDONLY);
        _exit(flock(descriptor, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process took the lock";

    // Removed by its maker, its descriptor is let go at the next file made.
    const std::size_t held = platform::HeldFileCount();
    fs::remove(made);
    ASSERT_NE(GetTempFileNameW(Wide(folder_.string()).c_str(), u"ZVPrintFile", 0, path), 0u);
    EXPECT_EQ(platform::HeldFileCount(), held);
    fs::remove(fs::path(std::u16string(path)));
}

} // namespace

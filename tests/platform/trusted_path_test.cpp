// Folders are trusted by the path that is opened, not by where its links happen to lead today.
#include "platform/gdi/gdi.h"
#include "platform/kernel/file_modes.h"
#include "tests/platform/spooler_test_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr uid_t kNobody = 65534;

// A link below a folder of another user leads to a sound folder of the superuser: the other user
// could point it anywhere, so the path is refused, naming that folder; a link out of a sound
// folder is followed, and judged by where it leads.
TEST(TrustedPath, ALinkBelowAFolderOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user takes the superuser";
    testing_support::TempRoot root;
    const fs::path base = root.Path();
    fs::create_directories(base / "sound/jobs");
    fs::create_directories(base / "spool");
    ASSERT_EQ(::chown((base / "spool").c_str(), kNobody, kNobody), 0);
    fs::create_directory_symlink(base / "sound", base / "spool/quillon");

    const std::string reason = platform::UntrustedFolderReason((base / "spool/quillon/jobs").string());
    EXPECT_THAT(reason, HasSubstr("the folder " + (base / "spool").string() + " above "));
    EXPECT_THAT(reason, HasSubstr("belongs to user 65534"));

    fs::create_directory_symlink(base / "sound", base / "link");
    EXPECT_EQ(platform::UntrustedFolderReason((base / "link/jobs").string()), "");
    ASSERT_EQ(::chmod((base / "sound").c_str(), 0777), 0);
    EXPECT_THAT(platform::UntrustedFolderReason((base / "link/jobs").string()),
                HasSubstr("(mode 0777) can be written by other users"));
}

class PlantedLinks : public SpoolerRootTest {
protected:
    // Starts a job on the printer and aborts it, keeping what was said on standard error meanwhile
    // in `said`: the job id, or 0 or less when none was started.
    int StartJob(const char16_t* printer, std::string& said)
    {
        std::fflush(stderr);
        const fs::path file = m_root.Path() / "stderr";
        const int saved = ::dup(STDERR_FILENO);
        const int capture = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(capture, STDERR_FILENO);
        HDC dc = CreateDCW(u"", printer, nullptr, nullptr);
        const DOCINFOW info{sizeof(DOCINFOW), u"A job", nullptr, nullptr, 0};
        const int jobId = dc ? StartDocW(dc, &info) : 0;
        if (dc) {
            AbortDoc(dc);
            DeleteDC(dc);
        }
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(capture);
        said = testing_support::ReadWholeFile(file);
        return jobId;
    }
};

// The spool tree belongs to another user, who has put a link to a sound folder of the superuser
// in place of the printers' folder: no job starts, and nothing is made where the link leads.
TEST_F(PlantedLinks, NoJobStartsThroughALinkBelowAFolderOfAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user takes the superuser";
    InstallSamples();
    const fs::path spool = m_root.Path() / "var/spool";
    const fs::path elsewhere = m_root.Path() / "elsewhere";
    fs::create_directories(spool);
    fs::create_directories(elsewhere);
    ASSERT_EQ(::chown(spool.c_str(), kNobody, kNobody), 0);
    fs::create_directory_symlink(elsewhere, spool / "quillon");

    std::string said;
    EXPECT_LE(StartJob(u"Quillon Office", said), 0);
    EXPECT_THAT(said,
                HasSubstr("quillon: no job could be started on printer \"Quillon Office\": the folder " + spool.string()
                          + " above "));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

// A printer folder left open to all held a link another user put there in place of the job
// counter: once the folder is tightened the link goes, said on standard error, and the printer
// takes jobs again; what the link led to is untouched.
TEST_F(PlantedLinks, ALinkLeftInAnOpenSpoolFolderIsRemovedAndSaid)
{
    InstallSamples();
    const fs::path folder = m_root.Path() / "var/spool/quillon/Quillon Office";
    fs::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const fs::path victim = m_root.Path() / "victim";
    std::ofstream(victim) << "precious\n";
    fs::create_symlink(victim, folder / ".last-job");

    std::string said;
    const int jobId = StartJob(u"Quillon Office", said);
    EXPECT_EQ(jobId, 1);
    EXPECT_THAT(said,
                HasSubstr("quillon: the link .last-job in the spool folder " + folder.string() + " (to "
                          + victim.string()
                          + "), which another user put there while the folder was open to others, "
                            "was removed\n"));
    EXPECT_EQ(testing_support::ReadWholeFile(victim), "precious\n");
    EXPECT_FALSE(fs::is_symlink(folder / ".last-job"));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
}

} // namespace

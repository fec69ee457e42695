// What a virtual printer's job leaves when its process is killed, whatever the moment: swept at
// once by the sweep the service runs when its tool ends without an answer, and only once the
// process is gone.
#include "platform/gdi/gdi.h"
#include "platform/spooler/job_sink.h"
#include "tests/platform/spooler_test_root.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using UnfinishedJobs = SpoolerRootTest;

enum class Moment { AfterStartDoc, AfterFirstPage };

// Starts a process that begins a job on "Fine", goes as far as `moment`, says the job's id on
// `ready` and waits to be killed.
pid_t JobKilledLater(Moment moment, int ready)
{
    const pid_t child = fork();
    if (child != 0)
        return child;
    HDC dc = CreateDCW(u"", u"Fine", nullptr, nullptr);
    const DOCINFOW info{sizeof(DOCINFOW), u"Cut short", nullptr, nullptr, 0};
    int id = dc ? StartDocW(dc, &info) : 0;
    if (id > 0 && moment == Moment::AfterFirstPage)
        id = StartPage(dc) > 0 && EndPage(dc) > 0 ? id : 0;
    [[maybe_unused]] const ssize_t written = write(ready, &id, sizeof id);
    for (;;)
        pause();
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(UnfinishedJobs, AJobKilledAtAnyMomentIsSweptAtOnceOnceItsProcessIsGone)
{
    Install("fine.printer", MinimalPrinter("Fine"));
    const fs::path folder = platform::spooler::SpoolFolder(u"Fine");
    for (const Moment moment : {Moment::AfterStartDoc, Moment::AfterFirstPage}) {
        SCOPED_TRACE(moment == Moment::AfterStartDoc ? "after StartDocW" : "after the first page");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = JobKilledLater(moment, ready[1]);
        close(ready[1]);
        int id = 0;
        ASSERT_EQ(read(ready[0], &id, sizeof id), static_cast<ssize_t>(sizeof id));
        close(ready[0]);
        ASSERT_GT(id, 0);
        const fs::path part = folder / ("." + std::to_string(id) + ".pdf.part");
        EXPECT_TRUE(fs::exists(part));
        EXPECT_EQ(fs::file_size(part) > 0, moment == Moment::AfterFirstPage);

        // Its process lives: the hidden document is its own.
        EXPECT_EQ(platform::spooler::SweepUnfinishedJobs(u"Fine"), 0);
        EXPECT_TRUE(fs::exists(part));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        ASSERT_EQ(waitpid(child, nullptr, 0), child);
        EXPECT_EQ(platform::spooler::SweepUnfinishedJobs(u"Fine"), 1);
        EXPECT_EQ(Names(folder), (std::vector<std::string>{".last-job"}));
    }
    // A name that is no printer's folder sweeps nothing.
    EXPECT_EQ(platform::spooler::SweepUnfinishedJobs(u".."), 0);
    EXPECT_EQ(platform::spooler::SweepUnfinishedJobs(u"Fine/.."), 0);
}

} // namespace

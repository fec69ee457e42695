// Print jobs on the virtual printers: ids, the PDF and sidecar that a finished job leaves, the
// Windows answers to calls out of order, aborted jobs leaving nothing, private files whatever the
// umask, and unique ids when several processes print at once.
#include "tests/gdi/gdi_test_support.h"

#include "platform/gdi/devices/page_notes.h"
#include "platform/kernel/kernel.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

namespace {

using namespace gdi_test;

DOCINFOW DocInfo(const char16_t* name, int size = 20)
{
    return DOCINFOW{size, name, nullptr, nullptr, 0};
}

// Draws one small red square on the current page.
int DrawSquare(HDC dc)
{
    const Dib dib = TwoBandBitmap(4, 4, 32, true, kRed, kRed);
    return StretchDIBits(dc, 0, 0, 100, 100, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY);
}

int OnePageJob(HDC dc, const char16_t* name)
{
    const DOCINFOW info = DocInfo(name);
    const int job = StartDocW(dc, &info);
    EXPECT_GT(StartPage(dc), 0);
    EXPECT_EQ(DrawSquare(dc), 4);
    EXPECT_GT(EndPage(dc), 0);
    EXPECT_GT(EndDoc(dc), 0);
    return job;
}

mode_t ModeOf(const fs::path& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

class PrintJobTest : public GdiRoot {};

TEST_F(PrintJobTest, AFinishedJobIsItsPdfAndSidecar)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PAPERSIZE | DM_ORIENTATION | DM_COPIES | DM_COLLATE | DM_DUPLEX | DM_COLOR;
    mode.dmPaperSize = DMPAPER_A4;
    mode.dmOrientation = DMORIENT_LANDSCAPE;
    mode.dmCopies = 3;
    mode.dmCollate = DMCOLLATE_FALSE;
    mode.dmDuplex = DMDUP_VERTICAL;
    mode.dmColor = DMCOLOR_MONOCHROME;
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, &mode);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(OnePageJob(dc, u"Report \"Q3\"\t\u00e9t\u00e9"), 1);
    EXPECT_EQ(SpoolFiles("Quillon Office"), (std::vector<std::string>{".last-job", "1.json", "1.pdf"}));
    EXPECT_EQ(testing_support::ReadWholeFile(SpoolFolder("Quillon Office") / "1.json"),
              "{\n"
              "  \"job\": 1,\n"
              "  \"printer\": \"Quillon Office\",\n"
              "  \"document\": \"Report \\\"Q3\\\"\\u0009\xc3\xa9t\xc3\xa9\",\n"
              "  \"pages\": 1,\n"
              "  \"picture-pages\": 0,\n"
              "  \"picture-regions\": 0,\n"
              "  \"copies\": 3,\n"
              "  \"collate\": false,\n"
              "  \"duplex\": \"long-edge\",\n"
              "  \"color\": \"monochrome\",\n"
              "  \"paper\": {\"number\": 9, \"name\": \"A4\", \"width-mm\": 210.0, \"length-mm\": 297.0},\n"
              "  \"orientation\": \"landscape\",\n"
              "  \"resolution\": 600\n"
              "}\n");
    const fs::path pdf = SpoolFolder("Quillon Office") / "1.pdf";
    EXPECT_EQ(PdfInfo(pdf, "Pages"), "1");
    EXPECT_EQ(PdfInfo(pdf, "Title"), "Report \"Q3\"\t\xc3\xa9t\xc3\xa9");
    // The page is the whole A4 sheet turned to landscape (7016 x 4961 dots), in points.
    EXPECT_EQ(PdfInfo(pdf, "Page size"), "841.92 x 595.32 pts (A4)");

    // The next document of the same context is the printer's next job.
    EXPECT_EQ(OnePageJob(dc, u"second"), 2);
    EXPECT_TRUE(DeleteDC(dc));
    dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    EXPECT_EQ(OnePageJob(dc, u"third"), 3);
    DeleteDC(dc);
    EXPECT_EQ(testing_support::ReadWholeFile(SpoolFolder("Quillon Office") / ".last-job"), "3\n");
}

TEST_F(PrintJobTest, CallsOutOfOrderGetTheWindowsAnswers)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(StartPage(dc), SP_ERROR);
    EXPECT_EQ(EndPage(dc), SP_ERROR);
    EXPECT_EQ(EndDoc(dc), SP_ERROR);
    EXPECT_EQ(AbortDoc(dc), SP_ERROR);
    EXPECT_EQ(StartDocW(dc, nullptr), SP_ERROR);
    for (int size : {0, 19, 21, 39}) {
        const DOCINFOW info = DocInfo(u"x", size);
        EXPECT_EQ(StartDocW(dc, &info), SP_ERROR) << size;
    }
    EXPECT_TRUE(SpoolFiles("Quillon Office").empty());

    const DOCINFOW native = DocInfo(u"native", sizeof(DOCINFOW));
    ASSERT_EQ(StartDocW(dc, &native), 1);
    EXPECT_EQ(StartDocW(dc, &native), SP_ERROR);
    EXPECT_EQ(DrawSquare(dc), 0); // no page open
    EXPECT_EQ(EndPage(dc), SP_ERROR);
    ASSERT_GT(StartPage(dc), 0);
    EXPECT_EQ(StartPage(dc), SP_ERROR);
    EXPECT_EQ(DrawSquare(dc), 4);
    // EndDoc ends the open page itself.
    EXPECT_GT(EndDoc(dc), 0);
    EXPECT_EQ(EndDoc(dc), SP_ERROR);
    EXPECT_EQ(AbortDoc(dc), SP_ERROR);
    EXPECT_EQ(PdfInfo(SpoolFolder("Quillon Office") / "1.pdf", "Pages"), "1");
    DeleteDC(dc);

    // Neither the screen nor a recording prints documents.
    HDC screen = GetDC(nullptr);
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    for (HDC other : {screen, recording}) {
        EXPECT_EQ(StartDocW(other, &native), SP_ERROR);
        EXPECT_EQ(StartPage(other), SP_ERROR);
        EXPECT_EQ(EndDoc(other), SP_ERROR);
    }
    ReleaseDC(nullptr, screen);
    DeleteEnhMetaFile(CloseEnhMetaFile(recording));
}

TEST_F(PrintJobTest, AbortedOrAbandonedDocumentsLeaveNothing)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const DOCINFOW info = DocInfo(u"gone");
    ASSERT_EQ(StartDocW(dc, &info), 1);
    StartPage(dc);
    DrawSquare(dc);
    EXPECT_EQ(SpoolFiles("Quillon Office"), (std::vector<std::string>{".1.pdf.part", ".last-job"}));
    EXPECT_GT(AbortDoc(dc), 0);
    EXPECT_EQ(SpoolFiles("Quillon Office"), std::vector<std::string>{".last-job"});

    // Deleted in the middle of a page.
    ASSERT_EQ(StartDocW(dc, &info), 2);
    StartPage(dc);
    DrawSquare(dc);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(SpoolFiles("Quillon Office"), std::vector<std::string>{".last-job"});
}

TEST_F(PrintJobTest, ADocumentWithoutPagesLeavesNoJobAndItsIdStaysUsed)
{
    HDC dc = CreateDCW(u"", u"Quillon Photo", nullptr, nullptr);
    const DOCINFOW info = DocInfo(nullptr);
    ASSERT_EQ(StartDocW(dc, &info), 1);
    EXPECT_GT(EndDoc(dc), 0);
    EXPECT_EQ(SpoolFiles("Quillon Photo"), std::vector<std::string>{".last-job"});
    EXPECT_EQ(OnePageJob(dc, u"next"), 2);
    DeleteDC(dc);
}

// A renderer's note that it drew a page as a picture, or an area of it as pixels, an 8-byte
// comment, reaches the printer directly or inside a page's metafile; the sidecar counts the pages
// that carried a picture note, and every area note.
TEST_F(PrintJobTest, TheSidecarCountsThePagesNotedAsPicturesAndTheAreas)
{
    const DWORD note[] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNotePicture};
    const auto* bytes = reinterpret_cast<const BYTE*>(note);
    const DWORD longer[] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNotePicture, 0};
    const DWORD other[] = {platform::gdi::kPageNoteSignature, 3};
    const DWORD area[] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNoteRegion};
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(GdiComment(recording, sizeof note, bytes));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);

    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const DOCINFOW info = DocInfo(u"notes");
    ASSERT_EQ(StartDocW(dc, &info), 1);
    EXPECT_TRUE(GdiComment(dc, sizeof note, bytes)); // between pages: no page to mark
    for (int page = 1; page <= 4; ++page) {
        ASSERT_GT(StartPage(dc), 0);
        if (page == 2) {
            const RECT rect{0, 0, 100, 100};
            EXPECT_TRUE(PlayEnhMetaFile(dc, metafile, &rect));
        } else if (page == 3) {
            EXPECT_TRUE(GdiComment(dc, sizeof note, bytes));
            EXPECT_TRUE(GdiComment(dc, sizeof note, bytes)); // one page, however often noted
        } else if (page == 4) {
            EXPECT_TRUE(GdiComment(dc, sizeof area, reinterpret_cast<const BYTE*>(area)));
            EXPECT_TRUE(GdiComment(dc, sizeof area, reinterpret_cast<const BYTE*>(area)));
            EXPECT_TRUE(GdiComment(dc, sizeof longer, reinterpret_cast<const BYTE*>(longer)));
            EXPECT_TRUE(GdiComment(dc, sizeof other, reinterpret_cast<const BYTE*>(other)));
        }
        ASSERT_GT(EndPage(dc), 0);
    }
    ASSERT_GT(EndDoc(dc), 0);
    const std::string sidecar = testing_support::ReadWholeFile(SpoolFolder("Quillon Office") / "1.json");
    EXPECT_NE(sidecar.find("\"pages\": 4,\n  \"picture-pages\": 2,\n  \"picture-regions\": 2,\n"), std::string::npos)
        << sidecar;
    DeleteDC(dc);
    DeleteEnhMetaFile(metafile);
}

TEST_F(PrintJobTest, NumberingGoesOnAfterTheHighestJobWhenTheCounterIsLost)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    OnePageJob(dc, u"a");
    OnePageJob(dc, u"b");
    fs::remove(SpoolFolder("Quillon Office") / ".last-job");
    fs::remove(SpoolFolder("Quillon Office") / "1.pdf");
    fs::remove(SpoolFolder("Quillon Office") / "1.json");
    EXPECT_EQ(OnePageJob(dc, u"c"), 3);
    // A counter that says otherwise than the files does not overwrite a job either.
    std::ofstream(SpoolFolder("Quillon Office") / ".last-job") << "1\n";
    EXPECT_EQ(OnePageJob(dc, u"d"), 4);
    // Nor does it take the id of a job that is its sidecar alone.
    std::ofstream(SpoolFolder("Quillon Office") / "5.json") << "{}\n";
    EXPECT_EQ(OnePageJob(dc, u"e"), 6);
    EXPECT_EQ(testing_support::ReadWholeFile(SpoolFolder("Quillon Office") / "5.json"), "{}\n");
    DeleteDC(dc);
}

// Jobs are private to their owner, and never widened and narrowed: checked under two umasks,
// with the document's temporary file looked at while the job is still open.
TEST_F(PrintJobTest, JobFilesArePrivateWhateverTheUmask)
{
    for (mode_t mask : {mode_t{0000}, mode_t{0022}}) {
        const mode_t previous = ::umask(mask);
        HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
        const DOCINFOW info = DocInfo(u"private");
        const int job = StartDocW(dc, &info);
        ASSERT_GT(job, 0);
        const fs::path folder = SpoolFolder("Quillon Office");
        EXPECT_EQ(ModeOf(folder), 0700u) << mask;
        EXPECT_EQ(ModeOf(folder / Joined(".", std::to_string(job), ".pdf.part")), 0600u) << mask;
        EXPECT_EQ(ModeOf(folder / ".last-job"), 0600u) << mask;
        StartPage(dc);
        EndPage(dc);
        EXPECT_GT(EndDoc(dc), 0);
        EXPECT_EQ(ModeOf(folder / (std::to_string(job) + ".pdf")), 0600u) << mask;
        EXPECT_EQ(ModeOf(folder / (std::to_string(job) + ".json")), 0600u) << mask;
        DeleteDC(dc);
        // A folder left wider by an earlier version is tightened by the next job.
        fs::permissions(folder, fs::perms(0755));
        dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
        OnePageJob(dc, u"next");
        DeleteDC(dc);
        EXPECT_EQ(ModeOf(folder), 0700u) << mask;
        ::umask(previous);
        fs::remove_all(root_.Path() / "var");
    }
}

// Several processes start jobs on one printer at once: every id is given once, and each process
// sees its own ids rise.
TEST_F(PrintJobTest, ProcessesPrintingAtOnceNeverShareAnId)
{
    constexpr int kProcesses = 4;
    constexpr int kJobsEach = 6;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
            const DOCINFOW info = DocInfo(u"busy");
            int ids[kJobsEach];
            for (int& id : ids) {
                id = StartDocW(dc, &info);
                EndDoc(dc);
            }
            const ssize_t written = ::write(pipeEnds[1], ids, sizeof ids);
            ::_exit(written == sizeof ids ? 0 : 1);
        }
        children.push_back(child);
    }
    ::close(pipeEnds[1]);
    std::set<int> all;
    for (int i = 0; i < kProcesses; ++i) {
        int ids[kJobsEach];
        ASSERT_EQ(::read(pipeEnds[0], ids, sizeof ids), static_cast<ssize_t>(sizeof ids));
        for (int j = 0; j < kJobsEach; ++j) {
            EXPECT_GT(ids[j], j == 0 ? 0 : ids[j - 1]);
            all.insert(ids[j]);
        }
    }
    ::close(pipeEnds[0]);
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_EQ(all.size(), std::size_t{kProcesses * kJobsEach});
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), kProcesses * kJobsEach);
}

} // namespace

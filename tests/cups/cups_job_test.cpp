// Jobs of a CUPS queue through a printer device context, against a private CUPS server: what the
// printer receives (its IPP attributes, the document's pages and pixels), cancelled jobs, jobs at
// the same time, and a server that refuses, vanishes or stops answering.
#include "tests/cups/cups_stack.h"
#include "tests/gdi/gdi_test_support.h"

#include "platform/kernel/kernel.h"
#include "platform/spooler/devmode.h"
#include "platform/spooler/printer_registry.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;
using namespace gdi_test;
using cups_test::CupsStack;

namespace {

constexpr Colour kBlack{0, 0, 0};

class CupsJob : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stack_.Up()) << stack_.Log(); }

    // TestQ's default device mode with some fields changed by `change`.
    template <typename Change>
    platform::spooler::FullDevMode DevMode(Change change)
    {
        platform::spooler::FullDevMode mode{};
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(u"TestQ"), &mode.devMode, nullptr, DM_OUT_BUFFER), IDOK);
        change(mode.devMode);
        return mode;
    }

    // The number of TestQ's paper of this name.
    static SHORT PaperNumber(const std::u16string& name)
    {
        const std::optional<platform::PrinterDefinition> printer = platform::FindPrinter(u"TestQ");
        EXPECT_TRUE(printer);
        for (const platform::PaperDefinition& paper : printer->Papers()) {
            if (paper.name == name)
                return paper.number;
        }
        ADD_FAILURE() << "TestQ has no paper of that name";
        return 0;
    }

    static int Start(HDC dc, const char16_t* name)
    {
        const DOCINFOW info{sizeof(DOCINFOW), name, nullptr, nullptr, 0};
        return StartDocW(dc, &info);
    }

    // Paints the printable area of a page: the upper half black, the lower half white.
    static void PaintHalves(HDC dc)
    {
        const Dib dib = TwoBandBitmap(8, 8, 24, true, kBlack, kWhite);
        ASSERT_GT(StretchDIBits(dc, 0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES), 0, 0, 8, 8,
                                dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY),
                  0);
    }

    CupsStack stack_;
    testing_support::TempRoot root_;
};

TEST_F(CupsJob, ADocumentArrivesWithTheDeviceModesSettingsAndItsPages)
{
    const SHORT photo = PaperNumber(u"4x6");
    platform::spooler::FullDevMode mode = DevMode([&](DEVMODEW& devMode) {
        devMode.dmPaperSize = photo;
        devMode.dmCopies = 2;
        devMode.dmColor = DMCOLOR_MONOCHROME;
        devMode.dmDuplex = DMDUP_VERTICAL;
    });
    HDC dc = CreateDCW(u"", u"TestQ", nullptr, &mode.devMode);
    ASSERT_NE(dc, nullptr);
    const int jobId = Start(dc, u"Holiday \u00e9t\u00e9");
    ASSERT_GT(jobId, 0);
    ASSERT_GT(StartPage(dc), 0);
    PaintHalves(dc);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(StartPage(dc), 0);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    ASSERT_TRUE(DeleteDC(dc));

    const std::vector<cups_test::ReceivedJob> jobs = stack_.WaitForJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Attribute("IPP_JOB_NAME"), "Holiday \u00e9t\u00e9");
    EXPECT_EQ(jobs[0].Attribute("IPP_COPIES"), "2");
    EXPECT_EQ(jobs[0].Attribute("IPP_SIDES"), "two-sided-long-edge");
    EXPECT_EQ(jobs[0].Attribute("IPP_PRINT_COLOR_MODE"), "monochrome");
    // The borderless 4 x 6 sheet, margins zero on every side (the queue adds its tray).
    EXPECT_EQ(jobs[0].Attribute("IPP_MEDIA_COL"),
              "{media-size={x-dimension=10160 y-dimension=15240} media-bottom-margin=0 media-left-margin=0 "
              "media-right-margin=0 media-source=photo media-top-margin=0}");
    EXPECT_EQ(jobs[0].Attribute("CONTENT_TYPE"), "application/pdf");
    // What the job asked of CUPS, before the queue made it the printer's.
    EXPECT_EQ(stack_.JobAttribute(jobId, "media-col"),
              "{media-bottom-margin=0 media-left-margin=0 media-right-margin=0 media-size={x-dimension=10160 "
              "y-dimension=15240} media-top-margin=0}");

    EXPECT_EQ(PdfInfo(jobs[0].document, "Pages"), "2");
    EXPECT_EQ(PdfInfo(jobs[0].document, "Page size"), "288 x 432 pts");
    // The queue delivers face up, so the pages come last first: the blank page, then the drawn one.
    const Page blank = RenderPage(jobs[0].document, 1, 50);
    const Page drawn = RenderPage(jobs[0].document, 2, 50);
    ASSERT_EQ(drawn.width, 200);
    ASSERT_EQ(drawn.height, 300);
    // Borderless: the black half reaches the sheet's very edges; the lower half stays white.
    for (const auto& [x, y] : {std::pair{0, 0}, {199, 0}, {100, 100}}) {
        SCOPED_TRACE(Describe(drawn.At(x, y)));
        EXPECT_TRUE(Near(drawn.At(x, y), kBlack));
        EXPECT_TRUE(Near(blank.At(x, y), kWhite));
    }
    for (const auto& [x, y] : {std::pair{0, 299}, {199, 200}, {100, 299}}) {
        SCOPED_TRACE(Describe(drawn.At(x, y)));
        EXPECT_TRUE(Near(drawn.At(x, y), kWhite));
    }
    // The id StartDocW answered is the CUPS job's: it ends completed once the scheduler is done with it.
    int state = stack_.JobState(jobId);
    for (; state >= IPP_JSTATE_PENDING && state < IPP_JSTATE_STOPPED; state = stack_.JobState(jobId))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
}

// A document name is the queue's job name as operators see it in listings and logs: control
// characters do not reach them, and a name longer than IPP carries is cut between characters.
TEST_F(CupsJob, TheJobNameCarriesNoControlCharactersAndFitsIpp)
{
    const std::pair<std::u16string, std::string> names[] = {
        {u"Report\r\ninfo : FORGED\x1b"
         u"c\x07\u009b"
         u"2J\tend",
         "Report  info : FORGED c  2J end"},
        {std::u16string(254, u'a') + u"\u00e9", std::string(254, 'a')},
        {std::u16string(253, u'a') + u"\u00e9", std::string(253, 'a') + "\u00e9"},
    };
    platform::spooler::FullDevMode mode = DevMode([](DEVMODEW&) {});
    for (const auto& [document, expected] : names) {
        HDC dc = CreateDCW(u"", u"TestQ", nullptr, &mode.devMode);
        ASSERT_NE(dc, nullptr);
        const int jobId = Start(dc, document.c_str());
        ASSERT_GT(jobId, 0);
        EXPECT_EQ(stack_.JobAttribute(jobId, "job-name"), expected);
        ASSERT_GT(AbortDoc(dc), 0);
        ASSERT_TRUE(DeleteDC(dc));
    }
}

TEST_F(CupsJob, ASheetWithMarginsGoesWithThemAtTheQueuesOwnSize)
{
    // Letter, TestQ's default: 6.35 mm left and right, 1.02 mm top, 11.68 mm bottom. Envelope #10
    // is 104.775 mm wide: 1048 tenths in the device mode, 10477 hundredths at the queue.
    const SHORT envelope = PaperNumber(u"Envelope #10");
    const std::pair<SHORT, const char*> sheets[] = {
        {1,
         "{media-bottom-margin=1168 media-left-margin=635 media-right-margin=635 media-size={x-dimension=21590 "
         "y-dimension=27940} media-top-margin=102}"},
        {envelope,
         "{media-bottom-margin=1168 media-left-margin=635 media-right-margin=635 media-size={x-dimension="
         "10477 y-dimension=24130} media-top-margin=102}"},
    };
    for (const auto& [paper, mediaCol] : sheets) {
        SCOPED_TRACE(paper);
        // clang 14 cannot capture a structured binding: the lambda takes a copy of its own.
        platform::spooler::FullDevMode mode
            = DevMode([number = paper](DEVMODEW& devMode) { devMode.dmPaperSize = number; });
        HDC dc = CreateDCW(u"", u"TestQ", nullptr, &mode.devMode);
        const int jobId = Start(dc, u"Sheet");
        ASSERT_GT(jobId, 0);
        EXPECT_EQ(stack_.JobAttribute(jobId, "media-col"), mediaCol);
        EXPECT_EQ(stack_.JobAttribute(jobId, "print-color-mode"), "color");
        EXPECT_EQ(stack_.JobAttribute(jobId, "sides"), "one-sided");
        EXPECT_GT(AbortDoc(dc), 0);
        DeleteDC(dc);
    }
}

TEST_F(CupsJob, AbortedOrAbandonedJobsAreCancelled)
{
    HDC aborted = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    HDC abandoned = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    const int abortedId = Start(aborted, u"Aborted");
    const int abandonedId = Start(abandoned, u"Abandoned");
    ASSERT_GT(abortedId, 0);
    ASSERT_GT(abandonedId, 0);
    ASSERT_GT(StartPage(aborted), 0);
    ASSERT_GT(StartPage(abandoned), 0);
    ASSERT_GT(AbortDoc(aborted), 0);
    ASSERT_TRUE(DeleteDC(abandoned)); // before EndDoc
    EXPECT_EQ(stack_.JobState(abortedId), IPP_JSTATE_CANCELED);
    EXPECT_EQ(stack_.JobState(abandonedId), IPP_JSTATE_CANCELED);
    DeleteDC(aborted);
}

TEST_F(CupsJob, ADocumentWithoutPagesHasNothingToPrint)
{
    HDC dc = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    const int jobId = Start(dc, u"Empty");
    ASSERT_GT(jobId, 0);
    EXPECT_GT(EndDoc(dc), 0);
    EXPECT_EQ(stack_.JobState(jobId), IPP_JSTATE_CANCELED);
    DeleteDC(dc);
}

TEST_F(CupsJob, JobsAtTheSameTimeGetTheirOwnIds)
{
    HDC first = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    HDC second = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    const int firstId = Start(first, u"First");
    const int secondId = Start(second, u"Second");
    EXPECT_GT(firstId, 0);
    EXPECT_GT(secondId, 0);
    EXPECT_NE(firstId, secondId);
    for (HDC dc : {second, first}) {
        ASSERT_GT(StartPage(dc), 0);
        ASSERT_GT(EndPage(dc), 0);
        ASSERT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
    }
    const std::vector<cups_test::ReceivedJob> jobs = stack_.WaitForJobs(2);
    ASSERT_EQ(jobs.size(), 2u);
    std::vector<std::string> names{jobs[0].Attribute("IPP_JOB_NAME"), jobs[1].Attribute("IPP_JOB_NAME")};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"First", "Second"}));
}

TEST_F(CupsJob, AQueueThatRefusesJobsFailsStartDocWithAReason)
{
    int status = -1;
    cups_test::RunCommand("cupsreject TestQ", &status);
    ASSERT_EQ(status, 0);
    HDC dc = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Start(dc, u"Refused"), SP_ERROR);
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("quillon: creating a job for TestQ on the CUPS server " + stack_.Socket() + " failed: "));
    // The device context stays usable for nothing but its deletion, as after any refused StartDocW.
    EXPECT_LE(StartPage(dc), 0);
    EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(CupsJob, AServerLostWhileDrawingFailsEndDocAndLeavesNothing)
{
    HDC dc = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    ASSERT_GT(Start(dc, u"Lost"), 0);
    ASSERT_GT(StartPage(dc), 0);
    PaintHalves(dc);
    ASSERT_GT(EndPage(dc), 0);
    stack_.SignalCupsd(SIGKILL);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(EndDoc(dc), SP_ERROR);
    EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("sending the document of job"));
    EXPECT_TRUE(DeleteDC(dc));
    // With the server gone the queue is gone too: no device context, and no message either, since
    // no CUPS runs on this machine now.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CreateDCW(u"", u"TestQ", nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(CupsJob, AServerThatStopsAnsweringFailsStartDocWithinItsTimeout)
{
    HDC dc = CreateDCW(u"", u"TestQ", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    stack_.SignalCupsd(SIGSTOP);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Start(dc, u"Unanswered"), SP_ERROR);
    EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("on the CUPS server " + stack_.Socket()));
    // A lookup right after finds no printer, and does not wait again for a server that kept it
    // waiting a moment ago.
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::FindPrinter(u"TestQ"));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("did not answer a moment ago"));
    stack_.SignalCupsd(SIGCONT);
    EXPECT_TRUE(DeleteDC(dc));
}

} // namespace

// The tool's exchanges on a CUPS queue through quillon-service, against a private CUPS server: what
// the service gets back, what the printer receives of a document and of a photo, and what the
// service gets when the server is gone or stops answering.
#include "tests/cups/cups_stack.h"
#include "tests/e2e/e2e_support.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/picture_files.h"

#include <gmock/gmock.h>

#include <map>

using cups_test::CupsStack;
using quillon::e2e::kService;
using quillon::e2e::RunProgram;
using quillon::e2e::RunResult;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class CupsService : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stack_.Up()) << stack_.Log(); }

    RunResult Service(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), kService);
        return RunProgram(arguments, root_.Path());
    }

    CupsStack stack_;
    quillon::e2e::TempRoot root_;
};

TEST_F(CupsService, CapsAndTicketDescribeTheQueue)
{
    const RunResult caps = Service({"caps", "TestQ", "--quiet"});
    ASSERT_TRUE(caps.ExitedWith(0)) << caps.err;
    EXPECT_THAT(caps.out, HasSubstr("<psf:Option name=\"psk:NorthAmerica4x6\">"));
    EXPECT_THAT(caps.out, HasSubstr("<psf:Option name=\"ns0000:Resolution600\">"));
    const RunResult ticket = Service({"ticket", "TestQ", "--quiet"});
    ASSERT_TRUE(ticket.ExitedWith(0)) << ticket.err;
    EXPECT_THAT(ticket.out, HasSubstr("<psf:Option name=\"psk:NorthAmericaLetter\">"));
    EXPECT_EQ(ticket.err, "");
}

TEST_F(CupsService, ADocumentBecomesACupsJobWithAllItsPages)
{
    const std::string document = root_.Path() + "/report.pdf";
    print_test::WriteBytes(document, print_test::GridPdf(3));
    const RunResult print = Service({"print", "TestQ", document, "--name", "Quarterly report", "--quiet"});
    ASSERT_TRUE(print.ExitedWith(0)) << print.err;
    // The reply is the CUPS job's id, and nothing more: a queue keeps no PDF of its own here.
    const int jobId = std::stoi(print.out);
    EXPECT_EQ(print.out, std::to_string(jobId) + "\n");
    EXPECT_EQ(stack_.JobAttribute(jobId, "job-name"), "Quarterly report");

    const std::vector<cups_test::ReceivedJob> jobs = stack_.WaitForJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Attribute("IPP_JOB_NAME"), "Quarterly report");
    EXPECT_EQ(print_test::PageCount(jobs[0].document), 3);
    EXPECT_EQ(gdi_test::PdfInfo(jobs[0].document, "Page size"), "612 x 792 pts (letter)");
    // Ink inside Letter's printable area; none in its 6.35 mm left margin (at 50 dpi: 12.5 dots).
    const print_test::Raster page = print_test::RenderPage(jobs[0].document, 1, 50);
    ASSERT_EQ(page.width, 425);
    const std::uint8_t* inside = page.At(100, 100);
    EXPECT_LT(std::min({inside[0], inside[1], inside[2]}), 100);
    for (const int y : {20, 200, 500}) {
        const std::uint8_t* margin = page.At(5, y);
        EXPECT_GT(std::min({margin[0], margin[1], margin[2]}), 245) << y;
    }
}

TEST_F(CupsService, APhotoWithPaperSizeAutoFillsTheBorderless4x6Sheet)
{
    using namespace picture_files;
    const std::string photo = root_.Path() + "/photo.jpg";
    WriteFile(photo, SavedPicture("jpeg", 600, 400, kFourColours));
    const RunResult print = Service({"print", "TestQ", photo, "--name", "Holiday", "--option", "PaperSizeAuto"});
    ASSERT_TRUE(print.ExitedWith(0)) << print.err;
    EXPECT_GT(std::stoi(print.out), 0);

    const std::vector<cups_test::ReceivedJob> jobs = stack_.WaitForJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Attribute("IPP_MEDIA_COL"),
              "{media-size={x-dimension=10160 y-dimension=15240} media-bottom-margin=0 media-left-margin=0 "
              "media-right-margin=0 media-source=photo media-top-margin=0}");
    EXPECT_EQ(gdi_test::PdfInfo(jobs[0].document, "Page size"), "288 x 432 pts");
    // The queue takes JPEG data as it is: the photo's own bytes are in the document.
    EXPECT_THAT(cups_test::RunCommand("pdfimages -list " + jobs[0].document.string()), HasSubstr(" jpeg "));
    // The landscape photo turned a quarter counter-clockwise onto the portrait sheet, filling it to
    // its very edges: its top-right quarter is now at the sheet's top left.
    const gdi_test::Page page = gdi_test::RenderPage(jobs[0].document, 1, 50);
    ExpectColours(page,
                  {{1, 1, gdi_test::kGreen}, {198, 1, kYellow}, {1, 298, gdi_test::kRed}, {198, 298, gdi_test::kBlue}});
}

TEST_F(CupsService, AJobTheSinkCancelledIsNeverAnsweredWithItsId)
{
    // The data folder is a file: the queue's job is made when the document starts, and then no
    // page can be recorded, so the job is thrown away.
    std::filesystem::create_directories(root_.Path() + "/var/lib");
    print_test::WriteBytes(root_.Path() + "/var/lib/Marlowin", "not a folder");
    const std::string document = root_.Path() + "/report.pdf";
    print_test::WriteBytes(document, print_test::GridPdf(2));
    const RunResult print = Service({"print", "TestQ", document, "--quiet"});
    EXPECT_TRUE(print.ExitedWith(1));
    EXPECT_EQ(print.out, "-1\n");
    EXPECT_THAT(print.err, HasSubstr("the print job failed with job id -1"));
    // The one job the queue made was cancelled, and the printer got nothing.
    const std::map<int, int> jobs = stack_.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs.begin()->second, IPP_JSTATE_CANCELED);
    EXPECT_TRUE(stack_.Received().empty());
}

TEST_F(CupsService, AServerThatIsGoneGivesAnEmptyReplyAndNoNoise)
{
    stack_.SignalCupsd(SIGKILL);
    // Without --quiet: the tool's own console lines come through on standard error.
    const RunResult caps = Service({"caps", "TestQ"});
    EXPECT_TRUE(caps.ExitedWith(0)) << caps.err;
    EXPECT_EQ(caps.out, "");
    // No CUPS runs here any more: that is no fault to tell of.
    EXPECT_THAT(caps.err, Not(HasSubstr("quillon:")));
}

TEST_F(CupsService, AServerThatStopsAnsweringGivesAnEmptyReplyAndSaysWhy)
{
    stack_.SignalCupsd(SIGSTOP);
    const RunResult caps = Service({"caps", "TestQ"});
    stack_.SignalCupsd(SIGCONT);
    EXPECT_TRUE(caps.ExitedWith(0)) << caps.err;
    EXPECT_EQ(caps.out, "");
    EXPECT_THAT(caps.err, HasSubstr("quillon: listing the queues on the CUPS server " + stack_.Socket() + " failed: "));
}

} // namespace

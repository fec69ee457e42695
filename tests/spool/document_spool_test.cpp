// The document path in this process, with the real PDF renderer beside the test program: what a
// job prints, what it logs when its file is not a printable PDF, and what it leaves behind.
#include "driver/log_sink.h"
#include "platform/kernel/object_table.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/pdf_renderer.h"
#include "print/print_impl.h"
#include "spool/document_spool.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/named_pipe_file.h"
#include "tests/support/temp_root.h"
#include "ticket/print_ticket_queries.h"

#include <boost/log/core.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <optional>
#include <set>

namespace {

using namespace print_test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testing_support::TempRoot;

constexpr char kPrinter[] = "Test Office";

// A ticket holding only the given features; the printer's defaults fill in the rest.
std::string Ticket(const std::string& features)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<psf:PrintTicket "
           "xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
           "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" version=\"1\">"
        + features + "</psf:PrintTicket>";
}

std::string Pick(const std::string& feature, const std::string& option)
{
    return "<psf:Feature name=\"psk:" + feature + "\"><psf:Option name=\"psk:" + option + "\"/></psf:Feature>";
}

// The live handles of the kinds a job takes: files, device contexts, metafiles.
std::array<std::size_t, 3> LiveHandles()
{
    const auto& table = platform::ObjectTable::Instance();
    return {table.Count(platform::ObjectKind::KernelObject), table.Count(platform::ObjectKind::DeviceContext),
            table.Count(platform::ObjectKind::EnhMetaFile)};
}

class DocumentPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallPrinter(root_.Path(), kPrinter, 150, "4.23");
        fs::create_directories(root_.Path() / "documents");
        aio::ConfigureLogging((root_.Path() / "logs").string(), base::debug);
    }
    void TearDown() override { boost::log::core::get()->remove_all_sinks(); }

    fs::path Document(const std::string& name, const std::string& bytes) const
    {
        const fs::path path = root_.Path() / "documents" / name;
        WriteBytes(path, bytes);
        return path;
    }

    // Prints the file through the job dispatch with the ticket, or the printer's default ticket.
    std::int32_t Print(const fs::path& file, std::string ticket = {})
    {
        if (ticket.empty()) {
            EXPECT_EQ(aio::GetDefaultPrintTicket(u"Test Office", ticket), S_OK);
        }
        aio::PrintJobRequest job;
        job.file_path = file.u16string();
        job.mime_type = "application/pdf";
        job.print_ticket = ticket;
        job.document_name = "document";
        std::int32_t jobId = 0;
        const bool printed = aio::PrintImpl::PrintFileImpl(u"Test Office", job, jobId);
        EXPECT_EQ(printed, jobId > 0);
        return jobId;
    }

    fs::path JobPdf(std::int32_t jobId) const
    {
        return SpoolFolder(root_.Path(), kPrinter) / (std::to_string(jobId) + ".pdf");
    }

    std::vector<std::string> Log() const { return DebugMessages(root_.Path() / "logs/log"); }

    TempRoot root_;
};

TEST(PageToPrinterTransformTest, ScalesScreenPixelsToPrinterDotsAndMovesBackByTheOffsets)
{
    const XFORM offsets = aio::printing::PageToPrinterTransform(600, 96, 50, 60);
    EXPECT_EQ(std::vector<float>({offsets.eM11, offsets.eM12, offsets.eM21, offsets.eM22, offsets.eDx, offsets.eDy}),
              std::vector<float>({6.25f, 0, 0, 6.25f, -50, -60}));
    const XFORM uneven = aio::printing::PageToPrinterTransform(300, 72, 0, 7);
    EXPECT_EQ(std::vector<float>({uneven.eM11, uneven.eM22, uneven.eDx, uneven.eDy}),
              std::vector<float>({static_cast<float>(300.0 / 72.0), static_cast<float>(300.0 / 72.0), 0, -7}));
}

TEST_F(DocumentPathTest, FilesThatHoldNoPrintableDocumentFailWithTheirRecordAndLeaveNothing)
{
    const std::string pdf = GridPdf(2);
    const struct {
        const char* name;
        std::string bytes;
        const char* record;
    } cases[] = {
        {"empty.pdf", "", "In RenderNextPDFPageToMetafile, get_info_proc of buffer failed. "},
        {"truncated.pdf", pdf.substr(0, 400), "In RenderNextPDFPageToMetafile, get_info_proc of buffer failed. "},
        {"letter.txt", "Dear printer,\nthis is not a PDF.\n",
         "In RenderNextPDFPageToMetafile, get_info_proc of buffer failed. "},
        {"missing.pdf", "", "In RenderNextPDFPageToMetafile, CreateFile pdf_file failed. "},
        // Only a regular file is read: a named pipe in its place is refused, not waited on.
        {"pipe.pdf", "", "In RenderNextPDFPageToMetafile, CreateFile pdf_file failed. "},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        fs::path file = Document(item.name, item.bytes);
        std::optional<testing_support::NamedPipeFile> pipe;
        if (item.name == std::string("missing.pdf") || item.name == std::string("pipe.pdf"))
            fs::remove(file);
        if (item.name == std::string("pipe.pdf"))
            pipe.emplace(file);
        const auto handles = LiveHandles();
        const std::size_t logged = Log().size();

        const std::int32_t jobId = Print(file);
        EXPECT_EQ(jobId, -1);
        const std::vector<std::string> log = Log();
        const std::vector<std::string> added(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end());
        EXPECT_THAT(added, Contains(item.record));
        const std::vector<std::string> closing(added.end() - std::min<std::ptrdiff_t>(5, added.size()), added.end());
        EXPECT_THAT(closing,
                    ElementsAre(StartsWith("RemoveFile path: "), "In RenderPDFFile, RemoveFile ,return: 0",
                                "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 0",
                                "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                                "In PrintFile, spool, RenderPDFFile failed."));
        EXPECT_EQ(LiveHandles(), handles);
        EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());
        EXPECT_FALSE(pipe && pipe->ReaderWaited());
    }
    // The documents ended without a page: no job was made of them.
    std::vector<std::string> spooled;
    for (const auto& entry : fs::directory_iterator(SpoolFolder(root_.Path(), kPrinter)))
        spooled.push_back(entry.path().filename().string());
    EXPECT_THAT(spooled, ElementsAre(".last-job"));
}

// The tool refuses what the renderer would refuse, before it reads the file whole.
static_assert(kMaxPdfDocumentBytes == pdf::kMaxDocumentBytes);

TEST_F(DocumentPathTest, DocumentsLargerThanTheRendererTakesAreRefusedBeforeTheyAreRead)
{
    // Past the renderer's limit, and sizes whose low 32 bits alone would pass on as a negative
    // count or as a count cut short.
    for (const std::uint64_t size :
         {(std::uint64_t{1} << 30) + 1, std::uint64_t{1} << 31, (std::uint64_t{1} << 32) + 1000}) {
        SCOPED_TRACE(size);
        const fs::path file = Document("huge.pdf", "%PDF-1.4\n");
        ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(size)), 0);
        const std::size_t logged = Log().size();
        EXPECT_EQ(Print(file), -1);
        const std::vector<std::string> log = Log();
        const std::vector<std::string> added(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end());
        EXPECT_THAT(added,
                    Contains("In RenderNextPDFPageToMetafile, GetFileSize length too large for pdf.dll: "
                             + std::to_string(size)));
        EXPECT_THAT(added, Not(Contains(StartsWith("In RenderNextPDFPageToMetafile, GetFileSize length: "))));
        fs::remove(file);
    }
}

TEST_F(DocumentPathTest, AnA4LandscapeTicketGivesA4LandscapeSheetsWithThePagesTurnedOntoThem)
{
    const std::int32_t jobId = Print(Document("two.pdf", GridPdf(2)),
                                     Ticket(Pick("PageMediaSize", "ISOA4") + Pick("PageOrientation", "Landscape")));
    ASSERT_GT(jobId, 0);
    ASSERT_EQ(PageCount(JobPdf(jobId)), 2);
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE(page);
        // A4 landscape, 297 × 210 mm, at 36 dpi.
        const Raster sheet = RenderPage(JobPdf(jobId), page, 36);
        EXPECT_NEAR(sheet.width, 421, 1);
        EXPECT_NEAR(sheet.height, 298, 1);
        // The white band across the portrait page now runs down the middle of the sheet, holding
        // the page's bars.
        int bars = 0;
        bool inBar = false;
        for (int y = 20; y < sheet.height - 20; ++y) {
            const bool black = sheet.At(sheet.width / 2, y)[0] < 64;
            bars += black && !inBar ? 1 : 0;
            inBar = black;
        }
        EXPECT_EQ(bars, page);
    }
}

TEST_F(DocumentPathTest, AGrayscaleTicketGivesGreyPages)
{
    const std::int32_t jobId = Print(Document("colour.pdf", GridPdf(1)), Ticket(Pick("PageOutputColor", "Grayscale")));
    ASSERT_GT(jobId, 0);
    const Raster sheet = RenderPage(JobPdf(jobId), 1, 36);
    ASSERT_GT(sheet.width, 0);
    std::set<int> shades;
    for (int y = 0; y < sheet.height; ++y) {
        for (int x = 0; x < sheet.width; ++x) {
            const std::uint8_t* pixel = sheet.At(x, y);
            ASSERT_LE(std::abs(pixel[0] - pixel[1]) + std::abs(pixel[1] - pixel[2]), 2) << x << ", " << y;
            shades.insert(pixel[0] / 16);
        }
    }
    // The four colours of the squares stay told apart as shades of grey.
    EXPECT_GE(shades.size(), 5u);
}

TEST_F(DocumentPathTest, AJobGivesBackEveryHandleItTookAndLeavesNoPageFile)
{
    const fs::path file = Document("three.pdf", GridPdf(3));
    const auto handles = LiveHandles();
    const std::int32_t jobId = Print(file);
    EXPECT_GT(jobId, 0);
    EXPECT_EQ(PageCount(JobPdf(jobId)), 3);
    // Screen contexts taken for their resolution included.
    EXPECT_EQ(LiveHandles(), handles);
    EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());
}

TEST_F(DocumentPathTest, APrinterNobodyHasStartsNoDocument)
{
    std::int32_t jobId = 0;
    EXPECT_FALSE(aio::PrintImpl::PrintDocImpl(jobId, u"No Such Printer", Document("one.pdf", GridPdf(1)).u16string(),
                                              u"document", nullptr));
    EXPECT_EQ(jobId, -1);
    EXPECT_THAT(Log(), ElementsAre("In PrintFile, spool, CreatDC failed."));
    EXPECT_FALSE(fs::exists(root_.Path() / "var/spool"));
}

} // namespace

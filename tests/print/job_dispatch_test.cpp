// The job dispatch in this process: which path a content type takes, the document name a job
// prints under, and jobs that end before a path is taken.
#include "driver/log_sink.h"
#include "print/job_dispatch.h"
#include "print/print_impl.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/temp_root.h"
#include "ticket/print_ticket_queries.h"

#include <boost/log/core.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace print_test;
using testing_support::ReadWholeFile;
using testing_support::TempRoot;

TEST(IsImageMimeTypeTest, TakesExactlyTheFivePictureTypes)
{
    for (const char* type : {"image/jpeg", "image/png", "image/bmp", "image/tiff", "image/gif"})
        EXPECT_TRUE(aio::IsImageMimeType(type)) << type;
    for (const char* type : {"IMAGE/PNG", "Image/Gif", "image/png; q=1", "image/jpg", "image/tif", "image/pn",
                             "image/pngx", " image/gif", "image/gif ", "", "application/pdf"})
        EXPECT_FALSE(aio::IsImageMimeType(type)) << type;
    EXPECT_FALSE(aio::IsImageMimeType(std::string("image/png\0x", 11)));
}

struct Outcome {
    bool printed = false;
    std::int32_t jobId = 0;
};

class JobDispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallPrinter(root_.Path(), "Test Office", 100, "4.23");
        document_ = root_.Path() / "one.pdf";
        WriteBytes(document_, GridPdf(1));
        ASSERT_EQ(aio::GetDefaultPrintTicket(u"Test Office", ticket_), S_OK);
        aio::ConfigureLogging((root_.Path() / "logs").string(), base::debug);
    }
    void TearDown() override { boost::log::core::get()->remove_all_sinks(); }

    Outcome Print(const std::string& mimeType, const std::string& documentName, const std::string& ticket)
    {
        aio::PrintJobRequest job;
        job.file_path = document_.u16string();
        job.mime_type = mimeType;
        job.print_ticket = ticket;
        job.document_name = documentName;
        Outcome outcome;
        outcome.printed = aio::PrintImpl::PrintFileImpl(u"Test Office", job, outcome.jobId);
        return outcome;
    }
    Outcome Print(const std::string& mimeType, const std::string& documentName = "document")
    {
        return Print(mimeType, documentName, ticket_);
    }

    // The document name the sidecar of a job gives, as it stands in the JSON text.
    std::string PrintedName(std::int32_t jobId) const
    {
        const std::string sidecar
            = ReadWholeFile(SpoolFolder(root_.Path(), "Test Office") / (std::to_string(jobId) + ".json"));
        const std::string key = "\"document\": \"";
        const std::size_t start = sidecar.find(key);
        if (start == std::string::npos)
            return "(no sidecar)";
        return sidecar.substr(start + key.size(), sidecar.find("\",\n", start) - start - key.size());
    }

    std::size_t JobsPrinted() const
    {
        std::size_t jobs = 0;
        std::error_code failure;
        for (const auto& entry : fs::directory_iterator(SpoolFolder(root_.Path(), "Test Office"), failure))
            jobs += entry.path().extension() == ".pdf" ? 1 : 0;
        return jobs;
    }

    std::vector<std::string> Log() const { return DebugMessages(root_.Path() / "logs/log"); }

    TempRoot root_;
    fs::path document_;
    std::string ticket_;
};

TEST_F(JobDispatchTest, OnlyAnExactPictureTypeTakesThePicturePath)
{
    // A PDF sent as a picture is no picture: the picture path makes no job of it.
    const Outcome picture = Print("image/png");
    EXPECT_FALSE(picture.printed);
    EXPECT_EQ(picture.jobId, 0);
    EXPECT_EQ(JobsPrinted(), 0u);

    std::size_t printed = 0;
    for (const char* type : {"IMAGE/PNG", "image/png; q=1", "image/jpg", "", "application/pdf"}) {
        SCOPED_TRACE(type);
        const Outcome document = Print(type);
        EXPECT_TRUE(document.printed);
        EXPECT_GT(document.jobId, 0);
        EXPECT_EQ(JobsPrinted(), ++printed);
    }
}

TEST_F(JobDispatchTest, DocumentNamesComeFromUtf8OrTheDefault)
{
    const struct {
        std::string given;
        std::string printed;
    } names[] = {
        {"Quarterly report", "Quarterly report"},
        {"R\xC3\xA9sum\xC3\xA9", "R\xC3\xA9sum\xC3\xA9"},
        // Cyrillic and CJK: far outside Latin-1, and a character beyond the 16-bit plane.
        {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE5\xA0\xB1\xE5\x91\x8A \xF0\x9F\x93\x84",
         "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE5\xA0\xB1\xE5\x91\x8A \xF0\x9F\x93\x84"},
        {std::string("Cut\0here", 8), "Cut"},
        // Bytes that are not UTF-8 print as replacement characters, as the system converts them.
        {"\xFF\xFE broken", "\xEF\xBF\xBD\xEF\xBF\xBD broken"},
        {"", "FromMarlowin"},
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name.printed);
        const Outcome outcome = Print("application/pdf", name.given);
        ASSERT_TRUE(outcome.printed);
        EXPECT_EQ(PrintedName(outcome.jobId), name.printed);
    }
}

TEST_F(JobDispatchTest, ANameOrTicketThatDoesNotConvertEndsTheJobBeforeAPathIsTaken)
{
    const struct {
        std::string name;
        std::string ticket;
        std::vector<std::string> records;
    } cases[] = {
        {std::string("\0name", 5), ticket_, {}},
        {"document", "not a print ticket", {"In PrintFileImpl, PrintTicketToDevMode failed."}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const std::size_t logged = Log().size();
        const Outcome outcome = Print("application/pdf", item.name, item.ticket);
        EXPECT_FALSE(outcome.printed);
        EXPECT_EQ(outcome.jobId, 0);
        const std::vector<std::string> log = Log();
        EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end()), item.records);
    }
    EXPECT_FALSE(fs::exists(SpoolFolder(root_.Path(), "Test Office")));
}

} // namespace

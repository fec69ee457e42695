// The service's request texts at their limits, below what an end-to-end run can reach cheaply.
#include "service/job_request.h"

#include <gtest/gtest.h>

namespace quillon::service {
namespace {

PrintJob JobWithTicketOf(size_t bytes)
{
    PrintJob job;
    job.printer = u"P";
    job.filePath = u"/f";
    job.contentType = "application/pdf";
    job.ticket = std::string(bytes, 't');
    return job;
}

TEST(ServiceJobRequest, TheLongestRequestTheToolTakesWholeIsAcceptedAndOneMoreIsNot)
{
    // "P{00}/f{11}application/pdf{22}" + ticket + "{33}{44}{55}" = 42 code units around the ticket.
    const size_t around = 42;
    std::u16string request;
    std::string error;
    ASSERT_TRUE(BuildJobRequest(JobWithTicketOf(kMaxJobRequestUnits - around), request, error)) << error;
    EXPECT_EQ(request.size(), kMaxJobRequestUnits);
    EXPECT_FALSE(BuildJobRequest(JobWithTicketOf(kMaxJobRequestUnits - around + 1), request, error));
    EXPECT_EQ(request.size(), kMaxJobRequestUnits); // left as it was
}

TEST(ServiceJobRequest, BytesTravelOnePerCodeUnitAndLatin1TextAsItself)
{
    PrintJob job = JobWithTicketOf(0);
    job.printer = u"Caf\u00E9";
    job.ticket = "\xC3\xA9";
    job.documentName = "\xE2\x82\xAC";
    std::u16string request;
    std::string error;
    ASSERT_TRUE(BuildJobRequest(job, request, error)) << error;
    EXPECT_EQ(request, u"Caf\u00E9{00}/f{11}application/pdf{22}\u00C3\u00A9{33}{44}\u00E2\u0082\u00AC{55}");
}

TEST(ServiceJobRequest, MessagesAreLittleEndianCodeUnitsAndAnOddByteIsLeftOut)
{
    EXPECT_EQ(EncodeMessage(u"A\u20AC"), std::string("A\0\xAC\x20", 4));
    EXPECT_EQ(DecodeMessage(std::string("A\0\xAC\x20\x42", 5)), u"A\u20AC");
    EXPECT_EQ(DecodeMessage(""), u"");
    EXPECT_EQ(LowBytes(u"<\u00C3\u00A9>"), "<\xC3\xA9>");
}

TEST(ServiceJobRequest, ShortOrUnknownHeadsArePdf)
{
    EXPECT_EQ(GuessContentType(""), "application/pdf");
    EXPECT_EQ(GuessContentType("\xFF\xD8"), "application/pdf");
    EXPECT_EQ(GuessContentType("\x89PNG"), "application/pdf");
    EXPECT_EQ(GuessContentType(std::string("II*\0", 4)), "image/tiff");
    EXPECT_EQ(GuessContentType("GIF88a"), "application/pdf");
}

} // namespace
} // namespace quillon::service

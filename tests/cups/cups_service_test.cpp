// The tool's exchanges on a CUPS queue through quillon-service, against a private CUPS server: what
// the service gets back, and what it gets when the server is gone or stops answering.
#include "tests/cups/cups_stack.h"
#include "tests/e2e/e2e_support.h"

#include <gmock/gmock.h>

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
    EXPECT_THAT(
        caps.err,
        HasSubstr("quillon: listing the queues on the CUPS server " + stack_.Socket() + " failed: no answer in time"));
}

} // namespace

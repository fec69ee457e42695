// The lines of a batch's jobs file: words split as a shell splits them, the options of print.
#include "service/batch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace quillon::service {
namespace {

struct Parsed {
    bool ok = false;
    bool hasJob = false;
    JobOrder order;
    std::string error;
};

Parsed Parse(std::string_view line)
{
    Parsed parsed;
    parsed.ok = ParseJobLine(line, parsed.order, parsed.hasJob, parsed.error);
    return parsed;
}

TEST(BatchJobsFile, QuotesAndBackslashesKeepBlanksAndQuotesInsideOneWord)
{
    const Parsed parsed = Parse(R"("Quillon Office" '/tmp/a "b".pdf' --name It\'s\ mine --option PaperSizeAuto)"
                                "\t--option \"Shrink\"ToFit --type image/png --ticket '' \r");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_TRUE(parsed.hasJob);
    EXPECT_EQ(parsed.order.printer, "Quillon Office");
    EXPECT_EQ(parsed.order.file, "/tmp/a \"b\".pdf");
    EXPECT_EQ(parsed.order.name, "It's mine");
    EXPECT_EQ(parsed.order.options, (std::vector<std::string>{"PaperSizeAuto", "ShrinkToFit"}));
    EXPECT_EQ(parsed.order.type, "image/png");
    EXPECT_EQ(parsed.order.ticketFile, ""); // an empty word is a word
}

TEST(BatchJobsFile, BlankLinesAndCommentsHoldNoJobAndEverythingElseMustBeOne)
{
    for (const char* empty : {"", "   \t", "# P file", "  #comment", "\r"}) {
        const Parsed parsed = Parse(empty);
        EXPECT_TRUE(parsed.ok) << empty;
        EXPECT_FALSE(parsed.hasJob) << empty;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"P", "a job names a printer and a file, and this line names 1 word beside its options"},
        {"P f g", "a job names a printer and a file, and this line names 3 words beside its options"},
        {"P f --option", "--option needs a value"},
        {"P f --copies 2", "unknown option --copies"},
        {"P 'f", "a quote (') is not closed"},
        {"P f\\", "a backslash ends the line"},
    };
    for (const auto& [line, error] : refused) {
        const Parsed parsed = Parse(line);
        EXPECT_FALSE(parsed.ok) << line;
        EXPECT_FALSE(parsed.hasJob) << line;
        EXPECT_EQ(parsed.error, error) << line;
    }
    // A word that only looks like a comment is part of a job.
    const Parsed hash = Parse("P '#file'");
    EXPECT_TRUE(hash.hasJob);
    EXPECT_EQ(hash.order.file, "#file");
}

TEST(BatchJobsFile, JobsKeepTheNumbersOfTheirLinesAndTheFirstBadLineIsNamed)
{
    char path[] = "/tmp/quillon-jobs-XXXXXX";
    const int descriptor = mkstemp(path);
    ASSERT_GE(descriptor, 0);
    close(descriptor);
    std::ofstream(path) << "# jobs\nA a.pdf\n\nB b.png --option ShrinkToFit\n";
    std::vector<BatchJob> jobs;
    std::string error;
    ASSERT_TRUE(ReadJobsFile(path, jobs, error)) << error;
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].line, 2);
    EXPECT_EQ(jobs[0].order.printer, "A");
    EXPECT_EQ(jobs[1].line, 4);
    EXPECT_EQ(jobs[1].order.file, "b.png");

    std::ofstream(path, std::ios::app) << "C\n";
    jobs.clear();
    EXPECT_FALSE(ReadJobsFile(path, jobs, error));
    EXPECT_EQ(error,
              std::string(path)
                  + ", line 5: a job names a printer and a file, and this line names 1 word "
                    "beside its options");
    std::remove(path);
}

} // namespace
} // namespace quillon::service

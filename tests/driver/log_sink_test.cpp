#include "driver/function_tracer.h"
#include "driver/log_sink.h"
#include "tests/support/temp_root.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/core.hpp>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

using testing_support::ReadWholeFile;
using testing_support::TempRoot;

// Today's log file name of the given counter, as the sink names it.
std::string TodaysLogName(int counter)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof name, "QuillonTool_%04d%02d%02d_%03d.log", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, counter);
    return name;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The message part of a log line, after " : ".
std::string Message(const std::string& line)
{
    const std::size_t at = line.find("] : ");
    return at == std::string::npos ? line : line.substr(at + 4);
}

class LogSinkTest : public ::testing::Test {
protected:
    void TearDown() override { boost::log::core::get()->remove_all_sinks(); }

    std::filesystem::path LogFile(int counter = 0) const { return root.Path() / "log" / TodaysLogName(counter); }

    TempRoot root;
};

TEST(SeverityLevelTest, ParsesExactNamesOnly)
{
    EXPECT_EQ(aio::ParseSeverityLevel("trace"), base::trace);
    EXPECT_EQ(aio::ParseSeverityLevel("debug"), base::debug);
    EXPECT_EQ(aio::ParseSeverityLevel("critical"), base::critical);
    for (const char* name : {"Debug", "DEBUG", "debug ", "", "verbose"})
        EXPECT_EQ(aio::ParseSeverityLevel(name), base::error) << name;
}

TEST(SeverityLevelTest, PrintsNamesAndNumbersOutsideTheTable)
{
    std::ostringstream out;
    out << base::warning << ' ' << static_cast<base::severity_level>(9) << ' ' << static_cast<base::severity_level>(-1);
    EXPECT_EQ(out.str(), "warning 9 -1");
}

TEST_F(LogSinkTest, WritesTheLineFormatWithCrLf)
{
    aio::ConfigureLogging(root.Path().string(), base::debug);

    boost::log::sources::severity_logger<base::severity_level> logger;
    const boost::posix_time::ptime when(boost::gregorian::date(2026, 12, 6),
                                        boost::posix_time::time_duration(20, 55, 24)
                                            + boost::posix_time::microseconds(123456));
    logger.add_attribute("TimeStamp", boost::log::attributes::constant<boost::posix_time::ptime>(when));
    BOOST_LOG_SEV(logger, base::info) << "x";
    BOOST_LOG_SEV(logger, base::debug) << "";

    EXPECT_EQ(ReadWholeFile(LogFile()),
              "info [2026-Dec-06 20:55:24.123456] : x\r\n"
              "debug [2026-Dec-06 20:55:24.123456] : \r\n");
}

TEST_F(LogSinkTest, FiltersBelowTheMinimumWithoutEvaluatingTheMessage)
{
    aio::ConfigureLogging(root.Path().string(), base::debug);
    int evaluated = 0;
    auto count = [&evaluated] { return ++evaluated; };
    QLOG(base::trace) << count();
    QLOG(base::debug) << count();
    EXPECT_EQ(evaluated, 1);
    const auto lines = Lines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("debug [", 0), 0u);
}

TEST_F(LogSinkTest, TracerLinesAreIndentedByDepthAndFilteredAtDebug)
{
    aio::ConfigureLogging(root.Path().string(), base::trace);
    {
        aio::FunctionTracer outer("A");
        aio::FunctionTracer inner("B");
        EXPECT_EQ(aio::TraceDepth, 2);
    }
    EXPECT_EQ(aio::TraceDepth, 0);
    const auto lines = Lines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Message(lines[0]), "Enter function : A");
    EXPECT_EQ(Message(lines[1]), "  Enter function : B");
    EXPECT_EQ(Message(lines[2]), "  Exit function : B");
    EXPECT_EQ(Message(lines[3]), "Exit function : A");
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("trace [", 0), 0u) << line;

    boost::log::core::get()->remove_all_sinks();
    std::filesystem::remove(LogFile());
    aio::ConfigureLogging(root.Path().string(), base::debug);
    {
        aio::FunctionTracer traced("C");
        EXPECT_EQ(aio::TraceDepth, 1);
    }
    QLOG(base::debug) << "after";
    EXPECT_EQ(ReadWholeFile(LogFile()).find("function"), std::string::npos);
}

TEST_F(LogSinkTest, SecondConfigurationAppendsToTheSameFile)
{
    aio::ConfigureLogging(root.Path().string(), base::debug);
    QLOG(base::info) << "first run";
    boost::log::core::get()->remove_all_sinks();

    aio::ConfigureLogging(root.Path().string(), base::debug);
    QLOG(base::info) << "second run";

    const auto lines = Lines(ReadWholeFile(LogFile()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[0]), "first run");
    EXPECT_EQ(Message(lines[1]), "second run");
}

TEST_F(LogSinkTest, ContinuesInTheNextFileAtTenMebibytes)
{
    aio::ConfigureLogging(root.Path().string(), base::debug);
    const std::string payload(1000, 'p');
    const int records = static_cast<int>(aio::kLogRotationSize / payload.size()) + 10;
    for (int i = 0; i < records; ++i)
        QLOG(base::debug) << payload;

    ASSERT_TRUE(std::filesystem::exists(LogFile(1)));
    EXPECT_LT(std::filesystem::file_size(LogFile(0)), aio::kLogRotationSize);
    EXPECT_GT(std::filesystem::file_size(LogFile(1)), 0u);
}

TEST_F(LogSinkTest, AnUnwritableLogFolderDropsRecordsInsteadOfThrowing)
{
    // A regular file where the log folder belongs: the sink can neither make the folder nor open a file.
    std::ofstream(root.Path() / "log") << "in the way";
    aio::ConfigureLogging(root.Path().string(), base::debug);
    EXPECT_NO_THROW({
        QLOG(base::info) << "first";
        QLOG(base::info) << "second";
    });
}

} // namespace

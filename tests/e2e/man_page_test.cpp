// quillon-service's usage and its manual page's source name the same commands and options, so
// neither can gain or lose one unnoticed.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace quillon::e2e {
namespace {

// Every option word of a text: "-a" or "--reply-timeout", "--lock-timeout", standing apart from other words (so
// "quillon-service" or "two-sided" hold none).
std::set<std::string> Options(const std::string& text)
{
    static const std::regex kOption("(^|[^A-Za-z0-9-])(--?[a-z][a-z-]*)");
    std::set<std::string> options;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), kOption); match != std::sregex_iterator(); ++match)
        options.insert((*match)[2]);
    return options;
}

// The option words of the page's entries: the lines that start with a bold option ("*--type* _MIME_").
std::set<std::string> EntryOptions(const std::string& page)
{
    std::set<std::string> options;
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("*-", 0) == 0)
            options.merge(Options(line));
    }
    return options;
}

// The first words after the program's name on the lines that start with it (after a lead).
std::set<std::string> Commands(const std::string& text, const std::regex& line)
{
    std::set<std::string> commands;
    std::istringstream lines(text);
    for (std::string one; std::getline(lines, one);) {
        std::smatch match;
        if (std::regex_search(one, match, line))
            commands.insert(match[1]);
    }
    return commands;
}

TEST(ManPage, NamesTheCommandsAndOptionsOfTheUsage)
{
    TempRoot root;
    const RunResult help = RunProgram({kService, "--help"}, root.Path());
    ASSERT_TRUE(help.ExitedWith(0)) << help.err;
    const std::string page = ReadFile(QUILLON_SOURCE_DIR "/man/quillon-service.1.scd");

    const std::set<std::string> expected
        = {"--help",          "--name",         "--option", "--parallel", "--quiet",  "--raw",
           "--reply-timeout", "--lock-timeout", "--stats",  "--switch",   "--ticket", "--timeout",
           "--tool",          "--type",         "-a",       "-b",         "-c",       "-h"};
    EXPECT_EQ(Options(help.out), expected);
    // Each option has an entry of its own on the page.
    EXPECT_EQ(EntryOptions(page), expected);

    // The usage's lines and the page's synopsis start with the program's name, then the command.
    const std::set<std::string> commands = {"batch", "caps", "print", "send", "ticket"};
    EXPECT_EQ(Commands(help.out, std::regex("^(?:usage:)? +quillon-service ([a-z]+)")), commands);
    EXPECT_EQ(Commands(page, std::regex("^\\*quillon-service\\* ([a-z]+) [_*[]")), commands);
}

} // namespace
} // namespace quillon::e2e

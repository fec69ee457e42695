// The tool binds the Print Ticket library found beside it: a copy of the tool in a folder of its own
// answers -a and -b with empty text when that library is missing or lacks one entry point.
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using testing_support::TempRoot;

struct Outcome {
    int status = -1;
    std::string reply;
};

// Runs quillon-service with a copy of the tool and returns its exit status and standard output.
Outcome RunService(const fs::path& tool, const std::string& command)
{
    const std::string line = std::string("'") + QUILLON_BIN_DIR + "/quillon-service' --quiet --tool '" + tool.string()
        + "' " + command + " 'Quillon Office'";
    Outcome outcome;
    FILE* out = popen(line.c_str(), "r");
    if (out == nullptr)
        return outcome;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0)
        outcome.reply.append(chunk, got);
    const int status = pclose(out);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

class PrintTicketBindingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.InstallSamplePrinters(QUILLON_SOURCE_DIR);
        toolFolder = root.Path() / "tool";
        fs::create_directories(toolFolder);
        for (const char* file : {"QuillonTool", "libquillon_platform.so", "libquillon_print_schema.so"})
            fs::copy_file(fs::path(QUILLON_BIN_DIR) / file, toolFolder / file);
    }

    void PutLibrary(const char* file)
    {
        fs::copy_file(fs::path(QUILLON_BIN_DIR) / file, toolFolder / "prntvpt.so",
                      fs::copy_options::overwrite_existing);
    }

    TempRoot root;
    fs::path toolFolder;
};

TEST_F(PrintTicketBindingTest, TheRealLibraryBesideTheToolAnswers)
{
    PutLibrary("prntvpt.so");
    const Outcome caps = RunService(toolFolder / "QuillonTool", "caps");
    EXPECT_EQ(caps.status, 0);
    EXPECT_NE(caps.reply.find("PrintCapabilities"), std::string::npos);
}

TEST_F(PrintTicketBindingTest, WithoutTheLibraryBothQueriesReplyEmpty)
{
    for (const char* command : {"caps", "ticket"}) {
        const Outcome outcome = RunService(toolFolder / "QuillonTool", command);
        EXPECT_EQ(outcome.status, 0) << command;
        EXPECT_EQ(outcome.reply, "") << command;
    }
}

TEST_F(PrintTicketBindingTest, ALibraryLackingOnlyMergeAndValidateIsNotUsed)
{
    PutLibrary("prntvpt_stand_in.so");
    for (const char* command : {"caps", "ticket"}) {
        const Outcome outcome = RunService(toolFolder / "QuillonTool", command);
        EXPECT_EQ(outcome.status, 0) << command;
        EXPECT_EQ(outcome.reply, "") << command;
    }
}

} // namespace

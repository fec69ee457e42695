// quillon-service toward the people and processes around it: the pipe reached by nobody but its
// tool, console lines that cannot drive a terminal, and a job's pages shown on a terminal.
#include "tests/e2e/e2e_support.h"
#include "tests/support/foreign_pipe_server.h"
#include "tests/support/pdf_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace quillon::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

void InstallSamplePrinters(const TempRoot& root)
{
    const std::filesystem::path installed = std::filesystem::path(root.Path()) / "etc/quillon/printers";
    std::filesystem::create_directories(installed);
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(QUILLON_SOURCE_DIR) / "printers"))
        if (entry.path().extension() == ".printer")
            std::filesystem::copy_file(entry.path(), installed / entry.path().filename());
}

// A PDF of `pages` Letter pages, each with one square, its cross-reference table counted out.
std::string SquaresPdf(int pages)
{
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    const std::string content = "0 0 0 rg 72 648 72 72 re f";
    for (int page = 0; page < pages; ++page) {
        const int object = 3 + 2 * page;
        kids += std::to_string(object) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(object + 1)
                          + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    return testing_support::PdfOf(objects);
}

// The control characters of console text that is not escaped: any but tab and line feed.
std::string RawControls(const std::string& text)
{
    std::string found;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
            found += c;
    return found;
}

// Started under umask 000, the service still keeps its pipe to its own user: another user's process
// cannot even connect, and a process of the same user that the service did not start is closed
// unanswered, whatever command runs.
TEST(ServicePipe, UnderUmaskZeroOnlyTheToolItStartedGetsTheRequest)
{
    const passwd* nobody = testing_support::SwitchableUser();
    if (nobody == nullptr)
        GTEST_SKIP() << "acting as another user takes the superuser";
    for (const bool sameUser : {false, true}) {
        SCOPED_TRACE(sameUser ? "a process of the same user" : "another user");
        TempRoot root;
        // Everyone may reach the pipe folder, as on a machine.
        ::chmod(root.Path().c_str(), 0755);
        WriteFile(root.Path() + "/fake-tool.intruder", "");
        if (!sameUser)
            WriteFile(root.Path() + "/fake-tool.intruder-uid", std::to_string(nobody->pw_uid));
        const mode_t umask = ::umask(0);
        RunResult result = RunProgram({kService, "send", "-a", "--tool", kFakeTool}, root.Path(), "Quillon Office");
        ::umask(umask);
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        // The fake tool echoes the request; the intruder would have answered 31337.
        EXPECT_EQ(result.out, "Quillon Office");
        EXPECT_EQ(ReadFile(root.Path() + "/fake-tool.intruder"), sameUser ? "closed\n" : "refused\n");
        if (sameUser) {
            EXPECT_THAT(result.err, HasSubstr(", which this service did not start, was closed unanswered"));
        }
        // Nothing of the socket's making is left in the pipe folder.
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(root.Path() + "/run/quillon/pipe"))
            left.push_back(entry.path().filename().string());
        EXPECT_THAT(left, ::testing::ElementsAre("QuillonPipe.lock"));
    }
}

// Names from outside reach the service's own messages as console text, in print and in a quiet
// batch alike: an escape sequence, a carriage return, a bell and a C1 control never reach the terminal raw.
TEST(ServiceConsole, TheServicesOwnMessagesAreConsoleText)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::string hostile = "\x1b]0;owned\x07\r\x1b[2J\xc2\x9b"
                                "31m";
    const std::string document = root.Path() + "/doc" + hostile + ".pdf";
    const std::string ticketFolder = root.Path() + "/ticket" + hostile;
    std::filesystem::create_directory(ticketFolder);
    WriteFile(root.Path() + "/real.pdf", SquaresPdf(1));

    const std::vector<std::vector<std::string>> commands = {
        {kService, "print", "Quillon Office", document},
        {kService, "print", "Quillon Office", root.Path() + "/real.pdf", "--ticket", ticketFolder},
        {kService, "print", "No printer" + hostile, root.Path() + "/real.pdf"},
    };
    for (const auto& command : commands) {
        RunResult result = RunProgram(command, root.Path());
        EXPECT_TRUE(result.ExitedWith(1)) << result.err;
        EXPECT_THAT(result.err, HasSubstr("\\x1B]0;owned\\x07\\x0D\\x1B[2J\\x9B31m"));
        EXPECT_EQ(RawControls(result.err), "") << result.err;
    }

    WriteFile(root.Path() + "/jobs",
              "'Quillon Office' '" + document + "'\n'Quillon Office' '" + root.Path() + "/real.pdf' --ticket '"
                  + ticketFolder + "'\n'No printer" + hostile + "' '" + root.Path() + "/real.pdf'\n");
    RunResult batch = RunProgram({kService, "batch", "--quiet", root.Path() + "/jobs"}, root.Path());
    EXPECT_TRUE(batch.ExitedWith(1)) << batch.err;
    EXPECT_THAT(batch.err, HasSubstr("is not a file that can be printed"));
    EXPECT_THAT(batch.err, HasSubstr("is not a regular file"));
    EXPECT_THAT(batch.err, HasSubstr("no default print ticket for printer"));
    EXPECT_EQ(RawControls(batch.err), "") << batch.err;
    EXPECT_EQ(RawControls(batch.out), "") << batch.out;
}

// What a program started with its standard error on a terminal writes there, and its status.
struct TerminalRun {
    int status = -1;
    std::string terminal;
    std::string out;
};

TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::string& root)
{
    TerminalRun run;
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    int out[2];
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no terminal could be made";
        return run;
    }
    // Opened here, so the terminal is there before the program runs; the program's processes then
    // hold it alone, and reading it ends once they all have ended.
    const int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const int input = ::open("/dev/null", O_RDONLY);
        if (side < 0 || input < 0 || ::dup2(side, STDERR_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0
            || ::dup2(input, STDIN_FILENO) < 0)
            _exit(127);
        ::setenv("QUILLON_ROOT", root.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& argument : argv)
            args.push_back(const_cast<char*>(argument.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    ::close(side);
    ::close(out[1]);
    pollfd waiters[2] = {{terminal, POLLIN, 0}, {out[0], POLLIN, 0}};
    char chunk[4096];
    while ((waiters[0].fd >= 0 || waiters[1].fd >= 0) && ::poll(waiters, 2, 60'000) > 0) {
        for (pollfd& waiter : waiters) {
            if (waiter.fd < 0 || waiter.revents == 0)
                continue;
            const ssize_t count = ::read(waiter.fd, chunk, sizeof chunk);
            if (count <= 0) {
                waiter.fd = -1;
                continue;
            }
            (&waiter == &waiters[0] ? run.terminal : run.out).append(chunk, static_cast<std::size_t>(count));
        }
    }
    ::waitpid(child, &run.status, 0);
    ::close(out[0]);
    ::close(terminal);
    return run;
}

// On a terminal, print shows the pages printed out of the document's as the job goes, the tool's
// own lines and the reply unchanged; with --quiet, or with standard error not a terminal, nothing of
// it is written.
TEST(ServiceProgress, AJobsPagesShowOnATerminalOnly)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::string document = root.Path() + "/twelve.pdf";
    WriteFile(document, SquaresPdf(12));

    const TerminalRun shown = RunOnTerminal({kService, "print", "Quillon Office", document}, root.Path());
    ASSERT_TRUE(WIFEXITED(shown.status) && WEXITSTATUS(shown.status) == 0) << shown.terminal;
    EXPECT_THAT(shown.out, ::testing::StartsWith("1\n"));
    EXPECT_THAT(shown.terminal, HasSubstr("quillon-service: 12 of 12 pages printed"));
    // The tool's lines arrive whole, the progress line taken off before them, and it is gone at the
    // end (the terminal ends lines with CR LF).
    EXPECT_THAT(shown.terminal, ::testing::EndsWith("\r\x1b[KSend 2 bytes to server: \"1\"\r\n"));

    const TerminalRun quiet = RunOnTerminal({kService, "print", "Quillon Office", document, "--quiet"}, root.Path());
    EXPECT_TRUE(WIFEXITED(quiet.status) && WEXITSTATUS(quiet.status) == 0) << quiet.terminal;
    EXPECT_EQ(quiet.terminal, "");
    EXPECT_EQ(quiet.out, "2\n" + root.Path() + "/var/spool/quillon/Quillon Office/2.pdf\n");

    RunResult piped = RunProgram({kService, "print", "Quillon Office", document}, root.Path());
    EXPECT_TRUE(piped.ExitedWith(0)) << piped.err;
    EXPECT_THAT(piped.err, Not(HasSubstr("pages printed")));
    EXPECT_THAT(piped.err, HasSubstr("Send 2 bytes to server: \"3\"\n"));
}

} // namespace
} // namespace quillon::e2e

// quillon-service against a stand-in tool that shows each way a tool can behave at the pipe.
#include "tests/e2e/e2e_support.h"
#include "tests/support/file_modes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace quillon::e2e {
namespace {

using ::testing::HasSubstr;

RunResult Send(const TempRoot& root, const std::string& mode, const std::string& input,
               std::vector<std::string> extra = {})
{
    std::vector<std::string> argv = {kService, "send", "--switch", mode, "--tool", kFakeTool};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram(argv, root.Path(), input);
}

// Whether a process is there and not yet ended (a zombie has ended).
bool Running(pid_t pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

bool Exists(const std::string& path)
{
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

TEST(ServiceCommandLine, UsageErrorsExitTwoWithTheUsageText)
{
    TempRoot root;
    for (std::vector<std::string> arguments : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"send"},
             {"caps"},
             {"caps", "P", "--raw"},
             {"print", "P"},
             {"send", "-a", "--option", "X"},
             {"send", "-a", "--timeout", "soon"},
             {"send", "-a", "--timeout", "0"},
             {"caps", "P", "--bogus"},
         }) {
        arguments.insert(arguments.begin(), kService);
        RunResult result = RunProgram(arguments, root.Path());
        EXPECT_TRUE(result.ExitedWith(2)) << arguments.size();
        EXPECT_THAT(result.err, HasSubstr("usage: quillon-service"));
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(Exists(root.SocketPath()));
}

TEST(ServiceExchange, AnEmptyReplyIsAReplyAndAClosedPipeIsNot)
{
    TempRoot root;
    RunResult empty = Send(root, "empty", "Printer");
    EXPECT_TRUE(empty.ExitedWith(0)) << empty.err;
    EXPECT_EQ(empty.out, "");

    RunResult closed = Send(root, "close", "Printer");
    EXPECT_TRUE(closed.ExitedWith(1));
    EXPECT_THAT(closed.err, HasSubstr("closed the pipe without a reply and exited with status 0"));
    EXPECT_FALSE(Exists(root.SocketPath()));
}

TEST(ServiceExchange, RequestsAndRepliesTravelUnchanged)
{
    TempRoot root;
    // UTF-8 in, UTF-16 on the pipe, UTF-8 out, characters beyond the BMP included.
    const std::string text = "Imprimante \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8";
    RunResult echo = Send(root, "echo", text);
    EXPECT_TRUE(echo.ExitedWith(0)) << echo.err;
    EXPECT_EQ(echo.out, text);

    // --raw sends the bytes as they are, an odd count too; the odd reply byte is reported.
    RunResult raw = Send(root, "echo", std::string("A\0B", 3), {"--raw"});
    EXPECT_TRUE(raw.ExitedWith(0)) << raw.err;
    EXPECT_EQ(raw.out, "A");
    EXPECT_THAT(raw.err, HasSubstr("odd number of bytes (3)"));

    // A message larger than a socket's default buffer.
    RunResult large = Send(root, "large", "");
    EXPECT_TRUE(large.ExitedWith(0)) << large.err;
    EXPECT_EQ(large.out.size(), 1'500'000u * 3); // each "xx" code unit U+7878 is 3 UTF-8 bytes

    RunResult invalid = Send(root, "echo", "\xFF\xFE");
    EXPECT_TRUE(invalid.ExitedWith(1));
    EXPECT_THAT(invalid.err, HasSubstr("not valid UTF-8"));
}

TEST(ServiceExchange, AToolThatFailsIsReportedAndNeverLeftRunning)
{
    TempRoot root;
    RunResult early = Send(root, "exit-early", "");
    EXPECT_TRUE(early.ExitedWith(1));
    EXPECT_THAT(early.err, HasSubstr("started with \"exit-early\", exited with status 4 without connecting"));

    RunResult crash = Send(root, "crash", "");
    EXPECT_TRUE(crash.ExitedWith(1));
    EXPECT_THAT(crash.err, HasSubstr("killed by signal 6"));

    // The reply is still shown, then the failure.
    RunResult exit3 = Send(root, "exit3-after-reply", "");
    EXPECT_TRUE(exit3.ExitedWith(1));
    EXPECT_EQ(exit3.out, "1");
    EXPECT_THAT(exit3.err, HasSubstr("exited with status 3 after its reply"));

    RunResult hang = Send(root, "hang", "", {"--reply-timeout", "0.3"});
    EXPECT_TRUE(hang.ExitedWith(1));
    EXPECT_THAT(hang.err, HasSubstr("no reply within 0.3 s; it was stopped"));

    RunResult linger = Send(root, "linger-after-reply", "", {"--timeout", "0.3"});
    EXPECT_TRUE(linger.ExitedWith(1));
    EXPECT_THAT(linger.err, HasSubstr("did not end within 0.3 s of its reply"));

    RunResult sleeper
        = RunProgram({kService, "send", "-a", "--tool", "/bin/sleep", "--timeout", "0.3", "--quiet"}, root.Path());
    EXPECT_TRUE(sleeper.ExitedWith(1));

    RunResult missing = RunProgram({kService, "send", "-a", "--tool", root.Path() + "/none"}, root.Path());
    EXPECT_TRUE(missing.ExitedWith(1));
    EXPECT_THAT(missing.err, HasSubstr("cannot start the tool"));
    EXPECT_FALSE(Exists(root.SocketPath()));
}

TEST(ServiceSocket, AStaleSocketIsReplacedButAnyOtherFileIsKept)
{
    TempRoot root;
    std::filesystem::create_directories(std::filesystem::path(root.SocketPath()).parent_path());
    int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, root.SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);

    RunResult replaced = Send(root, "echo", "x");
    EXPECT_TRUE(replaced.ExitedWith(0)) << replaced.err;
    EXPECT_FALSE(Exists(root.SocketPath()));

    WriteFile(root.SocketPath(), "keep me");
    RunResult refused = Send(root, "echo", "x");
    EXPECT_TRUE(refused.ExitedWith(1));
    EXPECT_THAT(refused.err, HasSubstr("is not a socket"));
    EXPECT_EQ(ReadFile(root.SocketPath()), "keep me");
}

TEST(ServiceSocket, WhatAServiceKilledWhileBindingLeftIsRemovedByTheNext)
{
    TempRoot root;
    const std::filesystem::path folder = std::filesystem::path(root.SocketPath()).parent_path();
    // The private folder a killed service bound its socket in, with and without the socket still
    // in it, and names of other kinds.
    std::filesystem::create_directories(folder / ".qAb12Z9");
    int bound = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (folder / ".qAb12Z9" / "p").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(bound);
    std::filesystem::create_directories(folder / ".qXXXXX1");
    std::filesystem::create_directories(folder / ".qshort");
    WriteFile((folder / ".qfile12").string(), "keep me");

    RunResult result = Send(root, "echo", "x");
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    EXPECT_FALSE(Exists((folder / ".qAb12Z9").string()));
    EXPECT_FALSE(Exists((folder / ".qXXXXX1").string()));
    EXPECT_TRUE(Exists((folder / ".qshort").string()));
    EXPECT_EQ(ReadFile((folder / ".qfile12").string()), "keep me");
}

TEST(ServiceSocket, ThePipeFolderIsOpenToLookIntoWhateverTheUmask)
{
    using testing_support::ModeOf;
    for (const mode_t mask : {00, 022}) {
        SCOPED_TRACE(mask);
        TempRoot root;
        testing_support::ScopedUmask umask(mask);
        RunResult result = Send(root, "echo", "x");
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        EXPECT_EQ(ModeOf(root.Path() + "/run"), 0755);
        EXPECT_EQ(ModeOf(root.Path() + "/run/quillon"), 0755);
        EXPECT_EQ(ModeOf(root.Path() + "/run/quillon/pipe"), 0755);
        EXPECT_EQ(ModeOf(root.SocketPath() + ".lock"), 0600);
    }
}

TEST(ServiceSocket, APipeFolderOthersCanWriteToIsClosedWhenItIsOursAndRefusedOtherwise)
{
    using testing_support::ModeOf;
    TempRoot root;
    const std::string folder = root.Path() + "/run/quillon/pipe";
    std::filesystem::create_directories(folder);
    for (const mode_t wide : {0777, 0775, 01777}) {
        ASSERT_EQ(chmod(folder.c_str(), wide), 0);
        RunResult result = Send(root, "echo", "x");
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        EXPECT_EQ(ModeOf(folder), wide & 07755) << wide;
    }

    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to give the pipe folder to the user nobody";
    ASSERT_EQ(chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    for (const mode_t mode : {0777, 0755}) {
        ASSERT_EQ(chmod(folder.c_str(), mode), 0);
        std::filesystem::remove(root.SocketPath() + ".lock");
        RunResult refused = Send(root, "echo", "x");
        EXPECT_TRUE(refused.ExitedWith(1));
        EXPECT_THAT(refused.err, HasSubstr("the pipe folder " + folder));
        EXPECT_THAT(refused.err, HasSubstr("can be written by another user; nothing is served from it"));
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(ModeOf(folder), static_cast<int>(mode)) << "somebody else's folder is left as it is";
        EXPECT_FALSE(Exists(root.SocketPath() + ".lock"));
    }
}

TEST(ServiceSocket, ServicesOnOneRootTakeTurns)
{
    TempRoot root;
    Child first({kService, "send", "--switch", "slow-echo", "--tool", kFakeTool}, root.Path(), "first");
    Child second({kService, "send", "--switch", "slow-echo", "--tool", kFakeTool}, root.Path(), "second");
    RunResult a = first.Finish();
    RunResult b = second.Finish();
    EXPECT_TRUE(a.ExitedWith(0)) << a.err;
    EXPECT_TRUE(b.ExitedWith(0)) << b.err;
    EXPECT_EQ(a.out, "first");
    EXPECT_EQ(b.out, "second");
}

// A lock on the pipe held by a process that never lets go (any user could take it while the lock
// file was open to all) no longer stops every later service: it waits its time, names the holder
// and gives up; a lock file left open to others is made private to the service's user.
TEST(ServiceSocket, ALockHeldTooLongIsReportedWithItsHolderAndTheLockFileIsPrivate)
{
    using testing_support::ModeOf;
    TempRoot root;
    const std::string lockPath = root.SocketPath() + ".lock";
    std::filesystem::create_directories(root.Path() + "/run/quillon/pipe");
    WriteFile(lockPath, "");
    ASSERT_EQ(chmod(lockPath.c_str(), 0644), 0);
    const int held = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    RunResult refused = Send(root, "echo", "x", {"--lock-timeout", "0.3"});
    EXPECT_TRUE(refused.ExitedWith(1));
    EXPECT_THAT(refused.err, HasSubstr("the pipe is in use: process " + std::to_string(getpid()) + " ("));
    EXPECT_THAT(refused.err, HasSubstr(") has held " + lockPath + " for the 0.3 s waited; nothing was done"));
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(ModeOf(lockPath), 0600);
    close(held);
    RunResult served = Send(root, "echo", "x", {"--lock-timeout", "0.3"});
    EXPECT_TRUE(served.ExitedWith(0)) << served.err;

    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to try the lock file as the user nobody";
    const pid_t other = fork();
    if (other == 0) {
        const bool dropped = setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
        _exit(dropped && open(lockPath.c_str(), O_RDONLY) < 0 && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another user could open the lock file";
}

TEST(ServiceSocket, ATerminatedServiceRemovesItsSocketAndStopsTheTool)
{
    TempRoot root;
    for (int signalNumber : {SIGTERM, SIGINT}) {
        std::string pidFile = root.Path() + "/fake-tool.pid";
        std::filesystem::remove(pidFile);
        Child service({kService, "send", "--switch", "hang", "--tool", kFakeTool}, root.Path(), "x");
        // Wait until the tool has connected: it writes its pid file then.
        while (ReadFile(pidFile).empty() && Running(service.Pid()))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(ReadFile(pidFile).empty());
        ASSERT_TRUE(Exists(root.SocketPath()));
        kill(service.Pid(), signalNumber);
        RunResult result = service.Finish();
        EXPECT_TRUE(WIFSIGNALED(result.status) && WTERMSIG(result.status) == signalNumber);
        EXPECT_FALSE(Exists(root.SocketPath()));
        // The stand-in tool got the signal too: it is ending (the service's standard error, which
        // it writes to as well, ended with it), and is gone soon after. Left running, it is killed.
        const pid_t tool = std::stoi(ReadFile(pidFile));
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Running(tool) && std::chrono::steady_clock::now() < guard)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(Running(tool));
        kill(tool, SIGKILL);
    }
}

TEST(ServicePrint, BuildsTheJobRequestAfterAskingForTheDefaultTicket)
{
    TempRoot root;
    std::string picture = root.Path() + "/photo.bin";
    WriteFile(picture, "\x89PNG\r\n\x1A\n rest");
    // The stand-in echoes: the "default ticket" is the printer name, the "job id" the request.
    RunResult result = RunProgram({kService, "print", "Office", picture, "--name", "R\xC3\xA9sum\xC3\xA9", "--option",
                                   "ShrinkToFit", "--option", "PaperSizeAuto=1", "--tool", kFakeTool},
                                  root.Path());
    // The echo's "job id" is no job id of zero, so the command succeeds.
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    // Name bytes travel one per code unit, so they come back as Latin-1 characters in UTF-8.
    EXPECT_EQ(result.out,
              "Office{00}" + picture
                  + "{11}image/png{22}Office{33}{44}R\xC3\x83\xC2\xA9sum\xC3\x83\xC2\xA9{55}"
                    "ShrinkToFit{}PaperSizeAuto=1{}\n");
}

TEST(ServicePrint, GuessesTheTypeFromTheFirstBytesAndTakesAGivenTicket)
{
    TempRoot root;
    std::string ticket = root.Path() + "/ticket.xml";
    WriteFile(ticket, "<ticket/>");
    const std::pair<std::string, std::string> kinds[] = {
        {std::string("\xFF\xD8\xFF\xE0", 4), "image/jpeg"},
        {"BM....", "image/bmp"},
        {std::string("II*\0", 4), "image/tiff"},
        {std::string("MM\0*", 4), "image/tiff"},
        {"GIF89a", "image/gif"},
        {"GIF87a", "image/gif"},
        {"%PDF-1.7", "application/pdf"},
        {"", "application/pdf"},
    };
    for (const auto& [head, type] : kinds) {
        std::string file = root.Path() + "/file";
        WriteFile(file, head);
        RunResult result
            = RunProgram({kService, "print", "P", file, "--ticket", ticket, "--tool", kFakeTool}, root.Path());
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        EXPECT_EQ(result.out, "P{00}" + file + "{11}" + type + "{22}<ticket/>{33}{44}file{55}\n");
    }
    WriteFile(root.Path() + "/file", "%PDF");
    RunResult given = RunProgram(
        {kService, "print", "P", root.Path() + "/file", "--type", "image/gif", "--ticket", ticket, "--tool", kFakeTool},
        root.Path());
    EXPECT_THAT(given.out, HasSubstr("{11}image/gif{22}"));
}

TEST(ServicePrint, RefusesWhatTheToolCouldNotReadBackIntact)
{
    TempRoot root;
    std::string file = root.Path() + "/doc.pdf";
    WriteFile(file, "%PDF");
    std::string ticket = root.Path() + "/ticket.xml";
    WriteFile(ticket, std::string("<a>\0</a>", 8));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"Drucker \xE2\x82\xAC", file}, "up to U+00FF"},
        {{"P", root.Path() + "/missing.pdf"}, "not a file that can be printed"},
        {{"P{00}", file}, "contains \"{00}\""},
        {{"P", file, "--name", "a{55}b"}, "contains \"{55}\""},
        {{"P", file, "--option", "A{}B"}, "contains \"{}\""},
        {{"P", file, "--option", ""}, "is empty"},
        {{"P", file, "--ticket", ticket}, "print ticket contains a zero byte"},
        {{"P", file, "--ticket", root.Path() + "/none.xml"}, "cannot open"},
        {{"P", file, "--name", "\xC3"}, "document name is not valid UTF-8"},
    };
    for (const auto& [arguments, message] : cases) {
        std::vector<std::string> argv = {kService, "print"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        // A tool that would fail every exchange: the fields are checked before it is started.
        argv.insert(argv.end(), {"--tool", "/bin/false"});
        RunResult result = RunProgram(argv, root.Path());
        EXPECT_TRUE(result.ExitedWith(1)) << message;
        EXPECT_THAT(result.err, HasSubstr(message));
        EXPECT_EQ(result.out, "");
    }
    std::string big = root.Path() + "/big.xml";
    WriteFile(big, std::string(70'000, 'x'));
    RunResult tooLong = RunProgram({kService, "print", "P", file, "--ticket", big, "--tool", kFakeTool}, root.Path());
    EXPECT_TRUE(tooLong.ExitedWith(1));
    EXPECT_THAT(tooLong.err, HasSubstr("the tool takes at most 65535"));
}

TEST(ServicePrint, ANoJobAnswerOrAMissingDefaultTicketIsAFailure)
{
    TempRoot root;
    std::string file = root.Path() + "/doc.pdf";
    WriteFile(file, "%PDF");
    // The real tool without printers: -b gives an empty ticket.
    RunResult real = RunProgram({kService, "print", "No Such Printer", file, "--quiet"}, root.Path());
    EXPECT_TRUE(real.ExitedWith(1));
    EXPECT_THAT(real.err, HasSubstr("no default print ticket for printer \"No Such Printer\""));
    std::string ticket = root.Path() + "/ticket.xml";
    WriteFile(ticket, "<t/>");
    RunResult zero
        = RunProgram({kService, "print", "No Such Printer", file, "--ticket", ticket, "--quiet"}, root.Path());
    EXPECT_TRUE(zero.ExitedWith(1));
    EXPECT_EQ(zero.out, "0\n");
    EXPECT_THAT(zero.err, HasSubstr("made no print job"));
}

// Jobs at once through one pipe: each tool gets its own job's request, whatever order the tools
// connect in, and a process the batch did not start is closed unanswered.
TEST(ServiceBatch, EachConnectionGetsTheRequestOfTheToolThatMadeItAndNoOtherProcessGetsOne)
{
    TempRoot root;
    // Text appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "text" + std::string.
    const auto joined = [](std::initializer_list<std::string_view> pieces) {
        std::string text;
        for (std::string_view piece : pieces)
            text.append(piece);
        return text;
    };
    std::string jobs = "# four jobs\n";
    for (int i = 0; i < 4; ++i) {
        const std::string number = std::to_string(i);
        WriteFile(joined({root.Path(), "/job", number, ".pdf"}), "%PDF-1.4\n");
        jobs += joined({"P", number, " '", root.Path(), "/job", number, ".pdf' --name 'job ", number, "'\n"});
    }
    WriteFile(root.Path() + "/jobs", jobs);
    WriteFile(root.Path() + "/fake-tool.intruder", "");
    RunResult result = RunProgram(
        {kService, "batch", "--parallel", "4", "--quiet", "--tool", kFakeTool, root.Path() + "/jobs"}, root.Path());
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    // The stand-in echoes: the -b request (the printer name) comes back as the ticket, and the -c
    // request, the whole job, as its reply.
    std::map<int, std::string> replies;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line))
        replies[std::stoi(line)] = line.substr(line.find('\t') + 1);
    ASSERT_EQ(replies.size(), 4u) << result.out;
    for (int i = 0; i < 4; ++i) {
        const std::string number = std::to_string(i);
        EXPECT_EQ(replies[i + 2],
                  joined({"P", number, "{00}", root.Path(), "/job", number, ".pdf{11}application/pdf{22}P", number,
                          "{33}{44}job ", number, "{55}\t"}))
            << i;
    }
    // Eight tools, each with its intruder: every intruder was closed unanswered.
    EXPECT_EQ(ReadFile(root.Path() + "/fake-tool.intruder"),
              "closed\nclosed\nclosed\nclosed\nclosed\nclosed\nclosed\nclosed\n");
    EXPECT_THAT(result.err, HasSubstr(", which this batch did not start, was closed unanswered"));
    EXPECT_THAT(result.err, HasSubstr("4 jobs, 4 printed, 0 failed"));
    EXPECT_FALSE(Exists(root.SocketPath()));
}

// A ticket that is not a small regular file fails its own job and no other: /dev/zero never ends,
// a FIFO without a writer never answers, and a ticket past the limit is not read.
TEST(ServiceBatch, ATicketThatIsNoSmallRegularFileFailsItsJobAlone)
{
    TempRoot root;
    const std::string document = root.Path() + "/doc.pdf";
    WriteFile(document, "%PDF-1.4\n");
    const std::string fifo = root.Path() + "/ticket.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = root.Path() + "/large.xml";
    WriteFile(large, std::string(512 * 1024 + 1, 'x'));
    const std::string small = root.Path() + "/small.xml";
    WriteFile(small, "<t/>");
    std::string jobs;
    for (const std::string& ticket : {std::string("/dev/zero"), fifo, large, small, root.Path()})
        jobs.append("P '").append(document).append("' --ticket '").append(ticket).append("'\n");
    WriteFile(root.Path() + "/jobs", jobs);
    RunResult result
        = RunProgram({kService, "batch", "--quiet", "--tool", kFakeTool, root.Path() + "/jobs"}, root.Path(), {});
    EXPECT_TRUE(result.ExitedWith(1)) << result.err;
    EXPECT_THAT(result.err, HasSubstr("line 1: the ticket /dev/zero is not a regular file"));
    EXPECT_THAT(result.err, HasSubstr("line 2: the ticket " + fifo + " is not a regular file"));
    EXPECT_THAT(result.err, HasSubstr("line 3: the ticket " + large + " is larger than 512 KiB"));
    EXPECT_THAT(result.err, HasSubstr("line 5: the ticket " + root.Path() + " is not a regular file"));
    EXPECT_THAT(result.err, HasSubstr("5 jobs, 1 printed, 4 failed"));
    EXPECT_THAT(result.out, HasSubstr("4\tP{00}" + document + "{11}application/pdf{22}<t/>{33}{44}doc.pdf{55}\t"));
}

} // namespace
} // namespace quillon::e2e

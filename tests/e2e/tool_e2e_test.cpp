// The real tool, run through quillon-service (or alone, or against the test as its pipe server),
// judged by its reply, its console output, its exit status and its log file.
#include "tests/e2e/e2e_support.h"
#include "tests/support/file_modes.h"
#include "tests/support/foreign_pipe_server.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/process_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace quillon::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::vector<std::string> kBanner = {"", "--", "-----", "Velmar Quillon Tool log"};

RunResult SendToTool(const TempRoot& root, const std::string& switchText, const std::string& input,
                     std::vector<std::string> extra = {})
{
    std::vector<std::string> argv = {kService, "send", "--switch", switchText};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProgram(argv, root.Path(), input);
}

// The messages of the only log file, which must be the day's first (counter 000).
std::vector<LogLine> OnlyLog(const TempRoot& root)
{
    std::vector<std::string> names = LogFileNames(root);
    EXPECT_EQ(names.size(), 1u);
    if (names.empty())
        return {};
    EXPECT_THAT(names[0], ::testing::MatchesRegex("QuillonTool_[0-9]{8}_000\\.log"));
    return ReadLog(root.LogFolder() + "/" + names[0]);
}

std::vector<std::string> Messages(const std::vector<LogLine>& lines)
{
    std::vector<std::string> messages;
    for (const auto& line : lines)
        messages.push_back(line.message);
    return messages;
}

TEST(ToolLog, EachSwitchWritesTheBannerThenItsDispatchLineAndNoTraceLines)
{
    const std::pair<std::string, std::string> dispatch[] = {
        {"-a", "In QuillonTool, PerformGetCapabilities"},
        {"-b", "In QuillonTool, PerformGetTicket"},
        {"-c", "In QuillonTool, PerformPrintJob"},
        {"-C", "In QuillonTool, PerformPrintJob"},
    };
    for (const auto& [switchText, line] : dispatch) {
        TempRoot root;
        RunResult result = SendToTool(root, switchText, "");
        EXPECT_TRUE(result.ExitedWith(0)) << switchText << ": " << result.err;
        std::vector<LogLine> log = OnlyLog(root);
        ASSERT_GE(log.size(), 5u) << switchText;
        std::vector<std::string> messages = Messages(log);
        EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + 4), kBanner);
        EXPECT_EQ(messages[4], line);
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ(log[i].level, "info");
        for (const auto& entry : log)
            EXPECT_NE(entry.level, "trace") << entry.message;
    }
}

TEST(ToolDispatch, AnUnknownSwitchOnlyLogsItAndTheUpperCaseCRunsAPrintJob)
{
    TempRoot root;
    RunResult direct = RunProgram({kTool, "-x"}, root.Path());
    EXPECT_TRUE(direct.ExitedWith(0));
    EXPECT_EQ(direct.out, "");
    EXPECT_EQ(direct.err, "");
    std::vector<std::string> expected = kBanner;
    expected.push_back("In QuillonTool, find invalid parameter");
    EXPECT_EQ(Messages(OnlyLog(root)), expected);

    // Through the service the tool never connects, and the service says so.
    RunResult served = SendToTool(root, "-x", "");
    EXPECT_TRUE(served.ExitedWith(1));
    EXPECT_THAT(served.err, HasSubstr("started with \"-x\", exited with status 0 without connecting to the pipe"));

    RunResult upper = SendToTool(root, "-C", "");
    EXPECT_TRUE(upper.ExitedWith(0)) << upper.err;
    EXPECT_EQ(upper.out, "0");
}

TEST(ToolPipe, WithNoPipeServerTheToolSaysSoAndExitsZero)
{
    TempRoot root;
    RunResult result = RunProgram({kTool, "-a"}, root.Path());
    EXPECT_TRUE(result.ExitedWith(0));
    EXPECT_EQ(result.out, "Unable to open named pipe w/err 0x00000002\n");
}

TEST(ToolPipe, ZeroByteRequestsGetTheirRepliesWithTheConsoleLines)
{
    TempRoot root;
    RunResult capabilities = SendToTool(root, "-a", "");
    EXPECT_TRUE(capabilities.ExitedWith(0)) << capabilities.err;
    EXPECT_EQ(capabilities.out, "");
    EXPECT_EQ(capabilities.err,
              "The named pipe (\\\\.\\pipe\\QuillonPipe) is connected.\n"
              "Receive 0 bytes from server: \"\"\n"
              "Send 0 bytes to server: \"\"\n");

    RunResult job = SendToTool(root, "-c", "");
    EXPECT_TRUE(job.ExitedWith(0)) << job.err;
    EXPECT_EQ(job.out, "0");
    EXPECT_THAT(job.err, HasSubstr("Receive 0 bytes from server: \"\"\n"));
    EXPECT_THAT(job.err, HasSubstr("Send 2 bytes to server: \"0\"\n"));
}

// The root with the repository's sample printers installed, as the demo has it.
void InstallSamplePrinters(const TempRoot& root)
{
    std::filesystem::path installed = std::filesystem::path(root.Path()) / "etc/quillon/printers";
    std::filesystem::create_directories(installed);
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(QUILLON_SOURCE_DIR) / "printers"))
        if (entry.path().extension() == ".printer")
            std::filesystem::copy_file(entry.path(), installed / entry.path().filename());
}

const std::string kConnected = "The named pipe (\\\\.\\pipe\\QuillonPipe) is connected.\n";

std::string Received(std::size_t bytes, const std::string& text)
{
    return "Receive " + std::to_string(bytes) + " bytes from server: \"" + text + "\"\n";
}

TEST(ToolPipe, ARequestLongerThanTheBufferIsItsLastChunkExactly)
{
    TempRoot root;
    // 6000 bytes through the 2048-byte buffer of -a: 2048, 2048, then 1904 bytes.
    RunResult name = SendToTool(root, "-a", std::string(1024, 'A') + std::string(1024, 'B') + std::string(952, 'C'));
    EXPECT_TRUE(name.ExitedWith(0)) << name.err;
    EXPECT_EQ(name.err,
              kConnected + Received(2048, std::string(1024, 'A')) + Received(2048, std::string(1024, 'B'))
                  + Received(1904, std::string(952, 'C')) + "Send 0 bytes to server: \"\"\n");

    // 140000 bytes through the 131072-byte buffer of -c.
    RunResult job = SendToTool(root, "-c", std::string(65536, 'J') + std::string(4464, 'K'));
    EXPECT_TRUE(job.ExitedWith(0)) << job.err;
    EXPECT_EQ(job.out, "0");
    EXPECT_EQ(job.err,
              kConnected + Received(131072, std::string(65536, 'J')) + Received(8928, std::string(4464, 'K'))
                  + "Send 2 bytes to server: \"0\"\n");
}

// Text from outside (here a file path) can neither make a log record of its own nor reach the
// operator's terminal as control characters: the log keeps one line per record and the console
// shows them escaped, tab and line feed apart.
TEST(ToolPipe, ControlCharactersFromTheRequestAreEscapedInTheLogAndOnTheConsole)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::string path = "/nowhere\r\ninfo [2026-Dec-06 20:55:24.123456] : FORGED\x1b[2J\x7f\tend";
    RunResult ticket = RunProgram({kService, "ticket", "Quillon Office"}, root.Path());
    ASSERT_TRUE(ticket.ExitedWith(0)) << ticket.err;
    const std::string request = "Quillon Office{00}" + path + "{11}application/pdf{22}" + ticket.out + "{33}{44}{55}";
    RunResult job = SendToTool(root, "-c", request);
    EXPECT_TRUE(job.ExitedWith(0)) << job.err;
    EXPECT_EQ(job.out, "-1");
    EXPECT_THAT(job.err,
                HasSubstr("Receive " + std::to_string(2 * request.size())
                          + " bytes from server: \"Quillon Office{00}/nowhere\\x0D\ninfo [2026-Dec-06 "
                            "20:55:24.123456] : FORGED\\x1B[2J\\x7F\tend{11}application/pdf{22}<"));
    EXPECT_EQ(job.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(job.err.find('\r'), std::string::npos);

    // Every line of the log is a record of its own (ReadLog checks each one's form).
    bool logged = false;
    for (const LogLine& line : OnlyLog(root)) {
        EXPECT_NE(line.message.rfind("FORGED", 0), 0u) << line.message;
        logged = logged
            || line.message.find("/nowhere\\x0D\\x0Ainfo [2026-Dec-06 20:55:24.123456] : FORGED\\x1B[2J\\x7F\\x09end")
                != std::string::npos;
    }
    EXPECT_TRUE(logged) << "no record names the path";
}

TEST(ToolPipe, TheToolActsOnTheWholeLastChunk)
{
    TempRoot root;
    InstallSamplePrinters(root);
    // The last chunk names a printer only when it is taken alone, without the tail of the first.
    RunResult result = SendToTool(root, "-a", std::string(1024, 'X') + "Quillon Office");
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    EXPECT_THAT(result.out, HasSubstr("<psf:PrintCapabilities "));
}

TEST(ToolPipe, AnOddByteCountEndsInACharacterOfItsOwn)
{
    TempRoot root;
    RunResult odd = SendToTool(root, "-a", std::string("Q\0u\0x", 5), {"--raw"});
    EXPECT_TRUE(odd.ExitedWith(0)) << odd.err;
    EXPECT_EQ(odd.err, kConnected + Received(5, "Qux") + "Send 0 bytes to server: \"\"\n");
}

TEST(ToolPipe, AJobForAPrinterOutsideLatin1StillGetsAnAnswer)
{
    TempRoot root;
    // A printer name outside ISO 8859-1 cannot survive the job request's narrowing: no job.
    RunResult cyrillic = SendToTool(
        root, "-c",
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80{00}/tmp/a.pdf{11}application/pdf{22}{33}{44}{55}");
    EXPECT_TRUE(cyrillic.ExitedWith(0)) << cyrillic.err;
    EXPECT_EQ(cyrillic.out, "0");
}

TEST(ToolLog, AnUnwritableLogFolderDoesNotStopTheReply)
{
    TempRoot root;
    // As root, permission bits do not stop writes: a plain file where the folder belongs does.
    WriteFile(root.LogFolder(), "not a folder");
    RunResult result = SendToTool(root, "-c", "");
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    EXPECT_EQ(result.out, "0");
    EXPECT_EQ(ReadFile(root.LogFolder()), "not a folder");
}

TEST(ToolLog, LandsInTheDataFolderWhateverCharactersTheRootHas)
{
    // Latin-1 text travels narrowed; text beyond it must not be cut to some other folder.
    for (const std::string machine : {"caf\xC3\xA9", "\xE6\x89\x93\xE5\x8D\xB0root", "\xF0\x9F\x96\xA8"}) {
        SCOPED_TRACE(machine);
        TempRoot root;
        const std::string machineRoot = root.Path() + "/" + machine;
        std::filesystem::create_directory(machineRoot);
        EXPECT_TRUE(RunProgram({kTool, "-x"}, machineRoot).ExitedWith(0));

        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root.Path()))
            if (entry.is_regular_file())
                found.push_back(entry.path().lexically_relative(root.Path()).parent_path().string());
        EXPECT_EQ(found, std::vector<std::string>{machine + "/var/lib/Marlowin/log"});
    }
}

TEST(ToolLog, TwoRunsOnOneDayAppendToTheSameFile)
{
    TempRoot root;
    EXPECT_TRUE(RunProgram({kTool, "-x"}, root.Path()).ExitedWith(0));
    EXPECT_TRUE(RunProgram({kTool}, root.Path()).ExitedWith(0));
    std::vector<std::string> expected = kBanner;
    expected.push_back("In QuillonTool, find invalid parameter");
    expected.insert(expected.end(), kBanner.begin(), kBanner.end());
    EXPECT_EQ(Messages(OnlyLog(root)), expected);
}

TEST(ToolPrinters, CapabilitiesAndTicketDocumentsArriveWhole)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::pair<std::string, std::string> queries[]
        = {{"caps", "<psf:PrintCapabilities "}, {"ticket", "<psf:PrintTicket "}};
    for (const auto& [command, element] : queries) {
        RunResult result = RunProgram({kService, command, "Quillon Office"}, root.Path());
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        EXPECT_THAT(result.out, ::testing::StartsWith("<?xml"));
        EXPECT_THAT(result.out, HasSubstr(element));
        // Each document byte went as one UTF-16 code unit: two bytes on the pipe.
        EXPECT_THAT(result.err, HasSubstr("Send " + std::to_string(2 * result.out.size()) + " bytes to server"));
    }
}

TEST(ToolPrinters, PrintingAsksForTheDefaultTicketThenSendsTheJob)
{
    TempRoot root;
    InstallSamplePrinters(root);
    std::string document = root.Path() + "/page.pdf";
    WriteFile(document, "%PDF-1.4\n");
    RunResult result = RunProgram({kService, "print", "Quillon Office", document}, root.Path());
    // A PDF header alone is no document: the job started, printed nothing and failed, which the
    // service reports as a failure.
    EXPECT_EQ(result.out, "-1\n");
    EXPECT_TRUE(result.ExitedWith(1));
    EXPECT_THAT(result.err, HasSubstr("the print job failed with job id -1"));
    std::vector<std::string> dispatched;
    for (const auto& line : OnlyLog(root))
        if (line.message.rfind("In QuillonTool, ", 0) == 0)
            dispatched.push_back(line.message);
    EXPECT_THAT(dispatched, ElementsAre("In QuillonTool, PerformGetTicket", "In QuillonTool, PerformPrintJob"));
    // The request carried the ticket the first run gave.
    EXPECT_THAT(result.err, HasSubstr("Receive "));
    EXPECT_THAT(result.err, HasSubstr("{00}" + document + "{11}application/pdf{22}<?xml"));
}

// A picture of one white pixel.
const unsigned char kOnePixelPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00,
    0x0C, 0x49, 0x44, 0x41, 0x54, 0x08, 0xD7, 0x63, 0xF8, 0xFF, 0xFF, 0x3F, 0x00, 0x05, 0xFE, 0x02, 0xFE, 0xDC,
    0xCC, 0x59, 0xE7, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82,
};

// A one-page Letter PDF with one filled square, its cross-reference table counted out.
std::string OneSquarePdf()
{
    const std::string content = "0 0 0 rg 72 648 72 72 re f";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    return testing_support::PdfOf(objects);
}

// The file names of the shared objects the processes of one service exchange loaded, by the
// dynamic loader's own account (LD_DEBUG=files, one file per process).
std::set<std::string> LoadedLibraries(const TempRoot& root, const std::vector<std::string>& argv)
{
    const std::filesystem::path folder = std::filesystem::path(root.Path()) / "loader";
    std::filesystem::create_directories(folder);
    std::vector<std::string> traced
        = {"/usr/bin/env", "LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + (folder / "trace").string()};
    traced.insert(traced.end(), argv.begin(), argv.end());
    RunResult result = RunProgram(traced, root.Path());
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    std::set<std::string> loaded;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream trace(entry.path());
        for (std::string line; std::getline(trace, line);) {
            const std::size_t at = line.find("file=");
            if (at == std::string::npos)
                continue;
            const std::string path = line.substr(at + 5, line.find_first_of(" ;", at) - at - 5);
            loaded.insert(std::filesystem::path(path).filename().string());
        }
        std::filesystem::remove(entry.path());
    }
    return loaded;
}

// The libraries of `loaded` whose names start with one of `prefixes`.
std::vector<std::string> Among(const std::set<std::string>& loaded, std::initializer_list<std::string_view> prefixes)
{
    std::vector<std::string> found;
    for (const std::string& name : loaded)
        for (const std::string_view prefix : prefixes)
            if (name.rfind(prefix, 0) == 0)
                found.push_back(name);
    return found;
}

// A process pays only for the libraries its operation uses: a capabilities query on a virtual
// printer loads neither CUPS nor a drawing library; a picture job loads the drawing libraries,
// still not CUPS.
TEST(ToolPrinters, AQueryOnAVirtualPrinterLoadsNeitherCupsNorADrawingLibrary)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::initializer_list<std::string_view> cups = {"libquillon_cups.so", "libcups.so"};
    const std::initializer_list<std::string_view> drawing
        = {"libquillon_gdi.so", "libcairo.so", "libgdk_pixbuf", "libfreetype.so", "libpoppler", "pdf.so"};

    const std::set<std::string> query = LoadedLibraries(root, {kService, "caps", "Quillon Office", "--quiet"});
    EXPECT_THAT(query, ::testing::Contains("prntvpt.so"));
    EXPECT_THAT(Among(query, cups), ElementsAre());
    EXPECT_THAT(Among(query, drawing), ElementsAre());

    const std::string picture = root.Path() + "/pixel.png";
    WriteFile(picture, std::string(std::begin(kOnePixelPng), std::end(kOnePixelPng)));
    const std::set<std::string> job = LoadedLibraries(root, {kService, "print", "Quillon Office", picture, "--quiet"});
    EXPECT_THAT(Among(job, cups), ElementsAre());
    EXPECT_THAT(Among(job, {"libquillon_gdi.so", "libcairo.so"}), ElementsAre("libcairo.so.2", "libquillon_gdi.so"));
}

// Start-up pays only for what runs: the Print Ticket API is bound at every start, but the provider
// and its XML library (libxml2, ICU) are loaded by the first query alone.
TEST(ToolPrinters, TheXmlLibraryIsLoadedByTheFirstQueryOnly)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::initializer_list<std::string_view> xml = {"libquillon_print_schema.so", "libxml2.so", "libicu"};
    const std::set<std::string> bare = LoadedLibraries(root, {kTool, "-z"});
    EXPECT_THAT(bare, ::testing::Contains("prntvpt.so"));
    EXPECT_THAT(Among(bare, xml), ElementsAre());
    const std::set<std::string> query = LoadedLibraries(root, {kService, "caps", "Quillon Office", "--quiet"});
    EXPECT_THAT(Among(query, xml), ::testing::IsSupersetOf({"libquillon_print_schema.so", "libxml2.so.2"}));
}

// An installation that lost its drawing library still answers queries, and a picture job fails
// with a reply that says so, the missing library named on standard error, nothing left behind.
TEST(ToolFiles, WithoutTheDrawingLibraryQueriesStillAnswerAndAJobFails)
{
    TempRoot root;
    InstallSamplePrinters(root);
    const std::filesystem::path tool = std::filesystem::path(root.Path()) / "tool";
    std::filesystem::create_directories(tool);
    for (const char* file : {"QuillonTool", "libquillon_platform.so", "prntvpt.so", "libquillon_print_schema.so"})
        std::filesystem::copy_file(std::filesystem::path(kBinDir) / file, tool / file);
    const std::string picture = root.Path() + "/pixel.png";
    WriteFile(picture, std::string(std::begin(kOnePixelPng), std::end(kOnePixelPng)));

    RunResult caps
        = RunProgram({kService, "caps", "Quillon Office", "--tool", (tool / "QuillonTool").string()}, root.Path());
    EXPECT_TRUE(caps.ExitedWith(0)) << caps.err;
    EXPECT_THAT(caps.out, HasSubstr("<psf:PrintCapabilities "));

    RunResult job = RunProgram(
        {kService, "print", "Quillon Office", picture, "--tool", (tool / "QuillonTool").string()}, root.Path());
    EXPECT_TRUE(job.ExitedWith(1));
    EXPECT_EQ(job.out, "0\n"); // no job
    EXPECT_THAT(job.err,
                HasSubstr("the platform library " + (tool / "libquillon_gdi.so").string() + " cannot be loaded"));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root.Path() + "/var"))
        EXPECT_TRUE(entry.is_directory() || entry.path().extension() == ".log") << entry.path();
}

TEST(ToolFiles, EverythingLeftBehindIsClosedToOtherUsersWhateverTheUmask)
{
    for (const mode_t mask : {00, 022}) {
        SCOPED_TRACE(mask);
        TempRoot root;
        InstallSamplePrinters(root);
        const std::string documents = root.Path() + "/documents";
        std::filesystem::create_directory(documents);
        WriteFile(documents + "/page.pdf", OneSquarePdf());
        WriteFile(documents + "/pixel.png",
                  std::string_view(reinterpret_cast<const char*>(kOnePixelPng), sizeof kOnePixelPng));
        {
            testing_support::ScopedUmask umask(mask);
            RunProgram({kService, "caps", "Quillon Office"}, root.Path());
            RunProgram({kService, "print", "Quillon Office", documents + "/page.pdf"}, root.Path());
            RunProgram({kService, "print", "Quillon Photo", documents + "/pixel.png"}, root.Path());
        }

        // The machine's folders are open to look into; the tool's data folder is its owner's alone;
        // the log may be read by the owner's group (administrators reading logs), never by others.
        const std::map<std::string, int> exact = {
            {"var", 0755},
            {"var/lib", 0755},
            {"var/lib/Marlowin", 0700},
            {"var/lib/Marlowin/log", 0750},
            {"run", 0755},
            {"run/quillon", 0755},
            {"run/quillon/pipe", 0755},
            {"run/quillon/pipe/QuillonPipe.lock", 0600},
            {"var/spool", 0755},
            {"var/spool/quillon", 0755},
        };
        std::size_t logs = 0;
        std::size_t jobFiles = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root.Path())) {
            const std::string name = entry.path().lexically_relative(root.Path()).string();
            if (name.rfind("etc", 0) == 0 || name.rfind("documents", 0) == 0)
                continue; // the test's own
            const int mode = testing_support::ModeOf(entry.path());
            SCOPED_TRACE(name);
            if (const auto known = exact.find(name); known != exact.end()) {
                EXPECT_EQ(mode, known->second);
            } else if (name.rfind("var/spool/quillon/", 0) == 0) {
                // The printers' spool folders and the jobs in them are the printing user's alone.
                EXPECT_EQ(mode, entry.is_directory() ? 0700 : 0600);
                jobFiles += entry.path().extension() == ".pdf" ? 1 : 0;
            } else if (name.rfind("var/lib/Marlowin/log/", 0) == 0) {
                EXPECT_EQ(mode, 0640);
                ++logs;
            } else if (entry.is_directory()) {
                // Whatever other folder a job makes: nobody but its owner may put anything in it.
                EXPECT_EQ(mode & 022, 0);
            } else {
                // Whatever other file a job leaves: nothing for other users, nothing the group may change.
                EXPECT_EQ(mode & 027, 0);
            }
        }
        EXPECT_EQ(logs, 1u);
        EXPECT_EQ(jobFiles, 2u); // the document's job and the picture's
    }
}

// Folders another user owns are not trusted with what a job run by the superuser writes: that user
// swaps every page file the tool makes for a link to a file only the superuser may write, and would
// win the race. The data folder, and with it the log, and a printer's spool folder are refused,
// said once each on standard error, and nothing is written in them or through their links.
TEST(ToolFiles, FoldersOfAnotherUserAreRefusedAndNothingIsWrittenThroughTheirLinks)
{
    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to give folders to the user nobody";
    TempRoot root;
    InstallSamplePrinters(root);
    ASSERT_EQ(chmod(root.Path().c_str(), 0755), 0); // the other user may reach the folders below
    const std::string document = root.Path() + "/page.pdf";
    WriteFile(document, OneSquarePdf());
    const std::string secret = root.Path() + "/secret";
    WriteFile(secret, "the superuser's own");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string data = root.Path() + "/var/lib/Marlowin";
    std::filesystem::create_directories(data);
    ASSERT_EQ(chown(data.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const std::string owner = "user " + std::to_string(nobody->pw_uid) + " (nobody)";

    const pid_t racer = fork();
    if (racer == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(1);
        for (;;) {
            std::error_code failure;
            for (const auto& entry : std::filesystem::directory_iterator(data, failure)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("ZVPrintFile", 0) == 0 && !entry.is_symlink() && unlink(entry.path().c_str()) == 0)
                    [[maybe_unused]]
                    const int linked = symlink(secret.c_str(), entry.path().c_str());
            }
        }
    }
    RunResult refused = RunProgram({kService, "print", "Quillon Office", document}, root.Path());
    kill(racer, SIGKILL);
    waitpid(racer, nullptr, 0);
    EXPECT_TRUE(refused.ExitedWith(1)) << refused.out;
    EXPECT_EQ(refused.out, "-1\n");
    const std::string dataRefused = "quillon: the folder " + data + " belongs to " + owner
        + ", neither this process's user nor the superuser; nothing is written there\n";
    EXPECT_THAT(refused.err, HasSubstr(dataRefused));
    EXPECT_EQ(ReadFile(secret), "the superuser's own");
    EXPECT_TRUE(std::filesystem::is_empty(data)) << "no page file, no log folder";

    // The data folder given back; now a printer's spool folder of the other user.
    ASSERT_EQ(chown(data.c_str(), 0, 0), 0);
    const std::string spool = root.Path() + "/var/spool/quillon/Quillon Office";
    std::filesystem::remove_all(spool); // the refused job had started there
    std::filesystem::create_directories(spool);
    ASSERT_EQ(chmod(spool.c_str(), 0777), 0);
    ASSERT_EQ(chown(spool.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    RunResult noJob = RunProgram({kService, "print", "Quillon Office", document}, root.Path());
    EXPECT_TRUE(noJob.ExitedWith(1));
    EXPECT_EQ(noJob.out, "-1\n");
    EXPECT_THAT(noJob.err,
                HasSubstr("quillon: no job could be started on printer \"Quillon Office\": the folder " + spool
                          + " belongs to " + owner));
    EXPECT_TRUE(std::filesystem::is_empty(spool));
    EXPECT_EQ(testing_support::ModeOf(spool), 0777) << "another user's folder is left as it is";
    EXPECT_EQ(LogFileNames(root).size(), 1u) << "the log is written again in the trusted data folder";
}

// A stand-in service of another user: the tool must not even read its request.
TEST(ToolPipe, APipeServedByAnotherUserIsTreatedAsOneThatCannotBeOpened)
{
    const passwd* nobody = testing_support::SwitchableUser();
    if (nobody == nullptr)
        GTEST_SKIP() << "needs the superuser to serve the pipe as the user nobody";
    TempRoot root;
    InstallSamplePrinters(root);
    std::filesystem::create_directories(std::filesystem::path(root.SocketPath()).parent_path());
    testing_support::ForeignPipeServer server(root.SocketPath(), *nobody, Utf16Bytes(u"Quillon Office"));

    RunResult result = RunProgram({kTool, "-a"}, root.Path());
    EXPECT_TRUE(result.ExitedWith(0));
    EXPECT_EQ(result.out, "Unable to open named pipe w/err 0x00000005\n");
    EXPECT_TRUE(server.EndedWithoutReply()) << "the service got a reply";
}

// The test as the pipe server, with its one queue place taken so the tool finds the pipe busy.
TEST(ToolPipe, ABusyPipeMakesTheToolWaitUntilThereIsRoom)
{
    TempRoot root;
    std::filesystem::create_directories(std::filesystem::path(root.SocketPath()).parent_path());
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, root.SocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    int queued = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    Child tool({kTool, "-a"}, root.Path());
    // The queue is freed only once the tool is blocked waiting for room in it.
    ASSERT_TRUE(testing_support::WaitUntilBlockedIn(tool.Pid(), SYS_connect)) << "the tool ended before it waited";
    pollfd early{listener, POLLIN, 0};
    ASSERT_EQ(poll(&early, 1, 0), 1); // only the queued connection
    int first = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(first, 0);
    close(first);
    close(queued);

    // Now the tool gets in.
    pollfd waiter{listener, POLLIN, 0};
    ASSERT_EQ(poll(&waiter, 1, 10'000), 1) << "the tool did not connect after the pipe was freed";
    int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(connection, 0);
    setsockopt(connection, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    std::string request = Utf16Bytes(u"Busy");
    ASSERT_EQ(send(connection, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    pollfd reply{connection, POLLIN, 0};
    ASSERT_EQ(poll(&reply, 1, 10'000), 1);
    char buffer[16];
    EXPECT_EQ(recv(connection, buffer, sizeof buffer, 0), 0); // the empty reply of an unknown printer
    close(connection);
    close(listener);

    RunResult result = tool.Finish();
    EXPECT_TRUE(result.ExitedWith(0));
    EXPECT_EQ(result.out,
              "The named pipe (\\\\.\\pipe\\QuillonPipe) is connected.\n"
              "Receive 8 bytes from server: \"Busy\"\n"
              "Send 0 bytes to server: \"\"\n");
}

} // namespace
} // namespace quillon::e2e

// quillon-service: the print service's side of the tool's named pipe, for people and for tests.
// It makes the pipe, starts the tool with one switch, sends one request and prints the reply.
#include "platform/kernel/host.h"
#include "service/batch.h"
#include "service/console_text.h"
#include "service/exchange.h"
#include "service/job_request.h"
#include "service/print_job.h"
#include "service/signal_cleanup.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace quillon::service;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The most request bytes read from standard input: past the largest message the pipe can carry.
constexpr std::size_t kMaxStdinBytes = 16 * 1024 * 1024;
// Timeouts beyond a day are surely a slip of the finger.
constexpr double kMaxTimeoutSeconds = 86400;

constexpr const char* kUsage
    = "usage: quillon-service caps PRINTER\n"
      "       quillon-service ticket PRINTER\n"
      "       quillon-service print PRINTER FILE [--type MIME] [--ticket FILE] [--name NAME] [--option OPT]...\n"
      "       quillon-service send -a|-b|-c|--switch TEXT [--raw]\n"
      "       quillon-service batch [--parallel N] [--stats FILE] JOBS_FILE\n"
      "       quillon-service -h|--help\n"
      "common options: [--tool PATH] [--timeout SECONDS] [--reply-timeout SECONDS] [--lock-timeout SECONDS]\n"
      "                [--quiet]\n"
      "\n"
      "Makes the pipe \\\\.\\pipe\\QuillonPipe under QUILLON_ROOT (or /), starts the tool with one switch,\n"
      "sends one request and prints the reply on standard output; the tool's console output goes to\n"
      "standard error (nowhere with --quiet).\n"
      "  caps, ticket  the printer's capabilities (-a) or default ticket (-b), as document bytes\n"
      "  print         prints FILE (-c) and prints the job id, then the path of the job's PDF when the\n"
      "                printer is a virtual one; without --ticket the printer's default\n"
      "                ticket is asked for first; --type defaults to a guess from the file's first bytes,\n"
      "                --name to the file's name\n"
      "  send          sends standard input exactly as given (UTF-8, sent as UTF-16; with --raw the bytes\n"
      "                unchanged) and prints the reply as UTF-8\n"
      "  batch         prints every job of JOBS_FILE, one per line as the operands and options of print\n"
      "                (quoted as in a shell; blank lines and lines starting with # hold none), up to N\n"
      "                at once (default 1, at most 64) through the one pipe; prints \"LINE<tab>REPLY<tab>PDF\"\n"
      "                as each job ends, and the tools' console output, each job's at its end, on\n"
      "                standard error; --stats appends one line of figures per job to FILE\n"
      "  --tool        the tool to start (default: QuillonTool beside this program)\n"
      "  --timeout     seconds for the tool to connect and to end after replying (default 10)\n"
      "  --reply-timeout  seconds for the tool to reply (default 300)\n"
      "  --lock-timeout   seconds to wait while another service holds the pipe (default 600)\n"
      "exit status: 0 a reply arrived (for print: a job was printed; for batch: every job was), 1 the exchange\n"
      "or a job failed, "
      "2 usage error\n";

struct CommandLine {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> switchText;
    std::optional<std::string> type;
    std::optional<std::string> ticketFile;
    std::optional<std::string> name;
    std::vector<std::string> options;
    bool raw = false;
    int parallel = 1;
    std::optional<std::string> statsFile;
    ExchangeSettings settings;
};

int UsageError(const std::string& message)
{
    SayOnConsole(message);
    std::cerr << kUsage;
    return kExitUsage;
}

int Failure(const std::string& message)
{
    SayOnConsole(message);
    return kExitFailed;
}

bool ParseSeconds(const std::string& text, std::chrono::milliseconds& out)
{
    double seconds = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (failure != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) || seconds <= 0
        || seconds > kMaxTimeoutSeconds) {
        return false;
    }
    out = std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
    return true;
}

// Reads the command line; returns false with a message for anything it does not understand.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = argument + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (argument == "--tool") {
            if (!value(line.settings.toolPath))
                return false;
        } else if (argument == "--timeout" || argument == "--reply-timeout" || argument == "--lock-timeout") {
            if (!value(text))
                return false;
            auto& target = argument == "--timeout" ? line.settings.connectTimeout
                : argument == "--reply-timeout"    ? line.settings.replyTimeout
                                                   : line.settings.lockTimeout;
            if (!ParseSeconds(text, target)) {
                error = argument + " takes a number of seconds above 0, not \"" + text + "\"";
                return false;
            }
        } else if (argument == "--quiet") {
            line.settings.quiet = true;
        } else if (argument == "--raw") {
            line.raw = true;
        } else if (argument == "--switch") {
            if (!value(text))
                return false;
            line.switchText = text;
        } else if (argument == "-a" || argument == "-b" || argument == "-c") {
            line.switchText = argument;
        } else if (argument == "--type") {
            if (!value(text))
                return false;
            line.type = text;
        } else if (argument == "--ticket") {
            if (!value(text))
                return false;
            line.ticketFile = text;
        } else if (argument == "--name") {
            if (!value(text))
                return false;
            line.name = text;
        } else if (argument == "--option") {
            if (!value(text))
                return false;
            line.options.push_back(text);
        } else if (argument == "--parallel") {
            if (!value(text))
                return false;
            auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), line.parallel);
            if (failure != std::errc() || end != text.data() + text.size() || line.parallel < 1
                || line.parallel > kMaxParallelJobs) {
                error = "--parallel takes a number from 1 to " + std::to_string(kMaxParallelJobs) + ", not \"" + text
                    + "\"";
                return false;
            }
        } else if (argument == "--stats") {
            if (!value(text))
                return false;
            line.statsFile = text;
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "unknown option " + argument;
            return false;
        } else if (line.command.empty()) {
            line.command = argument;
        } else {
            line.operands.push_back(argument);
        }
    }

    const bool isSend = line.command == "send";
    const bool isPrint = line.command == "print";
    const bool isBatch = line.command == "batch";
    const bool hasBatchOptions = line.parallel != 1 || line.statsFile.has_value();
    if (line.command.empty()) {
        error = "no command given";
    } else if (!isSend && !isPrint && !isBatch && line.command != "caps" && line.command != "ticket") {
        error = "unknown command " + line.command;
    } else if (hasBatchOptions && !isBatch) {
        error = "--parallel and --stats belong to batch";
    } else if (line.operands.size() != (isSend ? 0u : isPrint ? 2u : 1u)) {
        error = "wrong number of arguments for " + line.command;
    } else if (isSend != line.switchText.has_value() || (line.raw && !isSend)) {
        error = isSend ? "send needs -a, -b, -c or --switch TEXT" : "-a, -b, -c, --switch and --raw belong to send";
    } else if (!isPrint && (line.type || line.ticketFile || line.name || !line.options.empty())) {
        error = "--type, --ticket, --name and --option belong to print";
    }
    return error.empty();
}

bool ReadStandardInput(std::string& bytes, std::string& error)
{
    char chunk[65536];
    for (;;) {
        ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = std::string("cannot read standard input: ") + std::strerror(errno);
            return false;
        }
        if (count == 0)
            return true;
        if (bytes.size() + static_cast<std::size_t>(count) > kMaxStdinBytes) {
            error = "the request on standard input is larger than " + std::to_string(kMaxStdinBytes) + " bytes";
            return false;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
}

bool WriteStandardOutput(std::string_view bytes)
{
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
}

// Runs one exchange; on success leaves the reply's code units in reply. Reports failures itself.
bool Exchange(const ExchangeSettings& settings, const std::string& switchText, std::string_view message,
              std::u16string& reply)
{
    auto result = RunExchange(settings, switchText, message);
    if (result.replied) {
        if (result.reply.size() % 2 != 0)
            SayOnConsole("the reply has an odd number of bytes (" + std::to_string(result.reply.size())
                         + "); its last byte is not part of any character");
        reply = DecodeMessage(result.reply);
    }
    if (!result.error.empty()) {
        // A reply that did arrive is still shown, so nothing the tool said is lost.
        if (result.replied)
            WriteStandardOutput(platform::Utf16ToUtf8(reply));
        SayOnConsole(result.error);
        return false;
    }
    return true;
}

bool ToUtf16(std::string_view what, const std::string& text, std::u16string& out, std::string& error)
{
    if (!platform::Utf8ToUtf16(text, out)) {
        error = std::string(what) + " is not valid UTF-8";
        return false;
    }
    return true;
}

// caps / ticket: the document bytes of the reply.
int RunDocumentQuery(const CommandLine& line, const std::string& switchText)
{
    std::u16string printer;
    std::string error;
    if (!ToUtf16("the printer name", line.operands[0], printer, error))
        return Failure(error);
    if (printer.size() > kMaxPrinterRequestUnits)
        return Failure("the printer name is longer than the tool takes (" + std::to_string(kMaxPrinterRequestUnits)
                       + " UTF-16 code units)");
    std::u16string reply;
    if (!Exchange(line.settings, switchText, EncodeMessage(printer), reply))
        return kExitFailed;
    if (reply.empty())
        SayOnConsole("the tool sent an empty reply (no document for printer \"" + line.operands[0] + "\")");
    return WriteStandardOutput(LowBytes(reply)) ? 0 : Failure("cannot write the reply to standard output");
}

int RunPrint(const CommandLine& line)
{
    const std::string& printerName = line.operands[0];
    JobOrder order{printerName, line.operands[1], line.type, line.ticketFile, line.name, line.options};
    PrintJob job;
    std::string error;
    // Every field but the ticket is checked before the tool is started at all.
    if (!PreparePrintJob(order, job, error))
        return Failure(error);
    if (line.ticketFile) {
        if (!ReadTicketFile(*line.ticketFile, job.ticket, error))
            return Failure(error);
    } else {
        // As a real service does: ask the tool for the printer's default ticket first.
        if (job.printer.size() > kMaxPrinterRequestUnits)
            return Failure("the printer name is longer than the tool takes");
        std::u16string ticket;
        if (!Exchange(line.settings, "-b", EncodeMessage(job.printer), ticket))
            return kExitFailed;
        if (ticket.empty())
            return Failure("the tool has no default print ticket for printer \"" + printerName
                           + "\"; nothing was printed");
        job.ticket = LowBytes(ticket);
    }

    std::u16string request;
    if (!BuildJobRequest(job, request, error))
        return Failure(error);
    // A person at a terminal sees the pages go by; a program reading standard error gets the
    // tool's lines alone.
    ExchangeSettings settings = line.settings;
    if (isatty(STDERR_FILENO))
        settings.progressLog = ToolDataFolder() + "/log";
    std::u16string reply;
    if (!Exchange(settings, "-c", EncodeMessage(request), reply)) {
        SweepJobLeftovers(job.printer);
        return kExitFailed;
    }
    const std::string jobId = platform::Utf16ToUtf8(reply);
    if (!WriteStandardOutput(jobId + "\n"))
        return Failure("cannot write the job id to standard output");
    // The tool answers 0 when no job was made, and a negative number when a job failed.
    if (jobId == "0")
        return Failure("the tool made no print job (see its log for why)");
    if (jobId.empty() || jobId[0] == '-')
        return Failure("the print job failed with job id " + jobId + " (see the tool's log for why)");
    // A virtual printer's job is a PDF in its spool folder; a printer of another kind has no such file.
    const SpooledJob spooled = FindSpooledJob(job.printer, jobId);
    if (spooled.virtualPrinter && !spooled.complete)
        return Failure(ThrownAwayMessage(printerName, jobId));
    if (!spooled.document.empty() && !WriteStandardOutput(spooled.document + "\n"))
        return Failure("cannot write the job's path to standard output");
    return 0;
}

// The number of descriptors this process has open.
long OpenDescriptors()
{
    long count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(folder))
            count += entry->d_name[0] != '.' ? 1 : 0;
        closedir(folder);
        --count; // the listing's own
    }
    return count;
}

// This process's resident size in KiB.
long ResidentKib()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The bytes of the regular files below a folder, and those below its subfolder named `apart`
// counted on their own.
void FolderBytes(const std::string& folder, const std::string& apart, long long& bytes, long long& apartBytes)
{
    std::error_code failure;
    for (auto entry = std::filesystem::recursive_directory_iterator(folder, failure);
         !failure && entry != std::filesystem::recursive_directory_iterator(); entry.increment(failure)) {
        std::error_code sizeFailure;
        if (!entry->is_regular_file(sizeFailure))
            continue;
        const auto size = static_cast<long long>(entry->file_size(sizeFailure));
        const bool isApart = entry->path().string().rfind(folder + "/" + apart + "/", 0) == 0;
        (isApart ? apartBytes : bytes) += sizeFailure ? 0 : size;
    }
}

int RunBatchCommand(const CommandLine& line)
{
    std::vector<BatchJob> jobs;
    std::string error;
    if (!ReadJobsFile(line.operands[0], jobs, error))
        return Failure(error);
    // Opened close-on-exec: the tools the batch starts are not handed the file.
    std::unique_ptr<FILE, int (*)(FILE*)> stats(nullptr, &std::fclose);
    if (line.statsFile) {
        stats.reset(std::fopen(line.statsFile->c_str(), "ae"));
        if (!stats)
            return Failure("cannot open " + *line.statsFile + ": " + std::strerror(errno));
        std::fputs(
            "line\tstarted_s\tseconds\tprinted\ttool_peak_kib\tservice_fds\tservice_rss_kib\tdata_bytes\tlog_bytes\n",
            stats.get());
    }
    const std::string dataFolder = ToolDataFolder();

    std::size_t printed = 0;
    long peakKib = 0;
    const auto start = std::chrono::steady_clock::now();
    auto done = [&](const JobOutcome& outcome) {
        const std::string label = "[line " + std::to_string(outcome.line) + "] ";
        if (!line.settings.quiet && !outcome.console.empty()) {
            std::string console;
            for (std::size_t at = 0; at < outcome.console.size();) {
                const std::size_t end = std::min(outcome.console.find('\n', at), outcome.console.size());
                console += label + ConsoleText(outcome.console.substr(at, end - at)) + "\n";
                at = end + 1;
            }
            std::cerr << console;
        }
        if (!outcome.Printed())
            SayOnConsole("line " + std::to_string(outcome.line) + ": " + outcome.error);
        std::cout << outcome.line << '\t' << (outcome.replied ? ConsoleText(outcome.reply) : "none") << '\t'
                  << ConsoleText(outcome.document) << std::endl;
        printed += outcome.Printed() ? 1 : 0;
        peakKib = std::max(peakKib, outcome.toolPeakKib);
        if (stats) {
            long long dataBytes = 0;
            long long logBytes = 0;
            FolderBytes(dataFolder, "log", dataBytes, logBytes);
            std::fprintf(stats.get(), "%d\t%.6f\t%.6f\t%d\t%ld\t%ld\t%ld\t%lld\t%lld\n", outcome.line,
                         outcome.started.count(), outcome.took.count(), outcome.Printed() ? 1 : 0, outcome.toolPeakKib,
                         OpenDescriptors(), ResidentKib(), dataBytes, logBytes);
            std::fflush(stats.get());
        }
    };
    BatchSettings settings{line.settings, line.parallel};
    if (!RunBatch(settings, jobs, done, error))
        return Failure(error);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cerr << "quillon-service: " << jobs.size() << " jobs, " << printed << " printed, " << jobs.size() - printed
              << " failed, in " << took.count() << " s, " << line.parallel << " at once; the largest tool process took "
              << peakKib / 1024.0 << " MiB\n";
    return printed == jobs.size() ? 0 : kExitFailed;
}

int RunSend(const CommandLine& line)
{
    std::string input;
    std::string error;
    if (!ReadStandardInput(input, error))
        return Failure(error);
    std::string message = input;
    if (!line.raw) {
        std::u16string text;
        if (!ToUtf16("the request on standard input", input, text, error))
            return Failure(error + " (use --raw to send bytes)");
        message = EncodeMessage(text);
    }
    std::u16string reply;
    if (!Exchange(line.settings, *line.switchText, message, reply))
        return kExitFailed;
    return WriteStandardOutput(platform::Utf16ToUtf8(reply)) ? 0 : Failure("cannot write the reply to standard output");
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    std::string error;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (!ParseCommandLine(argc, argv, line, error))
        return UsageError(error);
    if (line.settings.toolPath.empty())
        line.settings.toolPath = platform::ExecutableFolder() + "/QuillonTool";
    line.settings.socketPath = platform::PipeSocketPath(u"QuillonPipe");

    InstallSignalCleanup();
    if (line.command == "caps")
        return RunDocumentQuery(line, "-a");
    if (line.command == "ticket")
        return RunDocumentQuery(line, "-b");
    if (line.command == "print")
        return RunPrint(line);
    if (line.command == "batch")
        return RunBatchCommand(line);
    return RunSend(line);
}

#include "service/batch.h"

#include "platform/kernel/host.h"
#include "service/console_text.h"
#include "service/pipe_server.h"
#include "service/tool_process.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>

namespace quillon::service {
namespace {

using Clock = std::chrono::steady_clock;

// The longest a batch waits in one poll: deadlines are looked at least this often.
constexpr std::chrono::milliseconds kLongestWait{1000};
// The most console output kept of one job; a tool that says more is cut short here.
constexpr std::size_t kMaxConsoleBytes = 1024 * 1024;

// One tool process at work for a job: started, then connected, then replied, then ended.
struct ToolRun {
    enum class Phase { Connecting, Replying, Ending, Done };

    std::unique_ptr<ToolProcess> tool;
    std::unique_ptr<PipeConnection> connection;
    std::string switchText;
    std::string request;
    Phase phase = Phase::Done;
    Clock::time_point deadline;
    std::string reply;
    std::string error;
};

// A job under way: asking the tool for the printer's default ticket, then printing.
struct ActiveJob {
    const BatchJob* job = nullptr;
    PrintJob print;
    JobOutcome outcome;
    Clock::time_point start;
    bool askingTicket = false;
    ToolRun run;
};

class Batch final {
public:
    Batch(const BatchSettings& settings, PipeServer& server, const std::function<void(const JobOutcome&)>& done)
        : settings_(settings),
          server_(server),
          done_(done),
          start_(Clock::now())
    {}

    bool Idle() const { return active_.empty(); }
    std::size_t Running() const { return active_.size(); }

    void Begin(const BatchJob& job)
    {
        ActiveJob& active = active_.emplace_back();
        active.job = &job;
        active.start = Clock::now();
        active.outcome.line = job.line;
        active.outcome.started = active.start - start_;
        std::string error;
        if (!PreparePrintJob(job.order, active.print, error)) {
            Fail(active, error);
        } else if (job.order.ticketFile) {
            if (ReadTicketFile(*job.order.ticketFile, active.print.ticket, error))
                StartPrinting(active);
            else
                Fail(active, error);
        } else if (active.print.printer.size() > kMaxPrinterRequestUnits) {
            Fail(active, "the printer name is longer than the tool takes");
        } else {
            // As a real service does: ask the tool for the printer's default ticket first.
            active.askingTicket = true;
            StartTool(active, "-b", EncodeMessage(active.print.printer));
        }
        Purge();
    }

    // Waits for whatever comes first (a connection, a reply, output, a tool's end, a deadline) and
    // moves every job on as far as it goes.
    void Step()
    {
        std::vector<pollfd> waiters{{server_.ListeningSocket(), POLLIN, 0}};
        Clock::time_point wake = Clock::now() + kLongestWait;
        for (const ActiveJob& active : active_) {
            const ToolRun& run = active.run;
            if (run.tool && run.tool->Output() >= 0)
                waiters.push_back({run.tool->Output(), POLLIN, 0});
            if (run.phase == ToolRun::Phase::Done)
                continue;
            if (run.phase == ToolRun::Phase::Replying)
                waiters.push_back({run.connection->Socket(), POLLIN, 0});
            else
                waiters.push_back({run.tool->ExitNotifier(), POLLIN, 0});
            wake = std::min(wake, run.deadline);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        if (poll(waiters.data(), waiters.size(), static_cast<int>(std::max<long>(wait.count(), 0))) < 0
            && errno != EINTR) {
            SayOnConsole(std::string("cannot wait for the tools: ") + std::strerror(errno));
            return;
        }
        AcceptConnections();
        for (ActiveJob& active : active_) {
            if (!active.job)
                continue;
            Advance(active);
            if (active.run.phase == ToolRun::Phase::Done)
                FinishRun(active);
        }
        Purge();
    }

private:
    // Takes the jobs that have ended off the list.
    void Purge()
    {
        active_.remove_if([](const ActiveJob& active) { return active.job == nullptr; });
    }

    void StartTool(ActiveJob& active, const std::string& switchText, std::string request)
    {
        ToolRun& run = active.run;
        run = ToolRun{};
        run.switchText = switchText;
        run.request = std::move(request);
        run.tool = ToolProcess::Start(settings_.exchange.toolPath, switchText, ToolOutput::Capture, run.error);
        if (!run.tool)
            return Fail(active, run.error);
        run.phase = ToolRun::Phase::Connecting;
        run.deadline = Clock::now() + settings_.exchange.connectTimeout;
    }

    void StartPrinting(ActiveJob& active)
    {
        active.askingTicket = false;
        std::u16string request;
        std::string error;
        if (!BuildJobRequest(active.print, request, error))
            return Fail(active, error);
        StartTool(active, "-c", EncodeMessage(request));
    }

    // Takes every queued connection and hands it to the job whose tool made it; a connection from
    // a process this batch did not start is closed unanswered.
    void AcceptConnections()
    {
        for (;;) {
            std::string error;
            std::unique_ptr<PipeConnection> connection = server_.Accept(error);
            if (!connection) {
                if (!error.empty())
                    SayOnConsole(error);
                return;
            }
            const pid_t peer = connection->PeerProcess();
            auto owner = std::find_if(active_.begin(), active_.end(), [peer](const ActiveJob& active) {
                return active.run.phase == ToolRun::Phase::Connecting && active.run.tool->Pid() == peer;
            });
            if (owner == active_.end()) {
                SayOnConsole("a connection from process " + std::to_string(peer)
                             + ", which this batch did not start, was closed unanswered");
                continue;
            }
            ToolRun& run = owner->run;
            run.connection = std::move(connection);
            if (!run.connection->Send(run.request, run.error)) {
                run.tool->Kill();
                run.phase = ToolRun::Phase::Done;
                continue;
            }
            run.phase = ToolRun::Phase::Replying;
            run.deadline = Clock::now() + settings_.exchange.replyTimeout;
        }
    }

    void Advance(ActiveJob& active)
    {
        ToolRun& run = active.run;
        if (run.tool)
            CollectOutput(active);
        const bool late = Clock::now() >= run.deadline;
        switch (run.phase) {
        case ToolRun::Phase::Connecting:
            // It may have connected just before it ended.
            if (Exited(run))
                AcceptConnections();
            if (run.phase != ToolRun::Phase::Connecting)
                break;
            if (Exited(run)) {
                auto status = run.tool->WaitForExit(std::chrono::milliseconds(0));
                run.error = "the tool, started with \"" + run.switchText + "\", "
                    + (status ? DescribeExit(*status) : std::string("ended"))
                    + " without connecting to the pipe; nothing was exchanged";
                run.phase = ToolRun::Phase::Done;
            } else if (late) {
                Stop(run,
                     "the tool did not connect to the pipe within " + SecondsText(settings_.exchange.connectTimeout)
                         + "; it was stopped");
            }
            break;
        case ToolRun::Phase::Replying: {
            std::string failure;
            switch (run.connection->ReceiveMessage(std::chrono::milliseconds(0), run.reply, failure)) {
            case PipeConnection::Receive::Message:
                break;
            case PipeConnection::Receive::Closed:
                run.error = "the tool closed the pipe without a reply";
                break;
            case PipeConnection::Receive::TimedOut:
                if (late)
                    Stop(run,
                         "the tool sent no reply within " + SecondsText(settings_.exchange.replyTimeout)
                             + "; it was stopped");
                return;
            case PipeConnection::Receive::Failed:
                Stop(run, failure);
                return;
            }
            run.connection.reset();
            run.phase = ToolRun::Phase::Ending;
            run.deadline = Clock::now() + settings_.exchange.connectTimeout;
            break;
        }
        case ToolRun::Phase::Ending:
            if (Exited(run)) {
                auto status = run.tool->WaitForExit(std::chrono::milliseconds(0));
                if (!run.error.empty() && status)
                    run.error += " and " + DescribeExit(*status);
                else if (status && *status != 0)
                    run.error = "the tool " + DescribeExit(*status) + " after its reply";
                run.phase = ToolRun::Phase::Done;
            } else if (late) {
                Stop(run,
                     "the tool did not end within " + SecondsText(settings_.exchange.connectTimeout)
                         + " of its reply; it was stopped");
            }
            break;
        case ToolRun::Phase::Done:
            break;
        }
    }

    static bool Exited(const ToolRun& run)
    {
        pollfd waiter{run.tool->ExitNotifier(), POLLIN, 0};
        return poll(&waiter, 1, 0) == 1;
    }

    static void Stop(ToolRun& run, const std::string& error)
    {
        run.tool->Kill();
        if (run.error.empty())
            run.error = error;
        run.connection.reset();
        run.phase = ToolRun::Phase::Done;
    }

    // Reads what the tool has written so far; at its end, all of it.
    void CollectOutput(ActiveJob& active)
    {
        ToolProcess& tool = *active.run.tool;
        char chunk[65536];
        while (tool.Output() >= 0) {
            const ssize_t count = read(tool.Output(), chunk, sizeof chunk);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && errno == EAGAIN)
                return;
            if (count <= 0) {
                tool.CloseOutput();
                return;
            }
            std::string& console = active.outcome.console;
            console.append(chunk, std::min(static_cast<std::size_t>(count), kMaxConsoleBytes - console.size()));
        }
    }

    // The tool of a job has ended: the job goes on to its next step or ends.
    void FinishRun(ActiveJob& active)
    {
        ToolRun& run = active.run;
        // Whatever the tool wrote last is in the pipe by now, unless a process it left holds the pipe.
        CollectOutput(active);
        run.tool->CloseOutput();
        active.outcome.toolPeakKib = std::max(active.outcome.toolPeakKib, run.tool->PeakResidentKib());
        if (!run.error.empty()) {
            // A print job's tool that ended without its answer leaves nothing for later.
            if (!active.askingTicket)
                SweepJobLeftovers(active.print.printer);
            return Fail(active, run.error);
        }
        const std::u16string reply = DecodeMessage(run.reply);
        if (active.askingTicket) {
            if (reply.empty())
                return Fail(active,
                            "the tool has no default print ticket for printer \"" + active.job->order.printer
                                + "\"; nothing was printed");
            active.print.ticket = LowBytes(reply);
            return StartPrinting(active);
        }
        JobOutcome& outcome = active.outcome;
        outcome.replied = true;
        outcome.reply = platform::Utf16ToUtf8(reply);
        // The tool answers 0 when no job was made, and a negative number when a job failed.
        if (outcome.reply == "0")
            return Fail(active, "the tool made no print job (see its log for why)");
        if (outcome.reply.empty() || outcome.reply[0] == '-')
            return Fail(active, "the print job failed with job id " + outcome.reply + " (see the tool's log for why)");
        const SpooledJob spooled = FindSpooledJob(active.print.printer, outcome.reply);
        if (spooled.virtualPrinter && !spooled.complete)
            return Fail(active, ThrownAwayMessage(active.job->order.printer, outcome.reply));
        outcome.document = spooled.document;
        End(active);
    }

    void Fail(ActiveJob& active, const std::string& error)
    {
        active.outcome.error = error;
        // The platform says on the console why a job could not be written; that belongs with the failure.
        std::size_t start = 0;
        const std::string& console = active.outcome.console;
        while (start < console.size()) {
            std::size_t end = console.find('\n', start);
            if (end == std::string::npos)
                end = console.size();
            if (console.compare(start, 9, "quillon: ") == 0)
                active.outcome.error += "; " + console.substr(start, end - start);
            start = end + 1;
        }
        End(active);
    }

    void End(ActiveJob& active)
    {
        if (active.run.tool && active.run.phase != ToolRun::Phase::Done)
            active.run.tool->Kill();
        active.run.phase = ToolRun::Phase::Done;
        active.run.deadline = Clock::time_point::max();
        active.outcome.took = Clock::now() - active.start;
        done_(active.outcome);
        active.job = nullptr; // taken off the list at the end of the step
    }

    const BatchSettings& settings_;
    PipeServer& server_;
    const std::function<void(const JobOutcome&)>& done_;
    const Clock::time_point start_;
    std::list<ActiveJob> active_;
};

// Splits a line into words as a shell does: blanks separate, quotes group, a backslash takes the
// next character as it is (inside single quotes it is a character of its own).
bool SplitWords(std::string_view text, std::vector<std::string>& words, std::string& error)
{
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'' && c != '\'') {
            word += c;
        } else if (c == '\\' && quote != '\'') {
            if (i + 1 == text.size()) {
                error = "a backslash ends the line";
                return false;
            }
            word += text[++i];
            inWord = true;
        } else if (c == '"' || c == '\'') {
            if (quote == 0) {
                quote = c;
                inWord = true;
            } else if (quote == c) {
                quote = 0;
            } else {
                word += c;
            }
        } else if ((c == ' ' || c == '\t' || c == '\r') && quote == 0) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote != 0) {
        error = std::string("a quote (") + quote + ") is not closed";
        return false;
    }
    if (inWord)
        words.push_back(std::move(word));
    return true;
}

} // namespace

bool ParseJobLine(std::string_view text, JobOrder& order, bool& hasJob, std::string& error)
{
    hasJob = false;
    std::vector<std::string> words;
    if (!SplitWords(text, words, error))
        return false;
    if (words.empty() || words[0][0] == '#')
        return true;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool takesValue = word == "--type" || word == "--ticket" || word == "--name" || word == "--option";
        if (takesValue && i + 1 == words.size()) {
            error = word + " needs a value";
            return false;
        }
        if (word == "--type")
            order.type = words[++i];
        else if (word == "--ticket")
            order.ticketFile = words[++i];
        else if (word == "--name")
            order.name = words[++i];
        else if (word == "--option")
            order.options.push_back(words[++i]);
        else if (word.size() > 1 && word[0] == '-' && word[1] == '-')
            error = "unknown option " + word;
        else
            operands.push_back(word);
        if (!error.empty())
            return false;
    }
    if (operands.size() != 2) {
        error = "a job names a printer and a file, and this line names " + std::to_string(operands.size())
            + (operands.size() == 1 ? " word" : " words") + " beside its options";
        return false;
    }
    order.printer = operands[0];
    order.file = operands[1];
    hasJob = true;
    return true;
}

bool ReadJobsFile(const std::string& path, std::vector<BatchJob>& jobs, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    for (int line = 1; std::getline(file, text); ++line) {
        BatchJob job;
        job.line = line;
        bool hasJob = false;
        if (!ParseJobLine(text, job.order, hasJob, error)) {
            error = path + ", line " + std::to_string(line) + ": " + error;
            return false;
        }
        if (hasJob)
            jobs.push_back(std::move(job));
    }
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

bool RunBatch(const BatchSettings& settings, const std::vector<BatchJob>& jobs,
              const std::function<void(const JobOutcome&)>& done, std::string& error)
{
    const int parallel = std::clamp(settings.parallel, 1, kMaxParallelJobs);
    auto server = PipeServer::Create(settings.exchange.socketPath, settings.exchange.lockTimeout, error, parallel);
    if (!server)
        return false;
    Batch batch(settings, *server, done);
    std::size_t next = 0;
    while (next < jobs.size() || !batch.Idle()) {
        while (next < jobs.size() && batch.Running() < static_cast<std::size_t>(parallel))
            batch.Begin(jobs[next++]);
        if (!batch.Idle())
            batch.Step();
    }
    return true;
}

} // namespace quillon::service

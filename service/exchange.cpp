#include "service/exchange.h"

#include "service/console_text.h"
#include "service/pipe_server.h"
#include "service/progress.h"
#include "service/tool_process.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace quillon::service {
namespace {

// Takes the queued connections until the tool's own: a connection from any other process is
// closed unanswered. Null when none of them is the tool's (error stays empty) or on failure.
std::unique_ptr<PipeConnection> AcceptTool(PipeServer& server, const ToolProcess& tool, std::string& error)
{
    while (auto connection = server.Accept(error)) {
        const pid_t peer = connection->PeerProcess();
        if (peer == tool.Pid())
            return connection;
        SayOnConsole("a connection from process " + std::to_string(peer)
                     + ", which this service did not start, was closed unanswered");
    }
    return nullptr;
}

// Waits for the tool to connect. Returns the connection, or null with error set when the tool
// ended first, the time ran out or the socket failed.
std::unique_ptr<PipeConnection> AwaitConnection(PipeServer& server, ToolProcess& tool, const std::string& switchText,
                                                std::chrono::milliseconds timeout, std::string& error)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto connection = AcceptTool(server, tool, error))
            return connection;
        if (!error.empty())
            return nullptr;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            tool.Kill();
            error = "the tool did not connect to the pipe within " + SecondsText(timeout) + "; it was stopped";
            return nullptr;
        }
        pollfd waiters[2] = {{server.ListeningSocket(), POLLIN, 0}, {tool.ExitNotifier(), POLLIN, 0}};
        int ready = poll(waiters, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            error = std::string("cannot wait for the tool: ") + std::strerror(errno);
            return nullptr;
        }
        if (ready > 0 && (waiters[1].revents & POLLIN) && !(waiters[0].revents & POLLIN)) {
            // It may have connected just before it ended.
            if (auto connection = AcceptTool(server, tool, error))
                return connection;
            if (!error.empty())
                return nullptr;
            auto status = tool.WaitForExit(std::chrono::milliseconds(0));
            error = "the tool, started with \"" + switchText + "\", "
                + (status ? DescribeExit(*status) : std::string("ended"))
                + " without connecting to the pipe; nothing was exchanged";
            return nullptr;
        }
    }
}

} // namespace

std::string SecondsText(std::chrono::milliseconds span)
{
    auto tenths = span.count() / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about "." + std::string.
        text += '.';
        text += std::to_string(tenths % 10);
    }
    text += " s";
    return text;
}

ExchangeResult RunExchange(const ExchangeSettings& settings, const std::string& switchText, std::string_view request)
{
    ExchangeResult result;
    auto server = PipeServer::Create(settings.socketPath, settings.lockTimeout, result.error);
    if (!server)
        return result;
    // The progress line and the tool's output share the terminal: the output is relayed around it.
    std::optional<ProgressLine> progress;
    if (!settings.progressLog.empty() && !settings.quiet)
        progress.emplace(settings.progressLog);
    const ToolOutput output = settings.quiet ? ToolOutput::Discard
        : progress                           ? ToolOutput::Capture
                                             : ToolOutput::Forward;
    auto tool = ToolProcess::Start(settings.toolPath, switchText, output, result.error);
    if (!tool)
        return result;

    {
        auto connection = AwaitConnection(*server, *tool, switchText, settings.connectTimeout, result.error);
        if (!connection)
            return result;
        if (!connection->Send(request, result.error))
            return result;

        std::string failure;
        const auto received = progress
            ? progress->Receive(*connection, *tool, settings.replyTimeout, result.reply, failure)
            : connection->ReceiveMessage(settings.replyTimeout, result.reply, failure);
        switch (received) {
        case PipeConnection::Receive::Message:
            result.replied = true;
            break;
        case PipeConnection::Receive::Closed: {
            auto status = tool->WaitForExit(settings.connectTimeout);
            if (progress)
                progress->Drain(*tool);
            result.error = "the tool closed the pipe without a reply"
                + (status ? " and " + DescribeExit(*status) : std::string());
            return result;
        }
        case PipeConnection::Receive::TimedOut:
            tool->Kill();
            result.error = "the tool sent no reply within " + SecondsText(settings.replyTimeout) + "; it was stopped";
            return result;
        case PipeConnection::Receive::Failed:
            result.error = failure;
            return result;
        }
    }

    auto status = tool->WaitForExit(settings.connectTimeout);
    if (progress)
        progress->Drain(*tool);
    if (!status) {
        tool->Kill();
        result.error
            = "the tool did not end within " + SecondsText(settings.connectTimeout) + " of its reply; it was stopped";
    } else if (*status != 0) {
        result.error = "the tool " + DescribeExit(*status) + " after its reply";
    }
    return result;
}

} // namespace quillon::service

// The pages of a print job as it runs, shown on the operator's terminal. A document of hundreds
// of pages takes many seconds; the tool says nothing on the pipe until its reply, but its log
// records every page as it starts ("get_info_proc, total_page_count: N") and the end of the page
// loop. The service holds the pipe's lock while its tool runs, so the records added to the log
// meanwhile are that tool's.
#pragma once

#include "service/pipe_server.h"
#include "service/tool_process.h"

#include <chrono>
#include <map>
#include <string>

namespace quillon::service {

// What the log added since the job started says of its pages.
class PageProgress final {
public:
    // Notes how far the log files in logFolder reach now; what is added after is the job's.
    explicit PageProgress(std::string logFolder);

    // Reads what the log gained; true when the pages done or the document's page count changed.
    bool Update();
    // The pages played onto the printer: those started before the one under way, all of them
    // once the page loop has ended well.
    int Done() const;
    // The document's page count; 0 until the first page has started.
    int Total() const { return total_; }

private:
    void TakeRecord(const std::string& record);

    std::string logFolder_;
    std::map<std::string, long long> readTo_; // per log file, the bytes taken
    std::string partial_;                     // a record not yet ended
    int started_ = 0;
    int total_ = 0;
    bool finished_ = false;
};

// A job's progress on the operator's terminal (standard error): "quillon-service: N of M pages
// printed", rewritten in place as the pages go. The tool's console output, captured, is relayed
// unchanged, each line written whole above the progress line.
class ProgressLine final {
public:
    explicit ProgressLine(std::string logFolder) : pages_(std::move(logFolder)) {}
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Waits up to timeout for the tool's reply, as PipeConnection::ReceiveMessage does, showing
    // the pages and relaying the tool's output meanwhile.
    PipeConnection::Receive Receive(PipeConnection& connection, ToolProcess& tool, std::chrono::milliseconds timeout,
                                    std::string& message, std::string& error);
    // Relays what is left of the tool's output once it has ended.
    void Drain(ToolProcess& tool);

private:
    void Relay(ToolProcess& tool, const PipeConnection& connection);
    void Take(ToolProcess& tool);
    void Show();
    void Hide();

    PageProgress pages_;
    std::string pendingOutput_; // the tool's output up to a line's end
    bool shown_ = false;
};

} // namespace quillon::service

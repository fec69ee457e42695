// Many print jobs through one pipe, several tools at once, the way a print service serves several
// instances of its named pipe: one listening socket, each accepted connection matched to the tool
// process that made it by the pid the kernel gives for the socket's peer.
#pragma once

#include "service/exchange.h"
#include "service/print_job.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::service {

// The most tools a batch runs at once.
constexpr int kMaxParallelJobs = 64;

// One line of a jobs file.
struct BatchJob {
    int line = 0;
    JobOrder order;
};

// Reads one line of a jobs file: PRINTER FILE [--type MIME] [--ticket FILE] [--name NAME]
// [--option OPT]..., words split as a shell splits them (blanks; "..." and '...' quote; a
// backslash takes the next character as it is). A blank line or one starting with '#' holds no job
// (has_job false). False with error set for anything else that is not a job.
bool ParseJobLine(std::string_view text, JobOrder& order, bool& hasJob, std::string& error);

// Reads a jobs file; false with error naming the first line that is not a job.
bool ReadJobsFile(const std::string& path, std::vector<BatchJob>& jobs, std::string& error);

// How one job went.
struct JobOutcome {
    int line = 0;
    bool replied = false;                    // the job exchange brought a reply
    std::string reply;                       // the job id the tool replied ("0" or negative when it failed)
    std::string document;                    // the job's PDF, for a virtual printer
    std::string error;                       // why the job failed, empty when it printed
    std::string console;                     // what the tool processes of the job wrote on their console
    std::chrono::duration<double> started{}; // from the start of the batch
    std::chrono::duration<double> took{};    // from its first tool's start to its last tool's end
    long toolPeakKib = 0;                    // the largest resident size of its tool processes

    bool Printed() const { return error.empty(); }
};

struct BatchSettings {
    ExchangeSettings exchange; // quiet is ignored: a batch always collects the tools' console output
    int parallel = 1;
};

// Runs the jobs, at most settings.parallel at a time, each in the order of the file as a slot
// frees; calls done with each job's outcome as it ends (in the order they end). False with error
// set when the pipe cannot be served at all; no job has run then.
bool RunBatch(const BatchSettings& settings, const std::vector<BatchJob>& jobs,
              const std::function<void(const JobOutcome&)>& done, std::string& error);

} // namespace quillon::service

// A private CUPS server for one test, brought up by scripts/cups-stack under a temporary
// folder: cupsd with the queue "TestQ" in front of ippeveprinter, which keeps every document it
// receives and the job's IPP attributes beside it. HOME and CUPS_SERVER name the folder and its
// server for this process and the programs it starts. A stack that cannot be brought up fails the
// test: it never skips.
#pragma once

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace cups_test {

namespace fs = std::filesystem;

// The output of a shell command, standard error included; `status` gets its exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    const int result = pipe ? pclose(pipe) : -1;
    if (status)
        *status = result;
    return text;
}

// A document the printer received, and the job's IPP attributes as the printer saw them.
struct ReceivedJob {
    fs::path document;
    std::map<std::string, std::string> attributes; // IPP_JOB_NAME -> "Report"...

    // One attribute's value, or "(none)".
    std::string Attribute(const std::string& name) const
    {
        const auto found = attributes.find(name);
        return found == attributes.end() ? "(none)" : found->second;
    }
};

class CupsStack final {
public:
    CupsStack()
    {
        std::string pattern = (fs::temp_directory_path() / "quillon-cups-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        folder_ = pattern;
        setenv("HOME", folder_.c_str(), 1);
        setenv("CUPS_SERVER", Socket().c_str(), 1);
        // libcups keeps the server it read first for the thread; this one is the server from now on.
        cupsSetServer(Socket().c_str());
        int status = -1;
        log_ = RunCommand(Script() + " up " + folder_.string(), &status);
        up_ = status == 0;
        if (!up_)
            log_ += RunCommand("cat " + (folder_ / "log/*").string());
    }

    ~CupsStack()
    {
        RunCommand(Script() + " down " + folder_.string());
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    CupsStack(const CupsStack&) = delete;
    CupsStack& operator=(const CupsStack&) = delete;

    bool Up() const { return up_; }
    const std::string& Log() const { return log_; }
    const fs::path& Folder() const { return folder_; }
    std::string Socket() const { return (folder_ / "cups/cups.sock").string(); }

    // Sends cupsd a signal: SIGSTOP leaves it listening but silent, SIGKILL takes it away.
    void SignalCupsd(int signal) const
    {
        std::ifstream in(folder_ / "cupsd.pid");
        int pid = 0;
        in >> pid;
        ASSERT_GT(pid, 0);
        ::kill(pid, signal);
        if (signal == SIGKILL)
            fs::remove(Socket());
    }

    // The jobs the printer has received, oldest first, once `count` of them are there, or once no
    // job is on its way any more: the queue has ended each of its jobs and the printer has finished
    // each one it got (a job is there when its attributes are, which the printer writes as it
    // finishes the job).
    std::vector<ReceivedJob> WaitForJobs(std::size_t count) const
    {
        std::vector<ReceivedJob> jobs;
        for (;;) {
            const bool settled = OnlyFinishedJobs() && PrinterIdle();
            jobs = Received();
            if (jobs.size() >= count)
                return jobs;
            if (settled)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "the printer received " << jobs.size() << " jobs, not " << count << "\n"
                      << RunCommand("grep -v \"^D\" " + (folder_ / "cups/log/error_log").string()
                                    + " | tail -60; grep pdftopdf " + (folder_ / "cups/log/error_log").string()
                                    + " | tail -30");
        return jobs;
    }

    std::vector<ReceivedJob> Received() const
    {
        std::vector<ReceivedJob> jobs;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder_ / "out", error)) {
            if (entry.path().extension() != ".env")
                continue;
            ReceivedJob job;
            job.document = entry.path().parent_path() / entry.path().stem();
            std::ifstream in(entry.path());
            for (std::string line; std::getline(in, line);) {
                const std::size_t equals = line.find('=');
                if (equals != std::string::npos)
                    job.attributes[line.substr(0, equals)] = line.substr(equals + 1);
            }
            jobs.push_back(std::move(job));
        }
        // ippeveprinter names documents "<its job id>-<name>": in the order it took them.
        std::sort(jobs.begin(), jobs.end(), [](const ReceivedJob& a, const ReceivedJob& b) {
            return std::stoi(a.document.filename().string()) < std::stoi(b.document.filename().string());
        });
        return jobs;
    }

    // Every job of TestQ the server knows, finished or not, as its id and state (IPP_JSTATE_*).
    std::map<int, int> Jobs() const
    {
        http_t* http = httpConnect2(Socket().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
        cups_job_t* jobs = nullptr;
        const int count = http ? cupsGetJobs2(http, &jobs, "TestQ", 0, CUPS_WHICHJOBS_ALL) : 0;
        std::map<int, int> states;
        for (int i = 0; i < count; ++i)
            states[jobs[i].id] = jobs[i].state;
        cupsFreeJobs(count, jobs);
        httpClose(http);
        return states;
    }

    // True when every job of TestQ has come to its end there (completed, cancelled, aborted, or
    // stopped with its printer), so no more of them will reach the printer.
    bool OnlyFinishedJobs() const
    {
        for (const auto& [id, state] : Jobs()) {
            if (state < IPP_JSTATE_STOPPED)
                return false;
        }
        return true;
    }

    // True when the printer holds no job it has not finished; also when it cannot be asked.
    bool PrinterIdle() const
    {
        std::ifstream in(folder_ / "ipp.port");
        int port = 0;
        in >> port;
        http_t* http = port > 0
            ? httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr)
            : nullptr;
        if (!http)
            return true;
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
        const std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print";
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
        ipp_t* response = cupsDoRequest(http, request, "/ipp/print");
        const bool idle = response == nullptr || ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) == nullptr;
        ippDelete(response);
        httpClose(http);
        return idle;
    }

    // The state CUPS gives a job of TestQ (IPP_JSTATE_*), or 0 when it knows no such job.
    int JobState(int jobId) const
    {
        const std::map<int, int> jobs = Jobs();
        const auto found = jobs.find(jobId);
        return found == jobs.end() ? 0 : found->second;
    }

    // One attribute of a job of the server as the server holds it ("{media-size=...}"), or "(none)".
    std::string JobAttribute(int jobId, const char* name) const
    {
        http_t* http = httpConnect2(Socket().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        const std::string uri = "ipp://localhost/jobs/" + std::to_string(jobId);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        ipp_t* response = http ? cupsDoRequest(http, request, "/") : (ippDelete(request), nullptr);
        ipp_attribute_t* attribute = response ? ippFindAttribute(response, name, IPP_TAG_ZERO) : nullptr;
        char text[2048] = "(none)";
        if (attribute)
            ippAttributeString(attribute, text, sizeof text);
        ippDelete(response);
        httpClose(http);
        return text;
    }

private:
    static std::string Script() { return std::string(QUILLON_SOURCE_DIR) + "/scripts/cups-stack"; }

    fs::path folder_;
    std::string log_;
    bool up_ = false;
};

} // namespace cups_test

// What the end-to-end tests share: a private machine root per test, and running programs with
// their input and output captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::e2e {

inline const std::string kBinDir = QUILLON_BIN_DIR;
inline const std::string kService = kBinDir + "/quillon-service";
inline const std::string kTool = kBinDir + "/QuillonTool";
inline const std::string kFakeTool = kBinDir + "/quillon-fake-tool";

// A fresh temporary folder used as QUILLON_ROOT; removed with everything in it at the end.
class TempRoot final {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& Path() const { return path_; }
    std::string SocketPath() const { return path_ + "/run/quillon/pipe/QuillonPipe"; }
    std::string LogFolder() const { return path_ + "/var/lib/Marlowin/log"; }

private:
    std::string path_;
};

struct RunResult {
    int status = -1; // wait status
    std::string out;
    std::string err;
    bool ExitedWith(int code) const;
};

// A program started under a root, with standard input fed from a string and both outputs kept.
class Child final {
public:
    Child(const std::vector<std::string>& argv, const std::string& root, std::string input = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }
    // Feeds the input, collects the output until the program ends (killed after timeout) and reaps it.
    RunResult Finish(std::chrono::seconds timeout = std::chrono::seconds(60));

private:
    // Writes as much of the input as the pipe takes without waiting; closes it when all is written.
    void FeedInput();

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string input_;
    size_t written_ = 0;
};

// Runs a program to its end.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& root, std::string input = {});

// UTF-16LE bytes of a text, as on the pipe.
std::string Utf16Bytes(std::u16string_view text);

struct LogLine {
    std::string level;
    std::string message;
};

// The log files in the log folder, by name.
std::vector<std::string> LogFileNames(const TempRoot& root);
// Reads one log file into lines; each must have the form "LEVEL [YYYY-Mon-DD HH:MM:SS.ffffff] : MESSAGE"
// and end in CR LF, else the test fails.
std::vector<LogLine> ReadLog(const std::string& path);

// Reads a whole file.
std::string ReadFile(const std::string& path);
// Writes a whole file.
void WriteFile(const std::string& path, std::string_view bytes);

} // namespace quillon::e2e

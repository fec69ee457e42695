#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

extern char** environ;

namespace quillon::e2e {

TempRoot::TempRoot()
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/quillon-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "cannot make a temporary root";
    path_ = pattern;
}

TempRoot::~TempRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool RunResult::ExitedWith(int code) const
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

Child::Child(const std::vector<std::string>& argv, const std::string& root, std::string input)
    : input_(std::move(input))
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUILLON_ROOT=", 13) != 0)
            environment.emplace_back(*entry);
    }
    environment.push_back("QUILLON_ROOT=" + root);
    // The root's own CUPS server, unless the test brought one up: the machine's queues stay out.
    if (std::getenv("CUPS_SERVER") == nullptr)
        environment.push_back("CUPS_SERVER=" + root + "/run/cups/cups.sock");
    std::vector<char*> envp, args;
    for (auto& item : environment)
        envp.push_back(item.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments = argv;
    for (auto& item : arguments)
        args.push_back(item.data());
    args.push_back(nullptr);

    int failure = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (failure != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(failure);
        pid_ = -1;
        return;
    }
    // Hand over what the pipe takes now, so a program that waits for its input need not wait for
    // Finish; the rest follows there.
    fcntl(in_, F_SETFL, O_NONBLOCK);
    FeedInput();
}

void Child::FeedInput()
{
    if (in_ < 0)
        return;
    while (written_ < input_.size()) {
        ssize_t count = write(in_, input_.data() + written_, input_.size() - written_);
        if (count <= 0) {
            if (count < 0 && errno == EAGAIN)
                return;
            break;
        }
        written_ += static_cast<size_t>(count);
    }
    close(in_);
    in_ = -1;
}

Child::~Child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0)
            close(fd);
}

RunResult Child::Finish(std::chrono::seconds timeout)
{
    RunResult result;
    if (pid_ <= 0)
        return result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out_ >= 0 || err_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ADD_FAILURE() << "a program ran past " << timeout.count() << " s and was killed";
            kill(pid_, SIGKILL);
            break;
        }
        pollfd waiters[3] = {{in_, POLLOUT, 0}, {out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(waiters, 3, static_cast<int>(left.count())) < 0)
            continue;
        if (waiters[0].revents & (POLLOUT | POLLERR | POLLHUP))
            FeedInput();
        for (auto [fd, target] : {std::pair{&out_, &result.out}, std::pair{&err_, &result.err}}) {
            pollfd& waiter = waiters[fd == &out_ ? 1 : 2];
            if (*fd < 0 || !(waiter.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[65536];
            ssize_t count = read(*fd, chunk, sizeof chunk);
            if (count > 0) {
                target->append(chunk, static_cast<size_t>(count));
            } else {
                close(*fd);
                *fd = -1;
            }
        }
    }
    waitpid(pid_, &result.status, 0);
    pid_ = -1;
    return result;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& root, std::string input)
{
    return Child(argv, root, std::move(input)).Finish();
}

std::string Utf16Bytes(std::u16string_view text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::vector<std::string> LogFileNames(const TempRoot& root)
{
    std::vector<std::string> names;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(root.LogFolder(), failure))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<LogLine> ReadLog(const std::string& path)
{
    static const std::regex kLine(
        R"(^(trace|debug|info|warning|error|critical) \[\d{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\] : (.*)\r$)");
    std::vector<LogLine> lines;
    std::string text = ReadFile(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << path << " does not end with a line end";
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        std::smatch match;
        if (!std::regex_match(line, match, kLine)) {
            ADD_FAILURE() << "malformed log line in " << path << ": \"" << line << "\"";
            continue;
        }
        lines.push_back({match[1].str(), match[3].str()});
    }
    return lines;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace quillon::e2e

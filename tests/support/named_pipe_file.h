// A named pipe where a test expects a file, with a writer that comes along after a few seconds:
// should the code under test wait in open() for a writer, it is let go and ReaderWaited() says so,
// so the test fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <thread>

namespace testing_support {

class NamedPipeFile final {
public:
    explicit NamedPipeFile(const std::filesystem::path& path) : path_(path)
    {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            std::abort();
        writer_ = std::jthread([this](std::stop_token stop) {
            for (int tick = 0; !stop.stop_requested(); ++tick) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                // Opening for writing succeeds only while a reader waits, and lets it go.
                const int descriptor = tick >= kTicksBeforeWriter ? ::open(path_.c_str(), O_WRONLY | O_NONBLOCK) : -1;
                if (descriptor >= 0) {
                    readerWaited_ = true;
                    ::close(descriptor);
                }
            }
        });
    }
    ~NamedPipeFile()
    {
        writer_.request_stop();
        writer_.join();
        std::filesystem::remove(path_);
    }
    NamedPipeFile(const NamedPipeFile&) = delete;
    NamedPipeFile& operator=(const NamedPipeFile&) = delete;

    // Whether a reader had to be let go: it was still holding the pipe when the writer came.
    bool ReaderWaited() const { return readerWaited_; }

private:
    static constexpr int kTicksBeforeWriter = 100;

    std::filesystem::path path_;
    std::atomic<bool> readerWaited_ = false;
    std::jthread writer_;
};

} // namespace testing_support

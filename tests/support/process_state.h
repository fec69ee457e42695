// Waiting for another process or thread to reach a state, as /proc shows it: a test that needs
// the code under test to be blocked somewhere waits until it is, however loaded the machine.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace testing_support {

// Where a task (a process id, or a thread id of this or another process) stands with respect to
// the system call `number` (SYS_connect, say), as /proc shows it.
enum class CallState { Sleeping, NotYet, Gone };

inline CallState StateIn(pid_t task, long number)
{
    if (task <= 0 || number < 0)
        return CallState::Gone;
    const std::string folder = "/proc/" + std::to_string(task);
    std::ifstream status(folder + "/stat");
    std::string stat;
    if (!std::getline(status, stat))
        return CallState::Gone;
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos || end + 2 >= stat.size())
        return CallState::Gone;
    const char state = stat[end + 2];
    if (state == 'Z' || state == 'X')
        return CallState::Gone;
    // "running", or the number of the call it is in and its arguments.
    std::ifstream call(folder + "/syscall");
    long current = -1;
    return call >> current && current == number && state == 'S' ? CallState::Sleeping : CallState::NotYet;
}

// A pause between two looks at another task, so that it gets a core to reach its state.
inline void PauseBetweenLooks()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// True once the task sleeps in the system call `number`; false when it is gone or has ended first.
inline bool WaitUntilBlockedIn(pid_t task, long number)
{
    for (;;) {
        const CallState state = StateIn(task, number);
        if (state != CallState::NotYet)
            return state == CallState::Sleeping;
        PauseBetweenLooks();
    }
}

} // namespace testing_support

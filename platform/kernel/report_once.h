// Lines the platform tells standard error once: printers it passes over or cannot reach, libraries
// it cannot load.
#pragma once

#include "platform/kernel/console_text.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace platform::kernel {

// Writes "quillon: LINE" to standard error the first time this process meets it: the registry is
// read on every spooler call, and one broken printer must not repeat itself on every query.
inline void ReportOnce(const std::string& line)
{
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    if (!reported.insert(line).second)
        return;
    std::fprintf(stderr, "quillon: %s\n", ConsoleText(line).c_str());
}

} // namespace platform::kernel

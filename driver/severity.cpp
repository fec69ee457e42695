#include "driver/severity.h"

#include <array>
#include <string_view>

namespace {

// One table for printing and for parsing, in level order.
constexpr std::array<std::string_view, 6> kLevelNames = {"trace", "debug", "info", "warning", "error", "critical"};

} // namespace

namespace base {

std::ostream& operator<<(std::ostream& out, severity_level level)
{
    const int value = static_cast<int>(level);
    if (value >= 0 && value < static_cast<int>(kLevelNames.size()))
        return out << kLevelNames[static_cast<std::size_t>(value)];
    return out << value;
}

} // namespace base

namespace aio {

base::severity_level ParseSeverityLevel(const std::string& name)
{
    for (std::size_t i = 0; i < kLevelNames.size(); ++i) {
        if (name == kLevelNames[i])
            return static_cast<base::severity_level>(i);
    }
    return base::error;
}

} // namespace aio

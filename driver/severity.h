// Severity levels of the tool's log and the parser of their names.
#pragma once

#include <ostream>
#include <string>

namespace base {

enum severity_level : int { trace = 0, debug = 1, info = 2, warning = 3, error = 4, critical = 5 };

// Writes a level by its name ("trace" … "critical"); any other value as a decimal number.
std::ostream& operator<<(std::ostream& out, severity_level level);

} // namespace base

namespace aio {

// The level whose name equals `name` exactly (case matters, no trimming); "error" for any other name.
base::severity_level ParseSeverityLevel(const std::string& name);

} // namespace aio

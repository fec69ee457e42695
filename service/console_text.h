// What the service writes on the operator's console. Its messages carry text from outside (file
// and printer names, ticket paths, the tools' own lines), which must not drive the terminal.
#pragma once

#include "platform/kernel/console_text.h"

#include <string_view>

namespace quillon::service {

using platform::ConsoleText;

// Writes "quillon-service: MESSAGE" and a line feed on standard error, the message made console
// text.
void SayOnConsole(std::string_view message);

} // namespace quillon::service

// Text from outside (file and printer names, paths, a tool's lines) as it may stand in a line on an
// operator's console.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text as it may be shown on a console: every control character but tab and line feed (escape
// sequences, carriage returns, C1 controls, and bytes that are no part of a UTF-8 character) is
// written as "\xHH", the character's value or the stray byte's, so text from outside cannot move the
// cursor, rewrite earlier lines or drive the terminal. Text already shown this way comes back
// unchanged.
std::string ConsoleText(std::string_view text);

} // namespace platform

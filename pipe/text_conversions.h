// Conversions between 8-bit text and UTF-16 text by the ISO 8859-1 mapping (byte = code unit).
#pragma once

#include <string>
#include <string_view>

namespace aio {

// Widens the bytes before the first zero byte, each byte becoming the code unit of the same value.
std::u16string WidenText(const std::string& text);

// Narrows the code units before the first zero unit; a unit above 0xFF and every later position
// become zero bytes, so the result always has the input's length.
std::string NarrowText(const std::u16string& text);

// The text before its first zero as it may be shown on the operator's console: every control
// character but tab and line feed (escape sequences, carriage returns, C1 controls) written as "\xHH", so text from
// outside cannot move the cursor, rewrite earlier lines or drive the terminal.
std::u16string ConsoleText(std::u16string_view text);

} // namespace aio

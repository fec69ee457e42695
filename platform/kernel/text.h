// UTF-8 and UTF-16 conversion shared by the kernel, C runtime and shell interfaces.
#pragma once

#include <string>
#include <string_view>

namespace platform::kernel {

// How a UTF-8 decoder treats an ill-formed sequence.
enum class BadUtf8 { Reject, Replace };

// Decodes UTF-8 into UTF-16, appending to out. With BadUtf8::Replace every maximal ill-formed
// part (overlong forms, surrogates, values past U+10FFFF, truncated sequences) becomes one
// U+FFFD; with BadUtf8::Reject the first one makes the result false.
bool DecodeUtf8(std::string_view text, BadUtf8 mode, std::u16string& out);

// True when the UTF-16 text has no unpaired surrogate.
bool IsWellFormedUtf16(std::u16string_view text);

} // namespace platform::kernel

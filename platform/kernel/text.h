// UTF-8 and UTF-16 conversion shared by the kernel, C runtime and shell interfaces.
#pragma once

#include <algorithm>
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

// A code unit with the capitals A to Z folded to small letters: the case folding of the names
// (files, libraries, pipes, drivers, fonts) that are compared here without regard to case.
template <typename Unit>
constexpr Unit FoldAscii(Unit unit)
{
    return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit - Unit('A') + Unit('a')) : unit;
}

// True when two names are equal once folded so.
template <typename Unit>
constexpr bool EqualFoldingAscii(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](Unit x, Unit y) { return FoldAscii(x) == FoldAscii(y); });
}

} // namespace platform::kernel

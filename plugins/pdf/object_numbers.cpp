#include "plugins/pdf/object_numbers.h"

#include <algorithm>
#include <string_view>

namespace pdf {
namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a non-negative integer at `at` (after any white space), saturating far above every limit;
// false when no digit stands there.
bool ReadNumber(std::string_view text, std::size_t& at, std::uint64_t& value)
{
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    if (at >= text.size() || !IsDigit(text[at]))
        return false;
    constexpr std::uint64_t kSaturated = std::uint64_t{1} << 62;
    value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at)
        value = std::min(kSaturated, value * 10 + std::uint64_t(text[at] - '0'));
    return true;
}

// Calls `check` at every place `word` starts in `text`.
template <typename Check>
bool AnyAt(std::string_view text, std::string_view word, Check check)
{
    for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        if (check(at))
            return true;
    }
    return false;
}

} // namespace

std::uint64_t MaxObjectNumbers(std::size_t size)
{
    return std::clamp<std::uint64_t>(size, kMinObjectNumbers, kMaxObjectNumbers);
}

bool DeclaresTooManyObjects(std::span<const BYTE> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::uint64_t most = MaxObjectNumbers(bytes.size());

    // "N G obj": the number before the generation, both preceded by white space ("endobj" is not one).
    const bool numberedObject = AnyAt(text, "obj", [&](std::size_t at) {
        std::size_t start = at;
        if (start == 0 || !IsSpace(text[start - 1]))
            return false;
        for (int field = 0; field < 2; ++field) {
            while (start > 0 && IsSpace(text[start - 1]))
                --start;
            const std::size_t end = start;
            while (start > 0 && IsDigit(text[start - 1]))
                --start;
            if (start == end)
                return false;
        }
        std::uint64_t number = 0;
        return ReadNumber(text, start, number) && number >= most;
    });
    if (numberedObject)
        return true;

    // "xref" and its subsections, FIRST COUNT each, COUNT entries of 20 bytes after each ("startxref"
    // is not one). Whatever stands before it: the offset after "startxref" may point into the middle
    // of a word, and the table is read from there.
    const bool table = AnyAt(text, "xref", [&](std::size_t at) {
        if (at >= 5 && text.substr(at - 5, 5) == "start")
            return false;
        std::size_t next = at + 4;
        std::uint64_t first = 0;
        std::uint64_t count = 0;
        while (ReadNumber(text, next, first) && ReadNumber(text, next, count)) {
            if (first + count > most)
                return true;
            next += std::size_t(std::min<std::uint64_t>(count * 20, text.size() - std::min(next, text.size())));
        }
        return false;
    });
    if (table)
        return true;

    // "/Size N" of a trailer or a cross-reference stream (a function's /Size is an array).
    const bool size = AnyAt(text, "/Size", [&](std::size_t at) {
        std::size_t next = at + 5;
        std::uint64_t value = 0;
        return ReadNumber(text, next, value) && value > most;
    });
    if (size)
        return true;

    // "/Index [FIRST COUNT ...]" of a cross-reference stream.
    return AnyAt(text, "/Index", [&](std::size_t at) {
        std::size_t next = at + 6;
        while (next < text.size() && IsSpace(text[next]))
            ++next;
        if (next >= text.size() || text[next] != '[')
            return false;
        ++next;
        std::uint64_t first = 0;
        std::uint64_t count = 0;
        while (ReadNumber(text, next, first) && ReadNumber(text, next, count)) {
            if (first + count > most)
                return true;
        }
        return false;
    });
}

} // namespace pdf

#include "platform/kernel/console_text.h"

#include <cstdint>

namespace platform {
namespace {

void AppendEscaped(std::string& out, std::uint32_t value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[value >> 4 & 0xF];
    out += kHex[value & 0xF];
}

// The length of the UTF-8 character starting at `at` and its value; 0 when the bytes there are no
// well-formed character.
std::size_t CharacterAt(std::string_view text, std::size_t at, std::uint32_t& value)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1
        : (lead & 0xE0) == 0xC0      ? 2
        : (lead & 0xF0) == 0xE0      ? 3
        : (lead & 0xF8) == 0xF0      ? 4
                                     : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string ConsoleText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t value = 0;
        const std::size_t length = CharacterAt(text, at, value);
        if (length == 0) {
            AppendEscaped(out, static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        const bool control = (value < 0x20 && value != '\t' && value != '\n') || (value >= 0x7F && value <= 0x9F);
        if (control)
            AppendEscaped(out, value);
        else
            out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace platform

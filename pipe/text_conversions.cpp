#include "pipe/text_conversions.h"

#include <algorithm>

namespace aio {

std::u16string WidenText(const std::string& text)
{
    const std::size_t length = std::min(text.size(), text.find('\0'));
    std::u16string wide(length, u'\0');
    for (std::size_t i = 0; i < length; ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

std::string NarrowText(const std::u16string& text)
{
    const std::size_t length = std::min(text.size(), text.find(u'\0'));
    std::string narrow(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] > 0xFF)
            break;
        narrow[i] = static_cast<char>(text[i]);
    }
    return narrow;
}

std::u16string ConsoleText(std::u16string_view text)
{
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    // Shown as the console shows a zero-terminated text: up to its first zero.
    text = text.substr(0, text.find(u'\0'));
    std::u16string shown;
    shown.reserve(text.size());
    for (const char16_t unit : text) {
        const bool control = unit < 0x20 || (unit >= 0x7F && unit < 0xA0);
        if (!control || unit == u'\t' || unit == u'\n') {
            shown.push_back(unit);
            continue;
        }
        shown.append(u"\\x");
        shown.push_back(kHex[unit >> 4]);
        shown.push_back(kHex[unit & 0xF]);
    }
    return shown;
}

} // namespace aio

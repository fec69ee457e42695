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

} // namespace aio

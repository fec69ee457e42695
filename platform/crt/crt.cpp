// The C runtime's wide-text helpers: formatted print of UTF-16 text to standard output as
// UTF-8, and case-insensitive comparison.
#include "platform/crt/crt.h"

#include "platform/kernel/host.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Widths and precisions past this are taken as this: enough for any console column, and a
// format cannot make one call allocate without bound.
constexpr int kMaxFieldWidth = 4096;

bool IsDigit(WCHAR unit)
{
    return unit >= u'0' && unit <= u'9';
}

// Reads a decimal field (width or precision) and moves past it.
int ReadNumber(const WCHAR*& p)
{
    int value = 0;
    while (IsDigit(*p)) {
        value = std::min(value * 10 + (*p - u'0'), kMaxFieldWidth);
        ++p;
    }
    return value;
}

// One conversion directive: %[-0][width][.precision][l|ll]conversion.
struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    int width = 0;
    int precision = -1;
    int longs = 0;
    WCHAR conversion = 0;
};

std::u16string Digits(unsigned long long value, unsigned base, bool upper)
{
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string digits;
    do {
        digits.push_back(static_cast<char16_t>(digitSet[value % base]));
        value /= base;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

// Pads a converted field to the directive's width: spaces on the left or right, or zeros
// between the sign and the digits.
void AppendField(std::u16string& out, const Directive& directive, std::u16string_view sign, std::u16string_view body,
                 bool zeroPadAllowed)
{
    const std::size_t length = sign.size() + body.size();
    const std::size_t padding = directive.width > 0 && static_cast<std::size_t>(directive.width) > length
        ? static_cast<std::size_t>(directive.width) - length
        : 0;
    if (directive.leftAlign) {
        out.append(sign).append(body).append(padding, u' ');
    } else if (directive.zeroPad && zeroPadAllowed) {
        out.append(sign).append(padding, u'0').append(body);
    } else {
        out.append(padding, u' ').append(sign).append(body);
    }
}

void AppendInteger(std::u16string& out, const Directive& directive, unsigned long long magnitude, bool negative)
{
    const unsigned base = directive.conversion == u'x' || directive.conversion == u'X' ? 16 : 10;
    std::u16string digits = directive.precision == 0 && magnitude == 0
        ? std::u16string()
        : Digits(magnitude, base, directive.conversion == u'X');
    if (directive.precision > 0 && digits.size() < static_cast<std::size_t>(directive.precision))
        digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), u'0');
    AppendField(out, directive, negative ? u"-" : u"", digits, directive.precision < 0);
}

// The signed argument of %d/%i. A Windows long is 32 bits: with "l" the argument is read as
// long and cut to 32 bits, so a DWORD or a 64-bit long with a 32-bit value prints the same.
long long SignedArgument(const Directive& directive, va_list& args)
{
    if (directive.longs >= 2)
        return va_arg(args, long long);
    if (directive.longs == 1)
        return static_cast<std::int32_t>(va_arg(args, long));
    return va_arg(args, int);
}

unsigned long long UnsignedArgument(const Directive& directive, va_list& args)
{
    if (directive.longs >= 2)
        return va_arg(args, unsigned long long);
    if (directive.longs == 1)
        return static_cast<std::uint32_t>(va_arg(args, unsigned long));
    return va_arg(args, unsigned int);
}

void AppendString(std::u16string& out, const Directive& directive, std::u16string_view text)
{
    if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision))
        text = text.substr(0, static_cast<std::size_t>(directive.precision));
    AppendField(out, directive, u"", text, false);
}

// Formats into UTF-16; a directive cut short by the end of the format is printed as written.
std::u16string Format(const WCHAR* format, va_list& args)
{
    std::u16string out;
    const WCHAR* p = format;
    while (*p) {
        if (*p != u'%') {
            out.push_back(*p++);
            continue;
        }
        const WCHAR* start = p++;
        if (*p == u'%') {
            out.push_back(u'%');
            ++p;
            continue;
        }
        Directive directive;
        for (;; ++p) {
            if (*p == u'-')
                directive.leftAlign = true;
            else if (*p == u'0')
                directive.zeroPad = true;
            else
                break;
        }
        directive.width = ReadNumber(p);
        if (*p == u'.') {
            ++p;
            directive.precision = ReadNumber(p);
        }
        while (*p == u'l' && directive.longs < 2) {
            ++directive.longs;
            ++p;
        }
        directive.conversion = *p;
        if (*p)
            ++p;
        switch (directive.conversion) {
        case u'd':
        case u'i': {
            const long long value = SignedArgument(directive, args);
            const unsigned long long magnitude
                = value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
            AppendInteger(out, directive, magnitude, value < 0);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
            AppendInteger(out, directive, UnsignedArgument(directive, args), false);
            break;
        case u's': {
            const WCHAR* text = va_arg(args, const WCHAR*);
            AppendString(out, directive, text ? std::u16string_view(text) : std::u16string_view(u"(null)"));
            break;
        }
        case u'S': {
            // 8-bit text in the ANSI code page, which is ISO 8859-1 here: byte = code unit.
            const char* text = va_arg(args, const char*);
            std::u16string wide;
            for (const char* c = text ? text : "(null)"; *c; ++c)
                wide.push_back(static_cast<unsigned char>(*c));
            AppendString(out, directive, wide);
            break;
        }
        case u'c': {
            const char16_t unit = static_cast<char16_t>(va_arg(args, int));
            AppendString(out, directive, std::u16string_view(&unit, 1));
            break;
        }
        default:
            // Not a directive this runtime knows: print it as written, take no argument.
            out.append(start, p);
            break;
        }
    }
    return out;
}

// Folds ASCII and Latin-1 capital letters to small ones (the multiplication sign is no letter).
char16_t FoldCase(char16_t unit)
{
    if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7)
        return static_cast<char16_t>(unit + 0x20);
    return platform::kernel::FoldAscii(unit);
}

} // namespace

// Formatted print of UTF-16 text to standard output as UTF-8.
int wprintf(const WCHAR* format, ...)
{
    if (!format)
        return -1;
    va_list args;
    va_start(args, format);
    const std::u16string text = Format(format, args);
    va_end(args);

    const std::string utf8 = platform::Utf16ToUtf8(text);
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), stdout) == utf8.size();
    // Flushed at once: a console line must be out before anything that follows can crash.
    const bool flushed = std::fflush(stdout) == 0;
    return written && flushed ? static_cast<int>(text.size()) : -1;
}

// Case-insensitive comparison of two zero-terminated UTF-16 strings.
int _wcsicmp(const WCHAR* left, const WCHAR* right)
{
    if (!left || !right)
        return (left ? 1 : 0) - (right ? 1 : 0);
    for (;; ++left, ++right) {
        const char16_t a = FoldCase(*left);
        const char16_t b = FoldCase(*right);
        if (a != b || a == 0)
            return static_cast<int>(a) - static_cast<int>(b);
    }
}

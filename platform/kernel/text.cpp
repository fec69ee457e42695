// UTF-8/UTF-16 conversions and MultiByteToWideChar.
#include "platform/kernel/text.h"

#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <cstring>

namespace platform::kernel {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One decoded UTF-8 sequence: its code point (valid only when well formed) and its length in
// bytes. An ill-formed sequence is as long as its maximal well-formed beginning, at least one byte.
struct Utf8Sequence {
    char32_t codePoint;
    std::size_t length;
    bool valid;
};

// Decodes the sequence at the start of text (which is not empty), after the table of
// well-formed byte sequences in the Unicode standard.
Utf8Sequence NextSequence(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return {lead, 1, true};

    std::size_t trailCount = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailCount = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailCount = 2;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong below U+0800
        else if (lead == 0xED)
            high = 0x9F; // surrogates U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailCount = 3;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong below U+10000
        else if (lead == 0xF4)
            high = 0x8F; // past U+10FFFF
    } else {
        return {0, 1, false};
    }

    for (std::size_t i = 1; i <= trailCount; ++i) {
        if (i >= text.size())
            return {0, i, false};
        const auto trail = static_cast<unsigned char>(text[i]);
        if (trail < low || trail > high)
            return {0, i, false};
        low = 0x80;
        high = 0xBF;
        codePoint = (codePoint << 6) | (trail & 0x3F);
    }
    return {codePoint, trailCount + 1, true};
}

void AppendUtf16(char32_t codePoint, std::u16string& out)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

void AppendUtf8(char32_t codePoint, std::string& out)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace

// Decodes UTF-8 into UTF-16, appending to out.
bool DecodeUtf8(std::string_view text, BadUtf8 mode, std::u16string& out)
{
    while (!text.empty()) {
        const Utf8Sequence sequence = NextSequence(text);
        if (sequence.valid)
            AppendUtf16(sequence.codePoint, out);
        else if (mode == BadUtf8::Reject)
            return false;
        else
            out.push_back(kReplacement);
        text.remove_prefix(sequence.length);
    }
    return true;
}

// True when the UTF-16 text has no unpaired surrogate.
bool IsWellFormedUtf16(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            return false;
    }
    return true;
}

} // namespace platform::kernel

namespace platform {

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text, Noncharacters noncharacters)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        char32_t codePoint = unit;
        if (kernel::IsHighSurrogate(unit) && i + 1 < text.size() && kernel::IsLowSurrogate(text[i + 1])) {
            codePoint = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (kernel::IsHighSurrogate(unit) || kernel::IsLowSurrogate(unit)) {
            codePoint = kernel::kReplacement;
        }
        const bool noncharacter = (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) || (codePoint & 0xFFFE) == 0xFFFE;
        if (noncharacter && noncharacters == Noncharacters::Replace)
            codePoint = kernel::kReplacement;
        kernel::AppendUtf8(codePoint, out);
    }
    return out;
}

// Strict UTF-8 to UTF-16; on malformed input returns false and leaves out untouched.
bool Utf8ToUtf16(std::string_view text, std::u16string& out)
{
    std::u16string decoded;
    if (!kernel::DecodeUtf8(text, kernel::BadUtf8::Reject, decoded))
        return false;
    out = std::move(decoded);
    return true;
}

} // namespace platform

// Converts 8-bit text to UTF-16 (CP_UTF8 is strict; CP_ACP is ISO 8859-1).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteStr, int multiByteCount, LPWSTR wideCharStr,
                        int wideCharCount)
{
    if (!multiByteStr || multiByteCount == 0 || multiByteCount < -1 || wideCharCount < 0
        || (!wideCharStr && wideCharCount > 0) || (codePage != CP_UTF8 && codePage != CP_ACP)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }

    // A count of -1 takes the text up to and including its terminating zero.
    const std::size_t length
        = multiByteCount == -1 ? std::strlen(multiByteStr) + 1 : static_cast<std::size_t>(multiByteCount);
    const std::string_view text(multiByteStr, length);
    std::u16string wide;
    if (codePage == CP_ACP) {
        wide.reserve(length);
        for (const char byte : text)
            wide.push_back(static_cast<unsigned char>(byte));
    } else {
        const auto mode
            = (flags & MB_ERR_INVALID_CHARS) ? platform::kernel::BadUtf8::Reject : platform::kernel::BadUtf8::Replace;
        if (!platform::kernel::DecodeUtf8(text, mode, wide)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    }

    if (wideCharCount == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(wideCharCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(wide.begin(), wide.end(), wideCharStr);
    return static_cast<int>(wide.size());
}

// MultiByteToWideChar and the UTF-8/UTF-16 conversions of the host layer.
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"

#include <string>

#include <gtest/gtest.h>

namespace {

constexpr DWORD kFailed = 0xFFFFFFFF;

// The converted text, or empty with error set to the last error when the call fails.
std::u16string Convert(UINT codePage, DWORD flags, std::string_view bytes, DWORD& error)
{
    WCHAR out[64];
    error = kFailed;
    const int count = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out, 64);
    if (count == 0) {
        error = GetLastError();
        return {};
    }
    return std::u16string(out, static_cast<std::size_t>(count));
}

TEST(MultiByteToWideChar, Utf8IsStrictWithTheErrorFlagAndReplacesWithout)
{
    struct Case {
        const char* bytes;
        std::u16string replaced;
    };
    const Case cases[] = {
        {"\xC0\xAF", u"\xFFFD\xFFFD"},                     // overlong "/"
        {"\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},           // overlong three-byte form
        {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},           // a surrogate
        {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"}, // past U+10FFFF
        {"a\xE2\x82", u"a\xFFFD"},                         // truncated at the end
        {"\xE2\x82"
         "b",
         u"\xFFFD"
         "b"}, // truncated before another character
        {"\xFF", u"\xFFFD"},
        {"\x80", u"\xFFFD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        DWORD error = 0;
        EXPECT_EQ(Convert(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes, error), u"");
        EXPECT_EQ(error, ERROR_NO_UNICODE_TRANSLATION);
        EXPECT_EQ(Convert(CP_UTF8, 0, c.bytes, error), c.replaced);
        EXPECT_EQ(error, kFailed);
    }

    DWORD error = 0;
    EXPECT_EQ(Convert(CP_UTF8, MB_ERR_INVALID_CHARS, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", error),
              u"A\u00E9\u20AC\U0001F600");
    EXPECT_EQ(Convert(CP_UTF8, MB_ERR_INVALID_CHARS, "\xF4\x8F\xBF\xBF", error), u"\U0010FFFF");
}

TEST(MultiByteToWideChar, AnsiIsLatin1)
{
    DWORD error = 0;
    EXPECT_EQ(Convert(CP_ACP, 0, "\xE9\x80\xFF", error), u"\u00E9\u0080\u00FF");
}

TEST(MultiByteToWideChar, CountsSizesAndArguments)
{
    const char* text = "Gr\xC3\xBC\xC3\x9F"
                       "e";
    // -1: up to and including the zero, which is counted.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 6);
    WCHAR out[6];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 6), 6);
    EXPECT_EQ(std::u16string(out), u"Grüße");
    // A count that cuts "ü" in half leaves a truncated sequence.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, out, 6), 3);
    EXPECT_EQ(out[2], u'\xFFFD');

    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 5), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 0, out, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, out, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -2, out, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, nullptr, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, text, 3, out, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x1, text, 3, out, 6), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST(HostText, Utf16AndUtf8)
{
    EXPECT_EQ(platform::Utf16ToUtf8(u"A\u00E9\U0001F600"), "A\xC3\xA9\xF0\x9F\x98\x80");
    // Unpaired surrogates, high and low, become U+FFFD.
    EXPECT_EQ(platform::Utf16ToUtf8(std::u16string{u'x', char16_t(0xD83D), u'y', char16_t(0xDE00)}),
              "x\xEF\xBF\xBDy\xEF\xBF\xBD");

    std::u16string out = u"kept";
    EXPECT_FALSE(platform::Utf8ToUtf16("ok\xC0\x80", out));
    EXPECT_EQ(out, u"kept");
    EXPECT_TRUE(platform::Utf8ToUtf16("\xE2\x82\xAC", out));
    EXPECT_EQ(out, u"\u20AC");
}

} // namespace

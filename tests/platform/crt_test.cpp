// wprintf output as the console shows it, and _wcsicmp.
#include "platform/crt/crt.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Runs print with standard output sent to a temporary file; returns what it wrote.
template <typename Print>
std::string CaptureStdout(Print print, int* result = nullptr)
{
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(capture), STDOUT_FILENO);
    const int value = print();
    // Nothing is flushed here: wprintf must have written its line out already.
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    if (result)
        *result = value;
    std::string text;
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(capture);
    return text;
}

TEST(Wprintf, PipeMessagesOfTheTool)
{
    const DWORD notFound = 2;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"Unable to open named pipe w/err 0x%08lx\n", notFound); }),
              "Unable to open named pipe w/err 0x00000002\n");
    const DWORD big = 0xC000A0F1u;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"ReadFile from pipe failed w/err 0x%08lx\n", big); }),
              "ReadFile from pipe failed w/err 0xc000a0f1\n");

    const DWORD bytes = 22;
    const char16_t* text = u"Drucker Grüße €\U0001F600";
    int units = 0;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"Receive %ld bytes from server: \"%s\"\n", bytes, text); }, &units),
              "Receive 22 bytes from server: \"Drucker Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC\xF0\x9F\x98\x80\"\n");
    EXPECT_EQ(units, 50); // UTF-16 code units, the surrogate pair counting two
    EXPECT_EQ(CaptureStdout([] { return wprintf(u"Could not open pipe: 5 second wait timed out."); }),
              "Could not open pipe: 5 second wait timed out.");
}

TEST(Wprintf, NumbersFollowTheirDirectives)
{
    // %ld is a 32-bit long: a DWORD of all ones is -1, whatever width long has here.
    const DWORD allOnes = 0xFFFFFFFFu;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"%ld %lu %lx", allOnes, allOnes, allOnes); }),
              "-1 4294967295 ffffffff");
    const long negative = -5;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"%ld|%5d|%-5d|%05d|%05d", negative, 42, 42, 42, -42); }),
              "-5|   42|42   |00042|-0042");
    EXPECT_EQ(CaptureStdout([] { return wprintf(u"%x %X %u %i %.3d %.0d", 255u, 255u, 3000000000u, -7, 5, 0); }),
              "ff FF 3000000000 -7 005 ");
    const long long huge = -9000000000LL;
    const unsigned long long uhuge = 0x123456789ULL;
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"%lld %llx", huge, uhuge); }), "-9000000000 123456789");
}

TEST(Wprintf, TextDirectivesAndOddFormats)
{
    const char16_t* nothing = nullptr;
    EXPECT_EQ(CaptureStdout([&] {
                  return wprintf(u"[%s][%6s][%-4s|][%.2s][%S][%c][%%]", nothing, u"ab", u"x", u"wxyz", "\xE9t\xE9",
                                 u'\u00E9');
              }),
              "[(null)][    ab][x   |][wx][\xC3\xA9t\xC3\xA9][\xC3\xA9][%]");
    // Unknown directives and one cut short by the end are printed as written.
    EXPECT_EQ(CaptureStdout([] { return wprintf(u"%q and 100%"); }), "%q and 100%");
    // A lone surrogate cannot be written as UTF-8: it shows as U+FFFD.
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', 0};
    EXPECT_EQ(CaptureStdout([&] { return wprintf(u"%s", lone); }),
              "a\xEF\xBF\xBD"
              "b");

    int result = 0;
    EXPECT_EQ(CaptureStdout([] { return wprintf(static_cast<const WCHAR*>(nullptr)); }, &result), "");
    EXPECT_EQ(result, -1);
}

TEST(Wcsicmp, FoldsAsciiAndLatin1Only)
{
    EXPECT_EQ(_wcsicmp(u"-A", u"-a"), 0);
    EXPECT_EQ(_wcsicmp(u"-C", u"-c"), 0);
    EXPECT_GT(_wcsicmp(u"-ab", u"-a"), 0);
    EXPECT_LT(_wcsicmp(u"-a", u"-ab"), 0);
    EXPECT_LT(_wcsicmp(u"-a", u"-B"), 0);
    EXPECT_EQ(_wcsicmp(u"ÉCOLE Ñ", u"école ñ"), 0);
    // The multiplication and division signs sit where letters would fold, but are no letters.
    EXPECT_NE(_wcsicmp(u"\u00D7", u"\u00F7"), 0);
    EXPECT_NE(_wcsicmp(u"[", u"{"), 0);
    EXPECT_EQ(_wcsicmp(nullptr, nullptr), 0);
    EXPECT_LT(_wcsicmp(nullptr, u""), 0);
    EXPECT_GT(_wcsicmp(u"", nullptr), 0);
}

} // namespace

#include "pipe/job_request.h"
#include "pipe/text_conversions.h"

#include <gtest/gtest.h>

namespace {

using aio::NarrowText;
using aio::ParseJobRequest;
using aio::PrintJobRequest;
using aio::WidenText;

TEST(TextConversionsTest, MapByteForCodeUnitUpToTheFirstZero)
{
    EXPECT_EQ(WidenText(""), u"");
    EXPECT_EQ(NarrowText(u""), "");
    EXPECT_EQ(WidenText("a\xE9"
                        "b"),
              std::u16string(u"a\u00E9b"));
    EXPECT_EQ(WidenText(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(NarrowText(u"a\u00FFb"),
              "a\xFF"
              "b");
    EXPECT_EQ(NarrowText(std::u16string(u"ab\0cd", 5)), "ab");
    // UTF-8 bytes travel one per code unit and come back unchanged.
    EXPECT_EQ(NarrowText(WidenText("\xC3\xA9")), "\xC3\xA9");
}

TEST(TextConversionsTest, UnitAboveLatin1ZeroesTheRestButKeepsTheLength)
{
    EXPECT_EQ(NarrowText(u"a\u20ACbc"), std::string("a\0\0\0", 4));
    // Both halves of a surrogate pair are above 0xFF.
    EXPECT_EQ(NarrowText(u"x\U0001F600y"), std::string("x\0\0\0", 4));
    EXPECT_EQ(WidenText(NarrowText(u"ab\u0100c")), u"ab");
}

TEST(ParseJobRequestTest, FillsEveryFieldAndOptionsInOrder)
{
    std::u16string printer;
    PrintJobRequest job;
    ASSERT_TRUE(
        ParseJobRequest(u"Office{00}/tmp/a.pdf{11}application/pdf{22}<t/>{33}spare{44}Doc{55}A{}B=1{}", printer, job));
    EXPECT_EQ(printer, u"Office");
    EXPECT_EQ(job.file_path, u"/tmp/a.pdf");
    EXPECT_EQ(job.mime_type, "application/pdf");
    EXPECT_EQ(job.print_ticket, "<t/>");
    EXPECT_EQ(job.spare_text, "spare");
    EXPECT_EQ(job.document_name, "Doc");
    EXPECT_EQ(job.options, (std::vector<std::string>{"A", "B=1"}));
}

TEST(ParseJobRequestTest, EmptyFieldsComeOutEmpty)
{
    std::u16string printer = u"old";
    PrintJobRequest job;
    job.file_path = u"old";
    job.print_ticket = "old";
    ASSERT_TRUE(ParseJobRequest(u"{00}{11}image/png{22}{33}{44}{55}", printer, job));
    EXPECT_EQ(printer, u"");
    EXPECT_EQ(job.file_path, u"");
    EXPECT_EQ(job.mime_type, "image/png");
    EXPECT_EQ(job.print_ticket, "");
    EXPECT_EQ(job.spare_text, "");
    EXPECT_EQ(job.document_name, "");
    EXPECT_TRUE(job.options.empty());
}

TEST(ParseJobRequestTest, OptionListEndsAtAnEmptyOptionOrMissingTerminator)
{
    const std::u16string head = u"P{00}F{11}T{22}K{33}S{44}N{55}";
    struct Case {
        std::u16string options;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {u"", {}},
        {u"A{}B{}C", {"A", "B"}},
        {u"{}A{}", {}},
        {u"A{}{}B{}", {"A"}},
    };
    for (const Case& c : cases) {
        std::u16string printer;
        PrintJobRequest job;
        EXPECT_TRUE(ParseJobRequest(head + c.options, printer, job));
        EXPECT_EQ(job.options, c.expected);
    }
}

TEST(ParseJobRequestTest, MissingMarkerKeepsEarlierFieldsAndLeavesLaterOnes)
{
    std::u16string printer = u"untouched";
    PrintJobRequest job;
    job.document_name = "kept";
    EXPECT_FALSE(ParseJobRequest(u"", printer, job));
    EXPECT_EQ(printer, u"untouched");

    EXPECT_FALSE(ParseJobRequest(u"no markers at all", printer, job));
    EXPECT_EQ(printer, u"untouched");

    EXPECT_FALSE(ParseJobRequest(u"P{00}F{11}image/png{22}ticket{44}N{55}", printer, job));
    EXPECT_EQ(printer, u"P");
    EXPECT_EQ(job.file_path, u"F");
    EXPECT_EQ(job.mime_type, "image/png");
    EXPECT_EQ(job.print_ticket, "");
    EXPECT_EQ(job.document_name, "kept");
    EXPECT_TRUE(job.options.empty());
}

TEST(ParseJobRequestTest, MarkerBeforeThePreviousOneTakesTheRestOfTheText)
{
    std::u16string printer;
    PrintJobRequest job;
    // "{11}" first occurs before "{00}": the file path runs from after "{00}" to the end.
    EXPECT_TRUE(ParseJobRequest(u"{11}P{00}F{22}T{33}K{44}S{55}", printer, job));
    EXPECT_EQ(printer, u"{11}P");
    EXPECT_EQ(job.file_path, u"F{22}T{33}K{44}S{55}");
    EXPECT_EQ(job.mime_type, "P{00}F");
}

TEST(ParseJobRequestTest, TextAboveLatin1HidesEveryLaterMarker)
{
    std::u16string printer = u"untouched";
    PrintJobRequest job;
    EXPECT_FALSE(ParseJobRequest(u"Dru\u0107ker{00}F{11}T{22}K{33}S{44}N{55}", printer, job));
    EXPECT_EQ(printer, u"untouched");

    // Latin-1 text and UTF-8 bytes sent one per code unit survive.
    EXPECT_TRUE(ParseJobRequest(u"B\u00FCro{00}/t/\u00E9.pdf{11}T{22}K{33}S{44}\u00C3\u00A9{55}", printer, job));
    EXPECT_EQ(printer, u"B\u00FCro");
    EXPECT_EQ(job.file_path, u"/t/\u00E9.pdf");
    EXPECT_EQ(job.document_name, "\xC3\xA9");
}

TEST(HasOptionTest, MatchesKeyOrKeyWithAnyValue)
{
    PrintJobRequest job;
    EXPECT_FALSE(job.HasOption("ShrinkToFit"));
    // The key is the text before "=", compared whole.
    job.options = {"ShrinkToFitX", "ShrinkToFitX=1", "ShrinkTo=1", "shrinktofit", "=x"};
    EXPECT_FALSE(job.HasOption("ShrinkToFit"));
    EXPECT_FALSE(job.HasOption(""));
    for (const char* option : {"ShrinkToFit", "ShrinkToFit=1", "ShrinkToFit=0"}) {
        job.options = {"PaperSizeAuto", option};
        EXPECT_TRUE(job.HasOption("ShrinkToFit")) << option;
    }
}

} // namespace

#include "tests/platform/spooler_test_root.h"

#include <gmock/gmock.h>

#include <algorithm>

using platform::FindPrinter;
using platform::InstalledPrinters;
using platform::PaperDefinition;
using ::testing::HasSubstr;

namespace {

struct ExpectedPaper {
    std::int16_t number;
    std::u16string name;
    std::int32_t width;
    std::int32_t length;
    std::int32_t margin; // the same on every side, micrometres
};

void ExpectPapers(const std::vector<PaperDefinition>& papers, const std::vector<ExpectedPaper>& expected)
{
    ASSERT_EQ(papers.size(), expected.size());
    for (std::size_t i = 0; i < papers.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(papers[i].number, expected[i].number);
        EXPECT_EQ(papers[i].name, expected[i].name);
        EXPECT_EQ(papers[i].width, expected[i].width);
        EXPECT_EQ(papers[i].length, expected[i].length);
        EXPECT_EQ(papers[i].marginLeft, expected[i].margin);
        EXPECT_EQ(papers[i].marginTop, expected[i].margin);
        EXPECT_EQ(papers[i].marginRight, expected[i].margin);
        EXPECT_EQ(papers[i].marginBottom, expected[i].margin);
    }
}

std::vector<std::u16string> Names(const std::vector<platform::PrinterDefinition>& printers)
{
    std::vector<std::u16string> names;
    for (const auto& printer : printers)
        names.push_back(printer.Name());
    return names;
}

} // namespace

using SpoolerRegistryTest = SpoolerRootTest;

TEST_F(SpoolerRegistryTest, ReadsTheOfficeSampleExactly)
{
    InstallSamples();
    const auto office = FindPrinter(u"Quillon Office");
    ASSERT_TRUE(office);
    EXPECT_EQ(office->Resolutions(), std::vector<std::int32_t>{600});
    ExpectPapers(office->Papers(),
                 {{1, u"Letter", 2159, 2794, 4230},
                  {5, u"Legal", 2159, 3556, 4230},
                  {9, u"A4", 2100, 2970, 4230},
                  {11, u"A5", 1480, 2100, 4230}});
    EXPECT_EQ(office->DefaultPaper().number, 1);
    EXPECT_EQ(office->DefaultOrientation(), 1);
    EXPECT_TRUE(office->Color());
    EXPECT_TRUE(office->Duplex());
    EXPECT_EQ(office->CopiesMin(), 1);
    EXPECT_EQ(office->CopiesMax(), 999);
    EXPECT_TRUE(office->TakesJpeg());
    EXPECT_FALSE(office->TakesPng());
}

TEST_F(SpoolerRegistryTest, ReadsThePhotoSampleExactlyInDriverOrder)
{
    InstallSamples();
    const auto photo = FindPrinter(u"Quillon Photo");
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->Resolutions(), std::vector<std::int32_t>{300});
    ExpectPapers(photo->Papers(),
                 {{256, u"4x6", 1016, 1524, 3000},
                  {257, u"4x6 Borderless", 1016, 1524, 0},
                  {258, u"5x7", 1270, 1778, 3000},
                  {259, u"5x7 Borderless", 1270, 1778, 0},
                  {1, u"Letter", 2159, 2794, 3000}});
    EXPECT_TRUE(photo->Papers()[1].IsBorderless());
    EXPECT_FALSE(photo->Papers()[0].IsBorderless());
    EXPECT_EQ(photo->DefaultPaper().number, 1);
    EXPECT_TRUE(photo->Color());
    EXPECT_FALSE(photo->Duplex());
    EXPECT_EQ(photo->CopiesMax(), 99);
    EXPECT_TRUE(photo->TakesJpeg());
    EXPECT_FALSE(photo->TakesPng());
}

TEST_F(SpoolerRegistryTest, ListsPrintersByNameAndFindsOnlyExactNames)
{
    InstallSamples();
    Install("zz-first.printer", MinimalPrinter("Another Printer"));
    EXPECT_EQ(Names(InstalledPrinters()),
              (std::vector<std::u16string>{u"Another Printer", u"Quillon Office", u"Quillon Photo"}));
    EXPECT_FALSE(FindPrinter(u"quillon office"));
    EXPECT_FALSE(FindPrinter(u"Quillon"));
    EXPECT_FALSE(FindPrinter(u""));
}

TEST_F(SpoolerRegistryTest, ReadsFilesWhenAskedSoInstallAndRemoveShowAtOnce)
{
    EXPECT_TRUE(InstalledPrinters().empty());
    Install("a.printer", MinimalPrinter("Late Printer"));
    EXPECT_TRUE(FindPrinter(u"Late Printer"));
    std::filesystem::remove(std::filesystem::path(platform::PrinterFolder()) / "a.printer");
    EXPECT_FALSE(FindPrinter(u"Late Printer"));
}

TEST_F(SpoolerRegistryTest, NoFolderMeansNoPrintersAndNoMessage)
{
    std::filesystem::remove_all(platform::PrinterFolder());
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(InstalledPrinters().empty());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SpoolerRegistryTest, ReadsTheFormatsVariants)
{
    Install("variants.printer",
            "\xEF\xBB\xBF; written by hand\n[printer]\nname = Imprimante \xC3\xA9t\xC3\xA9\nresolution = 1200\n"
            "default-paper = 300\ndefault-orientation = landscape\ncopies = 2 - 5\n\n"
            "[paper 300]\nname = Strip\nsize = 50 x 200.0\nmargins = 1 2.5 3.125 0.001\n");
    const auto printer = FindPrinter(u"Imprimante \u00E9t\u00E9");
    ASSERT_TRUE(printer);
    EXPECT_EQ(printer->DefaultOrientation(), 2);
    EXPECT_EQ(printer->CopiesMin(), 2);
    EXPECT_EQ(printer->CopiesMax(), 5);
    EXPECT_FALSE(printer->Color());
    EXPECT_FALSE(printer->Duplex());
    const PaperDefinition& strip = printer->Papers().at(0);
    EXPECT_EQ(strip.width, 500);
    EXPECT_EQ(strip.length, 2000);
    EXPECT_EQ(strip.marginLeft, 1000);
    EXPECT_EQ(strip.marginTop, 2500);
    EXPECT_EQ(strip.marginRight, 3125);
    EXPECT_EQ(strip.marginBottom, 1);
}

TEST_F(SpoolerRegistryTest, NamesOfExactlyTheLimitAreKept)
{
    const std::string paperName(64, 'p');
    Install("long.printer",
            "[printer]\nname = " + std::string(80, 'n')
                + "\nresolution = 300\ndefault-paper = 9\n[paper 9]\nname = " + paperName + "\nsize = 210 x 297\n");
    const auto printer = FindPrinter(std::u16string(80, u'n'));
    ASSERT_TRUE(printer);
    EXPECT_EQ(printer->Papers().at(0).name.size(), 64u);
}

struct MalformedCase {
    const char* label;
    std::string text;
    const char* fault; // part of the message
};

class SpoolerMalformedTest : public SpoolerRootTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(SpoolerMalformedTest, IsSkippedWithOneMessageWhileTheOthersStay)
{
    InstallSamples();
    Install("zz-broken.printer", GetParam().text);
    ::testing::internal::CaptureStderr();
    const auto names = Names(InstalledPrinters());
    FindPrinter(u"Quillon Office"); // a second read does not repeat the message
    const std::string messages = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(names, (std::vector<std::u16string>{u"Quillon Office", u"Quillon Photo"}));
    EXPECT_THAT(messages, HasSubstr("zz-broken.printer skipped"));
    EXPECT_THAT(messages, HasSubstr(GetParam().fault));
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
}

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

const std::string kGood = MinimalPrinter("Broken");

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Faults, SpoolerMalformedTest,
    ::testing::Values(
        MalformedCase{"NoName", Replace(kGood, "name = Broken\n", ""), "has no 'name'"},
        MalformedCase{"EmptyFile", "", "no [printer] section"},
        MalformedCase{"NoPapers", "[printer]\nname = Broken\nresolution = 300\ndefault-paper = 9\n", "no [paper N]"},
        MalformedCase{"DefaultNotListed", Replace(kGood, "default-paper = 9", "default-paper = 5"),
                      "default paper 5 is not among"},
        MalformedCase{"BadResolution", Replace(kGood, "resolution = 300", "resolution = 3OO"), "resolution"},
        MalformedCase{"NegativeResolution", Replace(kGood, "resolution = 300", "resolution = -300"), "resolution"},
        MalformedCase{"ResolutionOverLimit", Replace(kGood, "resolution = 300", "resolution = 99999999999"),
                      "resolution"},
        MalformedCase{"SizeTooPrecise", Replace(kGood, "210 x 297", "210.05 x 297"), "size"},
        MalformedCase{"SizeMissingLength", Replace(kGood, "210 x 297", "210"), "size"},
        MalformedCase{"SizeTooLarge", Replace(kGood, "210 x 297", "210 x 3300"), "size"},
        MalformedCase{"ZeroSize", Replace(kGood, "210 x 297", "0 x 297"), "size"},
        MalformedCase{"MarginsTooPrecise", Replace(kGood, "margins = 5", "margins = 4.2301"), "margins"},
        MalformedCase{"ThreeMargins", Replace(kGood, "margins = 5", "margins = 1 2 3"), "margins"},
        MalformedCase{"MarginsCoverTheSheet", Replace(kGood, "margins = 5", "margins = 105"), "no printable area"},
        MalformedCase{"PaperNameTooLong", Replace(kGood, "name = A4", "name = " + std::string(65, 'x')),
                      "longer than 64"},
        MalformedCase{"PrinterNameTooLong", Replace(kGood, "name = Broken", "name = " + std::string(81, 'x')),
                      "longer than 80"},
        MalformedCase{"NameNotUtf8",
                      Replace(kGood, "name = Broken",
                              "name = Br\xFF"
                              "ken"),
                      "not valid UTF-8"},
        MalformedCase{"NameIsAPath", Replace(kGood, "name = Broken", "name = ../Broken"), "contains '/'"},
        MalformedCase{"DuplicatePaperSection", kGood + "[paper 9]\nname = Again\nsize = 1 x 1\n", "duplicate section"},
        MalformedCase{"SameNumberTwice", kGood + "[paper 09]\nname = Again\nsize = 100 x 100\n", "listed twice"},
        MalformedCase{"PaperNumberZero", kGood + "[paper 0]\nname = Zero\nsize = 100 x 100\n", "paper number"},
        MalformedCase{"UnknownKey", Replace(kGood, "resolution = 300", "resolution = 300\ncolour = yes"),
                      "unknown key 'colour'"},
        MalformedCase{"UnknownSection", kGood + "[tray 1]\nname = Upper\n", "unknown section"},
        MalformedCase{"BadBoolean", Replace(kGood, "resolution = 300", "resolution = 300\nduplex = maybe"), "duplex"},
        MalformedCase{"CopiesUpsideDown", Replace(kGood, "resolution = 300", "resolution = 300\ncopies = 9-1"),
                      "copies"},
        MalformedCase{"BadOrientation",
                      Replace(kGood, "resolution = 300", "resolution = 300\ndefault-orientation = sideways"),
                      "default-orientation"},
        MalformedCase{"KeyOutsideSection", "name = Broken\n" + kGood, "outside a section"},
        MalformedCase{"NotIni", "[printer\nname = Broken\n", "line 1"},
        MalformedCase{"DuplicatePrinterName", MinimalPrinter("Quillon Office"), "already defined by"},
        MalformedCase{"TooLarge", kGood + std::string(70 * 1024, '#'), "larger than"}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.label); });

TEST_F(SpoolerRegistryTest, AFolderNamedLikeADefinitionIsSkipped)
{
    InstallSamples();
    std::filesystem::create_directory(std::filesystem::path(platform::PrinterFolder()) / "folder.printer");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(InstalledPrinters().size(), 2u);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("folder.printer skipped: not a regular file"));
}

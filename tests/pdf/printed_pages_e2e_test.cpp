// PDF documents printed through quillon-service and the tool: the job's pages looked at as a person
// would, at a viewer's 100 dpi and at 300 dpi, against the source; its words and fonts; the page
// that goes as a picture; a real manual where the machine has one; a hostile page.
#include "tests/e2e/e2e_support.h"
#include "tests/pdf/page_comparison.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/spool/print_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace quillon::e2e;
using print_test::Compare;
using print_test::Comparison;
using print_test::Darkness;
using print_test::Raster;
using print_test::Words;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr char kPrinter[] = "Vector Office";

class PrintedPages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root_ = new TempRoot;
        print_test::InstallPrinter(root_->Path(), kPrinter, 600, "4.23");
        source_ = root_->Path() + "/features.pdf";
        WriteFile(source_, pdf_test::FeaturePdf());
        job_ = Print(source_);
        // The landscape page as the printer turns it onto the portrait sheet: a quarter
        // counter-clockwise, for the source to be read back the same way.
        turned_ = root_->Path() + "/turned.pdf";
        const std::string command = "qpdf --rotate=-90:3 '" + source_ + "' '" + turned_ + "'";
        if (std::system(command.c_str()) != 0)
            turned_.clear();
    }
    static void TearDownTestSuite()
    {
        delete root_;
        root_ = nullptr;
    }

    // Prints a document; the job's PDF, or empty when the job failed.
    static std::string Print(const std::string& document)
    {
        const RunResult result = RunProgram({kService, "print", kPrinter, document, "--quiet"}, root_->Path());
        std::istringstream lines(result.out);
        std::string id, path;
        std::getline(lines, id);
        std::getline(lines, path);
        return result.ExitedWith(0) && fs::exists(path) ? path : std::string();
    }

    static TempRoot* root_;
    static std::string source_;
    static std::string turned_;
    static std::string job_;
};

TempRoot* PrintedPages::root_ = nullptr;
std::string PrintedPages::source_;
std::string PrintedPages::turned_;
std::string PrintedPages::job_;

TEST_F(PrintedPages, EveryPageLooksLikeItsSourceAtAViewersResolutionAndAtThreeHundredDpi)
{
    ASSERT_FALSE(job_.empty());
    ASSERT_FALSE(turned_.empty());
    ASSERT_EQ(print_test::PageCount(job_), 4);
    for (int dpi : {100, 300}) {
        for (int page = 1; page <= 4; ++page) {
            SCOPED_TRACE("page " + std::to_string(page) + " at " + std::to_string(dpi) + " dpi");
            const Raster wanted = print_test::RenderPage(page == 3 ? turned_ : source_, page, dpi);
            const Raster printed = print_test::RenderPage(job_, page, dpi);
            ASSERT_EQ(printed.width, wanted.width);
            ASSERT_EQ(printed.height, wanted.height);
            const Comparison comparison = Compare(wanted, printed, dpi);
            // The printer smooths the pictures it stretches (page 2's small images, the resampled
            // pieces of page 4), which the source leaves sharp: their edges differ a little more.
            EXPECT_LT(comparison.differingPatches, page == 2 || page == 4 ? 0.015 : 0.002);
            // Shapes and text are drawn as the source draws them: no stretch of rows loses or
            // gains ink. (The picture page's thin lines are resampled, lighter: the next test.)
            if (page != 4) {
                EXPECT_LT(comparison.worstLoss, 0.3);
                EXPECT_LT(comparison.worstGain, 0.03);
            }
        }
    }
}

TEST_F(PrintedPages, TheRulesAndLinesOfThePicturePageAreWholeAtAViewersResolution)
{
    ASSERT_FALSE(job_.empty());
    // The text lines every 14 points, each with a 0.4-point rule 3 points below its baseline, drawn
    // as a picture and looked at with a viewer's 100 dpi: every rule still runs right across from
    // 80 to 530 points (resampled, it is lighter than the source's, never gone), and every line of
    // text keeps its ink, nothing of it cut away or painted over.
    const Raster wanted = print_test::RenderPage(source_, 4, 100);
    const Raster printed = print_test::RenderPage(job_, 4, 100);
    const int left = 80 * 100 / 72;
    const int right = 530 * 100 / 72;
    auto ink = [](const Raster& raster, int top, int bottom, int x0, int x1) {
        long sum = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = x0; x < x1; ++x)
                sum += Darkness(raster.At(x, y));
        return sum;
    };
    for (int line = 0; line < 40; ++line) {
        SCOPED_TRACE("line " + std::to_string(line));
        const int rule = int((75 + 14.0 * line) * 100 / 72 + 0.5);
        long darkestWanted = 0, darkestPrinted = 0;
        for (int y = rule - 2; y <= rule + 2; ++y) {
            darkestWanted = std::max(darkestWanted, ink(wanted, y, y + 1, left, right));
            darkestPrinted = std::max(darkestPrinted, ink(printed, y, y + 1, left, right));
        }
        EXPECT_GT(darkestPrinted, darkestWanted * 4 / 10);
        for (int x = left; x < right; x += 10)
            EXPECT_GT(ink(printed, rule - 2, rule + 3, x, x + 10), 10 * 200) << "at column " << x;
        const int baseline = int((72 + 14.0 * line) * 100 / 72 + 0.5);
        const long textWanted = ink(wanted, baseline - 10, baseline + 2, left, right);
        const long textPrinted = ink(printed, baseline - 10, baseline + 2, left, right);
        EXPECT_GT(textPrinted, textWanted * 8 / 10);
        EXPECT_LT(textPrinted, textWanted * 12 / 10);
    }
}

TEST_F(PrintedPages, TheJobKeepsTheWordsAndEmbedsTheFontsItDrawsThemWith)
{
    ASSERT_FALSE(job_.empty());
    for (int page : {1, 3})
        EXPECT_EQ(Words(job_, page, page), Words(source_, page, page)) << "page " << page;
    EXPECT_THAT(Words(job_, 1, 1),
                ::testing::ElementsAre("Pages", "stay", "drawings:", "the", "quick", "brown", "fox.", "Turned", "and",
                                       "stretched"));
    const std::string fonts = print_test::CommandOutput("pdffonts '" + job_ + "'");
    EXPECT_THAT(fonts, HasSubstr(" yes "));
    EXPECT_THAT(fonts, ::testing::Not(::testing::ContainsRegex(" no +(yes|no) +(yes|no) +[0-9]+ +[0-9]+\n")));
}

TEST_F(PrintedPages, ThePagesThatWentAsPicturesAreCounted)
{
    ASSERT_FALSE(job_.empty());
    const std::string sidecar = ReadFile(fs::path(job_).replace_extension(".json").string());
    EXPECT_THAT(sidecar, HasSubstr("\"picture-pages\": 1"));
    // Only the picture page holds pictures the size of its ink; the others hold their own few.
    const std::string images = print_test::CommandOutput("pdfimages -list '" + job_ + "'");
    std::istringstream lines(images);
    std::map<int, int> perPage;
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        int page = 0;
        if (std::istringstream(line) >> page)
            ++perPage[page];
    }
    EXPECT_EQ(perPage[1], 0);
    EXPECT_EQ(perPage[3], 0);
    EXPECT_GE(perPage[4], 1);
}

TEST_F(PrintedPages, AManualKeepsItsWordsAndLooksLikeItself)
{
    const std::string manual = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
    if (!fs::exists(manual))
        GTEST_SKIP() << manual << " is not on this machine (Debian package libtasn1-doc)";
    const std::string job = Print(manual);
    ASSERT_FALSE(job.empty());
    const int pages = print_test::PageCount(manual);
    ASSERT_EQ(print_test::PageCount(job), pages);
    EXPECT_EQ(Words(job, 1, pages), Words(manual, 1, pages));
    const std::string fonts = print_test::CommandOutput("pdffonts '" + job + "'");
    EXPECT_THAT(fonts, HasSubstr(" yes "));
    for (int page : {1, pages / 2}) {
        SCOPED_TRACE("page " + std::to_string(page));
        const Comparison comparison
            = Compare(print_test::RenderPage(manual, page, 100), print_test::RenderPage(job, page, 100), 100);
        EXPECT_LT(comparison.differingPatches, 0.002);
        EXPECT_LT(comparison.worstLoss, 0.3);
        EXPECT_LT(comparison.worstGain, 0.03);
    }
}

TEST_F(PrintedPages, APagePastTheLimitsFailsItsJobAndNothingElse)
{
    const std::string hostile = root_->Path() + "/hostile.pdf";
    WriteFile(hostile, pdf_test::ManyFillsPdf(2'000'000));
    const RunResult result = RunProgram({kService, "print", kPrinter, hostile, "--quiet"}, root_->Path());
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "-1");
    // The tool lives on: the next job prints.
    EXPECT_FALSE(Print(source_).empty());
}

} // namespace

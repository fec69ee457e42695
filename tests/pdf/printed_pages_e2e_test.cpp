// PDF documents printed through quillon-service and the tool: the job's pages looked at as a person
// would, at a viewer's 100 dpi and at 300 dpi, against the source; its words and fonts; the page
// that goes as a picture; a real manual where the machine has one; a hostile page.
#include "tests/e2e/e2e_support.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/spool/print_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <regex>
#include <sstream>

namespace {

using namespace quillon::e2e;
using print_test::Raster;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr char kPrinter[] = "Vector Office";
// The printable area starts 4.23 mm (a sixth of an inch) in from every edge of the sheet.
constexpr double kMarginInches = 1.0 / 6;

std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> chunk{};
        while (std::size_t read = std::fread(chunk.data(), 1, chunk.size(), pipe))
            out.append(chunk.data(), read);
        pclose(pipe);
    }
    return out;
}

// The words of pages [first, last] as pdftotext reads them.
std::vector<std::string> Words(const std::string& pdf, int first, int last)
{
    std::istringstream text(CommandOutput("pdftotext -f " + std::to_string(first) + " -l " + std::to_string(last) + " '"
                                          + pdf + "' - 2>/dev/null"));
    std::vector<std::string> words;
    for (std::string word; text >> word;)
        words.push_back(word);
    return words;
}

int Darkness(const std::uint8_t* pixel)
{
    return 765 - pixel[0] - pixel[1] - pixel[2];
}

// The source page turned as the printer turns it onto the sheet: a landscape page a quarter
// counter-clockwise, its top edge along the sheet's left side.
Raster Turned(const Raster& landscape)
{
    Raster portrait;
    portrait.width = landscape.height;
    portrait.height = landscape.width;
    portrait.rgb.resize(landscape.rgb.size());
    for (int y = 0; y < portrait.height; ++y)
        for (int x = 0; x < portrait.width; ++x)
            std::copy_n(landscape.At(landscape.width - 1 - y, x), 3,
                        portrait.rgb.data() + (std::size_t(y) * portrait.width + x) * 3);
    return portrait;
}

// Compares the job's page with the source's inside the printable area, shrunk by a pixel: the share
// of pixels of one-coloured patches of the source (their neighbours alike, so edges each renderer
// smooths its own way are left out) printed in another colour, and the darkness of every row and
// column of the area in both, which a lost rule, a cut line or a seam changes.
struct Comparison {
    double differingPatches = 0;
    double worstRow = 0;
    double worstColumn = 0;
};

Comparison Compare(const Raster& wanted, const Raster& printed, int dpi)
{
    Comparison result;
    const int margin = int(kMarginInches * dpi) + 2;
    const int x0 = margin, y0 = margin, x1 = printed.width - margin, y1 = printed.height - margin;
    std::size_t compared = 0, differing = 0;
    std::vector<long> rowsWanted(printed.height), rowsPrinted(printed.height);
    std::vector<long> columnsWanted(printed.width), columnsPrinted(printed.width);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const int darkness = Darkness(wanted.At(x, y));
            rowsWanted[y] += darkness;
            columnsWanted[x] += darkness;
            rowsPrinted[y] += Darkness(printed.At(x, y));
            columnsPrinted[x] += Darkness(printed.At(x, y));
            bool patch = true;
            for (int dy = -1; dy <= 1 && patch; ++dy)
                for (int dx = -1; dx <= 1 && patch; ++dx)
                    patch = std::abs(Darkness(wanted.At(x + dx, y + dy)) - darkness) <= 24;
            if (!patch)
                continue;
            ++compared;
            differing += std::abs(Darkness(printed.At(x, y)) - darkness) > 144 ? 1 : 0;
        }
    }
    result.differingPatches = compared ? double(differing) / double(compared) : 1.0;
    // A row (column) whose ink the printed page lost or gained, relative to a full line of ink.
    const double rowFull = 765.0 * (x1 - x0);
    const double columnFull = 765.0 * (y1 - y0);
    for (int y = y0; y < y1; ++y)
        result.worstRow = std::max(result.worstRow, std::abs(rowsWanted[y] - rowsPrinted[y]) / rowFull);
    for (int x = x0; x < x1; ++x)
        result.worstColumn = std::max(result.worstColumn, std::abs(columnsWanted[x] - columnsPrinted[x]) / columnFull);
    return result;
}

class PrintedPages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root_ = new TempRoot;
        print_test::InstallPrinter(root_->Path(), kPrinter, 600, "4.23");
        source_ = root_->Path() + "/features.pdf";
        WriteFile(source_, pdf_test::FeaturePdf());
        job_ = Print(source_);
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
    static std::string job_;
};

TempRoot* PrintedPages::root_ = nullptr;
std::string PrintedPages::source_;
std::string PrintedPages::job_;

TEST_F(PrintedPages, EveryPageLooksLikeItsSourceAtAViewersResolutionAndAtThreeHundredDpi)
{
    ASSERT_FALSE(job_.empty());
    ASSERT_EQ(print_test::PageCount(job_), 4);
    for (int dpi : {100, 300}) {
        for (int page = 1; page <= 4; ++page) {
            SCOPED_TRACE("page " + std::to_string(page) + " at " + std::to_string(dpi) + " dpi");
            Raster wanted = print_test::RenderPage(source_, page, dpi);
            if (page == 3)
                wanted = Turned(wanted);
            const Raster printed = print_test::RenderPage(job_, page, dpi);
            ASSERT_EQ(printed.width, wanted.width);
            ASSERT_EQ(printed.height, wanted.height);
            const Comparison comparison = Compare(wanted, printed, dpi);
            EXPECT_LT(comparison.differingPatches, 0.002);
            // No row or column of the printable area gains or loses more ink than a tenth of a
            // line's worth: thin rules and text lines are whole, and nothing is cut through.
            EXPECT_LT(comparison.worstRow, 0.1);
            EXPECT_LT(comparison.worstColumn, 0.1);
        }
    }
}

TEST_F(PrintedPages, TheRulesAndLinesOfThePicturePageAreWholeAtAViewersResolution)
{
    ASSERT_FALSE(job_.empty());
    // The 0.4-point rules under each text line, 3 points below its baseline every 14 points, drawn
    // as a picture: at 100 dpi each is a row darker than the paper right across from 80 to 530
    // points, in the job as in the source.
    const Raster wanted = print_test::RenderPage(source_, 4, 100);
    const Raster printed = print_test::RenderPage(job_, 4, 100);
    auto darkestRow = [](const Raster& raster, int around) {
        long best = 0;
        for (int y = around - 2; y <= around + 2; ++y) {
            long sum = 0;
            for (int x = 80 * 100 / 72; x < 530 * 100 / 72; ++x)
                sum += Darkness(raster.At(x, y));
            best = std::max(best, sum);
        }
        return best;
    };
    for (int line = 0; line < 40; ++line) {
        const int row = int((75 + 14.0 * line) * 100 / 72 + 0.5);
        const long source = darkestRow(wanted, row);
        ASSERT_GT(source, 0);
        EXPECT_GT(darkestRow(printed, row), source * 8 / 10) << "rule " << line;
    }
}

TEST_F(PrintedPages, TheJobKeepsTheWordsAndEmbedsTheFontsItDrawsThemWith)
{
    ASSERT_FALSE(job_.empty());
    for (int page : {1, 3})
        EXPECT_EQ(Words(job_, page, page), Words(source_, page, page)) << "page " << page;
    EXPECT_THAT(Words(job_, 1, 1), ::testing::IsSupersetOf({"Turned", "stretched", "drawings:"}));
    const std::string fonts = CommandOutput("pdffonts '" + job_ + "'");
    EXPECT_THAT(fonts, HasSubstr(" yes "));
    EXPECT_THAT(fonts, ::testing::Not(::testing::ContainsRegex(" no +(yes|no) +(yes|no) +[0-9]+ +[0-9]+\n")));
}

TEST_F(PrintedPages, ThePagesThatWentAsPicturesAreCounted)
{
    ASSERT_FALSE(job_.empty());
    const std::string sidecar = ReadFile(fs::path(job_).replace_extension(".json").string());
    EXPECT_THAT(sidecar, HasSubstr("\"picture-pages\": 1"));
    // Only the picture page holds pictures the size of its ink; the others hold their own few.
    const std::string images = CommandOutput("pdfimages -list '" + job_ + "'");
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
    const std::string fonts = CommandOutput("pdffonts '" + job + "'");
    EXPECT_THAT(fonts, HasSubstr(" yes "));
    for (int page : {1, pages / 2}) {
        SCOPED_TRACE("page " + std::to_string(page));
        const Comparison comparison
            = Compare(print_test::RenderPage(manual, page, 100), print_test::RenderPage(job, page, 100), 100);
        EXPECT_LT(comparison.differingPatches, 0.002);
        EXPECT_LT(comparison.worstRow, 0.1);
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

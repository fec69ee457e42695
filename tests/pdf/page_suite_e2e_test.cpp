// The feature pages of tests/pages, each printed through quillon-service and the tool on a 600-dpi
// vector printer and looked at beside its source at a viewer's 100 dpi inside the printable area:
// the share of one-coloured patches printed in another colour stays within the page's bound, and
// its words are kept where its line says so. A page is one line of tests/pages/pages.tsv:
//     NAME <TAB> BOUND <TAB> WORDS (all | none) <TAB> what the page shows
#include "tests/e2e/e2e_support.h"
#include "tests/pdf/page_comparison.h"
#include "tests/spool/print_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace quillon::e2e;
namespace fs = std::filesystem;

constexpr char kPrinter[] = "Vector Office";
// Fine enough for every edge to land where the viewer's 100 dpi puts it; a page drawn as a
// picture costs a quarter of what it would at 600 dpi.
constexpr int kPrinterDpi = 300;
constexpr int kDpi = 100;
const fs::path kPages = fs::path(QUILLON_SOURCE_DIR) / "tests/pages";

struct FeaturePage {
    std::string name;
    double bound = 0;
    double strayBound = 0;
    bool wordsKept = false;
    std::string what;
    // Why the line cannot be read; the page then fails with it.
    std::string error;
};

FeaturePage ReadLine(const std::string& line, int number)
{
    std::vector<std::string> fields;
    std::istringstream columns(line);
    for (std::string field; std::getline(columns, field, '\t');)
        fields.push_back(field);
    FeaturePage page;
    page.name = fields.empty() || fields[0].empty() ? "line" + std::to_string(number) : fields[0];
    if (fields.size() != 5) {
        page.error = "line " + std::to_string(number) + " has " + std::to_string(fields.size())
            + " fields, not NAME, BOUND, STRAY, WORDS and what the page shows, tab-separated";
        return page;
    }
    page.what = fields[4];
    auto share = [](const std::string& field, double& value) {
        std::istringstream in(field);
        return (in >> value) && in.eof() && value >= 0 && value <= 1;
    };
    if (!share(fields[1], page.bound))
        page.error = "the bound '" + fields[1] + "' is not a share between 0 and 1";
    else if (!share(fields[2], page.strayBound))
        page.error = "the stray bound '" + fields[2] + "' is not a share between 0 and 1";
    else if (fields[3] != "all" && fields[3] != "none")
        page.error = "WORDS is '" + fields[3] + "', not all or none";
    page.wordsKept = fields[3] == "all";
    return page;
}

std::vector<FeaturePage> ListedPages()
{
    std::vector<FeaturePage> pages;
    std::ifstream list(kPages / "pages.tsv");
    if (!list) {
        FeaturePage unread;
        unread.name = "pages_tsv";
        unread.error = "tests/pages/pages.tsv cannot be read";
        return {unread};
    }
    int number = 0;
    for (std::string line; std::getline(list, line);) {
        ++number;
        if (!line.empty() && line[0] != '#')
            pages.push_back(ReadLine(line, number));
    }
    return pages;
}

// Whether `words` holds every word of `wanted`, in its order (others may come between).
bool HoldsInOrder(const std::vector<std::string>& words, const std::vector<std::string>& wanted)
{
    auto next = words.begin();
    for (const std::string& word : wanted) {
        next = std::find(next, words.end(), word);
        if (next == words.end())
            return false;
        ++next;
    }
    return true;
}

// A page is named by its name alone in the test's name and messages.
void PrintTo(const FeaturePage& page, std::ostream* out)
{
    *out << page.name;
}

class FeaturePages : public ::testing::TestWithParam<FeaturePage> {};

TEST_P(FeaturePages, PrintLikeTheirSource)
{
    const FeaturePage& page = GetParam();
    ASSERT_TRUE(page.error.empty()) << page.error;
    SCOPED_TRACE(page.name + ": " + page.what);
    const fs::path source = kPages / (page.name + ".pdf");
    ASSERT_TRUE(fs::is_regular_file(source)) << source << " is missing";

    const TempRoot root;
    print_test::InstallPrinter(root.Path(), kPrinter, kPrinterDpi, "4.23");
    const RunResult result = RunProgram({kService, "print", kPrinter, source.string(), "--quiet"}, root.Path());
    ASSERT_TRUE(result.ExitedWith(0)) << result.err;
    std::istringstream lines(result.out);
    std::string id, job;
    std::getline(lines, id);
    std::getline(lines, job);
    ASSERT_TRUE(fs::is_regular_file(job)) << result.out;
    ASSERT_EQ(print_test::PageCount(job), 1);

    const print_test::Raster wanted = print_test::RenderPage(source, 1, kDpi);
    const print_test::Raster printed = print_test::RenderPage(job, 1, kDpi);
    ASSERT_GT(wanted.width, 0);
    ASSERT_EQ(printed.width, wanted.width);
    ASSERT_EQ(printed.height, wanted.height);
    const print_test::Comparison comparison = print_test::Compare(wanted, printed, kDpi);
    EXPECT_LE(comparison.differingPatches, page.bound);
    EXPECT_LE(comparison.strayPixels, page.strayBound);
    if (page.wordsKept) {
        const std::vector<std::string> words = print_test::Words(source.string(), 1, 1);
        EXPECT_TRUE(HoldsInOrder(print_test::Words(job, 1, 1), words))
            << "the job lost words of its source; the source reads:\n"
            << print_test::CommandOutput("pdftotext -raw '" + source.string() + "' -");
    }
}

std::string TestName(const ::testing::TestParamInfo<FeaturePage>& info)
{
    std::string name = info.param.name;
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Pages, FeaturePages, ::testing::ValuesIn(ListedPages()), TestName);

} // namespace

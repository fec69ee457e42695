// Whole PDF jobs through quillon-service and the real tool: the pages printed compared with the
// source, the log of a job from end to end, and the page loop driven by stand-in renderers put
// beside a copy of the tool.
#include "tests/e2e/e2e_support.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/file_modes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace {

using namespace quillon::e2e;
using print_test::DebugMessages;
using print_test::PageCount;
using print_test::PageFilesLeft;
using print_test::Raster;
using print_test::RenderPage;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
namespace fs = std::filesystem;

// The last `count` entries of a list.
std::vector<std::string> Last(const std::vector<std::string>& list, std::size_t count)
{
    return std::vector<std::string>(list.end() - static_cast<std::ptrdiff_t>(std::min(count, list.size())), list.end());
}

int ColourDistance(const std::uint8_t* a, const std::uint8_t* b)
{
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

// Share of the pixels in a rectangle that lie inside a patch of one colour in `wanted` (their
// neighbours all alike, so edges, which each render smooths its own way, are left out) and whose
// colour in `printed` is another.
double Differing(const Raster& wanted, const Raster& printed, int x0, int y0, int x1, int y1)
{
    std::size_t compared = 0;
    std::size_t differing = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            bool patch = true;
            for (int dy = -1; dy <= 1 && patch; ++dy)
                for (int dx = -1; dx <= 1 && patch; ++dx)
                    patch = ColourDistance(wanted.At(x, y), wanted.At(x + dx, y + dy)) <= 8;
            if (!patch)
                continue;
            ++compared;
            differing += ColourDistance(wanted.At(x, y), printed.At(x, y)) > 48 ? 1 : 0;
        }
    }
    return compared == 0 ? 1.0 : double(differing) / double(compared);
}

bool White(const std::uint8_t* pixel)
{
    return pixel[0] >= 245 && pixel[1] >= 245 && pixel[2] >= 245;
}

TEST(DocumentJob, ATwoPageJobPrintsTheSourcePagesOnTheSheetsAndLogsEveryStep)
{
    TempRoot root;
    // 600 dpi with the printable area 50 dots right of and 60 dots below the sheet's corner.
    print_test::InstallPrinter(root.Path(), "Offset Printer", 600, "2.117 2.54 2.117 2.54");
    const std::string source = root.Path() + "/two pages.pdf";
    const std::string bytes = print_test::GridPdf(2);
    WriteFile(source, bytes);

    const RunResult result = RunProgram({kService, "print", "Offset Printer", source, "--quiet"}, root.Path());
    ASSERT_TRUE(result.ExitedWith(0)) << result.err;
    const std::string jobId = result.out.substr(0, result.out.find('\n'));
    const std::string job = root.Path() + "/var/spool/quillon/Offset Printer/" + jobId + ".pdf";
    EXPECT_EQ(result.out, jobId + "\n" + job + "\n");

    // The log, its changing parts named: the page files in the order they appear, and handles.
    const std::vector<std::string> names = LogFileNames(root);
    ASSERT_EQ(names.size(), 1u);
    std::vector<std::string> pageFiles;
    std::vector<std::string> lines;
    static const std::regex kPageFile("ZVPrintFile[0-9A-F]+\\.tmp");
    for (const LogLine& line : ReadLog(root.LogFolder() + "/" + names[0])) {
        std::string text
            = std::regex_replace(line.level + " " + line.message, std::regex("handle: [0-9A-F]{8}$"), "handle: HANDLE");
        std::smatch file;
        if (std::regex_search(text, file, kPageFile)) {
            if (std::find(pageFiles.begin(), pageFiles.end(), file.str()) == pageFiles.end())
                pageFiles.push_back(file.str());
            const auto number = std::find(pageFiles.begin(), pageFiles.end(), file.str()) - pageFiles.begin() + 1;
            text = std::regex_replace(text, kPageFile, "PAGE" + std::to_string(number));
        }
        lines.push_back(text);
    }
    const std::string folder = root.Path() + "/var/lib/Marlowin";
    std::vector<std::string> expected;
    for (const char* banner : {"In QuillonTool, PerformGetTicket", "In QuillonTool, PerformPrintJob"})
        for (const char* line : {"", "--", "-----", "Velmar Quillon Tool log", banner})
            expected.push_back(std::string("info ") + line);
    for (const char* page : {"PAGE1", "PAGE2"})
        for (const std::string& record :
             {"In GetTempFilePath, full temp pdf file path: " + folder,
              "In GetTempFilePath, full temp pdf file path: " + folder + "/" + page,
              "In RenderNextPDFPageToMetafile, print_data_file: " + source,
              std::string("In RenderNextPDFPageToMetafile, CreateFile pdf_file success with handle: HANDLE"),
              std::string("In RenderNextPDFPageToMetafile, LoadLibrary pdf.dll success "),
              std::string("In RenderNextPDFPageToMetafile, RenderPDFPageToDCProc success"),
              std::string("In RenderNextPDFPageToMetafile, GetPDFDocInfoProc success"),
              "In RenderNextPDFPageToMetafile, GetFileSize length: " + std::to_string(bytes.size()),
              std::string("In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: 2")})
            expected.push_back("debug " + record);
    for (const std::string& record :
         {"RemoveFile path: " + folder + "/PAGE2", std::string("In RenderPDFFile, RemoveFile ,return: 0"),
          std::string("In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 1"),
          std::string("In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0"),
          "PrintFileImpl return job id: " + jobId})
        expected.push_back("debug " + record);
    EXPECT_EQ(lines, expected);
    EXPECT_THAT(PageFilesLeft(root.Path()), IsEmpty());

    // Each sheet shows its source page where the page lies on the sheet, and nothing outside the
    // printable area (at 150 dpi: 12.5 pixels in from the left and right, 15 from the top and bottom).
    ASSERT_EQ(PageCount(job), 2);
    for (int number = 1; number <= 2; ++number) {
        SCOPED_TRACE(number);
        const Raster wanted = RenderPage(source, number, 150);
        const Raster printed = RenderPage(job, number, 150);
        ASSERT_EQ(printed.width, wanted.width);
        ASSERT_EQ(printed.height, wanted.height);
        EXPECT_LT(Differing(wanted, printed, 14, 16, printed.width - 14, printed.height - 16), 0.001);
        std::size_t margin = 0;
        std::size_t inkedInSource = 0;
        for (int y = 0; y < printed.height; ++y) {
            for (int x = 0; x < printed.width; ++x) {
                if (x >= 12 && x < printed.width - 12 && y >= 14 && y < printed.height - 14)
                    continue;
                ASSERT_TRUE(White(printed.At(x, y))) << x << ", " << y;
                ++margin;
                inkedInSource += White(wanted.At(x, y)) ? 0 : 1;
            }
        }
        EXPECT_GT(inkedInSource, margin * 9 / 10);
    }
}

// A copy of the tool in a folder of its own, with a stand-in renderer as its pdf.so.
class StandInRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        print_test::InstallPrinter(root_.Path(), "Test Office", 150, "4.23");
        tool_ = fs::path(root_.Path()) / "tool";
        fs::create_directories(tool_);
        for (const char* file :
             {"QuillonTool", "libquillon_platform.so", "libquillon_gdi.so", "prntvpt.so", "libquillon_print_schema.so"})
            fs::copy_file(fs::path(kBinDir) / file, tool_ / file);
    }

    void UseRenderer(const std::string& variant)
    {
        fs::copy_file(fs::path(kBinDir) / ("pdf_stand_in_" + variant + ".so"), tool_ / "pdf.so");
    }

    // Prints a three-page document; the job id the tool answered.
    std::string Print()
    {
        const std::string document = root_.Path() + "/three.pdf";
        WriteFile(document, print_test::GridPdf(3));
        result_ = RunProgram(
            {kService, "print", "Test Office", document, "--tool", (tool_ / "QuillonTool").string(), "--quiet"},
            root_.Path());
        return result_.out.substr(0, result_.out.find('\n'));
    }

    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        std::istringstream lines(ReadFile((tool_ / "renderer-calls.txt").string()));
        for (std::string line; std::getline(lines, line);)
            calls.push_back(line);
        return calls;
    }

    std::vector<std::string> Log() const { return DebugMessages(root_.LogFolder()); }

    fs::path Spooled(const std::string& name) const
    {
        return fs::path(root_.Path()) / "var/spool/quillon/Test Office" / name;
    }

    // The names in the printer's spool folder, sorted, hidden ones included.
    std::vector<std::string> SpoolFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Spooled("")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempRoot root_;
    fs::path tool_;
    RunResult result_;
};

std::string Call(int page)
{
    return "page " + std::to_string(page) + ", 150 x 150 dpi, bounds 0 0 1275 1650, options 1 0 1 1, page files 600";
}

TEST_F(StandInRendererTest, EveryPageIsAskedForInTurnAndPrintedInOneDocument)
{
    UseRenderer("three_pages");
    // Under the widest umask too, the page being drawn sits in a file its owner alone may read
    // (the renderer notes the modes of the page files it finds while it draws).
    std::string jobId;
    {
        testing_support::ScopedUmask open(0);
        jobId = Print();
    }
    EXPECT_TRUE(result_.ExitedWith(0)) << result_.err;
    EXPECT_THAT(Calls(), ElementsAre(Call(0), Call(1), Call(2)));
    EXPECT_THAT(Last(Log(), 4),
                ElementsAre("In RenderPDFFile, RemoveFile ,return: 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 1",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                            "PrintFileImpl return job id: " + jobId));
    EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());

    // One document of three sheets, each with the renderer's square an inch in from the sheet's
    // corner (at 72 dpi: from 72 to 144).
    const fs::path job = Spooled(jobId + ".pdf");
    ASSERT_EQ(PageCount(job), 3);
    EXPECT_THAT(ReadFile(Spooled(jobId + ".json").string()), HasSubstr("\"pages\": 3,"));
    for (int number = 1; number <= 3; ++number) {
        const Raster sheet = RenderPage(job, number, 72);
        ASSERT_EQ(sheet.width, 612);
        for (const auto& [x, y, ink] : {std::tuple{74, 74, true},
                                        {142, 142, true},
                                        {70, 108, false},
                                        {146, 108, false},
                                        {108, 70, false},
                                        {108, 146, false}})
            EXPECT_EQ(sheet.At(x, y)[0] < 64, ink) << "page " << number << " at " << x << ", " << y;
    }
}

TEST_F(StandInRendererTest, ARefusedPageEndsTheDocumentWithThePagesBeforeIt)
{
    UseRenderer("refuses_page_one");
    EXPECT_EQ(Print(), "-1");
    EXPECT_TRUE(result_.ExitedWith(1));
    EXPECT_THAT(Calls(), ElementsAre(Call(0), Call(1)));
    EXPECT_THAT(Last(Log(), 5),
                ElementsAre("In RenderPDFFile, RemoveFile ,return: 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                            "In PrintFile, spool, RenderPDFFile failed.", "PrintFileImpl return job id: -1"));
    // The document was still ended: page 0 reached the printer.
    EXPECT_EQ(PageCount(Spooled("1.pdf")), 1);
    EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());
}

TEST_F(StandInRendererTest, APageCountOfZeroStillPrintsPageZero)
{
    UseRenderer("no_page_count");
    const std::string jobId = Print();
    EXPECT_TRUE(result_.ExitedWith(0)) << result_.err;
    EXPECT_THAT(Calls(), ElementsAre(Call(0)));
    const std::vector<std::string> log = Log();
    EXPECT_THAT(log, ::testing::Contains("In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: 0"));
    EXPECT_THAT(Last(log, 3),
                ElementsAre("In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 1",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                            "PrintFileImpl return job id: " + jobId));
    EXPECT_EQ(PageCount(Spooled(jobId + ".pdf")), 1);
}

TEST_F(StandInRendererTest, WithoutARendererNoPageReachesThePrinter)
{
    EXPECT_EQ(Print(), "-1");
    const std::vector<std::string> log = Log();
    EXPECT_THAT(log, ::testing::Contains("In RenderNextPDFPageToMetafile, LoadLibrary pdf.dll failed. "));
    EXPECT_THAT(log, ::testing::Not(::testing::Contains(HasSubstr("GetFileSize"))));
    // The empty temporary file of the page is removed; the document ends without a page, and no
    // job is made of it.
    EXPECT_THAT(Last(log, 6),
                ElementsAre(MatchesRegex("RemoveFile path: .*/ZVPrintFile[0-9A-F]+\\.tmp"),
                            "In RenderPDFFile, RemoveFile ,return: 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                            "In PrintFile, spool, RenderPDFFile failed.", "PrintFileImpl return job id: -1"));
    EXPECT_EQ(SpoolFiles(), std::vector<std::string>{".last-job"});
    EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());
}

// The file is read anew for every page; once it is another file, or the same one with other
// content, the next page fails instead of printing from it.
TEST_F(StandInRendererTest, ADocumentChangedAfterThePageBeforeFailsThePageAfter)
{
    UseRenderer("changes_document");
    for (const char* change : {"replaced", "rewritten", "restored", "grown"}) {
        SCOPED_TRACE(change);
        WriteFile(root_.Path() + "/change-document", change);
        EXPECT_EQ(Print(), "-1");
        const std::vector<std::string> log = Log();
        EXPECT_THAT(Last(log, 7),
                    ElementsAre("In RenderNextPDFPageToMetafile, print_data_file is not the file of the first page. ",
                                MatchesRegex("RemoveFile path: .*"), "In RenderPDFFile, RemoveFile ,return: 0",
                                "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 0",
                                "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                                "In PrintFile, spool, RenderPDFFile failed.", "PrintFileImpl return job id: -1"));
    }
    EXPECT_THAT(Calls(), ElementsAre(Call(0), Call(0), Call(0), Call(0)));
}

TEST_F(StandInRendererTest, NoTemporaryFileForALaterPageAbortsTheDocument)
{
    UseRenderer("loses_data_folder");
    EXPECT_EQ(Print(), "-1");
    EXPECT_THAT(Calls(), ElementsAre(Call(0)));
    EXPECT_THAT(Last(Log(), 5),
                ElementsAre("In GetTempFilePath, GetTempFileName failed.", "In RenderPDFFile, GetTempFilePath failed.",
                            "In RenderPDFFile, AbortDoc return: 1", "In PrintFile, spool, RenderPDFFile failed.",
                            "PrintFileImpl return job id: -1"));
    // Nothing of the half-made job reached the printer, and page 0's file went once it was played.
    EXPECT_FALSE(fs::exists(Spooled("1.pdf")));
    EXPECT_FALSE(fs::exists(Spooled("1.json")));
    EXPECT_THAT(PageFilesLeft(root_.Path()), IsEmpty());
}

} // namespace

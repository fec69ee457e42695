// Whole PDF jobs through quillon-service and the real tool: the pages printed compared with the
// source, the log of a job from end to end, and the page loop driven by stand-in renderers put
// beside a copy of the tool.
#include "tests/e2e/e2e_support.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/file_modes.h"
#include "tests/support/pdf_writer.h"

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

// A document whose pages hold `fills[i]` small squares each.
std::string SquaresPdf(const std::vector<int>& fills)
{
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (std::size_t page = 0; page < fills.size(); ++page) {
        const std::size_t number = objects.size() + 1;
        kids += std::to_string(number) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + std::to_string(number + 1)
                          + " 0 R >>");
        std::string content = "0 0 1 rg\n";
        for (int i = 0; i < fills[page]; ++i)
            content += std::to_string(30 + i % 50 * 11) + " " + std::to_string(30 + i / 50 % 60 * 11) + " 8 8 re f\n";
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(fills.size()) + " >>";
    return testing_support::PdfOf(objects);
}

// With the data folder nearly full, a page whose metafile cannot be written fails as a page the
// renderer refuses: the pages before it stay in the document, the reply is -1, the log says why,
// and no page file is left. (The folder is a small file system of the service's own, in a mount
// namespace that vanishes with it; the log keeps to a folder of its own on the disk.)
TEST(DocumentJob, APageThatCannotBeWrittenToTheDataFolderFailsTheJob)
{
    ASSERT_EQ(std::system("unshare --mount --propagation private true 2>/dev/null"), 0)
        << "a private file system cannot be mounted here";
    TempRoot root;
    print_test::InstallPrinter(root.Path(), "Test Office", 150, "4.23");
    const std::string data = root.Path() + "/var/lib/Marlowin";
    const std::string log = root.Path() + "/log";
    fs::create_directories(data);
    fs::create_directories(log);
    fs::permissions(data, fs::perms::owner_all);
    fs::permissions(log, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    const std::string document = root.Path() + "/mixed.pdf";
    // Two small pages, then one whose metafile takes far more than the 32 KiB there is.
    WriteFile(document, SquaresPdf({4, 4, 3000, 4}));

    const std::string mounts = "mount -t tmpfs -o size=32k,mode=0700 quillon-test '" + data + "' && mkdir -m 0750 '"
        + data + "/log' && mount --bind '" + log + "' '" + data + "/log'";
    const RunResult result
        = RunProgram({"/usr/bin/unshare", "--mount", "--propagation", "private", "sh", "-c",
                      mounts + " || exit 99; \"$0\" \"$@\"; status=$?; echo --; ls -A '" + data + "'; exit $status",
                      kService, "print", "Test Office", document, "--quiet"},
                     root.Path());
    EXPECT_TRUE(result.ExitedWith(1)) << result.err;
    EXPECT_EQ(result.out, "-1\n--\nlog\n");
    const std::vector<std::string> messages = DebugMessages(log);
    EXPECT_THAT(Last(messages, 8),
                ElementsAre("In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: 4",
                            "In RenderNextPDFPageToMetafile, StopRecording failed. ",
                            MatchesRegex("RemoveFile path: .*/ZVPrintFile[0-9A-F]+\\.tmp"),
                            "In RenderPDFFile, RemoveFile ,return: 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 0",
                            "In RenderPDFFile, RenderNextPDFPageToMetafile next_available(bool): 0",
                            "In PrintFile, spool, RenderPDFFile failed.", "PrintFileImpl return job id: -1"));
    EXPECT_EQ(PageCount(print_test::SpoolFolder(root.Path(), "Test Office") / "1.pdf"), 2);
}

// Type 1 encryption (eexec or charstring, by its key), with the four bytes it starts with.
std::string Encrypted(const std::string& plain, std::uint16_t key)
{
    std::string cipher;
    std::uint16_t r = key;
    for (const char byte : "\x11\x22\x33\x44" + plain) {
        const auto c = std::uint8_t(std::uint8_t(byte) ^ (r >> 8));
        cipher.push_back(char(c));
        r = std::uint16_t((c + r) * 52845u + 22719u);
    }
    return cipher;
}

// A Type 1 font of two squares, "A" and "B"; "A" calls subroutine 4 first. `subroutine` is what
// that subroutine does: return at once, or call itself.
std::string Type1Font(const std::string& subroutine)
{
    auto entry = [](const std::string& head, const std::string& charstring, const std::string& tail) {
        const std::string bytes = Encrypted(charstring, 4330);
        return head + " " + std::to_string(bytes.size()) + " RD " + bytes + " " + tail + "\n";
    };
    // Type 1 numbers are bytes 32..246 for -107..107, then 247.. with a second byte up to 1131.
    const std::string square = "\xef\xef\x15"     // 100 100 rmoveto
                               "\xf8\x24\x8b\x05" // 400 0 rlineto
                               "\x8b\xf8\x24\x05" // 0 400 rlineto
                               "\xfc\x24\x8b\x05" // -400 0 rlineto
                               "\x09\x0e";        // closepath endchar
    const std::string width = "\x8b\xf8\x88\x0d"; // 0 500 hsbw
    const std::string call = "\x8f\x0a";          // 4 callsubr
    std::string secret = "dup /Private 8 dict dup begin\n/RD {string currentfile exch readstring pop} executeonly def\n"
                         "/ND {noaccess def} executeonly def\n/NP {noaccess put} executeonly def\n/lenIV 4 def\n"
                         "/BlueValues [] def\n/Subrs 5 array\n";
    for (int i = 0; i < 4; ++i)
        secret += entry("dup " + std::to_string(i), "\x0b", "NP");
    secret += entry("dup 4", subroutine, "NP");
    secret += "ND\n2 index /CharStrings 3 dict dup begin\n";
    secret += entry("/.notdef", width + "\x0e", "ND");
    secret += entry("/A", width + call + square, "ND");
    secret += entry("/B", width + square, "ND");
    secret
        += "end\nend\nreadonly put\nnoaccess put\ndup /FontName get exch definefont pop\nmark currentfile closefile\n";
    return "%!PS-AdobeFont-1.0: Quillon-Test 001\n11 dict begin\n/FontName /Quillon-Test def\n/FontType 1 def\n"
           "/PaintType 0 def\n/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n/FontBBox {0 0 500 500} readonly def\n"
           "/Encoding StandardEncoding def\ncurrentdict end\ncurrentfile eexec\n"
        + Encrypted(secret, 55665);
}

// A page showing "AB" in a Type 1 font embedded whole.
std::string Type1Pdf(const std::string& font)
{
    const std::string content = "BT /F1 72 Tf 72 600 Td (AB) Tj ET";
    const std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> "
        ">>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Quillon-Test /FirstChar 65 /LastChar 66 /Widths [500 500] "
        "/FontDescriptor 6 0 R >>",
        "<< /Type /FontDescriptor /FontName /Quillon-Test /Flags 32 /FontBBox [0 0 500 500] /ItalicAngle 0 /Ascent 500 "
        "/Descent 0 /CapHeight 500 /StemV 80 /FontFile 7 0 R >>",
        "<< /Length " + std::to_string(font.size()) + " /Length1 " + std::to_string(font.find("eexec\n") + 6)
            + " /Length2 " + std::to_string(font.size() - font.find("eexec\n") - 6) + " /Length3 0 >>\nstream\n" + font
            + "\nendstream"};
    return testing_support::PdfOf(objects);
}

// A Type 1 font whose subroutine calls itself would take the tool down when the job's PDF embeds
// its subset: its glyphs are drawn as outlines instead (those FreeType can read: "B" but not "A",
// which calls the subroutine), and the job prints. A sound font stays text.
TEST(DocumentJob, AFontWhoseSubroutineCallsItselfIsPrintedAsOutlines)
{
    TempRoot root;
    print_test::InstallPrinter(root.Path(), "Test Office", 150, "4.23");
    const fs::path spool = print_test::SpoolFolder(root.Path(), "Test Office");
    for (const auto& [subroutine, text] : {std::pair{std::string("\x0b"), std::string("AB")}, // return
                                           {std::string("\x8f\x0a\x0b"), std::string()}}) {   // 4 callsubr return
        SCOPED_TRACE(text.empty() ? "calls itself" : "returns");
        const std::string document = root.Path() + "/type1.pdf";
        WriteFile(document, Type1Pdf(Type1Font(subroutine)));
        const RunResult result = RunProgram({kService, "print", "Test Office", document, "--quiet"}, root.Path());
        ASSERT_TRUE(result.ExitedWith(0)) << result.err;
        const std::string jobId = result.out.substr(0, result.out.find('\n'));
        EXPECT_EQ(print_test::PdfText(spool / (jobId + ".pdf")).find("AB") != std::string::npos, !text.empty());
        // The square of "B", 0.6 inch right of the baseline's start, which lies an inch in and 192
        // points down (at 72 dpi), is inked either way.
        const Raster sheet = RenderPage(spool / (jobId + ".pdf"), 1, 72);
        ASSERT_EQ(sheet.width, 612);
        EXPECT_LT(sheet.At(72 + 58, 192 - 22)[0], 64);
        for (const auto& entry : fs::directory_iterator(spool))
            EXPECT_THAT(entry.path().filename().string(), ::testing::Not(::testing::EndsWith(".part")));
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

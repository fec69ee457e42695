// Many jobs at once and jobs cut short, through quillon-service and the real tool: twenty jobs on
// one printer at a time, a tool killed in the middle of a document, a spool folder that cannot be
// written and a disk that fills up. The jobs' PDFs are rendered and probed; the log is read whole.
#include "tests/e2e/e2e_support.h"
#include "tests/gdi/gdi_test_support.h"
#include "tests/support/pdf_writer.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace {

using namespace gdi_test;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

constexpr char kPrinter[] = "Quillon Office";

// How the pages of a test document are drawn.
enum class Ink {
    Plain, // shapes: quick to print, small in the job
    Noise, // over a picture of 128 x 128 random grey dots, which no compression shrinks
};

// A Letter PDF whose page i (from 0) holds one black inch square, one inch down and i + 1 inches
// across; its cross-reference table counted out.
std::string SquaresPdf(int pages, Ink ink = Ink::Plain)
{
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    // After the page objects: the picture of dots the pages share.
    const std::string resources
        = Joined(" /Resources << /XObject << /Dots ", std::to_string(3 + 2 * pages), " 0 R >> >>");
    for (int i = 0; i < pages; ++i) {
        const std::string square = Joined("0 0 0 rg ", std::to_string(72 + 72 * (i % 6)), " 648 72 72 re f");
        const std::string content = ink == Ink::Noise ? Joined("q 468 0 0 468 72 72 cm /Dots Do Q ", square) : square;
        kids += Joined(std::to_string(3 + 2 * i), " 0 R ");
        objects.push_back(Joined("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents ",
                                 std::to_string(4 + 2 * i), " 0 R", resources, " >>"));
        objects.push_back(
            Joined("<< /Length ", std::to_string(content.size()), " >>\nstream\n", content, "\nendstream"));
    }
    objects[1] = Joined("<< /Type /Pages /Kids [", kids, "] /Count ", std::to_string(pages), " >>");
    std::string dots(128 * 128, '\0');
    unsigned noise = 7;
    for (char& dot : dots) {
        noise = noise * 1103515245u + 12345u;
        dot = static_cast<char>(noise >> 16);
    }
    objects.push_back(Joined("<< /Type /XObject /Subtype /Image /Width 128 /Height 128 /ColorSpace /DeviceGray "
                             "/BitsPerComponent 8 /Length ",
                             std::to_string(dots.size()), " >>\nstream\n", dots, "\nendstream"));
    return testing_support::PdfOf(objects);
}

// One line of what batch prints: the jobs file's line, the reply, the job's PDF.
struct BatchLine {
    int line = 0;
    std::string reply;
    std::string document;
};

std::vector<BatchLine> BatchLines(const std::string& out)
{
    std::vector<BatchLine> lines;
    std::istringstream stream(out);
    std::string text;
    while (std::getline(stream, text) && text != "--") {
        BatchLine line;
        std::istringstream fields(text);
        std::string number;
        std::getline(fields, number, '\t');
        std::getline(fields, line.reply, '\t');
        std::getline(fields, line.document);
        line.line = std::atoi(number.c_str());
        lines.push_back(line);
    }
    return lines;
}

// Whether this machine lets a test mount a file system of its own in a private mount namespace,
// where it vanishes with the last process in it.
bool CanMountPrivately()
{
    return std::system("unshare --mount --propagation private true 2>/dev/null") == 0;
}

class LoadE2eTest : public GdiRoot {
protected:
    LoadE2eTest()
    {
        documents_ = root_.Path() / "documents";
        fs::create_directories(documents_);
    }

    std::string Root() const { return root_.Path().string(); }
    fs::path DataFolder() const { return root_.Path() / "var/lib/Marlowin"; }

    fs::path Document(const std::string& name, const std::string& bytes) const
    {
        quillon::e2e::WriteFile((documents_ / name).string(), bytes);
        return documents_ / name;
    }

    fs::path RedPicture() const
    {
        const std::vector<BYTE> png = EncodedPicture("png", 60, 40, kRed, kRed);
        return Document("red.png", std::string(png.begin(), png.end()));
    }

    // Writes a jobs file of "PRINTER" FILE lines.
    std::string JobsFile(const std::vector<fs::path>& files) const
    {
        const fs::path jobs = documents_ / "jobs";
        std::ofstream out(jobs);
        out << "# made by the test\n\n";
        for (const fs::path& file : files)
            out << '"' << kPrinter << "\" '" << file.string() << "'\n";
        return jobs.string();
    }

    quillon::e2e::RunResult Batch(const std::vector<std::string>& prefix, const std::string& jobs, int parallel)
    {
        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(),
                    {quillon::e2e::kService, "batch", "--quiet", "--parallel", std::to_string(parallel), jobs});
        // Twenty jobs of a sanitized tool on two cores take a while.
        return quillon::e2e::Child(argv, Root()).Finish(std::chrono::seconds(600));
    }

    // The files in the data folder, the log folder left out.
    std::vector<std::string> DataFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(DataFolder()))
            if (entry.path().filename() != "log")
                names.push_back(entry.path().filename().string());
        return names;
    }

    // The messages of every log file, each line checked whole.
    std::vector<std::string> LogMessages() const
    {
        std::vector<std::string> messages;
        for (const auto& entry : fs::directory_iterator(DataFolder() / "log"))
            for (const quillon::e2e::LogLine& line : quillon::e2e::ReadLog(entry.path().string()))
                messages.push_back(line.message);
        return messages;
    }

    // The argv prefix that runs a program in a mount namespace of its own, after the mount
    // commands, and lists the printer's spool folder after a line "--" once it has ended: the
    // mounts vanish with the namespace.
    std::vector<std::string> Privately(const std::string& mounts) const
    {
        return {"/usr/bin/unshare",
                "--mount",
                "--propagation",
                "private",
                "sh",
                "-c",
                Joined(mounts, " || exit 99; \"$0\" \"$@\"; status=$?; echo --; ls -A '",
                       SpoolFolder(kPrinter).string(), "'; exit $status")};
    }

    fs::path documents_;
};

long Count(const std::vector<std::string>& messages, const std::string& message)
{
    return std::count(messages.begin(), messages.end(), message);
}

TEST_F(LoadE2eTest, TwentyJobsAtOnceOnOnePrinterEachGetTheirOwnIdAWholePdfAndWholeLogLines)
{
    const fs::path document = Document("squares.pdf", SquaresPdf(2));
    const fs::path picture = RedPicture();
    std::vector<fs::path> files;
    for (int i = 0; i < 20; ++i)
        files.push_back(i % 2 == 0 ? document : picture);
    const quillon::e2e::RunResult result = Batch({}, JobsFile(files), 20);
    ASSERT_TRUE(result.ExitedWith(0)) << result.err;
    EXPECT_THAT(result.err, HasSubstr("20 jobs, 20 printed, 0 failed"));

    // Jobs files count their lines from 1; the first two hold a comment and nothing.
    const std::vector<BatchLine> lines = BatchLines(result.out);
    ASSERT_EQ(lines.size(), 20u) << result.out;
    std::set<int> jobLines;
    std::set<std::string> ids;
    std::vector<std::string> expectedIds;
    for (int id = 1; id <= 20; ++id)
        expectedIds.push_back(std::to_string(id));
    for (const BatchLine& line : lines) {
        jobLines.insert(line.line);
        ids.insert(line.reply);
        EXPECT_EQ(line.document, (SpoolFolder(kPrinter) / (line.reply + ".pdf")).string());
    }
    EXPECT_EQ(jobLines.size(), 20u);
    EXPECT_EQ(*jobLines.begin(), 3);
    EXPECT_EQ(*jobLines.rbegin(), 22);
    EXPECT_THAT(ids, UnorderedElementsAreArray(expectedIds));

    for (const BatchLine& line : lines) {
        SCOPED_TRACE(line.line);
        const bool isDocument = line.line % 2 == 1;
        const fs::path pdf = line.document;
        ASSERT_EQ(PdfInfo(pdf, "Pages"), isDocument ? "2" : "1");
        const std::string sidecar = testing_support::ReadWholeFile(SpoolFolder(kPrinter) / (line.reply + ".json"));
        EXPECT_THAT(sidecar, HasSubstr(Joined("\"job\": ", line.reply, ",")));
        EXPECT_THAT(sidecar, HasSubstr(Joined("\"pages\": ", isDocument ? "2" : "1", ",")));
        // At 18 dpi an inch is 18 pixels: page 1's square covers (18..36, 18..36), page 2's lies
        // one inch further right.
        const Page first = RenderPage(pdf, 1, 18);
        if (isDocument) {
            const Page second = RenderPage(pdf, 2, 18);
            EXPECT_TRUE(Near(first.At(27, 27), Colour{})) << Describe(first.At(27, 27));
            EXPECT_TRUE(Near(first.At(45, 27), kWhite)) << Describe(first.At(45, 27));
            EXPECT_TRUE(Near(second.At(45, 27), Colour{})) << Describe(second.At(45, 27));
            EXPECT_TRUE(Near(second.At(27, 27), kWhite)) << Describe(second.At(27, 27));
        } else {
            EXPECT_TRUE(Near(first.At(first.width / 2, first.height / 2), kRed));
        }
    }

    // Every job's records are there, each line whole (ReadLog fails the test on any other).
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(Count(messages, "In QuillonTool, PerformGetTicket"), 20);
    EXPECT_EQ(Count(messages, "In QuillonTool, PerformPrintJob"), 20);
    EXPECT_EQ(Count(messages, "In RenderNextPDFPageToMetafile, get_info_proc, total_page_count: 2"), 20);
    EXPECT_EQ(Count(messages, "In RenderPDFFile, RenderNextPDFPageToMetafile result(bool): 1"), 10);
    EXPECT_EQ(Count(messages, "In RenderPDFFile, RemoveFile ,return: 0"), 10);
    // Nothing is left to sweep: no page file, no unfinished job.
    EXPECT_THAT(DataFiles(), IsEmpty());
    for (const std::string& name : SpoolFiles(kPrinter))
        EXPECT_TRUE(name == ".last-job" || name.find(".part") == std::string::npos) << name;
    EXPECT_EQ(SpoolFiles(kPrinter).size(), 41u);
}

// The process id a held tool wrote into its hold file (see QUILLON_HOLD_AFTER_PAGE), waited for as
// long as the service runs; 0 when the service ended first.
pid_t WaitForHold(const fs::path& hold, pid_t service)
{
    for (;;) {
        const std::string pid = testing_support::ReadWholeFile(hold);
        if (!pid.empty())
            return std::stoi(pid);
        if (kill(service, 0) != 0
            || testing_support::ReadWholeFile(Joined("/proc/", std::to_string(service), "/stat")).find(") Z ")
                != std::string::npos)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(LoadE2eTest, AToolKilledMidDocumentLeavesNothingAndOnlyWhatNobodyHoldsIsSwept)
{
    // The tool holds once it has ended its first page, its page file written and the job's document
    // open, until the test removes the file it was told to write its process id into; killed there.
    const fs::path hold = root_.Path() / "hold";
    setenv("QUILLON_HOLD_AFTER_PAGE", hold.c_str(), 1);
    quillon::e2e::Child service(
        {quillon::e2e::kService, "print", kPrinter, Document("long.pdf", SquaresPdf(3)).string(), "--quiet"}, Root());
    unsetenv("QUILLON_HOLD_AFTER_PAGE");
    const pid_t tool = WaitForHold(hold, service.Pid());
    ASSERT_GT(tool, 0) << "the tool never ended a page";
    const fs::path part = SpoolFolder(kPrinter) / ".1.pdf.part";
    EXPECT_TRUE(fs::exists(part));
    std::vector<fs::path> pageFiles;
    for (const auto& entry : fs::directory_iterator(DataFolder()))
        if (entry.path().filename().string().rfind("ZVPrintFile", 0) == 0 && entry.file_size() > 0)
            pageFiles.push_back(entry.path());
    ASSERT_FALSE(pageFiles.empty()) << "no page file while its page is played";
    ASSERT_EQ(kill(tool, SIGKILL), 0);
    const quillon::e2e::RunResult killed = service.Finish();
    EXPECT_TRUE(killed.ExitedWith(1));
    EXPECT_THAT(killed.err, HasSubstr("the tool closed the pipe without a reply and was killed by signal 9"));
    // The service sweeps what its tool left: no half job, no page file.
    EXPECT_EQ(SpoolFiles(kPrinter), (std::vector<std::string>{".last-job"}));
    for (const fs::path& file : pageFiles)
        EXPECT_FALSE(fs::exists(file)) << file;

    // Leftovers of the same kinds: one a live process still holds (this test), one nobody holds
    // (a document renamed into place whose sidecar never came), and files that are not the
    // platform's to judge.
    const fs::path held = DataFolder() / "ZVPrintFile0000ABCD.tmp";
    const fs::path heldPart = SpoolFolder(kPrinter) / ".77.pdf.part";
    std::vector<int> locks;
    for (const fs::path& file : {held, heldPart}) {
        quillon::e2e::WriteFile(file.string(), "in use");
        const int descriptor = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(flock(descriptor, LOCK_EX | LOCK_NB), 0);
        locks.push_back(descriptor);
    }
    const std::vector<fs::path> notLeftovers
        = {DataFolder() / "ZVPrintFile0000abcd.tmp", DataFolder() / "ZVPrintFile0000ABCD.tmp.keep",
           DataFolder() / "OtherFile0000ABCD.tmp",   SpoolFolder(kPrinter) / "notes.txt",
           SpoolFolder(kPrinter) / ".1.pdf.partial", SpoolFolder(kPrinter) / "71.pdf",
           SpoolFolder(kPrinter) / "71.json"};
    for (const fs::path& file : notLeftovers)
        quillon::e2e::WriteFile(file.string(), "not a leftover");
    quillon::e2e::WriteFile((SpoolFolder(kPrinter) / "70.pdf").string(), "%PDF");

    // The next job sweeps what nobody holds before it starts, and nothing else.
    const quillon::e2e::RunResult next = quillon::e2e::RunProgram(
        {quillon::e2e::kService, "print", kPrinter, Document("short.pdf", SquaresPdf(1)).string(), "--quiet"}, Root());
    EXPECT_TRUE(next.ExitedWith(0)) << next.err;
    EXPECT_FALSE(fs::exists(SpoolFolder(kPrinter) / "70.pdf"));
    for (const fs::path& file : notLeftovers)
        EXPECT_TRUE(fs::exists(file)) << file;
    for (const fs::path& file : {held, heldPart})
        EXPECT_TRUE(fs::exists(file)) << file;
    for (const int descriptor : locks)
        close(descriptor);
}

TEST_F(LoadE2eTest, ASpoolFolderThatCannotBeWrittenFailsEachJobAndSaysWhyAndLosesNoOtherJob)
{
    const fs::path picture = RedPicture();
    const fs::path document = Document("squares.pdf", SquaresPdf(2));
    const std::string jobs = JobsFile({picture, document});
    quillon::e2e::RunResult result = Batch({}, jobs, 1);
    ASSERT_TRUE(result.ExitedWith(0)) << result.err;
    const std::string firstJob = testing_support::ReadWholeFile(SpoolFolder(kPrinter) / "1.pdf");

    // The spool tree read-only, in a mount of the service's own (modes would not stop the superuser).
    ASSERT_TRUE(CanMountPrivately()) << "a private read-only mount cannot be made here";
    const std::string spool = (root_.Path() / "var/spool").string();
    result
        = Batch(Privately(Joined("mount --bind '", spool, "' '", spool, "' && mount -o remount,bind,ro '", spool, "'")),
                jobs, 2);
    EXPECT_TRUE(result.ExitedWith(1));
    // Each job fails as a document the spooler refuses: the picture path leaves no job id (0), the
    // document path answers -1; each with the reason the platform gives.
    std::map<int, std::string> replies;
    for (const BatchLine& line : BatchLines(result.out))
        replies[line.line] = line.reply;
    EXPECT_EQ(replies, (std::map<int, std::string>{{3, "0"}, {4, "-1"}})) << result.out;
    const std::string reason
        = Joined("quillon: no job could be started on printer \"Quillon Office\": its spool folder ",
                 SpoolFolder(kPrinter).string(), " cannot be written: Read-only file system");
    EXPECT_THAT(result.err, HasSubstr(Joined("line 3: the tool made no print job (see its log for why); ", reason)));
    EXPECT_THAT(
        result.err,
        HasSubstr(Joined("line 4: the print job failed with job id -1 (see the tool's log for why); ", reason)));

    // What was printed before is there as it was, and printing goes on where it left off.
    EXPECT_EQ(testing_support::ReadWholeFile(SpoolFolder(kPrinter) / "1.pdf"), firstJob);
    result = Batch({}, jobs, 2);
    EXPECT_TRUE(result.ExitedWith(0)) << result.err;
    EXPECT_EQ(SpoolFiles(kPrinter),
              (std::vector<std::string>{".last-job", "1.json", "1.pdf", "2.json", "2.pdf", "3.json", "3.pdf", "4.json",
                                        "4.pdf"}));
}

TEST_F(LoadE2eTest, AFullDiskFailsTheJobThatDoesNotFitSaysWhyAndLosesNoOtherJob)
{
    const fs::path picture = RedPicture();
    const std::string jobs = JobsFile({picture, Document("long.pdf", SquaresPdf(8, Ink::Noise)), picture});
    // A small disk of the service's own for the spool tree: room for the two pictures' jobs, not
    // for the document.
    ASSERT_TRUE(CanMountPrivately()) << "a private file system cannot be mounted here";
    const fs::path spool = root_.Path() / "var/spool";
    fs::create_directories(spool);
    const quillon::e2e::RunResult result
        = Batch(Privately(Joined("mount -t tmpfs -o size=32k,mode=0755 quillon-test '", spool.string(), "'")), jobs, 1);
    EXPECT_TRUE(result.ExitedWith(1));
    const std::vector<BatchLine> lines = BatchLines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0].reply, "1");
    EXPECT_EQ(lines[0].document, (SpoolFolder(kPrinter) / "1.pdf").string());
    // The document's job had its id when the disk filled; the printer could not take the document,
    // so the tool answers -1, not the id of a job that is gone.
    EXPECT_EQ(lines[1].reply, "-1");
    EXPECT_EQ(lines[1].document, "");
    EXPECT_THAT(result.err,
                HasSubstr(Joined("line 4: the print job failed with job id -1 (see the tool's log for why); quillon: "
                                 "job 2 on printer \"Quillon Office\" was thrown away: its document could not be "
                                 "written in the spool folder ",
                                 SpoolFolder(kPrinter).string(), ": ")));
    EXPECT_EQ(Count(LogMessages(), "In RenderPDFFile, EndDoc failed, return: -4"), 1);
    EXPECT_EQ(lines[2].reply, "3");
    EXPECT_EQ(lines[2].document, (SpoolFolder(kPrinter) / "3.pdf").string());
    EXPECT_THAT(result.err, HasSubstr("3 jobs, 2 printed, 1 failed"));
    // The first job is still there, and nothing of the one thrown away.
    EXPECT_THAT(result.out, ::testing::EndsWith("--\n.last-job\n1.json\n1.pdf\n3.json\n3.pdf\n"));
}

} // namespace

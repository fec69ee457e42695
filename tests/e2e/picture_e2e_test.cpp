// A photo printed through quillon-service and the real tool: on the automatic borderless 4x6
// paper, filled or shrunk to fit, or on the ticket's own paper; the job's PDF rendered and probed.
#include "tests/e2e/e2e_support.h"
#include "tests/support/picture_files.h"

namespace {

using namespace gdi_test;
using namespace picture_files;

class PictureE2eTest : public GdiRoot {
protected:
    // Prints the photo with the options; the reply, the first line of what the service prints (the
    // second names the job's PDF).
    std::string Print(const fs::path& photo, std::vector<std::string> options)
    {
        std::vector<std::string> argv = {quillon::e2e::kService, "print", "Quillon Photo", photo.string(), "--quiet"};
        for (const std::string& option : options)
            argv.insert(argv.end(), {"--option", option});
        const quillon::e2e::RunResult result = quillon::e2e::RunProgram(argv, root_.Path().string());
        EXPECT_TRUE(result.ExitedWith(0)) << result.err;
        return result.out.substr(0, result.out.find('\n') + 1);
    }

    std::string Sidecar(int job) const
    {
        return testing_support::ReadWholeFile(SpoolFolder("Quillon Photo") / (std::to_string(job) + ".json"));
    }

    Page Render(int job) const
    {
        return RenderPage(SpoolFolder("Quillon Photo") / (std::to_string(job) + ".pdf"), 1, 20);
    }
};

TEST_F(PictureE2eTest, APhotoFillsTheAutomaticBorderlessPaperOrShowsWholeOrUsesTheTicketsPaper)
{
    // 800 x 400: wider than the 6 x 4 inches it is turned to fill.
    const fs::path photo = root_.Path() / "photo.jpg";
    const std::vector<BYTE> jpeg = SavedPicture("jpeg", 800, 400, kFourColours);
    WriteFile(photo, jpeg);
    EXPECT_EQ(Print(photo, {"PaperSizeAuto"}), "1\n");
    EXPECT_EQ(Print(photo, {"PaperSizeAuto", "ShrinkToFit"}), "2\n");
    EXPECT_EQ(Print(photo, {}), "3\n");
    const std::string borderless = "\"paper\": {\"number\": 257, \"name\": \"4x6 Borderless\"";
    EXPECT_NE(Sidecar(1).find(borderless), std::string::npos) << Sidecar(1);
    EXPECT_NE(Sidecar(2).find(borderless), std::string::npos) << Sidecar(2);
    EXPECT_NE(Sidecar(3).find("\"paper\": {\"number\": 1, \"name\": \"Letter\""), std::string::npos) << Sidecar(3);
    EXPECT_NE(testing_support::ReadWholeFile(SpoolFolder("Quillon Photo") / "1.pdf")
                  .find(std::string(jpeg.begin(), jpeg.end())),
              std::string::npos);

    // Turned a quarter counter-clockwise (its top edge, red and green, along the left), edge to edge.
    ExpectColours(Render(1), {{1, 1, kGreen}, {78, 1, kYellow}, {1, 118, kRed}, {78, 118, kBlue}});
    // Whole, 3 inches across the 4, two equal empty bands.
    ExpectColours(Render(2), {{4, 60, kWhite}, {75, 60, kWhite}, {12, 2, kGreen}, {67, 2, kYellow}, {12, 117, kRed}});
}

} // namespace

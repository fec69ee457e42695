// The picture path: the placement rule in numbers, and whole jobs on the virtual photo printer,
// their PDF rendered with pdftoppm and probed where the picture's quarters, its edges and the
// empty bands must land.
#include "print/image_printing.h"
#include "print/print_impl.h"

#include "driver/log_sink.h"
#include "tests/print/failing_dc.h"
#include "tests/spool/print_test_support.h"
#include "tests/support/picture_files.h"

#include <cstring>

namespace {

using namespace gdi_test;
using namespace picture_files;
using Gdiplus::RectF;

// The photo printer's sheets rendered at 20 dpi: a hundredth of an inch is a fifth of a pixel.
constexpr int kRenderDpi = 20;
constexpr SHORT kFourBySixBorderless = 257;
constexpr SHORT kFiveBySevenBorderless = 259;
constexpr Colour kBlack{0, 0, 0};

std::tuple<float, float, float, float> Values(const RectF& rect)
{
    return {rect.X, rect.Y, rect.Width, rect.Height};
}

TEST(FitRectsTest, FillCutsThePictureAndShrinkNarrowsTheBox)
{
    struct Case {
        RectF source, destination;
        bool shrink;
        RectF fittedSource, fittedDestination;
    };
    const RectF box{-300, -200, 600, 400};
    const Case cases[] = {
        // Wider than the box: its centre part, or the whole between bands above and below.
        {{0, 0, 4000, 2000}, box, false, {500, 0, 3000, 2000}, box},
        {{0, 0, 4000, 2000}, box, true, {0, 0, 4000, 2000}, {-300, -150, 600, 300}},
        // Narrower than the box: its middle rows, or the whole between bands left and right.
        {{0, 0, 1000, 4000}, {-200, -300, 400, 600}, false, {0, 1250, 1000, 1500}, {-200, -300, 400, 600}},
        {{0, 0, 1000, 4000}, {-200, -300, 400, 600}, true, {0, 0, 1000, 4000}, {-75, -300, 150, 600}},
        // The box's own proportions, or no proportions at all: nothing changes.
        {{0, 0, 3000, 2000}, box, false, {0, 0, 3000, 2000}, box},
        {{0, 0, 3000, 2000}, box, true, {0, 0, 3000, 2000}, box},
        {{0, 0, 0, 0}, box, true, {0, 0, 0, 0}, box},
    };
    for (const Case& test : cases) {
        RectF source = test.source;
        RectF destination = test.destination;
        aio::FitRects(source, destination, test.shrink);
        EXPECT_EQ(Values(source), Values(test.fittedSource)) << test.source.Width << " " << test.shrink;
        EXPECT_EQ(Values(destination), Values(test.fittedDestination)) << test.source.Width << " " << test.shrink;
    }
}

class ImagePrintingTest : public GdiRoot {
protected:
    // The tool's log, at the tool's level: the trace records of the picture path stay out of it.
    ImagePrintingTest() { aio::ConfigureLogging((root_.Path() / "logs").string(), base::debug); }
    ~ImagePrintingTest() override
    {
        print_test::FailDeviceContextsAfter(-1);
        print_test::FailNextCall("");
    }

    // The printer's default device mode (public and private part), with a paper or orientation set.
    static std::vector<BYTE> DevMode(const char16_t* printer, SHORT paper = 0, SHORT orientation = DMORIENT_PORTRAIT)
    {
        LPWSTR name = const_cast<LPWSTR>(printer);
        std::vector<BYTE> mode(
            static_cast<std::size_t>(DocumentPropertiesW(nullptr, nullptr, name, nullptr, nullptr, 0)));
        auto* devmode = reinterpret_cast<DEVMODEW*>(mode.data());
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, name, devmode, nullptr, DM_OUT_BUFFER), IDOK);
        if (paper != 0)
            devmode->dmPaperSize = paper;
        devmode->dmOrientation = orientation;
        return mode;
    }

    // Prints the picture bytes; the result, with the job id in job_.
    bool Print(const std::vector<BYTE>& picture, std::vector<BYTE> mode, bool paperSizeAuto, bool shrinkToFit,
               const char16_t* printer = u"Quillon Photo")
    {
        const fs::path file = root_.Path() / "photo";
        WriteFile(file, picture);
        job_ = 0;
        return aio::PrintImpl::PrintImageImpl(u"photo", job_, printer, WidePath(file),
                                              reinterpret_cast<DEVMODEW*>(mode.data()), paperSizeAuto, shrinkToFit);
    }

    fs::path Job(const char* extension) const
    {
        return SpoolFolder("Quillon Photo") / (std::to_string(job_) + extension);
    }

    void ExpectPage(int width, int height, std::initializer_list<std::tuple<int, int, Colour>> probes) const
    {
        const Page page = RenderPage(Job(".pdf"), 1, kRenderDpi);
        ASSERT_EQ(std::make_pair(page.width, page.height), std::make_pair(width, height));
        ExpectColours(page, probes);
    }

    void ExpectPaper(int number) const
    {
        const std::string sidecar = testing_support::ReadWholeFile(Job(".json"));
        EXPECT_NE(sidecar.find(Joined("\"paper\": {\"number\": ", std::to_string(number), ",")), std::string::npos)
            << sidecar;
    }

    std::int32_t job_ = 0;
};

// An 800 x 400 photo: a black band 100 pixels wide at each end, four quarters between them.
std::vector<BYTE> BandedPhoto()
{
    return SavedPicture("jpeg", 800, 400, [](int x, int y) {
        return x < 100 || x >= 700 ? kBlack : kFourColours.At(x - 100, y, 600, 400);
    });
}

// On the automatic 4x6 Borderless paper (80 x 120 pixels), the landscape photo is turned a quarter
// counter-clockwise: its top edge (red, green) along the sheet's left edge.
TEST_F(ImagePrintingTest, AutomaticPaperFilledEdgeToEdgeOrTheWholePhotoBetweenTwoBands)
{
    // Filled: 600 x 400 of the photo (its bands cut off, 100 pixels at each end, by a clip: the
    // JPEG's own bytes are in the PDF) covers the sheet.
    const std::vector<BYTE> photo = BandedPhoto();
    ASSERT_TRUE(Print(photo, DevMode(u"Quillon Photo"), true, false));
    EXPECT_EQ(job_, 1);
    ExpectPaper(kFourBySixBorderless);
    EXPECT_NE(testing_support::ReadWholeFile(Job(".pdf")).find(std::string(photo.begin(), photo.end())),
              std::string::npos);
    ExpectPage(80, 120,
               {{20, 30, kGreen},
                {60, 30, kYellow},
                {20, 90, kRed},
                {60, 90, kBlue},
                {1, 1, kGreen},
                {78, 1, kYellow},
                {1, 118, kRed},
                {78, 118, kBlue}});

    // Shrunk: all 800 pixels along the sheet's 6 inches, 3 inches across, 0.5 inch empty at each side.
    ASSERT_TRUE(Print(photo, DevMode(u"Quillon Photo"), true, true));
    EXPECT_EQ(job_, 2);
    ExpectPaper(kFourBySixBorderless);
    ExpectPage(80, 120,
               {{25, 37, kGreen},
                {55, 37, kYellow},
                {25, 82, kRed},
                {55, 82, kBlue},
                {4, 60, kWhite},
                {75, 60, kWhite},
                {40, 5, kBlack},
                {40, 114, kBlack},
                {12, 40, kGreen},
                {67, 40, kYellow}});
}

// Without the automatic choice the ticket's paper is used; a portrait picture on a portrait sheet
// is not turned. Every kind of picture prints (a GIF its first frame).
TEST_F(ImagePrintingTest, EveryKindPrintsOnTheDeviceModesPaper)
{
    const std::pair<const char*, std::vector<BYTE>> pictures[] = {
        {"jpeg", SavedPicture("jpeg", 40, 60, kFourColours)},  {"png", SavedPicture("png", 40, 60, kFourColours)},
        {"bmp", SavedPicture("bmp", 40, 60, kFourColours)},    {"tiff", TiffPicture(40, 60, {kFourColours})},
        {"gif", GifPicture(40, 60, {kFourColours, kAllBlue})},
    };
    for (const auto& [kind, picture] : pictures) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(Print(picture, DevMode(u"Quillon Photo", kFiveBySevenBorderless), false, false));
        ExpectPaper(kFiveBySevenBorderless);
        ExpectPage(100, 140, {{25, 35, kRed}, {75, 35, kGreen}, {25, 105, kBlue}, {75, 105, kYellow}});
    }
    EXPECT_EQ(job_, 5);
}

TEST_F(ImagePrintingTest, PictureAndSheetOrientationsDecideTheTurn)
{
    // A square picture counts as portrait: upright on a portrait sheet...
    ASSERT_TRUE(Print(SavedPicture("png", 40, 40, kFourColours), DevMode(u"Quillon Photo", kFourBySixBorderless), false,
                      false));
    ExpectPage(80, 120, {{20, 30, kRed}, {60, 30, kGreen}, {20, 90, kBlue}, {60, 90, kYellow}});
    // ... turned on a sheet that dmOrientation 2 makes landscape (120 x 80 pixels).
    ASSERT_TRUE(Print(SavedPicture("png", 40, 40, kFourColours),
                      DevMode(u"Quillon Photo", kFourBySixBorderless, DMORIENT_LANDSCAPE), false, false));
    ExpectPage(120, 80, {{30, 20, kGreen}, {90, 20, kYellow}, {30, 60, kRed}, {90, 60, kBlue}});

    // Stored landscape, tagged to be turned a quarter clockwise: seen as portrait, so not turned
    // again; it prints as it is seen, and its bytes reach the PDF unchanged.
    const std::vector<BYTE> tagged = WithExifOrientation(SavedPicture("jpeg", 60, 40, kFourColours), 6);
    ASSERT_TRUE(Print(tagged, DevMode(u"Quillon Photo", kFourBySixBorderless), false, false));
    ExpectPage(80, 120, {{20, 30, kBlue}, {60, 30, kRed}, {20, 90, kYellow}, {60, 90, kGreen}});
    EXPECT_NE(testing_support::ReadWholeFile(Job(".pdf")).find(std::string(tagged.begin(), tagged.end())),
              std::string::npos);
}

TEST_F(ImagePrintingTest, PicturesThatCannotBeLoadedFailBeforeAJobStarts)
{
    const std::vector<BYTE> jpeg = SavedPicture("jpeg", 64, 64, kFourColours);
    for (const std::vector<BYTE>& picture :
         {CutOff(jpeg), Corrupted(jpeg), WithFrameSize(jpeg, 30000, 30000), std::vector<BYTE>{'n', 'o'}})
        EXPECT_FALSE(Print(picture, DevMode(u"Quillon Photo"), true, false));
    EXPECT_EQ(job_, 0);
    EXPECT_FALSE(aio::PrintImpl::PrintImageImpl(u"photo", job_, u"Quillon Photo", u"/nowhere/photo.jpg",
                                                reinterpret_cast<DEVMODEW*>(DevMode(u"Quillon Photo").data()), false,
                                                false));
    EXPECT_FALSE(Print(jpeg, DevMode(u"Quillon Photo"), false, false, u"Nobody"));
    EXPECT_EQ(job_, 0);
    EXPECT_TRUE(SpoolFiles("Quillon Photo").empty());
}

// A job thrown away after it started (its page not started, its picture refused while drawn, its
// page or document not ended, no printable area to put the picture in) prints nothing and gets no
// job id, as a picture that cannot be loaded; the log says why.
TEST_F(ImagePrintingTest, AJobThrownAwayAfterItStartedPrintsNothingAndGetsNoId)
{
    const struct {
        const char* failingCall;
        int contextsBeforeFailing;
        const char* record;
    } cases[] = {
        {"StartPage", -1, "In PrintImageImpl, StartPage failed, return: -4"},
        {"GdipDrawImageRectRect", -1, "In PrintImageImpl, GdipDrawImageRectRect failed, status: 7"},
        {"EndPage", -1, "In PrintImageImpl, EndPage failed, return: -4"},
        {"EndDoc", -1, "In PrintImageImpl, EndDoc failed, return: -4"},
        // The job's own device context is made, the one that measures the printable area is not.
        {"", 1, "In PrintImageImpl, MeasurePrintableArea failed."},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.record);
        print_test::FailNextCall(item.failingCall);
        print_test::FailDeviceContextsAfter(item.contextsBeforeFailing);
        EXPECT_FALSE(Print(SavedPicture("jpeg", 40, 60, kFourColours), DevMode(u"Quillon Photo"), false, false));
        EXPECT_EQ(job_, 0);
        EXPECT_EQ(print_test::DebugMessages(root_.Path() / "logs/log").back(), item.record);
    }
    EXPECT_EQ(SpoolFiles("Quillon Photo"), std::vector<std::string>{".last-job"});
    // Each of them took its id all the same.
    print_test::FailDeviceContextsAfter(-1);
    ASSERT_TRUE(Print(SavedPicture("jpeg", 40, 60, kFourColours), DevMode(u"Quillon Photo"), false, false));
    EXPECT_EQ(job_, 6);
}

} // namespace

// GDI+ graphics on a printer, checked on the job's PDF rendered with pdftoppm: hundredths of an
// inch from the printable corner, world transforms in either order, and JPEGs the printer cannot
// take decoded. (JPEG bytes passed on unchanged are checked with the picture path's jobs.)
#include "platform/gdiplus/gdiplus.h"
#include "tests/support/picture_files.h"

namespace {

using namespace gdi_test;
using namespace picture_files;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// A tenth of the office printer's 600 dpi: 1 pixel is 10 dots, 1/60 inch, and the printable area
// starts 100 dots (10 pixels) in from the sheet's edges. A hundredth of an inch is 6 dots.
constexpr int kRenderDpi = 60;

class GraphicsTest : public GdiRoot {
protected:
    GraphicsTest()
    {
        const GdiplusStartupInput input;
        EXPECT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    ~GraphicsTest() override { GdiplusShutdown(token_); }

    // A printer context with a page started, and graphics on it.
    GpGraphics* Start(const DEVMODEW* mode = nullptr)
    {
        dc_ = CreateDCW(u"", u"Quillon Office", nullptr, mode);
        const DOCINFOW info{20, u"graphics", nullptr, nullptr, 0};
        job_ = StartDocW(dc_, &info);
        EXPECT_GT(StartPage(dc_), 0);
        GpGraphics* graphics = nullptr;
        EXPECT_EQ(GdipCreateFromHDC2(dc_, nullptr, &graphics), Ok);
        return graphics;
    }

    GpBitmap* Bitmap(const std::vector<BYTE>& bytes)
    {
        const fs::path path = root_.Path() / ("picture" + std::to_string(++files_));
        WriteFile(path, bytes);
        GpBitmap* bitmap = nullptr;
        EXPECT_EQ(GdipCreateBitmapFromFile(WidePath(path).c_str(), &bitmap), Ok);
        return bitmap;
    }

    // Ends the page and the job; the job's PDF.
    fs::path Finish(GpGraphics* graphics)
    {
        EXPECT_EQ(GdipFlush(graphics, FlushIntentionFlush), Ok);
        EXPECT_EQ(GdipDeleteGraphics(graphics), Ok);
        EXPECT_GT(EndPage(dc_), 0);
        EXPECT_GT(EndDoc(dc_), 0);
        DeleteDC(dc_);
        return SpoolFolder("Quillon Office") / (std::to_string(job_) + ".pdf");
    }

    ULONG_PTR token_ = 0;
    HDC dc_ = nullptr;
    int job_ = 0;
    int files_ = 0;
};

TEST_F(GraphicsTest, UnitsAreHundredthsOfAnInchFromThePrintableCorner)
{
    GpGraphics* graphics = Start();
    GpBitmap* picture = Bitmap(SavedPicture("png", 40, 20, kFourColours));
    // (100, 50) to (300, 150): dots 600..1800 across, 300..900 down; pixels 70..190, 40..100.
    EXPECT_EQ(
        GdipDrawImageRectRect(graphics, picture, 100, 50, 200, 100, 0, 0, 40, 20, UnitPixel, nullptr, nullptr, nullptr),
        Ok);
    // The right half alone, reaching past the picture's edge, into (400, 50, 100, 100).
    EXPECT_EQ(GdipDrawImageRectRect(graphics, picture, 400, 50, 200, 100, 20, 0, 40, 20, UnitPixel, nullptr, nullptr,
                                    nullptr),
              Ok);
    const Page page = RenderPage(Finish(graphics), 1, kRenderDpi);
    ExpectColours(page,
                  {{100, 55, kRed},
                   {160, 55, kGreen},
                   {100, 85, kBlue},
                   {160, 85, kYellow},
                   {65, 70, kWhite},
                   {195, 70, kWhite},
                   {130, 36, kWhite},
                   {130, 104, kWhite}});
    ExpectColours(page, {{280, 55, kGreen}, {280, 85, kYellow}, {315, 70, kWhite}});
    GdipDisposeImage(picture);
}

// Translate, then turn a quarter counter-clockwise, both put in front (Prepend): the picture turns
// about its centre and lands centred on the translated origin, its top edge along the left. The
// same with the translation put after (Append), 300 hundredths lower.
TEST_F(GraphicsTest, WorldTransformsCombineInEitherOrder)
{
    GpGraphics* graphics = Start();
    GpBitmap* picture = Bitmap(SavedPicture("png", 40, 20, kFourColours));
    EXPECT_EQ(GdipTranslateWorldTransform(graphics, 400, 500, MatrixOrderPrepend), Ok);
    EXPECT_EQ(GdipRotateWorldTransform(graphics, -90, MatrixOrderPrepend), Ok);
    GdipDrawImageRectRect(graphics, picture, -100, -50, 200, 100, 0, 0, 40, 20, UnitPixel, nullptr, nullptr, nullptr);
    GpGraphics* appended = nullptr;
    ASSERT_EQ(GdipCreateFromHDC2(dc_, nullptr, &appended), Ok);
    EXPECT_EQ(GdipRotateWorldTransform(appended, -90, MatrixOrderPrepend), Ok);
    EXPECT_EQ(GdipTranslateWorldTransform(appended, 400, 800, MatrixOrderAppend), Ok);
    GdipDrawImageRectRect(appended, picture, -100, -50, 200, 100, 0, 0, 40, 20, UnitPixel, nullptr, nullptr, nullptr);
    GdipDeleteGraphics(appended);
    const Page page = RenderPage(Finish(graphics), 1, kRenderDpi);
    // Hundredths 350..450 across, 400..600 down: pixels 220..280, 250..370.
    ExpectColours(page,
                  {{235, 280, kGreen},
                   {235, 340, kRed},
                   {265, 280, kYellow},
                   {265, 340, kBlue},
                   {215, 310, kWhite},
                   {285, 310, kWhite},
                   {250, 245, kWhite},
                   {250, 375, kWhite}});
    ExpectColours(page, {{235, 460, kGreen}, {235, 520, kRed}, {265, 460, kYellow}, {265, 520, kBlue}});
    GdipDisposeImage(picture);
}

TEST_F(GraphicsTest, JpegsThePrinterCannotTakeAreDecoded)
{
    // Every picture of a monochrome job is decoded and printed grey.
    const std::vector<BYTE> jpeg = SavedPicture("jpeg", 32, 32, kAllRed);
    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    GpGraphics* graphics = Start(&mono);
    GpBitmap* picture = Bitmap(jpeg);
    GdipDrawImageRectRect(graphics, picture, 0, 0, 100, 100, 0, 0, 32, 32, UnitPixel, nullptr, nullptr, nullptr);
    fs::path pdf = Finish(graphics);
    GdipDisposeImage(picture);
    EXPECT_EQ(testing_support::ReadWholeFile(pdf).find(std::string(jpeg.begin(), jpeg.end())), std::string::npos);
    ExpectColours(RenderPage(pdf, 1, kRenderDpi), {{20, 20, Colour{76, 76, 76}}});

    // A CMYK JPEG's bytes would print as a negative.
    const std::vector<BYTE> cmyk = CmykJpeg(32, 32, 0, 255, 255, 0);
    graphics = Start();
    picture = Bitmap(cmyk);
    GdipDrawImageRectRect(graphics, picture, 0, 0, 100, 100, 0, 0, 32, 32, UnitPixel, nullptr, nullptr, nullptr);
    pdf = Finish(graphics);
    GdipDisposeImage(picture);
    EXPECT_EQ(testing_support::ReadWholeFile(pdf).find(std::string(cmyk.begin(), cmyk.end())), std::string::npos);
    ExpectColours(RenderPage(pdf, 1, kRenderDpi), {{20, 20, kRed}});
}

TEST_F(GraphicsTest, WhatIsNotOfferedIsRefusedRatherThanDrawnOtherwise)
{
    GpGraphics* graphics = Start();
    GpBitmap* picture = Bitmap(SavedPicture("png", 8, 8, kAllRed));
    const auto* attributes = reinterpret_cast<const GpImageAttributes*>(picture);
    for (const auto& [unit, imageAttributes] :
         {std::pair<GpUnit, const GpImageAttributes*>{UnitInch, nullptr}, {UnitPixel, attributes}})
        EXPECT_EQ(GdipDrawImageRectRect(graphics, picture, 0, 0, 100, 100, 0, 0, 8, 8, unit, imageAttributes, nullptr,
                                        nullptr),
                  NotImplemented);
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    GpGraphics* other = nullptr;
    EXPECT_EQ(GdipCreateFromHDC2(recording, nullptr, &other), NotImplemented);
    DeleteEnhMetaFile(CloseEnhMetaFile(recording));
    EXPECT_TRUE(Near(RenderPage(Finish(graphics), 1, kRenderDpi).At(20, 20), kWhite));
    GdipDisposeImage(picture);
}

} // namespace

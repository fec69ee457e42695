// Drawing onto a printer, checked on the job's PDF rendered with pdftoppm: where ink lands, where
// it must not, which way up a bitmap comes out, grey for monochrome jobs, and JPEG bytes that reach
// the PDF unchanged where the printer takes them.
#include "tests/gdi/gdi_test_support.h"

#include "platform/kernel/kernel.h"

#include <algorithm>
#include <memory>

namespace {

using namespace gdi_test;

constexpr int kRenderDpi = 60; // a tenth of the office printer's 600 dpi: 1 pixel = 10 dots

class DrawingTest : public GdiRoot {
protected:
    HDC Printer(const char16_t* name, const DEVMODEW* mode = nullptr)
    {
        HDC dc = CreateDCW(u"", name, nullptr, mode);
        EXPECT_NE(dc, nullptr);
        const DOCINFOW info{20, u"drawing", nullptr, nullptr, 0};
        job_ = StartDocW(dc, &info);
        EXPECT_GT(job_, 0);
        EXPECT_GT(StartPage(dc), 0);
        return dc;
    }

    // Ends the page and the job; the path of its PDF.
    fs::path Finish(HDC dc, const std::string& printer)
    {
        EXPECT_GT(EndPage(dc), 0);
        EXPECT_GT(EndDoc(dc), 0);
        EXPECT_TRUE(DeleteDC(dc));
        return SpoolFolder(printer) / (std::to_string(job_) + ".pdf");
    }

    int job_ = 0;
};

void ExpectColour(const Page& page, int x, int y, Colour expected)
{
    EXPECT_TRUE(Near(page.At(x, y), expected))
        << "at " << x << "," << y << ": " << Describe(page.At(x, y)) << " instead of " << Describe(expected);
}

TEST_F(DrawingTest, DeviceUnitsStartAtThePrintableCornerAndInkStaysInsideIt)
{
    HDC dc = Printer(u"Quillon Office");
    const Dib red = TwoBandBitmap(8, 8, 24, true, kRed, kRed);
    // From 200 dots outside the printable area's corner to 200 dots past its right edge.
    const int width = GetDeviceCaps(dc, HORZRES) + 400;
    EXPECT_EQ(StretchDIBits(dc, -200, -200, width, 1200, 0, 0, 8, 8, red.Bits(), red.Info(), DIB_RGB_COLORS, SRCCOPY),
              8);
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    ASSERT_EQ(page.width, 510); // Letter, 8.5 x 11 inches
    ASSERT_EQ(page.height, 660);
    // The printable area starts 100 dots (10 pixels) in from the sheet's edges.
    ExpectColour(page, 5, 50, kWhite);
    ExpectColour(page, 50, 5, kWhite);
    ExpectColour(page, 12, 12, kRed);
    ExpectColour(page, 497, 50, kRed);
    ExpectColour(page, 504, 50, kWhite);
    // Device y 1000 is 110 pixels down the sheet.
    ExpectColour(page, 250, 105, kRed);
    ExpectColour(page, 250, 115, kWhite);
}

TEST_F(DrawingTest, BitmapsComeOutUprightWhicheverWayTheirRowsAreStored)
{
    HDC dc = Printer(u"Quillon Office");
    // Four bitmaps side by side, each red above blue: 24 and 32 bits, top-down and bottom-up.
    int x = 0;
    for (int bitCount : {24, 32}) {
        for (bool topDown : {true, false}) {
            const Dib dib = TwoBandBitmap(10, 10, bitCount, topDown, kRed, kBlue);
            EXPECT_EQ(
                StretchDIBits(dc, x, 0, 1000, 1000, 0, 0, 10, 10, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY), 10);
            x += 1200;
        }
    }
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    for (int i = 0; i < 4; ++i) {
        const int column = 10 + i * 120 + 50;
        ExpectColour(page, column, 30, kRed);
        ExpectColour(page, column, 90, kBlue);
    }
}

TEST_F(DrawingTest, SourceRectanglesOfBottomUpBitmapsCountFromTheBottomRow)
{
    HDC dc = Printer(u"Quillon Office");
    const Dib bottomUp = TwoBandBitmap(10, 10, 32, false, kRed, kBlue);
    const Dib topDown = TwoBandBitmap(10, 10, 24, true, kRed, kBlue);
    // The first five rows: of a bottom-up bitmap, the lower (blue) half; of a top-down one, the red.
    StretchDIBits(dc, 0, 0, 1000, 1000, 0, 0, 10, 5, bottomUp.Bits(), bottomUp.Info(), DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 1200, 0, 1000, 1000, 0, 0, 10, 5, topDown.Bits(), topDown.Info(), DIB_RGB_COLORS, SRCCOPY);
    // A negative destination height turns the picture upside down.
    StretchDIBits(dc, 2400, 1000, 1000, -1000, 0, 0, 10, 10, topDown.Bits(), topDown.Info(), DIB_RGB_COLORS, SRCCOPY);
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    ExpectColour(page, 60, 20, kBlue);
    ExpectColour(page, 60, 100, kBlue);
    ExpectColour(page, 180, 20, kRed);
    ExpectColour(page, 180, 100, kRed);
    ExpectColour(page, 300, 30, kBlue);
    ExpectColour(page, 300, 90, kRed);
}

TEST_F(DrawingTest, TheWorldTransformAndTheLayoutPlaceBitmaps)
{
    HDC dc = Printer(u"Quillon Office");
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM placed{2, 0, 0, 2, 1000, 500};
    ASSERT_TRUE(SetWorldTransform(dc, &placed));
    const Dib green = TwoBandBitmap(4, 4, 32, true, kGreen, kGreen);
    // Logical (0, 0)-(500, 500) lands on device (1000, 500)-(2000, 1500).
    StretchDIBits(dc, 0, 0, 500, 500, 0, 0, 4, 4, green.Bits(), green.Info(), DIB_RGB_COLORS, SRCCOPY);
    // Right to left, device x runs from the printable area's right edge (4900 dots).
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    SetLayout(dc, LAYOUT_RTL);
    const Dib blue = TwoBandBitmap(4, 4, 32, true, kBlue, kBlue);
    StretchDIBits(dc, 0, 3000, 1000, 1000, 0, 0, 4, 4, blue.Bits(), blue.Info(), DIB_RGB_COLORS, SRCCOPY);
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    ExpectColour(page, 150, 100, kGreen);
    ExpectColour(page, 105, 100, kWhite);
    ExpectColour(page, 150, 165, kWhite);
    ExpectColour(page, 450, 350, kBlue);
    ExpectColour(page, 50, 350, kWhite);
}

TEST_F(DrawingTest, MonochromeJobsPrintGrey)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_COLOR;
    mode.dmColor = DMCOLOR_MONOCHROME;
    HDC dc = Printer(u"Quillon Office", &mode);
    const Dib dib = TwoBandBitmap(4, 4, 24, true, kRed, kBlue);
    StretchDIBits(dc, 0, 0, 1000, 1000, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY);
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    const Colour red = page.At(60, 30);
    const Colour blue = page.At(60, 90);
    EXPECT_TRUE(Near(red, Colour{76, 76, 76}, 6)) << Describe(red);
    EXPECT_TRUE(Near(blue, Colour{29, 29, 29}, 6)) << Describe(blue);
}

TEST_F(DrawingTest, BitsMayBeFreedAsSoonAsTheCallReturns)
{
    HDC dc = Printer(u"Quillon Office");
    for (int i = 0; i < 3; ++i) {
        auto dib = std::make_unique<Dib>(TwoBandBitmap(16, 16, 32, true, kGreen, kGreen));
        EXPECT_EQ(
            StretchDIBits(dc, i * 1200, 0, 1000, 1000, 0, 0, 16, 16, dib->Bits(), dib->Info(), DIB_RGB_COLORS, SRCCOPY),
            16);
        std::fill(dib->bits.begin(), dib->bits.end(), BYTE{0});
    }
    const Page page = RenderPage(Finish(dc, "Quillon Office"), 1, kRenderDpi);
    for (int i = 0; i < 3; ++i)
        ExpectColour(page, 60 + i * 120, 60, kGreen);
}

TEST_F(DrawingTest, UnsupportedBitmapsAndRasterOperationsAreRefused)
{
    HDC dc = Printer(u"Quillon Office");
    Dib dib = TwoBandBitmap(4, 4, 32, true, kRed, kRed);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, 0x00EE0086), 0);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 4, 4, nullptr, dib.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 0, 10, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
    for (WORD bitCount : {1, 8, 16}) {
        dib.info.bmiHeader.biBitCount = bitCount;
        EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
    }
    dib.info.bmiHeader.biBitCount = 32;
    dib.info.bmiHeader.biWidth = 40000;
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY), 0);
    Finish(dc, "Quillon Office");
}

// The JPEG of a StretchDIBits call on a printer that takes JPEG lands in the PDF byte for byte.
TEST_F(DrawingTest, JpegReachesAPrinterThatTakesItUnchanged)
{
    HDC dc = Printer(u"Quillon Office");
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 64, 32, kRed, kBlue);
    const BITMAPINFO info = CompressedInfo(BI_JPEG, 64, 32, jpeg.size());
    DWORD answer = 0;
    EXPECT_EQ(ExtEscape(dc, CHECKJPEGFORMAT, static_cast<int>(jpeg.size()), reinterpret_cast<LPCSTR>(jpeg.data()),
                        sizeof answer, reinterpret_cast<LPSTR>(&answer)),
              1);
    EXPECT_EQ(answer, 1u);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 2000, 1000, 0, 0, 64, 32, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY), 32);
    // Only the right half: cut out by a clip, the same bytes again.
    EXPECT_EQ(StretchDIBits(dc, 2000, 2000, 1000, 1000, 32, 0, 32, 32, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY),
              32);
    const fs::path pdf = Finish(dc, "Quillon Office");
    const std::string bytes = testing_support::ReadWholeFile(pdf);
    EXPECT_NE(bytes.find(std::string(jpeg.begin(), jpeg.end())), std::string::npos);
    const Page page = RenderPage(pdf, 1, kRenderDpi);
    ExpectColour(page, 50, 60, kRed);
    ExpectColour(page, 150, 60, kBlue);
    ExpectColour(page, 260, 260, kBlue);
    ExpectColour(page, 160, 260, kWhite); // where the cut-off red half would be
    ExpectColour(page, 315, 260, kWhite);
}

TEST_F(DrawingTest, CompressedPicturesOnlyWhereTheDeviceTakesThemUnchanged)
{
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 16, 16, kRed, kBlue);
    const std::vector<BYTE> png = EncodedPicture("png", 16, 16, kRed, kBlue);
    const BITMAPINFO jpegInfo = CompressedInfo(BI_JPEG, 16, 16, jpeg.size());
    const BITMAPINFO pngInfo = CompressedInfo(BI_PNG, 16, 16, png.size());
    // The office printer takes JPEG but not PNG, and nothing compressed for a monochrome job.
    HDC colour = Printer(u"Quillon Office");
    SetLastError(0);
    EXPECT_EQ(StretchDIBits(colour, 0, 0, 100, 100, 0, 0, 16, 16, png.data(), &pngInfo, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    Finish(colour, "Quillon Office");
    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    HDC grey = Printer(u"Quillon Office", &mono);
    EXPECT_EQ(StretchDIBits(grey, 0, 0, 100, 100, 0, 0, 16, 16, jpeg.data(), &jpegInfo, DIB_RGB_COLORS, SRCCOPY), 0);
    Finish(grey, "Quillon Office");

    // A printer that takes PNG gets its pixels.
    InstallPrinter("png.printer",
                   "[printer]\nname = Png\nresolution = 600\ndefault-paper = 1\ncolor = yes\n"
                   "takes-png = yes\n\n[paper 1]\nname = Letter\nsize = 215.9 x 279.4\nmargins = 4.23\n");
    HDC pngPrinter = Printer(u"Png");
    EXPECT_EQ(StretchDIBits(pngPrinter, 0, 0, 1000, 1000, 0, 0, 16, 16, png.data(), &pngInfo, DIB_RGB_COLORS, SRCCOPY),
              16);
    EXPECT_EQ(
        StretchDIBits(pngPrinter, 0, 0, 1000, 1000, 0, 0, 16, 16, jpeg.data(), &jpegInfo, DIB_RGB_COLORS, SRCCOPY), 0);
    const Page page = RenderPage(Finish(pngPrinter, "Png"), 1, kRenderDpi);
    ExpectColour(page, 30, 60, kRed);
    ExpectColour(page, 90, 60, kBlue);
}

TEST_F(DrawingTest, EscapesAnswerFromThePrinterAndFromTheBytes)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    auto supported = [&](HDC target, DWORD escape) {
        return ExtEscape(target, QUERYESCSUPPORT, sizeof escape, reinterpret_cast<LPCSTR>(&escape), 0, nullptr);
    };
    auto check = [&](int escape, const std::vector<BYTE>& bytes) {
        DWORD answer = 7;
        const int result = ExtEscape(dc, escape, static_cast<int>(bytes.size()), reinterpret_cast<LPCSTR>(bytes.data()),
                                     sizeof answer, reinterpret_cast<LPSTR>(&answer));
        EXPECT_EQ(result, 1);
        return answer;
    };
    EXPECT_EQ(supported(dc, QUERYESCSUPPORT), 1);
    EXPECT_EQ(supported(dc, CHECKJPEGFORMAT), 1);
    EXPECT_EQ(supported(dc, CHECKPNGFORMAT), 0);
    EXPECT_EQ(supported(dc, 4121), 0);
    EXPECT_EQ(ExtEscape(dc, CHECKPNGFORMAT, 0, nullptr, 0, nullptr), 0);

    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 8, 8, kRed, kBlue);
    EXPECT_EQ(check(CHECKJPEGFORMAT, jpeg), 1u);
    // Cut off before its end, or CMYK (four components in its frame header): not taken.
    EXPECT_EQ(check(CHECKJPEGFORMAT, std::vector<BYTE>(jpeg.begin(), jpeg.end() - 10)), 0u);
    std::vector<BYTE> cmyk = jpeg;
    for (std::size_t i = 2; i + 9 < cmyk.size(); ++i) {
        if (cmyk[i] == 0xFF && cmyk[i + 1] == 0xC0) {
            cmyk[i + 9] = 4;
            break;
        }
    }
    EXPECT_EQ(check(CHECKJPEGFORMAT, cmyk), 0u);
    EXPECT_EQ(check(CHECKJPEGFORMAT, EncodedPicture("png", 8, 8, kRed, kBlue)), 0u);
    EXPECT_EQ(check(CHECKJPEGFORMAT, {}), 0u);
    // The answer needs somewhere to go.
    EXPECT_EQ(ExtEscape(dc, CHECKJPEGFORMAT, static_cast<int>(jpeg.size()), reinterpret_cast<LPCSTR>(jpeg.data()), 0,
                        nullptr),
              -1);
    DeleteDC(dc);

    HDC screen = GetDC(nullptr);
    EXPECT_EQ(supported(screen, CHECKJPEGFORMAT), 0);
    ReleaseDC(nullptr, screen);
}

} // namespace

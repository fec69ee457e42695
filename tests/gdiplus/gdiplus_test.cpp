// GDI+ as the record repair uses it: counted start-ups, bitmaps decoded from JPEG and PNG bits (and
// plain rows), and their pixels lent for reading in 32-bit RGB.
#include "platform/gdiplus/gdiplus.h"
#include "tests/gdi/gdi_test_support.h"

#include <cstring>

namespace {

using namespace gdi_test;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

class GdiplusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }

    GpBitmap* FromDib(const BITMAPINFO& info, const void* bits)
    {
        GpBitmap* bitmap = nullptr;
        EXPECT_EQ(GdipCreateBitmapFromGdiDib(&info, const_cast<void*>(bits), &bitmap), Ok);
        return bitmap;
    }

    GpBitmap* FromPicture(DWORD compression, const std::vector<BYTE>& bytes, int width, int height)
    {
        const BITMAPINFO info = CompressedInfo(compression, width, height, bytes.size());
        return FromDib(info, bytes.data());
    }

    ULONG_PTR token_ = 0;
};

// The pixel at (x, y) of locked 32-bit rows, as a colour.
Colour PixelAt(const BitmapData& data, int x, int y)
{
    const auto* row = static_cast<const BYTE*>(data.Scan0) + y * data.Stride;
    return Colour{row[x * 4 + 2], row[x * 4 + 1], row[x * 4]};
}

BYTE AlphaAt(const BitmapData& data, int x, int y)
{
    return static_cast<const BYTE*>(data.Scan0)[y * data.Stride + x * 4 + 3];
}

TEST(GdiplusStartupTest, StartsAreCountedAndEachHasItsToken)
{
    const GdiplusStartupInput input;
    ULONG_PTR first = 0, second = 0;
    ASSERT_EQ(GdiplusStartup(&first, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&second, &input, nullptr), Ok);
    EXPECT_NE(first, second);
    UINT width = 0;
    GdiplusShutdown(first);
    GdiplusShutdown(first); // once per token
    GdiplusShutdown(12345);
    EXPECT_EQ(GdipGetImageWidth(nullptr, &width), InvalidParameter); // still started
    GdiplusShutdown(second);
    EXPECT_EQ(GdipGetImageWidth(nullptr, &width), GdiplusNotInitialized);

    GdiplusStartupInput future = input;
    future.GdiplusVersion = 4;
    EXPECT_EQ(GdiplusStartup(&first, &future, nullptr), UnsupportedGdiplusVersion);
    EXPECT_EQ(GdiplusStartup(nullptr, &input, nullptr), InvalidParameter);
    GdiplusStartupInput quiet = input;
    quiet.SuppressBackgroundThread = TRUE;
    EXPECT_EQ(GdiplusStartup(&first, &quiet, nullptr), InvalidParameter);
    GdiplusStartupOutput output{};
    ASSERT_EQ(GdiplusStartup(&first, &quiet, &output), Ok);
    ULONG_PTR hook = 99;
    ASSERT_NE(output.NotificationHook, nullptr);
    EXPECT_EQ(output.NotificationHook(&hook), Ok);
    output.NotificationUnhook(hook);
    GdiplusShutdown(first);
}

TEST_F(GdiplusTest, JpegAndPngBitsDecodeIntoReadablePixels)
{
    for (const char* type : {"jpeg", "png"}) {
        SCOPED_TRACE(type);
        const DWORD compression = std::string(type) == "jpeg" ? BI_JPEG : BI_PNG;
        GpBitmap* bitmap = FromPicture(compression, EncodedPicture(type, 20, 10, kRed, kBlue), 20, 10);
        ASSERT_NE(bitmap, nullptr);
        UINT width = 0, height = 0;
        EXPECT_EQ(GdipGetImageWidth(bitmap, &width), Ok);
        EXPECT_EQ(GdipGetImageHeight(bitmap, &height), Ok);
        EXPECT_EQ(width, 20u);
        EXPECT_EQ(height, 10u);

        const GpRect all{0, 0, 20, 10};
        BitmapData data{};
        ASSERT_EQ(GdipBitmapLockBits(bitmap, &all, ImageLockModeRead, PixelFormat32bppRGB, &data), Ok);
        EXPECT_EQ(data.Width, 20u);
        EXPECT_EQ(data.Height, 10u);
        EXPECT_EQ(data.Stride, 80);
        EXPECT_EQ(data.PixelFormat, PixelFormat32bppRGB);
        EXPECT_TRUE(Near(PixelAt(data, 2, 5), kRed, 20)) << Describe(PixelAt(data, 2, 5));
        EXPECT_TRUE(Near(PixelAt(data, 17, 5), kBlue, 20)) << Describe(PixelAt(data, 17, 5));
        EXPECT_EQ(AlphaAt(data, 17, 5), 0xFF);
        EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
        EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
        EXPECT_EQ(GdipDisposeImage(bitmap), InvalidParameter);
    }
}

TEST_F(GdiplusTest, PlainRowsKeepTheirOrientationAndLocksCoverTheirRectangle)
{
    const Dib dib = TwoBandBitmap(6, 4, 24, false, kRed, kGreen);
    GpBitmap* bitmap = FromDib(dib.info, dib.Bits());
    ASSERT_NE(bitmap, nullptr);
    const GpRect lower{2, 2, 3, 2};
    BitmapData data{};
    ASSERT_EQ(GdipBitmapLockBits(bitmap, &lower, ImageLockModeRead, PixelFormat32bppARGB, &data), Ok);
    EXPECT_EQ(data.Width, 3u);
    EXPECT_EQ(data.Stride, 12);
    EXPECT_TRUE(Near(PixelAt(data, 0, 0), kGreen, 0));
    EXPECT_EQ(AlphaAt(data, 2, 1), 0xFF);
    // One lock at a time.
    BitmapData second{};
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat32bppRGB, &second), WrongState);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), Ok);
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &data), WrongState);

    // Into the caller's own buffer: the whole bitmap, red on top.
    std::vector<BYTE> buffer(6 * 4 * 4 + 64, 0);
    BitmapData own{};
    own.Scan0 = buffer.data();
    own.Stride = 6 * 4 + 16;
    ASSERT_EQ(
        GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppRGB, &own),
        Ok);
    EXPECT_EQ(own.Scan0, buffer.data());
    EXPECT_TRUE(Near(PixelAt(own, 5, 0), kRed, 0));
    EXPECT_TRUE(Near(PixelAt(own, 5, 3), kGreen, 0));
    EXPECT_EQ(buffer[6 * 4 + 4], 0); // the gap past each row is the caller's
    EXPECT_EQ(GdipBitmapUnlockBits(bitmap, &own), Ok);

    for (const GpRect& outside : {GpRect{0, 0, 7, 4}, GpRect{5, 0, 2, 1}, GpRect{-1, 0, 1, 1}, GpRect{0, 3, 1, 0}})
        EXPECT_EQ(GdipBitmapLockBits(bitmap, &outside, ImageLockModeRead, PixelFormat32bppRGB, &data),
                  InvalidParameter);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppRGB, &data),
              NotImplemented);
    EXPECT_EQ(GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat24bppRGB, &data), NotImplemented);
    EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
}

TEST_F(GdiplusTest, BitsThatAreNotWhatTheirHeaderSaysAreRefused)
{
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 8, 8, kRed, kBlue);
    const std::vector<BYTE> png = EncodedPicture("png", 8, 8, kRed, kBlue);
    const std::vector<BYTE> cut(jpeg.begin(), jpeg.end() - 20);
    const std::vector<BYTE> garbage(64, 0x5A);
    const std::pair<DWORD, const std::vector<BYTE>*> refused[]
        = {{BI_JPEG, &png}, {BI_PNG, &jpeg}, {BI_JPEG, &cut}, {BI_PNG, &garbage}, {BI_JPEG, &garbage}};
    for (const auto& [compression, bytes] : refused) {
        const BITMAPINFO info = CompressedInfo(compression, 8, 8, bytes->size());
        GpBitmap* bitmap = reinterpret_cast<GpBitmap*>(1);
        EXPECT_EQ(GdipCreateBitmapFromGdiDib(&info, const_cast<BYTE*>(bytes->data()), &bitmap), InvalidParameter);
        EXPECT_EQ(bitmap, nullptr);
    }
    BITMAPINFO eightBit = CompressedInfo(BI_RGB, 8, 8, 0);
    eightBit.bmiHeader.biBitCount = 8;
    GpBitmap* bitmap = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&eightBit, const_cast<BYTE*>(garbage.data()), &bitmap), InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(nullptr, const_cast<BYTE*>(garbage.data()), &bitmap), InvalidParameter);

    // A device context is no image.
    HDC screen = GetDC(nullptr);
    UINT width = 0;
    EXPECT_EQ(GdipGetImageWidth(reinterpret_cast<GpImage*>(screen), &width), InvalidParameter);
    EXPECT_EQ(GdipDisposeImage(reinterpret_cast<GpImage*>(screen)), InvalidParameter);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    ReleaseDC(nullptr, screen);
}

} // namespace

// GDI+ bitmaps of picture files: first frames and pages, orientation tags turning the picture and
// its size, and damaged, foreign, missing and oversized files refused.
#include "platform/gdi/pictures/picture.h"
#include "platform/gdi/pictures/picture_format.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/kernel.h"
#include "tests/support/named_pipe_file.h"
#include "tests/support/picture_files.h"

#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using namespace gdi_test;
using namespace picture_files;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

// A PNG of width x height pixels in one bit of grey, white above the middle row and black below,
// written row by row: a large picture in few bytes, as deflate makes of plain rows.
std::vector<BYTE> TwoBandPng(std::uint32_t width, std::uint32_t height)
{
    std::vector<BYTE> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const auto chunk = [&out](const char* type, const std::vector<BYTE>& data) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<BYTE>(data.size() >> shift));
        const std::size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), data.begin(), data.end());
        const uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<BYTE>(crc >> shift));
    };
    std::vector<BYTE> header;
    for (const std::uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<BYTE>(value >> shift));
    header.insert(header.end(), {1, 0, 0, 0, 0}); // one bit of grey, no interlace
    chunk("IHDR", header);
    std::vector<BYTE> compressed(64 * 1024);
    std::vector<BYTE> data;
    z_stream stream{};
    deflateInit(&stream, 9);
    std::vector<BYTE> row(1 + (width + 7) / 8);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::fill(row.begin() + 1, row.end(), y < height / 2 ? 0xFF : 0x00);
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        do {
            stream.next_out = compressed.data();
            stream.avail_out = static_cast<uInt>(compressed.size());
            deflate(&stream, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            data.insert(data.end(), compressed.data(), stream.next_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    chunk("IDAT", data);
    chunk("IEND", {});
    return out;
}

// The process's peak resident size, in KiB.
long PeakKib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class PictureFileTest : public ::testing::Test {
protected:
    PictureFileTest()
    {
        const GdiplusStartupInput input;
        EXPECT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    ~PictureFileTest() override { GdiplusShutdown(token_); }

    // Opens the bytes as a file; the status, and the bitmap in `bitmap_` when Ok.
    Status Open(const std::vector<BYTE>& bytes)
    {
        WriteFile(root_.Path() / "picture", bytes);
        return GdipCreateBitmapFromFile(WidePath(root_.Path() / "picture").c_str(), &bitmap_);
    }

    // Checks the size and the colours at the centres of the four quarters, and disposes of the bitmap.
    void ExpectPicture(int width, int height, const Quarters& expected)
    {
        UINT w = 0, h = 0;
        GdipGetImageWidth(bitmap_, &w);
        GdipGetImageHeight(bitmap_, &h);
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(UINT(width), UINT(height)));
        BitmapData data{};
        ASSERT_EQ(GdipBitmapLockBits(bitmap_, nullptr, ImageLockModeRead, PixelFormat32bppRGB, &data), Ok);
        for (const int x : {width / 4, width * 3 / 4}) {
            for (const int y : {height / 4, height * 3 / 4}) {
                const BYTE* pixel = static_cast<const BYTE*>(data.Scan0) + y * data.Stride + x * 4;
                const Colour seen{pixel[2], pixel[1], pixel[0]};
                EXPECT_TRUE(Near(seen, expected.At(x, y, width, height), 24)) << x << "," << y << " " << Describe(seen);
            }
        }
        GdipBitmapUnlockBits(bitmap_, &data);
        EXPECT_EQ(GdipDisposeImage(bitmap_), Ok);
    }

    testing_support::TempRoot root_;
    ULONG_PTR token_ = 0;
    GpBitmap* bitmap_ = nullptr;
};

// What a viewer shows for each orientation tag of a picture stored as red, green over blue, yellow.
TEST_F(PictureFileTest, OrientationTagsTurnThePictureAndItsSizeAndOnlyTheFirstFrameOrPageCounts)
{
    const Colour r = kRed, g = kGreen, b = kBlue, y = kYellow;
    const Quarters shown[] = {{r, g, b, y}, {g, r, y, b}, {y, b, g, r}, {b, y, r, g},
                              {r, b, g, y}, {b, r, y, g}, {y, g, b, r}, {g, y, r, b}};
    const std::vector<BYTE> jpeg = SavedPicture("jpeg", 48, 32, kFourColours);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const bool turned = orientation >= 5;
        ASSERT_EQ(Open(WithExifOrientation(jpeg, orientation, orientation % 2 == 0)), Ok);
        ExpectPicture(turned ? 32 : 48, turned ? 48 : 32, shown[orientation - 1]);
    }
    ASSERT_EQ(Open(TiffPicture(48, 32, {kFourColours, kAllBlue}, 6)), Ok);
    ExpectPicture(32, 48, shown[5]);
    ASSERT_EQ(Open(GifPicture(48, 32, {kFourColours, kAllBlue})), Ok);
    ExpectPicture(48, 32, kFourColours);
    // A tag out of range is no turn at all.
    ASSERT_EQ(Open(WithExifOrientation(jpeg, 9)), Ok);
    ExpectPicture(48, 32, kFourColours);
}

TEST_F(PictureFileTest, DamagedForeignAndMissingFilesAreRefused)
{
    const std::vector<BYTE> jpeg = SavedPicture("jpeg", 64, 64, kFourColours);
    const std::vector<BYTE> png = SavedPicture("png", 64, 64, kFourColours);
    const std::vector<BYTE> bmp = SavedPicture("bmp", 64, 64, kFourColours);
    const std::pair<const char*, std::vector<BYTE>> damaged[] = {
        {"cut jpeg", CutOff(jpeg)},
        {"corrupted jpeg", Corrupted(jpeg)},
        {"jpeg without its end marker", std::vector<BYTE>(jpeg.begin(), jpeg.end() - 2)},
        {"cut png", CutOff(png)},
        {"corrupted png", Corrupted(png)},
        {"bmp one byte short", std::vector<BYTE>(bmp.begin(), bmp.end() - 1)},
        {"cut tiff", CutOff(TiffPicture(64, 64, {kFourColours}))},
        {"cut gif", CutOff(GifPicture(64, 64, {kFourColours}))},
    };
    for (const auto& [what, bytes] : damaged) {
        EXPECT_EQ(Open(bytes), InvalidParameter) << what;
        EXPECT_EQ(bitmap_, nullptr) << what;
    }
    EXPECT_EQ(Open({'%', 'P', 'D', 'F', '-', '1', '.', '4'}), UnknownImageFormat);
    EXPECT_EQ(Open({}), UnknownImageFormat);
    EXPECT_EQ(GdipCreateBitmapFromFile(WidePath(root_.Path() / "missing.jpg").c_str(), &bitmap_), FileNotFound);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GdipCreateBitmapFromFile(WidePath(root_.Path()).c_str(), &bitmap_), Win32Error);
    // A named pipe in the picture's place is refused, not waited on.
    const testing_support::NamedPipeFile pipe(root_.Path() / "pipe.jpg");
    EXPECT_EQ(GdipCreateBitmapFromFile(WidePath(root_.Path() / "pipe.jpg").c_str(), &bitmap_), Win32Error);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(bitmap_, nullptr);
    EXPECT_FALSE(pipe.ReaderWaited());
}

TEST_F(PictureFileTest, PicturesBeyondTheLimitsAreRefusedBeforeTheyAreDecoded)
{
    ASSERT_EQ(Open(SavedPicture("jpeg", 32767, 32, kFourColours)), Ok);
    ExpectPicture(32767, 32, kFourColours);
    EXPECT_EQ(Open(SavedPicture("jpeg", 32768, 2, kFourColours)), ValueOverflow);
    EXPECT_EQ(Open(SavedPicture("jpeg", 2, 32768, kFourColours)), ValueOverflow);
    EXPECT_EQ(Open(SavedPicture("png", 2, 32768, kFourColours)), ValueOverflow);
    // Headers promising 20000 x 20000 pixels (more than 2^28) over a few bytes of data.
    EXPECT_EQ(Open(WithFrameSize(SavedPicture("jpeg", 16, 16, kFourColours), 20000, 20000)), ValueOverflow);
    // A GIF's decoder makes its whole screen before it reports the size: refused before it runs,
    // the process has not grown by the 1.5 GiB that screen takes.
    std::vector<BYTE> gif = GifPicture(16, 16, {kFourColours});
    gif[7] = gif[9] = 0x4E; // a screen of 19984 x 19984
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakBefore = usage.ru_maxrss;
    EXPECT_EQ(Open(gif), ValueOverflow);
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss - peakBefore, 256 * 1024);
    // 16384 x 16384 is 2^28 exactly: past the limit, refused for its missing data.
    EXPECT_EQ(Open(WithFrameSize(SavedPicture("jpeg", 16, 16, kFourColours), 16384, 16384)), InvalidParameter);
}

// A picture costs what is printed of it, not what it declares: a GIF whose bytes cannot back its
// screen is refused unread, and a large PNG printed small is made at that size, a row at a time,
// in grey where it lies for a monochrome page. Locking its pixels still gives them all.
TEST_F(PictureFileTest, APictureIsMadeAtThePrintedSizeAndNeverBeyondWhatItsBytesHold)
{
    std::vector<BYTE> gif = GifPicture(16, 16, {kFourColours});
    gif[6] = gif[8] = 0xFF;
    gif[7] = gif[9] = 0x3F; // a screen of 16383 x 16383: within the limits, on 70 bytes
    long before = PeakKib();
    EXPECT_EQ(Open(gif), ValueOverflow);
    EXPECT_LT(PeakKib() - before, 64 * 1024);
    gif[7] = gif[9] = 0; // 255 x 255 on the same bytes: what they can hold
    ASSERT_EQ(Open(gif), Ok);
    EXPECT_EQ(GdipDisposeImage(bitmap_), Ok);

    const std::vector<BYTE> png = TwoBandPng(8000, 8000);
    platform::gdi::PictureFault fault = platform::gdi::PictureFault::None;
    const auto picture = platform::gdi::Picture::Open(std::make_shared<const std::vector<BYTE>>(png), true, fault);
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::make_pair(picture->Width(), picture->Height()), std::make_pair(8000, 8000));
    before = PeakKib();
    for (const bool grey : {false, true}) {
        cairo_surface_t* pixels = picture->Pixels(300, 200, grey);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(cairo_image_surface_get_width(pixels), 300);
        EXPECT_EQ(cairo_image_surface_get_height(pixels), 200);
        cairo_surface_flush(pixels);
        const auto* data = cairo_image_surface_get_data(pixels);
        const int stride = cairo_image_surface_get_stride(pixels);
        const auto at = [&](int x, int y) {
            std::uint32_t pixel;
            std::memcpy(&pixel, data + y * stride + x * 4, 4);
            return pixel & 0xFFFFFF;
        };
        EXPECT_EQ(at(0, 0), 0xFFFFFFu);
        EXPECT_EQ(at(299, 99), 0xFFFFFFu);
        EXPECT_EQ(at(0, 100), 0u);
        EXPECT_EQ(at(299, 199), 0u);
    }
    // The whole picture, 8000 x 8000 in 32 bits, would be 244 MiB.
    EXPECT_LT(PeakKib() - before, 64 * 1024);
}

// The sizes a BMP gives its own header and its colour table are believed only as far as the file
// goes (a decoder sets aside what they say before it reads them).
TEST(BmpHeader, AHeaderOrColourTableLongerThanTheFileIsDamage)
{
    const std::vector<BYTE> bmp = SavedPicture("bmp", 4, 4, kFourColours);
    const auto withField = [&](std::size_t at, std::uint32_t value) {
        std::vector<BYTE> changed = bmp;
        for (int i = 0; i < 4; ++i)
            changed.at(at + i) = static_cast<BYTE>(value >> (8 * i));
        return changed;
    };
    const auto withHeaderBytes = [&](std::uint32_t headerBytes) { return withField(14, headerBytes); };
    const auto withColours = [&](std::uint32_t colours) { return withField(14 + 32, colours); };
    const auto tableRoom = static_cast<std::uint32_t>((bmp.size() - 14 - 40) / 4);
    EXPECT_TRUE(platform::gdi::IsCompleteBmp(withColours(tableRoom)));
    EXPECT_FALSE(platform::gdi::IsCompleteBmp(withColours(tableRoom + 1)));
    EXPECT_FALSE(platform::gdi::IsCompleteBmp(withColours(0xE4120045)));
    EXPECT_TRUE(platform::gdi::IsCompleteBmp(bmp));
    const auto rest = static_cast<std::uint32_t>(bmp.size() - 14);
    EXPECT_TRUE(platform::gdi::IsCompleteBmp(withHeaderBytes(rest)));
    EXPECT_FALSE(platform::gdi::IsCompleteBmp(withHeaderBytes(rest + 1)));
    EXPECT_FALSE(platform::gdi::IsCompleteBmp(withHeaderBytes(0x7E000028)));
}

} // namespace

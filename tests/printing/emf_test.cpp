// The enhanced-metafile object: recording with page marks, bounds, bytes and files, and the
// handles it owns.
#include "printing/emf.h"

#include "platform/kernel/kernel.h"
#include "tests/gdi/gdi_test_support.h"

#include <cstring>

namespace {

using namespace gdi_test;
using aio::printing::ContentArea;
using aio::printing::Emf;
using aio::printing::PageBounds;
using aio::printing::PageSize;

std::vector<BYTE> BytesOf(const Emf& emf)
{
    std::vector<BYTE> bytes(emf.GetByteSize());
    EXPECT_TRUE(emf.CopyBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    return bytes;
}

std::size_t Count(const std::vector<BYTE>& bytes, const std::vector<BYTE>& part)
{
    std::size_t count = 0;
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), part.begin(), part.end())) != bytes.end(); ++at)
        ++count;
    return count;
}

void ExpectBounds(const PageBounds& bounds, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height)
{
    EXPECT_EQ(bounds.x, x);
    EXPECT_EQ(bounds.y, y);
    EXPECT_EQ(bounds.width, width);
    EXPECT_EQ(bounds.height, height);
}

class EmfTest : public GdiRoot {
protected:
    // A page with both marks around one 100 x 100 bitmap at (10, 20).
    void RecordPage(Emf& emf)
    {
        ASSERT_TRUE(emf.StartRecording());
        EXPECT_TRUE(emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f));
        const Dib dib = TwoBandBitmap(4, 4, 32, true, kRed, kRed);
        StretchDIBits(emf.GetRecordingDC(), 10, 20, 100, 100, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS,
                      SRCCOPY);
        EXPECT_TRUE(emf.MarkPageEnd());
        ASSERT_TRUE(emf.StopRecording());
    }
};

TEST_F(EmfTest, PageMarksAreEightByteCommentsAndOnlyARecordingTakesThem)
{
    Emf emf;
    EXPECT_FALSE(emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f));
    EXPECT_FALSE(emf.MarkPageEnd());
    EXPECT_EQ(emf.GetStartedPageCount(), 0);

    RecordPage(emf);
    EXPECT_EQ(emf.GetStartedPageCount(), 1);
    EXPECT_EQ(emf.GetRecordingDC(), nullptr);
    EXPECT_FALSE(emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f));
    EXPECT_EQ(emf.GetStartedPageCount(), 1);

    const std::vector<BYTE> bytes = BytesOf(emf);
    // Each mark is an EMR_GDICOMMENT of 20 bytes holding 8 bytes of data.
    EXPECT_EQ(Count(bytes, {70, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 0xBE, 0xBA, 0xAD, 0xDE, 0, 0, 0, 0}), 1u);
    EXPECT_EQ(Count(bytes, {70, 0, 0, 0, 20, 0, 0, 0, 8, 0, 0, 0, 0xBE, 0xBA, 0xAD, 0xDE, 1, 0, 0, 0}), 1u);
    ExpectBounds(emf.GetBounds(1), 10, 20, 99, 99);
}

TEST_F(EmfTest, BoundsLeaveOutTheInclusiveEdgeAndAreZeroWithoutAPicture)
{
    Emf none;
    ExpectBounds(none.GetBounds(1), 0, 0, 0, 0);
    EXPECT_EQ(none.GetByteSize(), 0u);

    Emf empty;
    ASSERT_TRUE(empty.StartRecording());
    ASSERT_TRUE(empty.StopRecording());
    ExpectBounds(empty.GetBounds(1), 0, 0, 0, 0);

    std::vector<BYTE> bytes = BytesOf(empty);
    const RECTL bounds{10, 20, 110, 220};
    std::memcpy(bytes.data() + 8, &bounds, sizeof bounds);
    Emf loaded;
    ASSERT_TRUE(loaded.LoadFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    ExpectBounds(loaded.GetBounds(7), 10, 20, 100, 200);
}

TEST_F(EmfTest, BytesCopyOnlyAtTheirExactSizeAndFilesAreWrittenWhole)
{
    Emf emf;
    RecordPage(emf);
    const std::uint32_t size = emf.GetByteSize();
    ASSERT_GT(size, 0u);
    std::vector<BYTE> buffer(size + 4);
    EXPECT_FALSE(emf.CopyBytes(buffer.data(), size - 4));
    EXPECT_FALSE(emf.CopyBytes(buffer.data(), size + 4));
    EXPECT_FALSE(emf.CopyBytes(buffer.data(), 0));
    EXPECT_TRUE(emf.CopyBytes(buffer.data(), size));

    const fs::path path = root_.Path() / "page.emf";
    ASSERT_TRUE(emf.WriteToFile(path.u16string()));
    const std::vector<BYTE> bytes = BytesOf(emf);
    EXPECT_EQ(testing_support::ReadWholeFile(path), std::string(bytes.begin(), bytes.end()));
    Emf fromFile;
    ASSERT_TRUE(fromFile.LoadFromFile(path.u16string()));
    EXPECT_EQ(BytesOf(fromFile), bytes);

    // Without a metafile the file is still made, and emptied if it was there.
    Emf none;
    EXPECT_FALSE(none.WriteToFile(path.u16string()));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_FALSE(none.WriteToFile((root_.Path() / "no/folder.emf").u16string()));
    EXPECT_FALSE(none.LoadFromFile((root_.Path() / "missing.emf").u16string()));
    const BYTE garbage[16] = {1, 2, 3};
    EXPECT_FALSE(none.LoadFromBytes(garbage, sizeof garbage));
    EXPECT_EQ(none.GetHandle(), nullptr);
}

TEST_F(EmfTest, ARecordingToAFileIsThatFile)
{
    const fs::path path = root_.Path() / "ZVPrintFile1.tmp";
    Emf emf;
    ASSERT_TRUE(emf.StartRecordingToFile(path.u16string()));
    EXPECT_TRUE(emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f));
    EXPECT_TRUE(emf.MarkPageEnd());
    ASSERT_TRUE(emf.StopRecording());
    const std::vector<BYTE> bytes = BytesOf(emf);
    EXPECT_EQ(testing_support::ReadWholeFile(path), std::string(bytes.begin(), bytes.end()));
    EXPECT_FALSE(Emf().StartRecordingToFile((root_.Path() / "no/folder.tmp").u16string()));
}

TEST_F(EmfTest, TheObjectOwnsItsHandlesAndGivesUpReplacedOnes)
{
    HENHMETAFILE first = nullptr;
    HDC abandoned = nullptr;
    {
        Emf emf;
        RecordPage(emf);
        first = emf.GetHandle();
        std::vector<BYTE> bytes = BytesOf(emf);
        ASSERT_TRUE(emf.LoadFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
        EXPECT_NE(emf.GetHandle(), first);
        EXPECT_EQ(GetEnhMetaFileBits(first, 0, nullptr), 0u); // the replaced handle is deleted
        first = emf.GetHandle();
        ASSERT_TRUE(emf.StartRecording());
        abandoned = emf.GetRecordingDC();
    }
    // Destroyed: its metafile is deleted, and a recording left open is discarded.
    EXPECT_EQ(GetEnhMetaFileBits(first, 0, nullptr), 0u);
    EXPECT_EQ(GetDeviceCaps(abandoned, LOGPIXELSX), 0);
}

TEST_F(EmfTest, PlayingWithoutARectangleMapsThePictureOntoItsOwnBounds)
{
    Emf emf;
    ASSERT_TRUE(emf.StartRecording());
    HDC dc = emf.GetRecordingDC();
    SetGraphicsMode(dc, GM_ADVANCED);
    const Dib dib = TwoBandBitmap(4, 4, 32, true, kRed, kRed);
    StretchDIBits(dc, 10, 20, 100, 100, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY);
    ASSERT_TRUE(emf.StopRecording());

    Emf copy;
    ASSERT_TRUE(copy.StartRecording());
    ASSERT_TRUE(emf.Play(copy.GetRecordingDC(), nullptr));
    ASSERT_TRUE(copy.StopRecording());
    ExpectBounds(copy.GetBounds(1), 10, 20, 99, 99);
    const RECT twice{10, 20, 208, 218};
    Emf larger;
    ASSERT_TRUE(larger.StartRecording());
    ASSERT_TRUE(emf.Play(larger.GetRecordingDC(), &twice));
    ASSERT_TRUE(larger.StopRecording());
    ExpectBounds(larger.GetBounds(1), 10, 20, 199, 199);
}

} // namespace

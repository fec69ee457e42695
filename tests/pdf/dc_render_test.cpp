// RenderPDFPageToDC, loaded as the tool loads it, drawing into real device contexts: a printer's,
// whose job is read back with pdftoppm, and a metafile recording's, as the tool records a page.
#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"
#include "plugins/pdf/pdf_renderer.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace pdf_test {
namespace {

// A Letter page with a red inch square one inch in from its top-left corner and a blue one an
// inch in from its bottom-right corner: both inside any printable area.
const std::string kLetter
    = HandWrittenPdf({{.mediaBox = "0 0 612 792", .content = "1 0 0 rg 72 648 72 72 re f 0 0 1 rg 468 72 72 72 re f"}});

// A picture read from a binary PPM file as pdftoppm writes it.
struct Picture {
    int width = 0;
    int height = 0;
    std::string rgb;

    std::uint32_t At(int x, int y) const
    {
        const std::size_t at = (std::size_t(y) * width + x) * 3;
        return Rgb(static_cast<unsigned char>(rgb[at]), static_cast<unsigned char>(rgb[at + 1]),
                   static_cast<unsigned char>(rgb[at + 2]));
    }
};

Picture RenderJob(const std::filesystem::path& pdf, const std::filesystem::path& folder)
{
    const std::filesystem::path out = folder / "page";
    const std::string command = "pdftoppm -r 72 -singlefile '" + pdf.string() + "' '" + out.string() + "'";
    Picture picture;
    if (std::system(command.c_str()) != 0)
        return picture;
    std::istringstream in(testing_support::ReadWholeFile(out.string() + ".ppm"));
    std::string magic;
    int maximum = 0;
    in >> magic >> picture.width >> picture.height >> maximum;
    in.get();
    picture.rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (magic != "P6" || maximum != 255 || picture.rgb.size() != std::size_t(picture.width) * picture.height * 3)
        return {};
    return picture;
}

// Whether two colours differ by at most 3 in every channel: the job's bands are resampled down to
// 72 dpi, which may leave white a shade off.
bool Near(std::uint32_t colour, std::uint32_t expected)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int difference = int((colour >> shift) & 0xFF) - int((expected >> shift) & 0xFF);
        if (difference < -3 || difference > 3)
            return false;
    }
    return true;
}

class PdfDeviceContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.InstallSamplePrinters(QUILLON_SOURCE_DIR);
        module_ = LoadLibraryW(u"pdf.dll");
        ASSERT_NE(module_, nullptr);
        // Through void(*)(), as the cast from any exported function's address goes.
        render_ = reinterpret_cast<RenderPDFPageToDCProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "RenderPDFPageToDC")));
        ASSERT_NE(render_, nullptr);
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    bool Render(HDC dc, int left, int top, int width, int height)
    {
        return render_(reinterpret_cast<const BYTE*>(kLetter.data()), int(kLetter.size()), 0, dc, 600, 600, left, top,
                       width, height, true, false, true, true);
    }

    testing_support::TempRoot root_;
    HMODULE module_ = nullptr;
    RenderPDFPageToDCProc render_ = nullptr;
};

TEST_F(PdfDeviceContext, APagePrintsOnTheSheetWhereItBelongs)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    DOCINFOW document{20, u"pdf renderer test", nullptr, nullptr, 0};
    const int job = StartDocW(dc, &document);
    ASSERT_GT(job, 0);
    ASSERT_GT(StartPage(dc), 0);
    // Device (0, 0) is the printable area's corner: the sheet starts at minus the offsets.
    EXPECT_TRUE(Render(dc, -GetDeviceCaps(dc, PHYSICALOFFSETX), -GetDeviceCaps(dc, PHYSICALOFFSETY),
                       GetDeviceCaps(dc, PHYSICALWIDTH), GetDeviceCaps(dc, PHYSICALHEIGHT)));
    EXPECT_GT(EndPage(dc), 0);
    EXPECT_GT(EndDoc(dc), 0);
    DeleteDC(dc);

    const auto jobPdf = root_.Path() / "var/spool/quillon/Quillon Office" / (std::to_string(job) + ".pdf");
    const Picture page = RenderJob(jobPdf, root_.Path());
    ASSERT_EQ(page.width, 612);
    ASSERT_EQ(page.height, 792);
    EXPECT_TRUE(Near(page.At(108, 108), Rgb(255, 0, 0)));
    EXPECT_TRUE(Near(page.At(504, 684), Rgb(0, 0, 255)));
    // Just inside the squares' top edges, below paper that travels as one white pixel.
    EXPECT_TRUE(Near(page.At(108, 74), Rgb(255, 0, 0)));
    EXPECT_TRUE(Near(page.At(504, 650), Rgb(0, 0, 255)));
    EXPECT_TRUE(Near(page.At(306, 396), Rgb(255, 255, 255)));
    EXPECT_TRUE(Near(page.At(60, 108), Rgb(255, 255, 255)));
    EXPECT_TRUE(Near(page.At(108, 60), Rgb(255, 255, 255)));
}

TEST_F(PdfDeviceContext, ARecordedPageHoldsItsShapesAsPathsUnderTheRecordingScale)
{
    // As the tool records: the screen as reference, scaled down from printer dots to its pixels.
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM scale{96.0f / 600.0f, 0, 0, 96.0f / 600.0f, 0, 0};
    ModifyWorldTransform(recording, &scale, MWT_LEFTMULTIPLY);
    EXPECT_TRUE(Render(recording, 0, 0, 5100, 6600));
    // The caller's transform is its own again afterwards.
    XFORM after{};
    ASSERT_TRUE(GetWorldTransform(recording, &after));
    EXPECT_FLOAT_EQ(after.eM11, 96.0f / 600.0f);
    EXPECT_FLOAT_EQ(after.eDx, 0.0f);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    ENHMETAHEADER header{};
    ASSERT_EQ(GetEnhMetaFileHeader(metafile, sizeof header, &header), sizeof header);
    std::vector<BYTE> bytes(GetEnhMetaFileBits(metafile, 0, nullptr));
    ASSERT_EQ(GetEnhMetaFileBits(metafile, UINT(bytes.size()), bytes.data()), bytes.size());
    DeleteEnhMetaFile(metafile);

    // The two squares, an inch each, are filled paths: one inch is 96 screen pixels, their drawn
    // extent from the first square's corner (96, 96) to the second's far corner (5 and 7.5 inches
    // more, under a pixel of stroke-free rounding).
    auto field = [&](std::size_t at) {
        std::int32_t value = 0;
        std::memcpy(&value, bytes.data() + at, sizeof value);
        return value;
    };
    int fills = 0;
    int bitmaps = 0;
    for (std::size_t at = 0; at + 8 <= bytes.size() && field(at + 4) > 0; at += std::size_t(field(at + 4))) {
        fills += field(at) == std::int32_t(EMR_FILLPATH) ? 1 : 0;
        bitmaps += field(at) == std::int32_t(EMR_STRETCHDIBITS) || field(at) == std::int32_t(EMR_ALPHABLEND) ? 1 : 0;
    }
    EXPECT_EQ(fills, 2);
    EXPECT_EQ(bitmaps, 0);
    EXPECT_NEAR(header.rclBounds.left, 96, 1);
    EXPECT_NEAR(header.rclBounds.top, 96, 1);
    EXPECT_NEAR(header.rclBounds.right, 96 * 7.5, 1);
    EXPECT_NEAR(header.rclBounds.bottom, 96 * 10, 1);
}

} // namespace
} // namespace pdf_test

// The paper catalogue on the virtual printers: papers in hundredths of an inch, the paper of a
// device mode, printable areas, and the automatic choice of a borderless 4 x 6 inch paper.
#include "print/paper_sizes.h"

#include "platform/kernel/kernel.h"
#include "platform/spooler/devmode.h"
#include "tests/gdi/gdi_test_support.h"
#include "tests/print/failing_dc.h"

#include <cstring>
#include <tuple>

namespace {

using Listed = std::vector<std::tuple<int, std::u16string, int, int>>;
using platform::spooler::FullDevMode;

// A 300-dpi printer whose papers sit around 4 x 6 inches: a landscape entry, one whose printable
// area starts two hundredths of an inch in, one with margins at the top and bottom only, one of
// 102 x 152 mm starting one hundredth in.
constexpr const char* kNearPrinter
    = "[printer]\nname = Near\nresolution = 300\ndefault-paper = 1\ncolor = yes\n"
      "[paper 299]\nname = 6x4\nsize = 152.4 x 101.6\n"
      "[paper 300]\nname = 4x6 inset\nsize = 101.6 x 152.4\nmargins = 0.508\n"
      "[paper 303]\nname = 4x6 banded\nsize = 101.6 x 152.4\nmargins = 0 3 0 3\n"
      "[paper 301]\nname = 102 x 152 mm\nsize = 102 x 152\nmargins = 0.254\n"
      "[paper 302]\nname = NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN\n"
      "size = 100 x 100\n"
      "[paper 1]\nname = Letter\nsize = 215.9 x 279.4\nmargins = 3\n";

class PaperSizesTest : public gdi_test::GdiRoot {
protected:
    PaperSizesTest() { InstallPrinter("near.printer", kNearPrinter); }
    ~PaperSizesTest() override { print_test::FailDeviceContextsAfter(-1); }

    // The printer's default device mode, its private part included.
    static FullDevMode DefaultOf(const char16_t* printer)
    {
        FullDevMode mode{};
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(printer), nullptr, nullptr, 0),
                  LONG{sizeof mode});
        EXPECT_EQ(
            DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(printer), &mode.devMode, nullptr, DM_OUT_BUFFER),
            IDOK);
        return mode;
    }

    static Listed ListOf(const aio::PaperSizeList& papers)
    {
        Listed listed;
        for (const aio::PaperSizePtr& paper : papers)
            listed.emplace_back(paper->id, paper->name, paper->width, paper->height);
        return listed;
    }
};

void ExpectArea(const std::optional<Gdiplus::RectF>& area, float x, float y, float width, float height)
{
    ASSERT_TRUE(area.has_value());
    EXPECT_EQ(std::make_tuple(area->X, area->Y, area->Width, area->Height), std::make_tuple(x, y, width, height));
}

TEST_F(PaperSizesTest, PapersAreListedInHundredthsOfAnInchTruncated)
{
    aio::PaperSizeList papers;
    aio::EnumPaperSizes(u"Near", papers);
    EXPECT_EQ(ListOf(papers),
              (Listed{{299, u"6x4", 600, 400},
                      {300, u"4x6 inset", 400, 600},
                      {303, u"4x6 banded", 400, 600},
                      {301, u"102 x 152 mm", 401, 598},
                      {302, std::u16string(64, u'N'), 393, 393},
                      {1, u"Letter", 850, 1100}}));
    papers.clear();
    aio::EnumPaperSizes(u"Nobody", papers);
    EXPECT_TRUE(papers.empty());
}

TEST_F(PaperSizesTest, TheDeviceModesPaperIsItsListedPaperOrItsOwnCustomSize)
{
    FullDevMode full = DefaultOf(u"Near");
    DEVMODEW& mode = full.devMode;
    mode.dmPaperSize = 301;
    EXPECT_EQ(ListOf({aio::FindPaperSize(u"Near", &mode)}), (Listed{{301, u"102 x 152 mm", 401, 598}}));
    // An unlisted number, and a listed one without DM_PAPERSIZE: the device mode's own (Letter) size.
    mode.dmPaperSize = 999;
    EXPECT_EQ(ListOf({aio::FindPaperSize(u"Near", &mode)}), (Listed{{-1, u"Custom", 850, 1100}}));
    mode.dmFields &= ~DM_PAPERSIZE;
    mode.dmPaperSize = 301;
    mode.dmPaperWidth = 1016;
    mode.dmPaperLength = 1524;
    EXPECT_EQ(ListOf({aio::FindPaperSize(u"Near", &mode)}), (Listed{{-1, u"Custom", 400, 600}}));
}

TEST_F(PaperSizesTest, MeasuringSetsThePaperIntoTheDeviceModeAndReadsItsPrintableArea)
{
    // 3 mm margins at 300 dpi: 36 dots, 12 hundredths of an inch; the sheet turns with the device mode.
    FullDevMode full = DefaultOf(u"Quillon Photo");
    DEVMODEW& mode = full.devMode;
    mode.dmFields |= DM_PAPERWIDTH | DM_PAPERLENGTH;
    ExpectArea(aio::MeasurePrintableArea(aio::PaperSize{256, u"4x6", 400, 600}, u"Quillon Photo", &mode), 12, 12, 376,
               576);
    EXPECT_EQ(mode.dmPaperSize, 256);
    EXPECT_EQ(mode.dmFields & (DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH), DM_PAPERSIZE);
    mode.dmOrientation = DMORIENT_LANDSCAPE;
    ExpectArea(aio::MeasurePrintableArea(aio::PaperSize{257, u"", 0, 0}, u"Quillon Photo", &mode), 0, 0, 600, 400);

    // A custom size leaves the device mode as it is.
    const FullDevMode before = full;
    ExpectArea(aio::MeasurePrintableArea(aio::PaperSize{}, u"Quillon Photo", &mode), 0, 0, 600, 400);
    EXPECT_EQ(std::memcmp(&before, &full, sizeof full), 0);

    // No device context, no area: never a zero or not-a-number one.
    EXPECT_FALSE(aio::MeasurePrintableArea(aio::PaperSize{}, u"Nobody", &mode).has_value());
    print_test::FailDeviceContextsAfter(0);
    EXPECT_FALSE(aio::MeasurePrintableArea(aio::PaperSize{256, u"4x6", 400, 600}, u"Quillon Photo", &mode));
}

TEST_F(PaperSizesTest, TheAutomaticChoiceTakesTheFirstPaperThatStartsAtTheEdges)
{
    // The photo printer lists a bordered 4x6 before the borderless one. The job's device mode may
    // come as a global memory handle.
    HGLOBAL job = aio::GetDefaultDevModeHandle(u"Quillon Photo");
    ASSERT_NE(job, nullptr);
    aio::AutoPaperSelector(u"Quillon Photo").Apply(static_cast<DEVMODEW*>(job));
    const auto* chosen = static_cast<const DEVMODEW*>(GlobalLock(job));
    EXPECT_EQ(chosen->dmPaperSize, 257);
    EXPECT_EQ(chosen->dmFields & (DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH), DM_PAPERSIZE);
    GlobalUnlock(job);
    EXPECT_EQ(GlobalFree(job), nullptr);

    // 6 x 4 is no candidate; a start two hundredths in is refused, and so is one at the left edge
    // but three millimetres below the top; one hundredth in is taken.
    FullDevMode mode = DefaultOf(u"Near");
    aio::AutoPaperSelector(u"Near").Apply(&mode.devMode);
    EXPECT_EQ(mode.devMode.dmPaperSize, 301);

    // Nothing near 4 x 6, or nothing that can be measured: the device mode stays as it was.
    for (const char16_t* printer : {u"Quillon Office", u"Quillon Photo"}) {
        if (std::u16string(printer) == u"Quillon Photo")
            print_test::FailDeviceContextsAfter(0);
        mode = DefaultOf(printer);
        const FullDevMode before = mode;
        aio::AutoPaperSelector(printer).Apply(&mode.devMode);
        EXPECT_EQ(std::memcmp(&before, &mode, sizeof mode), 0);
    }
    EXPECT_EQ(aio::GetDefaultDevModeHandle(u"Nobody"), nullptr);
}

} // namespace

// Device contexts: what a printer's context says about its sheet, the screen, the state GDI keeps
// (graphics mode, world transform, saved states, layout) and the answers to bad handles.
#include "tests/gdi/gdi_test_support.h"

#include "platform/kernel/kernel.h"

namespace {

using namespace gdi_test;

struct Caps {
    int dpi, physicalWidth, physicalHeight, offsetX, offsetY, horzRes, vertRes, horzSize, vertSize;
};

Caps CapsOf(HDC dc)
{
    return Caps{
        GetDeviceCaps(dc, LOGPIXELSX),      GetDeviceCaps(dc, PHYSICALWIDTH),   GetDeviceCaps(dc, PHYSICALHEIGHT),
        GetDeviceCaps(dc, PHYSICALOFFSETX), GetDeviceCaps(dc, PHYSICALOFFSETY), GetDeviceCaps(dc, HORZRES),
        GetDeviceCaps(dc, VERTRES),         GetDeviceCaps(dc, HORZSIZE),        GetDeviceCaps(dc, VERTSIZE)};
}

void ExpectCaps(HDC dc, const Caps& expected)
{
    const Caps caps = CapsOf(dc);
    EXPECT_EQ(caps.dpi, expected.dpi);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), expected.dpi);
    EXPECT_EQ(caps.physicalWidth, expected.physicalWidth);
    EXPECT_EQ(caps.physicalHeight, expected.physicalHeight);
    EXPECT_EQ(caps.offsetX, expected.offsetX);
    EXPECT_EQ(caps.offsetY, expected.offsetY);
    EXPECT_EQ(caps.horzRes, expected.horzRes);
    EXPECT_EQ(caps.vertRes, expected.vertRes);
    EXPECT_EQ(caps.horzSize, expected.horzSize);
    EXPECT_EQ(caps.vertSize, expected.vertSize);
}

DEVMODEW Partial(DWORD fields)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof(DEVMODEW);
    mode.dmSpecVersion = DM_SPECVERSION;
    mode.dmFields = fields;
    return mode;
}

// Applies a transform to a point, row-vector form.
std::pair<float, float> Map(const XFORM& x, float px, float py)
{
    return {px * x.eM11 + py * x.eM21 + x.eDx, px * x.eM12 + py * x.eM22 + x.eDy};
}

XFORM WorldOf(HDC dc)
{
    XFORM xform{};
    EXPECT_TRUE(GetWorldTransform(dc, &xform));
    return xform;
}

class DeviceContextTest : public GdiRoot {};

TEST_F(DeviceContextTest, PrinterCapsDescribeTheSheetFromThePrintableCorner)
{
    // Letter at 600 dpi with 4.23 mm margins: the printable edges are rounded inwards.
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    ExpectCaps(dc, Caps{600, 5100, 6600, 100, 100, 4900, 6400, 207, 271});
    EXPECT_EQ(GetDeviceCaps(dc, TECHNOLOGY), DT_RASPRINTER);
    EXPECT_TRUE(DeleteDC(dc));

    DEVMODEW landscape = Partial(DM_ORIENTATION);
    landscape.dmOrientation = DMORIENT_LANDSCAPE;
    dc = CreateDCW(nullptr, u"Quillon Office", nullptr, &landscape);
    ASSERT_NE(dc, nullptr);
    ExpectCaps(dc, Caps{600, 6600, 5100, 100, 100, 6400, 4900, 271, 207});
    EXPECT_TRUE(DeleteDC(dc));
}

TEST_F(DeviceContextTest, LandscapeTurnsUnevenMarginsWithTheSheet)
{
    // 254 dpi is 10 dots a millimetre. Margins left 5, top 10, right 15, bottom 20 mm.
    InstallPrinter("uneven.printer",
                   "[printer]\nname = Uneven\nresolution = 254\ndefault-paper = 256\n\n"
                   "[paper 256]\nname = Tall\nsize = 100 x 200\nmargins = 5 10 15 20\n");
    HDC dc = CreateDCW(u"WINSPOOL", u"Uneven", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    ExpectCaps(dc, Caps{254, 1000, 2000, 50, 100, 800, 1700, 80, 170});
    DeleteDC(dc);

    // Turned a quarter counter-clockwise: the portrait bottom margin is now on the left, the
    // portrait left margin on top.
    DEVMODEW landscape = Partial(DM_ORIENTATION);
    landscape.dmOrientation = DMORIENT_LANDSCAPE;
    dc = CreateDCW(u"", u"Uneven", nullptr, &landscape);
    ASSERT_NE(dc, nullptr);
    ExpectCaps(dc, Caps{254, 2000, 1000, 200, 50, 1700, 800, 170, 80});
    DeleteDC(dc);
}

TEST_F(DeviceContextTest, DeviceModesAreMergedOrRefusedAsTheSpoolerDoes)
{
    DEVMODEW a4 = Partial(DM_PAPERSIZE | DM_COLOR);
    a4.dmPaperSize = DMPAPER_A4;
    a4.dmColor = DMCOLOR_MONOCHROME;
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, &a4);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALWIDTH), 4961); // 210 mm at 600 dpi, rounded
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALHEIGHT), 7016);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 8);
    DeleteDC(dc);

    DEVMODEW tooShort = Partial(DM_ORIENTATION);
    tooShort.dmSize = 70; // ends before its own dmFields
    SetLastError(0);
    EXPECT_EQ(CreateDCW(u"", u"Quillon Office", nullptr, &tooShort), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SetLastError(0);
    EXPECT_EQ(CreateDCW(u"", u"No Such Printer", nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(CreateDCW(u"DISPLAY", u"Quillon Office", nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateDCW(u"", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(DeviceContextTest, TheScreenIs96DotsPerInchAndIsReleasedNotDeleted)
{
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
    EXPECT_EQ(GetDeviceCaps(screen, TECHNOLOGY), DT_RASDISPLAY);
    EXPECT_EQ(GetDeviceCaps(screen, PHYSICALWIDTH), 0);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x1234)), nullptr);

    EXPECT_FALSE(DeleteDC(screen));
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 0);
}

TEST_F(DeviceContextTest, DeletedMadeUpAndForeignHandlesFailCleanly)
{
    HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(Name(u"Quillon Office"), &printer, nullptr));
    // A printer handle is not a device context, nor a device context a printer or a file.
    const HDC foreign = reinterpret_cast<HDC>(printer);
    EXPECT_EQ(GetDeviceCaps(foreign, LOGPIXELSX), 0);
    EXPECT_FALSE(ClosePrinter(reinterpret_cast<HANDLE>(dc)));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(dc)));
    EXPECT_TRUE(ClosePrinter(printer));

    EXPECT_TRUE(DeleteDC(dc));
    for (HDC bad : {dc, HDC{nullptr}, reinterpret_cast<HDC>(0x12345678), foreign}) {
        SetLastError(0);
        EXPECT_FALSE(DeleteDC(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(StartDocW(bad, nullptr), SP_ERROR);
        EXPECT_EQ(StartPage(bad), SP_ERROR);
        EXPECT_EQ(SaveDC(bad), 0);
        EXPECT_EQ(SetGraphicsMode(bad, GM_ADVANCED), 0);
        XFORM xform{};
        EXPECT_FALSE(GetWorldTransform(bad, &xform));
        EXPECT_EQ(GetLayout(bad), GDI_ERROR);
        EXPECT_EQ(ExtEscape(bad, QUERYESCSUPPORT, 0, nullptr, 0, nullptr), -1);
    }
}

TEST_F(DeviceContextTest, WorldTransformsComposeAsRowVectorsInAdvancedModeOnly)
{
    HDC dc = GetDC(nullptr);
    const XFORM translate{1, 0, 0, 1, -50, -60};
    const XFORM scale2{2, 0, 0, 2, 0, 0};
    EXPECT_EQ(GetGraphicsMode(dc), GM_COMPATIBLE);
    SetLastError(0);
    EXPECT_FALSE(SetWorldTransform(dc, &translate));
    EXPECT_FALSE(ModifyWorldTransform(dc, &scale2, MWT_LEFTMULTIPLY));
    EXPECT_EQ(Map(WorldOf(dc), 10, 10), std::make_pair(10.0f, 10.0f));

    EXPECT_EQ(SetGraphicsMode(dc, GM_ADVANCED), GM_COMPATIBLE);
    ASSERT_TRUE(SetWorldTransform(dc, &translate));
    // Left-multiplied: the new matrix acts on a point first.
    ASSERT_TRUE(ModifyWorldTransform(dc, &scale2, MWT_LEFTMULTIPLY));
    EXPECT_EQ(Map(WorldOf(dc), 10, 10), std::make_pair(-30.0f, -40.0f));
    ASSERT_TRUE(SetWorldTransform(dc, &translate));
    ASSERT_TRUE(ModifyWorldTransform(dc, &scale2, MWT_RIGHTMULTIPLY));
    EXPECT_EQ(Map(WorldOf(dc), 10, 10), std::make_pair(-80.0f, -100.0f));

    // Modes outside 1 to 3 change nothing (4 exists only inside metafile records).
    for (DWORD mode : {0u, 4u, 5u})
        EXPECT_FALSE(ModifyWorldTransform(dc, &scale2, mode)) << mode;
    EXPECT_EQ(Map(WorldOf(dc), 10, 10), std::make_pair(-80.0f, -100.0f));
    const XFORM broken{std::numeric_limits<float>::infinity(), 0, 0, 1, 0, 0};
    EXPECT_FALSE(SetWorldTransform(dc, &broken));

    ASSERT_TRUE(ModifyWorldTransform(dc, nullptr, MWT_IDENTITY));
    EXPECT_EQ(Map(WorldOf(dc), 10, 10), std::make_pair(10.0f, 10.0f));
    // Leaving the advanced mode keeps the transform but refuses changes.
    EXPECT_EQ(SetGraphicsMode(dc, GM_COMPATIBLE), GM_ADVANCED);
    EXPECT_EQ(SetGraphicsMode(dc, 3), 0);
    ReleaseDC(nullptr, dc);
}

TEST_F(DeviceContextTest, SavedStatesRestoreByNumberOrCountingBack)
{
    HDC dc = GetDC(nullptr);
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM one{1, 0, 0, 1, 1, 0};
    const XFORM two{1, 0, 0, 1, 2, 0};
    const XFORM three{1, 0, 0, 1, 3, 0};
    SetWorldTransform(dc, &one);
    EXPECT_EQ(SaveDC(dc), 1);
    SetWorldTransform(dc, &two);
    EXPECT_EQ(SetLayout(dc, LAYOUT_RTL), 0u);
    EXPECT_EQ(SaveDC(dc), 2);
    SetWorldTransform(dc, &three);
    SetGraphicsMode(dc, GM_COMPATIBLE);
    EXPECT_EQ(SaveDC(dc), 3);

    EXPECT_TRUE(RestoreDC(dc, -1)); // the newest: three, compatible
    EXPECT_EQ(WorldOf(dc).eDx, 3.0f);
    EXPECT_EQ(GetGraphicsMode(dc), GM_COMPATIBLE);
    EXPECT_FALSE(RestoreDC(dc, 3)); // no longer saved
    EXPECT_FALSE(RestoreDC(dc, 0));
    EXPECT_FALSE(RestoreDC(dc, -3));
    EXPECT_TRUE(RestoreDC(dc, -1)); // state 2: two, advanced, right-to-left
    EXPECT_EQ(WorldOf(dc).eDx, 2.0f);
    EXPECT_EQ(GetGraphicsMode(dc), GM_ADVANCED);
    EXPECT_EQ(GetLayout(dc), LAYOUT_RTL);
    EXPECT_EQ(SaveDC(dc), 2);
    EXPECT_TRUE(RestoreDC(dc, 1)); // by number: one, left-to-right
    EXPECT_EQ(WorldOf(dc).eDx, 1.0f);
    EXPECT_EQ(GetLayout(dc), 0u);
    EXPECT_FALSE(RestoreDC(dc, -1)); // nothing left to restore
    EXPECT_EQ(SetLayout(dc, 0x100), GDI_ERROR);
    ReleaseDC(nullptr, dc);
}

} // namespace

// The printer definition's factory, whichever source describes the printer, and the choice among
// several resolutions that CUPS queues bring.
#include "platform/gdi/gdi.h"
#include "platform/spooler/devmode.h"
#include "platform/spooler/printer_definition.h"
#include "tests/platform/spooler_test_root.h"

#include <gmock/gmock.h>

#include <functional>

using platform::PrinterDefinition;
using platform::PrinterDescription;
using ::testing::HasSubstr;

namespace {

PrinterDescription Sound()
{
    PrinterDescription printer;
    printer.name = u"Sound";
    printer.resolutions = {300, 600, 1200};
    printer.defaultResolution = 600;
    printer.papers = {{9, u"A4", 2100, 2970, 5000, 5000, 5000, 5000}, {1, u"Letter", 2159, 2794, 0, 0, 0, 0}};
    printer.defaultPaper = 9;
    return printer;
}

struct Refusal {
    const char* label;
    std::function<void(PrinterDescription&)> spoil;
    const char* fault;
};

TEST(PrinterDefinition, TheFactoryRefusesWhatNoCallerCouldUse)
{
    const Refusal refusals[] = {
        {"no paper", [](PrinterDescription& p) { p.papers.clear(); }, "lists no paper"},
        {"default paper missing", [](PrinterDescription& p) { p.defaultPaper = 5; }, "default paper 5 is not among"},
        {"paper number twice", [](PrinterDescription& p) { p.papers[1].number = 9; }, "paper number 9 is listed twice"},
        {"paper number zero", [](PrinterDescription& p) { p.papers[1].number = 0; }, "paper number 0"},
        {"sheet too long", [](PrinterDescription& p) { p.papers[1].length = 32768; }, "not from 1 to 32767"},
        {"margins cover the sheet", [](PrinterDescription& p) { p.papers[0].marginTop = 292000; }, "no printable area"},
        {"no resolution", [](PrinterDescription& p) { p.resolutions.clear(); }, "1 to 32 resolutions"},
        {"resolution too fine", [](PrinterDescription& p) { p.resolutions.push_back(9601); }, "9601 dpi"},
        {"resolution twice", [](PrinterDescription& p) { p.resolutions.push_back(300); }, "300 dpi is listed twice"},
        {"default resolution missing", [](PrinterDescription& p) { p.defaultResolution = 400; },
         "default resolution 400"},
        {"copies upside down", [](PrinterDescription& p) { p.copiesMin = 3; }, "copies 3-1"},
        {"orientation", [](PrinterDescription& p) { p.defaultOrientation = 3; }, "orientation 3"},
        {"name with a slash", [](PrinterDescription& p) { p.name = u"a/b"; }, "contains '/'"},
        {"name too long", [](PrinterDescription& p) { p.name = std::u16string(128, u'n'); }, "longer than 127"},
    };
    EXPECT_TRUE(PrinterDefinition::Create(Sound()).printer);
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.label);
        PrinterDescription printer = Sound();
        refusal.spoil(printer);
        const platform::PrinterDefinitionResult result = PrinterDefinition::Create(printer);
        EXPECT_FALSE(result.printer);
        EXPECT_THAT(result.error, HasSubstr(refusal.fault));
    }
}

TEST(PrinterDefinition, ADeviceModeTakesTheListedResolutionClosestToTheOneAsked)
{
    const PrinterDefinition printer = *PrinterDefinition::Create(Sound()).printer;
    const std::pair<SHORT, SHORT> asked[] = {
        {600, 600}, {1200, 1200}, {50, 300}, {700, 600}, {900, 600}, {901, 1200}, {32767, 1200}, {-4, 600}, {0, 600},
    };
    for (const auto& [quality, dpi] : asked) {
        SCOPED_TRACE(quality);
        DEVMODEW input = platform::spooler::DefaultDevMode(printer).devMode;
        input.dmDriverExtra = 0; // the public part alone
        input.dmFields = DM_PRINTQUALITY;
        input.dmPrintQuality = quality;
        input.dmYResolution = 1;
        platform::spooler::FullDevMode merged{};
        ASSERT_TRUE(platform::spooler::MergeDevMode(printer, input, merged));
        EXPECT_EQ(merged.devMode.dmPrintQuality, dpi);
        EXPECT_EQ(merged.devMode.dmYResolution, dpi);
    }
}

} // namespace

namespace {

using SeveralResolutions = SpoolerRootTest;

TEST_F(SeveralResolutions, ADeviceContextAndItsJobUseTheDeviceModesResolution)
{
    Install("fine.printer",
            "[printer]\nname = Fine\nresolution = 600 300\ndefault-paper = 9\n"
            "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n");
    for (const SHORT dpi : {SHORT{600}, SHORT{300}}) {
        SCOPED_TRACE(dpi);
        platform::spooler::FullDevMode mode{};
        ASSERT_EQ(
            DocumentPropertiesW(nullptr, nullptr, const_cast<LPWSTR>(u"Fine"), &mode.devMode, nullptr, DM_OUT_BUFFER),
            IDOK);
        mode.devMode.dmPrintQuality = dpi;
        HDC dc = CreateDCW(u"", u"Fine", nullptr, &mode.devMode);
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), dpi);
        // A4 less 5 mm on each side: 200 mm, both edges rounded inwards to whole dots.
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), dpi == 600 ? 4723 : 2361);
        const DOCINFOW info{sizeof(DOCINFOW), u"Fine", nullptr, nullptr, 0};
        const int jobId = StartDocW(dc, &info);
        ASSERT_GT(jobId, 0);
        ASSERT_GT(StartPage(dc), 0);
        ASSERT_GT(EndPage(dc), 0);
        ASSERT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
        const std::string sidecar = testing_support::ReadWholeFile(m_root.Path() / "var/spool/quillon/Fine"
                                                                   / (std::to_string(jobId) + ".json"));
        EXPECT_THAT(sidecar, HasSubstr("\"resolution\": " + std::to_string(dpi) + "\n"));
    }
}

} // namespace

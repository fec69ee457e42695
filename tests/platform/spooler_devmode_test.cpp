#include "tests/platform/spooler_test_root.h"

#include "platform/kernel/kernel.h"
#include "platform/spooler/quillon_devmode.h"
#include "platform/spooler/spooler.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

LPWSTR Name(const char16_t* text)
{
    return const_cast<LPWSTR>(text);
}

std::u16string_view Text(const WCHAR* field)
{
    return std::u16string_view(field);
}

// A device-mode buffer of the size the spooler asks for, filled with the printer's default.
class DevModeBuffer {
public:
    explicit DevModeBuffer(const char16_t* printer)
    {
        const LONG size = DocumentPropertiesW(nullptr, nullptr, Name(printer), nullptr, nullptr, 0);
        EXPECT_GT(size, 0);
        bytes_.assign(size > 0 ? static_cast<std::size_t>(size) : sizeof(DEVMODEW), BYTE{0xCD});
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(printer), Get(), nullptr, DM_OUT_BUFFER), IDOK);
    }
    DEVMODEW* Get() { return reinterpret_cast<DEVMODEW*>(bytes_.data()); }
    DEVMODEW* operator->() { return Get(); }
    platform::QuillonDevModeExtra Extra() const
    {
        platform::QuillonDevModeExtra extra;
        std::memcpy(&extra, bytes_.data() + sizeof(DEVMODEW), sizeof extra);
        return extra;
    }

private:
    std::vector<BYTE> bytes_;
};

// Merges a partial device mode (only `fields` set) into the printer's default.
DevModeBuffer Merge(const char16_t* printer, const DEVMODEW& partial)
{
    DevModeBuffer out(printer);
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(printer), out.Get(), const_cast<DEVMODEW*>(&partial),
                                  DM_IN_BUFFER | DM_OUT_BUFFER),
              IDOK);
    return out;
}

DEVMODEW Partial(DWORD fields)
{
    DEVMODEW partial{};
    partial.dmSize = sizeof(DEVMODEW);
    partial.dmSpecVersion = DM_SPECVERSION;
    partial.dmFields = fields;
    return partial;
}

} // namespace

using SpoolerPrinterHandleTest = SpoolerRootTest;

TEST_F(SpoolerPrinterHandleTest, OpensKnownPrintersAndRefusesUnknownEmptyAndNullNames)
{
    InstallSamples();
    for (LPWSTR name : {Name(u"No Such Printer"), Name(u""), Name(u"Quillon Office "), LPWSTR{nullptr}}) {
        HANDLE printer = INVALID_HANDLE_VALUE;
        SetLastError(0);
        EXPECT_EQ(OpenPrinterW(name, &printer, nullptr), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
        EXPECT_EQ(printer, nullptr);
    }
    EXPECT_EQ(OpenPrinterW(Name(u"Quillon Office"), nullptr, nullptr), FALSE);

    HANDLE office = nullptr;
    HANDLE photo = nullptr;
    ASSERT_EQ(OpenPrinterW(Name(u"Quillon Office"), &office, nullptr), TRUE);
    ASSERT_EQ(OpenPrinterW(Name(u"Quillon Photo"), &photo, nullptr), TRUE);
    EXPECT_NE(office, photo);
    EXPECT_EQ(ClosePrinter(office), TRUE);
    EXPECT_EQ(ClosePrinter(photo), TRUE);
}

TEST_F(SpoolerPrinterHandleTest, ClosingTwiceOrGarbageFailsWithInvalidHandle)
{
    InstallSamples();
    HANDLE office = nullptr;
    ASSERT_EQ(OpenPrinterW(Name(u"Quillon Office"), &office, nullptr), TRUE);
    ASSERT_EQ(ClosePrinter(office), TRUE);
    int local = 0;
    for (HANDLE bad : {office, HANDLE{nullptr}, INVALID_HANDLE_VALUE, static_cast<HANDLE>(&local)}) {
        SetLastError(0);
        EXPECT_EQ(ClosePrinter(bad), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    DEVMODEW out{};
    EXPECT_EQ(DocumentPropertiesW(nullptr, office, Name(u"Quillon Office"), &out, nullptr, DM_OUT_BUFFER), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

using SpoolerDocumentPropertiesTest = SpoolerRootTest;

TEST_F(SpoolerDocumentPropertiesTest, SizeQueryCountsPublicAndPrivatePart)
{
    InstallSamples();
    const LONG size = DocumentPropertiesW(nullptr, nullptr, Name(u"Quillon Office"), nullptr, nullptr, 0);
    EXPECT_EQ(size, 220 + DeviceCapabilitiesW(u"Quillon Office", nullptr, DC_EXTRA, nullptr, nullptr));
    EXPECT_EQ(size, static_cast<LONG>(sizeof(DEVMODEW) + sizeof(platform::QuillonDevModeExtra)));

    HANDLE photo = nullptr;
    ASSERT_EQ(OpenPrinterW(Name(u"Quillon Photo"), &photo, nullptr), TRUE);
    EXPECT_EQ(DocumentPropertiesW(nullptr, photo, Name(u"Quillon Photo"), nullptr, nullptr, 0), size);
    ClosePrinter(photo);
}

TEST_F(SpoolerDocumentPropertiesTest, UnknownPrinterAndMissingBuffersFail)
{
    InstallSamples();
    DEVMODEW out{};
    SetLastError(0);
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(u"Nobody"), &out, nullptr, DM_OUT_BUFFER), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(u""), nullptr, nullptr, 0), -1);

    SetLastError(0);
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(u"Quillon Office"), nullptr, nullptr, DM_OUT_BUFFER), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        DocumentPropertiesW(nullptr, nullptr, Name(u"Quillon Office"), &out, nullptr, DM_IN_BUFFER | DM_OUT_BUFFER),
        -1);

    DEVMODEW tooShort = Partial(DM_ORIENTATION);
    tooShort.dmSize = 40; // cannot even hold its own dmFields
    EXPECT_EQ(
        DocumentPropertiesW(nullptr, nullptr, Name(u"Quillon Office"), &out, &tooShort, DM_IN_BUFFER | DM_OUT_BUFFER),
        -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SpoolerDocumentPropertiesTest, DefaultOfTheOfficePrinter)
{
    InstallSamples();
    DevModeBuffer mode(u"Quillon Office");
    EXPECT_EQ(Text(mode->dmDeviceName), u"Quillon Office");
    EXPECT_EQ(mode->dmSpecVersion, DM_SPECVERSION);
    EXPECT_EQ(mode->dmSize, 220);
    EXPECT_EQ(mode->dmDriverExtra, sizeof(platform::QuillonDevModeExtra));
    EXPECT_EQ(mode->dmFields,
              DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COPIES | DM_PRINTQUALITY
                  | DM_YRESOLUTION | DM_COLOR | DM_DUPLEX | DM_COLLATE | DM_FORMNAME);
    EXPECT_EQ(mode->dmOrientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(mode->dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(mode->dmPaperWidth, 2159);
    EXPECT_EQ(mode->dmPaperLength, 2794);
    EXPECT_EQ(mode->dmCopies, 1);
    EXPECT_EQ(mode->dmPrintQuality, 600);
    EXPECT_EQ(mode->dmYResolution, 600);
    EXPECT_EQ(mode->dmColor, DMCOLOR_COLOR);
    EXPECT_EQ(mode->dmDuplex, DMDUP_SIMPLEX);
    EXPECT_EQ(mode->dmCollate, DMCOLLATE_TRUE);
    EXPECT_EQ(Text(mode->dmFormName), u"Letter");

    const auto extra = platform::ReadQuillonDevModeExtra(*mode.Get());
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->marginLeft, 4230);
    EXPECT_EQ(extra->marginBottom, 4230);
}

TEST_F(SpoolerDocumentPropertiesTest, DefaultOfThePhotoPrinterHasNoDuplexField)
{
    InstallSamples();
    DevModeBuffer mode(u"Quillon Photo");
    EXPECT_EQ(mode->dmFields & DM_DUPLEX, 0u);
    EXPECT_EQ(mode->dmDuplex, DMDUP_SIMPLEX);
    EXPECT_EQ(mode->dmPrintQuality, 300);
    EXPECT_EQ(mode->dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(mode.Extra().marginTop, 3000);
}

TEST_F(SpoolerDocumentPropertiesTest, LongNamesAreCutTo31UnitsWithoutSplittingASurrogatePair)
{
    // 30 units, then a character outside the BMP (a surrogate pair) that would straddle the cut.
    const std::string name = std::string(30, 'N') + "\xF0\x9F\x96\xA8" + "Z";
    const std::string paper = std::string(30, 'P') + "\xF0\x9F\x96\xA8";
    Install("long.printer",
            "[printer]\nname = " + name + "\nresolution = 300\ndefault-paper = 9\n[paper 9]\nname = " + paper
                + "\nsize = 210 x 297\n");
    std::u16string wideName;
    ASSERT_TRUE(platform::Utf8ToUtf16(name, wideName));
    DevModeBuffer mode(wideName.c_str());
    EXPECT_EQ(Text(mode->dmDeviceName), std::u16string(30, u'N'));
    EXPECT_EQ(Text(mode->dmFormName), std::u16string(30, u'P'));
}

TEST_F(SpoolerDocumentPropertiesTest, HandleDecidesThePrinterOverTheName)
{
    InstallSamples();
    HANDLE photo = nullptr;
    ASSERT_EQ(OpenPrinterW(Name(u"Quillon Photo"), &photo, nullptr), TRUE);
    std::vector<BYTE> bytes(DocumentPropertiesW(nullptr, photo, Name(u"Quillon Office"), nullptr, nullptr, 0));
    auto* mode = reinterpret_cast<DEVMODEW*>(bytes.data());
    EXPECT_EQ(DocumentPropertiesW(nullptr, photo, Name(u"Quillon Office"), mode, nullptr, DM_OUT_BUFFER), IDOK);
    EXPECT_EQ(Text(mode->dmDeviceName), u"Quillon Photo");
    // The handle alone is enough.
    EXPECT_EQ(DocumentPropertiesW(nullptr, photo, nullptr, mode, nullptr, DM_OUT_BUFFER), IDOK);
    ClosePrinter(photo);
}

TEST_F(SpoolerDocumentPropertiesTest, MergesA4LandscapeWithSizeFormAndMargins)
{
    InstallSamples();
    DEVMODEW partial = Partial(DM_PAPERSIZE | DM_ORIENTATION);
    partial.dmPaperSize = DMPAPER_A4;
    partial.dmOrientation = DMORIENT_LANDSCAPE;
    DevModeBuffer mode = Merge(u"Quillon Office", partial);
    EXPECT_EQ(mode->dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(mode->dmPaperWidth, 2100);
    EXPECT_EQ(mode->dmPaperLength, 2970);
    EXPECT_EQ(Text(mode->dmFormName), u"A4");
    EXPECT_EQ(mode->dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(mode->dmCopies, 1); // untouched fields keep the default
    EXPECT_EQ(mode->dmFields & DM_PAPERSIZE, DM_PAPERSIZE);
    EXPECT_EQ(mode.Extra().marginLeft, 4230);
}

TEST_F(SpoolerDocumentPropertiesTest, MergesInPlaceWhenInputAndOutputAreOneBuffer)
{
    InstallSamples();
    DevModeBuffer mode(u"Quillon Photo");
    mode->dmPaperSize = 257;
    mode->dmCopies = 3;
    ASSERT_EQ(DocumentPropertiesW(nullptr, nullptr, Name(u"Quillon Photo"), mode.Get(), mode.Get(),
                                  DM_IN_BUFFER | DM_OUT_BUFFER),
              IDOK);
    EXPECT_EQ(mode->dmPaperSize, 257);
    EXPECT_EQ(Text(mode->dmFormName), u"4x6 Borderless");
    EXPECT_EQ(mode->dmPaperWidth, 1016);
    EXPECT_EQ(mode->dmPaperLength, 1524);
    EXPECT_EQ(mode->dmCopies, 3);
    EXPECT_EQ(mode.Extra().marginLeft, 0);
    EXPECT_EQ(mode.Extra().marginTop, 0);
}

TEST_F(SpoolerDocumentPropertiesTest, CustomSizeKeepsItsDimensionsAndDropsThePaperNumber)
{
    InstallSamples();
    DEVMODEW partial = Partial(DM_PAPERWIDTH | DM_PAPERLENGTH);
    partial.dmPaperWidth = 2000;
    partial.dmPaperLength = 3000;
    partial.dmPaperSize = DMPAPER_A4; // not named in dmFields, so not used
    DevModeBuffer mode = Merge(u"Quillon Office", partial);
    EXPECT_EQ(mode->dmFields & (DM_PAPERSIZE | DM_FORMNAME), 0u);
    EXPECT_EQ(mode->dmFields & (DM_PAPERWIDTH | DM_PAPERLENGTH), DM_PAPERWIDTH | DM_PAPERLENGTH);
    EXPECT_EQ(mode->dmPaperSize, 0);
    EXPECT_EQ(mode->dmPaperWidth, 2000);
    EXPECT_EQ(mode->dmPaperLength, 3000);
    EXPECT_EQ(Text(mode->dmFormName), u"");
    EXPECT_EQ(mode.Extra().marginRight, 4230); // the default paper's margins
}

TEST_F(SpoolerDocumentPropertiesTest, CustomSizeIsKeptWithinThePrintersSheets)
{
    InstallSamples();
    DEVMODEW partial = Partial(DM_PAPERWIDTH | DM_PAPERLENGTH);
    partial.dmPaperWidth = -5;
    partial.dmPaperLength = 9000;
    DevModeBuffer mode = Merge(u"Quillon Office", partial);
    EXPECT_EQ(mode->dmPaperWidth, 1480);  // narrowest: A5
    EXPECT_EQ(mode->dmPaperLength, 3556); // longest: Legal

    // Only one dimension given: the other comes from the default paper.
    DEVMODEW widthOnly = Partial(DM_PAPERWIDTH);
    widthOnly.dmPaperWidth = 1500;
    DevModeBuffer narrow = Merge(u"Quillon Office", widthOnly);
    EXPECT_EQ(narrow->dmPaperWidth, 1500);
    EXPECT_EQ(narrow->dmPaperLength, 2794);
}

TEST_F(SpoolerDocumentPropertiesTest, CustomMarginsComeOnlyFromOurOwnPrivatePart)
{
    InstallSamples();
    struct {
        DEVMODEW devMode;
        platform::QuillonDevModeExtra extra;
    } input{Partial(DM_PAPERWIDTH | DM_PAPERLENGTH), {}};
    input.devMode.dmDriverExtra = sizeof input.extra;
    input.devMode.dmPaperWidth = 1800;
    input.devMode.dmPaperLength = 2400;
    input.extra.marginLeft = 1000;
    input.extra.marginTop = 2000;
    input.extra.marginRight = 3000;
    input.extra.marginBottom = 4000;
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginBottom, 4000);

    // Large margins are the caller's as long as some printable area is left: micrometres against
    // the sheet's tenths of a millimetre.
    input.extra.marginLeft = 60000;
    input.extra.marginRight = 60000;
    input.extra.marginTop = 100000;
    input.extra.marginBottom = 139000;
    DevModeBuffer wide = Merge(u"Quillon Office", input.devMode);
    EXPECT_EQ(wide.Extra().marginLeft, 60000);
    EXPECT_EQ(wide.Extra().marginTop, 100000);
    EXPECT_EQ(wide.Extra().marginRight, 60000);
    EXPECT_EQ(wide.Extra().marginBottom, 139000);
    input.extra.marginBottom = 140000; // nothing left between top and bottom
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginBottom, 4230);
    input.extra.marginBottom = 4000;
    input.extra.marginRight = 120000; // nothing left between left and right
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginRight, 4230);
    input.extra.marginLeft = 1000;
    input.extra.marginTop = 2000;
    input.extra.marginRight = 3000;

    input.extra.signature = 0x12345678; // somebody else's driver data
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginBottom, 4230);

    input.extra.signature = platform::kQuillonDevModeSignature;
    input.extra.marginLeft = 178000; // with the right margin, wider than the 180 mm sheet
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginLeft, 4230);

    input.extra.marginLeft = 1000;
    input.devMode.dmFields = DM_PAPERSIZE; // a listed paper always brings its own margins
    input.devMode.dmPaperSize = DMPAPER_A5;
    EXPECT_EQ(Merge(u"Quillon Office", input.devMode).Extra().marginBottom, 4230);
}

TEST_F(SpoolerDocumentPropertiesTest, InvalidSettingsAreCorrectedToTheClosestValidOne)
{
    InstallSamples();
    DEVMODEW tooMany = Partial(DM_COPIES);
    tooMany.dmCopies = 5000;
    EXPECT_EQ(Merge(u"Quillon Office", tooMany)->dmCopies, 999);
    EXPECT_EQ(Merge(u"Quillon Photo", tooMany)->dmCopies, 99);
    tooMany.dmCopies = 0;
    EXPECT_EQ(Merge(u"Quillon Office", tooMany)->dmCopies, 1);

    DEVMODEW duplex = Partial(DM_DUPLEX);
    duplex.dmDuplex = DMDUP_VERTICAL;
    DevModeBuffer photo = Merge(u"Quillon Photo", duplex);
    EXPECT_EQ(photo->dmDuplex, DMDUP_SIMPLEX);
    EXPECT_EQ(photo->dmFields & DM_DUPLEX, 0u);
    duplex.dmDuplex = DMDUP_HORIZONTAL;
    EXPECT_EQ(Merge(u"Quillon Office", duplex)->dmDuplex, DMDUP_HORIZONTAL);
    duplex.dmDuplex = 7;
    EXPECT_EQ(Merge(u"Quillon Office", duplex)->dmDuplex, DMDUP_SIMPLEX);

    DEVMODEW sideways = Partial(DM_ORIENTATION | DM_COLLATE | DM_COLOR | DM_PRINTQUALITY);
    sideways.dmOrientation = 3;
    sideways.dmCollate = 4;
    sideways.dmColor = DMCOLOR_MONOCHROME;
    sideways.dmPrintQuality = 1200;
    DevModeBuffer office = Merge(u"Quillon Office", sideways);
    EXPECT_EQ(office->dmOrientation, DMORIENT_PORTRAIT);
    EXPECT_EQ(office->dmCollate, DMCOLLATE_TRUE);
    EXPECT_EQ(office->dmColor, DMCOLOR_MONOCHROME);
    EXPECT_EQ(office->dmPrintQuality, 600);

    DEVMODEW unknownPaper = Partial(DM_PAPERSIZE);
    unknownPaper.dmPaperSize = DMPAPER_A3;
    DevModeBuffer letter = Merge(u"Quillon Office", unknownPaper);
    EXPECT_EQ(letter->dmPaperSize, DMPAPER_LETTER);
    EXPECT_EQ(Text(letter->dmFormName), u"Letter");
}

TEST_F(SpoolerDocumentPropertiesTest, FormNameSelectsAPaperWhenNoNumberOrSizeIsGiven)
{
    InstallSamples();
    DEVMODEW named = Partial(DM_FORMNAME);
    std::u16string_view a5 = u"A5";
    std::copy(a5.begin(), a5.end(), named.dmFormName);
    EXPECT_EQ(Merge(u"Quillon Office", named)->dmPaperSize, DMPAPER_A5);

    // An older, shorter public part has no form name field, whatever its dmFields claim.
    named.dmSize = offsetof(DEVMODEW, dmFormName);
    EXPECT_EQ(Merge(u"Quillon Office", named)->dmPaperSize, DMPAPER_LETTER);
}

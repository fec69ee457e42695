// Tickets from device modes, device modes from tickets, and the round trip between them.
#include "provider_test_support.h"

#include <cstring>

namespace prntvpt_test {
namespace {

class DevModeTicket : public ProviderTest {};

std::string MediaSize(const std::string& option, const std::string& scored = "")
{
    return "<psf:Feature name=\"psk:PageMediaSize\"><psf:Option name=\"" + option + "\">" + scored
        + "</psf:Option></psf:Feature>";
}

std::string Pick(const std::string& feature, const std::string& option)
{
    return "<psf:Feature name=\"psk:" + feature + "\"><psf:Option name=\"psk:" + option + "\"/></psf:Feature>";
}

std::string Copies(int copies)
{
    return "<psf:ParameterInit name=\"psk:JobCopiesAllDocuments\"><psf:Value xsi:type=\"xsd:integer\">"
        + std::to_string(copies) + "</psf:Value></psf:ParameterInit>";
}

// Sheets from a speck to the largest a device mode holds, so custom sizes reach the device mode
// without being kept within a narrower range.
constexpr char kWidePrinter[] = "[printer]\nname = Quillon Wide\nresolution = 300\ndefault-paper = 257\n"
                                "default-orientation = landscape\ncopies = 2-10\n"
                                "[paper 256]\nname = Speck\nsize = 0.1 x 0.1\n"
                                "[paper 257]\nname = Square\nsize = 100 x 100\n"
                                "[paper 258]\nname = Banner\nsize = 3276.7 x 3276.7\n";

std::string CustomSize(const std::string& width, const std::string& height)
{
    return MediaSize("psk:CustomMediaSize",
                     "<psf:ScoredProperty name=\"psk:MediaSizeWidth\"><psf:ParameterRef "
                     "name=\"psk:PageMediaSizeMediaSizeWidth\"/></psf:ScoredProperty>"
                     "<psf:ScoredProperty name=\"psk:MediaSizeHeight\"><psf:ParameterRef "
                     "name=\"psk:PageMediaSizeMediaSizeHeight\"/></psf:ScoredProperty>")
        + "<psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeWidth\"><psf:Value xsi:type=\"xsd:integer\">" + width
        + "</psf:Value></psf:ParameterInit><psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeHeight\">"
          "<psf:Value xsi:type=\"xsd:integer\">"
        + height + "</psf:Value></psf:ParameterInit>";
}

std::string Scored(const std::string& property, const std::string& value)
{
    return "<psf:ScoredProperty name=\"psk:" + property + "\"><psf:Value xsi:type=\"xsd:integer\">" + value
        + "</psf:Value></psf:ScoredProperty>";
}

TEST_F(DevModeTicket, DefaultTicketOfEachScope)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    std::vector<BYTE> devMode = DefaultDevMode(u"Quillon Office");

    XmlDoc job(TicketOf(provider, devMode, kPTJobScope));
    ASSERT_TRUE(job.WellFormed());
    const std::string root = "/psf:PrintTicket";
    EXPECT_EQ(job.String(root + "/@version"), "1");
    EXPECT_EQ(job.Number(root + "/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value"), 1);
    EXPECT_EQ(job.String(root + "/psf:Feature[@name='psk:JobDuplexAllDocumentsContiguously']/psf:Option/@name"),
              "psk:OneSided");
    EXPECT_EQ(job.String(root + "/psf:Feature[@name='psk:DocumentCollate']/psf:Option/@name"), "psk:Collated");
    EXPECT_EQ(job.String(root + "/psf:Feature[@name='psk:PageMediaSize']/psf:Option/@name"), "psk:NorthAmericaLetter");
    EXPECT_EQ(job.Number(root
                         + "/psf:Feature[@name='psk:PageMediaSize']/psf:Option/psf:ScoredProperty[@name="
                           "'psk:MediaSizeWidth']/psf:Value"),
              215900);
    EXPECT_EQ(job.String(root + "/psf:Feature[@name='psk:PageOrientation']/psf:Option/@name"), "psk:Portrait");
    EXPECT_EQ(job.String(root + "/psf:Feature[@name='psk:PageOutputColor']/psf:Option/@name"), "psk:Color");
    EXPECT_EQ(job.Number(root
                         + "/psf:Feature[@name='psk:PageResolution']/psf:Option/psf:ScoredProperty[@name="
                           "'psk:ResolutionY']/psf:Value"),
              600);

    XmlDoc document(TicketOf(provider, devMode, kPTDocumentScope));
    EXPECT_EQ(
        document.Number("count(//psf:Feature[starts-with(@name, 'psk:Job')] | //psf:ParameterInit[starts-with(@name, "
                        "'psk:Job')])"),
        0);
    EXPECT_EQ(document.Number("count(//psf:Feature[@name='psk:DocumentCollate'])"), 1);

    XmlDoc page(TicketOf(provider, devMode, kPTPageScope));
    EXPECT_EQ(page.Number("count(/psf:PrintTicket/*[not(starts-with(@name, 'psk:Page'))])"), 0);
    EXPECT_EQ(page.Number("count(/psf:PrintTicket/psf:Feature)"), 4);
}

TEST_F(DevModeTicket, CopiesADeviceModeDoesNotSetAreThePrintersSmallest)
{
    InstallPrinter("wide.printer", kWidePrinter);
    HPTPROVIDER provider = Open(u"Quillon Wide");
    std::vector<BYTE> devMode = DefaultDevMode(u"Quillon Wide");
    const std::string copies = "/psf:PrintTicket/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value";
    EXPECT_EQ(XmlDoc(TicketOf(provider, devMode, kPTJobScope)).Number(copies), 2);
    auto* mode = reinterpret_cast<DEVMODEW*>(devMode.data());
    mode->dmFields &= ~DM_COPIES;
    EXPECT_EQ(XmlDoc(TicketOf(provider, devMode, kPTJobScope)).Number(copies), 2);
    mode->dmFields |= DM_COPIES;
    mode->dmCopies = 0;
    EXPECT_EQ(XmlDoc(TicketOf(provider, devMode, kPTJobScope)).Number(copies), 2);
}

TEST_F(DevModeTicket, ShortOrMissingDeviceModeIsRefused)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    IStream* stream = TextStream("");
    std::vector<BYTE> devMode = DefaultDevMode(u"Quillon Office");
    auto* mode = reinterpret_cast<DEVMODEW*>(devMode.data());
    EXPECT_EQ(api_.toTicket(provider, 0, nullptr, kPTJobScope, stream), E_INVALIDARG);
    EXPECT_EQ(api_.toTicket(provider, 200, mode, kPTJobScope, stream), E_INVALIDARG);
    // Shorter than its own public and private parts claim.
    EXPECT_EQ(api_.toTicket(provider, static_cast<ULONG>(devMode.size() - 1), mode, kPTJobScope, stream), E_INVALIDARG);
    EXPECT_EQ(StreamText(stream), "");
    stream->Release();
}

TEST_F(DevModeTicket, AnOlderShorterPublicPartIsReadAsFarAsItGoes)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    std::vector<BYTE> full = DefaultDevMode(u"Quillon Office");
    auto* mode = reinterpret_cast<DEVMODEW*>(full.data());
    mode->dmPaperSize = DMPAPER_A5;
    mode->dmOrientation = DMORIENT_LANDSCAPE;
    constexpr std::size_t kOldest = offsetof(DEVMODEW, dmFormName);
    mode->dmSize = kOldest;
    mode->dmDriverExtra = 0;
    // Exactly as long as the older layout: reading one byte past it is a fault the sanitizers see.
    std::vector<BYTE> old(full.begin(), full.begin() + kOldest);
    XmlDoc doc(TicketOf(provider, old, kPTJobScope));
    ASSERT_TRUE(doc.WellFormed());
    EXPECT_EQ(doc.String("/psf:PrintTicket/psf:Feature[@name='psk:PageMediaSize']/psf:Option/@name"), "psk:ISOA5");
    EXPECT_EQ(doc.String("/psf:PrintTicket/psf:Feature[@name='psk:PageOrientation']/psf:Option/@name"),
              "psk:Landscape");

    // One byte short of the oldest layout, by its own size or by the caller's.
    IStream* stream = TextStream("");
    auto* oldMode = reinterpret_cast<DEVMODEW*>(old.data());
    EXPECT_EQ(api_.toTicket(provider, kOldest - 1, oldMode, kPTJobScope, stream), E_INVALIDARG);
    oldMode->dmSize = kOldest - 1;
    EXPECT_EQ(api_.toTicket(provider, kOldest, oldMode, kPTJobScope, stream), E_INVALIDARG);
    EXPECT_EQ(StreamText(stream), "");
    stream->Release();
}

TEST_F(DevModeTicket, LetterAndA4Landscape)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    auto letter = Convert(provider, MakeTicket(MediaSize("psk:NorthAmericaLetter")), kPTDocumentScope);
    ASSERT_EQ(letter.result, S_OK);
    EXPECT_EQ(letter.size, DefaultDevMode(u"Quillon Office").size());
    EXPECT_TRUE(letter.devMode.dmFields & DM_PAPERSIZE);
    EXPECT_EQ(letter.devMode.dmPaperSize, DMPAPER_LETTER);

    auto a4 = Convert(provider, MakeTicket(MediaSize("psk:ISOA4") + Pick("PageOrientation", "Landscape")),
                      kPTDocumentScope);
    ASSERT_EQ(a4.result, S_OK);
    EXPECT_EQ(a4.devMode.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(a4.devMode.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(std::u16string(a4.devMode.dmFormName), u"A4");
}

TEST_F(DevModeTicket, BorderlessPhotoPaper)
{
    HPTPROVIDER provider = Open(u"Quillon Photo");
    // By the name the capabilities gave it.
    auto named = Convert(provider,
                         MakeTicket(MediaSize("ns0000:Paper257"))
                             .insert(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<psf:PrintTicket").size(),
                                     std::string(" xmlns:ns0000=\"") + kPrivate + "\""),
                         kPTDocumentScope);
    ASSERT_EQ(named.result, S_OK);
    EXPECT_EQ(named.devMode.dmPaperSize, 257);

    // The 4x6 keyword with the borderless feature selects the borderless twin.
    auto keyword
        = Convert(provider, MakeTicket(MediaSize("psk:NorthAmerica4x6") + Pick("PageBorderless", "Borderless")),
                  kPTDocumentScope);
    ASSERT_EQ(keyword.result, S_OK);
    EXPECT_EQ(keyword.devMode.dmPaperSize, 257);

    auto bordered = Convert(provider, MakeTicket(MediaSize("psk:NorthAmerica4x6")), kPTDocumentScope);
    EXPECT_EQ(bordered.devMode.dmPaperSize, 256);
}

TEST_F(DevModeTicket, PaperMatchedBySizeWhenTheNameIsUnknown)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string scored
        = "<psf:ScoredProperty name=\"psk:MediaSizeWidth\"><psf:Value xsi:type=\"xsd:integer\">148000</psf:Value>"
          "</psf:ScoredProperty><psf:ScoredProperty name=\"psk:MediaSizeHeight\"><psf:Value xsi:type=\"xsd:integer\">"
          "210000</psf:Value></psf:ScoredProperty>";
    auto bySize = Convert(provider, MakeTicket(MediaSize("psk:SomeVendorA5", scored)), kPTDocumentScope);
    ASSERT_EQ(bySize.result, S_OK);
    EXPECT_EQ(bySize.devMode.dmPaperSize, DMPAPER_A5);

    // A standard keyword this printer lacks, of a size it has no paper for: a custom sheet.
    auto executive = Convert(provider, MakeTicket(MediaSize("psk:NorthAmericaExecutive")), kPTDocumentScope);
    ASSERT_EQ(executive.result, S_OK);
    EXPECT_FALSE(executive.devMode.dmFields & DM_PAPERSIZE);
    EXPECT_EQ(executive.devMode.dmPaperWidth, 1842);
    EXPECT_EQ(executive.devMode.dmPaperLength, 2667);
}

TEST_F(DevModeTicket, CustomSizeThroughParameters)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string body
        = MediaSize("psk:CustomMediaSize",
                    "<psf:ScoredProperty name=\"psk:MediaSizeWidth\"><psf:ParameterRef "
                    "name=\"psk:PageMediaSizeMediaSizeWidth\"/>"
                    "</psf:ScoredProperty><psf:ScoredProperty name=\"psk:MediaSizeHeight\"><psf:ParameterRef "
                    "name=\"psk:PageMediaSizeMediaSizeHeight\"/></psf:ScoredProperty>")
        + "<psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeWidth\"><psf:Value "
          "xsi:type=\"xsd:integer\">180000</psf:Value>"
          "</psf:ParameterInit><psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeHeight\"><psf:Value "
          "xsi:type=\"xsd:integer\">250000</psf:Value></psf:ParameterInit>";
    auto custom = Convert(provider, MakeTicket(body), kPTDocumentScope);
    ASSERT_EQ(custom.result, S_OK);
    EXPECT_FALSE(custom.devMode.dmFields & DM_PAPERSIZE);
    EXPECT_TRUE(custom.devMode.dmFields & DM_PAPERWIDTH);
    EXPECT_TRUE(custom.devMode.dmFields & DM_PAPERLENGTH);
    EXPECT_EQ(custom.devMode.dmPaperWidth, 1800);
    EXPECT_EQ(custom.devMode.dmPaperLength, 2500);
}

TEST_F(DevModeTicket, CustomSizesRoundToTenthsWithinWhatADeviceModeHolds)
{
    InstallPrinter("wide.printer", kWidePrinter);
    HPTPROVIDER provider = Open(u"Quillon Wide");
    struct Case {
        const char* microns;
        SHORT tenths; // 0: not applied, the default sheet stays
    };
    const Case cases[] = {
        {"49", 0},
        {"50", 1},
        {"149", 1},
        {"150", 2},
        {"3276749", 32767},
        {"3276750", 0},
        {"0", 0},
        {"-1", 0},
        {"-50", 0},
        {"2147483647", 0},
        {"9223372036854775807", 0},
        {"-9223372036854775808", 0},
        // Past the range of any integer: not a number at all.
        {"9223372036854775808", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.microns);
        auto converted = Convert(provider, MakeTicket(CustomSize(c.microns, "200000")), kPTDocumentScope);
        ASSERT_EQ(converted.result, S_OK);
        if (c.tenths == 0) {
            EXPECT_TRUE(converted.devMode.dmFields & DM_PAPERSIZE);
            EXPECT_EQ(converted.devMode.dmPaperSize, 257);
        } else {
            EXPECT_FALSE(converted.devMode.dmFields & DM_PAPERSIZE);
            EXPECT_EQ(converted.devMode.dmPaperWidth, c.tenths);
            EXPECT_EQ(converted.devMode.dmPaperLength, 2000);
        }
        // The same value as the height, and as a size stated by a paper's own scored properties.
        auto height = Convert(provider, MakeTicket(CustomSize("200000", c.microns)), kPTDocumentScope);
        ASSERT_EQ(height.result, S_OK);
        EXPECT_EQ(height.devMode.dmPaperLength, c.tenths == 0 ? 1000 : c.tenths);
        auto stated
            = Convert(provider,
                      MakeTicket(MediaSize("psk:VendorSheet",
                                           Scored("MediaSizeWidth", c.microns) + Scored("MediaSizeHeight", "200000"))),
                      kPTDocumentScope);
        ASSERT_EQ(stated.result, S_OK);
        EXPECT_EQ(stated.devMode.dmPaperWidth, c.tenths == 0 ? 1000 : c.tenths);
    }
}

TEST_F(DevModeTicket, ExtremeCopiesAndResolutionsGiveDefinedAnswers)
{
    InstallPrinter("wide.printer", kWidePrinter);
    HPTPROVIDER provider = Open(u"Quillon Wide");
    struct Case {
        const char* value;
        SHORT copies;
    };
    // Copies outside the printer's 2 to 10 come back within it; what is not a count leaves the default.
    const Case cases[] = {
        {"1", 2},
        {"2", 2},
        {"10", 10},
        {"11", 10},
        {"32767", 10},
        {"32768", 10},
        {"65537", 10},
        {"40000", 10},
        {"0", 2},
        {"-1", 2},
        {"-32768", 2},
        {"9223372036854775807", 10},
        {"-9223372036854775808", 2},
        {"9223372036854775808", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string copies = "<psf:ParameterInit name=\"psk:JobCopiesAllDocuments\"><psf:Value "
                                   "xsi:type=\"xsd:integer\">"
            + std::string(c.value) + "</psf:Value></psf:ParameterInit>";
        const std::string resolution = "<psf:Feature name=\"psk:PageResolution\"><psf:Option>"
            + Scored("ResolutionX", c.value) + Scored("ResolutionY", c.value) + "</psf:Option></psf:Feature>";
        auto converted = Convert(provider, MakeTicket(copies + resolution), kPTJobScope);
        ASSERT_EQ(converted.result, S_OK);
        EXPECT_EQ(converted.devMode.dmCopies, c.copies);
        // The printer has one resolution, whatever was asked.
        EXPECT_EQ(converted.devMode.dmPrintQuality, 300);
        EXPECT_EQ(converted.devMode.dmYResolution, 300);
    }
}

TEST_F(DevModeTicket, EveryOrientationKeywordTurnsTheSheetItsWay)
{
    InstallPrinter("wide.printer", kWidePrinter);
    const std::pair<const char*, SHORT> keywords[] = {
        {"Portrait", DMORIENT_PORTRAIT},
        {"ReversePortrait", DMORIENT_PORTRAIT},
        {"Landscape", DMORIENT_LANDSCAPE},
        {"ReverseLandscape", DMORIENT_LANDSCAPE},
    };
    // One printer stands in portrait by default, the other in landscape: every keyword must turn one.
    for (const std::u16string printer : {u"Quillon Office", u"Quillon Wide"}) {
        HPTPROVIDER provider = Open(printer);
        for (const auto& [keyword, orientation] : keywords) {
            SCOPED_TRACE(keyword);
            auto converted = Convert(provider, MakeTicket(Pick("PageOrientation", keyword)), kPTDocumentScope);
            ASSERT_EQ(converted.result, S_OK);
            EXPECT_EQ(converted.devMode.dmOrientation, orientation);
        }
    }
}

TEST_F(DevModeTicket, EveryMediaSizeKeywordGivesItsSheet)
{
    // No paper of this printer has a standard size, so each keyword becomes a sheet of its own size.
    InstallPrinter("wide.printer", kWidePrinter);
    HPTPROVIDER provider = Open(u"Quillon Wide");
    struct Sheet {
        const char* keyword;
        SHORT width; // tenths of a millimetre
        SHORT length;
    };
    const Sheet sheets[] = {
        {"NorthAmericaLetter", 2159, 2794},
        {"NorthAmericaTabloid", 2794, 4318},
        {"NorthAmericaLegal", 2159, 3556},
        {"NorthAmericaStatement", 1397, 2159},
        {"NorthAmericaExecutive", 1842, 2667},
        {"ISOA3", 2970, 4200},
        {"ISOA4", 2100, 2970},
        {"ISOA5", 1480, 2100},
        {"ISOA6", 1050, 1480},
        {"NorthAmericaNumber10Envelope", 1048, 2413},
        {"ISODLEnvelope", 1100, 2200},
        {"ISOC5Envelope", 1620, 2290},
        {"JapanHagakiPostcard", 1000, 1480},
        {"NorthAmerica4x6", 1016, 1524},
        {"NorthAmerica5x7", 1270, 1778},
        {"NorthAmerica8x10", 2032, 2540},
        {"JapanLPhoto", 890, 1270},
        {"Japan2LPhoto", 1270, 1780},
        {"NorthAmericaLetterRotated", 2794, 2159},
        {"NorthAmericaLegalRotated", 3556, 2159},
        {"ISOA3Rotated", 4200, 2970},
        {"ISOA4Rotated", 2970, 2100},
        {"ISOA5Rotated", 2100, 1480},
        {"ISOA6Rotated", 1480, 1050},
    };
    for (const Sheet& sheet : sheets) {
        SCOPED_TRACE(sheet.keyword);
        auto converted
            = Convert(provider, MakeTicket(MediaSize(std::string("psk:") + sheet.keyword)), kPTDocumentScope);
        ASSERT_EQ(converted.result, S_OK);
        EXPECT_FALSE(converted.devMode.dmFields & DM_PAPERSIZE);
        EXPECT_EQ(converted.devMode.dmPaperWidth, sheet.width);
        EXPECT_EQ(converted.devMode.dmPaperLength, sheet.length);
    }
}

TEST_F(DevModeTicket, APrefixMayBeDeclaredOnTheFeatureOrOptionThatUsesIt)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string keywords = std::string("\"") + kPsk + "\"";
    const std::string body = "<psf:Feature xmlns:k=" + keywords
        + " name=\"k:PageOrientation\"><psf:Option name=\"k:Landscape\"/></psf:Feature>"
          "<psf:Feature name=\"psk:PageMediaSize\"><psf:Option xmlns:m="
        + keywords + " name=\"m:ISOA5\"/></psf:Feature>";
    auto converted = Convert(provider, MakeTicket(body), kPTDocumentScope);
    ASSERT_EQ(converted.result, S_OK);
    EXPECT_EQ(converted.devMode.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(converted.devMode.dmPaperSize, DMPAPER_A5);
}

TEST_F(DevModeTicket, PrefixesAreTheDocumentsOwn)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string body = "<a:Feature name=\"b:PageMediaSize\"><a:Option name=\"b:ISOA5\"/></a:Feature>"
                             "<a:Feature name=\"b:PageOutputColor\"><a:Option name=\"b:Grayscale\"/></a:Feature>";
    auto converted = Convert(provider, MakeTicket(body, "a", "b"), kPTDocumentScope);
    ASSERT_EQ(converted.result, S_OK);
    EXPECT_EQ(converted.devMode.dmPaperSize, DMPAPER_A5);
    EXPECT_EQ(converted.devMode.dmColor, DMCOLOR_MONOCHROME);

    // "psk:" bound to some other namespace is not the keywords namespace.
    std::string wrong = MakeTicket(MediaSize("psk:ISOA5"));
    wrong.replace(wrong.find(kPsk), std::strlen(kPsk), "urn:somebody-else");
    auto ignored = Convert(provider, wrong, kPTDocumentScope);
    ASSERT_EQ(ignored.result, S_OK);
    EXPECT_EQ(ignored.devMode.dmPaperSize, DMPAPER_LETTER);
}

TEST_F(DevModeTicket, JobCopiesOnlyInJobScope)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string ticket = MakeTicket(Pick("JobDuplexAllDocumentsContiguously", "TwoSidedLongEdge") + Copies(3));
    auto document = Convert(provider, ticket, kPTDocumentScope);
    ASSERT_EQ(document.result, S_OK);
    EXPECT_EQ(document.devMode.dmCopies, 1);
    EXPECT_EQ(document.devMode.dmDuplex, DMDUP_SIMPLEX);

    auto job = Convert(provider, ticket, kPTJobScope);
    ASSERT_EQ(job.result, S_OK);
    EXPECT_EQ(job.devMode.dmCopies, 3);
    EXPECT_EQ(job.devMode.dmDuplex, DMDUP_VERTICAL);

    // The spooler keeps copies within the printer's range, also past what 16 bits hold.
    for (const int asked : {5000, 32767, 32768, 40000, 65536 + 3}) {
        auto many = Convert(provider, MakeTicket(Copies(asked)), kPTJobScope);
        ASSERT_EQ(many.result, S_OK);
        EXPECT_EQ(many.devMode.dmCopies, 999) << asked;
    }
}

TEST_F(DevModeTicket, UnknownFeaturesAndOptionsAreIgnored)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string body = Pick("PageOrientation", "Landscape") + Pick("JobStapleAllDocuments", "StapleTopLeft")
        + Pick("PageOutputColor", "Sepia")
        + "<psf:Feature name=\"psk:PageNUp\"><psf:Option><psf:ScoredProperty name=\"psk:PagesPerSheet\">"
          "<psf:Value xsi:type=\"xsd:integer\">2</psf:Value></psf:ScoredProperty></psf:Option></psf:Feature>";
    auto converted = Convert(provider, MakeTicket(body), kPTJobScope);
    ASSERT_EQ(converted.result, S_OK);
    EXPECT_EQ(converted.devMode.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(converted.devMode.dmColor, DMCOLOR_COLOR);
}

TEST_F(DevModeTicket, BadTicketsFailWithAMessage)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string declaration = "<?xml version=\"1.0\"?>";
    const std::string cases[] = {
        "",
        "<psf:PrintTicket",
        "not xml at all",
        // Not a ticket: capabilities, the https spelling, a ticket without its version.
        MakeTicket("")
            .replace(MakeTicket("").find("PrintTicket"), 11, "PrintCapabilities")
            .replace(MakeTicket("").rfind("PrintTicket") + 6, 11, "PrintCapabilities"),
        "<psf:PrintTicket xmlns:psf=\"https://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
        "version=\"1\"/>",
        "<psf:PrintTicket xmlns:psf=\"" + std::string(kPsf) + "\"/>",
        // An undeclared prefix inside a name.
        MakeTicket("<psf:Feature name=\"zz:PageMediaSize\"/>"),
        // Entities are never expanded: a document type declaration is refused outright.
        declaration + "<!DOCTYPE t [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
            + MakeTicket("<psf:Feature name=\"psk:X&b;\"/>").substr(MakeTicket("").find('\n') + 1),
        declaration + "<!DOCTYPE t SYSTEM \"file:///etc/passwd\">"
            + MakeTicket("").substr(MakeTicket("").find('\n') + 1),
    };
    for (const std::string& ticket : cases) {
        SCOPED_TRACE(ticket);
        auto converted = Convert(provider, ticket, kPTDocumentScope);
        EXPECT_EQ(converted.result, E_PRINTTICKET_FORMAT);
        EXPECT_FALSE(converted.error.empty());
        EXPECT_EQ(converted.size, 0u);
    }

    // The error pointer is optional.
    IStream* stream = TextStream("<broken");
    ULONG size = 0;
    PDEVMODEW devMode = nullptr;
    EXPECT_EQ(api_.toDevMode(provider, stream, kUserDefaultDevmode, kPTJobScope, &size, &devMode, nullptr),
              E_PRINTTICKET_FORMAT);
    EXPECT_EQ(devMode, nullptr);
    stream->Release();
}

TEST_F(DevModeTicket, ADocumentTypeIsRefusedBeforeAnyDeclarationInItIsRead)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    const std::string body = MakeTicket("<psf:Feature name=\"psk:X&lol9;\"/>");
    const std::string ticket = body.substr(body.find('\n') + 1);
    std::string laughs = "<!ENTITY lol0 \"lol\">";
    for (int level = 1; level <= 9; ++level) {
        laughs += "<!ENTITY lol" + std::to_string(level) + " \"";
        for (int copy = 0; copy < 10; ++copy)
            laughs += "&lol" + std::to_string(level - 1) + ";";
        laughs += "\">";
    }
    const std::string cases[] = {
        // A billion laughs: nothing of it may be expanded, or even declared.
        "<!DOCTYPE t [" + laughs + "]>" + ticket,
        // A declaration the parser would reject: the document type is refused before it gets there.
        "<!DOCTYPE t [<!ENTITY broken>]>" + ticket,
        "<!DOCTYPE t SYSTEM \"file:///etc/passwd\">" + ticket,
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        auto converted = Convert(provider, text, kPTDocumentScope);
        EXPECT_EQ(converted.result, E_PRINTTICKET_FORMAT);
        EXPECT_EQ(converted.error, u"the ticket has a document type declaration, which tickets never have");
    }
}

TEST_F(DevModeTicket, OversizedTicketIsRefusedUnparsed)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    std::string ticket = MakeTicket("<!--" + std::string((16u << 20) + 1, '-').replace(0, 1, " ") + " -->");
    auto converted = Convert(provider, ticket, kPTJobScope);
    EXPECT_EQ(converted.result, E_PRINTTICKET_FORMAT);
    EXPECT_FALSE(converted.error.empty());
}

TEST_F(DevModeTicket, RoundTripKeepsTheSettings)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    std::vector<BYTE> buffer = DefaultDevMode(u"Quillon Office");
    auto* mode = reinterpret_cast<DEVMODEW*>(buffer.data());
    mode->dmPaperSize = DMPAPER_A5;
    mode->dmOrientation = DMORIENT_LANDSCAPE;
    mode->dmColor = DMCOLOR_MONOCHROME;
    mode->dmDuplex = DMDUP_HORIZONTAL;
    mode->dmCopies = 7;
    mode->dmCollate = DMCOLLATE_FALSE;

    auto back = Convert(provider, TicketOf(provider, buffer, kPTJobScope), kPTJobScope);
    ASSERT_EQ(back.result, S_OK);
    EXPECT_EQ(back.devMode.dmPaperSize, DMPAPER_A5);
    EXPECT_EQ(back.devMode.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(back.devMode.dmColor, DMCOLOR_MONOCHROME);
    EXPECT_EQ(back.devMode.dmDuplex, DMDUP_HORIZONTAL);
    EXPECT_EQ(back.devMode.dmCopies, 7);
    EXPECT_EQ(back.devMode.dmCollate, DMCOLLATE_FALSE);

    // A custom sheet goes out as CustomMediaSize with parameters and comes back the same.
    mode->dmFields = (mode->dmFields & ~DM_PAPERSIZE) | DM_PAPERWIDTH | DM_PAPERLENGTH;
    mode->dmPaperWidth = 1900;
    mode->dmPaperLength = 2600;
    const std::string ticket = TicketOf(provider, buffer, kPTPageScope);
    XmlDoc doc(ticket);
    EXPECT_EQ(doc.String("/psf:PrintTicket/psf:Feature[@name='psk:PageMediaSize']/psf:Option/@name"),
              "psk:CustomMediaSize");
    EXPECT_EQ(doc.Number("/psf:PrintTicket/psf:ParameterInit[@name='psk:PageMediaSizeMediaSizeWidth']/psf:Value"),
              190000);
    auto custom = Convert(provider, ticket, kPTPageScope);
    ASSERT_EQ(custom.result, S_OK);
    EXPECT_FALSE(custom.devMode.dmFields & DM_PAPERSIZE);
    EXPECT_EQ(custom.devMode.dmPaperWidth, 1900);
    EXPECT_EQ(custom.devMode.dmPaperLength, 2600);
}

TEST_F(DevModeTicket, APrinterWithSeveralResolutionsOffersEachAndATicketPicksOne)
{
    InstallPrinter("fine.printer",
                   "[printer]\nname = Quillon Fine\nresolution = 600 300 1200\ndefault-paper = 9\n"
                   "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n");
    HPTPROVIDER provider = Open(u"Quillon Fine");
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(api_.capabilities(provider, nullptr, stream, nullptr), S_OK);
    const XmlDoc capabilities(StreamText(stream));
    stream->Release();
    const std::string options = "/psf:PrintCapabilities/psf:Feature[@name='psk:PageResolution']/psf:Option";
    ASSERT_EQ(capabilities.Number("count(" + options + ")"), 3);
    EXPECT_EQ(capabilities.String(options + "[1]/@name"), "ns0000:Resolution600");
    EXPECT_EQ(capabilities.String(options + "[3]/@name"), "ns0000:Resolution1200");
    EXPECT_EQ(capabilities.Number(options + "[2]/psf:ScoredProperty[@name='psk:ResolutionY']/psf:Value"), 300);

    const std::string chosen = "/psf:PrintTicket/psf:Feature[@name='psk:PageResolution']/psf:Option";
    std::vector<BYTE> devMode = DefaultDevMode(u"Quillon Fine");
    EXPECT_EQ(XmlDoc(TicketOf(provider, devMode, kPTJobScope)).String(chosen + "/@name"), "ns0000:Resolution600");

    // An option of ours names its resolution; the ticket of the result names the same option.
    const auto byName
        = Convert(provider,
                  MakeTicket("<psf:Feature name=\"psk:PageResolution\"><psf:Option name=\"ns0000:Resolution1200\" "
                             "xmlns:ns0000=\""
                             + std::string(kPrivate) + "\"/></psf:Feature>"),
                  kPTJobScope);
    ASSERT_EQ(byName.result, S_OK);
    EXPECT_EQ(byName.devMode.dmPrintQuality, 1200);
    auto* mode = reinterpret_cast<DEVMODEW*>(devMode.data());
    mode->dmPrintQuality = 1200;
    const XmlDoc back(TicketOf(provider, devMode, kPTJobScope));
    EXPECT_EQ(back.String(chosen + "/@name"), "ns0000:Resolution1200");
    EXPECT_EQ(back.Number(chosen + "/psf:ScoredProperty[@name='psk:ResolutionX']/psf:Value"), 1200);
    // A resolution the printer lacks is named after the closest one it has.
    mode->dmPrintQuality = 400;
    EXPECT_EQ(XmlDoc(TicketOf(provider, devMode, kPTJobScope)).String(chosen + "/@name"), "ns0000:Resolution300");
}

TEST_F(DevModeTicket, PrinterRemovedAfterOpening)
{
    HPTPROVIDER provider = Open(u"Quillon Photo");
    std::filesystem::remove(std::filesystem::path(platform::PrinterFolder()) / "quillon-photo.printer");
    auto converted = Convert(provider, MakeTicket(""), kPTJobScope);
    EXPECT_TRUE(FAILED(converted.result));
    EXPECT_FALSE(converted.error.empty());
}

} // namespace
} // namespace prntvpt_test

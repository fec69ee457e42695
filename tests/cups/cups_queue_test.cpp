// A CUPS queue described through the spooler and the Print Schema provider, against a private CUPS
// server whose queue TestQ stands in front of a virtual IPP Everywhere photo printer.
#include "platform/spooler/devmode.h"
#include "tests/cups/cups_stack.h"
#include "tests/platform/spooler_test_root.h"
#include "tests/prntvpt/provider_test_support.h"

#include <gmock/gmock.h>

#include <array>

using ::testing::HasSubstr;
using namespace prntvpt_test;
using cups_test::CupsStack;

namespace {

class CupsQueue : public ProviderTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stack_.Up()) << stack_.Log();
        ProviderTest::SetUp();
    }

    static LPWSTR Queue() { return const_cast<LPWSTR>(u"TestQ"); }

    std::string Capabilities()
    {
        IStream* stream = nullptr;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        EXPECT_EQ(api_.capabilities(Open(u"TestQ"), nullptr, stream, nullptr), S_OK);
        std::string text = StreamText(stream);
        stream->Release();
        return text;
    }

    CupsStack stack_;
};

TEST_F(CupsQueue, TheSpoolerListsTheQueuesPapersResolutionAndFeatures)
{
    const int count = DeviceCapabilitiesW(Queue(), nullptr, DC_PAPERS, nullptr, nullptr);
    ASSERT_EQ(count, 11);
    std::vector<WORD> numbers(count);
    std::vector<std::array<WCHAR, 64>> names(count);
    std::vector<POINT> sizes(count);
    DeviceCapabilitiesW(Queue(), nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(numbers.data()), nullptr);
    DeviceCapabilitiesW(Queue(), nullptr, DC_PAPERNAMES, reinterpret_cast<LPWSTR>(names.data()), nullptr);
    DeviceCapabilitiesW(Queue(), nullptr, DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()), nullptr);
    std::string listed;
    for (int i = 0; i < count; ++i) {
        listed += platform::Utf16ToUtf8(names[i].data()) + " #"
            + (numbers[i] >= 256 ? "drv" : std::to_string(numbers[i])) + " " + std::to_string(sizes[i].x) + "x"
            + std::to_string(sizes[i].y) + "\n";
    }
    // In the order CUPS lists the sheets.
    EXPECT_EQ(listed, R"(3.5x5 #drv 889x1270
3x5 #drv 762x1270
4x6 #drv 1016x1524
5x7 #drv 1270x1778
A4 #9 2100x2970
A5 #11 1480x2100
A6 #70 1050x1480
Envelope #10 #20 1048x2413
Envelope DL #27 1100x2200
Legal #5 2159x3556
Letter #1 2159x2794
)");
    LONG resolution[2] = {};
    EXPECT_EQ(DeviceCapabilitiesW(Queue(), nullptr, DC_ENUMRESOLUTIONS, reinterpret_cast<LPWSTR>(resolution), nullptr),
              1);
    EXPECT_EQ(resolution[0], 600);
    EXPECT_EQ(resolution[1], 600);
    EXPECT_EQ(DeviceCapabilitiesW(Queue(), nullptr, DC_DUPLEX, nullptr, nullptr), 1);
    EXPECT_EQ(DeviceCapabilitiesW(Queue(), nullptr, DC_COLORDEVICE, nullptr, nullptr), 1);
    EXPECT_EQ(DeviceCapabilitiesW(Queue(), nullptr, DC_COPIES, nullptr, nullptr), 9999);

    // The queue's sheets carry their margins: the photo sizes none, Letter the printer's own.
    const std::optional<platform::PrinterDefinition> printer = platform::FindPrinter(u"TestQ");
    ASSERT_TRUE(printer);
    EXPECT_EQ(printer->Source(), platform::PrinterSource::Cups);
    EXPECT_TRUE(printer->Papers()[2].IsBorderless());
    const platform::PaperDefinition& letter = printer->DefaultPaper();
    EXPECT_EQ(letter.name, u"Letter");
    EXPECT_EQ((std::array{letter.marginLeft, letter.marginTop, letter.marginRight, letter.marginBottom}),
              (std::array{6350, 1020, 6350, 11680}));
}

TEST_F(CupsQueue, TheCapabilitiesDocumentDescribesTheQueue)
{
    const XmlDoc doc(Capabilities());
    ASSERT_TRUE(doc.WellFormed());
    const std::string feature = "/psf:PrintCapabilities/psf:Feature[@name='psk:";
    const std::string photo = feature + "PageMediaSize']/psf:Option[@name='psk:NorthAmerica4x6']";
    EXPECT_EQ(doc.String(photo + "/psf:Property[@name='psk:DisplayName']/psf:Value"), "4x6");
    EXPECT_EQ(doc.String(photo + "/psf:Property[@name='ns0000:Borderless']/psf:Value"), "true");
    EXPECT_EQ(doc.Number(photo + "/psf:ScoredProperty[@name='psk:MediaSizeWidth']/psf:Value"), 101600);
    EXPECT_EQ(doc.Number(photo + "/psf:ScoredProperty[@name='psk:MediaSizeHeight']/psf:Value"), 152400);
    for (const char* keyword : {"ISOA4", "ISOA5", "ISOA6", "NorthAmericaLetter", "NorthAmericaLegal",
                                "NorthAmericaNumber10Envelope", "ISODLEnvelope", "NorthAmerica5x7", "JapanLPhoto"}) {
        SCOPED_TRACE(keyword);
        EXPECT_EQ(doc.Number("count(" + feature + "PageMediaSize']/psf:Option[@name='psk:" + keyword + "'])"), 1);
    }
    EXPECT_EQ(doc.Number("count(" + feature + "PageMediaSize']/psf:Option)"), 12); // with the custom size
    EXPECT_EQ(doc.String(feature + "PageResolution']/psf:Option/@name"), "ns0000:Resolution600");
    EXPECT_EQ(doc.Number("count(" + feature + "PageResolution']/psf:Option)"), 1);
    EXPECT_EQ(doc.Number("count(" + feature + "JobDuplexAllDocumentsContiguously']/psf:Option)"), 3);
    EXPECT_EQ(doc.Number("count(" + feature
                         + "PageOutputColor']/psf:Option[@name='psk:Color' or "
                           "@name='psk:Grayscale'])"),
              2);
    EXPECT_EQ(doc.Number("count(" + feature + "PageBorderless']/psf:Option)"), 2);
    const std::string copies = "/psf:PrintCapabilities/psf:ParameterDef[@name='psk:JobCopiesAllDocuments']";
    EXPECT_EQ(doc.Number(copies + "/psf:Property[@name='psf:MinValue']/psf:Value"), 1);
    EXPECT_EQ(doc.Number(copies + "/psf:Property[@name='psf:MaxValue']/psf:Value"), 9999);
    // The default Letter sheet's printable area, from the queue's margins.
    const std::string area = "/psf:PrintCapabilities/psf:Property[@name='psk:PageImageableSize']/psf:Property[@name="
                             "'psk:ImageableArea']/psf:Property[@name='psk:";
    EXPECT_EQ(doc.Number(area + "OriginWidth']/psf:Value"), 6350);
    EXPECT_EQ(doc.Number(area + "OriginHeight']/psf:Value"), 1020);
    EXPECT_EQ(doc.Number(area + "ExtentWidth']/psf:Value"), 203200);
    EXPECT_EQ(doc.Number(area + "ExtentHeight']/psf:Value"), 266700);
}

TEST_F(CupsQueue, TheDefaultTicketIsTheQueuesDefaults)
{
    std::vector<BYTE> devMode = DefaultDevMode(u"TestQ");
    const XmlDoc ticket(TicketOf(Open(u"TestQ"), devMode, kPTJobScope));
    const std::string option = "/psf:PrintTicket/psf:Feature[@name='psk:%']/psf:Option/@name";
    auto chosen = [&](const std::string& feature) {
        std::string path = option;
        path.replace(path.find('%'), 1, feature);
        return ticket.String(path);
    };
    EXPECT_EQ(chosen("PageMediaSize"), "psk:NorthAmericaLetter");
    EXPECT_EQ(chosen("PageOutputColor"), "psk:Color");
    EXPECT_EQ(chosen("JobDuplexAllDocumentsContiguously"), "psk:OneSided");
    EXPECT_EQ(chosen("PageResolution"), "ns0000:Resolution600");
    EXPECT_EQ(chosen("PageBorderless"), "psk:None");
    EXPECT_EQ(chosen("PageOrientation"), "psk:Portrait");
    EXPECT_EQ(ticket.Number("/psf:PrintTicket/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value"), 1);
}

TEST_F(CupsQueue, ATicketBecomesADeviceModeAndTheDeviceModeTheSameTicket)
{
    HPTPROVIDER provider = Open(u"TestQ");
    const std::string asked = MakeTicket(
        "<psf:Feature name=\"psk:PageMediaSize\"><psf:Option name=\"psk:NorthAmerica4x6\"/></psf:Feature>"
        "<psf:Feature name=\"psk:PageOutputColor\"><psf:Option name=\"psk:Grayscale\"/></psf:Feature>"
        "<psf:Feature name=\"psk:JobDuplexAllDocumentsContiguously\"><psf:Option name=\"psk:TwoSidedShortEdge\"/>"
        "</psf:Feature><psf:ParameterInit name=\"psk:JobCopiesAllDocuments\"><psf:Value xsi:type=\"xsd:integer\">3"
        "</psf:Value></psf:ParameterInit>");
    const Converted converted = Convert(provider, asked, kPTJobScope);
    ASSERT_EQ(converted.result, S_OK);
    const DEVMODEW& mode = converted.devMode;
    EXPECT_GE(mode.dmPaperSize, 256);
    EXPECT_EQ(mode.dmPaperWidth, 1016);
    EXPECT_EQ(mode.dmPaperLength, 1524);
    EXPECT_EQ(std::u16string(mode.dmFormName), u"4x6");
    EXPECT_EQ(mode.dmColor, DMCOLOR_MONOCHROME);
    EXPECT_EQ(mode.dmDuplex, DMDUP_HORIZONTAL);
    EXPECT_EQ(mode.dmCopies, 3);
    EXPECT_EQ(mode.dmPrintQuality, 600);

    // The spooler completes it, as it does for a job, and the provider reads it back.
    DEVMODEW publicPart = mode;
    publicPart.dmDriverExtra = 0;
    platform::spooler::FullDevMode full{};
    ASSERT_EQ(DocumentPropertiesW(nullptr, nullptr, Queue(), &full.devMode, &publicPart, DM_IN_BUFFER | DM_OUT_BUFFER),
              IDOK);
    EXPECT_EQ(full.extra.marginLeft, 0);
    EXPECT_EQ(full.extra.marginBottom, 0);
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(&full), reinterpret_cast<const BYTE*>(&full) + sizeof full);
    const XmlDoc back(TicketOf(provider, bytes, kPTJobScope));
    const std::string feature = "/psf:PrintTicket/psf:Feature[@name='psk:";
    EXPECT_EQ(back.String(feature + "PageMediaSize']/psf:Option/@name"), "psk:NorthAmerica4x6");
    EXPECT_EQ(back.String(feature + "PageBorderless']/psf:Option/@name"), "psk:Borderless");
    EXPECT_EQ(back.String(feature + "PageOutputColor']/psf:Option/@name"), "psk:Grayscale");
    EXPECT_EQ(back.String(feature + "JobDuplexAllDocumentsContiguously']/psf:Option/@name"), "psk:TwoSidedShortEdge");
    EXPECT_EQ(back.Number("/psf:PrintTicket/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value"), 3);
}

TEST_F(CupsQueue, AVirtualPrinterOfTheSameNameIsThePrinter)
{
    InstallPrinter("testq.printer", MinimalPrinter("TestQ"));
    ::testing::internal::CaptureStderr();
    std::vector<std::u16string> names;
    for (const platform::PrinterDefinition& printer : platform::InstalledPrinters())
        names.push_back(printer.Name());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Quillon Office", u"Quillon Photo", u"TestQ"}));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("the CUPS queue TestQ is hidden by the virtual printer of the same name"));
    const std::optional<platform::PrinterDefinition> printer = platform::FindPrinter(u"TestQ");
    ASSERT_TRUE(printer);
    EXPECT_EQ(printer->Source(), platform::PrinterSource::File);
    EXPECT_EQ(printer->Papers().size(), 1u);
    // Without the file the queue is the printer again.
    std::filesystem::remove(root_.Path() / "etc/quillon/printers/testq.printer");
    EXPECT_EQ(platform::FindPrinter(u"TestQ")->Source(), platform::PrinterSource::Cups);
    EXPECT_FALSE(platform::FindPrinter(u"testq"));
}

} // namespace

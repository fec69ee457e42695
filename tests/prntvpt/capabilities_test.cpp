// PrintCapabilities documents of the sample printers, parsed back and checked by namespace.
#include "provider_test_support.h"

namespace prntvpt_test {
namespace {

class Capabilities : public ProviderTest {
protected:
    std::string Document(const std::u16string& printer)
    {
        HPTPROVIDER provider = Open(printer);
        IStream* stream = nullptr;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        BSTR error = nullptr;
        EXPECT_EQ(api_.capabilities(provider, nullptr, stream, &error), S_OK);
        EXPECT_EQ(error, nullptr);
        std::string text = StreamText(stream);
        stream->Release();
        return text;
    }
};

std::string MediaOption(const std::string& option)
{
    return "/psf:PrintCapabilities/psf:Feature[@name='psk:PageMediaSize']/psf:Option[@name='" + option + "']";
}

double Microns(const XmlDoc& doc, const std::string& option, const char* property)
{
    return doc.Number(MediaOption(option) + "/psf:ScoredProperty[@name='psk:" + property + "']/psf:Value");
}

TEST_F(Capabilities, OfficePrinter)
{
    const std::string text = Document(u"Quillon Office");
    ASSERT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    XmlDoc doc(text);
    ASSERT_TRUE(doc.WellFormed());
    EXPECT_EQ(doc.String("/psf:PrintCapabilities/@version"), "1");

    struct Paper {
        const char* option;
        double width;
        double height;
        const char* name;
    };
    for (const Paper& paper : {Paper{"psk:NorthAmericaLetter", 215900, 279400, "Letter"},
                               Paper{"psk:NorthAmericaLegal", 215900, 355600, "Legal"},
                               Paper{"psk:ISOA4", 210000, 297000, "A4"}, Paper{"psk:ISOA5", 148000, 210000, "A5"}}) {
        SCOPED_TRACE(paper.option);
        EXPECT_EQ(Microns(doc, paper.option, "MediaSizeWidth"), paper.width);
        EXPECT_EQ(Microns(doc, paper.option, "MediaSizeHeight"), paper.height);
        EXPECT_EQ(doc.String(MediaOption(paper.option) + "/psf:Property[@name='psk:DisplayName']/psf:Value"),
                  paper.name);
    }
    // Four papers and the custom size, whose sizes are parameters.
    EXPECT_EQ(doc.Number("count(/psf:PrintCapabilities/psf:Feature[@name='psk:PageMediaSize']/psf:Option)"), 5);
    EXPECT_EQ(doc.String(MediaOption("psk:CustomMediaSize")
                         + "/psf:ScoredProperty[@name='psk:MediaSizeWidth']/psf:ParameterRef/@name"),
              "psk:PageMediaSizeMediaSizeWidth");

    // Every feature is a PickOne choice with a display name and something to pick; copies are a
    // parameter, not a feature.
    const double features = doc.Number("count(/psf:PrintCapabilities/psf:Feature)");
    EXPECT_EQ(features, 6); // no borderless feature: no paper of this printer lacks margins
    EXPECT_EQ(doc.Number("count(/psf:PrintCapabilities/psf:Feature[psf:Option])"), features);
    EXPECT_EQ(doc.Number("count(/psf:PrintCapabilities/psf:Feature[psf:Property[@name='psf:SelectionType']/psf:Value="
                         "'psk:PickOne'][psf:Property[@name='psk:DisplayName']])"),
              features);

    const std::string copies = "/psf:PrintCapabilities/psf:ParameterDef[@name='psk:JobCopiesAllDocuments']";
    EXPECT_EQ(doc.Number(copies + "/psf:Property[@name='psf:MinValue']/psf:Value"), 1);
    EXPECT_EQ(doc.Number(copies + "/psf:Property[@name='psf:MaxValue']/psf:Value"), 999);
    EXPECT_EQ(doc.Number(copies + "/psf:Property[@name='psf:DefaultValue']/psf:Value"), 1);
    EXPECT_EQ(doc.String(copies + "/psf:Property[@name='psf:DataType']/psf:Value"), "xsd:integer");
    EXPECT_EQ(doc.String(copies + "/psf:Property[@name='psf:UnitType']/psf:Value"), "copies");
    EXPECT_EQ(doc.String(copies + "/psf:Property[@name='psf:Mandatory']/psf:Value"), "psk:Unconditional");

    const std::string feature = "/psf:PrintCapabilities/psf:Feature[@name='psk:";
    EXPECT_EQ(doc.Number("count(" + feature + "JobDuplexAllDocumentsContiguously']/psf:Option)"), 3);
    EXPECT_EQ(
        doc.Number("count(" + feature + "PageOutputColor']/psf:Option[@name='psk:Color' or @name='psk:Grayscale'])"),
        2);
    EXPECT_EQ(doc.Number("count(" + feature + "PageOrientation']/psf:Option)"), 2);
    EXPECT_EQ(doc.Number("count(" + feature + "DocumentCollate']/psf:Option)"), 2);
    EXPECT_EQ(doc.Number(feature + "PageResolution']/psf:Option/psf:ScoredProperty[@name='psk:ResolutionX']/psf:Value"),
              600);
    // No paper of this printer is borderless.
    EXPECT_EQ(doc.Number("count(" + feature + "PageBorderless'])"), 0);
    // Imageable area of the default Letter paper with its 4.23 mm margins.
    EXPECT_EQ(doc.Number("/psf:PrintCapabilities/psf:Property[@name='psk:PageImageableSize']/psf:Property[@name="
                         "'psk:ImageableArea']/psf:Property[@name='psk:OriginWidth']/psf:Value"),
              4230);
}

TEST_F(Capabilities, PhotoPrinterNamesTheSecondPaperOfASizeItself)
{
    XmlDoc doc(Document(u"Quillon Photo"));
    ASSERT_TRUE(doc.WellFormed());
    EXPECT_EQ(Microns(doc, "psk:NorthAmerica4x6", "MediaSizeWidth"), 101600);
    EXPECT_EQ(Microns(doc, "psk:NorthAmerica4x6", "MediaSizeHeight"), 152400);
    EXPECT_EQ(Microns(doc, "ns0000:Paper257", "MediaSizeWidth"), 101600);
    EXPECT_EQ(Microns(doc, "ns0000:Paper257", "MediaSizeHeight"), 152400);
    EXPECT_EQ(doc.String(MediaOption("ns0000:Paper257") + "/psf:Property[@name='psk:DisplayName']/psf:Value"),
              "4x6 Borderless");
    EXPECT_EQ(doc.String(MediaOption("ns0000:Paper257") + "/psf:Property[@name='ns0000:Borderless']/psf:Value"),
              "true");
    EXPECT_EQ(doc.Number("count(" + MediaOption("psk:NorthAmerica4x6") + "/psf:Property[@name='ns0000:Borderless'])"),
              0);
    EXPECT_EQ(Microns(doc, "psk:NorthAmerica5x7", "MediaSizeWidth"), 127000);
    EXPECT_EQ(Microns(doc, "psk:NorthAmerica5x7", "MediaSizeHeight"), 177800);
    EXPECT_EQ(Microns(doc, "ns0000:Paper259", "MediaSizeHeight"), 177800);
    EXPECT_EQ(Microns(doc, "psk:NorthAmericaLetter", "MediaSizeWidth"), 215900);
    // Every option name in the feature is distinct.
    EXPECT_EQ(doc.Number("count(/psf:PrintCapabilities/psf:Feature[@name='psk:PageMediaSize']/psf:Option)"), 6);

    const std::string feature = "/psf:PrintCapabilities/psf:Feature[@name='psk:";
    EXPECT_EQ(doc.Number("count(" + feature + "JobDuplexAllDocumentsContiguously'])"), 0);
    EXPECT_EQ(doc.Number("count(" + feature + "PageBorderless']/psf:Option)"), 2);
    EXPECT_EQ(
        doc.Number("/psf:PrintCapabilities/psf:ParameterDef[@name='psk:JobCopiesAllDocuments']/psf:Property[@name="
                   "'psf:MaxValue']/psf:Value"),
        99);
}

TEST_F(Capabilities, EveryDefaultLiesWithinItsOwnRange)
{
    InstallPrinter("ranged.printer",
                   "[printer]\nname = Quillon Ranged\nresolution = 300\ndefault-paper = 9\n"
                   "copies = 2-10\n[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 5\n"
                   "[paper 11]\nname = A5\nsize = 148 x 210\nmargins = 5\n");
    for (const std::u16string printer : {u"Quillon Ranged", u"Quillon Office", u"Quillon Photo"}) {
        XmlDoc doc(Document(printer));
        ASSERT_TRUE(doc.WellFormed());
        const std::string definitions = "/psf:PrintCapabilities/psf:ParameterDef";
        const double count = doc.Number("count(" + definitions + ")");
        EXPECT_EQ(count, 3);
        for (int i = 1; i <= count; ++i) {
            const std::string definition = definitions + "[" + std::to_string(i) + "]";
            SCOPED_TRACE(doc.String(definition + "/@name"));
            const auto value = [&](const char* property) {
                return doc.Number(definition + "/psf:Property[@name='psf:" + property + "']/psf:Value");
            };
            EXPECT_LE(value("MinValue"), value("DefaultValue"));
            EXPECT_LE(value("DefaultValue"), value("MaxValue"));
        }
    }
    XmlDoc ranged(Document(u"Quillon Ranged"));
    const std::string copies = "/psf:PrintCapabilities/psf:ParameterDef[@name='psk:JobCopiesAllDocuments']";
    EXPECT_EQ(ranged.Number(copies + "/psf:Property[@name='psf:MinValue']/psf:Value"), 2);
    EXPECT_EQ(ranged.Number(copies + "/psf:Property[@name='psf:DefaultValue']/psf:Value"), 2);
    EXPECT_EQ(ranged.Number(copies + "/psf:Property[@name='psf:MaxValue']/psf:Value"), 10);
    const std::string width = "/psf:PrintCapabilities/psf:ParameterDef[@name='psk:PageMediaSizeMediaSizeWidth']";
    EXPECT_EQ(ranged.Number(width + "/psf:Property[@name='psf:DefaultValue']/psf:Value"), 210000);
}

TEST_F(Capabilities, ImageableAreaOfTheDefaultPaperWithFourDifferentMargins)
{
    InstallPrinter("margins.printer",
                   "[printer]\nname = Quillon Margins\nresolution = 300\ndefault-paper = 9\n"
                   "[paper 9]\nname = A4\nsize = 210 x 297\nmargins = 1 2 3 4.5\n");
    XmlDoc doc(Document(u"Quillon Margins"));
    ASSERT_TRUE(doc.WellFormed());
    const std::string size = "/psf:PrintCapabilities/psf:Property[@name='psk:PageImageableSize']";
    const std::string area = size + "/psf:Property[@name='psk:ImageableArea']";
    const auto value = [&](const std::string& property, const char* name) {
        return doc.Number(property + "/psf:Property[@name='psk:" + name + "']/psf:Value");
    };
    EXPECT_EQ(value(size, "ImageableSizeWidth"), 210000);
    EXPECT_EQ(value(size, "ImageableSizeHeight"), 297000);
    EXPECT_EQ(value(area, "OriginWidth"), 1000);
    EXPECT_EQ(value(area, "OriginHeight"), 2000);
    EXPECT_EQ(value(area, "ExtentWidth"), 210000 - 1000 - 3000);
    EXPECT_EQ(value(area, "ExtentHeight"), 297000 - 2000 - 4500);
}

TEST_F(Capabilities, BaseTicketMustBeATicket)
{
    HPTPROVIDER provider = Open(u"Quillon Office");
    for (const std::string& bad :
         {std::string("<not xml"), std::string("<a/>"),
          // The https spelling is another namespace, not the framework's.
          std::string("<psf:PrintTicket xmlns:psf=\"https://schemas.microsoft.com/windows/2003/08/"
                      "printing/printschemaframework\" version=\"1\"/>")}) {
        IStream* base = TextStream(bad);
        IStream* out = TextStream("");
        BSTR error = nullptr;
        EXPECT_EQ(api_.capabilities(provider, base, out, &error), E_PRINTTICKET_FORMAT) << bad;
        ASSERT_NE(error, nullptr);
        EXPECT_GT(SysStringLen(error), 0u);
        SysFreeString(error);
        base->Release();
        out->Release();
    }
    IStream* base = TextStream(MakeTicket(""));
    IStream* out = TextStream("");
    EXPECT_EQ(api_.capabilities(provider, base, out, nullptr), S_OK);
    EXPECT_TRUE(XmlDoc(StreamText(out)).WellFormed());
    base->Release();
    out->Release();
}

} // namespace
} // namespace prntvpt_test

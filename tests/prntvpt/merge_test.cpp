// Merging a delta ticket into a base ticket, validated against the printer.
#include "provider_test_support.h"

namespace prntvpt_test {
namespace {

class Merge : public ProviderTest {
protected:
    struct Merged {
        HRESULT result = E_FAIL;
        std::string ticket;
    };
    Merged Run(const std::u16string& printer, const std::string& base, const std::string& delta,
               EPrintTicketScope scope)
    {
        HPTPROVIDER provider = Open(printer);
        IStream* baseStream = TextStream(base);
        IStream* deltaStream = TextStream(delta);
        IStream* result = TextStream("");
        BSTR error = nullptr;
        Merged merged;
        merged.result = api_.merge(provider, baseStream, deltaStream, scope, result, &error);
        merged.ticket = StreamText(result);
        SysFreeString(error);
        baseStream->Release();
        deltaStream->Release();
        result->Release();
        return merged;
    }
};

std::string Pick(const std::string& feature, const std::string& option)
{
    return "<psf:Feature name=\"psk:" + feature + "\"><psf:Option name=\"psk:" + option + "\"/></psf:Feature>";
}

std::string Option(const XmlDoc& doc, const std::string& feature)
{
    return doc.String("/psf:PrintTicket/psf:Feature[@name='psk:" + feature + "']/psf:Option/@name");
}

TEST_F(Merge, DeltaReplacesBaseFeatures)
{
    const std::string base
        = MakeTicket(Pick("PageMediaSize", "NorthAmericaLetter") + Pick("PageOrientation", "Portrait")
                     + Pick("JobStapleAllDocuments", "StapleTopLeft"));
    // The delta spells its namespaces with other prefixes.
    const std::string delta
        = MakeTicket("<f:Feature name=\"k:PageMediaSize\"><f:Option name=\"k:ISOA4\"/></f:Feature>", "f", "k");
    Merged merged = Run(u"Quillon Office", base, delta, kPTJobScope);
    EXPECT_EQ(merged.result, S_PT_NO_CONFLICT);
    XmlDoc doc(merged.ticket);
    ASSERT_TRUE(doc.WellFormed());
    EXPECT_EQ(Option(doc, "PageMediaSize"), "psk:ISOA4");
    EXPECT_EQ(Option(doc, "PageOrientation"), "psk:Portrait");
    EXPECT_EQ(Option(doc, "JobStapleAllDocuments"), "psk:StapleTopLeft"); // unknown features pass through
}

TEST_F(Merge, OptionsThePrinterLacksTakeTheDefault)
{
    const std::string base = MakeTicket(Pick("PageMediaSize", "ISOA4"));
    const std::string delta
        = MakeTicket(Pick("PageMediaSize", "ISOA3") + Pick("JobDuplexAllDocumentsContiguously", "TwoSidedLongEdge")
                     + "<psf:ParameterInit name=\"psk:JobCopiesAllDocuments\"><psf:Value "
                       "xsi:type=\"xsd:integer\">500</psf:Value></psf:ParameterInit>");
    Merged merged = Run(u"Quillon Photo", base, delta, kPTJobScope);
    EXPECT_EQ(merged.result, S_PT_CONFLICT_RESOLVED);
    XmlDoc doc(merged.ticket);
    EXPECT_EQ(Option(doc, "PageMediaSize"), "psk:NorthAmericaLetter"); // the photo printer's default paper
    EXPECT_EQ(doc.Number("count(//psf:Feature[@name='psk:JobDuplexAllDocumentsContiguously'])"), 0);
    EXPECT_EQ(doc.Number("/psf:PrintTicket/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value"), 99);
}

TEST_F(Merge, CopiesThatAreNoNumberBecomeThePrintersSmallest)
{
    InstallPrinter("ranged.printer",
                   "[printer]\nname = Quillon Ranged\nresolution = 300\ndefault-paper = 9\n"
                   "copies = 2-10\n[paper 9]\nname = A4\nsize = 210 x 297\n");
    const std::string copies = "/psf:PrintTicket/psf:ParameterInit[@name='psk:JobCopiesAllDocuments']/psf:Value";
    for (const char* value : {"many", "", "1", "-5"}) {
        SCOPED_TRACE(value);
        const std::string delta = MakeTicket("<psf:ParameterInit name=\"psk:JobCopiesAllDocuments\"><psf:Value "
                                             "xsi:type=\"xsd:integer\">"
                                             + std::string(value) + "</psf:Value></psf:ParameterInit>");
        Merged merged = Run(u"Quillon Ranged", MakeTicket(""), delta, kPTJobScope);
        EXPECT_EQ(merged.result, S_PT_CONFLICT_RESOLVED);
        EXPECT_EQ(XmlDoc(merged.ticket).Number(copies), 2);
    }
}

TEST_F(Merge, CustomSizeOutOfRangeIsResolved)
{
    const std::string custom
        = "<psf:Feature name=\"psk:PageMediaSize\"><psf:Option name=\"psk:CustomMediaSize\"/></psf:Feature>"
          "<psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeWidth\"><psf:Value "
          "xsi:type=\"xsd:integer\">WIDTH</psf:Value>"
          "</psf:ParameterInit><psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeHeight\"><psf:Value "
          "xsi:type=\"xsd:integer\">250000</psf:Value></psf:ParameterInit>";
    std::string fits = custom;
    fits.replace(fits.find("WIDTH"), 5, "180000");
    EXPECT_EQ(Run(u"Quillon Office", MakeTicket(""), MakeTicket(fits), kPTJobScope).result, S_PT_NO_CONFLICT);

    std::string huge = custom;
    huge.replace(huge.find("WIDTH"), 5, "9000000");
    Merged merged = Run(u"Quillon Office", MakeTicket(""), MakeTicket(huge), kPTJobScope);
    EXPECT_EQ(merged.result, S_PT_CONFLICT_RESOLVED);
    XmlDoc doc(merged.ticket);
    EXPECT_EQ(Option(doc, "PageMediaSize"), "psk:NorthAmericaLetter");
    EXPECT_EQ(doc.Number("count(//psf:ParameterInit[@name='psk:PageMediaSizeMediaSizeWidth'])"), 0);
}

TEST_F(Merge, ScopeLimitsTheResult)
{
    const std::string base = MakeTicket(Pick("JobDuplexAllDocumentsContiguously", "OneSided")
                                        + Pick("DocumentCollate", "Collated") + Pick("PageOrientation", "Portrait"));
    const std::string delta = MakeTicket(Pick("DocumentCollate", "Uncollated") + Pick("PageOrientation", "Landscape"));
    Merged merged = Run(u"Quillon Office", base, delta, kPTPageScope);
    EXPECT_EQ(merged.result, S_PT_NO_CONFLICT);
    XmlDoc doc(merged.ticket);
    EXPECT_EQ(Option(doc, "PageOrientation"), "psk:Landscape");
    EXPECT_EQ(doc.Number("count(/psf:PrintTicket/psf:Feature)"), 1);
}

TEST_F(Merge, BadBaseOrDelta)
{
    EXPECT_EQ(Run(u"Quillon Office", "<nope", MakeTicket(""), kPTJobScope).result, E_PRINTTICKET_FORMAT);
    Merged badDelta = Run(u"Quillon Office", MakeTicket(""), "<psf:PrintTicket/>", kPTJobScope);
    EXPECT_EQ(badDelta.result, E_DELTA_PRINTTICKET_FORMAT);
    EXPECT_EQ(badDelta.ticket, ""); // nothing is written on failure
}

} // namespace
} // namespace prntvpt_test

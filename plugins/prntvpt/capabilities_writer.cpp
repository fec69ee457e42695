// The PrintCapabilities document: one feature per setting the printer offers, each a PickOne
// choice with display names, the parameters' definitions, and the imageable area of the default
// paper.
#include "plugins/prntvpt/capabilities_writer.h"

#include "platform/kernel/host.h"
#include "plugins/prntvpt/xml_writer.h"

#include <string_view>

namespace prntvpt {
namespace {

struct OptionText {
    std::string_view keyword;
    std::string_view display;
};

void StartFeature(SchemaWriter& writer, const QName& name, std::string_view display)
{
    writer.StartNamed("Feature", name);
    writer.QNameProperty(Psf("SelectionType"), Psk("PickOne"));
    writer.Property(Psk("DisplayName"), StringValue(std::string(display)));
}

void KeywordOption(SchemaWriter& writer, const QName& name, std::string_view display)
{
    writer.StartNamed("Option", name);
    writer.Property(Psk("DisplayName"), StringValue(std::string(display)));
    writer.End();
}

void SimpleFeature(SchemaWriter& writer, std::string_view feature, std::string_view display,
                   std::initializer_list<OptionText> options)
{
    StartFeature(writer, Psk(feature), display);
    for (const OptionText& option : options) {
        KeywordOption(writer, Psk(option.keyword), option.display);
    }
    writer.End();
}

void IntegerProperty(SchemaWriter& writer, const QName& name, long long value)
{
    writer.Property(name, IntegerValue(value));
}

void MediaSize(SchemaWriter& writer, const PrinterModel& model)
{
    StartFeature(writer, Psk("PageMediaSize"), "Paper Size");
    for (const ModelPaper& paper : model.Papers()) {
        writer.StartNamed("Option", paper.option);
        writer.Property(Psk("DisplayName"), StringValue(platform::Utf16ToUtf8(paper.definition.name)));
        if (paper.definition.IsBorderless()) {
            writer.Property(Private("Borderless"), TicketValue{Xsd("boolean"), "true", std::nullopt});
        }
        writer.ScoredValue(Psk("MediaSizeWidth"), IntegerValue(paper.width));
        writer.ScoredValue(Psk("MediaSizeHeight"), IntegerValue(paper.height));
        writer.End();
    }
    writer.StartNamed("Option", Psk("CustomMediaSize"));
    writer.Property(Psk("DisplayName"), StringValue("Custom Size"));
    writer.StartNamed("ScoredProperty", Psk("MediaSizeWidth"));
    writer.ParameterRef(Psk("PageMediaSizeMediaSizeWidth"));
    writer.End();
    writer.StartNamed("ScoredProperty", Psk("MediaSizeHeight"));
    writer.ParameterRef(Psk("PageMediaSizeMediaSizeHeight"));
    writer.End();
    writer.End();
    writer.End();
}

void ParameterDef(SchemaWriter& writer, const QName& name, std::string_view display, long long minimum,
                  long long maximum, long long fallback, std::string_view unit)
{
    writer.StartNamed("ParameterDef", name);
    writer.QNameProperty(Psf("DataType"), Xsd("integer"));
    IntegerProperty(writer, Psf("MinValue"), minimum);
    IntegerProperty(writer, Psf("MaxValue"), maximum);
    IntegerProperty(writer, Psf("DefaultValue"), fallback);
    IntegerProperty(writer, Psf("Multiple"), 1);
    writer.Property(Psf("UnitType"), StringValue(std::string(unit)));
    writer.QNameProperty(Psf("Mandatory"), Psk("Unconditional"));
    writer.Property(Psk("DisplayName"), StringValue(std::string(display)));
    writer.End();
}

// The imageable area of the default paper in portrait, as a property of the document.
void ImageableSize(SchemaWriter& writer, const PrinterModel& model)
{
    const ModelPaper* paper = model.DefaultPaper();
    if (paper == nullptr) {
        return;
    }
    const platform::PaperDefinition& sheet = paper->definition;
    const long long extentWidth = paper->width - sheet.marginLeft - sheet.marginRight;
    const long long extentHeight = paper->height - sheet.marginTop - sheet.marginBottom;
    writer.StartNamed("Property", Psk("PageImageableSize"));
    IntegerProperty(writer, Psk("ImageableSizeWidth"), paper->width);
    IntegerProperty(writer, Psk("ImageableSizeHeight"), paper->height);
    writer.StartNamed("Property", Psk("ImageableArea"));
    IntegerProperty(writer, Psk("OriginWidth"), sheet.marginLeft);
    IntegerProperty(writer, Psk("OriginHeight"), sheet.marginTop);
    IntegerProperty(writer, Psk("ExtentWidth"), extentWidth);
    IntegerProperty(writer, Psk("ExtentHeight"), extentHeight);
    writer.End();
    writer.End();
}

} // namespace

// The capabilities as a UTF-8 document.
std::optional<std::string> WriteCapabilities(const PrinterModel& model)
{
    const platform::PrinterDefinition& printer = model.Printer();
    SchemaWriter writer;
    writer.StartRoot("PrintCapabilities");

    if (printer.Duplex()) {
        SimpleFeature(writer, "JobDuplexAllDocumentsContiguously", "Two-Sided Printing",
                      {{"OneSided", "One-Sided"},
                       {"TwoSidedLongEdge", "Flip on Long Edge"},
                       {"TwoSidedShortEdge", "Flip on Short Edge"}});
    }
    SimpleFeature(writer, "DocumentCollate", "Collate", {{"Collated", "Collated"}, {"Uncollated", "Uncollated"}});

    MediaSize(writer, model);
    SimpleFeature(writer, "PageOrientation", "Orientation", {{"Portrait", "Portrait"}, {"Landscape", "Landscape"}});
    if (printer.Color()) {
        SimpleFeature(writer, "PageOutputColor", "Output Color", {{"Color", "Color"}, {"Grayscale", "Grayscale"}});
    } else {
        SimpleFeature(writer, "PageOutputColor", "Output Color", {{"Monochrome", "Monochrome"}});
    }
    StartFeature(writer, Psk("PageResolution"), "Resolution");
    for (std::int32_t resolution : printer.Resolutions()) {
        writer.StartNamed("Option", PrinterModel::ResolutionOption(resolution));
        const std::string dpi = std::to_string(resolution);
        writer.Property(Psk("DisplayName"), StringValue(dpi + " x " + dpi + " dpi"));
        writer.ScoredValue(Psk("ResolutionX"), IntegerValue(resolution));
        writer.ScoredValue(Psk("ResolutionY"), IntegerValue(resolution));
        writer.End();
    }
    writer.End();
    if (model.HasBorderlessPaper()) {
        SimpleFeature(writer, "PageBorderless", "Borderless", {{"Borderless", "Borderless"}, {"None", "With Margins"}});
    }

    ImageableSize(writer, model);
    // The default is what the printer's default device mode holds: its smallest number of copies.
    ParameterDef(writer, Psk("JobCopiesAllDocuments"), "Copies", printer.CopiesMin(), printer.CopiesMax(),
                 printer.CopiesMin(), "copies");
    ParameterDef(writer, Psk("PageMediaSizeMediaSizeWidth"), "Custom Width", model.CustomMinWidth(),
                 model.CustomMaxWidth(), model.CustomMaxWidth() > 0 ? model.DefaultPaper()->width : 0, "microns");
    ParameterDef(writer, Psk("PageMediaSizeMediaSizeHeight"), "Custom Height", model.CustomMinHeight(),
                 model.CustomMaxHeight(), model.CustomMaxHeight() > 0 ? model.DefaultPaper()->height : 0, "microns");
    writer.End();
    return writer.Finish();
}

} // namespace prntvpt

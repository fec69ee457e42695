// Naming a printer's papers and options in the Print Schema.
#include "plugins/prntvpt/printer_model.h"

#include "plugins/prntvpt/media_keywords.h"

#include <algorithm>

namespace prntvpt {
namespace {

// The spooler's tenths of a millimetre in microns.
constexpr std::int32_t kMicronsPerTenthMm = 100;

const QName& PageMediaSize()
{
    static const QName name = Psk("PageMediaSize");
    return name;
}

} // namespace

// The model of a printer.
PrinterModel PrinterModel::Create(platform::PrinterDefinition printer)
{
    PrinterModel model(std::move(printer));
    for (const platform::PaperDefinition& paper : model.printer_.Papers()) {
        ModelPaper entry{paper, {}, paper.width * kMicronsPerTenthMm, paper.length * kMicronsPerTenthMm};
        const auto keyword = MediaKeywordBySize(entry.width, entry.height);
        if (keyword && !model.PaperByOption(Psk(keyword->name))) {
            entry.option = Psk(keyword->name);
        } else {
            std::string local = "Paper" + std::to_string(paper.number);
            // Two papers may share a number; the option names must still differ.
            for (int suffix = 2; model.PaperByOption(Private(local)); ++suffix) {
                local = "Paper" + std::to_string(paper.number) + "_" + std::to_string(suffix);
            }
            entry.option = Private(local);
        }
        model.papers_.push_back(std::move(entry));
    }
    for (const ModelPaper& paper : model.papers_) {
        const bool first = &paper == &model.papers_.front();
        model.minWidth_ = first ? paper.width : std::min(model.minWidth_, paper.width);
        model.maxWidth_ = first ? paper.width : std::max(model.maxWidth_, paper.width);
        model.minHeight_ = first ? paper.height : std::min(model.minHeight_, paper.height);
        model.maxHeight_ = first ? paper.height : std::max(model.maxHeight_, paper.height);
    }
    return model;
}

// The paper whose option has this name, or null.
const ModelPaper* PrinterModel::PaperByOption(const QName& option) const
{
    auto found = std::find_if(papers_.begin(), papers_.end(), [&](const ModelPaper& p) { return p.option == option; });
    return found == papers_.end() ? nullptr : &*found;
}

// The paper with this driver number, or null.
const ModelPaper* PrinterModel::PaperByNumber(std::int16_t number) const
{
    auto found = std::find_if(papers_.begin(), papers_.end(),
                              [&](const ModelPaper& p) { return p.definition.number == number; });
    return found == papers_.end() ? nullptr : &*found;
}

// The first paper of this size (microns), or null.
const ModelPaper* PrinterModel::PaperBySize(std::int32_t width, std::int32_t height) const
{
    auto found = std::find_if(papers_.begin(), papers_.end(),
                              [&](const ModelPaper& p) { return SameSheetSize(p.width, p.height, width, height); });
    return found == papers_.end() ? nullptr : &*found;
}

// The first paper of the same size whose borderlessness is as asked, or null.
const ModelPaper* PrinterModel::SizeTwin(const ModelPaper& paper, bool borderless) const
{
    auto found = std::find_if(papers_.begin(), papers_.end(), [&](const ModelPaper& p) {
        return SameSheetSize(p.width, p.height, paper.width, paper.height) && p.definition.IsBorderless() == borderless;
    });
    return found == papers_.end() ? nullptr : &*found;
}

// The printer's default paper.
const ModelPaper* PrinterModel::DefaultPaper() const
{
    return PaperByNumber(printer_.DefaultPaper().number);
}

bool PrinterModel::HasBorderlessPaper() const
{
    return std::any_of(papers_.begin(), papers_.end(), [](const ModelPaper& p) { return p.definition.IsBorderless(); });
}

// The option of a resolution, named after it.
QName PrinterModel::ResolutionOption(std::int32_t dpi)
{
    return Private("Resolution" + std::to_string(dpi));
}

// The resolution an option of this printer names, if it names one.
std::optional<std::int32_t> PrinterModel::ResolutionOf(const QName& option) const
{
    for (std::int32_t dpi : printer_.Resolutions()) {
        if (ResolutionOption(dpi) == option) {
            return dpi;
        }
    }
    return std::nullopt;
}

// Whether this provider describes the feature for printers in general.
bool PrinterModel::IsModelledFeature(const QName& feature)
{
    static const QName modelled[] = {
        Psk("PageMediaSize"),  Psk("PageOrientation"), Psk("PageOutputColor"), Psk("JobDuplexAllDocumentsContiguously"),
        Psk("PageResolution"), Psk("PageBorderless"),  Psk("DocumentCollate"),
    };
    return std::find(std::begin(modelled), std::end(modelled), feature) != std::end(modelled);
}

// The options this printer offers for a modelled feature; empty when it does not have it.
std::vector<QName> PrinterModel::OptionsOf(const QName& feature) const
{
    if (feature == PageMediaSize()) {
        std::vector<QName> options;
        for (const ModelPaper& paper : papers_) {
            options.push_back(paper.option);
        }
        options.push_back(Psk("CustomMediaSize"));
        return options;
    }
    if (feature == Psk("PageOrientation")) {
        return {Psk("Portrait"), Psk("Landscape")};
    }
    if (feature == Psk("PageOutputColor")) {
        return printer_.Color() ? std::vector<QName>{Psk("Color"), Psk("Grayscale")}
                                : std::vector<QName>{Psk("Monochrome")};
    }
    if (feature == Psk("JobDuplexAllDocumentsContiguously")) {
        return printer_.Duplex()
            ? std::vector<QName>{Psk("OneSided"), Psk("TwoSidedLongEdge"), Psk("TwoSidedShortEdge")}
            : std::vector<QName>{};
    }
    if (feature == Psk("PageResolution")) {
        std::vector<QName> options;
        for (std::int32_t dpi : printer_.Resolutions()) {
            options.push_back(ResolutionOption(dpi));
        }
        return options;
    }
    if (feature == Psk("PageBorderless")) {
        return HasBorderlessPaper() ? std::vector<QName>{Psk("Borderless"), Psk("None")} : std::vector<QName>{};
    }
    if (feature == Psk("DocumentCollate")) {
        return {Psk("Collated"), Psk("Uncollated")};
    }
    return {};
}

} // namespace prntvpt

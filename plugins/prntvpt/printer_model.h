// One printer as the Print Schema sees it: the name of each paper's option, and the features and
// options the printer offers. The capabilities writer, the device mode mapping and the merge all
// read the printer through this, so they agree on every name.
#pragma once

#include "platform/spooler/printer_registry.h"
#include "plugins/prntvpt/schema.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace prntvpt {

struct ModelPaper {
    platform::PaperDefinition definition;
    QName option;            // a standard keyword, or a name in the private namespace
    std::int32_t width = 0;  // microns
    std::int32_t height = 0; // microns
};

class PrinterModel final {
public:
    // The model of a printer: papers of a standard size take its keyword (the first of them, as a
    // feature cannot name one option twice); every other paper is named Paper<number>.
    static PrinterModel Create(platform::PrinterDefinition printer);

    const platform::PrinterDefinition& Printer() const { return printer_; }
    const std::vector<ModelPaper>& Papers() const { return papers_; }

    // The paper whose option has this name, or null.
    const ModelPaper* PaperByOption(const QName& option) const;
    // The paper with this driver number, or null.
    const ModelPaper* PaperByNumber(std::int16_t number) const;
    // The first paper of this size (microns), or null.
    const ModelPaper* PaperBySize(std::int32_t width, std::int32_t height) const;
    // The first paper of the same size as `paper` whose borderlessness is `borderless`, or null.
    const ModelPaper* SizeTwin(const ModelPaper& paper, bool borderless) const;
    // The printer's default paper.
    const ModelPaper* DefaultPaper() const;

    bool HasBorderlessPaper() const;
    // The option of one of the printer's resolutions (dots per inch), named after it.
    static QName ResolutionOption(std::int32_t dpi);
    // The resolution an option of this printer names, if it names one.
    std::optional<std::int32_t> ResolutionOf(const QName& option) const;

    // The range a custom sheet may take (microns): from the smallest to the largest listed sheet.
    std::int32_t CustomMinWidth() const { return minWidth_; }
    std::int32_t CustomMaxWidth() const { return maxWidth_; }
    std::int32_t CustomMinHeight() const { return minHeight_; }
    std::int32_t CustomMaxHeight() const { return maxHeight_; }

    // Whether this provider describes the feature for printers in general (a feature it can check).
    static bool IsModelledFeature(const QName& feature);
    // The options this printer offers for a modelled feature; empty when it does not have it.
    std::vector<QName> OptionsOf(const QName& feature) const;

private:
    explicit PrinterModel(platform::PrinterDefinition printer) : printer_(std::move(printer)) {}

    platform::PrinterDefinition printer_;
    std::vector<ModelPaper> papers_;
    std::int32_t minWidth_ = 0;
    std::int32_t maxWidth_ = 0;
    std::int32_t minHeight_ = 0;
    std::int32_t maxHeight_ = 0;
};

} // namespace prntvpt

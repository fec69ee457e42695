// Device mode fields and Print Schema features, both ways.
#include "plugins/prntvpt/devmode_mapping.h"

#include "plugins/prntvpt/media_keywords.h"

#include <algorithm>
#include <cstring>

namespace prntvpt {
namespace {

constexpr std::int32_t kMicronsPerTenthMm = 100;

TicketFeature PickedFeature(const QName& feature, const QName& option)
{
    return TicketFeature{feature, {TicketOption{option, {}}}, {}};
}

// The single chosen option of a feature, or null when the ticket does not set the feature.
const TicketOption* ChosenOption(const Ticket& ticket, const QName& feature, EPrintTicketScope scope)
{
    if (!InScope(LevelOf(feature), scope)) {
        return nullptr;
    }
    const TicketFeature* found = ticket.Feature(feature);
    return found == nullptr || found->options.empty() ? nullptr : &found->options.front();
}

bool OptionIs(const TicketOption* option, std::string_view keyword)
{
    return option != nullptr && option->name && *option->name == Psk(keyword);
}

// An integer held by a scored property: its own value, or the value of the parameter it refers to.
std::optional<long long> ScoredInteger(const Ticket& ticket, const TicketOption& option, const QName& property)
{
    const ScoredProperty* scored = option.Scored(property);
    if (scored == nullptr) {
        return std::nullopt;
    }
    if (scored->value) {
        return IntegerOf(*scored->value);
    }
    if (scored->parameterRef) {
        const TicketParameter* parameter = ticket.Parameter(*scored->parameterRef);
        return parameter == nullptr ? std::nullopt : IntegerOf(parameter->value);
    }
    return std::nullopt;
}

void SelectPaper(DEVMODEW& devMode, const ModelPaper& paper)
{
    devMode.dmPaperSize = paper.definition.number;
    devMode.dmPaperWidth = static_cast<SHORT>(paper.definition.width);
    devMode.dmPaperLength = static_cast<SHORT>(paper.definition.length);
    devMode.dmFields = (devMode.dmFields | DM_PAPERSIZE) & ~(DM_PAPERWIDTH | DM_PAPERLENGTH);
    std::memset(devMode.dmFormName, 0, sizeof devMode.dmFormName);
    const std::size_t units = std::min<std::size_t>(paper.definition.name.size(), CCHFORMNAME - 1);
    std::memcpy(devMode.dmFormName, paper.definition.name.data(), units * sizeof(WCHAR));
}

// Microns to the nearest tenth of a millimetre, for any value a ticket may hold: the range is
// checked before anything is added, so the largest and smallest integers cannot overflow.
std::optional<SHORT> TenthsOfMillimetre(long long microns)
{
    constexpr long long kLargest = kMaxDevModeShort * kMicronsPerTenthMm + kMicronsPerTenthMm / 2 - 1;
    if (microns < kMicronsPerTenthMm / 2 || microns > kLargest) {
        return std::nullopt;
    }
    return static_cast<SHORT>((microns + kMicronsPerTenthMm / 2) / kMicronsPerTenthMm);
}

// A custom sheet in microns; sizes a device mode cannot hold are not applied.
void SelectCustomSize(DEVMODEW& devMode, long long width, long long height)
{
    const std::optional<SHORT> widthTenths = TenthsOfMillimetre(width);
    const std::optional<SHORT> heightTenths = TenthsOfMillimetre(height);
    if (!widthTenths || !heightTenths) {
        return;
    }
    devMode.dmPaperSize = 0;
    devMode.dmPaperWidth = *widthTenths;
    devMode.dmPaperLength = *heightTenths;
    devMode.dmFields = (devMode.dmFields | DM_PAPERWIDTH | DM_PAPERLENGTH) & ~(DM_PAPERSIZE | DM_FORMNAME);
    std::memset(devMode.dmFormName, 0, sizeof devMode.dmFormName);
}

// The paper a PageMediaSize option names: by our name or keyword, then by the size it states or
// the keyword's size; a size no paper has becomes a custom sheet.
void ApplyMediaSize(const PrinterModel& model, const Ticket& ticket, const TicketOption& option, DEVMODEW& devMode)
{
    const auto width = ScoredInteger(ticket, option, Psk("MediaSizeWidth"));
    const auto height = ScoredInteger(ticket, option, Psk("MediaSizeHeight"));
    if (option.name && *option.name == Psk("CustomMediaSize")) {
        if (width && height) {
            SelectCustomSize(devMode, *width, *height);
        }
        return;
    }
    if (option.name) {
        if (const ModelPaper* paper = model.PaperByOption(*option.name)) {
            SelectPaper(devMode, *paper);
            return;
        }
    }
    std::optional<long long> sheetWidth = width;
    std::optional<long long> sheetHeight = height;
    if ((!sheetWidth || !sheetHeight) && option.name && option.name->ns == kKeywordsNs) {
        if (const auto keyword = MediaKeywordByName(option.name->local)) {
            sheetWidth = keyword->width;
            sheetHeight = keyword->height;
        }
    }
    if (!sheetWidth || !sheetHeight || *sheetWidth <= 0 || *sheetHeight <= 0 || *sheetWidth > INT32_MAX
        || *sheetHeight > INT32_MAX) {
        return;
    }
    if (const ModelPaper* paper
        = model.PaperBySize(static_cast<std::int32_t>(*sheetWidth), static_cast<std::int32_t>(*sheetHeight))) {
        SelectPaper(devMode, *paper);
        return;
    }
    SelectCustomSize(devMode, *sheetWidth, *sheetHeight);
}

// Borderless or not: the paper of the same size that has (or has not) margins.
void ApplyBorderless(const PrinterModel& model, const TicketOption& option, DEVMODEW& devMode)
{
    if (!OptionIs(&option, "Borderless") && !OptionIs(&option, "None")) {
        return;
    }
    if ((devMode.dmFields & DM_PAPERSIZE) == 0) {
        return;
    }
    const ModelPaper* paper = model.PaperByNumber(devMode.dmPaperSize);
    const bool wanted = OptionIs(&option, "Borderless");
    if (paper == nullptr || paper->definition.IsBorderless() == wanted) {
        return;
    }
    if (const ModelPaper* twin = model.SizeTwin(*paper, wanted)) {
        SelectPaper(devMode, *twin);
    }
}

void ApplyDuplex(const TicketOption* option, DEVMODEW& devMode)
{
    SHORT duplex = 0;
    if (OptionIs(option, "OneSided")) {
        duplex = DMDUP_SIMPLEX;
    } else if (OptionIs(option, "TwoSidedLongEdge")) {
        duplex = DMDUP_VERTICAL;
    } else if (OptionIs(option, "TwoSidedShortEdge")) {
        duplex = DMDUP_HORIZONTAL;
    } else {
        return;
    }
    devMode.dmDuplex = duplex;
    devMode.dmFields |= DM_DUPLEX;
}

void ApplyResolution(const PrinterModel& model, const Ticket& ticket, const TicketOption& option, DEVMODEW& devMode)
{
    auto x = ScoredInteger(ticket, option, Psk("ResolutionX"));
    auto y = ScoredInteger(ticket, option, Psk("ResolutionY"));
    if (!x && option.name) {
        x = model.ResolutionOf(*option.name);
    }
    if (!x || *x < 1 || *x > kMaxDevModeShort) {
        return;
    }
    if (!y || *y < 1 || *y > kMaxDevModeShort) {
        y = x;
    }
    devMode.dmPrintQuality = static_cast<SHORT>(*x);
    devMode.dmYResolution = static_cast<SHORT>(*y);
    devMode.dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
}

TicketFeature MediaSizeFeature(const ModelPaper& paper)
{
    TicketOption option{paper.option,
                        {ScoredProperty{Psk("MediaSizeWidth"), IntegerValue(paper.width), std::nullopt},
                         ScoredProperty{Psk("MediaSizeHeight"), IntegerValue(paper.height), std::nullopt}}};
    return TicketFeature{Psk("PageMediaSize"), {std::move(option)}, {}};
}

TicketFeature CustomMediaSizeFeature()
{
    TicketOption option{Psk("CustomMediaSize"),
                        {ScoredProperty{Psk("MediaSizeWidth"), std::nullopt, Psk("PageMediaSizeMediaSizeWidth")},
                         ScoredProperty{Psk("MediaSizeHeight"), std::nullopt, Psk("PageMediaSizeMediaSizeHeight")}}};
    return TicketFeature{Psk("PageMediaSize"), {std::move(option)}, {}};
}

} // namespace

// The ticket that says what the device mode selects.
Ticket TicketFromDevMode(const PrinterModel& model, const DEVMODEW& devMode, EPrintTicketScope scope)
{
    const platform::PrinterDefinition& printer = model.Printer();
    const DWORD fields = devMode.dmFields;
    Ticket ticket;
    if (scope == kPTJobScope) {
        const long long copies = (fields & DM_COPIES) && devMode.dmCopies > 0 ? devMode.dmCopies : printer.CopiesMin();
        ticket.parameters.push_back(TicketParameter{Psk("JobCopiesAllDocuments"), IntegerValue(copies)});
        if (printer.Duplex()) {
            const SHORT duplex = (fields & DM_DUPLEX) ? devMode.dmDuplex : DMDUP_SIMPLEX;
            const char* option = duplex == DMDUP_VERTICAL ? "TwoSidedLongEdge"
                : duplex == DMDUP_HORIZONTAL              ? "TwoSidedShortEdge"
                                                          : "OneSided";
            ticket.features.push_back(PickedFeature(Psk("JobDuplexAllDocumentsContiguously"), Psk(option)));
        }
    }
    if (scope != kPTPageScope) {
        const bool collated = (fields & DM_COLLATE) && devMode.dmCollate == DMCOLLATE_TRUE;
        ticket.features.push_back(PickedFeature(Psk("DocumentCollate"), Psk(collated ? "Collated" : "Uncollated")));
    }

    const ModelPaper* paper = nullptr;
    const bool custom = !(fields & DM_PAPERSIZE) && (fields & DM_PAPERWIDTH) && (fields & DM_PAPERLENGTH)
        && devMode.dmPaperWidth > 0 && devMode.dmPaperLength > 0;
    if (custom) {
        ticket.features.push_back(CustomMediaSizeFeature());
        ticket.parameters.push_back(TicketParameter{Psk("PageMediaSizeMediaSizeWidth"),
                                                    IntegerValue(devMode.dmPaperWidth * kMicronsPerTenthMm)});
        ticket.parameters.push_back(TicketParameter{Psk("PageMediaSizeMediaSizeHeight"),
                                                    IntegerValue(devMode.dmPaperLength * kMicronsPerTenthMm)});
    } else {
        paper = (fields & DM_PAPERSIZE) ? model.PaperByNumber(devMode.dmPaperSize) : nullptr;
        if (paper == nullptr) {
            paper = model.DefaultPaper();
        }
        if (paper != nullptr) {
            ticket.features.push_back(MediaSizeFeature(*paper));
        }
    }

    const SHORT orientation = (fields & DM_ORIENTATION) ? devMode.dmOrientation : printer.DefaultOrientation();
    ticket.features.push_back(
        PickedFeature(Psk("PageOrientation"), Psk(orientation == DMORIENT_LANDSCAPE ? "Landscape" : "Portrait")));

    const char* color = "Monochrome";
    if (printer.Color()) {
        color = (fields & DM_COLOR) && devMode.dmColor == DMCOLOR_MONOCHROME ? "Grayscale" : "Color";
    }
    ticket.features.push_back(PickedFeature(Psk("PageOutputColor"), Psk(color)));

    // The option of the listed resolution closest to the device mode's: dots are square here.
    const std::int32_t dpi = printer.ClosestResolution((fields & DM_PRINTQUALITY) && devMode.dmPrintQuality > 0
                                                           ? devMode.dmPrintQuality
                                                           : printer.DefaultResolution());
    ticket.features.push_back(
        TicketFeature{Psk("PageResolution"),
                      {TicketOption{PrinterModel::ResolutionOption(dpi),
                                    {ScoredProperty{Psk("ResolutionX"), IntegerValue(dpi), std::nullopt},
                                     ScoredProperty{Psk("ResolutionY"), IntegerValue(dpi), std::nullopt}}}},
                      {}});

    if (model.HasBorderlessPaper()) {
        const bool borderless = paper != nullptr && paper->definition.IsBorderless();
        ticket.features.push_back(PickedFeature(Psk("PageBorderless"), Psk(borderless ? "Borderless" : "None")));
    }
    return ticket;
}

// Applies the ticket's settings of this scope's levels to a device mode.
void ApplyTicket(const PrinterModel& model, const Ticket& ticket, EPrintTicketScope scope, DEVMODEW& devMode)
{
    if (const TicketOption* option = ChosenOption(ticket, Psk("PageMediaSize"), scope)) {
        ApplyMediaSize(model, ticket, *option, devMode);
    }
    if (const TicketOption* option = ChosenOption(ticket, Psk("PageBorderless"), scope)) {
        ApplyBorderless(model, *option, devMode);
    }
    const TicketOption* orientation = ChosenOption(ticket, Psk("PageOrientation"), scope);
    if (OptionIs(orientation, "Portrait") || OptionIs(orientation, "ReversePortrait")) {
        devMode.dmOrientation = DMORIENT_PORTRAIT;
        devMode.dmFields |= DM_ORIENTATION;
    } else if (OptionIs(orientation, "Landscape") || OptionIs(orientation, "ReverseLandscape")) {
        devMode.dmOrientation = DMORIENT_LANDSCAPE;
        devMode.dmFields |= DM_ORIENTATION;
    }
    const TicketOption* color = ChosenOption(ticket, Psk("PageOutputColor"), scope);
    if (OptionIs(color, "Color")) {
        devMode.dmColor = DMCOLOR_COLOR;
        devMode.dmFields |= DM_COLOR;
    } else if (OptionIs(color, "Grayscale") || OptionIs(color, "Monochrome")) {
        devMode.dmColor = DMCOLOR_MONOCHROME;
        devMode.dmFields |= DM_COLOR;
    }
    ApplyDuplex(ChosenOption(ticket, Psk("JobDuplexAllDocumentsContiguously"), scope), devMode);
    ApplyDuplex(ChosenOption(ticket, Psk("DocumentDuplex"), scope), devMode);
    const TicketOption* collate = ChosenOption(ticket, Psk("DocumentCollate"), scope);
    if (OptionIs(collate, "Collated")) {
        devMode.dmCollate = DMCOLLATE_TRUE;
        devMode.dmFields |= DM_COLLATE;
    } else if (OptionIs(collate, "Uncollated")) {
        devMode.dmCollate = DMCOLLATE_FALSE;
        devMode.dmFields |= DM_COLLATE;
    }
    if (const TicketOption* option = ChosenOption(ticket, Psk("PageResolution"), scope)) {
        ApplyResolution(model, ticket, *option, devMode);
    }
    const QName copies = Psk("JobCopiesAllDocuments");
    if (InScope(LevelOf(copies), scope)) {
        if (const TicketParameter* parameter = ticket.Parameter(copies)) {
            const auto count = IntegerOf(parameter->value);
            if (count && *count >= 1) {
                devMode.dmCopies = static_cast<SHORT>(std::min<long long>(*count, kMaxDevModeShort));
                devMode.dmFields |= DM_COPIES;
            }
        }
    }
}

} // namespace prntvpt

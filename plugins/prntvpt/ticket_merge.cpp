// Ticket merge and validation.
#include "plugins/prntvpt/ticket_merge.h"

#include <algorithm>

namespace prntvpt {
namespace {

bool Offered(const PrinterModel& model, const Ticket& ticket, const TicketFeature& feature)
{
    if (feature.options.size() != 1 || !feature.options.front().name) {
        return false;
    }
    const TicketOption& option = feature.options.front();
    const std::vector<QName> offered = model.OptionsOf(feature.name);
    if (std::find(offered.begin(), offered.end(), *option.name) == offered.end()) {
        return false;
    }
    if (*option.name == Psk("CustomMediaSize")) {
        // A custom sheet is offered only with both sizes given and in the printer's range.
        const TicketParameter* width = ticket.Parameter(Psk("PageMediaSizeMediaSizeWidth"));
        const TicketParameter* height = ticket.Parameter(Psk("PageMediaSizeMediaSizeHeight"));
        if (width == nullptr || height == nullptr) {
            return false;
        }
        // A missing or malformed size reads as 0, which no printer's range holds.
        const long long w = IntegerOf(width->value).value_or(0);
        const long long h = IntegerOf(height->value).value_or(0);
        return w >= model.CustomMinWidth() && w <= model.CustomMaxWidth() && h >= model.CustomMinHeight()
            && h <= model.CustomMaxHeight() && w > 0 && h > 0;
    }
    return true;
}

} // namespace

// Merges the delta into the base within the scope and validates the result.
MergeResult MergeAndValidate(const PrinterModel& model, const Ticket& defaults, const Ticket& base, const Ticket& delta,
                             EPrintTicketScope scope)
{
    MergeResult result;
    Ticket& merged = result.ticket;
    for (const Ticket* source : {&base, &delta}) {
        for (const TicketFeature& feature : source->features) {
            if (InScope(LevelOf(feature.name), scope)) {
                merged.SetFeature(feature);
            }
        }
        for (const TicketParameter& parameter : source->parameters) {
            if (InScope(LevelOf(parameter.name), scope)) {
                merged.SetParameter(parameter);
            }
        }
    }

    std::vector<TicketFeature> validated;
    for (const TicketFeature& feature : merged.features) {
        if (!PrinterModel::IsModelledFeature(feature.name) || Offered(model, merged, feature)) {
            validated.push_back(feature);
            continue;
        }
        result.conflictResolved = true;
        if (const TicketFeature* fallback = defaults.Feature(feature.name)) {
            validated.push_back(*fallback);
        }
    }
    merged.features = std::move(validated);

    // Custom size parameters only mean something beside a custom sheet; otherwise they are dropped.
    const TicketFeature* media = merged.Feature(Psk("PageMediaSize"));
    const bool custom = media != nullptr && media->options.size() == 1 && media->options.front().name
        && *media->options.front().name == Psk("CustomMediaSize");
    if (!custom) {
        std::erase_if(merged.parameters, [](const TicketParameter& p) {
            return p.name == Psk("PageMediaSizeMediaSizeWidth") || p.name == Psk("PageMediaSizeMediaSizeHeight");
        });
    }

    const platform::PrinterDefinition& printer = model.Printer();
    for (TicketParameter& parameter : merged.parameters) {
        if (parameter.name != Psk("JobCopiesAllDocuments")) {
            continue;
        }
        const auto copies = IntegerOf(parameter.value);
        const long long fixed
            = !copies ? printer.CopiesMin() : std::clamp<long long>(*copies, printer.CopiesMin(), printer.CopiesMax());
        if (!copies || fixed != *copies || parameter.value.type != Xsd("integer")) {
            parameter.value = IntegerValue(fixed);
            result.conflictResolved = true;
        }
    }
    return result;
}

} // namespace prntvpt

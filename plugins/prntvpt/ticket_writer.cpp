// Print ticket writing: features (with options, scored properties and sub-features) first, then
// the parameter values, as the schema orders them.
#include "plugins/prntvpt/ticket_writer.h"

#include "plugins/prntvpt/xml_writer.h"

namespace prntvpt {
namespace {

void WriteFeature(SchemaWriter& writer, const TicketFeature& feature)
{
    writer.StartNamed("Feature", feature.name);
    for (const TicketOption& option : feature.options) {
        if (option.name) {
            writer.StartNamed("Option", *option.name);
        } else {
            writer.Start("Option");
        }
        for (const ScoredProperty& scored : option.scored) {
            writer.StartNamed("ScoredProperty", scored.name);
            if (scored.parameterRef) {
                writer.ParameterRef(*scored.parameterRef);
            } else if (scored.value) {
                writer.Value(*scored.value);
            }
            writer.End();
        }
        writer.End();
    }
    for (const TicketFeature& sub : feature.subFeatures) {
        WriteFeature(writer, sub);
    }
    writer.End();
}

} // namespace

// The ticket as a UTF-8 document.
std::optional<std::string> WriteTicket(const Ticket& ticket)
{
    SchemaWriter writer(NamespacesOf(ticket));
    writer.StartRoot("PrintTicket");
    for (const TicketFeature& feature : ticket.features) {
        WriteFeature(writer, feature);
    }
    for (const TicketParameter& parameter : ticket.parameters) {
        writer.StartNamed("ParameterInit", parameter.name);
        writer.Value(parameter.value);
        writer.End();
    }
    writer.End();
    return writer.Finish();
}

} // namespace prntvpt

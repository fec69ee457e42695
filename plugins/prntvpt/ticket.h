// A print ticket as the provider works on it: features with their chosen options and the
// parameter values, each name resolved to its namespace.
#pragma once

#include "plugins/prntvpt/schema.h"

#include <optional>
#include <string>
#include <vector>

namespace prntvpt {

// A psf:Value: its xsi:type and text; a value of type xsd:QName also carries the resolved name.
struct TicketValue {
    QName type;
    std::string text;
    std::optional<QName> qname;
};

// A psf:ScoredProperty: a value, or a reference to a parameter that holds it.
struct ScoredProperty {
    QName name;
    std::optional<TicketValue> value;
    std::optional<QName> parameterRef;
};

struct TicketOption {
    std::optional<QName> name; // options may be unnamed (their scored properties say it all)
    std::vector<ScoredProperty> scored;

    const ScoredProperty* Scored(const QName& property) const;
};

struct TicketFeature {
    QName name;
    std::vector<TicketOption> options;
    std::vector<TicketFeature> subFeatures;
};

struct TicketParameter {
    QName name;
    TicketValue value;
};

struct Ticket {
    std::vector<TicketFeature> features;
    std::vector<TicketParameter> parameters;

    const TicketFeature* Feature(const QName& name) const;
    const TicketParameter* Parameter(const QName& name) const;
    // Adds the feature, or replaces the one of the same name.
    void SetFeature(TicketFeature feature);
    // Adds the parameter, or replaces the one of the same name.
    void SetParameter(TicketParameter parameter);
};

// An integer value (xsd:integer text, surrounding blanks allowed), if the text is one in range.
std::optional<long long> IntegerOf(const TicketValue& value);

// An xsd:integer value.
TicketValue IntegerValue(long long number);
// An xsd:string value.
TicketValue StringValue(std::string text);

} // namespace prntvpt

// Look-ups and edits of the ticket model.
#include "plugins/prntvpt/ticket.h"

#include <algorithm>
#include <charconv>

namespace prntvpt {

// The scored property of this name, or null.
const ScoredProperty* TicketOption::Scored(const QName& property) const
{
    auto found
        = std::find_if(scored.begin(), scored.end(), [&](const ScoredProperty& p) { return p.name == property; });
    return found == scored.end() ? nullptr : &*found;
}

// The feature of this name, or null.
const TicketFeature* Ticket::Feature(const QName& name) const
{
    auto found = std::find_if(features.begin(), features.end(), [&](const TicketFeature& f) { return f.name == name; });
    return found == features.end() ? nullptr : &*found;
}

// The parameter of this name, or null.
const TicketParameter* Ticket::Parameter(const QName& name) const
{
    auto found
        = std::find_if(parameters.begin(), parameters.end(), [&](const TicketParameter& p) { return p.name == name; });
    return found == parameters.end() ? nullptr : &*found;
}

// Adds the feature, or replaces the one of the same name in place.
void Ticket::SetFeature(TicketFeature feature)
{
    auto found = std::find_if(features.begin(), features.end(),
                              [&](const TicketFeature& f) { return f.name == feature.name; });
    if (found == features.end()) {
        features.push_back(std::move(feature));
    } else {
        *found = std::move(feature);
    }
}

// Adds the parameter, or replaces the one of the same name in place.
void Ticket::SetParameter(TicketParameter parameter)
{
    auto found = std::find_if(parameters.begin(), parameters.end(),
                              [&](const TicketParameter& p) { return p.name == parameter.name; });
    if (found == parameters.end()) {
        parameters.push_back(std::move(parameter));
    } else {
        *found = std::move(parameter);
    }
}

// An integer value, if the text is one (blanks around it allowed, a leading '+' too).
std::optional<long long> IntegerOf(const TicketValue& value)
{
    std::string_view text = value.text;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.size() > 1 && text.front() == '+' && text[1] >= '0' && text[1] <= '9') {
        text.remove_prefix(1);
    }
    long long number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return number;
}

// An xsd:integer value.
TicketValue IntegerValue(long long number)
{
    return TicketValue{Xsd("integer"), std::to_string(number), std::nullopt};
}

// An xsd:string value.
TicketValue StringValue(std::string text)
{
    return TicketValue{Xsd("string"), std::move(text), std::nullopt};
}

} // namespace prntvpt

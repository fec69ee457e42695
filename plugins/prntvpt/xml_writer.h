// Writes Print Schema documents with libxml2's text writer: UTF-8 with an XML declaration, every
// qualified name (element, attribute value, QName value) spelt with the prefix declared for its
// namespace on the root element. A failed libxml2 call is remembered; Finish then gives nothing.
#pragma once

#include "plugins/prntvpt/schema.h"
#include "plugins/prntvpt/ticket.h"

#include <libxml/xmlwriter.h>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace prntvpt {

class SchemaWriter final {
public:
    // A writer whose root declares the framework, keyword, XML Schema and private namespaces,
    // and a generated prefix for each of `otherNamespaces`.
    explicit SchemaWriter(const std::set<std::string>& otherNamespaces = {});
    ~SchemaWriter();
    SchemaWriter(const SchemaWriter&) = delete;
    SchemaWriter& operator=(const SchemaWriter&) = delete;

    // Opens the root element (psf:PrintTicket or psf:PrintCapabilities) with version="1".
    void StartRoot(std::string_view local);
    // Opens a framework element such as psf:Feature, with a name="prefix:local" attribute.
    void StartNamed(std::string_view element, const QName& name);
    // Opens a framework element with no attributes.
    void Start(std::string_view element);
    void End();
    // Writes <psf:Value xsi:type="...">text</psf:Value>.
    void Value(const TicketValue& value);
    // Writes <psf:ParameterRef name="..."/>.
    void ParameterRef(const QName& name);
    // Writes a psf:Property holding one value.
    void Property(const QName& name, const TicketValue& value);
    // Writes a psf:Property holding a QName value.
    void QNameProperty(const QName& name, const QName& value);
    // Writes a psf:ScoredProperty holding one value.
    void ScoredValue(const QName& name, const TicketValue& value);

    // The document, or nothing if any step failed.
    std::optional<std::string> Finish();

    // The name as "prefix:local" with this writer's prefixes.
    std::string Prefixed(const QName& name) const;

private:
    void Check(int result);
    void WriteAttribute(std::string_view name, std::string_view value);

    xmlBufferPtr buffer_ = nullptr;
    xmlTextWriterPtr writer_ = nullptr;
    std::map<std::string, std::string, std::less<>> prefixes_; // namespace -> prefix
    bool failed_ = false;
};

// Every namespace a ticket's names use, for SchemaWriter's declarations.
std::set<std::string> NamespacesOf(const Ticket& ticket);

} // namespace prntvpt

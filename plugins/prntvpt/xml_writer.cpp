// Print Schema document writing over libxml2's text writer.
#include "plugins/prntvpt/xml_writer.h"

#include <cstdio>

namespace prntvpt {
namespace {

const xmlChar* X(const std::string& text)
{
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

void Collect(const TicketValue& value, std::set<std::string>& out)
{
    out.insert(value.type.ns);
    if (value.qname) {
        out.insert(value.qname->ns);
    }
}

void Collect(const TicketFeature& feature, std::set<std::string>& out)
{
    out.insert(feature.name.ns);
    for (const TicketOption& option : feature.options) {
        if (option.name) {
            out.insert(option.name->ns);
        }
        for (const ScoredProperty& scored : option.scored) {
            out.insert(scored.name.ns);
            if (scored.value) {
                Collect(*scored.value, out);
            }
            if (scored.parameterRef) {
                out.insert(scored.parameterRef->ns);
            }
        }
    }
    for (const TicketFeature& sub : feature.subFeatures) {
        Collect(sub, out);
    }
}

} // namespace

// Every namespace a ticket's names use.
std::set<std::string> NamespacesOf(const Ticket& ticket)
{
    std::set<std::string> out;
    for (const TicketFeature& feature : ticket.features) {
        Collect(feature, out);
    }
    for (const TicketParameter& parameter : ticket.parameters) {
        out.insert(parameter.name.ns);
        Collect(parameter.value, out);
    }
    return out;
}

SchemaWriter::SchemaWriter(const std::set<std::string>& otherNamespaces)
{
    prefixes_.emplace(kFrameworkNs, "psf");
    prefixes_.emplace(kKeywordsNs, "psk");
    prefixes_.emplace(kXsiNs, "xsi");
    prefixes_.emplace(kXsdNs, "xsd");
    prefixes_.emplace(kPrivateNs, "ns0000");
    int next = 1;
    for (const std::string& ns : otherNamespaces) {
        if (ns.empty() || prefixes_.contains(ns)) {
            continue;
        }
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "ns%04d", next++);
        prefixes_.emplace(ns, prefix);
    }
    buffer_ = xmlBufferCreate();
    writer_ = buffer_ == nullptr ? nullptr : xmlNewTextWriterMemory(buffer_, 0);
    if (writer_ == nullptr) {
        failed_ = true;
        return;
    }
    Check(xmlTextWriterSetIndent(writer_, 1));
    Check(xmlTextWriterSetIndentString(writer_, reinterpret_cast<const xmlChar*>("  ")));
    Check(xmlTextWriterStartDocument(writer_, "1.0", "UTF-8", nullptr));
}

SchemaWriter::~SchemaWriter()
{
    if (writer_ != nullptr) {
        xmlFreeTextWriter(writer_);
    }
    if (buffer_ != nullptr) {
        xmlBufferFree(buffer_);
    }
}

void SchemaWriter::Check(int result)
{
    if (result < 0) {
        failed_ = true;
    }
}

// The name as "prefix:local"; a name in no namespace is written bare.
std::string SchemaWriter::Prefixed(const QName& name) const
{
    auto found = prefixes_.find(name.ns);
    if (name.ns.empty() || found == prefixes_.end()) {
        return name.local;
    }
    return found->second + ":" + name.local;
}

void SchemaWriter::WriteAttribute(std::string_view name, std::string_view value)
{
    if (failed_) {
        return;
    }
    Check(xmlTextWriterWriteAttribute(writer_, X(std::string(name)), X(std::string(value))));
}

// Opens the root element and declares every namespace on it.
void SchemaWriter::StartRoot(std::string_view local)
{
    Start(local);
    for (const auto& [ns, prefix] : prefixes_) {
        WriteAttribute("xmlns:" + prefix, ns);
    }
    WriteAttribute("version", "1");
}

// Opens a framework element with a name attribute.
void SchemaWriter::StartNamed(std::string_view element, const QName& name)
{
    Start(element);
    WriteAttribute("name", Prefixed(name));
}

// Opens a framework element.
void SchemaWriter::Start(std::string_view element)
{
    if (failed_) {
        return;
    }
    Check(xmlTextWriterStartElement(writer_, X(Prefixed(Psf(element)))));
}

// Closes the innermost open element.
void SchemaWriter::End()
{
    if (failed_) {
        return;
    }
    Check(xmlTextWriterEndElement(writer_));
}

// Writes <psf:Value xsi:type="...">text</psf:Value>.
void SchemaWriter::Value(const TicketValue& value)
{
    Start("Value");
    WriteAttribute(Prefixed(QName{std::string(kXsiNs), "type"}), Prefixed(value.type));
    if (!failed_) {
        const std::string text = value.qname ? Prefixed(*value.qname) : value.text;
        Check(xmlTextWriterWriteString(writer_, X(text)));
    }
    End();
}

// Writes <psf:ParameterRef name="..."/>.
void SchemaWriter::ParameterRef(const QName& name)
{
    StartNamed("ParameterRef", name);
    End();
}

// Writes a psf:Property holding one value.
void SchemaWriter::Property(const QName& name, const TicketValue& value)
{
    StartNamed("Property", name);
    Value(value);
    End();
}

// Writes a psf:Property holding a QName value.
void SchemaWriter::QNameProperty(const QName& name, const QName& value)
{
    Property(name, TicketValue{Xsd("QName"), {}, value});
}

// Writes a psf:ScoredProperty holding one value.
void SchemaWriter::ScoredValue(const QName& name, const TicketValue& value)
{
    StartNamed("ScoredProperty", name);
    Value(value);
    End();
}

// The document, or nothing if any step failed.
std::optional<std::string> SchemaWriter::Finish()
{
    if (!failed_) {
        Check(xmlTextWriterEndDocument(writer_));
    }
    if (!failed_) {
        Check(xmlTextWriterFlush(writer_));
    }
    if (failed_) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer_)),
                       static_cast<std::size_t>(xmlBufferLength(buffer_)));
}

} // namespace prntvpt

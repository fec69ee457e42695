// Print ticket parsing with libxml2's tree: element namespaces come from libxml2, prefixes inside
// attribute values and QName values are resolved with xmlSearchNs at the element that holds them.
#include "plugins/prntvpt/ticket_reader.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <memory>

namespace prntvpt {
namespace {

struct DocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};

std::string_view Text(const xmlChar* text)
{
    return text == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(text));
}

bool IsFramework(xmlNodePtr node, std::string_view local)
{
    return node->type == XML_ELEMENT_NODE && node->ns != nullptr && Text(node->ns->href) == kFrameworkNs
        && Text(node->name) == local;
}

class Reader final {
public:
    explicit Reader(xmlDocPtr doc) : doc_(doc) {}

    std::optional<Ticket> Read(xmlNodePtr root)
    {
        Ticket ticket;
        for (xmlNodePtr child = root->children; child != nullptr && error_.empty(); child = child->next) {
            if (IsFramework(child, "Feature")) {
                if (auto feature = ReadFeature(child, 1)) {
                    ticket.features.push_back(std::move(*feature));
                }
            } else if (IsFramework(child, "ParameterInit")) {
                if (auto parameter = ReadParameter(child)) {
                    ticket.parameters.push_back(std::move(*parameter));
                }
            }
        }
        if (!error_.empty()) {
            return std::nullopt;
        }
        return ticket;
    }

    const std::string& Error() const { return error_; }

private:
    void Fail(std::string message, xmlNodePtr node)
    {
        if (error_.empty()) {
            error_ = std::move(message) + " (line " + std::to_string(xmlGetLineNo(node)) + ")";
        }
    }

    bool Count(xmlNodePtr node)
    {
        if (++items_ > kMaxTicketItems) {
            Fail("the ticket has too many entries", node);
            return false;
        }
        return true;
    }

    // Resolves "prefix:local" (or "local" in the default namespace) at this element.
    std::optional<QName> Resolve(std::string_view text, xmlNodePtr node)
    {
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        while (!text.empty() && blank(text.front())) {
            text.remove_prefix(1);
        }
        while (!text.empty() && blank(text.back())) {
            text.remove_suffix(1);
        }
        if (text.empty()) {
            return std::nullopt;
        }
        const std::size_t colon = text.find(':');
        std::string prefix;
        std::string_view local = text;
        if (colon != std::string_view::npos) {
            prefix = std::string(text.substr(0, colon));
            local = text.substr(colon + 1);
            if (prefix.empty() || local.empty()) {
                return std::nullopt;
            }
        }
        xmlNsPtr ns
            = xmlSearchNs(doc_, node, prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
        if (ns == nullptr && !prefix.empty()) {
            return std::nullopt;
        }
        return QName{ns == nullptr ? std::string() : std::string(Text(ns->href)), std::string(local)};
    }

    std::optional<QName> NameOf(xmlNodePtr node, bool required)
    {
        xmlChar* raw = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>("name"));
        if (raw == nullptr) {
            if (required) {
                Fail("a " + std::string(Text(node->name)) + " has no name", node);
            }
            return std::nullopt;
        }
        const std::string text(Text(raw));
        xmlFree(raw);
        auto name = Resolve(text, node);
        if (!name) {
            Fail("the name \"" + text + "\" has an undeclared prefix", node);
        }
        return name;
    }

    std::optional<TicketValue> ReadValue(xmlNodePtr node)
    {
        TicketValue value;
        xmlChar* type = xmlGetNsProp(node, reinterpret_cast<const xmlChar*>("type"),
                                     reinterpret_cast<const xmlChar*>(kXsiNs.data()));
        if (type != nullptr) {
            const std::string text(Text(type));
            xmlFree(type);
            auto resolved = Resolve(text, node);
            if (!resolved) {
                Fail("the value type \"" + text + "\" has an undeclared prefix", node);
                return std::nullopt;
            }
            value.type = *resolved;
        } else {
            value.type = Xsd("string");
        }
        xmlChar* content = xmlNodeGetContent(node);
        value.text = std::string(Text(content));
        xmlFree(content);
        if (value.type == Xsd("QName")) {
            value.qname = Resolve(value.text, node);
            if (!value.qname) {
                Fail("the value \"" + value.text + "\" has an undeclared prefix", node);
                return std::nullopt;
            }
        }
        return value;
    }

    std::optional<ScoredProperty> ReadScored(xmlNodePtr node)
    {
        auto name = NameOf(node, true);
        if (!name || !Count(node)) {
            return std::nullopt;
        }
        ScoredProperty scored{*name, std::nullopt, std::nullopt};
        for (xmlNodePtr child = node->children; child != nullptr && error_.empty(); child = child->next) {
            if (IsFramework(child, "Value")) {
                scored.value = ReadValue(child);
            } else if (IsFramework(child, "ParameterRef")) {
                scored.parameterRef = NameOf(child, true);
            }
        }
        return scored;
    }

    std::optional<TicketOption> ReadOption(xmlNodePtr node)
    {
        if (!Count(node)) {
            return std::nullopt;
        }
        TicketOption option;
        option.name = NameOf(node, false);
        for (xmlNodePtr child = node->children; child != nullptr && error_.empty(); child = child->next) {
            if (IsFramework(child, "ScoredProperty")) {
                if (auto scored = ReadScored(child)) {
                    option.scored.push_back(std::move(*scored));
                }
            }
        }
        return option;
    }

    std::optional<TicketFeature> ReadFeature(xmlNodePtr node, int depth)
    {
        if (depth > kMaxFeatureDepth) {
            Fail("features are nested too deeply", node);
            return std::nullopt;
        }
        auto name = NameOf(node, true);
        if (!name || !Count(node)) {
            return std::nullopt;
        }
        TicketFeature feature{*name, {}, {}};
        for (xmlNodePtr child = node->children; child != nullptr && error_.empty(); child = child->next) {
            if (IsFramework(child, "Option")) {
                if (auto option = ReadOption(child)) {
                    feature.options.push_back(std::move(*option));
                }
            } else if (IsFramework(child, "Feature")) {
                if (auto sub = ReadFeature(child, depth + 1)) {
                    feature.subFeatures.push_back(std::move(*sub));
                }
            }
        }
        return feature;
    }

    std::optional<TicketParameter> ReadParameter(xmlNodePtr node)
    {
        auto name = NameOf(node, true);
        if (!name || !Count(node)) {
            return std::nullopt;
        }
        for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
            if (IsFramework(child, "Value")) {
                auto value = ReadValue(child);
                if (!value) {
                    return std::nullopt;
                }
                return TicketParameter{*name, std::move(*value)};
            }
        }
        Fail("the parameter " + name->local + " has no value", node);
        return std::nullopt;
    }

    xmlDocPtr doc_;
    std::string error_;
    std::size_t items_ = 0;
};

// Called by the parser at "<!DOCTYPE", before any declaration inside it is read: a ticket never
// has a document type, and stopping here means no entity is ever declared, let alone expanded.
void RefuseDocumentType(void* userData, const xmlChar*, const xmlChar*, const xmlChar*)
{
    auto* context = static_cast<xmlParserCtxtPtr>(userData);
    *static_cast<bool*>(context->_private) = true;
    xmlStopParser(context);
}

std::string ParserMessage(xmlParserCtxtPtr context)
{
    const xmlError* error = xmlCtxtGetLastError(context);
    if (error == nullptr || error->message == nullptr) {
        return "the ticket is not well-formed XML";
    }
    std::string message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return "the ticket is not well-formed XML: " + message + " (line " + std::to_string(error->line) + ")";
}

} // namespace

// Parses a psf:PrintTicket document.
TicketReadResult ReadTicket(std::string_view document)
{
    if (document.size() > kMaxDocumentBytes) {
        return {std::nullopt, "the ticket is larger than the 16 MiB a ticket may have"};
    }
    if (document.empty()) {
        return {std::nullopt, "the ticket is empty"};
    }
    std::unique_ptr<xmlParserCtxt, ContextFree> context(
        xmlCreateMemoryParserCtxt(document.data(), static_cast<int>(document.size())));
    if (!context) {
        return {std::nullopt, "out of memory while reading the ticket"};
    }
    // No network, no entity substitution, no external DTD; messages go to the caller, not stderr.
    xmlCtxtUseOptions(context.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    bool documentType = false;
    context->_private = &documentType;
    context->sax->internalSubset = RefuseDocumentType;
    xmlParseDocument(context.get());
    std::unique_ptr<xmlDoc, DocFree> doc(context->myDoc);
    context->myDoc = nullptr;
    if (documentType) {
        return {std::nullopt, "the ticket has a document type declaration, which tickets never have"};
    }
    if (!doc || !context->wellFormed) {
        return {std::nullopt, ParserMessage(context.get())};
    }
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (root == nullptr || !IsFramework(root, "PrintTicket")) {
        return {std::nullopt, "the document is not a PrintTicket of the Print Schema framework"};
    }
    xmlChar* version = xmlGetNoNsProp(root, reinterpret_cast<const xmlChar*>("version"));
    const bool versionOne = version != nullptr && Text(version) == "1";
    xmlFree(version);
    if (!versionOne) {
        return {std::nullopt, "the PrintTicket is not of version 1"};
    }
    Reader reader(doc.get());
    auto ticket = reader.Read(root);
    if (!ticket) {
        return {std::nullopt, reader.Error()};
    }
    return {std::move(ticket), {}};
}

} // namespace prntvpt

// Reads a print ticket document into the ticket model, resolving every prefix through the
// document's own namespace declarations.
#pragma once

#include "plugins/prntvpt/ticket.h"

#include <optional>
#include <string>
#include <string_view>

namespace prntvpt {

// Features, options, scored properties and parameters together: a ticket with more is refused.
constexpr std::size_t kMaxTicketItems = 20000;
// Nesting of sub-features inside features.
constexpr int kMaxFeatureDepth = 8;

// The ticket, or the reason the document is not one.
struct TicketReadResult {
    std::optional<Ticket> ticket;
    std::string error;
};

// Parses a psf:PrintTicket document (UTF-8 or any encoding it declares). Refused: more than
// kMaxDocumentBytes, malformed XML, a document type declaration (tickets have none; refusing it
// keeps entity expansion out), a root that is not psf:PrintTicket, unnamed features or parameters,
// and prefixes that are not declared.
TicketReadResult ReadTicket(std::string_view document);

} // namespace prntvpt

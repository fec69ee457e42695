// Writes the ticket model as a psf:PrintTicket document.
#pragma once

#include "plugins/prntvpt/ticket.h"

#include <optional>
#include <string>

namespace prntvpt {

// The ticket as a UTF-8 document, or nothing when libxml2 could not write it (out of memory).
std::optional<std::string> WriteTicket(const Ticket& ticket);

} // namespace prntvpt

// Merging a delta ticket into a base ticket, and validating the result against the printer.
#pragma once

#include "plugins/prntvpt/printer_model.h"
#include "plugins/prntvpt/ticket.h"

namespace prntvpt {

struct MergeResult {
    Ticket ticket;
    bool conflictResolved = false; // some setting was replaced to fit the printer
};

// Base settings of this scope's levels, with the delta's features and parameters of those levels
// replacing the base's of the same name. Then each modelled feature whose option the printer does
// not offer, and each parameter out of its range, takes the printer default's setting from
// `defaults` (a feature the default does not have is dropped). Unknown features pass unchanged.
MergeResult MergeAndValidate(const PrinterModel& model, const Ticket& defaults, const Ticket& base, const Ticket& delta,
                             EPrintTicketScope scope);

} // namespace prntvpt

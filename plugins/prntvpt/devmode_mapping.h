// Between device modes and tickets: what a device mode selects as a ticket, and a ticket's
// settings applied to a device mode.
#pragma once

#include "plugins/prntvpt/printer_model.h"
#include "plugins/prntvpt/ticket.h"

namespace prntvpt {

// The device mode holds sheet sizes (tenths of a millimetre), copies and resolutions in 16 bits.
constexpr long long kMaxDevModeShort = 32767;

// The ticket that says what the device mode selects, with the features of this scope's levels.
Ticket TicketFromDevMode(const PrinterModel& model, const DEVMODEW& devMode, EPrintTicketScope scope);

// Applies the ticket's settings of this scope's levels to the public part of a device mode.
// Features and options this provider does not know are left out, as unknown settings are.
void ApplyTicket(const PrinterModel& model, const Ticket& ticket, EPrintTicketScope scope, DEVMODEW& devMode);

} // namespace prntvpt

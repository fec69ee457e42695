// CUPS queues as the registry's second source of printers.
#pragma once

#include "platform/spooler/cups_connection.h"
#include "platform/spooler/printer_definition.h"

#include <optional>
#include <string_view>
#include <vector>

namespace platform::spooler {

// The printer of the CUPS queue with exactly this name (UTF-8), if the server has one. A server
// that cannot be reached has none, and says so once on standard error (unless no CUPS runs here).
std::optional<PrinterDefinition> FindCupsPrinter(std::string_view name);

// The printers of every queue the server lists.
std::vector<PrinterDefinition> CupsPrinters();

// The queue's printer attributes the reading of a queue needs, asked of the server; null with
// `failure` filled in when the server does not answer them. The caller deletes the answer.
ipp_t* RequestQueueAttributes(const CupsConnection& connection, cups_dest_t* dest, CupsFailure& failure);

} // namespace platform::spooler

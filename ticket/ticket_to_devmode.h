// Turns a job's print ticket into a device mode for its printer.
#pragma once

#include "platform/spooler/spooler.h"

#include <string>

namespace aio {

// Asks the print-ticket provider for a device mode made of the user's default and the ticket's
// document- and page-level settings. On success *devmode is the provider's, freed with PTReleaseMemory.
HRESULT PrintTicketToDevMode(const std::u16string& printer_name, const std::string& ticket, DEVMODEW** devmode);

} // namespace aio

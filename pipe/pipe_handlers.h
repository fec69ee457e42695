// The tool's side of the exchange with the print service: one handler per command-line switch.
#pragma once

namespace aio {

// -a: replies with the capabilities document of the printer named by the request.
int PerformGetCapabilities();
// -b: replies with the print ticket of the printer's default settings.
int PerformGetTicket();
// -c: parses the job request and replies with the print job identifier.
int PerformPrintJob();

} // namespace aio

// The printer registry: the printers of this machine, from two sources. Virtual printers are
// described by one definition file each under <root>/etc/quillon/printers/; CUPS queues are the
// queues of the CUPS server the user's CUPS set-up names. The spooler calls, GDI and the Print
// Schema provider read it, and never ask which source a printer came from.
#pragma once

#include "platform/spooler/printer_definition.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The definition of the installed printer with exactly this name, if there is one. A name that
// both sources know is the virtual printer's.
std::optional<PrinterDefinition> FindPrinter(std::u16string_view name);

// Every well-formed printer definition installed, sorted by name. Malformed files and queues are
// skipped with a message on standard error.
std::vector<PrinterDefinition> InstalledPrinters();

// The folder the definitions are read from: <root>/etc/quillon/printers.
std::string PrinterFolder();

} // namespace platform

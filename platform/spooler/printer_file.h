// Reading one printer definition file (the "*.printer" INI format described in printers/README.md).
#pragma once

#include "platform/spooler/printer_definition.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::spooler {

// A definition file larger than this is not a printer definition; it is refused unread.
constexpr std::size_t kMaxPrinterFileBytes = 64 * 1024;

// A virtual printer's name is also its spool folder's name: it stays below 255 bytes of UTF-8.
constexpr std::size_t kMaxPrinterFileNameUnits = 80;

// Parses the text of one definition file into a validated printer, or the reason it was refused.
PrinterDefinitionResult ParsePrinterFile(std::string_view text);

} // namespace platform::spooler

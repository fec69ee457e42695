// Reading one printer definition file (the "*.printer" INI format described in printers/README.md).
#pragma once

#include "platform/spooler/printer_registry.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::spooler {

// A definition file larger than this is not a printer definition; it is refused unread.
constexpr std::size_t kMaxPrinterFileBytes = 64 * 1024;

// The outcome of reading one definition: the printer, or the reason it was refused.
struct PrinterFileResult {
    std::optional<PrinterDefinition> printer;
    std::string error; // set when printer is empty: one line, no file name
};

// Parses and validates the text of one definition file.
PrinterFileResult ParsePrinterFile(std::string_view text);

// The smallest and largest sheet of a printer, each dimension on its own (tenths of a millimetre):
// the range a custom size may take.
struct SheetExtent {
    std::int32_t minWidth = 0;
    std::int32_t minLength = 0;
    std::int32_t maxWidth = 0;
    std::int32_t maxLength = 0;
};
SheetExtent SheetExtentOf(const PrinterDefinition& printer);

// The paper with this number, or null.
const PaperDefinition* FindPaper(const PrinterDefinition& printer, std::int16_t number);

} // namespace platform::spooler

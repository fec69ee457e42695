// Writes a printer's psf:PrintCapabilities document.
#pragma once

#include "plugins/prntvpt/printer_model.h"

#include <optional>
#include <string>

namespace prntvpt {

// The capabilities as a UTF-8 document, or nothing when libxml2 could not write it.
std::optional<std::string> WriteCapabilities(const PrinterModel& model);

} // namespace prntvpt

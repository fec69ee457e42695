// Device modes of the Quillon virtual printers: the default of a printer and the merge of a
// caller's partial device mode into it.
#pragma once

#include "platform/spooler/printer_registry.h"
#include "platform/spooler/quillon_devmode.h"

#include <cstddef>

namespace platform::spooler {

constexpr WORD kDriverVersion = 0x0100;

// A whole device mode as this driver writes it: the public part, then the private part.
struct FullDevMode {
    DEVMODEW devMode;
    QuillonDevModeExtra extra;
};
static_assert(offsetof(FullDevMode, extra) == sizeof(DEVMODEW), "the private part follows the public part directly");
constexpr std::size_t kFullDevModeBytes = sizeof(FullDevMode);

// The dmFields a printer's device modes carry.
DWORD SupportedFields(const PrinterDefinition& printer);

// The printer's default device mode.
FullDevMode DefaultDevMode(const PrinterDefinition& printer);

// The default device mode with the fields that `input` names merged in, each corrected to the
// closest setting the printer has. Returns false (and leaves `result` alone) when `input` is too
// short to hold its own dmFields.
bool MergeDevMode(const PrinterDefinition& printer, const DEVMODEW& input, FullDevMode& result);

} // namespace platform::spooler

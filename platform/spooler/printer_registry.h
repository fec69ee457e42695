// The printer registry: the virtual printers installed on this machine, one definition file each
// under <root>/etc/quillon/printers/. The spooler calls and the Print Schema provider read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct PaperDefinition {
    std::int16_t number = 0;     // DMPAPER_* value or a driver-defined number (>= 256)
    std::u16string name;         // up to 64 UTF-16 units
    std::int32_t width = 0;      // sheet, tenths of a millimetre
    std::int32_t length = 0;     // sheet, tenths of a millimetre
    std::int32_t marginLeft = 0; // printable margins, micrometres
    std::int32_t marginTop = 0;
    std::int32_t marginRight = 0;
    std::int32_t marginBottom = 0;

    bool IsBorderless() const { return marginLeft == 0 && marginTop == 0 && marginRight == 0 && marginBottom == 0; }
};

struct PrinterDefinition {
    std::u16string name;
    std::int32_t dpi = 0;                // same resolution across and down
    std::vector<PaperDefinition> papers; // in the driver's order
    std::int16_t defaultPaper = 0;       // a paper number from papers
    std::int16_t defaultOrientation = 1; // DMORIENT_PORTRAIT or DMORIENT_LANDSCAPE
    bool color = false;
    bool duplex = false; // long and short edge
    std::int32_t copiesMin = 1;
    std::int32_t copiesMax = 1;
    bool takesJpeg = false; // JPEG bytes accepted unchanged
    bool takesPng = false;  // PNG bytes accepted unchanged
};

// The definition of the installed printer with exactly this name, if there is one.
std::optional<PrinterDefinition> FindPrinter(std::u16string_view name);

// Every well-formed printer definition installed, sorted by name. Malformed files are skipped with a
// message on standard error.
std::vector<PrinterDefinition> InstalledPrinters();

// The folder the definitions are read from: <root>/etc/quillon/printers.
std::string PrinterFolder();

} // namespace platform

// One printer as the spooler, the Print Schema provider and GDI see it, whichever source described
// it (a virtual printer's file or a CUPS queue). A definition is made only by its factory, which
// refuses a description it cannot stand behind, so every definition a caller holds has papers, a
// default paper among them, a default resolution among its resolutions, and sizes within what a
// device mode can carry.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Limits of what a definition may hold. Sizes, copies and resolutions travel in the 16-bit fields
// of a device mode, so nothing larger can be expressed to a caller.
constexpr std::size_t kMaxPrinterNameUnits = 127; // the longest queue name CUPS accepts
constexpr std::size_t kMaxPaperNameUnits = 64;    // the width of one paper name slot in the capabilities
constexpr std::size_t kMaxPapers = 256;
constexpr std::size_t kMaxResolutions = 32;
constexpr std::int32_t kMinDpi = 50;
constexpr std::int32_t kMaxDpi = 9600;
constexpr std::int32_t kMaxSheetTenths = std::numeric_limits<std::int16_t>::max();
constexpr std::int32_t kMaxCopies = std::numeric_limits<std::int16_t>::max();

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

// Where a printer comes from: it decides where its jobs go, and nothing else.
enum class PrinterSource {
    File, // a virtual printer: jobs land in its spool folder
    Cups, // a CUPS queue: jobs become CUPS jobs
};

// What a source says about a printer, before anything is checked.
struct PrinterDescription {
    std::u16string name;
    PrinterSource source = PrinterSource::File;
    std::vector<std::int32_t> resolutions; // dots per inch, the same across and down, in the driver's order
    std::int32_t defaultResolution = 0;
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

// The smallest and largest sheet of a printer, each dimension on its own (tenths of a millimetre):
// the range a custom size may take.
struct SheetExtent {
    std::int32_t minWidth = 0;
    std::int32_t minLength = 0;
    std::int32_t maxWidth = 0;
    std::int32_t maxLength = 0;
};

struct PrinterDefinitionResult;

class PrinterDefinition final {
public:
    // The definition of a description that holds together, or the reason it does not (one line).
    static PrinterDefinitionResult Create(PrinterDescription description);

    const std::u16string& Name() const { return description_.name; }
    PrinterSource Source() const { return description_.source; }
    const std::vector<std::int32_t>& Resolutions() const { return description_.resolutions; }
    std::int32_t DefaultResolution() const { return description_.defaultResolution; }
    const std::vector<PaperDefinition>& Papers() const { return description_.papers; }
    const PaperDefinition& DefaultPaper() const;
    std::int16_t DefaultOrientation() const { return description_.defaultOrientation; }
    bool Color() const { return description_.color; }
    bool Duplex() const { return description_.duplex; }
    std::int32_t CopiesMin() const { return description_.copiesMin; }
    std::int32_t CopiesMax() const { return description_.copiesMax; }
    bool TakesJpeg() const { return description_.takesJpeg; }
    bool TakesPng() const { return description_.takesPng; }

    // The first paper with this number, or null.
    const PaperDefinition* FindPaper(std::int16_t number) const;
    // The listed resolution closest to `dpi` (the lower one of two as close).
    std::int32_t ClosestResolution(std::int32_t dpi) const;
    SheetExtent Extent() const;

private:
    explicit PrinterDefinition(PrinterDescription description) : description_(std::move(description)) {}

    PrinterDescription description_;
};

struct PrinterDefinitionResult {
    std::optional<PrinterDefinition> printer;
    std::string error; // set when printer is empty: one line, no file or queue name
};

} // namespace platform

// The papers of a printer in hundredths of an inch, the paper a device mode selects, the printable
// area of a paper, and the automatic choice of a borderless 4 x 6 inch photo paper. A device mode
// given to these may be a movable global memory handle or a plain pointer.
#pragma once

#include "platform/gdiplus/gdiplus.h"
#include "platform/spooler/spooler.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aio {

// A printer paper; sizes in hundredths of an inch.
struct PaperSize {
    std::int16_t id = -1; // the printer's paper number; -1 for a size that is none of its papers
    std::u16string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
};
using PaperSizePtr = boost::shared_ptr<PaperSize>;
using PaperSizeList = std::vector<PaperSizePtr>;

// Appends one record per paper of the printer, in the driver's order (none when it has no list).
void EnumPaperSizes(const std::u16string& printer_name, PaperSizeList& papers);

// The paper the device mode selects: the first listed paper of its number when it names one, else
// a "Custom" record of its own dimensions (which may be 0 x 0). Never empty.
PaperSizePtr FindPaperSize(const std::u16string& printer_name, DEVMODEW* devmode);

// Sets a listed paper into the device mode (it stays there) and measures the printable area of a
// device context made with it: X and Y from the sheet's left and top edges, then its size, all in
// hundredths of an inch. Nothing when no device context can be made or the numbers are not a
// usable area.
std::optional<Gdiplus::RectF> MeasurePrintableArea(const PaperSize& paper, const std::u16string& printer_name,
                                                   DEVMODEW* devmode);

// The printer's default device mode in movable global memory, freed by the caller with GlobalFree;
// null when the printer gives none.
HGLOBAL GetDefaultDevModeHandle(const std::u16string& printer_name);

// One automatic choice of a borderless paper of about 4 x 6 inches for a picture job.
class AutoPaperSelector final {
public:
    explicit AutoPaperSelector(std::u16string printer_name) : printerName_(std::move(printer_name)) {}

    // Sets the first listed paper close to 4 x 6 inches, portrait as listed, whose printable area
    // starts at most a hundredth of an inch from the sheet's left and top edges into the device
    // mode; leaves the device mode as it is when there is none.
    void Apply(DEVMODEW* devmode);

private:
    std::u16string printerName_;
    std::int32_t targetWidth_ = 400;
    std::int32_t targetHeight_ = 600;
    float marginX_ = 0.0f;
    float marginY_ = 0.0f;
    PaperSizeList papers_;
};

} // namespace aio

// Where a printer's device context lies on its sheet: the numbers GetDeviceCaps answers for a
// printer and the placement of each page in its PDF, worked out once from the device mode.
#pragma once

#include "platform/spooler/devmode.h"

namespace platform::gdi {

struct PrinterGeometry {
    int dpi = 0;
    int physicalWidth = 0; // the sheet in dots, orientation applied
    int physicalHeight = 0;
    int offsetX = 0; // from the sheet's corner to the printable area's, in dots
    int offsetY = 0;
    int printableWidth = 0; // the printable area in dots; device (0, 0) is its top-left corner
    int printableHeight = 0;
    int printableWidthMm = 0;
    int printableHeightMm = 0;
};

// The geometry of a sheet printed at `dpi` with this device mode: its paper size and orientation,
// and the margins of its private part. Landscape turns the portrait sheet a quarter turn
// counter-clockwise, so the portrait bottom margin becomes the left one. The printable area lies
// inside the margins (its edges rounded inwards) and is never empty.
PrinterGeometry GeometryOf(int dpi, const spooler::FullDevMode& devMode);

} // namespace platform::gdi

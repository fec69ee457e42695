#include "platform/gdi/devices/printer_geometry.h"

#include <algorithm>
#include <cstdint>

namespace platform::gdi {
namespace {

constexpr std::int64_t kMicrometresPerInch = 25400;

std::int64_t RoundedDots(std::int64_t micrometres, std::int64_t dpi)
{
    return (micrometres * dpi * 2 + kMicrometresPerInch) / (2 * kMicrometresPerInch);
}

std::int64_t DotsDown(std::int64_t micrometres, std::int64_t dpi)
{
    return micrometres * dpi / kMicrometresPerInch;
}

std::int64_t DotsUp(std::int64_t micrometres, std::int64_t dpi)
{
    return (micrometres * dpi + kMicrometresPerInch - 1) / kMicrometresPerInch;
}

int Millimetres(std::int64_t dots, std::int64_t dpi)
{
    return static_cast<int>((dots * 254 + dpi * 5) / (dpi * 10));
}

} // namespace

PrinterGeometry GeometryOf(int dpi, const spooler::FullDevMode& devMode)
{
    const std::int64_t resolution = std::max(dpi, 1);
    std::int64_t width = std::int64_t{devMode.devMode.dmPaperWidth} * 100;
    std::int64_t height = std::int64_t{devMode.devMode.dmPaperLength} * 100;
    std::int64_t left = std::max(devMode.extra.marginLeft, 0);
    std::int64_t top = std::max(devMode.extra.marginTop, 0);
    std::int64_t right = std::max(devMode.extra.marginRight, 0);
    std::int64_t bottom = std::max(devMode.extra.marginBottom, 0);
    if (devMode.devMode.dmOrientation == DMORIENT_LANDSCAPE) {
        std::swap(width, height);
        const std::int64_t portraitLeft = left;
        left = bottom;
        bottom = right;
        right = top;
        top = portraitLeft;
    }

    PrinterGeometry geometry;
    geometry.dpi = static_cast<int>(resolution);
    geometry.physicalWidth = static_cast<int>(std::max<std::int64_t>(RoundedDots(width, resolution), 1));
    geometry.physicalHeight = static_cast<int>(std::max<std::int64_t>(RoundedDots(height, resolution), 1));
    const std::int64_t firstColumn = std::min<std::int64_t>(DotsUp(left, resolution), geometry.physicalWidth - 1);
    const std::int64_t firstRow = std::min<std::int64_t>(DotsUp(top, resolution), geometry.physicalHeight - 1);
    const std::int64_t endColumn = std::min<std::int64_t>(DotsDown(width - right, resolution), geometry.physicalWidth);
    const std::int64_t endRow = std::min<std::int64_t>(DotsDown(height - bottom, resolution), geometry.physicalHeight);
    geometry.offsetX = static_cast<int>(firstColumn);
    geometry.offsetY = static_cast<int>(firstRow);
    geometry.printableWidth = static_cast<int>(std::max<std::int64_t>(endColumn - firstColumn, 1));
    geometry.printableHeight = static_cast<int>(std::max<std::int64_t>(endRow - firstRow, 1));
    geometry.printableWidthMm = Millimetres(geometry.printableWidth, resolution);
    geometry.printableHeightMm = Millimetres(geometry.printableHeight, resolution);
    return geometry;
}

} // namespace platform::gdi

#include "platform/gdi/pictures/dib.h"

namespace platform::gdi {

std::optional<DibLayout> ReadDibLayout(const BITMAPINFOHEADER& header)
{
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1)
        return std::nullopt;
    // Both sides are checked as 64-bit values: -INT_MIN does not fit an int.
    const std::int64_t width = header.biWidth;
    const std::int64_t height = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return std::nullopt;

    DibLayout layout;
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);
    layout.topDown = header.biHeight < 0;
    layout.bitCount = header.biBitCount;
    layout.compression = header.biCompression;
    switch (header.biCompression) {
    case BI_RGB:
        if (header.biBitCount != 24 && header.biBitCount != 32)
            return std::nullopt;
        layout.stride = (static_cast<std::size_t>(width) * header.biBitCount + 31) / 32 * 4;
        layout.bitsSize = layout.stride * static_cast<std::size_t>(height);
        return layout;
    case BI_JPEG:
    case BI_PNG:
        // Compressed pictures are top-down by definition and carry their size in biSizeImage.
        if (header.biSizeImage == 0 || header.biHeight < 0)
            return std::nullopt;
        layout.bitsSize = header.biSizeImage;
        return layout;
    default:
        return std::nullopt;
    }
}

BITMAPINFOHEADER TopDown32Header(int width, int height)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
    return header;
}

} // namespace platform::gdi

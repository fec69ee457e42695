// Device-independent bitmaps as StretchDIBits and GDI+ receive them: the header read and checked
// once, so that no caller works out strides or sizes of its own.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstddef>
#include <optional>

namespace platform::gdi {

// Sides beyond this are refused: it is the largest image cairo can hold.
constexpr int kMaxDibSide = 32767;

struct DibLayout {
    int width = 0;
    int height = 0; // always positive; see topDown
    bool topDown = false;
    int bitCount = 0;         // 24 or 32 for BI_RGB; 0 for BI_JPEG and BI_PNG
    DWORD compression = 0;    // BI_RGB, BI_JPEG or BI_PNG
    std::size_t stride = 0;   // bytes per row, BI_RGB only
    std::size_t bitsSize = 0; // bytes of bits the bitmap needs: rows, or the compressed picture
};

// The layout of a bitmap this platform draws: uncompressed 24- and 32-bit rows, or a JPEG or PNG
// picture (biSizeImage bytes). Anything else, or a header that contradicts itself, gives nothing.
std::optional<DibLayout> ReadDibLayout(const BITMAPINFOHEADER& header);

// The header of a top-down 32-bit BI_RGB bitmap of width × height pixels (blue, green, red, alpha).
BITMAPINFOHEADER TopDown32Header(int width, int height);

} // namespace platform::gdi

// Renders a placed page as full-width bands of 32-bit pixels, one band in memory at a time.
#pragma once

#include "platform/win32.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/page_placement.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <span>

namespace pdf {

// A strip of the page's rectangle, placed in device units: `height` rows of `width` pixels whose
// top-left pixel lands at (left, top). Rows run top to bottom and are packed (width × 4 bytes
// each); a pixel is the bytes blue, green, red, 0xFF, the layout of a 32-bit BI_RGB bitmap (the
// last byte is opaque, so a reader that takes it for alpha sees the same picture).
struct Band {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    const BYTE* pixels = nullptr;
};

class BandRenderer final {
public:
    // The memory of one band. The page is drawn once into a recording and the recording is played
    // once per band, clipped to its rows, so more bands cost a little more time each; at this
    // size a 600-dpi Letter page is drawn in 17 bands of 8 MiB instead of one raster of 128 MiB.
    static constexpr std::size_t kBandBytes = std::size_t{8} << 20;

    // A renderer of `page` placed at `placement`, offset by the bounds' corner (left, top). Null
    // when the placement is empty or larger than kMaxRasterSide. Nothing is drawn yet.
    static std::unique_ptr<BandRenderer> Create(const Page& page, const PagePlacement& placement, int left, int top,
                                                const RenderOptions& options, std::size_t bandBytes = kBandBytes);

    // The size of the band buffer Render needs.
    std::size_t BufferBytes() const;
    int BandCount() const;
    // Where band `index` (from the top) lands, with the given pixels.
    Band BandAt(int index, const BYTE* pixels) const;

    // Draws the page, then its bands from top to bottom into `buffer` (BufferBytes() long), handing
    // each to `sink`, which answers whether it took it. True when every band was drawn and taken;
    // stops at the first failure.
    bool Render(std::span<BYTE> buffer, const std::function<bool(const Band&)>& sink) const;

private:
    BandRenderer(const Page& page, const PagePlacement& placement, int left, int top, const RenderOptions& options,
                 int bandRows);

    const Page& page_;
    PagePlacement placement_;
    int left_;
    int top_;
    RenderOptions options_;
    int bandRows_;
};

} // namespace pdf

// Renders a placed page as full-width bands of 32-bit pixels, one band in memory at a time: the
// drawing of a page that GDI calls cannot show.
#pragma once

#include "platform/win32.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/page_placement.h"

#include <cairo.h>

#include <cstddef>
#include <memory>
#include <span>

namespace pdf {

class BandRenderer final {
public:
    // The memory of one band: a 600-dpi Letter page is drawn in 17 bands of 8 MiB instead of one
    // raster of 128 MiB.
    static constexpr std::size_t kBandBytes = std::size_t{8} << 20;
    // A band holds at least this many rows, whatever its memory, so that the cuts between the
    // pieces of a picture page have room to fall in.
    static constexpr int kMinBandRows = 256;

    // A renderer of `page` placed at `placement`. Null when the placement is empty or larger than
    // kMaxRasterSide. Nothing is drawn yet.
    static std::unique_ptr<BandRenderer> Create(const Page& page, const PagePlacement& placement,
                                                const RenderOptions& options, std::size_t bandBytes = kBandBytes);
    ~BandRenderer();
    BandRenderer(const BandRenderer&) = delete;
    BandRenderer& operator=(const BandRenderer&) = delete;

    int Width() const { return placement_.width; }
    int Height() const { return placement_.height; }
    int BandRows() const { return bandRows_; }
    // The size of the buffer a band is drawn into: BandRows() rows of Width() × 4 bytes.
    std::size_t BufferBytes() const;

    // Draws the page once, into a recording that every band then plays. False when poppler cannot
    // draw it.
    bool Record();
    // Draws the page once more, clipped to the rectangle at (left, top), width × height pixels,
    // into a recording of that rectangle alone that replaces any before it: DrawArea then draws
    // rectangles inside it. What poppler makes for transparency (a soft mask, a group) is then the
    // size of the rectangle, not of the page. False for a rectangle not wholly on the page, or
    // when poppler cannot draw the page.
    bool RecordArea(int left, int top, int width, int height);
    // Draws rows [first, first + BandRows()) of the page, cut at its last row, into `buffer` on
    // white paper: each pixel blue, green, red, 0xFF. A band is an exact cut of one whole render,
    // so bands meet without seams wherever they start. False before Record, for a first row outside
    // the page, or a buffer too small.
    bool DrawRows(int first, std::span<BYTE> buffer) const;
    // Draws the rectangle of the page at (left, top), width × height pixels, into `buffer` (rows
    // packed, width × 4 bytes each) the same way. False before Record, for a rectangle not wholly
    // on the page, or a buffer too small.
    bool DrawArea(int left, int top, int width, int height, std::span<BYTE> buffer) const;

private:
    BandRenderer(const Page& page, const PagePlacement& placement, const RenderOptions& options, int bandRows);
    // Records the page clipped to `extents` (pixels of the placed page).
    bool RecordClipped(const cairo_rectangle_t& extents);

    const Page& page_;
    PagePlacement placement_;
    RenderOptions options_;
    int bandRows_;
    cairo_surface_t* recording_ = nullptr;
};

} // namespace pdf

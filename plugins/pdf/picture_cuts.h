// Where a page drawn as a picture is cut into the pictures that carry its ink. White paper is not
// painted at all (the sheet is white); a cut falls only inside a run of white rows, or, where ink
// runs on past the end of a band, inside a run of identical rows that both pieces paint, so that a
// viewer that rounds picture edges outward to whole pixels cannot paint one piece over the ink of
// another: no seam, cut line or lost rule shows.
#pragma once

#include "platform/win32.h"

#include <functional>
#include <vector>

namespace pdf {

// A piece of the page to paint: rows [top, top + rows) and columns [left, left + columns) of the
// page's raster, read from the band that holds them.
struct PicturePiece {
    int top = 0;
    int rows = 0;
    int left = 0;
    int columns = 0;
    // The band's pixels (row `top` first, `stride` bytes a row, 4 bytes a pixel) at column 0.
    const BYTE* pixels = nullptr;
    int stride = 0;
};

class PictureCutter final {
public:
    // A page raster of width × height pixels at dpiX × dpiY, drawn in bands of at most bandRows rows.
    PictureCutter(int width, int height, int bandRows, int dpiX, int dpiY);

    // Takes the band of `rows` rows starting at page row `first` (pixels blue, green, red, alpha, rows
    // packed), hands each piece that is finished to `paint` (false from it fails the page), and
    // answers the first row of the next band to draw: Height() when the page is done, -1 on failure.
    // The answer is always past `first`.
    int Take(int first, int rows, const BYTE* pixels, const std::function<bool(const PicturePiece&)>& paint);

    int Height() const { return height_; }

private:
    bool White(const BYTE* row) const;
    bool Paint(int top, int end, int first, const BYTE* pixels,
               const std::function<bool(const PicturePiece&)>& paint) const;

    int width_;
    int height_;
    int bandRows_;
    // Rows (columns) of white paper kept beside ink in a piece: two pixels of a 100-dpi view at
    // this resolution, and one row more. A white run between two pieces is at least twice the
    // rows plus one; where pieces meet in repeating rows, the run is at least the rows plus one.
    int margin_;
    int columnMargin_;
    int minimumGap_;
    std::vector<BYTE> whiteRow_;
};

} // namespace pdf

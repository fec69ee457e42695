#include "plugins/pdf/picture_cuts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pdf {
namespace {

constexpr int kBytesPerPixel = 4;
// The viewing resolution whose pixels a cut leaves room for: a viewer at half size (at 100 % and
// beyond its pixels are smaller still).
constexpr int kViewDpi = 50;
// How many of its pixels a viewer may stretch a picture's edge by: rounding it outward to a whole
// pixel, and (poppler's Splash, for one) a pixel more so that pictures laid edge to edge meet.
constexpr int kStretchedPixels = 2;

// The margin of paper kept beside ink: the rows of the pixels a viewer may stretch an edge by, and
// one row more.
int MarginRows(int dpi)
{
    return kStretchedPixels * ((dpi + kViewDpi - 1) / kViewDpi) + 1;
}

} // namespace

PictureCutter::PictureCutter(int width, int height, int bandRows, int dpiX, int dpiY)
    : width_(width),
      height_(height),
      bandRows_(bandRows),
      margin_(MarginRows(dpiY)),
      columnMargin_(MarginRows(dpiX)),
      minimumGap_(2 * margin_ + 1),
      whiteRow_(std::size_t(std::max(width, 0)) * kBytesPerPixel, 0xFF)
{}

bool PictureCutter::White(const BYTE* row) const
{
    return std::memcmp(row, whiteRow_.data(), whiteRow_.size()) == 0;
}

bool PictureCutter::Paint(int top, int end, int first, const BYTE* pixels,
                          const std::function<bool(const PicturePiece&)>& paint) const
{
    const std::size_t stride = std::size_t(width_) * kBytesPerPixel;
    // White columns at both sides are left out, a margin beside the ink kept.
    int left = width_;
    int right = -1;
    for (int row = top; row < end; ++row) {
        const auto* pixel = reinterpret_cast<const std::uint8_t*>(pixels + std::size_t(row - first) * stride);
        auto white = [&](int column) {
            return std::memcmp(pixel + std::size_t(column) * kBytesPerPixel, whiteRow_.data(), kBytesPerPixel) == 0;
        };
        int x = 0;
        while (x < left && white(x))
            ++x;
        left = std::min(left, x);
        int y = width_ - 1;
        while (y > right && white(y))
            --y;
        right = std::max(right, y);
    }
    if (right < left)
        return true;
    PicturePiece piece;
    piece.top = top;
    piece.rows = end - top;
    piece.left = std::max(0, left - columnMargin_);
    piece.columns = std::min(width_, right + 1 + columnMargin_) - piece.left;
    piece.pixels = pixels + std::size_t(top - first) * stride;
    piece.stride = int(stride);
    return paint(piece);
}

int PictureCutter::Take(int first, int rows, const BYTE* pixels, const std::function<bool(const PicturePiece&)>& paint)
{
    if (!pixels || first < 0 || rows < 1 || rows > bandRows_ || first + rows > height_)
        return -1;
    const int end = first + rows;
    const std::size_t stride = std::size_t(width_) * kBytesPerPixel;
    auto row = [&](int index) { return pixels + std::size_t(index - first) * stride; };

    // Pieces of ink apart from each other by a long enough run of white rows.
    int pieceTop = -1;
    int lastInk = -1;
    for (int index = first; index < end; ++index) {
        if (White(row(index)))
            continue;
        if (pieceTop < 0) {
            pieceTop = std::max(first, index - margin_);
        } else if (index - lastInk - 1 >= minimumGap_) {
            if (!Paint(pieceTop, lastInk + 1 + margin_, first, pixels, paint))
                return -1;
            pieceTop = index - margin_;
        }
        lastInk = index;
    }
    if (pieceTop < 0)
        // Paper only: the next band starts a margin early, so ink right after may keep its margin.
        return end >= height_ ? height_ : std::max(first + 1, end - margin_);
    if (end >= height_)
        return Paint(pieceTop, std::min(height_, lastInk + 1 + margin_), first, pixels, paint) ? height_ : -1;
    if (end - lastInk - 1 >= minimumGap_)
        return Paint(pieceTop, lastInk + 1 + margin_, first, pixels, paint) ? end - margin_ : -1;
    // A piece running into the next band is drawn again from its start, whole if it fits in a band.
    if (pieceTop > first)
        return pieceTop;

    // The piece is taller than a band. It is cut where rows repeat, in the longest run of identical
    // rows of the band's second half: it ends at the end of the run, and the next piece starts a
    // margin into the run (or at its last row, in a shorter run), so that the rows its top edge may
    // be stretched over are the same as its own first row.
    int bestStart = -1;
    int bestLast = -1;
    for (int last = end - 1; last > first + (end - first) / 2;) {
        int start = last;
        while (start > first && std::memcmp(row(start - 1), row(start), stride) == 0)
            --start;
        if (start > first && last - start > bestLast - bestStart) {
            bestStart = start;
            bestLast = last;
        }
        last = start - 1;
    }
    if (bestLast > bestStart)
        return Paint(pieceTop, bestLast + 1, first, pixels, paint) ? std::min(bestStart + margin_, bestLast) : -1;
    // No rows repeat (a photograph): the next piece overlaps this one by a gap's worth of rows.
    if (!Paint(pieceTop, end, first, pixels, paint))
        return -1;
    return end - minimumGap_ > first ? end - minimumGap_ : end;
}

} // namespace pdf

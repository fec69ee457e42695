#include "plugins/pdf/page_regions.h"

#include "platform/gdi/devices/page_notes.h"
#include "plugins/pdf/band_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace pdf {
namespace {

// The viewing resolution whose pixels a region's margin leaves room for (a viewer at half size),
// and how many of them a viewer may stretch a picture's edge by.
constexpr int kViewDpi = 50;
constexpr int kStretchedPixels = 2;
// Regions each drawn by poppler on its own at most: each costs a walk of the page, and spares the
// page-sized pictures poppler makes for a soft mask or a group when it draws the whole page. More
// regions are drawn from one walk clipped to the rectangle around them all.
constexpr std::size_t kRegionsDrawnAlone = 8;

bool Overlap(const RegionRect& a, const RegionRect& b)
{
    return a.left <= b.left + b.width && b.left <= a.left + a.width && a.top <= b.top + b.height
        && b.top <= a.top + a.height;
}

// The bytes of a row of a region's picture as it travels: 24-bit pixels, the row padded to whole
// 32-bit words as a DIB's rows are. A region's pictures are opaque, so the fourth byte the drawing
// has for each pixel would only add a quarter to the page's metafile and page file.
std::size_t PackedRowBytes(int width)
{
    return (std::size_t(width) * 3 + 3) / 4 * 4;
}

RegionRect Around(const RegionRect& a, const RegionRect& b)
{
    const int left = std::min(a.left, b.left);
    const int top = std::min(a.top, b.top);
    const int right = std::max(a.left + a.width, b.left + b.width);
    const int bottom = std::max(a.top + a.height, b.top + b.height);
    return RegionRect{left, top, right - left, bottom - top};
}

} // namespace

int RegionMargin(const PagePlacement& placement)
{
    // A viewer shows the printed sheet, so its pixels are counted in the device's dots, however
    // much the page was enlarged or reduced to fit the sheet.
    const int dpi = std::clamp(std::max(placement.dpiX, placement.dpiY), 1, 1'000'000);
    return kStretchedPixels * ((dpi + kViewDpi - 1) / kViewDpi) + 1;
}

std::vector<RegionRect> RegionRectangles(const std::vector<PageArea>& areas, const PagePlacement& placement, int margin)
{
    std::vector<RegionRect> rects;
    for (const PageArea& area : areas) {
        double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
        for (const auto& [x, y] : {std::pair{area.x0, area.y0}, std::pair{area.x1, area.y0},
                                   std::pair{area.x0, area.y1}, std::pair{area.x1, area.y1}}) {
            double px = 0, py = 0;
            placement.pageToPixels.Apply(x, y, px, py);
            left = std::min(left, px);
            top = std::min(top, py);
            right = std::max(right, px);
            bottom = std::max(bottom, py);
        }
        if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom))
            continue;
        const double x0 = std::clamp(std::floor(left) - margin, 0.0, double(placement.width));
        const double y0 = std::clamp(std::floor(top) - margin, 0.0, double(placement.height));
        const double x1 = std::clamp(std::ceil(right) + margin, 0.0, double(placement.width));
        const double y1 = std::clamp(std::ceil(bottom) + margin, 0.0, double(placement.height));
        if (x1 > x0 && y1 > y0)
            rects.push_back(RegionRect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)});
    }
    // Joined until no two overlap or touch: a join may reach a rectangle passed over before.
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < rects.size() && !joined; ++i) {
            for (std::size_t j = i + 1; j < rects.size(); ++j) {
                if (Overlap(rects[i], rects[j])) {
                    rects[i] = Around(rects[i], rects[j]);
                    rects.erase(rects.begin() + std::ptrdiff_t(j));
                    joined = true;
                    break;
                }
            }
        }
    }
    if (rects.size() > kMaxRegions) {
        RegionRect all = rects.front();
        for (const RegionRect& rect : rects)
            all = Around(all, rect);
        rects.assign(1, all);
    }
    return rects;
}

std::size_t RegionBytes(const std::vector<RegionRect>& regions)
{
    std::size_t bytes = 0;
    for (const RegionRect& region : regions)
        bytes += PackedRowBytes(region.width) * std::size_t(region.height);
    return bytes;
}

std::vector<RegionRect> RegionPieces(const RegionRect& region, const std::vector<RegionRect>& holes, int overlap)
{
    const int right = region.left + region.width;
    const int bottom = region.top + region.height;
    RegionRect hole;
    std::int64_t largest = 0;
    for (const RegionRect& candidate : holes) {
        const int x0 = std::max(region.left, candidate.left);
        const int y0 = std::max(region.top, candidate.top);
        const int x1 = std::min(right, candidate.left + candidate.width);
        const int y1 = std::min(bottom, candidate.top + candidate.height);
        const std::int64_t pixels = x1 > x0 && y1 > y0 ? std::int64_t(x1 - x0) * (y1 - y0) : 0;
        if (pixels > largest) {
            largest = pixels;
            hole = RegionRect{x0, y0, x1 - x0, y1 - y0};
        }
    }
    // A hole no wider than the pieces' overlap spares nothing.
    if (largest == 0 || hole.width <= 2 * overlap || hole.height <= 2 * overlap)
        return {region};
    const int holeRight = hole.left + hole.width;
    const int holeBottom = hole.top + hole.height;
    std::vector<RegionRect> pieces;
    if (hole.top > region.top)
        pieces.push_back(RegionRect{region.left, region.top, region.width, hole.top - region.top});
    if (holeBottom < bottom)
        pieces.push_back(RegionRect{region.left, holeBottom, region.width, bottom - holeBottom});
    // The pieces beside the hole reach into the bands above and below it, whose pixels are the same.
    const int sideTop = std::max(region.top, hole.top - overlap);
    const int sideBottom = std::min(bottom, holeBottom + overlap);
    if (hole.left > region.left)
        pieces.push_back(RegionRect{region.left, sideTop, hole.left - region.left, sideBottom - sideTop});
    if (holeRight < right)
        pieces.push_back(RegionRect{holeRight, sideTop, right - holeRight, sideBottom - sideTop});
    return pieces;
}

bool PaintRegions(const Page& page, const PagePlacement& placement, int left, int top, const RenderOptions& options,
                  const std::vector<RegionRect>& regions, const std::vector<RegionRect>& holes, HDC dc)
{
    if (regions.empty())
        return true;
    const std::unique_ptr<BandRenderer> renderer = BandRenderer::Create(page, placement, options);
    if (!renderer)
        return false;
    const bool alone = regions.size() <= kRegionsDrawnAlone;
    if (!alone) {
        RegionRect all = regions.front();
        for (const RegionRect& region : regions)
            all = Around(all, region);
        if (!renderer->RecordArea(all.left, all.top, all.width, all.height))
            return false;
    }
    // A region is painted in strips of at most a band's memory, each starting a margin of rows
    // before the last one ended: the rows both paint are the same, so however a viewer rounds a
    // strip's edge, it lands on rows that show the same.
    const int overlap = RegionMargin(placement);
    std::vector<BYTE> pixels;
    std::vector<BYTE> packed;
    BYTE note[8];
    const DWORD noteWords[2] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNoteRegion};
    std::memcpy(note, noteWords, sizeof note);
    for (const RegionRect& region : regions) {
        if (alone && !renderer->RecordArea(region.left, region.top, region.width, region.height))
            return false;
        // The printer counts the areas painted as pixels.
        if (!GdiComment(dc, sizeof note, note))
            return false;
        // The pieces of a region are cuts of its one drawing, so where they overlap their pixels
        // are the same, as the strips' are.
        for (const RegionRect& piece : RegionPieces(region, holes, overlap)) {
            const std::size_t rowBytes = std::size_t(piece.width) * 4;
            const int stripRows
                = int(std::max<std::size_t>(BandRenderer::kBandBytes / rowBytes, 2 * std::size_t(overlap)));
            for (int first = 0; first < piece.height;) {
                const int rows = std::min(stripRows, piece.height - first);
                pixels.resize(rowBytes * std::size_t(rows));
                if (!renderer->DrawArea(piece.left, piece.top + first, piece.width, rows, pixels))
                    return false;
                const std::size_t packedRow = PackedRowBytes(piece.width);
                packed.assign(packedRow * std::size_t(rows), 0);
                for (int row = 0; row < rows; ++row) {
                    const BYTE* from = pixels.data() + std::size_t(row) * rowBytes;
                    BYTE* to = packed.data() + std::size_t(row) * packedRow;
                    for (int x = 0; x < piece.width; ++x, from += 4, to += 3) {
                        to[0] = from[0];
                        to[1] = from[1];
                        to[2] = from[2];
                    }
                }
                BITMAPINFO info{};
                info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
                info.bmiHeader.biWidth = piece.width;
                info.bmiHeader.biHeight = -rows;
                info.bmiHeader.biPlanes = 1;
                info.bmiHeader.biBitCount = 24;
                info.bmiHeader.biCompression = BI_RGB;
                info.bmiHeader.biSizeImage = DWORD(packed.size());
                if (StretchDIBits(dc, left + placement.x + piece.left, top + placement.y + piece.top + first,
                                  piece.width, rows, 0, 0, piece.width, rows, packed.data(), &info, DIB_RGB_COLORS,
                                  SRCCOPY)
                    == 0)
                    return false;
                first = first + rows >= piece.height ? piece.height : first + rows - overlap;
            }
        }
    }
    return true;
}

} // namespace pdf

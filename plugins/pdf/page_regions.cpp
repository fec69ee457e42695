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

bool Overlap(const RegionRect& a, const RegionRect& b)
{
    return a.left <= b.left + b.width && b.left <= a.left + a.width && a.top <= b.top + b.height
        && b.top <= a.top + a.height;
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
    // Pixels per point across and down, whichever way the page is turned.
    const Matrix& m = placement.pageToPixels;
    const double perPoint = std::max(std::hypot(m.a, m.b), std::hypot(m.c, m.d));
    const int dpi = int(std::ceil(std::min(perPoint * 72, 1e6)));
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
        bytes += std::size_t(region.width) * std::size_t(region.height) * 4;
    return bytes;
}

bool PaintRegions(const Page& page, const PagePlacement& placement, int left, int top, const RenderOptions& options,
                  const std::vector<RegionRect>& regions, HDC dc)
{
    if (regions.empty())
        return true;
    const std::unique_ptr<BandRenderer> renderer = BandRenderer::Create(page, placement, options);
    if (!renderer || !renderer->Record())
        return false;
    // A region is painted in strips of at most a band's memory, each starting a margin of rows
    // before the last one ended: the rows both paint are the same, so however a viewer rounds a
    // strip's edge, it lands on rows that show the same.
    const int overlap = RegionMargin(placement);
    std::vector<BYTE> pixels;
    BYTE note[8];
    const DWORD noteWords[2] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNoteRegion};
    std::memcpy(note, noteWords, sizeof note);
    for (const RegionRect& region : regions) {
        // The printer counts the areas painted as pixels.
        if (!GdiComment(dc, sizeof note, note))
            return false;
        const std::size_t rowBytes = std::size_t(region.width) * 4;
        const int stripRows = int(std::max<std::size_t>(BandRenderer::kBandBytes / rowBytes, 2 * std::size_t(overlap)));
        for (int first = 0; first < region.height;) {
            const int rows = std::min(stripRows, region.height - first);
            pixels.resize(rowBytes * std::size_t(rows));
            if (!renderer->DrawArea(region.left, region.top + first, region.width, rows, pixels))
                return false;
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = region.width;
            info.bmiHeader.biHeight = -rows;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            info.bmiHeader.biSizeImage = DWORD(pixels.size());
            if (StretchDIBits(dc, left + placement.x + region.left, top + placement.y + region.top + first,
                              region.width, rows, 0, 0, region.width, rows, pixels.data(), &info, DIB_RGB_COLORS,
                              SRCCOPY)
                == 0)
                return false;
            first = first + rows >= region.height ? region.height : first + rows - overlap;
        }
    }
    return true;
}

} // namespace pdf

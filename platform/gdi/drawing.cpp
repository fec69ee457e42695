#include "platform/gdi/drawing.h"

#include <algorithm>
#include <cmath>

namespace platform::gdi {

void ExtentD::Add(const PointD& point)
{
    if (empty) {
        left = right = point.x;
        top = bottom = point.y;
        empty = false;
        return;
    }
    left = std::min(left, point.x);
    right = std::max(right, point.x);
    top = std::min(top, point.y);
    bottom = std::max(bottom, point.y);
}

void ExtentD::Add(const ExtentD& other)
{
    if (other.empty)
        return;
    Add(PointD{other.left, other.top});
    Add(PointD{other.right, other.bottom});
}

void ExtentD::Grow(double x, double y)
{
    if (empty)
        return;
    left -= x;
    right += x;
    top -= y;
    bottom += y;
}

ExtentD ExtentOf(std::span<const PathPoint> points)
{
    ExtentD extent;
    for (const PathPoint& point : points)
        extent.Add(point.point);
    return extent;
}

RECTL BoundsOf(const ExtentD& extent)
{
    if (extent.empty || !std::isfinite(extent.left) || !std::isfinite(extent.top) || !std::isfinite(extent.right)
        || !std::isfinite(extent.bottom))
        return RECTL{0, 0, -1, -1};
    auto clamp = [](double value) { return static_cast<LONG>(std::clamp(value, -2147483648.0, 2147483647.0)); };
    // A point drawn at x covers pixel floor(x); an extent from 10 to 20 covers pixels 10 to 19.
    RECTL bounds{clamp(std::floor(extent.left)), clamp(std::floor(extent.top)), clamp(std::ceil(extent.right) - 1),
                 clamp(std::ceil(extent.bottom) - 1)};
    bounds.right = std::max(bounds.right, bounds.left);
    bounds.bottom = std::max(bounds.bottom, bounds.top);
    return bounds;
}

DashPattern NormaliseDashes(std::span<const DWORD> entries)
{
    DashPattern pattern;
    if (entries.size() < 2)
        return pattern;
    double gaps = 0;
    for (std::size_t i = 1; i < entries.size(); i += 2)
        gaps += entries[i];
    if (gaps == 0)
        return pattern;
    if (entries.size() % 2 == 0) {
        pattern.lengths.assign(entries.begin(), entries.end());
        return pattern;
    }
    // Odd: the last entry is a dash followed by the first, also a dash. The pattern starts with
    // both as one, the line entering it after the last entry's length.
    pattern.lengths.push_back(static_cast<double>(entries.back()) + entries.front());
    pattern.lengths.insert(pattern.lengths.end(), entries.begin() + 1, entries.end() - 1);
    pattern.offset = entries.back();
    return pattern;
}

} // namespace platform::gdi

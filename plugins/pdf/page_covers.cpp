#include "plugins/pdf/page_covers.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pdf {
namespace {

using Point = std::pair<double, double>;

// Steps an inscribed box is shrunk by at most, each 1/kShrinkSteps of half its shorter side.
constexpr int kShrinkSteps = 64;

struct Box {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
};

Box BoxOf(std::span<const Point> points)
{
    Box box;
    for (const auto& [x, y] : points) {
        box.x0 = std::min(box.x0, x);
        box.y0 = std::min(box.y0, y);
        box.x1 = std::max(box.x1, x);
        box.y1 = std::max(box.y1, y);
    }
    return box;
}

// The polygon's corners: points repeated one after the other, and the last repeating the first
// (a closed path ends where it began), are left out. Empty when a point is not finite.
std::vector<Point> Corners(std::span<const Point> polygon, double tolerance)
{
    std::vector<Point> corners;
    for (const Point& point : polygon) {
        if (!std::isfinite(point.first) || !std::isfinite(point.second))
            return {};
        if (corners.empty() || std::abs(point.first - corners.back().first) > tolerance
            || std::abs(point.second - corners.back().second) > tolerance)
            corners.push_back(point);
    }
    while (corners.size() > 1 && std::abs(corners.front().first - corners.back().first) <= tolerance
           && std::abs(corners.front().second - corners.back().second) <= tolerance)
        corners.pop_back();
    return corners;
}

// How far a size's coordinates may differ and still be the same: far below a dot of any printer.
double Tolerance(const Box& box)
{
    return 1e-6 * std::max({1.0, box.x1 - box.x0, box.y1 - box.y0});
}

} // namespace

bool IsBox(std::span<const Point> polygon)
{
    const Box box = BoxOf(polygon);
    const double tolerance = Tolerance(box);
    const std::vector<Point> corners = Corners(polygon, tolerance);
    if (corners.size() != 4 || !(box.x1 - box.x0 > tolerance) || !(box.y1 - box.y0 > tolerance))
        return false;
    auto same = [tolerance](double a, double b) { return std::abs(a - b) <= tolerance; };
    for (std::size_t i = 0; i < 4; ++i) {
        const Point& a = corners[i];
        const Point& b = corners[(i + 1) % 4];
        // Each corner is one of the box's, and each side runs along one axis only.
        if (!(same(a.first, box.x0) || same(a.first, box.x1)) || !(same(a.second, box.y0) || same(a.second, box.y1)))
            return false;
        if (same(a.first, b.first) == same(a.second, b.second))
            return false;
        // Sides along one axis and the other by turns: no side runs back along the one before.
        const Point& c = corners[(i + 2) % 4];
        if (same(a.second, b.second) == same(b.second, c.second))
            return false;
    }
    return true;
}

std::optional<PageArea> BoxInside(std::span<const Point> polygon)
{
    if (polygon.size() > kMaxCoverPoints)
        return std::nullopt;
    const Box box = BoxOf(polygon);
    const double tolerance = Tolerance(box);
    const std::vector<Point> corners = Corners(polygon, tolerance);
    const std::size_t n = corners.size();
    if (n < 3)
        return std::nullopt;
    // Twice the signed area gives the way round; every turn must go that way (or straight on).
    double area = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& a = corners[i];
        const Point& b = corners[(i + 1) % n];
        area += a.first * b.second - b.first * a.second;
    }
    if (!(std::abs(area) > tolerance * tolerance))
        return std::nullopt;
    const double way = area > 0 ? 1 : -1;
    // A point's distance inside the side from a to b (negative outside it).
    auto inside = [&](const Point& a, const Point& b, double x, double y) {
        const double dx = b.first - a.first, dy = b.second - a.second;
        const double length = std::hypot(dx, dy);
        return length > 0 ? way * (dx * (y - a.second) - dy * (x - a.first)) / length : 0.0;
    };
    // Convex and once round: every turn the same way, and the turns together one full turn (a star
    // turns the same way at every point, but twice round).
    double turned = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point& a = corners[i];
        const Point& b = corners[(i + 1) % n];
        const Point& c = corners[(i + 2) % n];
        if (inside(a, b, c.first, c.second) < -tolerance)
            return std::nullopt;
        const double ux = b.first - a.first, uy = b.second - a.second;
        const double vx = c.first - b.first, vy = c.second - b.second;
        turned += std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
    }
    if (std::abs(std::abs(turned) - 2 * M_PI) > 1e-3)
        return std::nullopt;
    auto holds = [&](double x, double y) {
        for (std::size_t i = 0; i < n; ++i) {
            if (inside(corners[i], corners[(i + 1) % n], x, y) < -tolerance)
                return false;
        }
        return true;
    };
    const double half = std::min(box.x1 - box.x0, box.y1 - box.y0) / 2;
    for (int step = 0; step < kShrinkSteps; ++step) {
        const double d = half * step / kShrinkSteps;
        const PageArea shrunk{box.x0 + d, box.y0 + d, box.x1 - d, box.y1 - d};
        if (holds(shrunk.x0, shrunk.y0) && holds(shrunk.x1, shrunk.y0) && holds(shrunk.x0, shrunk.y1)
            && holds(shrunk.x1, shrunk.y1))
            return shrunk;
    }
    return std::nullopt;
}

std::vector<RegionRect> CoveredRectangles(const std::vector<PageArea>& covers, const PagePlacement& placement,
                                          int margin)
{
    const Matrix& m = placement.pageToPixels;
    const double scale = std::max({std::abs(m.a), std::abs(m.b), std::abs(m.c), std::abs(m.d)});
    const double tiny = 1e-9 * scale;
    const bool quarterTurns
        = (std::abs(m.b) <= tiny && std::abs(m.c) <= tiny) || (std::abs(m.a) <= tiny && std::abs(m.d) <= tiny);
    std::vector<RegionRect> rects;
    if (!(scale > 0) || !quarterTurns)
        return rects;
    for (const PageArea& cover : covers) {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        m.Apply(cover.x0, cover.y0, x0, y0);
        m.Apply(cover.x1, cover.y1, x1, y1);
        if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
            continue;
        // Only whole pixels the cover hides, less the margin, and within the raster.
        const double left = std::max(std::ceil(std::min(x0, x1)) + margin, 0.0);
        const double top = std::max(std::ceil(std::min(y0, y1)) + margin, 0.0);
        const double right = std::min(std::floor(std::max(x0, x1)) - margin, double(placement.width));
        const double bottom = std::min(std::floor(std::max(y0, y1)) - margin, double(placement.height));
        if (right > left && bottom > top)
            rects.push_back(RegionRect{int(left), int(top), int(right - left), int(bottom - top)});
    }
    return rects;
}

} // namespace pdf

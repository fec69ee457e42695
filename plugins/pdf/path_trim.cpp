#include "plugins/pdf/path_trim.h"

#include <array>
#include <cmath>

namespace pdf {
namespace {

// Pieces a curve is measured in: the cut lies within a ten-thousandth of its length on curves as
// bent as a quarter circle.
constexpr int kCurvePieces = 32;

struct Point {
    double x = 0;
    double y = 0;
};

Point Mix(Point a, Point b, double t)
{
    return Point{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

double Distance(Point a, Point b)
{
    return std::hypot(b.x - a.x, b.y - a.y);
}

using Curve = std::array<Point, 4>;

Point CurveAt(const Curve& c, double t)
{
    const Point ab = Mix(c[0], c[1], t), bc = Mix(c[1], c[2], t), cd = Mix(c[2], c[3], t);
    return Mix(Mix(ab, bc, t), Mix(bc, cd, t), t);
}

// The part of the curve from parameter t to its end (de Casteljau's split).
Curve CurveFrom(const Curve& c, double t)
{
    const Point ab = Mix(c[0], c[1], t), bc = Mix(c[1], c[2], t), cd = Mix(c[2], c[3], t);
    const Point abc = Mix(ab, bc, t), bcd = Mix(bc, cd, t);
    return Curve{Mix(abc, bcd, t), bcd, cd, c[3]};
}

// Where along the curve `length` is reached: its parameter, or a negative value when the curve is
// shorter (`length` then less by the curve's length).
double CurveParameterAt(const Curve& c, double& length)
{
    Point previous = c[0];
    for (int i = 1; i <= kCurvePieces; ++i) {
        const double t = double(i) / kCurvePieces;
        const Point next = CurveAt(c, t);
        const double piece = Distance(previous, next);
        if (piece >= length && piece > 0)
            return t - (1 - length / piece) / kCurvePieces;
        length -= piece;
        previous = next;
    }
    return -1;
}

// Appends the subpath without its first `length`; nothing when it is no longer than that.
void AppendTrimmed(const GfxSubpath& subpath, double length, GfxPath& out)
{
    const int count = subpath.getNumPoints();
    auto at = [&](int i) { return Point{subpath.getX(i), subpath.getY(i)}; };
    bool started = false;
    auto start = [&](Point p) {
        out.moveTo(p.x, p.y);
        started = true;
    };
    Point current = at(0);
    int i = 1;
    // Each segment is walked until the cut falls inside it; the rest is copied as it stands.
    while (i < count) {
        const bool curve = subpath.getCurve(i) && i + 2 < count;
        if (curve) {
            const Curve c{current, at(i), at(i + 1), at(i + 2)};
            if (started) {
                out.curveTo(c[1].x, c[1].y, c[2].x, c[2].y, c[3].x, c[3].y);
            } else if (const double t = CurveParameterAt(c, length); t >= 0) {
                const Curve rest = CurveFrom(c, t);
                start(rest[0]);
                out.curveTo(rest[1].x, rest[1].y, rest[2].x, rest[2].y, rest[3].x, rest[3].y);
            }
            current = c[3];
            i += 3;
            continue;
        }
        const Point next = at(i);
        if (started) {
            out.lineTo(next.x, next.y);
        } else {
            const double segment = Distance(current, next);
            if (segment >= length && segment > 0) {
                start(Mix(current, next, length / segment));
                out.lineTo(next.x, next.y);
            } else {
                length -= segment;
            }
        }
        current = next;
        ++i;
    }
    // The closing segment back to where the subpath began, when the subpath does not end there.
    const Point first = at(0);
    if (subpath.isClosed() && (current.x != first.x || current.y != first.y)) {
        if (started) {
            out.lineTo(first.x, first.y);
        } else if (const double segment = Distance(current, first); segment > length) {
            start(Mix(current, first, length / segment));
            out.lineTo(first.x, first.y);
        }
    }
}

} // namespace

std::unique_ptr<GfxPath> TrimSubpathStarts(const GfxPath& path, double length)
{
    std::unique_ptr<GfxPath> trimmed(path.copy());
    if (!(length > 0) || !std::isfinite(length))
        return trimmed;
    trimmed = std::make_unique<GfxPath>();
    for (int i = 0; i < path.getNumSubpaths(); ++i)
        AppendTrimmed(*path.getSubpath(i), length, *trimmed);
    return trimmed;
}

} // namespace pdf

#include "plugins/pdf/stroke_outline.h"

#include <splash/Splash.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashPath.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pdf {
namespace {

// How far a flattened curve may stray from the true one, in device units.
constexpr double kFlatness = 0.5;
// Pieces a curve is cut into at most when it is flattened.
constexpr int kMaxCurvePieces = 256;
// Dashes one stroke is cut into at most; a finer pattern has no outline made here. Each dash's
// outline holds some ten points, as does each point of a line (its sides, caps and joins): an
// outline stays within a few hundred thousand points, well within the clip points a page's
// playback holds.
constexpr std::size_t kMaxDashes = 10'000;
// Points of a stroke's line once flattened, at most: past this its curves are cut more coarsely.
constexpr double kMaxLinePoints = 20'000;

using Point = PathPoint;

// The pieces a curve from c[0] to c[3] is cut into so that none strays more than kFlatness device
// units from it: a cubic's uniform pieces stray at most 3/4 of its largest second difference over
// the pieces squared.
int CurvePieces(const Point (&c)[4], const Matrix& userToDevice)
{
    const Matrix linear{userToDevice.a, userToDevice.b, userToDevice.c, userToDevice.d, 0, 0};
    double bend = 0;
    for (int i = 0; i + 2 < 4; ++i) {
        double dx = 0, dy = 0;
        linear.Apply(c[i].x - 2 * c[i + 1].x + c[i + 2].x, c[i].y - 2 * c[i + 1].y + c[i + 2].y, dx, dy);
        bend = std::max(bend, std::hypot(dx, dy));
    }
    const double pieces = std::ceil(std::sqrt(0.75 * bend / kFlatness));
    return std::isfinite(pieces) ? int(std::clamp(pieces, 1.0, double(kMaxCurvePieces))) : 1;
}

// The points the path's lines have once its curves are flattened.
double FlattenedPoints(const GfxPath& path, const Matrix& userToDevice)
{
    double points = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        const int count = subpath->getNumPoints();
        points += 1;
        for (int p = 1; p < count;) {
            if (subpath->getCurve(p) && p + 2 < count) {
                const Point c[4] = {{subpath->getX(p - 1), subpath->getY(p - 1)},
                                    {subpath->getX(p), subpath->getY(p)},
                                    {subpath->getX(p + 1), subpath->getY(p + 1)},
                                    {subpath->getX(p + 2), subpath->getY(p + 2)}};
                points += CurvePieces(c, userToDevice);
                p += 3;
            } else {
                points += 1;
                ++p;
            }
        }
    }
    return points;
}

// Appends the dashes of `path` (its even pattern in user lengths, started afresh on every subpath
// at `phase`) to `out`, each an open subpath; a dash of no length is one of two equal points (a dot
// with round or square caps). False past kMaxDashes.
bool AppendDashes(const GfxPath& path, const std::vector<double>& pattern, double phase, const Matrix& userToDevice,
                  double share, SplashPath& out)
{
    double total = 0;
    for (double length : pattern)
        total += length;
    std::size_t dashes = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        if (subpath->getNumPoints() < 1)
            continue;
        // The element the phase falls in, and how much of it is left; a dash of no length where
        // the phase lands is kept.
        double offset = std::fmod(phase, total);
        if (offset < 0)
            offset += total;
        std::size_t element = 0;
        for (std::size_t steps = 0;
             steps <= pattern.size() && offset >= pattern[element] && !(offset == 0 && pattern[element] == 0);
             ++steps) {
            offset -= pattern[element];
            element = (element + 1) % pattern.size();
        }
        double left = std::max(0.0, pattern[element] - offset);
        // A dash is begun at its first point and made a subpath with its second, so that no
        // subpath of one point is left (poppler's paths refuse the next one after it).
        bool inDash = element % 2 == 0;
        bool begun = false;
        const std::vector<Point> points = Flattened(*subpath, userToDevice, share);
        Point at = points.front();
        Point dashStart = at;
        auto lineTo = [&](Point to) {
            if (!begun) {
                if (++dashes > kMaxDashes)
                    return false;
                out.moveTo(dashStart.x, dashStart.y);
                begun = true;
            }
            out.lineTo(to.x, to.y);
            return true;
        };
        auto nextElement = [&]() {
            element = (element + 1) % pattern.size();
            left = pattern[element];
            inDash = element % 2 == 0;
            begun = false;
            dashStart = at;
            return !inDash || left > 0 || lineTo(at);
        };
        if (inDash && left <= 0 && (!lineTo(at) || !nextElement()))
            return false;
        for (std::size_t p = 1; p < points.size(); ++p) {
            const Point to = points[p];
            double length = std::hypot(to.x - at.x, to.y - at.y);
            while (length > 0) {
                const double step = std::min(left, length);
                const double t = step / length;
                at = Point{at.x + (to.x - at.x) * t, at.y + (to.y - at.y) * t};
                length -= step;
                left -= step;
                if (inDash && !lineTo(at))
                    return false;
                while (left <= 0) {
                    if (!nextElement())
                        return false;
                }
            }
        }
    }
    return true;
}

} // namespace

std::vector<PathPoint> Flattened(const GfxSubpath& subpath, const Matrix& userToDevice, double share)
{
    std::vector<Point> points;
    const int count = subpath.getNumPoints();
    points.push_back({subpath.getX(0), subpath.getY(0)});
    for (int p = 1; p < count;) {
        if (subpath.getCurve(p) && p + 2 < count) {
            const Point c[4] = {points.back(),
                                {subpath.getX(p), subpath.getY(p)},
                                {subpath.getX(p + 1), subpath.getY(p + 1)},
                                {subpath.getX(p + 2), subpath.getY(p + 2)}};
            const int pieces = std::max(1, int(CurvePieces(c, userToDevice) * share));
            for (int i = 1; i <= pieces; ++i) {
                const double t = double(i) / pieces, u = 1 - t;
                points.push_back(
                    {u * u * u * c[0].x + 3 * u * u * t * c[1].x + 3 * u * t * t * c[2].x + t * t * t * c[3].x,
                     u * u * u * c[0].y + 3 * u * u * t * c[1].y + 3 * u * t * t * c[2].y + t * t * t * c[3].y});
            }
            p += 3;
        } else {
            points.push_back({subpath.getX(p), subpath.getY(p)});
            ++p;
        }
    }
    if (subpath.isClosed())
        points.push_back(points.front());
    return points;
}

bool HasOutline(GfxState* state, const GfxPath& path)
{
    double phase = 0;
    const double width = state ? state->getLineWidth() : 0;
    if (!state || !(width > 0) || !std::isfinite(width))
        return false;
    const std::vector<double>& pattern = state->getLineDash(&phase);
    double total = 0;
    for (double length : pattern) {
        if (!(length >= 0) || !std::isfinite(length))
            return false;
        total += length;
    }
    if (!(total > 0))
        return true;
    if (!std::isfinite(phase))
        return false;
    // Each cycle of the pattern holds at most its elements' worth of dashes (twice over for an
    // odd one), and each subpath may start and end inside one.
    double dashes = 0;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        double length = 0;
        for (int p = 1; p < subpath->getNumPoints(); ++p)
            length += std::hypot(subpath->getX(p) - subpath->getX(p - 1), subpath->getY(p) - subpath->getY(p - 1));
        if (subpath->isClosed() && subpath->getNumPoints() > 0)
            length += std::hypot(subpath->getX(0) - subpath->getLastX(), subpath->getY(0) - subpath->getLastY());
        dashes += (length / total + 2) * double(pattern.size());
    }
    return dashes <= double(kMaxDashes);
}

std::unique_ptr<GfxPath> StrokeOutline(GfxState* state, const GfxPath& path, const Matrix& userToDevice)
{
    if (!HasOutline(state, path) || !(std::abs(userToDevice.Determinant()) > 0)
        || !std::isfinite(userToDevice.Determinant()))
        return nullptr;
    double phase = 0;
    const double width = state->getLineWidth();
    const std::vector<double>& pattern = state->getLineDash(&phase);
    double total = 0;
    for (double length : pattern)
        total += length;
    const bool dashed = total > 0;
    // Poppler's own stroker makes the outline: the same shape its rasteriser fills for a stroke.
    // It works on lines in user space (its own flattening cuts curves far finer than a dot), and
    // the matrix places its round caps and joins.
    SplashBitmap bitmap(1, 1, 1, splashModeMono8, false);
    Splash splash(&bitmap, false, static_cast<SplashScreenParams*>(nullptr));
    SplashCoord matrix[6]
        = {userToDevice.a, userToDevice.b, userToDevice.c, userToDevice.d, userToDevice.e, userToDevice.f};
    splash.setMatrix(matrix);
    splash.setLineWidth(width);
    splash.setLineCap(state->getLineCap());
    splash.setLineJoin(state->getLineJoin());
    splash.setMiterLimit(std::max(1.0, state->getMiterLimit()));
    splash.setStrokeAdjust(false);

    // Curves are cut more coarsely where they would make more line points than an outline holds.
    const double points = FlattenedPoints(path, userToDevice);
    const double share = points > kMaxLinePoints ? kMaxLinePoints / points : 1;
    SplashPath in;
    if (dashed) {
        std::vector<double> cycle = pattern;
        // An odd pattern repeats with dashes and gaps swapped: twice over it is even.
        if (cycle.size() % 2 == 1)
            cycle.insert(cycle.end(), pattern.begin(), pattern.end());
        if (!AppendDashes(path, cycle, phase, userToDevice, share, in))
            return nullptr;
    }
    for (int i = 0; i < path.getNumSubpaths() && !dashed; ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        if (subpath->getNumPoints() < 1)
            continue;
        const std::vector<Point> line = Flattened(*subpath, userToDevice, share);
        in.moveTo(line.front().x, line.front().y);
        for (std::size_t p = 1; p < line.size(); ++p)
            in.lineTo(line[p].x, line[p].y);
        if (subpath->isClosed())
            in.close();
    }

    auto outline = std::make_unique<GfxPath>();
    const std::unique_ptr<SplashPath> out(splash.makeStrokePath(&in, width, false));
    if (!out)
        return outline;
    for (int i = 0; i < out->getLength();) {
        double x = 0, y = 0;
        unsigned char flags = 0;
        out->getPoint(i, &x, &y, &flags);
        if (flags & splashPathFirst) {
            outline->moveTo(x, y);
            ++i;
        } else if ((flags & splashPathCurve) && i + 2 < out->getLength()) {
            double x2 = 0, y2 = 0, x3 = 0, y3 = 0;
            unsigned char unused = 0;
            out->getPoint(i + 1, &x2, &y2, &unused);
            out->getPoint(i + 2, &x3, &y3, &flags);
            outline->curveTo(x, y, x2, y2, x3, y3);
            i += 3;
        } else {
            outline->lineTo(x, y);
            ++i;
        }
        if ((flags & splashPathLast) && (flags & splashPathClosed))
            outline->close();
    }
    return outline;
}

} // namespace pdf

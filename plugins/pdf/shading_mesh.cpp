#include "plugins/pdf/shading_mesh.h"

#include <GfxState.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <utility>

namespace pdf {
namespace {

// The frame's coordinates span at most this many units either way: fine enough for any page, far
// inside GDI's 32-bit coordinates.
constexpr double kFrameSpan = double(1 << 24);
// A parameter range is cut into at most this many parts; the search for the end of a part halves
// its distance at most this many times, and a part is straight when this many points along it
// (less one) lie near the straight line between its ends.
constexpr int kMaxStops = 4096;
constexpr int kStopSearches = 16;
constexpr int kStraightChecks = 8;
// A function's grid starts with this many cells a side.
constexpr int kFirstCells = 8;
// Sides of a circle, cells of a function's grid, rows of a patch's grid: the most any one gets.
constexpr int kMinCircleSides = 16;
// The narrowest ring of a radial shading, in points: two dots at 600 dpi.
constexpr double kNarrowestRing = 0.25;
constexpr int kMaxCircleSides = 1024;
constexpr int kMaxFunctionCells = 64;
constexpr int kMaxPatchRows = 64;

struct Colour {
    double red = 0;
    double green = 0;
    double blue = 0;
};

Colour Mix(const Colour& a, const Colour& b, double share)
{
    return Colour{a.red + (b.red - a.red) * share, a.green + (b.green - a.green) * share,
                  a.blue + (b.blue - a.blue) * share};
}

bool Within(const Colour& a, const Colour& b, double tolerance)
{
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance
        && std::abs(a.blue - b.blue) <= tolerance;
}

bool Near(const Colour& a, const Colour& b)
{
    return Within(a, b, kColourTolerance);
}

Colour ToColour(GfxColorSpace& space, const GfxColor& color)
{
    GfxRGB rgb;
    space.getRGB(&color, &rgb);
    return Colour{std::clamp(colToDbl(rgb.r), 0.0, 1.0), std::clamp(colToDbl(rgb.g), 0.0, 1.0),
                  std::clamp(colToDbl(rgb.b), 0.0, 1.0)};
}

// The colour of an axial or radial shading at s of its way from its start (0) to its end (1), the
// same as at its ends beyond them.
std::function<Colour(double)> ColourAlong(GfxUnivariateShading& shading)
{
    const double t0 = shading.getDomain0();
    const double t1 = shading.getDomain1();
    return [&shading, t0, t1](double s) {
        GfxColor color;
        shading.getColor(t0 + std::clamp(s, 0.0, 1.0) * (t1 - t0), &color);
        return ToColour(*shading.getColorSpace(), color);
    };
}

// A vertex in user space, before the pieces are put into their frame.
struct Corner {
    double x = 0;
    double y = 0;
    Colour colour;
};

// Triangles in user space being collected; false once there would be more than `maxPieces`.
struct Triangles {
    std::vector<Corner> corners;
    std::vector<ULONG> indices;
    std::size_t maxPieces = 0;

    ULONG Add(const Corner& corner)
    {
        corners.push_back(corner);
        return ULONG(corners.size() - 1);
    }
    bool Triangle(ULONG a, ULONG b, ULONG c)
    {
        if (indices.size() / 3 >= maxPieces)
            return false;
        indices.insert(indices.end(), {a, b, c});
        return true;
    }
    // A triangle only where it reaches into `box`: what lies outside the clip never shows.
    bool TriangleIn(ULONG a, ULONG b, ULONG c, const UserBox& box)
    {
        const Corner& p = corners[a];
        const Corner& q = corners[b];
        const Corner& r = corners[c];
        if (std::max({p.x, q.x, r.x}) < box.x0 || std::min({p.x, q.x, r.x}) > box.x1
            || std::max({p.y, q.y, r.y}) < box.y0 || std::min({p.y, q.y, r.y}) > box.y1)
            return true;
        return Triangle(a, b, c);
    }
};

USHORT Channel(double value)
{
    return USHORT(std::lround(std::clamp(value, 0.0, 1.0) * 65535));
}

TRIVERTEX Vertex(double x, double y, const Colour& colour)
{
    return TRIVERTEX{LONG(std::lround(x)),  LONG(std::lround(y)), Channel(colour.red),
                     Channel(colour.green), Channel(colour.blue), 0};
}

// Puts collected triangles into a frame centred on them whose units divide their extent finely.
void Frame(Triangles& triangles, GradientPieces& pieces)
{
    // Only corners some triangle uses are kept.
    std::vector<ULONG> kept(triangles.corners.size(), ULONG(-1));
    std::vector<Corner> used;
    for (ULONG& index : triangles.indices) {
        if (kept[index] == ULONG(-1)) {
            kept[index] = ULONG(used.size());
            used.push_back(triangles.corners[index]);
        }
        index = kept[index];
    }
    triangles.corners = std::move(used);
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (const Corner& corner : triangles.corners) {
        x0 = std::min(x0, corner.x);
        y0 = std::min(y0, corner.y);
        x1 = std::max(x1, corner.x);
        y1 = std::max(y1, corner.y);
    }
    const double extent = std::max(x1 - x0, y1 - y0);
    if (triangles.indices.empty() || !std::isfinite(extent) || !(extent > 0))
        return;
    const double scale = kFrameSpan / extent;
    const double cx = (x0 + x1) / 2;
    const double cy = (y0 + y1) / 2;
    pieces.vertices.reserve(triangles.corners.size());
    for (const Corner& corner : triangles.corners)
        pieces.vertices.push_back(Vertex((corner.x - cx) * scale, (corner.y - cy) * scale, corner.colour));
    pieces.indices = triangles.indices;
    pieces.frameToUser = Matrix{1 / scale, 0, 0, 1 / scale, cx, cy};
}

void Clear(GradientPieces& pieces, ULONG mode)
{
    pieces.vertices.clear();
    pieces.indices.clear();
    pieces.mode = mode;
    pieces.frameToUser = Matrix{};
}

// Whether `colour` runs straight enough from `a` to `b` to be interpolated between them.
bool Straight(const std::function<Colour(double)>& colour, double a, double b)
{
    const Colour ca = colour(a);
    const Colour cb = colour(b);
    if (!Within(ca, cb, kPieceColourSpan))
        return false;
    for (int k = 1; k < kStraightChecks; ++k) {
        const double share = double(k) / kStraightChecks;
        if (!Near(colour(a + (b - a) * share), Mix(ca, cb, share)))
            return false;
    }
    return true;
}

// The parameters from `lo` to `hi` between which `colour` is straight enough to be interpolated.
// From each stop the next is the farthest from which no point between strays from the straight
// line: found by halving the distance, so a function made of straight pieces is cut near where
// its pieces meet, not all along. No two stops are nearer than `smallest`.
std::vector<double> Stops(double lo, double hi, const std::function<Colour(double)>& colour, double smallest = 0)
{
    std::vector<double> stops{lo};
    if (!(hi > lo) || !std::isfinite(hi - lo))
        return stops;
    const auto straight = [&](double a, double b) { return Straight(colour, a, b); };
    smallest = std::max(smallest, (hi - lo) / kMaxStops);
    double a = lo;
    while (a < hi) {
        double good = std::min(hi, a + smallest);
        double bad = hi;
        if (straight(a, hi)) {
            good = hi;
        } else {
            for (int i = 0; i < kStopSearches && bad - good > smallest; ++i) {
                const double middle = (good + bad) / 2;
                (straight(a, middle) ? good : bad) = middle;
            }
        }
        stops.push_back(good);
        a = good;
    }
    return stops;
}

// How many points one unit of user space spans at most on the page.
double PointsPerUnit(const Matrix& userToPoints)
{
    return std::max(std::hypot(userToPoints.a, userToPoints.b), std::hypot(userToPoints.c, userToPoints.d));
}

} // namespace

bool AxialPieces(GfxAxialShading& shading, const UserBox& box, std::size_t maxPieces, GradientPieces& pieces)
{
    Clear(pieces, GRADIENT_FILL_RECT_H);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    shading.getCoords(&x0, &y0, &x1, &y1);
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double length = std::hypot(dx, dy);
    if (!(length > 0) || !std::isfinite(length))
        return true;
    // s along the axis (0 at its start, 1 at its end), q across it in user units: the range of
    // both over the box's corners.
    double sLo = HUGE_VAL, sHi = -HUGE_VAL, qLo = HUGE_VAL, qHi = -HUGE_VAL;
    for (const auto& [x, y] :
         {std::pair{box.x0, box.y0}, std::pair{box.x1, box.y0}, std::pair{box.x0, box.y1}, std::pair{box.x1, box.y1}}) {
        const double s = ((x - x0) * dx + (y - y0) * dy) / (length * length);
        const double q = (-(x - x0) * dy + (y - y0) * dx) / length;
        sLo = std::min(sLo, s);
        sHi = std::max(sHi, s);
        qLo = std::min(qLo, q);
        qHi = std::max(qHi, q);
    }
    // Beyond its ends the axis paints only where it is extended.
    if (!shading.getExtend0())
        sLo = std::max(sLo, 0.0);
    if (!shading.getExtend1())
        sHi = std::min(sHi, 1.0);
    if (!(sHi > sLo) || !(qHi > qLo) || !std::isfinite(sHi - sLo) || !std::isfinite(qHi - qLo))
        return true;

    const auto colour = ColourAlong(shading);
    // Before and after the axis the colour is that of its ends: one rectangle each.
    std::vector<double> stops;
    if (sLo < 0)
        stops.push_back(sLo);
    for (const double s : Stops(std::max(sLo, 0.0), std::min(sHi, 1.0), colour))
        stops.push_back(s);
    if (sHi > 1)
        stops.push_back(sHi);
    if (stops.size() < 2)
        return true;
    if (stops.size() - 1 > maxPieces)
        return false;

    // The frame: x along the axis, from sLo to sHi over the span; y across it, qLo to qHi.
    const double alongScale = kFrameSpan / (sHi - sLo);
    const double acrossScale = kFrameSpan / (qHi - qLo);
    for (const double s : stops) {
        const Colour at = colour(s);
        pieces.vertices.push_back(Vertex((s - sLo) * alongScale, 0, at));
        pieces.vertices.push_back(Vertex((s - sLo) * alongScale, kFrameSpan, at));
    }
    for (std::size_t i = 0; i + 1 < stops.size(); ++i)
        pieces.indices.insert(pieces.indices.end(), {ULONG(2 * i), ULONG(2 * i + 3)});
    // Frame (x, y) to user space: the axis start, plus s along it, plus q across it.
    const double ux = dx / length;
    const double uy = dy / length;
    pieces.frameToUser = Matrix{dx / alongScale,  dy / alongScale,          -uy / acrossScale,
                                ux / acrossScale, x0 + sLo * dx - qLo * uy, y0 + sLo * dy + qLo * ux};
    return true;
}

namespace {

// The circles of a radial shading, s = 0 at the first and 1 at the second.
struct Circles {
    double x0 = 0;
    double y0 = 0;
    double r0 = 0;
    double x1 = 0;
    double y1 = 0;
    double r1 = 0;

    double X(double s) const { return x0 + s * (x1 - x0); }
    double Y(double s) const { return y0 + s * (y1 - y0); }
    double R(double s) const { return r0 + s * (r1 - r0); }
    // How far circle s lies outside the box: below 0 when it reaches into it.
    double Outside(double s, const UserBox& box) const
    {
        const double dx = std::max({box.x0 - X(s), 0.0, X(s) - box.x1});
        const double dy = std::max({box.y0 - Y(s), 0.0, Y(s) - box.y1});
        return std::hypot(dx, dy) - R(s);
    }
    // Whether circle s holds the whole box.
    bool Covers(double s, const UserBox& box) const
    {
        for (const auto& [x, y] : {std::pair{box.x0, box.y0}, std::pair{box.x1, box.y0}, std::pair{box.x0, box.y1},
                                   std::pair{box.x1, box.y1}})
            if (std::hypot(x - X(s), y - Y(s)) > R(s))
                return false;
        return true;
    }
};

// Where an extended end of a radial shading can stop: the circles beyond `from` (going the way of
// `direction`, +1 or -1) shrink to a point there, hold the whole box, or have left it for good.
double ExtendedEnd(const Circles& circles, double from, double direction, const UserBox& box)
{
    constexpr int kMaxDoublings = 40;
    double span = 1;
    for (int i = 0; i < kMaxDoublings; ++i, span *= 2) {
        const double s = from + direction * span;
        const double outside = circles.Outside(s, box);
        if (circles.Covers(s, box) || (outside > 0 && circles.Outside(from + direction * span * 2, box) > outside))
            break;
    }
    // No circle has a negative radius: where the radius reaches 0 sooner, the circles end in a point.
    if (circles.r1 != circles.r0) {
        const double zero = -circles.r0 / (circles.r1 - circles.r0);
        if ((zero - from) * direction > 0 && std::abs(zero - from) < span)
            return zero;
    }
    return from + direction * span;
}

} // namespace

bool RadialPieces(GfxRadialShading& shading, const UserBox& box, const Matrix& userToPoints, std::size_t maxPieces,
                  GradientPieces& pieces)
{
    Clear(pieces, GRADIENT_FILL_TRIANGLE);
    Circles circles;
    shading.getCoords(&circles.x0, &circles.y0, &circles.r0, &circles.x1, &circles.y1, &circles.r1);
    if (circles.r0 < 0 || circles.r1 < 0)
        return true;
    // Between the circles s runs from 0 to 1; beyond them only where the shading is extended.
    const double sMin = shading.getExtend0() ? ExtendedEnd(circles, 0, -1, box) : 0;
    const double sMax = shading.getExtend1() ? ExtendedEnd(circles, 1, 1, box) : 1;
    if (!(sMax > sMin) || !std::isfinite(sMax - sMin))
        return true;
    const double r0 = circles.r0;
    const double r1 = circles.r1;
    const double x0 = circles.x0, y0 = circles.y0, x1 = circles.x1, y1 = circles.y1;
    const auto colour = ColourAlong(shading);
    // A ring is never cut narrower than a printer shows or a viewer at a few times its size: a
    // bullet of a few points is a few rings, not dozens.
    const double travel = (std::abs(r1 - r0) + std::hypot(x1 - x0, y1 - y0)) * PointsPerUnit(userToPoints);
    const double narrowest = travel > 0 ? kNarrowestRing / travel : 0;
    std::vector<double> rings;
    if (sMin < 0)
        rings.push_back(sMin);
    for (const double s : Stops(std::max(sMin, 0.0), std::min(sMax, 1.0), colour, narrowest))
        rings.push_back(s);
    if (sMax > 1)
        rings.push_back(sMax);
    if (rings.size() < 2)
        return true;

    // Enough sides that the largest circle's polygon stays within the curve tolerance.
    const double largest = std::max(std::abs(r0 + sMin * (r1 - r0)), std::abs(r0 + sMax * (r1 - r0)));
    const double radius = largest * PointsPerUnit(userToPoints);
    int sides = kMinCircleSides;
    if (radius > kCurveTolerance) {
        const double step = std::acos(std::clamp(1 - kCurveTolerance / radius, -1.0, 1.0));
        sides = int(std::clamp(std::ceil(std::numbers::pi / std::max(step, 1e-9)), double(kMinCircleSides),
                               double(kMaxCircleSides)));
    }
    if ((rings.size() - 1) * 2 * std::size_t(sides) > maxPieces)
        return false;

    Triangles triangles;
    triangles.maxPieces = maxPieces;
    // Each ring between two circles, painted in order of s: a later circle covers an earlier one.
    for (std::size_t ring = 0; ring < rings.size(); ++ring) {
        const double s = rings[ring];
        const Colour at = colour(s);
        const double cx = x0 + s * (x1 - x0);
        const double cy = y0 + s * (y1 - y0);
        const double r = r0 + s * (r1 - r0);
        for (int side = 0; side < sides; ++side) {
            const double angle = 2 * std::numbers::pi * side / sides;
            triangles.Add(Corner{cx + r * std::cos(angle), cy + r * std::sin(angle), at});
        }
        if (ring == 0)
            continue;
        const auto inner = ULONG((ring - 1) * std::size_t(sides));
        const auto outer = ULONG(ring * std::size_t(sides));
        for (int side = 0; side < sides; ++side) {
            const auto next = ULONG((side + 1) % sides);
            if (!triangles.TriangleIn(inner + ULONG(side), inner + next, outer + ULONG(side), box)
                || !triangles.TriangleIn(inner + next, outer + next, outer + ULONG(side), box))
                return false;
        }
    }
    Frame(triangles, pieces);
    return true;
}

bool FunctionPieces(GfxFunctionShading& shading, std::size_t maxPieces, GradientPieces& pieces)
{
    Clear(pieces, GRADIENT_FILL_TRIANGLE);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    shading.getDomain(&x0, &y0, &x1, &y1);
    const double* m = shading.getMatrix();
    const Matrix domainToUser{m[0], m[1], m[2], m[3], m[4], m[5]};
    const auto colour = [&](double x, double y) {
        GfxColor color;
        shading.getColor(x, y, &color);
        return ToColour(*shading.getColorSpace(), color);
    };
    if (!(x1 > x0) || !(y1 > y0) || !std::isfinite(x1 - x0) || !std::isfinite(y1 - y0))
        return true;
    // The grid is made finer until the colour at each cell's centre is near enough the mean of its
    // corners.
    int cells = kFirstCells;
    std::vector<Colour> grid;
    for (;;) {
        grid.clear();
        for (int row = 0; row <= cells; ++row)
            for (int column = 0; column <= cells; ++column)
                grid.push_back(colour(x0 + (x1 - x0) * column / cells, y0 + (y1 - y0) * row / cells));
        bool fine = true;
        for (int row = 0; row < cells && fine; ++row) {
            for (int column = 0; column < cells && fine; ++column) {
                const auto at = [&](int r, int c) { return grid[std::size_t(r) * (cells + 1) + c]; };
                const Colour mean = Mix(Mix(at(row, column), at(row, column + 1), 0.5),
                                        Mix(at(row + 1, column), at(row + 1, column + 1), 0.5), 0.5);
                fine = Near(mean, colour(x0 + (x1 - x0) * (column + 0.5) / cells, y0 + (y1 - y0) * (row + 0.5) / cells))
                    && Within(at(row, column), at(row + 1, column + 1), kPieceColourSpan)
                    && Within(at(row, column + 1), at(row + 1, column), kPieceColourSpan);
            }
        }
        if (fine || cells >= kMaxFunctionCells)
            break;
        cells *= 2;
    }
    if (std::size_t(cells) * cells * 2 > maxPieces)
        return false;
    Triangles triangles;
    triangles.maxPieces = maxPieces;
    for (int row = 0; row <= cells; ++row) {
        for (int column = 0; column <= cells; ++column) {
            double ux = 0, uy = 0;
            domainToUser.Apply(x0 + (x1 - x0) * column / cells, y0 + (y1 - y0) * row / cells, ux, uy);
            triangles.Add(Corner{ux, uy, grid[std::size_t(row) * (cells + 1) + column]});
        }
    }
    for (int row = 0; row < cells; ++row) {
        for (int column = 0; column < cells; ++column) {
            const auto corner = ULONG(row * (cells + 1) + column);
            const auto below = ULONG(corner + cells + 1);
            triangles.Triangle(corner, corner + 1, below);
            triangles.Triangle(corner + 1, below + 1, below);
        }
    }
    Frame(triangles, pieces);
    return true;
}

namespace {

// A corner of a Gouraud triangle whose colour comes through the shading's function of t.
struct ParametricCorner {
    double x = 0;
    double y = 0;
    double t = 0;
};

// Splits a convex polygon along the line where t = `at` (t varies linearly across it): the part
// below goes to `below`, the part above stays in `polygon`.
void SplitAt(std::vector<ParametricCorner>& polygon, double at, std::vector<ParametricCorner>& below)
{
    std::vector<ParametricCorner> above;
    below.clear();
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const ParametricCorner& a = polygon[i];
        const ParametricCorner& b = polygon[(i + 1) % polygon.size()];
        if (a.t <= at)
            below.push_back(a);
        if (a.t >= at)
            above.push_back(a);
        if ((a.t < at && b.t > at) || (a.t > at && b.t < at)) {
            const double share = (at - a.t) / (b.t - a.t);
            const ParametricCorner cut{a.x + (b.x - a.x) * share, a.y + (b.y - a.y) * share, at};
            below.push_back(cut);
            above.push_back(cut);
        }
    }
    polygon = std::move(above);
}

} // namespace

bool GouraudPieces(GfxGouraudTriangleShading& shading, std::size_t maxPieces, GradientPieces& pieces)
{
    Clear(pieces, GRADIENT_FILL_TRIANGLE);
    const int count = shading.getNTriangles();
    if (count < 0 || std::size_t(count) > maxPieces)
        return false;
    Triangles triangles;
    triangles.maxPieces = maxPieces;
    if (!shading.isParameterized()) {
        for (int i = 0; i < count; ++i) {
            std::array<GfxColor, 3> colors;
            std::array<Corner, 3> corners;
            shading.getTriangle(i, &corners[0].x, &corners[0].y, &colors[0], &corners[1].x, &corners[1].y, &colors[1],
                                &corners[2].x, &corners[2].y, &colors[2]);
            std::array<ULONG, 3> at{};
            for (int k = 0; k < 3; ++k) {
                corners[k].colour = ToColour(*shading.getColorSpace(), colors[k]);
                at[k] = triangles.Add(corners[k]);
            }
            if (!triangles.Triangle(at[0], at[1], at[2]))
                return false;
        }
        Frame(triangles, pieces);
        return true;
    }

    // The function's parameter is cut once, where its colour stops being straight enough; each
    // triangle is then cut along the lines where t crosses one of those stops (t runs linearly
    // across a triangle, so they are straight and parallel), and each part is straight in colour.
    const auto colour = [&](double t) {
        GfxColor color;
        shading.getParameterizedColor(t, &color);
        return ToColour(*shading.getColorSpace(), color);
    };
    const std::vector<double> stops = Stops(shading.getParameterDomainMin(), shading.getParameterDomainMax(), colour);
    std::vector<ParametricCorner> polygon;
    std::vector<ParametricCorner> below;
    const auto emit = [&](const std::vector<ParametricCorner>& part) {
        if (part.size() < 3)
            return true;
        const auto first = ULONG(triangles.corners.size());
        for (const ParametricCorner& corner : part)
            triangles.Add(Corner{corner.x, corner.y, colour(corner.t)});
        for (std::size_t k = 1; k + 1 < part.size(); ++k)
            if (!triangles.Triangle(first, first + ULONG(k), first + ULONG(k + 1)))
                return false;
        return true;
    };
    for (int i = 0; i < count; ++i) {
        polygon.assign(3, ParametricCorner{});
        shading.getTriangle(i, &polygon[0].x, &polygon[0].y, &polygon[0].t, &polygon[1].x, &polygon[1].y, &polygon[1].t,
                            &polygon[2].x, &polygon[2].y, &polygon[2].t);
        const auto [lowest, highest] = std::minmax({polygon[0].t, polygon[1].t, polygon[2].t});
        // A triangle across which the colour runs straight enough as it is stays whole.
        const bool whole = Straight(colour, lowest, highest);
        for (auto stop = std::upper_bound(stops.begin(), stops.end(), lowest);
             !whole && stop != stops.end() && *stop < highest; ++stop) {
            SplitAt(polygon, *stop, below);
            if (!emit(below))
                return false;
        }
        if (!emit(polygon))
            return false;
    }
    Frame(triangles, pieces);
    return true;
}

namespace {

double Bernstein(int i, double u)
{
    const double v = 1 - u;
    switch (i) {
    case 0:
        return v * v * v;
    case 1:
        return 3 * u * v * v;
    case 2:
        return 3 * u * u * v;
    default:
        return u * u * u;
    }
}

// The colour at (u, v) of a patch: its corners' values mixed, then through the colour function if
// the shading is parametric. Corner [i][j] sits at control point [3 i][3 j].
Colour PatchColour(GfxPatchMeshShading& shading, const GfxPatch& patch, double u, double v)
{
    GfxColor color;
    const auto mixed = [&](int k) {
        return (1 - u) * ((1 - v) * patch.color[0][0].c[k] + v * patch.color[0][1].c[k])
            + u * ((1 - v) * patch.color[1][0].c[k] + v * patch.color[1][1].c[k]);
    };
    if (shading.isParameterized()) {
        shading.getParameterizedColor(mixed(0), &color);
    } else {
        const int components = std::min(shading.getColorSpace()->getNComps(), gfxColorMaxComps);
        // Poppler keeps a patch's colour components in its fixed-point form already.
        for (int k = 0; k < components; ++k)
            color.c[k] = GfxColorComp(std::lround(mixed(k)));
    }
    return ToColour(*shading.getColorSpace(), color);
}

// How many rows (along u) and columns (along v) a patch must be cut into: enough that straight
// sides stay within the curve tolerance of its curves, and that colours stay near the patch's.
std::pair<int, int> PatchGrid(GfxPatchMeshShading& shading, const GfxPatch& patch, double pointsPerUnit)
{
    // The largest second difference of the control points along u and along v bounds how far the
    // cubics stray from their chords: at most 6 d / (8 n^2) with n pieces.
    double bendU = 0;
    double bendV = 0;
    for (int i = 0; i < 4; ++i) {
        for (int k = 1; k < 3; ++k) {
            bendV = std::max(bendV,
                             std::hypot(patch.x[i][k - 1] - 2 * patch.x[i][k] + patch.x[i][k + 1],
                                        patch.y[i][k - 1] - 2 * patch.y[i][k] + patch.y[i][k + 1]));
            bendU = std::max(bendU,
                             std::hypot(patch.x[k - 1][i] - 2 * patch.x[k][i] + patch.x[k + 1][i],
                                        patch.y[k - 1][i] - 2 * patch.y[k][i] + patch.y[k + 1][i]));
        }
    }
    const auto pieces = [&](double bend) {
        const double needed = std::ceil(std::sqrt(6 * bend * pointsPerUnit / (8 * kCurveTolerance)));
        return int(std::clamp(std::isfinite(needed) ? needed : kMaxPatchRows, 1.0, double(kMaxPatchRows)));
    };
    // Colours: the grid halved while the centre of a cell strays from the mean of its corners.
    int colourRows = 1;
    while (colourRows < kMaxPatchRows) {
        bool fine = true;
        for (int r = 0; r < colourRows && fine; ++r) {
            for (int c = 0; c < colourRows && fine; ++c) {
                const double u0 = double(r) / colourRows, u1 = double(r + 1) / colourRows;
                const double v0 = double(c) / colourRows, v1 = double(c + 1) / colourRows;
                const Colour mean
                    = Mix(Mix(PatchColour(shading, patch, u0, v0), PatchColour(shading, patch, u0, v1), 0.5),
                          Mix(PatchColour(shading, patch, u1, v0), PatchColour(shading, patch, u1, v1), 0.5), 0.5);
                fine = Near(mean, PatchColour(shading, patch, (u0 + u1) / 2, (v0 + v1) / 2))
                    && Within(PatchColour(shading, patch, u0, v0), PatchColour(shading, patch, u1, v1),
                              kPieceColourSpan)
                    && Within(PatchColour(shading, patch, u0, v1), PatchColour(shading, patch, u1, v0),
                              kPieceColourSpan);
            }
        }
        if (fine)
            break;
        colourRows *= 2;
    }
    return {std::max(pieces(bendU), colourRows), std::max(pieces(bendV), colourRows)};
}

} // namespace

bool PatchPieces(GfxPatchMeshShading& shading, const Matrix& userToPoints, std::size_t maxPieces,
                 GradientPieces& pieces)
{
    Clear(pieces, GRADIENT_FILL_TRIANGLE);
    const int count = shading.getNPatches();
    if (count < 0 || std::size_t(count) * 2 > maxPieces)
        return false;
    // One grid for every patch: patches meeting along a side then cut it at the same points, and
    // no crack opens between them.
    const double pointsPerUnit = PointsPerUnit(userToPoints);
    int rows = 1;
    int columns = 1;
    for (int p = 0; p < count; ++p) {
        const auto [patchRows, patchColumns] = PatchGrid(shading, *shading.getPatch(p), pointsPerUnit);
        rows = std::max(rows, patchRows);
        columns = std::max(columns, patchColumns);
        if (std::size_t(count) * std::size_t(rows) * std::size_t(columns) * 2 > maxPieces)
            return false;
    }
    Triangles triangles;
    triangles.maxPieces = maxPieces;
    for (int p = 0; p < count; ++p) {
        const GfxPatch& patch = *shading.getPatch(p);
        const auto first = ULONG(triangles.corners.size());
        for (int r = 0; r <= rows; ++r) {
            const double u = double(r) / rows;
            for (int c = 0; c <= columns; ++c) {
                const double v = double(c) / columns;
                double x = 0, y = 0;
                for (int i = 0; i < 4; ++i) {
                    for (int j = 0; j < 4; ++j) {
                        const double weight = Bernstein(i, u) * Bernstein(j, v);
                        x += weight * patch.x[i][j];
                        y += weight * patch.y[i][j];
                    }
                }
                triangles.Add(Corner{x, y, PatchColour(shading, patch, u, v)});
            }
        }
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                const auto corner = ULONG(first + r * (columns + 1) + c);
                const auto below = ULONG(corner + columns + 1);
                triangles.Triangle(corner, corner + 1, below);
                triangles.Triangle(corner + 1, below + 1, below);
            }
        }
    }
    Frame(triangles, pieces);
    return true;
}

} // namespace pdf

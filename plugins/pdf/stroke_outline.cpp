#include "plugins/pdf/stroke_outline.h"

#include <splash/Splash.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashPath.h>

#include <cmath>

namespace pdf {
namespace {

// How far a flattened curve may stray from the true one, in device units.
constexpr double kFlatness = 0.25;

} // namespace

std::unique_ptr<GfxPath> StrokeOutline(GfxState* state, const GfxPath& path, const Matrix& userToDevice)
{
    double phase = 0;
    const double width = state ? state->getLineWidth() : 0;
    if (!state || !(width > 0) || !std::isfinite(width) || !state->getLineDash(&phase).empty()
        || !(std::abs(userToDevice.Determinant()) > 0) || !std::isfinite(userToDevice.Determinant()))
        return nullptr;
    // Poppler's own stroker makes the outline: the same shape its rasteriser fills for a stroke.
    // It works on a path in user space, flattening curves by the matrix it is given.
    SplashBitmap bitmap(1, 1, 1, splashModeMono8, false);
    Splash splash(&bitmap, false, static_cast<SplashScreenParams*>(nullptr));
    SplashCoord matrix[6]
        = {userToDevice.a, userToDevice.b, userToDevice.c, userToDevice.d, userToDevice.e, userToDevice.f};
    splash.setMatrix(matrix);
    splash.setFlatness(kFlatness);
    splash.setLineWidth(width);
    splash.setLineCap(state->getLineCap());
    splash.setLineJoin(state->getLineJoin());
    splash.setMiterLimit(std::max(1.0, state->getMiterLimit()));
    splash.setStrokeAdjust(false);

    SplashPath in;
    for (int i = 0; i < path.getNumSubpaths(); ++i) {
        const GfxSubpath* subpath = path.getSubpath(i);
        const int count = subpath->getNumPoints();
        if (count < 1)
            continue;
        in.moveTo(subpath->getX(0), subpath->getY(0));
        for (int p = 1; p < count;) {
            if (subpath->getCurve(p) && p + 2 < count) {
                in.curveTo(subpath->getX(p), subpath->getY(p), subpath->getX(p + 1), subpath->getY(p + 1),
                           subpath->getX(p + 2), subpath->getY(p + 2));
                p += 3;
            } else {
                in.lineTo(subpath->getX(p), subpath->getY(p));
                ++p;
            }
        }
        if (subpath->isClosed())
            in.close(true);
    }

    auto outline = std::make_unique<GfxPath>();
    const std::unique_ptr<SplashPath> out(splash.makeStrokePath(&in, width, true));
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

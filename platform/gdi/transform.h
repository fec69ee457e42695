// World transforms in Windows' row-vector form (x' = x * m11 + y * m21 + dx,
// y' = x * m12 + y * m22 + dy), in double precision for drawing, and their XFORM form.
#pragma once

#include "platform/gdi/gdi.h"

#include <cmath>

namespace platform::gdi {

struct Affine {
    double m11 = 1;
    double m12 = 0;
    double m21 = 0;
    double m22 = 1;
    double dx = 0;
    double dy = 0;
};

struct PointD {
    double x = 0;
    double y = 0;
};

// The transform that maps a point by `first`, then by `second`.
inline Affine Then(const Affine& first, const Affine& second)
{
    return Affine{first.m11 * second.m11 + first.m12 * second.m21,
                  first.m11 * second.m12 + first.m12 * second.m22,
                  first.m21 * second.m11 + first.m22 * second.m21,
                  first.m21 * second.m12 + first.m22 * second.m22,
                  first.dx * second.m11 + first.dy * second.m21 + second.dx,
                  first.dx * second.m12 + first.dy * second.m22 + second.dy};
}

inline PointD Apply(const Affine& transform, double x, double y)
{
    return PointD{x * transform.m11 + y * transform.m21 + transform.dx,
                  x * transform.m12 + y * transform.m22 + transform.dy};
}

inline Affine Translation(double x, double y)
{
    return Affine{1, 0, 0, 1, x, y};
}

inline Affine Scaling(double x, double y)
{
    return Affine{x, 0, 0, y, 0, 0};
}

inline bool IsFinite(const Affine& transform)
{
    return std::isfinite(transform.m11) && std::isfinite(transform.m12) && std::isfinite(transform.m21)
        && std::isfinite(transform.m22) && std::isfinite(transform.dx) && std::isfinite(transform.dy);
}

// True when the transform maps areas onto areas (it can be inverted).
inline bool IsInvertible(const Affine& transform)
{
    const double determinant = transform.m11 * transform.m22 - transform.m12 * transform.m21;
    return IsFinite(transform) && std::isfinite(determinant) && determinant != 0;
}

// The transform that undoes an invertible one.
inline Affine Inverse(const Affine& t)
{
    const double determinant = t.m11 * t.m22 - t.m12 * t.m21;
    const double m11 = t.m22 / determinant;
    const double m12 = -t.m12 / determinant;
    const double m21 = -t.m21 / determinant;
    const double m22 = t.m11 / determinant;
    return Affine{m11, m12, m21, m22, -(t.dx * m11 + t.dy * m21), -(t.dx * m12 + t.dy * m22)};
}

inline Affine FromXform(const XFORM& xform)
{
    return Affine{xform.eM11, xform.eM12, xform.eM21, xform.eM22, xform.eDx, xform.eDy};
}

inline XFORM ToXform(const Affine& transform)
{
    return XFORM{static_cast<FLOAT>(transform.m11), static_cast<FLOAT>(transform.m12),
                 static_cast<FLOAT>(transform.m21), static_cast<FLOAT>(transform.m22),
                 static_cast<FLOAT>(transform.dx),  static_cast<FLOAT>(transform.dy)};
}

inline bool IsFinite(const XFORM& xform)
{
    return IsFinite(FromXform(xform));
}

} // namespace platform::gdi

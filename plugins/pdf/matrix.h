// The renderer's one affine type, in PDF's convention, and its conversions at the edges: to the
// world transforms (XFORM) it hands GDI, and to cairo for the pages it paints as pictures.
#pragma once

#include "platform/gdi/gdi.h"

#include <cairo.h>

#include <cmath>

namespace pdf {

// A linear map with a shift: x' = a x + c y + e, y' = b x + d y + f.
struct Matrix {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double e = 0;
    double f = 0;

    // This map followed by `then`.
    Matrix Then(const Matrix& then) const
    {
        return Matrix{a * then.a + b * then.c, a * then.b + b * then.d,          c * then.a + d * then.c,
                      c * then.b + d * then.d, e * then.a + f * then.c + then.e, e * then.b + f * then.d + then.f};
    }

    void Apply(double x, double y, double& outX, double& outY) const
    {
        outX = a * x + c * y + e;
        outY = b * x + d * y + f;
    }

    double Determinant() const { return a * d - b * c; }
};

// The map as a GDI world transform (in floats, as GDI holds it).
inline XFORM ToXform(const Matrix& m)
{
    return XFORM{FLOAT(m.a), FLOAT(m.b), FLOAT(m.c), FLOAT(m.d), FLOAT(m.e), FLOAT(m.f)};
}

// Whether a world transform can be set: finite and invertible as GDI holds it, in floats. A shape
// whose transform flattens it shows nothing.
inline bool Invertible(const XFORM& world)
{
    const double determinant = double(world.eM11) * world.eM22 - double(world.eM12) * world.eM21;
    return std::isfinite(determinant) && determinant != 0 && std::isfinite(world.eDx) && std::isfinite(world.eDy);
}

inline cairo_matrix_t ToCairo(const Matrix& m)
{
    return cairo_matrix_t{m.a, m.b, m.c, m.d, m.e, m.f};
}

} // namespace pdf

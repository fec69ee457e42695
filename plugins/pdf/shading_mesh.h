// Shadings as the pieces one GradientFill draws: rectangles along an axial shading's axis,
// triangles for the others. Each is split finely enough that no piece's colour, interpolated
// between its corners, strays visibly from the shading's, and no curved edge from its curve.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/matrix.h"

#include <cstddef>
#include <vector>

class GfxAxialShading;
class GfxFunctionShading;
class GfxGouraudTriangleShading;
class GfxPatchMeshShading;
class GfxRadialShading;

namespace pdf {

// How far an interpolated colour may stray from the shading's (each channel, of 1): half a step
// of eight bits. How far a straight edge may stray from the curve it stands for, in points.
constexpr double kColourTolerance = 0.5 / 255;
constexpr double kCurveTolerance = 0.2;
// How much any channel may change across one piece: viewers that draw a mesh as flat pieces of at
// most 64 a side then show no step either.
constexpr double kPieceColourSpan = 1.0 / 16;
// The user space box a shading must cover (the clip's), x0 < x1, y0 < y1.
struct UserBox {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

// The pieces of one GradientFill: vertices and indices into them (three per triangle, two per
// rectangle), in a frame that `frameToUser` maps onto the shading's user space.
struct GradientPieces {
    std::vector<TRIVERTEX> vertices;
    std::vector<ULONG> indices;
    ULONG mode = GRADIENT_FILL_TRIANGLE;
    Matrix frameToUser;

    std::size_t Count() const { return indices.size() / (mode == GRADIENT_FILL_TRIANGLE ? 3 : 2); }
};

// Each fills `pieces` (which it empties first) and answers false, at once, when the shading would
// take more than `maxPieces`. `userToPoints` maps user space onto the page, and says how fine a
// curve must be cut. Nothing is made for a shading that paints nothing (a degenerate axis).

// An axial shading over `box`: rectangles in a frame whose x runs along the axis (its Extend
// applied), so that the rectangles follow one another as one run.
bool AxialPieces(GfxAxialShading& shading, const UserBox& box, std::size_t maxPieces, GradientPieces& pieces);
// A radial shading over `box` (its Extend applied): rings of triangles between circles, each
// circle a polygon within the curve tolerance.
bool RadialPieces(GfxRadialShading& shading, const UserBox& box, const Matrix& userToPoints, std::size_t maxPieces,
                  GradientPieces& pieces);
// A function-based shading: its domain sampled on a grid of triangles.
bool FunctionPieces(GfxFunctionShading& shading, std::size_t maxPieces, GradientPieces& pieces);
// A free-form or lattice Gouraud shading: its triangles, split where a parametric colour function
// is not straight enough across one.
bool GouraudPieces(GfxGouraudTriangleShading& shading, std::size_t maxPieces, GradientPieces& pieces);
// A Coons or tensor patch mesh: each patch cut into a grid of triangles by its curvature and
// its change of colour.
bool PatchPieces(GfxPatchMeshShading& shading, const Matrix& userToPoints, std::size_t maxPieces,
                 GradientPieces& pieces);

} // namespace pdf

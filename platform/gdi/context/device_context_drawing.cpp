// The vector calls of a device context: selected objects, drawing attributes, paths and lines,
// fills, strokes and the clip. Each checks its arguments and the context's state first, then hands
// the call to the device as its record (which a recording device keeps) and draws what the device
// passes on, then changes the state: a call refused leaves the context as it was.
#include "platform/gdi/context/device_context.h"

#include "platform/gdi/context/emf_records.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace platform::gdi {
namespace {

constexpr FLOAT kDefaultMiterLimit = 10;
constexpr UINT kKnownTextAlign = TA_UPDATECP | TA_CENTER | TA_BASELINE | TA_RTLREADING;
constexpr double kSquareCapReach = 1.4142135623730951; // a square cap's corner: half the width times root 2

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

} // namespace

void DeviceContext::ResetDrawingState()
{
    // Through the calls themselves, so that a recording context records what it now draws with.
    SelectObject(StockObject(BLACK_PEN));
    SelectObject(StockObject(WHITE_BRUSH));
    SelectObject(StockObject(SYSTEM_FONT));
    SetTextColor(RGB(0, 0, 0));
    SetBkMode(OPAQUE);
    SetTextAlign(TA_LEFT | TA_TOP);
    SetPolyFillMode(ALTERNATE);
    SetStretchBltMode(BLACKONWHITE);
    SetMiterLimit(kDefaultMiterLimit, nullptr);
    AbortPath();
}

HGDIOBJ DeviceContext::SelectObject(const std::shared_ptr<const GdiObject>& object)
{
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<const GdiObject>* slot = nullptr;
    if (object->As<Pen>())
        slot = &state_.pen;
    else if (object->As<Brush>())
        slot = &state_.brush;
    else if (object->As<Font>())
        slot = &state_.font;
    else if (kind_ == Kind::Memory)
        slot = &state_.bitmap;
    if (!slot) {
        // A bitmap goes only into a memory context.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!backend_->Select(*object))
        return nullptr;
    const std::shared_ptr<const GdiObject> previous = std::exchange(*slot, object);
    return previous ? previous->Handle() : nullptr;
}

int DeviceContext::SetPolyFillMode(int mode)
{
    if (mode != ALTERNATE && mode != WINDING)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::SetPolyFillModeRecord{static_cast<DWORD>(mode)}) == CallTaken::Refused)
        return 0;
    return std::exchange(state_.polyFillMode, mode);
}

int DeviceContext::SetStretchBltMode(int mode)
{
    if (mode < BLACKONWHITE || mode > HALFTONE)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::SetStretchBltModeRecord{static_cast<DWORD>(mode)}) == CallTaken::Refused)
        return 0;
    return std::exchange(state_.stretchMode, mode);
}

bool DeviceContext::SetMiterLimit(FLOAT limit, FLOAT* old)
{
    // A miter is never shorter than the line is wide.
    if (!std::isfinite(limit) || limit < 1)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::SetMiterLimitRecord{limit}) == CallTaken::Refused)
        return false;
    const FLOAT previous = std::exchange(state_.miterLimit, limit);
    if (old)
        *old = previous;
    return true;
}

COLORREF DeviceContext::SetTextColor(COLORREF color)
{
    if (Hand(emf::SetTextColorRecord{color}) == CallTaken::Refused)
        return CLR_INVALID;
    return std::exchange(state_.textColor, color);
}

int DeviceContext::SetBkMode(int mode)
{
    if (mode != TRANSPARENT && mode != OPAQUE)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::SetBkModeRecord{static_cast<DWORD>(mode)}) == CallTaken::Refused)
        return 0;
    return std::exchange(state_.backgroundMode, mode);
}

UINT DeviceContext::SetTextAlign(UINT align)
{
    if ((align & ~kKnownTextAlign) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return GDI_ERROR;
    }
    if (Hand(emf::SetTextAlignRecord{align}) == CallTaken::Refused)
        return GDI_ERROR;
    return std::exchange(state_.textAlign, align);
}

bool DeviceContext::BeginPath()
{
    if (Hand(emf::BeginPathRecord{}) == CallTaken::Refused)
        return false;
    // A path begun while another is open or closed replaces it.
    DiscardPath();
    state_.bracket = PathBracket::Open;
    return true;
}

bool DeviceContext::EndPath()
{
    if (state_.bracket != PathBracket::Open)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::EndPathRecord{}) == CallTaken::Refused)
        return false;
    state_.bracket = PathBracket::Closed;
    return true;
}

bool DeviceContext::AbortPath()
{
    if (Hand(emf::AbortPathRecord{}) == CallTaken::Refused)
        return false;
    DiscardPath();
    return true;
}

bool DeviceContext::CloseFigure()
{
    if (state_.bracket != PathBracket::Open)
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::CloseFigureRecord{}) == CallTaken::Refused)
        return false;
    if (!state_.path.empty() && !state_.newFigure)
        state_.path.back().type |= PT_CLOSEFIGURE;
    state_.newFigure = true;
    return true;
}

bool DeviceContext::MoveTo(int x, int y, POINT* previous)
{
    if (Hand(emf::MoveToRecord{POINTL{x, y}}) == CallTaken::Refused)
        return false;
    if (previous)
        *previous = state_.position;
    state_.position = POINT{x, y};
    // Inside a path the next line starts a figure here.
    if (state_.bracket == PathBracket::Open)
        state_.newFigure = true;
    return true;
}

bool DeviceContext::LineTo(int x, int y)
{
    const POINT point{x, y};
    return LinesTo(std::span<const POINT>(&point, 1), PT_LINETO, EMR_LINETO);
}

bool DeviceContext::PolylineTo(std::span<const POINT> points)
{
    return LinesTo(points, PT_LINETO, EMR_POLYLINETO);
}

bool DeviceContext::PolyBezierTo(std::span<const POINT> points)
{
    // Each curve is two control points and an end point.
    if (points.size() % 3 != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    return LinesTo(points, PT_BEZIERTO, EMR_POLYBEZIERTO);
}

bool DeviceContext::LinesTo(std::span<const POINT> points, BYTE type, DWORD recordType)
{
    if (points.empty())
        return true;
    const bool inPath = state_.bracket == PathBracket::Open;
    // The points, from the current position, in device units.
    const Affine toDevice = LogicalToDevice();
    const bool startsFigure = !inPath || state_.newFigure;
    const std::size_t held = inPath ? state_.path.size() : 0;
    if (points.size() + 1 > kMaxPathPoints - held)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::vector<PathPoint> added;
    added.reserve(points.size() + 1);
    if (startsFigure)
        added.push_back(PathPoint{Apply(toDevice, state_.position.x, state_.position.y), PT_MOVETO});
    for (const POINT& point : points)
        added.push_back(PathPoint{Apply(toDevice, point.x, point.y), type});

    // A line or curve record carries the extent of its points on the device.
    const RECTL inked = inPath ? kNothingInked : InkBounds(added, false, true);
    static_assert(sizeof(POINT) == sizeof(POINTL), "a call's points are a record's points");
    const emf::Counted<POINTL> pointsL(reinterpret_cast<const BYTE*>(points.data()), points.size());
    CallTaken taken = CallTaken::Refused;
    if (recordType == EMR_LINETO)
        taken = Hand(emf::LineToRecord{POINTL{points.front().x, points.front().y}}, inked);
    else if (recordType == EMR_POLYBEZIERTO)
        taken = Hand(emf::PolyBezierToRecord{BoundsOf(ExtentOf(added)), pointsL}, inked);
    else
        taken = Hand(emf::PolylineToRecord{BoundsOf(ExtentOf(added)), pointsL}, inked);
    if (taken == CallTaken::Refused || (taken == CallTaken::Passed && !inPath && !Ink(added, false, true)))
        return false;
    if (inPath) {
        state_.path.insert(state_.path.end(), added.begin(), added.end());
        state_.newFigure = false;
    }
    state_.position = points.back();
    return true;
}

bool DeviceContext::FillPath()
{
    return PaintPath(true, false, EMR_FILLPATH);
}

bool DeviceContext::StrokePath()
{
    return PaintPath(false, true, EMR_STROKEPATH);
}

bool DeviceContext::StrokeAndFillPath()
{
    return PaintPath(true, true, EMR_STROKEANDFILLPATH);
}

bool DeviceContext::PaintPath(bool fill, bool stroke, DWORD recordType)
{
    if (state_.bracket != PathBracket::Closed)
        return Fail(ERROR_INVALID_PARAMETER);
    const RECTL bounds = InkBounds(state_.path, fill, stroke);
    CallTaken taken = CallTaken::Refused;
    if (recordType == EMR_FILLPATH)
        taken = Hand(emf::FillPathRecord{bounds}, bounds);
    else if (recordType == EMR_STROKEPATH)
        taken = Hand(emf::StrokePathRecord{bounds}, bounds);
    else
        taken = Hand(emf::StrokeAndFillPathRecord{bounds}, bounds);
    if (taken == CallTaken::Refused)
        return false;
    const bool drawn = taken == CallTaken::Kept || Ink(state_.path, fill, stroke);
    DiscardPath();
    return drawn;
}

bool DeviceContext::GradientFill(std::span<const TRIVERTEX> vertices, std::span<const ULONG> indices, ULONG mode)
{
    const std::size_t perPiece = mode == GRADIENT_FILL_TRIANGLE        ? 3
        : mode == GRADIENT_FILL_RECT_H || mode == GRADIENT_FILL_RECT_V ? 2
                                                                       : 0;
    if (perPiece == 0 || indices.size() % perPiece != 0 || vertices.size() > kMaxGradientVertices
        || indices.size() / perPiece > kMaxGradientPieces)
        return Fail(ERROR_INVALID_PARAMETER);
    if (std::any_of(indices.begin(), indices.end(), [&](ULONG index) { return index >= vertices.size(); }))
        return Fail(ERROR_INVALID_PARAMETER);
    if (indices.empty())
        return true;

    // What the pieces ink: a rectangle's four corners, a triangle's three, on the device.
    const Affine toDevice = LogicalToDevice();
    ExtentD extent;
    for (std::size_t at = 0; at < indices.size(); at += perPiece) {
        const TRIVERTEX& first = vertices[indices[at]];
        const TRIVERTEX& second = vertices[indices[at + 1]];
        extent.Add(Apply(toDevice, first.x, first.y));
        extent.Add(Apply(toDevice, second.x, second.y));
        if (perPiece == 3) {
            const TRIVERTEX& third = vertices[indices[at + 2]];
            extent.Add(Apply(toDevice, third.x, third.y));
        } else {
            extent.Add(Apply(toDevice, first.x, second.y));
            extent.Add(Apply(toDevice, second.x, first.y));
        }
    }
    const RECTL bounds = BoundsOf(extent);
    // The pieces as the record carries them: a triangle's three indices, a rectangle's two.
    std::vector<BYTE> pieces(indices.size() * sizeof(ULONG));
    std::memcpy(pieces.data(), indices.data(), pieces.size());
    emf::GradientMesh mesh;
    mesh.vertices = emf::Items<TRIVERTEX>(vertices);
    mesh.pieces = emf::Items<BYTE>(pieces.data(), indices.size() / perPiece);
    mesh.mode = mode;
    switch (Hand(emf::GradientFillRecord{.bounds = bounds, .mesh = mesh}, bounds)) {
    case CallTaken::Refused:
        return false;
    case CallTaken::Kept:
        return true;
    case CallTaken::Passed:
        break;
    }
    return backend_->DrawGradient(GradientDrawing{vertices, indices, mode, toDevice, state_.clip});
}

bool DeviceContext::SelectClipPath(int mode)
{
    if (state_.bracket != PathBracket::Closed || (mode != RGN_AND && mode != RGN_DIFF && mode != RGN_COPY))
        return Fail(ERROR_INVALID_PARAMETER);
    if (Hand(emf::SelectClipPathRecord{static_cast<DWORD>(mode)}) == CallTaken::Refused)
        return false;
    auto path = std::make_shared<ClipPath>();
    path->points = std::move(state_.path);
    path->evenOdd = state_.polyFillMode == ALTERNATE || mode == RGN_DIFF;
    path->excluded = mode == RGN_DIFF;
    auto region = std::make_shared<ClipRegion>();
    // Replacing the clip inside a metafile's playback keeps it within the clip the playback began with.
    const SharedClip& kept = mode != RGN_COPY ? state_.clip : playbacks_.empty() ? nullptr : playbacks_.back().clip;
    if (kept)
        region->paths = kept->paths;
    region->paths.push_back(std::move(path));
    state_.clip = std::move(region);
    DiscardPath();
    return true;
}

void DeviceContext::DiscardPath()
{
    state_.bracket = PathBracket::None;
    state_.path.clear();
    state_.newFigure = true;
}

std::optional<FillSpec> DeviceContext::CurrentFill() const
{
    const Brush* brush = state_.brush ? state_.brush->As<Brush>() : nullptr;
    if (!brush || !brush->Draws())
        return std::nullopt;
    return FillSpec{brush->color, state_.polyFillMode == ALTERNATE};
}

std::optional<StrokeSpec> DeviceContext::CurrentStroke() const
{
    const Pen* pen = state_.pen ? state_.pen->As<Pen>() : nullptr;
    if (!pen || !pen->Draws())
        return std::nullopt;
    StrokeSpec stroke;
    stroke.color = pen->color;
    // A geometric pen of no width draws as thin as the device can, as a cosmetic pen does.
    stroke.cosmetic = !pen->Geometric() || pen->width == 0;
    stroke.width = pen->width;
    stroke.endCap = pen->style & PS_ENDCAP_MASK;
    stroke.join = pen->style & PS_JOIN_MASK;
    stroke.miterLimit = state_.miterLimit;
    if (pen->DashStyle() == PS_USERSTYLE)
        stroke.dashes = pen->entries;
    stroke.logicalToDevice = LogicalToDevice();
    return stroke;
}

PointD DeviceContext::StrokeReach() const
{
    const std::optional<StrokeSpec> stroke = CurrentStroke();
    if (!stroke)
        return PointD{0, 0};
    // A pixel more than the pen reaches, for the rounding of the device.
    if (stroke->cosmetic)
        return PointD{2, 2};
    const double factor
        = stroke->join == PS_JOIN_MITER ? std::max(stroke->miterLimit, kSquareCapReach) : kSquareCapReach;
    const double half = stroke->width / 2 * factor;
    const Affine& m = stroke->logicalToDevice;
    return PointD{half * (std::abs(m.m11) + std::abs(m.m21)) + 1, half * (std::abs(m.m12) + std::abs(m.m22)) + 1};
}

RECTL DeviceContext::InkBounds(std::span<const PathPoint> points, bool fill, bool stroke) const
{
    const bool fills = fill && CurrentFill();
    const bool strokes = stroke && CurrentStroke();
    if (!fills && !strokes)
        return RECTL{0, 0, -1, -1};
    ExtentD extent = ExtentOf(points);
    if (strokes) {
        const PointD reach = StrokeReach();
        extent.Grow(reach.x, reach.y);
    }
    return BoundsOf(extent);
}

bool DeviceContext::Ink(std::span<const PathPoint> points, bool fill, bool stroke)
{
    PathDrawing drawing;
    drawing.points = points;
    if (fill)
        drawing.fill = CurrentFill();
    if (stroke)
        drawing.stroke = CurrentStroke();
    if (!drawing.fill && !drawing.stroke)
        return true; // a null brush and a null pen leave no ink
    drawing.clip = state_.clip;
    return backend_->DrawPath(drawing);
}

} // namespace platform::gdi

// A device context: the state GDI keeps for it (graphics mode, world transform, layout, selected
// objects, drawing attributes, the current path and position, the clip, the saved-state stack,
// metafile playbacks under way) over one device backend: a printer, the screen, a memory bitmap
// or a metafile recording. Every Windows drawing call comes through here; failures are answered
// as Windows answers them and carried in the last error, never thrown.
#pragma once

#include "platform/gdi/context/gdi_objects.h"
#include "platform/gdi/drawing.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/transform.h"
#include "platform/kernel/object_table.h"

#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace platform::gdi {

class Picture;

namespace emf {
struct AnyRecord;
}

// GetDeviceCaps(RASTERCAPS) bits the devices here answer.
constexpr int RC_BITBLT = 0x0001;
constexpr int RC_BITMAP64 = 0x0008;
constexpr int RC_DI_BITMAP = 0x0080;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_STRETCHDIB = 0x2000;

// Where a context's path stands: no path; a bracket open (BeginPath), collecting points; closed
// (EndPath), ready to be filled, stroked or made the clip.
enum class PathBracket : BYTE { None, Open, Closed };

// What SaveDC saves.
struct DcState {
    int graphicsMode = GM_COMPATIBLE;
    XFORM world = {1, 0, 0, 1, 0, 0};
    DWORD layout = 0;
    // The selected objects; a context starts with the stock black pen, white brush and system
    // font, and a memory context with its 1 x 1 bitmap.
    std::shared_ptr<const GdiObject> pen;
    std::shared_ptr<const GdiObject> brush;
    std::shared_ptr<const GdiObject> font;
    std::shared_ptr<const GdiObject> bitmap;
    COLORREF textColor = RGB(0, 0, 0);
    int backgroundMode = OPAQUE;
    UINT textAlign = TA_LEFT | TA_TOP;
    int polyFillMode = ALTERNATE;
    int stretchMode = BLACKONWHITE;
    FLOAT miterLimit = 10;
    POINT position = {0, 0}; // the current position, in logical units
    SharedClip clip;         // in device units; null: nothing is clipped
    PathBracket bracket = PathBracket::None;
    bool newFigure = true; // the next point added to the path starts a figure
    std::vector<PathPoint> path;
};

// A rectangle in double precision: x, y, width, height.
struct RectD {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// A picture placed on a device: the part of it that shows (in its upright pixel grid) and where
// that grid lands in device units.
struct PicturePlacement {
    const Picture& picture;
    RectD source;
    Affine pictureToDevice;
    SharedClip clip;
    double opacity = 1; // a constant alpha the picture is painted with
    // Whether a picture shown larger than its pixels is smoothed (GDI+'s pictures) or shows its
    // pixels as they are (StretchDIBits and AlphaBlend, as GDI stretches them by default). A
    // picture shown smaller is filtered well either way.
    bool smoothEnlarged = false;
};

// The arguments of one ExtTextOutW call. `dx` holds an advance per unit of text (two with
// ETO_PDY) in logical units, or is null.
struct TextCall {
    int x = 0;
    int y = 0;
    UINT options = 0;
    const RECT* rect = nullptr;
    std::span<const WCHAR> text;
    const INT* dx = nullptr;
};

// The arguments of one AlphaBlend call: the destination rectangle (logical units), the source
// bitmap's rows as its layout describes them and the rectangle of it blended in (pixels of the
// upright bitmap), and how.
struct BlendCall {
    int xDest = 0;
    int yDest = 0;
    int destWidth = 0;
    int destHeight = 0;
    const DibLayout* layout = nullptr;
    const BYTE* bits = nullptr;
    int xSrc = 0;
    int ySrc = 0;
    int srcWidth = 0;
    int srcHeight = 0;
    BLENDFUNCTION blend{};
};

// A call has at most this many units of text: beyond it the call fails rather than cost minutes.
constexpr std::size_t kMaxTextUnits = 65536;

// A GradientFill call has at most this many vertices and pieces: beyond them it fails rather than
// cost gigabytes.
constexpr std::size_t kMaxGradientVertices = std::size_t{1} << 22;
constexpr std::size_t kMaxGradientPieces = std::size_t{1} << 22;

// The arguments of one StretchDIBits call.
struct StretchCall {
    int xDest = 0;
    int yDest = 0;
    int destWidth = 0;
    int destHeight = 0;
    int xSrc = 0;
    int ySrc = 0;
    int srcWidth = 0;
    int srcHeight = 0;
    const void* bits = nullptr;
    const BITMAPINFO* bitmapInfo = nullptr;
    UINT usage = DIB_RGB_COLORS;
    DWORD rop = SRCCOPY;
};

// What a device did with a call handed to it (DeviceBackend::Take).
enum class CallTaken : BYTE {
    Refused, // the device could not take it (last error set): the call fails and changes nothing
    Kept,    // the device keeps the call itself, as a metafile records it: nothing is drawn
    Passed,  // the device keeps no calls: the context goes on and draws through Paint, DrawPath, DrawGlyphs
};

// The extent of a call that inks nothing.
constexpr RECTL kNothingInked{0, 0, -1, -1};

// One kind of device. The defaults answer as a device without print jobs, escapes or recording.
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;

    // GetDeviceCaps.
    virtual int Caps(int index) const = 0;

    // Print jobs, with the Windows answers (SP_ERROR on a device that prints no documents).
    virtual int StartDoc(const DOCINFOW& docInfo);
    virtual int StartPage();
    virtual int EndPage();
    virtual int EndDoc();
    virtual int AbortDoc();

    // Places a picture; false (last error set) when it cannot be drawn.
    virtual bool Paint(const PicturePlacement& placement) = 0;
    // Fills and strokes a path; false (last error set) when it cannot be drawn. The default
    // accepts it and draws nothing, as a device without pixels does.
    virtual bool DrawPath(const PathDrawing& drawing);
    // Draws glyphs, as DrawPath draws paths.
    virtual bool DrawGlyphs(const GlyphRun& run);
    // Draws the triangles or rectangles of a GradientFill, as DrawPath draws paths.
    virtual bool DrawGradient(const GradientDrawing& drawing);
    // Takes a GDI comment's data (a metafile records it; a printer reads the notes meant for it);
    // the default lets it go.
    virtual bool Comment(std::span<const BYTE> data);
    // Whether the device implements a printer escape.
    virtual bool KnowsEscape(int escape) const;
    // Whether the device takes these JPEG (BI_JPEG) or PNG (BI_PNG) bytes unchanged.
    virtual bool TakesUnchanged(DWORD compression, std::span<const BYTE> bytes) const;
    // Takes every call that changes what the context draws or how, as its metafile record
    // describes it, before the context acts on it; `inked` is the extent the call inks on this
    // device (inclusive pixels; kNothingInked when none). The default passes every call on.
    virtual CallTaken Take(const emf::AnyRecord& call, const RECTL& inked);
    // Takes an object selected into the context, as Take takes a call; the default lets it pass.
    virtual bool Select(const GdiObject& object);
};

// The capabilities of a device as they were when another device was made from it: what a memory
// context answers for the device it is compatible with, and a recording for its reference device.
class CopiedCaps {
public:
    explicit CopiedCaps(const DeviceBackend& device);
    // GetDeviceCaps as the device answered it; 0 for an index not copied.
    int operator()(int index) const;

private:
    std::vector<std::pair<int, int>> caps_;
};

class DeviceContext final {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::DeviceContext;

    enum class Kind { Printer, Screen, Metafile, Memory };

    DeviceContext(Kind kind, std::unique_ptr<DeviceBackend> backend);
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    Kind GetKind() const { return kind_; }
    DeviceBackend& Backend() { return *backend_; }
    const DcState& State() const { return state_; }

    // The state calls, as their Windows namesakes answer.
    int Save();
    bool Restore(int savedDC);
    int SetGraphicsMode(int mode);
    bool SetWorldTransform(const XFORM& xform);
    bool ModifyWorldTransform(const XFORM* xform, DWORD mode);
    DWORD SetLayout(DWORD layout);

    // Drawing, as the Windows calls answer.
    int StretchDIBits(const StretchCall& call);
    bool Comment(UINT size, const BYTE* data);
    int Escape(int escape, int inputSize, LPCSTR input, int outputSize, LPSTR output);

    // GradientFill, as Windows answers it: `indices` holds three per triangle
    // (GRADIENT_FILL_TRIANGLE) or two per rectangle (GRADIENT_FILL_RECT_H, _V), each below the
    // number of vertices.
    bool GradientFill(std::span<const TRIVERTEX> vertices, std::span<const ULONG> indices, ULONG mode);

    // Objects and drawing attributes, as the Windows calls answer.
    HGDIOBJ SelectObject(const std::shared_ptr<const GdiObject>& object);
    int SetPolyFillMode(int mode);
    int SetStretchBltMode(int mode);
    bool SetMiterLimit(FLOAT limit, FLOAT* old);
    COLORREF SetTextColor(COLORREF color);
    int SetBkMode(int mode);
    UINT SetTextAlign(UINT align);

    // Paths and lines, as the Windows calls answer. Inside a path bracket the lines become the
    // path's; outside it they are drawn with the pen.
    bool BeginPath();
    bool EndPath();
    bool AbortPath();
    bool CloseFigure();
    bool MoveTo(int x, int y, POINT* previous);
    bool LineTo(int x, int y);
    bool PolylineTo(std::span<const POINT> points);
    bool PolyBezierTo(std::span<const POINT> points);
    bool FillPath();
    bool StrokePath();
    bool StrokeAndFillPath();
    bool SelectClipPath(int mode);

    // Text, as ExtTextOutW answers: glyphs of the selected font (which must be one this process
    // registered), or their outlines added to the path inside a path bracket.
    bool ExtTextOut(const TextCall& call);

    // The one entry every picture is drawn through (StretchDIBits, AlphaBlend and GDI+): `source`
    // is the part of the picture shown, in its upright pixel grid; `pictureToLogical` maps that
    // grid to logical units, and this context's world transform and layout map them on to the
    // device. `opacity` is a constant alpha it is painted with; `smoothEnlarged` smooths a picture
    // shown larger than its pixels.
    bool DrawPicture(const Picture& picture, const RectD& source, const Affine& pictureToLogical, double opacity = 1,
                     bool smoothEnlarged = false);
    // Whether StretchDIBits and AlphaBlend smooth what they enlarge: in the HALFTONE stretch mode.
    bool Smooths() const { return state_.stretchMode == HALFTONE; }

    // AlphaBlend, as Windows answers it: the one entry of the call (whose source is the bitmap of a
    // memory context) and of its metafile record (whose source travels in the record).
    bool AlphaBlend(const BlendCall& call);

    // Logical units to device units: the world transform, then a right-to-left layout's mirror.
    Affine LogicalToDevice() const;

    // Metafile playback onto this context: Begin saves the state, turns on the advanced mode and
    // puts `frameToTarget` in front of the world transform; End restores what was saved, however
    // the records left the state. Records in between are played relative to PlaybackBase.
    void BeginPlayback(const Affine& frameToTarget);
    void EndPlayback();
    // The transform a metafile's transform records are relative to: the base of the playback under
    // way, or the identity.
    Affine PlaybackBase() const;
    // A metafile's RestoreDC record, relative (< 0), never reaching a state saved before its playback.
    bool RestoreRelative(int relative);

private:
    struct Playback {
        Affine base;
        std::size_t depth = 0; // saved states when the playback began, its own save included
        SharedClip clip;       // the clip then: the metafile's own clipping stays inside it
    };

    // Hands a call to the device before the context acts on it (DeviceBackend::Take).
    CallTaken Hand(const emf::AnyRecord& call, const RECTL& inked = kNothingInked);
    // Replaces the world transform and hands it on; the caller has checked the mode.
    bool ReplaceWorld(const XFORM& xform);
    // Puts the stock objects and the default attributes in place.
    void ResetDrawingState();

    // Lines or curves (`type` PT_LINETO or PT_BEZIERTO) from the current position: inside a path
    // bracket added to the path, else drawn with the pen. `recordType` is the record of the call:
    // EMR_LINETO, EMR_POLYLINETO or EMR_POLYBEZIERTO.
    bool LinesTo(std::span<const POINT> points, BYTE type, DWORD recordType);
    // Fills and/or strokes the closed path, which is then gone; `recordType` is the record of the call.
    bool PaintPath(bool fill, bool stroke, DWORD recordType);
    // The extent, inclusive device pixels, that drawing these points with the selected objects inks.
    RECTL InkBounds(std::span<const PathPoint> points, bool fill, bool stroke) const;
    // Draws points with the selected objects on the device.
    bool Ink(std::span<const PathPoint> points, bool fill, bool stroke);
    std::optional<FillSpec> CurrentFill() const;
    std::optional<StrokeSpec> CurrentStroke() const;
    // How far beyond a path's points a stroke with the selected pen may ink, in device units.
    PointD StrokeReach() const;
    // Lays a text call out on the device with the selected font and the text attributes; the
    // logical advances it uses go to `advances` (as a metafile records them), its device extent
    // to `extent`, and the logical position after it to `end`. Nothing, with the last error set,
    // when the font is not one this process registered.
    std::optional<GlyphRun> LayOutText(const TextCall& call, std::vector<INT>& advances, ExtentD& extent,
                                       POINT& end) const;
    void DiscardPath();

    Kind kind_;
    std::unique_ptr<DeviceBackend> backend_;
    DcState state_;
    std::vector<DcState> saved_;
    std::vector<Playback> playbacks_;
};

} // namespace platform::gdi

// The output device that turns each PDF operation of a page into GDI calls on a device context:
// paths, pens and brushes, clipping, pictures and glyph runs. The same device, without a device
// context, counts what a page costs and finds out whether GDI can show it at all.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/flat_paint.h"
#include "plugins/pdf/page_fonts.h"
#include "plugins/pdf/page_regions.h"
#include "plugins/pdf/shading_mesh.h"

#include <OutputDev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

class GfxPath;

namespace pdf {

// What one page may cost, whichever way it is drawn (as GDI calls, or as a picture once counted).
// A page past any of them fails, so a small hostile document cannot make one page cost gigabytes
// or minutes. Each holds a dense real page several times over: a page of text has a few thousand
// glyphs, a detailed map some hundred thousand path points, a 600-dpi scan of a Letter page 34
// million pixels.
struct PageLimits {
    // Fills, strokes, clips, pictures, glyph runs drawn as outlines, Type 3 glyphs, and the saves and
    // restores of the graphics state.
    std::int64_t operations = 500'000;
    // Points of one path, and of all paths of the page.
    std::int64_t pathPoints = 1'000'000;
    std::int64_t pagePathPoints = 4'000'000;
    std::int64_t glyphs = 500'000;
    // Pixels of all pictures of the page as they are decoded (4 bytes each when drawn).
    std::int64_t imagePixels = 50'000'000;
    // Bytes of the font programs the page registers.
    std::int64_t fontBytes = std::int64_t{128} << 20;
    // Bytes of the page's drawing recorded as a metafile.
    std::int64_t metafileBytes = std::int64_t{256} << 20;
    // Clip paths in force at once: a context keeps a region listing them all for every clip, so
    // thousands nested would cost gigabytes.
    std::int64_t clipPaths = 1024;
};

// What a page spent of its limits, and whether GDI can show it as drawn.
struct PageCost {
    std::int64_t operations = 0;
    std::int64_t pathPoints = 0;
    std::int64_t glyphs = 0;
    std::int64_t imagePixels = 0;
    std::int64_t fontBytes = 0;
    // The most clip paths in force at once.
    std::int64_t clipPaths = 0;
    // A limit was passed: the page is not drawn.
    bool overLimit = false;
    // The page uses what GDI cannot express (transparency that changes the result: soft masks and
    // blend modes over other than plain fills or on other than fills, groups of other than plain
    // fills, constant alpha below 1 on text over more than one colour and smaller than display
    // type, stroked, on text of no alpha at all or on what has no shape GDI can clip to): its
    // areas go as pixels.
    bool needsPicture = false;
    // Glyphs filled under a constant opacity that go as areas only for their size (the words a
    // page would lose were they outlines), and all glyphs filled.
    std::int64_t smallTranslucentGlyphs = 0;
    std::int64_t filledGlyphs = 0;
    // GDI failed to keep the state or to make an object: the drawing is not what the page says. (A
    // shape, a picture or a glyph run GDI refuses is left out, as GDI leaves out a call it refuses.)
    bool drawFailed = false;
};

// One logical unit of the device context is split into this many for the coordinates the device
// writes, so that curves and glyph positions keep their precision in GDI's integer coordinates.
constexpr int kSubunits = 16;

// A fill of a group drawn as its fills: its path, mapped onto device space; its colour, its own
// opacity and its device box cut to the clip.
struct GroupFill {
    std::shared_ptr<const GfxPath> path;
    Matrix toDevice;
    bool evenOdd = false;
    COLORREF colour = 0;
    double opacity = 1;
    PageArea box;
};

// A transparency group painted in the normal blend mode under a constant opacity, whose content
// is only fills of one colour each through one box clip, each the area its even-odd rule
// makes, opaque (or, in a knockout group, under a constant opacity): each point shows the last
// fill there over what lies beneath the group, which GDI draws as each fill cut by the later
// ones and blended under its opacity times the group's. Found while the group is painted; it is
// no longer drawable as soon as anything else is painted in it.
struct FillsGroup {
    double opacity = 1;
    bool knockout = false;
    bool drawable = true;
    PageArea clip;
    std::vector<GroupFill> fills;
    // The box of what the group painted, its area if it is not drawn as its fills.
    PageArea painted;
};

class GdiOutputDev final : public OutputDev {
public:
    // A device that only counts, and notes in `texts` what the codes the page fills as text stand
    // for: nothing is drawn, no font and no picture is read.
    static std::unique_ptr<GdiOutputDev> Counting(const PageLimits& limits, PageTexts& texts);
    // A device drawing onto `dc`: poppler's device space (points, y down, at 72 per inch) is
    // mapped by `pointsToUnits` onto the context's logical units, on top of the transform the
    // context has. `fonts` registers the page's fonts.
    static std::unique_ptr<GdiOutputDev> Drawing(HDC dc, const Matrix& pointsToUnits, PageFonts& fonts,
                                                 const PageLimits& limits);

    ~GdiOutputDev() override;
    GdiOutputDev(const GdiOutputDev&) = delete;
    GdiOutputDev& operator=(const GdiOutputDev&) = delete;

    const PageCost& Cost() const { return cost_; }
    // Filled text under a constant opacity that cannot be text of a colour of its own goes as its
    // outlines blended whatever its size, not as an area over its words: for a page where those
    // words are few.
    void OutlineTranslucentText() { outlineTranslucentText_ = true; }
    // The areas of the page GDI cannot show as drawn (poppler's device space): painted over the
    // vectors as pixels. What is painted there in a way GDI cannot is left out of the vectors,
    // except glyphs, which stay as text beneath the pixels.
    const std::vector<PageArea>& Areas() const { return areas_; }
    // Rectangles (poppler's device space) that plain opaque paint hides whole, each laid over areas
    // before it and under no area after it: the vectors show there what the page shows.
    const std::vector<PageArea>& Covers() const { return covers_; }
    // Poppler's abort check: true once the page has passed a limit.
    static bool StopDrawing(void* device);

    // Before poppler draws: saves the context and sets up the sub-unit transform. After: gives the
    // context back as it was and deletes the pens, brushes and fonts of the page.
    void Begin();
    void Finish();

    // OutputDev.
    bool upsideDown() override { return true; }
    bool useDrawChar() override { return true; }
    bool interpretType3Chars() override { return true; }
    bool needNonText() override { return true; }
    // The page's crop box clips what it draws, as a viewer shows it.
    bool needClipToCropBox() override { return true; }

    // The tiles of a tiling pattern count against the limits before poppler draws them one by one.
    bool useTilingPatternFill() override { return true; }
    bool tilingPatternFill(GfxState* state, Gfx* gfx, Catalog* catalog, GfxTilingPattern* pattern, const double* matrix,
                           int x0, int y0, int x1, int y1, double xStep, double yStep) override;

    // Shadings are drawn by GradientFill, each with one call, split here as finely as they need;
    // their pieces count as operations.
    bool useShadedFills(int type) override { return type >= 1 && type <= 7; }
    bool functionShadedFill(GfxState* state, GfxFunctionShading* shading) override;
    bool axialShadedFill(GfxState* state, GfxAxialShading* shading, double tMin, double tMax) override;
    bool axialShadedSupportExtend(GfxState*, GfxAxialShading*) override { return true; }
    bool radialShadedFill(GfxState* state, GfxRadialShading* shading, double sMin, double sMax) override;
    bool radialShadedSupportExtend(GfxState*, GfxRadialShading*) override { return true; }
    bool gouraudTriangleShadedFill(GfxState* state, GfxGouraudTriangleShading* shading) override;
    bool patchMeshShadedFill(GfxState* state, GfxPatchMeshShading* shading) override;

    void saveState(GfxState* state) override;
    void restoreState(GfxState* state) override;

    void stroke(GfxState* state) override;
    void fill(GfxState* state) override;
    void eoFill(GfxState* state) override;
    void clip(GfxState* state) override;
    void eoClip(GfxState* state) override;
    void clipToStrokePath(GfxState* state) override;

    void beginTextObject(GfxState* state) override;
    void endTextObject(GfxState* state) override;
    void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                  CharCode code, int nBytes, const Unicode* u, int uLen) override;
    bool beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode code, const Unicode* u,
                        int uLen) override;
    void endType3Char(GfxState* state) override;

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert, bool interpolate,
                       bool inlineImg) override;
    void setSoftMaskFromImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                                  bool inlineImg, double* baseMatrix) override;
    void unsetSoftMaskFromImageMask(GfxState* state, double* baseMatrix) override;
    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override;
    void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                         bool interpolate, Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert,
                         bool maskInterpolate) override;
    void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                             int maskHeight, GfxImageColorMap* maskColorMap, bool maskInterpolate) override;

    bool checkTransparencyGroup(GfxState* state, bool knockout) override;
    void beginTransparencyGroup(GfxState* state, const double* bbox, GfxColorSpace* blendingColorSpace, bool isolated,
                                bool knockout, bool forSoftMask) override;
    void endTransparencyGroup(GfxState* state) override;
    void setSoftMask(GfxState* state, const double* bbox, bool alpha, Function* transferFunc,
                     GfxColor* backdropColor) override;
    void clearSoftMask(GfxState* state) override;
    void paintTransparencyGroup(GfxState* state, const double* bbox) override;
    void endPage() override;

private:
    // What is selected into the context, so that nothing is selected twice; saved and restored with
    // the context's own state.
    struct Selection {
        HGDIOBJ pen = nullptr;
        HGDIOBJ brush = nullptr;
        HGDIOBJ font = nullptr;
        int fillMode = 0;
        COLORREF textColor = CLR_INVALID;
        double miterLimit = -1;
        int stretchMode = 0;
    };

    // A pen as ExtCreatePen takes it.
    using PenKey = std::tuple<DWORD, DWORD, COLORREF, std::vector<DWORD>>;

    // Glyphs of one font, one glyph matrix and one colour along one baseline, drawn with one
    // ExtTextOutW in a logical space where the font's em is kEm units.
    struct GlyphRun {
        const PageFont* font = nullptr;
        // The em square (y up) mapped onto sub-units, without its shift; the run's first origin.
        Matrix emToUnits;
        double originX = 0;
        double originY = 0;
        COLORREF colour = 0;
        bool vertical = false;
        std::vector<WCHAR> glyphs;
        // Each glyph's origin in the run's logical space, whole units.
        std::vector<POINT> origins;
        // Where the glyph after the last one would start.
        POINT end{};
    };

    GdiOutputDev(HDC dc, const Matrix& pointsToUnits, PageFonts* fonts, PageTexts* texts, const PageLimits& limits);

    bool Draws() const { return dc_ != nullptr; }
    // Adds to the page's cost; false (and overLimit) once a limit is passed.
    bool Spend(std::int64_t operations, std::int64_t points, std::int64_t glyphs, std::int64_t pixels);
    bool SpendPath(const GfxPath& path);
    // Counts one more clip path in force, until the state it was made in is restored.
    void AddClip();
    // Whether the state fills or strokes in a way GDI draws (full opacity, the normal blend mode,
    // no soft mask); when not, `box` becomes an area.
    bool PaintsWithGdi(GfxState* state, bool fill, bool stroke, const PageArea& box, bool noted = false);
    // How a path is filled or stroked: as drawn (full opacity); as its colour blended with a
    // constant alpha through a clip to its shape (an opacity below 1 in the normal blend mode,
    // without a soft mask, in a plain colour, a stroke solid and of some width); as the opaque
    // parts a blend mode or a soft mask of plain fills leaves over plain fills (a fill in a plain
    // colour, with nothing else beneath it); not at all (no opacity); or only as pixels.
    enum class Painting { Opaque, Blended, Flat, Nothing, Pixels };
    Painting HowPainted(GfxState* state, const GfxPath& path, bool stroke) const;
    // The same for what the state alone decides, whatever the shape.
    Painting HowPainted(GfxState* state, bool stroke) const;
    // `plain` as it is; when false, `box` becomes an area and the page needs one. Unless the caller
    // `noted` the paint as a plain fill, it is noted as other paint over `box`.
    bool Plain(GfxState* state, bool plain, const PageArea& box, bool noted = false);
    // Notes paint other than a plain fill over `box`: in the backdrop, the soft mask being made or
    // the group of fills being found. A glyph joins the backdrop when its text object ends: the
    // font's box of one glyph reaches over the next, which lies over the same colours.
    void NoteOther(GfxState* state, const PageArea& box, bool glyph = false);
    // The opaque colour text in the state's fill leaves over `box` when one colour alone lies
    // beneath it there (the paper, or a plain fill whose box holds it); nothing otherwise.
    std::optional<COLORREF> TextColourOver(GfxState* state, const PageArea& box) const;
    // Notes an opaque fill of the state's plain colour through a box clip as part of the backdrop,
    // or of the soft mask being made; false when it is not such a fill, or no more are kept.
    bool NoteFlatFill(GfxState* state, const GfxPath& path, bool evenOdd);
    // Notes a shading painted through a box clip in a soft mask's group as part of the mask; false
    // when it is painted elsewhere, or the mask has no room for it.
    bool NoteMaskShading(GfxState* state, const GradientPieces& pieces);
    // How a path the state fills as flat parts is drawn: the boxes (device space) it changes, its
    // own cut to the clip or, where other paint lies there, each box where the soft mask lets
    // something through; and the backdrop's fills beneath them.
    struct FlatPlan {
        std::vector<PageArea> boxes;
        bool withinReach = false;
        std::vector<const FlatFill*> beneath;
    };
    std::optional<FlatPlan> PlanFlat(GfxState* state, const GfxPath& path) const;
    // The parts a path filled as flat parts is drawn as.
    std::size_t FlatParts(std::size_t beneath) const;
    // Adds `box` (device space), cut to the clip, to the areas; one already cut.
    void AddArea(GfxState* state, PageArea box);
    void AddCutArea(const PageArea& box);
    // Notes the box inside a path filled plainly and opaque, cut to the clip, as a cover of the
    // areas before it, when the clip is a box and the path has one inside it.
    void AddCover(GfxState* state, const GfxPath& path);
    // Whether what is painted now lies under an area already: inside a group that goes as an area
    // or a soft mask's group, or painted through a stroke or a stencil no GDI call can clip to.
    bool Hidden() const;
    // The device-space box of the rectangle (x0, y0)-(x1, y1) that `toUser` maps into user space,
    // grown by `grow` points; of a path (a stroke with its width).
    static PageArea BoxOf(GfxState* state, const Matrix& toUser, double x0, double y0, double x1, double y1,
                          double grow);
    static PageArea PathBox(GfxState* state, const GfxPath& path, bool stroke);
    static PageArea Union(const PageArea& a, const PageArea& b);
    // What a fill paints whole when each piece of its shape is a box along the axes.
    static std::vector<PageArea> ExactBoxes(const FlatFill& fill);

    void Save();
    void Restore();
    void Check(bool succeeded);
    Matrix UserToUnits(GfxState* state) const;

    // Selection of cached objects and attributes; each writes only a change.
    void SelectBrush(COLORREF colour);
    void SelectPen(const PenKey& key);
    void SelectFont(const std::u16string& faceName);
    void SetFillMode(int mode);
    void SetTextColour(COLORREF colour);
    void SetMiter(double limit);
    // Pictures enlarged smoothed (an image's /Interpolate true) or showing their pixels.
    void SetSmoothing(bool smooth);

    // The path's points mapped by `toUnits` as path calls inside a bracket the caller opens.
    void EmitPath(const GfxPath& path, const Matrix& toUnits);
    // fill/eoFill and clip/eoClip: the state's current path, once its cost is counted.
    void FillCurrentPath(GfxState* state, bool evenOdd);
    void ClipToCurrentPath(GfxState* state, bool evenOdd);
    void FillUserPath(GfxState* state, const GfxPath& path, bool evenOdd, COLORREF colour);
    void StrokeUserPath(GfxState* state, const GfxPath& path);
    void ClipUserPath(GfxState* state, const GfxPath& path, bool evenOdd);
    void FillPathWith(const GfxPath& path, const Matrix& toUnits, bool evenOdd, COLORREF colour);
    void ClipPathWith(const GfxPath& path, const Matrix& toUnits, bool evenOdd);
    // Fills `path` (user space) as the opaque parts its blend leaves over each part of the mask and
    // each of the fills `plan` finds beneath it: each part a box of its colour, or the mask's
    // shading in the colours its values leave, clipped to the path and to the mask's and the
    // backdrop's fills that make it, painted in the order that leaves each point its top part.
    void FlatUserPath(GfxState* state, const GfxPath& path, bool evenOdd, const FlatPlan& plan);
    // Paints `path` (user space) in `colour` under a constant `opacity`: the path made the clip, and
    // a one-pixel bitmap of the colour blended over its box with AlphaBlend's constant alpha.
    void BlendUserPath(GfxState* state, const GfxPath& path, bool evenOdd, COLORREF colour, double opacity);
    // The same for a path mapped by `toUnits`, with the even-odd area of each of `cuts` taken out of
    // the clip (RGN_DIFF).
    void BlendPathWith(const GfxPath& path, const Matrix& toUnits, bool evenOdd, COLORREF colour, double opacity,
                       std::span<const GroupFill* const> cuts);

    void AddGlyph(const PageFont& font, unsigned glyph, const Matrix& emToUnits, double x, double y, double nextX,
                  double nextY, COLORREF colour, bool vertical);
    void FlushRun();

    // Notes a fill painted in the group of fills; false (and the group no longer drawable) when it
    // is not one such a group is drawn with.
    bool NoteGroupFill(GfxState* state, const GfxPath& path, bool evenOdd, Painting painting);
    // Counts the group's fills and their cuts, and draws them.
    void DrawFillsGroup(const FillsGroup& group);
    // Draws the group that ended as its fills when poppler paints it (`state`) in a way they show,
    // or makes it the area it painted (also when a group ended and was never painted: no state).
    void SettleGroup(GfxState* state);

    // The pieces a shading may still take before the page passes its operation limit.
    std::size_t ShadingBudget() const;
    // Counts the pieces of one shading (`within` false: it would pass the operation limit, and the
    // page fails) and draws them with one GradientFill.
    bool FillShading(GfxState* state, bool within, const GradientPieces& pieces);

    // Draws 32-bit pixels (top-down rows) whose grid `pixelsToUnits` maps onto the page: opaque
    // ones with StretchDIBits, ones with alpha (premultiplied) with AlphaBlend.
    void DrawPixels(const std::vector<std::uint32_t>& pixels, int width, int height, const Matrix& pixelsToUnits,
                    bool alpha);
    // Draws the bytes of a JPEG as they are (StretchDIBits with BI_JPEG) onto the grid `pixelsToUnits` maps.
    void DrawJpeg(const std::vector<BYTE>& jpeg, int width, int height, const Matrix& pixelsToUnits);
    Matrix ImageToUnits(GfxState* state, int width, int height) const;
    // A picture with a stencil (`softMask` null: painted where a sample is 0, or 1 when `invert`) or
    // a soft mask (its grey is the alpha), drawn with AlphaBlend.
    void DrawMaskedPixels(GfxState* state, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                          Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* softMask, bool invert,
                          bool interpolate);

    HDC dc_;
    Matrix pointsToUnits_;
    PageFonts* fonts_;
    PageTexts* texts_;
    PageLimits limits_;
    PageCost cost_;
    bool outlineTranslucentText_ = false;

    int outerState_ = 0;
    bool begun_ = false;
    Selection selection_;
    std::vector<Selection> saved_;
    std::map<COLORREF, HBRUSH> brushes_;
    std::map<PenKey, HPEN> pens_;
    std::map<std::u16string, HFONT> fonts16_;
    HDC memoryDc_ = nullptr;

    GlyphRun run_;
    // Glyph outlines of clipping text, in user space, made the clip when the text object ends.
    std::unique_ptr<GfxPath> textClip_;
    // The boxes of the text object's glyphs, noted in the backdrop when it ends.
    std::vector<PageArea> textBoxes_;
    // A soft mask is in force; whether one was, for each saved state.
    bool softMask_ = false;
    std::vector<bool> savedSoftMasks_;
    // The soft mask in force when it is made of plain fills; for each saved state.
    std::shared_ptr<const FlatMask> flatMask_;
    std::vector<std::shared_ptr<const FlatMask>> savedFlatMasks_;
    // While a soft mask's group is painted: whether it is still only plain fills, which they are, and
    // the colour space of its backdrop colour.
    bool maskFlat_ = false;
    std::vector<MaskPart> maskParts_;
    std::unique_ptr<GfxColorSpace> maskSpace_;
    // What lies beneath what is painted next.
    FlatBackdrop backdrop_;
    std::int64_t clipsInForce_ = 0;
    std::vector<std::int64_t> savedClips_;

    std::vector<PageArea> areas_;
    std::vector<PageArea> covers_;
    // Whether the clip in force is its bounding box (every clip so far a box along the axes); for
    // each saved state.
    bool clipIsBox_ = true;
    std::vector<bool> savedClipIsBox_;
    // Groups open now, what each is; how many of each kind. A group is plain when it looks the same
    // drawn straight onto the page, and the last check of a group found the next one plain.
    enum class GroupKind { Plain, Area, Mask };
    std::vector<GroupKind> groupKinds_;
    bool plainGroupChecked_ = false;
    // The outermost group that goes as an area while it may still be drawn as its fills; once it
    // ends, until poppler paints it.
    std::optional<FillsGroup> fillsGroup_;
    std::optional<FillsGroup> endedGroup_;
    int areaGroups_ = 0;
    // For each group open that goes as an area, the box of what it has painted so far.
    std::vector<PageArea> groupAreas_;
    int maskGroups_ = 0;
    // Stencils filled with a pattern that are being painted through.
    int stencilMasks_ = 0;
    // Saves of the state deep now, and the depth from which a stroke clip hides what is painted.
    int stateDepth_ = 0;
    int hiddenFromDepth_ = -1;
};

// A PDF dash array and phase as a GDI pen takes them: `style` even in length and starting with a
// dash, the phase applied by rotating the array; empty for a solid line (no dashes, or none of
// positive length). With flat caps a phase inside a gap starts with a dash of no length, which
// shows nothing; with round or square caps it would show as a dot, so the style starts at the next
// dash instead and the path is made to start there too: `lead` is the length of gap to cut off the
// start of every subpath.
struct PenDashes {
    std::vector<DWORD> style;
    double lead = 0;
};

// The pen dashes of `dashes` and `phase`, their lengths multiplied by `scale`.
PenDashes DashStyle(const std::vector<double>& dashes, double phase, double scale, bool flatCaps);

// The header of a top-down 32-bit BI_RGB bitmap of width × height pixels (blue, green, red, reserved).
BITMAPINFO TopDown32(int width, int height);

} // namespace pdf

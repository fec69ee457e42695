// The printer device: each document becomes a PDF drawn with cairo into the private file its job
// sink opened, one PDF page per StartPage/EndPage, the page being the physical sheet. Device units
// are printer dots with (0, 0) at the printable area's corner, and drawing is clipped to that area.
// A failed write is carried on the device: the document then fails as a whole and leaves nothing.
#include "platform/gdi/devices/devices.h"

#include "platform/gdi/context/emf_format.h"
#include "platform/gdi/devices/page_notes.h"
#include "platform/gdi/devices/printer_geometry.h"
#include "platform/gdi/fonts/private_fonts.h"
#include "platform/gdi/pictures/picture.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/spooler/job_sink.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform::gdi {
namespace {

constexpr double kPointsPerInch = 72.0;
// Glyphs larger than this many points on the page (an em of about 6 metres), or stretched one way
// a million times more than the other, are refused: FreeType makes no glyphs of 65536 pixels or
// more, and cairo fails (and loses memory) making a font of such a size or shape.
constexpr double kMaxGlyphPoints = 16384;
constexpr double kMaxGlyphStretch = 1e6;
// A pen wider than this many device dots (dozens of metres) is refused, and so is a geometric pen
// whose world transform stretches one way a million times more than the other: cairo's time and
// memory for such a stroke grow with the stretch, to seconds and gigabytes.
constexpr double kMaxPenDots = 1e6;
constexpr double kMaxPenStretch = 1e6;
// A stroke is cut into at most this many dashes; a finer pattern, which no one could see as
// dashes, is drawn as a solid line.
constexpr double kMaxDashes = 100000;

// The grey a monochrome job prints for a colour: its luma, weighted as Picture::Grey weighs it.
BYTE Luma(COLORREF color)
{
    return static_cast<BYTE>((299 * GetRValue(color) + 587 * GetGValue(color) + 114 * GetBValue(color) + 500) / 1000);
}

// Transforms cross to cairo and back only here.
cairo_matrix_t CairoMatrix(const Affine& a)
{
    return cairo_matrix_t{a.m11, a.m12, a.m21, a.m22, a.dx, a.dy};
}

Affine FromCairo(const cairo_matrix_t& m)
{
    return Affine{m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

// Adds path points (device units) to cairo's path.
void AppendPath(cairo_t* cairo, std::span<const PathPoint> points)
{
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PathPoint& point = points[i];
        switch (point.type & ~PT_CLOSEFIGURE) {
        case PT_MOVETO:
            cairo_move_to(cairo, point.point.x, point.point.y);
            break;
        case PT_BEZIERTO:
            if (i + 2 < points.size()) {
                cairo_curve_to(cairo, point.point.x, point.point.y, points[i + 1].point.x, points[i + 1].point.y,
                               points[i + 2].point.x, points[i + 2].point.y);
                i += 2;
                break;
            }
            [[fallthrough]];
        default:
            cairo_line_to(cairo, point.point.x, point.point.y);
            break;
        }
        if (points[i].type & PT_CLOSEFIGURE)
            cairo_close_path(cairo);
    }
}

cairo_line_cap_t CapOf(DWORD cap)
{
    switch (cap) {
    case PS_ENDCAP_SQUARE:
        return CAIRO_LINE_CAP_SQUARE;
    case PS_ENDCAP_FLAT:
        return CAIRO_LINE_CAP_BUTT;
    default:
        return CAIRO_LINE_CAP_ROUND;
    }
}

cairo_line_join_t JoinOf(DWORD join)
{
    switch (join) {
    case PS_JOIN_BEVEL:
        return CAIRO_LINE_JOIN_BEVEL;
    case PS_JOIN_MITER:
        return CAIRO_LINE_JOIN_MITER;
    default:
        return CAIRO_LINE_JOIN_ROUND;
    }
}

// A GradientFill vertex's colour as cairo takes it; grey for a monochrome job.
struct Rgb {
    double red = 0;
    double green = 0;
    double blue = 0;
};
Rgb ColourOf(const TRIVERTEX& vertex, bool color)
{
    constexpr double kChannel = 65535.0;
    const Rgb rgb{vertex.Red / kChannel, vertex.Green / kChannel, vertex.Blue / kChannel};
    if (color)
        return rgb;
    const double grey = 0.299 * rgb.red + 0.587 * rgb.green + 0.114 * rgb.blue;
    return Rgb{grey, grey, grey};
}

void AddStop(cairo_pattern_t* pattern, double offset, const Rgb& rgb)
{
    cairo_pattern_add_color_stop_rgb(pattern, offset, rgb.red, rgb.green, rgb.blue);
}

void SetCorner(cairo_pattern_t* mesh, unsigned corner, const Rgb& rgb)
{
    cairo_mesh_pattern_set_corner_color_rgb(mesh, corner, rgb.red, rgb.green, rgb.blue);
}

// One rectangle of a GradientFill turned so that its colour runs along `along`, from `start` to
// `end` (start < end), across `from` to `to`.
struct Band {
    double start = 0;
    double end = 0;
    double from = 0;
    double to = 0;
    Rgb first;
    Rgb last;
};

std::vector<Band> BandsOf(const GradientDrawing& drawing, bool color)
{
    const bool vertical = drawing.mode == GRADIENT_FILL_RECT_V;
    std::vector<Band> bands;
    for (std::size_t at = 0; at + 1 < drawing.indices.size(); at += 2) {
        const TRIVERTEX& upperLeft = drawing.vertices[drawing.indices[at]];
        const TRIVERTEX& lowerRight = drawing.vertices[drawing.indices[at + 1]];
        double start = vertical ? upperLeft.y : upperLeft.x;
        double end = vertical ? lowerRight.y : lowerRight.x;
        Rgb first = ColourOf(upperLeft, color);
        Rgb last = ColourOf(lowerRight, color);
        if (end < start) {
            std::swap(start, end);
            std::swap(first, last);
        }
        const double from = vertical ? upperLeft.x : upperLeft.y;
        const double to = vertical ? lowerRight.x : lowerRight.y;
        if (end > start && to != from)
            bands.push_back(Band{start, end, std::min(from, to), std::max(from, to), first, last});
    }
    return bands;
}

// Rectangles that follow one another along their axis, each starting where the one before ends,
// all of one extent across it: one linear gradient with a stop at each of their ends. Null when
// the rectangles are not such a run.
cairo_pattern_t* RunOfBands(std::span<const Band> bands, bool vertical)
{
    for (std::size_t i = 1; i < bands.size(); ++i) {
        if (bands[i].start != bands[i - 1].end || bands[i].from != bands[0].from || bands[i].to != bands[0].to)
            return nullptr;
    }
    const double start = bands.front().start;
    const double length = bands.back().end - start;
    cairo_pattern_t* linear = vertical ? cairo_pattern_create_linear(0, start, 0, start + length)
                                       : cairo_pattern_create_linear(start, 0, start + length, 0);
    for (const Band& band : bands) {
        AddStop(linear, (band.start - start) / length, band.first);
        AddStop(linear, (band.end - start) / length, band.last);
    }
    return linear;
}

// Adds a patch of four straight sides with its corners' colours.
void AddPatch(cairo_pattern_t* mesh, const std::array<const TRIVERTEX*, 4>& corners, bool color)
{
    cairo_mesh_pattern_begin_patch(mesh);
    cairo_mesh_pattern_move_to(mesh, corners[0]->x, corners[0]->y);
    for (unsigned i = 1; i < 4; ++i)
        cairo_mesh_pattern_line_to(mesh, corners[i]->x, corners[i]->y);
    for (unsigned i = 0; i < 4; ++i)
        SetCorner(mesh, i, ColourOf(*corners[i], color));
    cairo_mesh_pattern_end_patch(mesh);
}

// The colour of a triangle's corners interpolated at a point, when the point lies inside it.
std::optional<Rgb> Interpolated(const std::array<const TRIVERTEX*, 3>& t, double x, double y, bool color)
{
    const double x0 = t[0]->x, y0 = t[0]->y;
    const double det = (t[1]->x - x0) * (t[2]->y - y0) - (t[2]->x - x0) * (t[1]->y - y0);
    if (det == 0)
        return std::nullopt;
    const double u = ((x - x0) * (t[2]->y - y0) - (t[2]->x - x0) * (y - y0)) / det;
    const double v = ((t[1]->x - x0) * (y - y0) - (x - x0) * (t[1]->y - y0)) / det;
    constexpr double kEdge = -1e-9;
    if (u < kEdge || v < kEdge || u + v > 1 - kEdge)
        return std::nullopt;
    const Rgb c0 = ColourOf(*t[0], color), c1 = ColourOf(*t[1], color), c2 = ColourOf(*t[2], color);
    const auto mix = [&](double a, double b, double c) { return a + u * (b - a) + v * (c - a); };
    return Rgb{mix(c0.red, c1.red, c2.red), mix(c0.green, c1.green, c2.green), mix(c0.blue, c1.blue, c2.blue)};
}

// Two triangles that share a side and make a convex quadrilateral (a strip of a ring, a cell of a
// lattice) as one patch of four corners, when the patch's colours, interpolated between its
// corners, stay within half a step of eight bits of the triangles' everywhere sampled: the job
// then holds half the patches. Nothing when they do not.
std::optional<std::array<const TRIVERTEX*, 4>> QuadOf(const std::array<const TRIVERTEX*, 3>& first,
                                                      const std::array<const TRIVERTEX*, 3>& second, bool color)
{
    const auto in = [](const TRIVERTEX* vertex, const std::array<const TRIVERTEX*, 3>& triangle) {
        return std::find(triangle.begin(), triangle.end(), vertex) != triangle.end();
    };
    std::vector<const TRIVERTEX*> shared;
    const TRIVERTEX* own = nullptr;
    for (const TRIVERTEX* vertex : first) {
        if (in(vertex, second))
            shared.push_back(vertex);
        else
            own = vertex;
    }
    const auto other = std::find_if(second.begin(), second.end(), [&](const TRIVERTEX* v) { return !in(v, first); });
    if (shared.size() != 2 || !own || other == second.end())
        return std::nullopt;
    const std::array<const TRIVERTEX*, 4> quad{own, shared[0], *other, shared[1]};
    // Convex: each diagonal has the other two corners on either side of it.
    const auto side = [](const TRIVERTEX* a, const TRIVERTEX* b, const TRIVERTEX* p) {
        return (double(b->x) - a->x) * (double(p->y) - a->y) - (double(b->y) - a->y) * (double(p->x) - a->x);
    };
    if (!(side(quad[1], quad[3], quad[0]) * side(quad[1], quad[3], quad[2]) < 0)
        || !(side(quad[0], quad[2], quad[1]) * side(quad[0], quad[2], quad[3]) < 0))
        return std::nullopt;
    std::array<Rgb, 4> colours;
    for (unsigned i = 0; i < 4; ++i)
        colours[i] = ColourOf(*quad[i], color);
    constexpr double kTolerance = 0.5 / 255;
    for (const double u : {0.25, 0.5, 0.75}) {
        for (const double v : {0.25, 0.5, 0.75}) {
            const double w[4] = {(1 - u) * (1 - v), u * (1 - v), u * v, (1 - u) * v};
            double x = 0, y = 0;
            Rgb patch;
            for (unsigned i = 0; i < 4; ++i) {
                x += w[i] * quad[i]->x;
                y += w[i] * quad[i]->y;
                patch.red += w[i] * colours[i].red;
                patch.green += w[i] * colours[i].green;
                patch.blue += w[i] * colours[i].blue;
            }
            std::optional<Rgb> wanted = Interpolated(first, x, y, color);
            if (!wanted)
                wanted = Interpolated(second, x, y, color);
            if (!wanted || std::abs(wanted->red - patch.red) > kTolerance
                || std::abs(wanted->green - patch.green) > kTolerance
                || std::abs(wanted->blue - patch.blue) > kTolerance)
                return std::nullopt;
        }
    }
    return quad;
}

// Rectangles or triangles anywhere: one mesh pattern holding them all, a rectangle's colour
// running along its axis, a triangle's between its corners.
cairo_pattern_t* MeshOf(const GradientDrawing& drawing, std::span<const Band> bands, bool color)
{
    cairo_pattern_t* mesh = cairo_pattern_create_mesh();
    const bool vertical = drawing.mode == GRADIENT_FILL_RECT_V;
    for (const Band& band : bands) {
        const auto corner = [&](double along, double across) {
            if (vertical)
                cairo_mesh_pattern_line_to(mesh, across, along);
            else
                cairo_mesh_pattern_line_to(mesh, along, across);
        };
        cairo_mesh_pattern_begin_patch(mesh);
        corner(band.start, band.from);
        corner(band.end, band.from);
        corner(band.end, band.to);
        corner(band.start, band.to);
        SetCorner(mesh, 0, band.first);
        SetCorner(mesh, 1, band.last);
        SetCorner(mesh, 2, band.last);
        SetCorner(mesh, 3, band.first);
        cairo_mesh_pattern_end_patch(mesh);
    }
    if (drawing.mode != GRADIENT_FILL_TRIANGLE)
        return mesh;
    const auto corner = [&](std::size_t at) -> const TRIVERTEX& { return drawing.vertices[drawing.indices[at]]; };
    for (std::size_t at = 0; at + 2 < drawing.indices.size(); at += 3) {
        const std::array<const TRIVERTEX*, 3> triangle{&corner(at), &corner(at + 1), &corner(at + 2)};
        if (at + 5 < drawing.indices.size()) {
            const std::array<const TRIVERTEX*, 3> next{&corner(at + 3), &corner(at + 4), &corner(at + 5)};
            if (const auto quad = QuadOf(triangle, next, color)) {
                AddPatch(mesh, *quad, color);
                at += 3;
                continue;
            }
        }
        // A patch of four sides whose last corner is its first again: colours inside it are then
        // those of the triangle, interpolated between its three corners.
        AddPatch(mesh, {triangle[0], triangle[1], triangle[2], triangle[0]}, color);
    }
    return mesh;
}

class PrinterDevice final : public DeviceBackend {
public:
    PrinterDevice(const PrinterDefinition& printer, const spooler::FullDevMode& devMode)
        : printer_(printer),
          devMode_(devMode),
          geometry_(GeometryOf(devMode.devMode.dmPrintQuality, devMode)),
          color_(devMode.devMode.dmColor == DMCOLOR_COLOR)
    {}

    ~PrinterDevice() override
    {
        // A document never ended leaves nothing behind.
        if (document_)
            AbortDoc();
    }

    int Caps(int index) const override
    {
        switch (index) {
        case TECHNOLOGY:
            return DT_RASPRINTER;
        case HORZSIZE:
            return geometry_.printableWidthMm;
        case VERTSIZE:
            return geometry_.printableHeightMm;
        case HORZRES:
            return geometry_.printableWidth;
        case VERTRES:
            return geometry_.printableHeight;
        case BITSPIXEL:
            return color_ ? 24 : 8;
        case PLANES:
            return 1;
        case NUMCOLORS:
            return -1;
        case RASTERCAPS:
            return RC_BITMAP64 | RC_DI_BITMAP | RC_STRETCHDIB;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return geometry_.dpi;
        case PHYSICALWIDTH:
            return geometry_.physicalWidth;
        case PHYSICALHEIGHT:
            return geometry_.physicalHeight;
        case PHYSICALOFFSETX:
            return geometry_.offsetX;
        case PHYSICALOFFSETY:
            return geometry_.offsetY;
        default:
            return 0;
        }
    }

    int StartDoc(const DOCINFOW& docInfo) override
    {
        if (document_)
            return Refuse(ERROR_INVALID_PARAMETER);
        // Printing to a file the caller names is not offered: jobs go to the printer.
        if (docInfo.lpszOutput)
            return Refuse(ERROR_NOT_SUPPORTED);
        documentName_ = docInfo.lpszDocName ? std::u16string(docInfo.lpszDocName) : std::u16string();
        sink_ = spooler::MakeJobSink(printer_, devMode_);
        const int jobId = sink_->Start(documentName_);
        if (jobId <= 0)
            return SP_ERROR;
        writeError_ = 0;
        pages_ = 0;
        picturePages_ = 0;
        pictureRegions_ = 0;
        document_ = cairo_pdf_surface_create_for_stream(WriteDocument, this, PageWidthPoints(), PageHeightPoints());
        if (cairo_surface_status(document_) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(std::exchange(document_, nullptr));
            sink_->Discard();
            return Refuse(ERROR_NOT_ENOUGH_MEMORY);
        }
        cairo_pdf_surface_set_metadata(document_, CAIRO_PDF_METADATA_TITLE, Utf16ToUtf8(documentName_).c_str());
        return jobId;
    }

    int StartPage() override
    {
        if (!document_ || page_)
            return Refuse(ERROR_INVALID_PARAMETER);
        if (Failed())
            return FailedAnswer();
        page_ = cairo_create(document_);
        const double scale = kPointsPerInch / geometry_.dpi;
        cairo_scale(page_, scale, scale);
        cairo_translate(page_, geometry_.offsetX, geometry_.offsetY);
        cairo_rectangle(page_, 0, 0, geometry_.printableWidth, geometry_.printableHeight);
        cairo_clip(page_);
        cairo_get_matrix(page_, &deviceToPage_);
        // The device context's clip is set inside this state, and replaced by restoring it.
        cairo_save(page_);
        appliedClip_.reset();
        pictureOnPage_ = false;
        return 1;
    }

    int EndPage() override
    {
        if (!page_)
            return Refuse(ERROR_INVALID_PARAMETER);
        cairo_restore(page_);
        cairo_show_page(page_);
        const bool drawn = cairo_status(page_) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(std::exchange(page_, nullptr));
        appliedClip_.reset();
        if (!drawn || Failed())
            return FailedAnswer();
        ++pages_;
        picturePages_ += pictureOnPage_ ? 1 : 0;
        HoldAfterPageIfAsked();
        return 1;
    }

    int EndDoc() override
    {
        if (!document_)
            return Refuse(ERROR_INVALID_PARAMETER);
        if (page_ && EndPage() <= 0) {
            const int answer = FailedAnswer();
            AbortDoc();
            return answer;
        }
        cairo_surface_finish(document_);
        if (Failed()) {
            const int answer = FailedAnswer();
            AbortDoc();
            return answer;
        }
        cairo_surface_destroy(std::exchange(document_, nullptr));
        const bool handed
            = sink_->Finish(spooler::JobDescription{documentName_, pages_, picturePages_, pictureRegions_});
        sink_.reset();
        return handed ? 1 : SP_ERROR;
    }

    int AbortDoc() override
    {
        if (!document_)
            return Refuse(ERROR_INVALID_PARAMETER);
        discarding_ = true;
        if (page_)
            cairo_destroy(std::exchange(page_, nullptr));
        appliedClip_.reset();
        cairo_surface_destroy(std::exchange(document_, nullptr));
        discarding_ = false;
        sink_->Discard();
        sink_.reset();
        return 1;
    }

    bool Paint(const PicturePlacement& placement) override
    {
        if (!page_) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        const Picture& picture = placement.picture;
        // A picture of one pixel is a colour: it goes into the PDF as its rectangle filled, a shape
        // under the clip and the opacity, not as a picture a viewer scales (and may smooth into a
        // fade towards its edges).
        if (picture.Width() == 1 && picture.Height() == 1)
            return PaintColour(placement);
        const Affine& to = placement.pictureToDevice;
        const Affine stored = picture.StoredToUpright();
        // A JPEG the printer takes goes into the PDF as its own bytes, cut by the clip alone, and
        // its pixels are never decoded. Everything else is drawn from pixels, grey for a
        // monochrome job, made at most as many as the dots the picture covers on the page.
        cairo_surface_t* source = color_ && printer_.TakesJpeg() ? picture.JpegSurface() : nullptr;
        const Affine storedToDevice = Then(stored, to);
        const auto dots = [](double side, double x, double y) {
            return static_cast<int>(std::min(std::ceil(side * std::hypot(x, y)), double{kMaxPictureSide}));
        };
        const int dotsAcross = dots(picture.StoredWidth(), storedToDevice.m11, storedToDevice.m12);
        const int dotsDown = dots(picture.StoredHeight(), storedToDevice.m21, storedToDevice.m22);
        if (!source)
            source = picture.Pixels(dotsAcross, dotsDown, !color_);
        // A picture made larger shows its pixels as they are unless smoothing was asked for; the
        // PDF says which (its /Interpolate), and viewers and printers follow it. One made smaller
        // was filtered well as its pixels were made.
        const bool enlarged = dotsAcross > picture.StoredWidth() || dotsDown > picture.StoredHeight();
        const cairo_filter_t filter = enlarged && !placement.smoothEnlarged ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD;
        if (!source) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        const cairo_matrix_t matrix = CairoMatrix(to);
        const cairo_matrix_t storedToUpright = CairoMatrix(stored);
        ApplyClip(placement.clip);
        cairo_save(page_);
        cairo_transform(page_, &matrix);
        cairo_rectangle(page_, placement.source.x, placement.source.y, placement.source.width, placement.source.height);
        cairo_clip(page_);
        cairo_transform(page_, &storedToUpright);
        // Pixels made smaller than the stored grid still cover the whole picture.
        if (cairo_surface_get_type(source) == CAIRO_SURFACE_TYPE_IMAGE)
            cairo_scale(page_, static_cast<double>(picture.StoredWidth()) / cairo_image_surface_get_width(source),
                        static_cast<double>(picture.StoredHeight()) / cairo_image_surface_get_height(source));
        cairo_set_source_surface(page_, source, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(page_), filter);
        if (placement.opacity < 1)
            cairo_paint_with_alpha(page_, placement.opacity);
        else
            cairo_paint(page_);
        cairo_restore(page_);
        return Drawn();
    }

    bool DrawPath(const PathDrawing& drawing) override
    {
        if (!page_) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        ApplyClip(drawing.clip);
        cairo_new_path(page_);
        AppendPath(page_, drawing.points);
        if (drawing.fill) {
            SetColour(drawing.fill->color);
            cairo_set_fill_rule(page_, drawing.fill->evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            cairo_fill_preserve(page_);
        }
        const bool stroked = !drawing.stroke || Stroke(drawing.points, *drawing.stroke);
        cairo_new_path(page_);
        return Drawn() && stroked;
    }

    bool DrawGradient(const GradientDrawing& drawing) override
    {
        if (!page_) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // A transform that flattens the pieces leaves no ink.
        if (!IsInvertible(Then(drawing.logicalToDevice, FromCairo(deviceToPage_))))
            return true;
        // One pattern painted once, so that no seam shows between the pieces wherever they meet.
        const bool vertical = drawing.mode == GRADIENT_FILL_RECT_V;
        const std::vector<Band> bands
            = drawing.mode == GRADIENT_FILL_TRIANGLE ? std::vector<Band>{} : BandsOf(drawing, color_);
        if (drawing.mode != GRADIENT_FILL_TRIANGLE && bands.empty())
            return true;
        // A run's gradient pads beyond its ends, so it is filled over the run alone; a mesh paints
        // nothing outside its pieces.
        ExtentD extent;
        cairo_pattern_t* pattern = bands.empty() ? nullptr : RunOfBands(bands, vertical);
        if (pattern) {
            const Band& first = bands.front();
            extent.Add(vertical ? PointD{first.from, first.start} : PointD{first.start, first.from});
            extent.Add(vertical ? PointD{first.to, bands.back().end} : PointD{bands.back().end, first.to});
        } else {
            pattern = MeshOf(drawing, bands, color_);
            for (const ULONG index : drawing.indices)
                extent.Add(PointD{double(drawing.vertices[index].x), double(drawing.vertices[index].y)});
        }
        ApplyClip(drawing.clip);
        cairo_save(page_);
        const cairo_matrix_t matrix = CairoMatrix(drawing.logicalToDevice);
        cairo_transform(page_, &matrix);
        cairo_set_source(page_, pattern);
        cairo_pattern_destroy(pattern);
        cairo_new_path(page_);
        cairo_rectangle(page_, extent.left, extent.top, extent.right - extent.left, extent.bottom - extent.top);
        cairo_fill(page_);
        cairo_restore(page_);
        return Drawn();
    }

    bool DrawGlyphs(const GlyphRun& run) override
    {
        if (!page_) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // Glyphs flattened to nothing leave no ink; glyphs far too large are refused before cairo
        // can put the page into an error with them.
        const Affine emToPage = Then(run.emToDevice, FromCairo(deviceToPage_));
        if (!IsInvertible(emToPage))
            return true;
        const double scale = std::max(
            {std::abs(emToPage.m11), std::abs(emToPage.m12), std::abs(emToPage.m21), std::abs(emToPage.m22)});
        if (scale > kMaxGlyphPoints || !(Stretch(emToPage) <= kMaxGlyphStretch)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        const cairo_matrix_t fontMatrix = CairoMatrix(run.emToDevice);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_scaled_font_t* font
            = cairo_scaled_font_create(run.font->CairoFace(), &fontMatrix, &deviceToPage_, options);
        cairo_font_options_destroy(options);
        if (cairo_scaled_font_status(font) != CAIRO_STATUS_SUCCESS) {
            cairo_scaled_font_destroy(font);
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }

        ApplyClip(run.clip);
        cairo_save(page_);
        if (run.clipRect) {
            AppendQuad(*run.clipRect);
            cairo_clip(page_);
        }
        // The background colour is white: there is no call here that sets another.
        for (const Quad& quad : run.background) {
            AppendQuad(quad);
            cairo_set_source_rgb(page_, 1, 1, 1);
            cairo_fill(page_);
        }
        cairo_set_scaled_font(page_, font);
        SetColour(run.color);
        ShowGlyphs(run);
        cairo_restore(page_);
        cairo_scaled_font_destroy(font);
        return Drawn();
    }

    // The note of a page drawn as a picture marks the page under way; each note of an area painted
    // as pixels is counted.
    bool Comment(std::span<const BYTE> data) override
    {
        if (!page_ || data.size() != 2 * sizeof(DWORD) || emf::Read<DWORD>(data.data(), 0) != kPageNoteSignature)
            return true;
        const DWORD value = emf::Read<DWORD>(data.data(), sizeof(DWORD));
        pictureOnPage_ = pictureOnPage_ || value == kPageNotePicture;
        pictureRegions_ += value == kPageNoteRegion ? 1 : 0;
        return true;
    }

    bool KnowsEscape(int escape) const override
    {
        return escape == QUERYESCSUPPORT || (escape == CHECKJPEGFORMAT && printer_.TakesJpeg())
            || (escape == CHECKPNGFORMAT && printer_.TakesPng());
    }

    // A monochrome job takes no compressed picture unchanged: every picture is turned grey first.
    bool TakesUnchanged(DWORD compression, std::span<const BYTE> bytes) const override
    {
        if (!color_)
            return false;
        if (compression == BI_JPEG) {
            const std::optional<JpegInfo> info = InspectJpeg(bytes);
            return printer_.TakesJpeg() && info && info->components != 4;
        }
        return compression == BI_PNG && printer_.TakesPng() && IsCompletePng(bytes);
    }

private:
    void AppendQuad(const Quad& quad)
    {
        cairo_new_path(page_);
        cairo_move_to(page_, quad[0].x, quad[0].y);
        for (std::size_t i = 1; i < quad.size(); ++i)
            cairo_line_to(page_, quad[i].x, quad[i].y);
        cairo_close_path(page_);
    }

    // Shows a run's glyphs with the text they stand for, so that the PDF says which text it
    // shows: a stretch of glyphs that all have text goes with it (one cluster a glyph), a
    // stretch without goes alone, cairo then saying what it can from the font.
    void ShowGlyphs(const GlyphRun& run)
    {
        glyphs_.clear();
        for (const PlacedGlyph& glyph : run.glyphs)
            glyphs_.push_back(cairo_glyph_t{glyph.index, glyph.origin.x, glyph.origin.y});
        std::size_t start = 0;
        while (start < run.glyphs.size()) {
            const bool withText = run.glyphs[start].textLength > 0;
            std::size_t stop = start;
            utf8_.clear();
            clusters_.clear();
            while (stop < run.glyphs.size() && (run.glyphs[stop].textLength > 0) == withText) {
                if (withText) {
                    const PlacedGlyph& glyph = run.glyphs[stop];
                    const std::size_t before = utf8_.size();
                    // cairo refuses a string holding a noncharacter, and a refusal would end the page.
                    utf8_ += Utf16ToUtf8(std::u16string_view(run.text).substr(glyph.textOffset, glyph.textLength),
                                         Noncharacters::Replace);
                    clusters_.push_back(cairo_text_cluster_t{static_cast<int>(utf8_.size() - before), 1});
                }
                ++stop;
            }
            const int count = static_cast<int>(stop - start);
            if (withText)
                cairo_show_text_glyphs(page_, utf8_.data(), static_cast<int>(utf8_.size()), glyphs_.data() + start,
                                       count, clusters_.data(), static_cast<int>(clusters_.size()),
                                       cairo_text_cluster_flags_t{});
            else
                cairo_show_glyphs(page_, glyphs_.data() + start, count);
            start = stop;
        }
    }

    // The context's clip, set anew only when it is another clip than the one last set.
    void ApplyClip(const SharedClip& clip)
    {
        if (clip == appliedClip_)
            return;
        cairo_restore(page_);
        cairo_save(page_);
        if (clip) {
            for (const std::shared_ptr<const ClipPath>& path : clip->paths) {
                cairo_new_path(page_);
                // An excluded path is cut out of a rectangle around the printable area (nothing
                // outside it shows): by the even-odd rule, what lies inside the path lies outside.
                if (path->excluded)
                    cairo_rectangle(page_, -1, -1, geometry_.printableWidth + 2.0, geometry_.printableHeight + 2.0);
                AppendPath(page_, path->points);
                cairo_set_fill_rule(page_, path->evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
                cairo_clip(page_);
            }
        }
        appliedClip_ = clip;
    }

    void SetColour(COLORREF color, double alpha = 1)
    {
        if (!color_) {
            const double grey = Luma(color) / 255.0;
            cairo_set_source_rgba(page_, grey, grey, grey, alpha);
        } else {
            cairo_set_source_rgba(page_, GetRValue(color) / 255.0, GetGValue(color) / 255.0, GetBValue(color) / 255.0,
                                  alpha);
        }
    }

    // Fills the source rectangle of a one-pixel picture with its colour, under its alpha and the
    // placement's opacity.
    bool PaintColour(const PicturePlacement& placement)
    {
        BYTE pixel[4] = {};
        if (!placement.picture.ReadPixels(0, 0, 1, 1, false, pixel, sizeof pixel)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        const double alpha = pixel[3] / 255.0 * placement.opacity;
        if (!(alpha > 0))
            return true;
        ApplyClip(placement.clip);
        cairo_save(page_);
        const cairo_matrix_t matrix = CairoMatrix(placement.pictureToDevice);
        cairo_transform(page_, &matrix);
        cairo_rectangle(page_, placement.source.x, placement.source.y, placement.source.width, placement.source.height);
        SetColour(RGB(pixel[2], pixel[1], pixel[0]), std::min(alpha, 1.0));
        cairo_fill(page_);
        cairo_restore(page_);
        return Drawn();
    }

    // Strokes cairo's path, whose points these are. A geometric pen is shaped by the world
    // transform, which must then map areas to areas; a cosmetic one is a device pixel wide.
    // False (last error set) for a pen past the limits above.
    bool Stroke(std::span<const PathPoint> points, const StrokeSpec& stroke)
    {
        double width = 1;
        Affine deviceToPen; // where dashes are measured
        if (!stroke.cosmetic) {
            const Affine& world = stroke.logicalToDevice;
            if (!IsInvertible(Then(world, FromCairo(deviceToPage_))))
                return true; // a pen flattened to nothing leaves no ink
            const double reach = stroke.width
                * std::max(std::abs(world.m11) + std::abs(world.m21), std::abs(world.m12) + std::abs(world.m22));
            if (reach > kMaxPenDots || !(Stretch(world) <= kMaxPenStretch)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            width = stroke.width;
            deviceToPen = Inverse(world);
        }
        DashPattern dashes = NormaliseDashes(stroke.dashes);
        // Dashes far finer than the line is long cannot be told apart: the line is drawn solid,
        // before cairo would cut it into millions of pieces.
        if (!dashes.lengths.empty()) {
            double period = 0;
            for (double length : dashes.lengths)
                period += length;
            if (PenLength(points, deviceToPen) / period > kMaxDashes)
                dashes.lengths.clear();
        }
        cairo_save(page_);
        if (!stroke.cosmetic) {
            const cairo_matrix_t world = CairoMatrix(stroke.logicalToDevice);
            cairo_transform(page_, &world);
        }
        cairo_set_line_width(page_, width);
        cairo_set_line_cap(page_, CapOf(stroke.endCap));
        cairo_set_line_join(page_, JoinOf(stroke.join));
        cairo_set_miter_limit(page_, stroke.miterLimit);
        if (!dashes.lengths.empty())
            cairo_set_dash(page_, dashes.lengths.data(), static_cast<int>(dashes.lengths.size()), dashes.offset);
        SetColour(stroke.color);
        cairo_stroke_preserve(page_);
        cairo_restore(page_);
        return true;
    }

    // The length of a path (its curves' control polygons, which are no shorter) measured where
    // `deviceToPen` takes its steps.
    static double PenLength(std::span<const PathPoint> points, const Affine& deviceToPen)
    {
        double length = 0;
        for (std::size_t i = 1; i < points.size(); ++i) {
            if ((points[i].type & ~PT_CLOSEFIGURE) == PT_MOVETO)
                continue;
            const double dx = points[i].point.x - points[i - 1].point.x;
            const double dy = points[i].point.y - points[i - 1].point.y;
            length
                += std::hypot(dx * deviceToPen.m11 + dy * deviceToPen.m21, dx * deviceToPen.m12 + dy * deviceToPen.m22);
        }
        return length;
    }

    // How much more a transform stretches one way than the other (within a factor of 2): the sum
    // of its squares over its determinant.
    static double Stretch(const Affine& t)
    {
        return (t.m11 * t.m11 + t.m12 * t.m12 + t.m21 * t.m21 + t.m22 * t.m22)
            / std::abs(t.m11 * t.m22 - t.m12 * t.m21);
    }

    // Whether the page is still sound after a drawing; a cairo error is out of memory here.
    bool Drawn() const
    {
        if (cairo_status(page_) != CAIRO_STATUS_SUCCESS) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        return true;
    }

    static cairo_status_t WriteDocument(void* closure, const unsigned char* data, unsigned int length)
    {
        auto* device = static_cast<PrinterDevice*>(closure);
        if (device->discarding_)
            return CAIRO_STATUS_SUCCESS;
        const int file = device->sink_->DocumentFile();
        while (length > 0) {
            const ssize_t written = ::write(file, data, length);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                const int error = written < 0 ? errno : ENOSPC;
                if (device->writeError_ == 0)
                    device->sink_->ReportWriteFailure(error);
                device->writeError_ = error;
                return CAIRO_STATUS_WRITE_ERROR;
            }
            data += written;
            length -= static_cast<unsigned int>(written);
        }
        return CAIRO_STATUS_SUCCESS;
    }

    static int Refuse(DWORD error)
    {
        SetLastError(error);
        return SP_ERROR;
    }

    bool Failed() const { return writeError_ != 0 || cairo_surface_status(document_) != CAIRO_STATUS_SUCCESS; }

    // The answer of a job call once the document cannot be written, with the last error set.
    int FailedAnswer() const
    {
        if (writeError_ == ENOSPC || writeError_ == EDQUOT) {
            SetLastError(ERROR_DISK_FULL);
            return SP_OUTOFDISK;
        }
        if (writeError_ != 0)
            platform::kernel::SetLastErrorFromErrno(writeError_);
        else
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return SP_ERROR;
    }

    double PageWidthPoints() const { return geometry_.physicalWidth * kPointsPerInch / geometry_.dpi; }
    double PageHeightPoints() const { return geometry_.physicalHeight * kPointsPerInch / geometry_.dpi; }

    PrinterDefinition printer_;
    spooler::FullDevMode devMode_;
    PrinterGeometry geometry_;
    bool color_;
    std::unique_ptr<spooler::JobSink> sink_;
    std::u16string documentName_;
    cairo_surface_t* document_ = nullptr;
    cairo_t* page_ = nullptr;
    cairo_matrix_t deviceToPage_{};
    SharedClip appliedClip_;
    // Buffers of ShowGlyphs, kept from one run to the next.
    std::vector<cairo_glyph_t> glyphs_;
    std::vector<cairo_text_cluster_t> clusters_;
    std::string utf8_;
    int pages_ = 0;
    int picturePages_ = 0;
    int pictureRegions_ = 0;
    bool pictureOnPage_ = false;
    int writeError_ = 0;
    bool discarding_ = false;
};

} // namespace

std::unique_ptr<DeviceBackend> MakePrinterDevice(const PrinterDefinition& printer, const spooler::FullDevMode& devMode)
{
    return std::make_unique<PrinterDevice>(printer, devMode);
}

} // namespace platform::gdi

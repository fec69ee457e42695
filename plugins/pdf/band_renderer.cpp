#include "plugins/pdf/band_renderer.h"

#include <poppler.h>

#include <algorithm>

namespace pdf {
namespace {

constexpr int kBytesPerPixel = 4;

struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDestroy {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
struct FontOptionsDestroy {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using Context = std::unique_ptr<cairo_t, ContextDestroy>;

// Printing wants shapes where the page puts them: no hinting that moves outlines, and grey (never
// sub-pixel coloured) smoothing when it is asked for. Glyph metrics keep cairo's default: poppler
// places every glyph itself, and with metrics unhinted cairo's glyph extents come out smaller than
// their smoothed edges, so a band would drop the edge of a glyph just above or below it.
void SetQuality(cairo_t* context, bool antialias)
{
    const cairo_antialias_t smoothing = antialias ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE;
    cairo_set_antialias(context, smoothing);
    std::unique_ptr<cairo_font_options_t, FontOptionsDestroy> fontOptions(cairo_font_options_create());
    cairo_font_options_set_antialias(fontOptions.get(), smoothing);
    cairo_font_options_set_hint_style(fontOptions.get(), CAIRO_HINT_STYLE_NONE);
    cairo_set_font_options(context, fontOptions.get());
}

} // namespace

std::unique_ptr<BandRenderer> BandRenderer::Create(const Page& page, const PagePlacement& placement,
                                                   const RenderOptions& options, std::size_t bandBytes)
{
    if (placement.width <= 0 || placement.height <= 0 || placement.width > kMaxRasterSide
        || placement.height > kMaxRasterSide)
        return nullptr;
    const std::size_t rowBytes = std::size_t(placement.width) * kBytesPerPixel;
    const std::size_t height = std::size_t(placement.height);
    const std::size_t rows = std::min(std::max(bandBytes / rowBytes, std::size_t(kMinBandRows)), height);
    return std::unique_ptr<BandRenderer>(new BandRenderer(page, placement, options, int(rows)));
}

BandRenderer::BandRenderer(const Page& page, const PagePlacement& placement, const RenderOptions& options, int bandRows)
    : page_(page),
      placement_(placement),
      options_(options),
      bandRows_(bandRows)
{}

BandRenderer::~BandRenderer()
{
    if (recording_)
        cairo_surface_destroy(recording_);
}

std::size_t BandRenderer::BufferBytes() const
{
    return std::size_t(placement_.width) * kBytesPerPixel * std::size_t(bandRows_);
}

// The page is drawn once, into a recording of the page's rectangle, and each band plays that
// recording with an integer shift. Pictures are decoded once instead of once per band, and a
// band's pixels equal the same rows of the whole recording played at once.
bool BandRenderer::Record()
{
    if (recording_)
        return true;
    return RecordClipped(cairo_rectangle_t{0, 0, double(placement_.width), double(placement_.height)});
}

bool BandRenderer::RecordArea(int left, int top, int width, int height)
{
    if (left < 0 || top < 0 || width < 1 || height < 1 || width > placement_.width - left
        || height > placement_.height - top)
        return false;
    return RecordClipped(cairo_rectangle_t{double(left), double(top), double(width), double(height)});
}

bool BandRenderer::RecordClipped(const cairo_rectangle_t& extents)
{
    PopplerPage* poppler = page_.Poppler();
    if (!poppler)
        return false;
    Surface recording(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
    {
        Context context(cairo_create(recording.get()));
        SetQuality(context.get(), options_.antialias);
        cairo_rectangle(context.get(), extents.x, extents.y, extents.width, extents.height);
        cairo_clip(context.get());
        const cairo_matrix_t pageToPixels = ToCairo(placement_.pageToPixels);
        cairo_transform(context.get(), &pageToPixels);
        const auto flags = options_.printMarkups ? POPPLER_PRINT_ALL : POPPLER_PRINT_DOCUMENT;
        poppler_page_render_for_printing_with_options(poppler, context.get(), flags);
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
            return false;
    }
    if (recording_)
        cairo_surface_destroy(recording_);
    recording_ = recording.release();
    return true;
}

bool BandRenderer::DrawRows(int first, std::span<BYTE> buffer) const
{
    if (first < 0 || first >= placement_.height || buffer.size() < BufferBytes())
        return false;
    return DrawArea(0, first, placement_.width, bandRows_, buffer);
}

bool BandRenderer::DrawArea(int left, int top, int width, int height, std::span<BYTE> buffer) const
{
    // A band may run past the page's last row; a rectangle never starts off the page or past its side.
    if (!recording_ || left < 0 || top < 0 || width < 1 || height < 1 || left + width > placement_.width
        || top >= placement_.height || buffer.size() < std::size_t(width) * std::size_t(height) * kBytesPerPixel)
        return false;
    const int stride = width * kBytesPerPixel;
    Surface surface(cairo_image_surface_create_for_data(buffer.data(), CAIRO_FORMAT_ARGB32, width, height, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    Context context(cairo_create(surface.get()));
    // White paper, opaque everywhere, under the page.
    cairo_set_source_rgb(context.get(), 1, 1, 1);
    cairo_paint(context.get());
    cairo_set_source_surface(context.get(), recording_, -left, -top);
    cairo_paint(context.get());
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    context.reset();
    cairo_surface_flush(surface.get());
    return true;
}

} // namespace pdf

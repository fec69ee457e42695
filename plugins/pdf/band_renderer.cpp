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

std::unique_ptr<BandRenderer> BandRenderer::Create(const Page& page, const PagePlacement& placement, int left, int top,
                                                   const RenderOptions& options, std::size_t bandBytes)
{
    if (placement.width <= 0 || placement.height <= 0 || placement.width > kMaxRasterSide
        || placement.height > kMaxRasterSide)
        return nullptr;
    const std::size_t rowBytes = std::size_t(placement.width) * kBytesPerPixel;
    const std::size_t rows = std::clamp<std::size_t>(bandBytes / rowBytes, 1, std::size_t(placement.height));
    return std::unique_ptr<BandRenderer>(new BandRenderer(page, placement, left, top, options, int(rows)));
}

BandRenderer::BandRenderer(const Page& page, const PagePlacement& placement, int left, int top,
                           const RenderOptions& options, int bandRows)
    : page_(page),
      placement_(placement),
      left_(left),
      top_(top),
      options_(options),
      bandRows_(bandRows)
{}

std::size_t BandRenderer::BufferBytes() const
{
    return std::size_t(placement_.width) * kBytesPerPixel * std::size_t(bandRows_);
}

int BandRenderer::BandCount() const
{
    return (placement_.height + bandRows_ - 1) / bandRows_;
}

Band BandRenderer::BandAt(int index, const BYTE* pixels) const
{
    const int firstRow = index * bandRows_;
    Band band;
    band.left = left_ + placement_.x;
    band.top = top_ + placement_.y + firstRow;
    band.width = placement_.width;
    band.height = std::min(bandRows_, placement_.height - firstRow);
    band.pixels = pixels;
    return band;
}

// The page is drawn once, into a recording of the page's rectangle, and each band plays that
// recording with an integer shift. Pictures are decoded once instead of once per band, and a
// band's pixels equal the same rows of the whole recording played at once: bands meet without
// seams.
bool BandRenderer::Render(std::span<BYTE> buffer, const std::function<bool(const Band&)>& sink) const
{
    if (buffer.size() < BufferBytes())
        return false;
    const cairo_rectangle_t extents{0, 0, double(placement_.width), double(placement_.height)};
    Surface recording(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
    {
        Context context(cairo_create(recording.get()));
        SetQuality(context.get(), options_.antialias);
        cairo_transform(context.get(), &placement_.pageToPixels);
        const auto flags = options_.printMarkups ? POPPLER_PRINT_ALL : POPPLER_PRINT_DOCUMENT;
        poppler_page_render_for_printing_with_options(page_.Poppler(), context.get(), flags);
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
            return false;
    }

    const int stride = placement_.width * kBytesPerPixel;
    Surface surface(
        cairo_image_surface_create_for_data(buffer.data(), CAIRO_FORMAT_ARGB32, placement_.width, bandRows_, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    for (int index = 0; index < BandCount(); ++index) {
        Context context(cairo_create(surface.get()));
        // White paper, opaque everywhere, under the page.
        cairo_set_source_rgb(context.get(), 1, 1, 1);
        cairo_paint(context.get());
        cairo_set_source_surface(context.get(), recording.get(), 0, -index * bandRows_);
        cairo_paint(context.get());
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
            return false;
        context.reset();
        cairo_surface_flush(surface.get());
        if (!sink(BandAt(index, buffer.data())))
            return false;
    }
    return true;
}

} // namespace pdf

#include "plugins/pdf/page_drawing.h"

#include <Annot.h>
#include <PDFDoc.h>

namespace pdf {
namespace {

// Whether the page shows an annotation (poppler has already left out those not flagged for
// printing): every one, or without markups only form fields.
bool ShowAnnotation(Annot* annotation, void* options)
{
    return static_cast<const RenderOptions*>(options)->printMarkups || annotation->getType() == Annot::typeWidget;
}

void Walk(const Page& page, const RenderOptions& options, GdiOutputDev& device)
{
    // At 72 per inch poppler's device space is the page's points, its /Rotate applied, y down from
    // the top-left corner of the crop box, which clips the content.
    RenderOptions shown = options;
    page.Owner().Core().displayPage(&device, page.Number(), 72, 72, 0, false, true, true, GdiOutputDev::StopDrawing,
                                    &device, ShowAnnotation, &shown);
}

void Note(PageLimit* passed, const PageCost& cost, const PageLimits& limits)
{
    if (passed)
        *passed = PassedLimit(cost, limits);
}

} // namespace

PageLimit PassedLimit(const PageCost& cost, const PageLimits& limits)
{
    if (!cost.overLimit)
        return PageLimit::None;
    if (cost.operations > limits.operations)
        return PageLimit::Operations;
    if (cost.pathPoints > limits.pagePathPoints)
        return PageLimit::PagePathPoints;
    if (cost.glyphs > limits.glyphs)
        return PageLimit::Glyphs;
    if (cost.imagePixels > limits.imagePixels)
        return PageLimit::ImagePixels;
    if (cost.fontBytes > limits.fontBytes)
        return PageLimit::FontBytes;
    if (cost.clipPaths > limits.clipPaths)
        return PageLimit::ClipPaths;
    // The one figure the cost does not keep: the points of the path that passed it.
    return PageLimit::PathPoints;
}

std::string DescribeLimit(PageLimit limit, const PageLimits& limits)
{
    switch (limit) {
    case PageLimit::None:
        break;
    case PageLimit::Operations:
        return std::to_string(limits.operations) + " drawing operations";
    case PageLimit::PathPoints:
        return std::to_string(limits.pathPoints) + " points in one path";
    case PageLimit::PagePathPoints:
        return std::to_string(limits.pagePathPoints) + " path points";
    case PageLimit::Glyphs:
        return std::to_string(limits.glyphs) + " glyphs";
    case PageLimit::ImagePixels:
        return std::to_string(limits.imagePixels) + " picture pixels";
    case PageLimit::FontBytes:
        return std::to_string(limits.fontBytes) + " bytes of font programs";
    case PageLimit::ClipPaths:
        return std::to_string(limits.clipPaths) + " clip paths in force";
    }
    return {};
}

PageWay SurveyPage(const Page& page, const RenderOptions& options, PageTexts& texts, const PageLimits& limits,
                   PageAreas* areas, PageLimit* passed)
{
    std::unique_ptr<GdiOutputDev> device = GdiOutputDev::Counting(limits, texts);
    Walk(page, options, *device);
    // Where small translucent text holds few of the page's words, it goes as outlines (the page is
    // counted again so): an area over it would cost the pixels of every line of it.
    const PageCost& first = device->Cost();
    const bool outlines = !first.overLimit && first.smallTranslucentGlyphs > 0
        && double(first.smallTranslucentGlyphs) <= kMaxOutlinedWords * double(first.filledGlyphs);
    if (outlines) {
        PageTexts again;
        device = GdiOutputDev::Counting(limits, again);
        device->OutlineTranslucentText();
        Walk(page, options, *device);
    }
    const PageCost& cost = device->Cost();
    Note(passed, cost, limits);
    if (areas)
        areas->translucentTextAsOutlines = outlines;
    if (cost.overLimit)
        return PageWay::TooCostly;
    if (!cost.needsPicture)
        return PageWay::Vectors;
    if (areas) {
        areas->areas = device->Areas();
        areas->covers = device->Covers();
    }
    return PageWay::Regions;
}

bool DrawPageAsVectors(const Page& page, const PagePlacement& placement, int left, int top,
                       const RenderOptions& options, HDC dc, const PageTexts& texts,
                       const std::set<std::u16string>& knownFaces, std::vector<FontRegistration>& registered,
                       const PageLimits& limits, PageLimit* passed, bool translucentTextAsOutlines)
{
    const Matrix& fit = placement.pageToPixels;
    const Matrix pointsToUnits{fit.a, fit.b, fit.c, fit.d, fit.e + left + placement.x, fit.f + top + placement.y};
    PageFonts fonts(page.Owner().Core().getXRef(), texts, knownFaces);
    const std::unique_ptr<GdiOutputDev> device = GdiOutputDev::Drawing(dc, pointsToUnits, fonts, limits);
    if (!device)
        return false;
    if (translucentTextAsOutlines)
        device->OutlineTranslucentText();
    device->Begin();
    Walk(page, options, *device);
    device->Finish();
    const PageCost& cost = device->Cost();
    Note(passed, cost, limits);
    registered.insert(registered.end(), fonts.Registered().begin(), fonts.Registered().end());
    return !cost.overLimit && !cost.drawFailed;
}

} // namespace pdf

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

} // namespace

PageWay SurveyPage(const Page& page, const RenderOptions& options, PageTexts& texts, const PageLimits& limits)
{
    const std::unique_ptr<GdiOutputDev> device = GdiOutputDev::Counting(limits, texts);
    Walk(page, options, *device);
    const PageCost& cost = device->Cost();
    if (cost.overLimit)
        return PageWay::TooCostly;
    return cost.needsPicture ? PageWay::Picture : PageWay::Vectors;
}

bool DrawPageAsVectors(const Page& page, const PagePlacement& placement, int left, int top,
                       const RenderOptions& options, HDC dc, const PageTexts& texts,
                       const std::set<std::u16string>& knownFaces, std::vector<FontRegistration>& registered,
                       const PageLimits& limits)
{
    const Matrix& fit = placement.pageToPixels;
    const Matrix pointsToUnits{fit.a, fit.b, fit.c, fit.d, fit.e + left + placement.x, fit.f + top + placement.y};
    PageFonts fonts(page.Owner().Core().getXRef(), texts, knownFaces);
    const std::unique_ptr<GdiOutputDev> device = GdiOutputDev::Drawing(dc, pointsToUnits, fonts, limits);
    if (!device)
        return false;
    device->Begin();
    Walk(page, options, *device);
    device->Finish();
    const PageCost& cost = device->Cost();
    registered.insert(registered.end(), fonts.Registered().begin(), fonts.Registered().end());
    return !cost.overLimit && !cost.needsPicture && !cost.drawFailed;
}

} // namespace pdf

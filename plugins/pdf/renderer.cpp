#include "plugins/pdf/renderer.h"

#include "plugins/pdf/child_render.h"
#include "plugins/pdf/document.h"

#include <climits>
#include <cstdint>
#include <mutex>
#include <span>

namespace pdf {
namespace {

// The state every call shares. The module is never unloaded (it is linked with -z nodelete), so
// the document kept here outlives FreeLibrary and serves the next page after LoadLibraryW.
struct SharedState {
    std::mutex mutex;
    DocumentCache documents;
};

SharedState& Shared()
{
    static SharedState state;
    return state;
}

bool ValidResolution(int dpi)
{
    return dpi > 0 && dpi <= kMaxResolution;
}

// Whether a side of the bounds is drawable and its far edge still an int.
bool ValidSide(int start, int length)
{
    return length > 0 && length <= kMaxRasterSide && std::int64_t{start} + length <= INT_MAX;
}

} // namespace

bool ReadDocumentInfo(const BYTE* data, int size, int* pageCount, const void* reserved)
{
    if (!data || size <= 0 || !pageCount || reserved)
        return false;
    SharedState& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const std::shared_ptr<Document> document = shared.documents.Open({data, std::size_t(size)});
    if (!document)
        return false;
    *pageCount = document->PageCount();
    return true;
}

bool RenderPage(const PageRequest& request, const std::function<bool(const Band&)>& sink, std::size_t bandBytes)
{
    if (!request.data || request.size <= 0 || request.page < 0 || !ValidResolution(request.dpiX)
        || !ValidResolution(request.dpiY) || !ValidSide(request.left, request.width)
        || !ValidSide(request.top, request.height))
        return false;
    SharedState& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const std::shared_ptr<Document> document = shared.documents.Open({request.data, std::size_t(request.size)});
    if (!document)
        return false;
    const std::unique_ptr<Page> page = document->LoadPage(request.page);
    if (!page)
        return false;
    const std::optional<PagePlacement> placement = PagePlacement::Fit(
        page->Width(), page->Height(), request.width, request.height, request.dpiX, request.dpiY, request.options);
    if (!placement)
        return false;
    const std::unique_ptr<BandRenderer> renderer
        = BandRenderer::Create(*page, *placement, request.left, request.top, request.options, bandBytes);
    return renderer && RenderInChildProcess(*renderer, sink);
}

} // namespace pdf

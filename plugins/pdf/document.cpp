#include "plugins/pdf/document.h"

#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace pdf {
namespace {

struct DocumentUnref {
    void operator()(PopplerDocument* document) const { g_object_unref(document); }
};
using DocumentHolder = std::unique_ptr<PopplerDocument, DocumentUnref>;

// Whether the header "%PDF-" starts within the first kilobyte. Without one poppler warns and goes
// on to rebuild a document out of any bytes that happen to look like objects.
bool HasPdfHeader(std::span<const BYTE> bytes)
{
    constexpr std::string_view kHeader = "%PDF-";
    constexpr std::size_t kLatestStart = 1023;
    const std::size_t searched = std::min(bytes.size(), kLatestStart + kHeader.size());
    const std::string_view start(reinterpret_cast<const char*>(bytes.data()), searched);
    return start.find(kHeader) != std::string_view::npos;
}

} // namespace

Page::Page(PopplerPage* page) : page_(page)
{
    poppler_page_get_size(page_, &width_, &height_);
}

Page::~Page()
{
    g_object_unref(page_);
}

Document::Document(PopplerDocument* document, std::vector<BYTE> copy, int pageCount)
    : document_(document),
      copy_(std::move(copy)),
      pageCount_(pageCount)
{}

Document::~Document()
{
    g_object_unref(document_);
}

std::shared_ptr<Document> Document::Open(std::span<const BYTE> bytes, Storage storage)
{
    if (bytes.empty() || bytes.size() > static_cast<std::uint64_t>(kMaxDocumentBytes) || !HasPdfHeader(bytes))
        return nullptr;

    // Poppler reads the bytes lazily for as long as the document lives; a moved vector keeps its
    // buffer, so the copy can travel into the Document after poppler has seen its address.
    std::vector<BYTE> copy;
    if (storage == Storage::Copy)
        copy.assign(bytes.begin(), bytes.end());
    const BYTE* data = storage == Storage::Copy ? copy.data() : bytes.data();

    GBytes* view = g_bytes_new_static(data, bytes.size());
    GError* error = nullptr;
    // No password: a document whose user password is empty opens, any other encrypted one fails.
    DocumentHolder document(poppler_document_new_from_bytes(view, nullptr, &error));
    g_bytes_unref(view);
    if (error)
        g_error_free(error);
    if (!document)
        return nullptr;

    const int pageCount = poppler_document_get_n_pages(document.get());
    if (pageCount < 1 || pageCount > kMaxPageCount)
        return nullptr;
    std::shared_ptr<Document> opened(new Document(document.get(), std::move(copy), pageCount));
    document.release();
    return opened;
}

bool Document::HoldsBytes(std::span<const BYTE> bytes) const
{
    return !copy_.empty() && copy_.size() == bytes.size() && std::memcmp(copy_.data(), bytes.data(), bytes.size()) == 0;
}

std::unique_ptr<Page> Document::LoadPage(int index) const
{
    if (index < 0 || index >= pageCount_)
        return nullptr;
    // A declared page count may promise more pages than the page tree holds.
    PopplerPage* poppler = poppler_document_get_page(document_, index);
    if (!poppler)
        return nullptr;
    std::unique_ptr<Page> page(new Page(poppler));
    const bool drawable
        = std::isfinite(page->Width()) && std::isfinite(page->Height()) && page->Width() > 0 && page->Height() > 0;
    return drawable ? std::move(page) : nullptr;
}

std::shared_ptr<Document> DocumentCache::Open(std::span<const BYTE> bytes)
{
    if (held_ && held_->HoldsBytes(bytes))
        return held_;
    // Let the old document go before the new one is parsed: only one is ever kept.
    held_.reset();
    if (bytes.size() > kMaxCachedBytes)
        return Document::Open(bytes, Document::Storage::Borrow);
    held_ = Document::Open(bytes, Document::Storage::Copy);
    return held_;
}

} // namespace pdf

#include "plugins/pdf/document.h"

#include "plugins/pdf/object_numbers.h"

#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <Stream.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

namespace pdf {
namespace {

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

// Poppler's complaints about damaged documents would reach the printing program's console.
void DiscardError(ErrorCategory, Goffset, const char*)
{}

// Poppler's process-wide settings, made once and held for the life of the process. poppler-glib,
// which draws picture pages, shares them through the same count of users, and would otherwise make
// them anew for its first document and drop them with its last, under documents still open.
void UseGlobalParams()
{
    static const GlobalParamsIniter* const settings = new GlobalParamsIniter(DiscardError);
    (void)settings;
    globalParams->setErrQuiet(true);
}

} // namespace

Page::Page(const Document& document, int number, double width, double height)
    : document_(document),
      number_(number),
      width_(width),
      height_(height)
{}

Page::~Page()
{
    if (poppler_)
        g_object_unref(poppler_);
}

PopplerPage* Page::Poppler() const
{
    if (!poppler_) {
        PopplerDocument* glib = document_.Glib();
        poppler_ = glib ? poppler_document_get_page(glib, number_ - 1) : nullptr;
    }
    return poppler_;
}

Document::Document(std::unique_ptr<PDFDoc> core, std::vector<BYTE> copy, std::span<const BYTE> bytes, int pageCount)
    : core_(std::move(core)),
      copy_(std::move(copy)),
      bytes_(bytes),
      pageCount_(pageCount)
{}

Document::~Document()
{
    if (glib_)
        g_object_unref(glib_);
}

std::shared_ptr<Document> Document::Open(std::span<const BYTE> bytes, Storage storage, std::string* refusal)
{
    auto refuse = [&](const std::string& why) -> std::shared_ptr<Document> {
        if (refusal)
            *refusal = "the document was not opened: " + why;
        return nullptr;
    };
    if (bytes.empty() || bytes.size() > static_cast<std::uint64_t>(kMaxDocumentBytes) || !HasPdfHeader(bytes))
        return nullptr;
    if (DeclaresTooManyObjects(bytes))
        return refuse("it declares more objects than its " + std::to_string(bytes.size()) + " bytes hold");
    UseGlobalParams();

    // Poppler reads the bytes lazily for as long as the document lives; a moved vector keeps its
    // buffer, so the copy can travel into the Document after poppler has seen its address.
    std::vector<BYTE> copy;
    if (storage == Storage::Copy)
        copy.assign(bytes.begin(), bytes.end());
    const std::span<const BYTE> read = storage == Storage::Copy ? std::span<const BYTE>(copy) : bytes;

    // No password: a document whose user password is empty opens, any other encrypted one fails.
    auto* stream = new MemStream(reinterpret_cast<const char*>(read.data()), 0, static_cast<Goffset>(read.size()),
                                 Object(objNull));
    auto core = std::make_unique<PDFDoc>(stream);
    if (!core->isOk())
        return nullptr;
    const int pageCount = core->getNumPages();
    if (pageCount < 1)
        return nullptr;
    if (pageCount > kMaxPageCount)
        return refuse("its " + std::to_string(pageCount) + " pages are more than the " + std::to_string(kMaxPageCount)
                      + " it takes");
    if (std::int64_t{pageCount} * std::int64_t(bytes.size()) > kMaxBytesOfAllPages)
        return refuse("its " + std::to_string(pageCount) + " pages of " + std::to_string(bytes.size())
                      + " bytes would be read as more than " + std::to_string(kMaxBytesOfAllPages >> 30) + " GiB");
    return std::shared_ptr<Document>(new Document(std::move(core), std::move(copy), read, pageCount));
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
    ::Page* core = core_->getPage(index + 1);
    if (!core || !core->isOk())
        return nullptr;
    const bool turned = core->getRotate() == 90 || core->getRotate() == 270;
    const double width = turned ? core->getCropHeight() : core->getCropWidth();
    const double height = turned ? core->getCropWidth() : core->getCropHeight();
    const bool drawable = std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
    return drawable ? std::unique_ptr<Page>(new Page(*this, index + 1, width, height)) : nullptr;
}

PopplerDocument* Document::Glib() const
{
    if (!glib_) {
        GBytes* view = g_bytes_new_static(bytes_.data(), bytes_.size());
        GError* error = nullptr;
        glib_ = poppler_document_new_from_bytes(view, nullptr, &error);
        g_bytes_unref(view);
        if (error)
            g_error_free(error);
    }
    return glib_;
}

std::shared_ptr<Document> DocumentCache::Open(std::span<const BYTE> bytes, std::string* refusal)
{
    if (held_ && held_->HoldsBytes(bytes))
        return held_;
    // Let the old document go before the new one is parsed: only one is ever kept.
    held_.reset();
    if (bytes.size() > kMaxCachedBytes)
        return Document::Open(bytes, Document::Storage::Borrow, refusal);
    held_ = Document::Open(bytes, Document::Storage::Copy, refusal);
    return held_;
}

} // namespace pdf

// A PDF document opened from bytes in memory, and the cache that keeps the last one across calls.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class PDFDoc;
typedef struct _PopplerDocument PopplerDocument;
typedef struct _PopplerPage PopplerPage;

namespace pdf {

// What the renderer takes on; anything larger is refused before poppler sees it.
constexpr std::int64_t kMaxDocumentBytes = std::int64_t{1} << 30;
// Pages of a document at most, and its pages times its bytes: the printing loop reads the whole
// file anew for every page, and a document accepted must be printed before its service stops
// waiting (300 seconds). Measured on two loaded cores, a page costs about 15 ms and 3 ms more per
// megabyte of the file: 10000 empty pages of 1 MB take 167 s, and pages of 10 MB 39 ms each.
constexpr int kMaxPageCount = 10000;
constexpr std::int64_t kMaxBytesOfAllPages = std::int64_t{32} << 30;
// The largest page raster, in pixels across and down (cairo's limit for an image surface). The
// raster is drawn in bands, so this bounds the work, not the memory.
constexpr int kMaxRasterSide = 32767;
// Resolutions accepted, in dots per inch.
constexpr int kMaxResolution = 9600;
// Bytes of the largest document the cache keeps a copy of. A larger one is parsed from the
// caller's bytes for each call and dropped afterwards.
constexpr std::size_t kMaxCachedBytes = std::size_t{64} << 20;

class Document;

// One page of an open document. Sizes are in points, as a viewer shows the page: the crop box,
// with the page's /Rotate applied (a quarter turn swaps width and height).
class Page final {
public:
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;
    ~Page();

    double Width() const { return width_; }
    double Height() const { return height_; }
    // The page's 1-based number, as poppler's core counts pages.
    int Number() const { return number_; }
    const Document& Owner() const { return document_; }
    // The same page through poppler-glib, for drawing it as a picture; opened on first use, null
    // when poppler-glib cannot read the document.
    PopplerPage* Poppler() const;

private:
    friend class Document;
    Page(const Document& document, int number, double width, double height);

    const Document& document_;
    int number_;
    double width_;
    double height_;
    mutable PopplerPage* poppler_ = nullptr;
};

class Document final {
public:
    // Whether a document keeps its own copy of the bytes or reads the caller's, which must then
    // outlive it.
    enum class Storage { Copy, Borrow };

    // Opens the PDF held in `bytes`: null when they are not a PDF poppler can read, when the document
    // needs a password, has no page, or is beyond the limits above or those of object_numbers.h;
    // which limit, in words, goes to `refusal` when it is given.
    static std::shared_ptr<Document> Open(std::span<const BYTE> bytes, Storage storage, std::string* refusal = nullptr);

    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document();

    int PageCount() const { return pageCount_; }
    // Whether the document was opened from bytes equal to these (only for a document with a copy).
    bool HoldsBytes(std::span<const BYTE> bytes) const;
    // The page with this 0-based index; null when there is none or it cannot be read.
    std::unique_ptr<Page> LoadPage(int index) const;

    // Poppler's core document, which the vector drawing walks.
    PDFDoc& Core() const { return *core_; }
    // The document through poppler-glib (the picture drawing's library), opened from the same
    // bytes on first use; null when it cannot be opened.
    PopplerDocument* Glib() const;

private:
    Document(std::unique_ptr<PDFDoc> core, std::vector<BYTE> copy, std::span<const BYTE> bytes, int pageCount);

    std::unique_ptr<PDFDoc> core_;
    std::vector<BYTE> copy_;
    // The bytes both libraries read: the copy's, or the caller's.
    std::span<const BYTE> bytes_;
    int pageCount_;
    mutable PopplerDocument* glib_ = nullptr;
};

// Keeps the last document opened with a copy of its bytes, so that the next call for the same
// bytes skips parsing. Equality is decided on the whole bytes, never on a digest or an address:
// the caller's buffer is freed and reallocated between calls and may come back at the same address
// with other bytes. Holds at most one document of at most kMaxCachedBytes bytes. Not thread-safe:
// its user serialises the calls.
class DocumentCache final {
public:
    // The document of `bytes`: the one held when its bytes are equal, else a newly opened one.
    // A new document with a copy replaces the one held; a larger one borrows `bytes` and is not
    // held, so the caller must drop it before the bytes go. Null when the bytes are not readable;
    // the limit a document passed, in words, goes to `refusal` when it is given.
    std::shared_ptr<Document> Open(std::span<const BYTE> bytes, std::string* refusal = nullptr);

private:
    std::shared_ptr<Document> held_;
};

} // namespace pdf

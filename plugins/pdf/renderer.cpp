#include "plugins/pdf/renderer.h"

#include "platform/gdi/devices/page_notes.h"
#include "platform/gdi/fonts/private_fonts.h"
#include "platform/gdi/metafile/playback_limits.h"
#include "plugins/pdf/child_render.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_transfer.h"
#include "plugins/pdf/picture_cuts.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace pdf {
namespace {

// The state every call shares. The module is never unloaded (it is linked with -z nodelete), so
// what is kept here outlives FreeLibrary and serves the next page after LoadLibraryW: the last
// document, and the face names of the fonts registered in this process.
struct SharedState {
    std::mutex mutex;
    DocumentCache documents;
    std::set<std::u16string> knownFaces;
    // What there is to tell about the last page (why it failed, say); empty otherwise.
    std::string note;
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

// The header of a top-down 32-bit bitmap at its resolution.
BITMAPINFO TopDownBitmap(int width, int height, int dpiX, int dpiY)
{
    constexpr double kInchesPerMetre = 1000.0 / 25.4;
    BITMAPINFO info = TopDown32(width, height);
    info.bmiHeader.biXPelsPerMeter = static_cast<LONG>(dpiX * kInchesPerMetre + 0.5);
    info.bmiHeader.biYPelsPerMeter = static_cast<LONG>(dpiY * kInchesPerMetre + 0.5);
    return info;
}

// Plays a record within the page's playback limits (`user`); stops the playback at the first past them.
int PlayRecord(HDC dc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM user)
{
    if (!reinterpret_cast<platform::gdi::PlaybackLimits*>(user)->Admit(*record))
        return 0;
    PlayEnhMetaFileRecord(dc, table, record, UINT(objects));
    return 1;
}

// Registers the fonts the child registered, in its order, and plays its metafile onto dc mapped
// onto the metafile's own bounds: the records land as they were recorded, under dc's transform.
// Why it failed, when it did, goes to `note`.
bool PlayVectorPage(std::span<const BYTE> bytes, HDC dc, const PageLimits& limits, std::set<std::u16string>& knownFaces,
                    std::string& note)
{
    const std::optional<PageTransfer> transfer = ReadTransfer(bytes, limits);
    if (!transfer)
        return false;
    for (const FontRegistration& font : transfer->fonts) {
        WCHAR faceName[LF_FACESIZE] = {};
        // The same program with the same texts gets the same name here as in the child: a name
        // that differs would leave the metafile naming a font this process does not have.
        if (!AddFontMemResourceWithTextW(font.program.data(), DWORD(font.program.size()), font.texts.data(),
                                         DWORD(font.texts.size()), faceName)
            || font.faceName != faceName) {
            note = "the page was not drawn: a font program its drawing handed back is not one this process takes";
            return false;
        }
        knownFaces.insert(font.faceName);
    }
    HENHMETAFILE metafile = SetEnhMetaFileBits(UINT(transfer->metafile.size()), transfer->metafile.data());
    if (!metafile)
        return false;
    ENHMETAHEADER header{};
    bool played = GetEnhMetaFileHeader(metafile, sizeof header, &header) == sizeof header;
    const RECTL& bounds = header.rclBounds;
    if (played && bounds.right >= bounds.left && bounds.bottom >= bounds.top) {
        // Every record is played. One the context refuses (a pen stretched past what it draws, say)
        // leaves that shape out, as GDI leaves out a call it refuses, and the page is still drawn.
        const RECT rect{bounds.left, bounds.top, bounds.right, bounds.bottom};
        platform::gdi::PlaybackLimits playback;
        played = EnumEnhMetaFile(dc, metafile, PlayRecord, &playback, &rect);
        if (playback.Passed() != platform::gdi::PlaybackLimits::Limit::None)
            note = "the page was not drawn: its drawing passes the limit of "
                + platform::gdi::PlaybackLimits::Describe(playback.Passed());
    }
    DeleteEnhMetaFile(metafile);
    return played;
}

// Paints a page that only a picture can show: the pieces of its raster that carry ink, each as a
// top-down 32-bit bitmap, and the note that tells the printer the page went as a picture.
bool PaintPicturePage(const Page& page, const PagePlacement& placement, const PageRequest& request, HDC dc,
                      std::size_t bandBytes)
{
    const std::unique_ptr<BandRenderer> renderer = BandRenderer::Create(page, placement, request.options, bandBytes);
    if (!renderer)
        return false;
    BYTE note[8];
    const DWORD noteWords[2] = {platform::gdi::kPageNoteSignature, platform::gdi::kPageNotePicture};
    std::memcpy(note, noteWords, sizeof note);
    if (!GdiComment(dc, sizeof note, note))
        return false;

    PictureCutter cutter(renderer->Width(), renderer->Height(), renderer->BandRows(), request.dpiX, request.dpiY);
    const int left = request.left + placement.x;
    const int top = request.top + placement.y;
    std::vector<BYTE> piecePixels;
    auto paint = [&](const PicturePiece& piece) {
        const std::size_t rowBytes = std::size_t(piece.columns) * 4;
        piecePixels.resize(rowBytes * std::size_t(piece.rows));
        for (int row = 0; row < piece.rows; ++row)
            std::memcpy(piecePixels.data() + rowBytes * std::size_t(row),
                        piece.pixels + std::size_t(piece.stride) * std::size_t(row) + std::size_t(piece.left) * 4,
                        rowBytes);
        const BITMAPINFO info = TopDownBitmap(piece.columns, piece.rows, request.dpiX, request.dpiY);
        return StretchDIBits(dc, left + piece.left, top + piece.top, piece.columns, piece.rows, 0, 0, piece.columns,
                             piece.rows, piecePixels.data(), &info, DIB_RGB_COLORS, SRCCOPY)
            != 0;
    };
    return DrawPictureInChild(
        *renderer, [&](int first, int rows, const BYTE* pixels) { return cutter.Take(first, rows, pixels, paint); });
}

} // namespace

bool ReadDocumentInfo(const BYTE* data, int size, int* pageCount, const void* reserved)
{
    if (!data || size <= 0 || !pageCount || reserved)
        return false;
    SharedState& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.note.clear();
    const std::shared_ptr<Document> document = shared.documents.Open({data, std::size_t(size)}, &shared.note);
    if (!document)
        return false;
    *pageCount = document->PageCount();
    return true;
}

bool RenderPage(const PageRequest& request, HDC dc, std::size_t bandBytes, const PageLimits& limits)
{
    {
        std::lock_guard lock(Shared().mutex);
        Shared().note.clear();
    }
    if (!dc || !request.data || request.size <= 0 || request.page < 0 || !ValidResolution(request.dpiX)
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

    ChildBytes bytes;
    PageLimit passed = PageLimit::None;
    switch (DrawVectorsInChild(*page, *placement, request.left, request.top, request.options, shared.knownFaces, limits,
                               bytes, &passed)) {
    case ChildAnswer::Vectors:
        if (!PlayVectorPage(bytes.Bytes(), dc, limits, shared.knownFaces, shared.note))
            return false;
        // Registered fonts stay for the life of the process, up to its limit; past it a font new to a
        // page cannot be registered, and its text is drawn as outlines.
        if (shared.knownFaces.size() >= platform::gdi::kMaxPrivateFonts)
            shared.note = "this process holds " + std::to_string(platform::gdi::kMaxPrivateFonts)
                + " fonts, the most it takes: text in fonts it did not hold before is drawn as outlines, without its "
                  "words";
        return true;
    case ChildAnswer::Picture:
        return PaintPicturePage(*page, *placement, request, dc, bandBytes);
    case ChildAnswer::Failed:
        if (passed != PageLimit::None)
            shared.note = "the page was not drawn: it passes the limit of " + DescribeLimit(passed, limits);
        break;
    }
    return false;
}

std::string PageNote()
{
    SharedState& shared = Shared();
    std::lock_guard lock(shared.mutex);
    return shared.note;
}

} // namespace pdf

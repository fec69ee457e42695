#include "printing/playback.h"

#include "platform/gdiplus/gdiplus.h"
#include "printing/emf.h"

#include <cstddef>
#include <cstring>

namespace aio::printing {
namespace {

// Byte offsets of the record fields read here, and the sizes a record must have to hold them.
constexpr std::size_t kXformOffset = 8;
constexpr std::size_t kTransformRecordBytes = 32;
constexpr std::size_t kModifyModeOffset = 32;
constexpr std::size_t kModifyRecordBytes = 36;
constexpr std::size_t kCommentSizeOffset = 8;
constexpr std::size_t kCommentDataOffset = 12;
constexpr std::uint32_t kPageMarkBytes = 8;

constexpr std::size_t kStretchXDest = 24;
constexpr std::size_t kStretchYDest = 28;
constexpr std::size_t kStretchXSrc = 32;
constexpr std::size_t kStretchYSrc = 36;
constexpr std::size_t kStretchCxSrc = 40;
constexpr std::size_t kStretchCySrc = 44;
constexpr std::size_t kStretchOffBmi = 48;
constexpr std::size_t kStretchCbBmi = 52;
constexpr std::size_t kStretchOffBits = 56;
constexpr std::size_t kStretchCbBits = 60;
constexpr std::size_t kStretchUsage = 64;
constexpr std::size_t kStretchRop = 68;
constexpr std::size_t kStretchCxDest = 72;
constexpr std::size_t kStretchCyDest = 76;
constexpr std::size_t kStretchRecordBytes = 80;

constexpr LONG kPixelsPerMetre = 1;

template <typename T>
T Field(const ENHMETARECORD* record, std::size_t offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(record) + offset, sizeof value);
    return value;
}

// True when `size` bytes at `offset` lie inside a record of `recordSize` bytes.
bool InsideRecord(std::uint64_t offset, std::uint64_t size, std::uint64_t recordSize)
{
    return offset <= recordSize && size <= recordSize - offset;
}

bool SetRelativeToBase(const XFORM* base, const PlaybackRecord& record, const XFORM& xform)
{
    const HDC dc = record.target->dc;
    return SetWorldTransform(dc, base) && ModifyWorldTransform(dc, &xform, MWT_LEFTMULTIPLY);
}

// Draws a decoded picture as 32-bit rows into the record's rectangles; false when it cannot be
// decoded or drawn. GDI+ is started for this picture alone and everything is released on every road.
bool DrawDecoded(const PlaybackRecord& record, const BITMAPINFO& info, const BYTE* bits)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    const ENHMETARECORD* emr = record.record;
    ULONG_PTR token = 0;
    const GdiplusStartupInput input;
    if (GdiplusStartup(&token, &input, nullptr) != Ok)
        return false;
    bool drawn = false;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromGdiDib(&info, const_cast<BYTE*>(bits), &bitmap) == Ok) {
        UINT width = 0;
        UINT height = 0;
        GdipGetImageWidth(bitmap, &width);
        GdipGetImageHeight(bitmap, &height);
        const GpRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
        BitmapData locked{};
        if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead, PixelFormat32bppRGB, &locked) == Ok) {
            BITMAPINFO rows{};
            rows.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            rows.bmiHeader.biWidth = static_cast<LONG>(width);
            rows.bmiHeader.biHeight = -static_cast<LONG>(height);
            rows.bmiHeader.biPlanes = 1;
            rows.bmiHeader.biBitCount = 32;
            rows.bmiHeader.biCompression = BI_RGB;
            rows.bmiHeader.biXPelsPerMeter = kPixelsPerMetre;
            rows.bmiHeader.biYPelsPerMeter = kPixelsPerMetre;
            drawn = StretchDIBits(record.target->dc, Field<LONG>(emr, kStretchXDest), Field<LONG>(emr, kStretchYDest),
                                  Field<LONG>(emr, kStretchCxDest), Field<LONG>(emr, kStretchCyDest),
                                  Field<LONG>(emr, kStretchXSrc), Field<LONG>(emr, kStretchYSrc),
                                  Field<LONG>(emr, kStretchCxSrc), Field<LONG>(emr, kStretchCySrc), locked.Scan0, &rows,
                                  Field<DWORD>(emr, kStretchUsage), Field<DWORD>(emr, kStretchRop))
                != 0;
            GdipBitmapUnlockBits(bitmap, &locked);
        }
        GdipDisposeImage(bitmap);
    }
    GdiplusShutdown(token);
    return drawn;
}

// A stretched bitmap compressed as JPEG or PNG goes to a device that cannot take it as decoded
// rows. A record whose bitmap header or bits lie outside it is not drawn at all.
bool RepairStretchDIBits(const PlaybackRecord& record)
{
    const ENHMETARECORD* emr = record.record;
    const std::uint64_t size = emr->nSize;
    if (size < kStretchRecordBytes)
        return false;
    const DWORD offBmi = Field<DWORD>(emr, kStretchOffBmi);
    const DWORD cbBmi = Field<DWORD>(emr, kStretchCbBmi);
    const DWORD offBits = Field<DWORD>(emr, kStretchOffBits);
    const DWORD cbBits = Field<DWORD>(emr, kStretchCbBits);
    if (cbBmi < sizeof(BITMAPINFOHEADER) || !InsideRecord(offBmi, cbBmi, size) || !InsideRecord(offBits, cbBits, size))
        return false;
    BITMAPINFO info{};
    info.bmiHeader = Field<BITMAPINFOHEADER>(emr, offBmi);
    const DWORD compression = info.bmiHeader.biCompression;
    if (compression != BI_JPEG && compression != BI_PNG)
        return record.PlayAsIs();
    // The compressed picture is biSizeImage bytes of the record's bits.
    if (info.bmiHeader.biSizeImage > cbBits)
        return false;
    const BYTE* bits = reinterpret_cast<const BYTE*>(emr) + offBits;
    const int escape = compression == BI_JPEG ? CHECKJPEGFORMAT : CHECKPNGFORMAT;
    if (DeviceAcceptsImage(record.target->dc, escape, bits, info.bmiHeader.biSizeImage))
        return record.PlayAsIs();
    return DrawDecoded(record, info, bits);
}

} // namespace

bool PlaybackRecord::PlayAsIs() const
{
    return PlayEnhMetaFileRecord(target->dc, target->handle_table, record, static_cast<UINT>(target->handle_count))
        != FALSE;
}

int RecordCallback(HDC dc, HANDLETABLE* handle_table, const ENHMETARECORD* record, int handle_count, LPARAM user_data)
{
    auto& run = *reinterpret_cast<PlaybackRun*>(user_data);
    if (!run.limits.Admit(*record))
        return 0;
    const PlaybackTarget target{handle_table, handle_count, dc};
    const PlaybackRecord playback{record, &target};
    PlayRecord(&run.base, playback);
    return 1;
}

bool PlayRecord(const XFORM* base_transform, const PlaybackRecord& record)
{
    const ENHMETARECORD* emr = record.record;
    const HDC dc = record.target->dc;
    // Each field is read only once the record is known to be long enough to hold it.
    switch (emr->iType) {
    case EMR_SETWORLDTRANSFORM:
        return emr->nSize >= kTransformRecordBytes
            && SetRelativeToBase(base_transform, record, Field<XFORM>(emr, kXformOffset));
    case EMR_MODIFYWORLDTRANSFORM: {
        if (emr->nSize < kModifyRecordBytes)
            return false;
        const XFORM xform = Field<XFORM>(emr, kXformOffset);
        switch (const DWORD mode = Field<DWORD>(emr, kModifyModeOffset)) {
        case MWT_IDENTITY:
            // Back to the printer's own transform, not to the identity.
            return SetWorldTransform(dc, base_transform) != FALSE;
        case MWT_LEFTMULTIPLY:
        case MWT_RIGHTMULTIPLY:
            return ModifyWorldTransform(dc, &xform, mode) != FALSE;
        case MWT_SET:
            return SetRelativeToBase(base_transform, record, xform);
        default:
            return false;
        }
    }
    case EMR_GDICOMMENT: {
        if (emr->nSize < kCommentDataOffset)
            return false;
        const DWORD size = Field<DWORD>(emr, kCommentSizeOffset);
        if (size != kPageMarkBytes)
            return true; // only page marks and other 8-byte comments reach the printer
        if (emr->nSize < kCommentDataOffset + kPageMarkBytes)
            return false;
        const std::uint32_t signature = Field<std::uint32_t>(emr, kCommentDataOffset);
        const std::uint32_t kind = Field<std::uint32_t>(emr, kCommentDataOffset + 4);
        if (signature == PageMarkSignature && kind == PageMarkStart)
            return StartPage(dc) > 0;
        if (signature == PageMarkSignature && kind == PageMarkEnd)
            return EndPage(dc) > 0;
        return record.PlayAsIs();
    }
    case EMR_STRETCHDIBITS:
        return RepairStretchDIBits(record);
    case EMR_SETLAYOUT:
        return true;
    default:
        return record.PlayAsIs();
    }
}

bool DeviceAcceptsImage(HDC dc, int escape, const void* data, std::uint32_t size)
{
    const DWORD asked = static_cast<DWORD>(escape);
    if (ExtEscape(dc, QUERYESCSUPPORT, sizeof asked, reinterpret_cast<LPCSTR>(&asked), 0, nullptr) <= 0)
        return false;
    DWORD answer = 0;
    ExtEscape(dc, escape, static_cast<int>(size), static_cast<LPCSTR>(data), sizeof answer,
              reinterpret_cast<LPSTR>(&answer));
    return answer != 0;
}

bool Emf::PlayWithRepair(HDC target) const
{
    PlaybackRun run;
    if (!GetWorldTransform(target, &run.base))
        return false;
    const PageBounds bounds = GetBounds(1);
    const RECT rect = RectOf(bounds);
    return EnumEnhMetaFile(target, metafile_, RecordCallback, &run, &rect) != FALSE;
}

} // namespace aio::printing

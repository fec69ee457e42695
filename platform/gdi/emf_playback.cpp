#include "platform/gdi/emf_playback.h"

#include "platform/gdi/emf_format.h"
#include "platform/kernel/kernel.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::gdi {
namespace {

using emf::Inside;
using emf::Read;

bool Refuse()
{
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

bool PlayStretchDIBits(DeviceContext& dc, const BYTE* record, DWORD size)
{
    if (size < emf::kStretchFixedBytes)
        return Refuse();
    const DWORD offBmi = Read<DWORD>(record, emf::kStretchOffBmi);
    const DWORD cbBmi = Read<DWORD>(record, emf::kStretchCbBmi);
    const DWORD offBits = Read<DWORD>(record, emf::kStretchOffBits);
    const DWORD cbBits = Read<DWORD>(record, emf::kStretchCbBits);
    if (cbBmi < sizeof(BITMAPINFOHEADER) || !Inside(offBmi, cbBmi, size) || !Inside(offBits, cbBits, size))
        return Refuse();
    // The header is copied out: inside the record it need not be aligned.
    BITMAPINFO info{};
    info.bmiHeader = Read<BITMAPINFOHEADER>(record, offBmi);
    const std::optional<DibLayout> layout = ReadDibLayout(info.bmiHeader);
    if (!layout || layout->bitsSize > cbBits)
        return Refuse();
    StretchCall call;
    call.xDest = Read<LONG>(record, emf::kStretchXDest);
    call.yDest = Read<LONG>(record, emf::kStretchYDest);
    call.xSrc = Read<LONG>(record, emf::kStretchXSrc);
    call.ySrc = Read<LONG>(record, emf::kStretchYSrc);
    call.srcWidth = Read<LONG>(record, emf::kStretchCxSrc);
    call.srcHeight = Read<LONG>(record, emf::kStretchCySrc);
    call.usage = Read<DWORD>(record, emf::kStretchUsage);
    call.rop = Read<DWORD>(record, emf::kStretchRop);
    call.destWidth = Read<LONG>(record, emf::kStretchCxDest);
    call.destHeight = Read<LONG>(record, emf::kStretchCyDest);
    call.bits = record + offBits;
    call.bitmapInfo = &info;
    return dc.StretchDIBits(call) > 0;
}

bool SetRelativeToBase(DeviceContext& dc, const XFORM& xform)
{
    if (!IsFinite(xform))
        return Refuse();
    return dc.SetWorldTransform(ToXform(Then(FromXform(xform), dc.PlaybackBase())));
}

// Puts an object made by a create record into its entry of the handle table; an object the entry
// still held is deleted first.
bool PlaceObject(std::span<HGDIOBJ> table, DWORD index, GdiObject::Data data)
{
    if (index == 0 || index >= table.size())
        return Refuse();
    if (table[index])
        DeleteObject(table[index]);
    table[index] = AddGdiObject(std::make_shared<GdiObject>(std::move(data)));
    return true;
}

bool PlayCreatePen(std::span<HGDIOBJ> table, const BYTE* record, DWORD size)
{
    if (size < emf::kPenEntries)
        return Refuse();
    const DWORD count = Read<DWORD>(record, emf::kPenEntryCount);
    if (count > kMaxPenStyleEntries || !Inside(emf::kPenEntries, std::uint64_t{count} * sizeof(DWORD), size))
        return Refuse();
    std::array<DWORD, kMaxPenStyleEntries> entries{};
    for (DWORD i = 0; i < count; ++i)
        entries[i] = Read<DWORD>(record, emf::kPenEntries + i * sizeof(DWORD));
    const LOGBRUSH brush{Read<DWORD>(record, emf::kPenBrushStyle), Read<DWORD>(record, emf::kPenColor),
                         Read<DWORD>(record, emf::kPenHatch)};
    // A pen whose brush is a pattern bitmap is refused with the brush style that names it.
    std::optional<Pen> pen = MakePen(Read<DWORD>(record, emf::kPenStyle), Read<DWORD>(record, emf::kPenWidth), brush,
                                     std::span<const DWORD>(entries.data(), count));
    return pen && PlaceObject(table, Read<DWORD>(record, emf::kPenIndex), std::move(*pen));
}

bool PlayCreateBrush(std::span<HGDIOBJ> table, const BYTE* record, DWORD size)
{
    if (size < emf::kBrushRecordBytes)
        return Refuse();
    const LOGBRUSH logBrush{Read<DWORD>(record, emf::kBrushStyle), Read<DWORD>(record, emf::kBrushColor),
                            Read<DWORD>(record, emf::kBrushHatch)};
    std::optional<Brush> brush = MakeBrush(logBrush);
    return brush && PlaceObject(table, Read<DWORD>(record, emf::kBrushIndex), *brush);
}

bool PlayCreateFont(std::span<HGDIOBJ> table, const BYTE* record, DWORD size)
{
    if (size < emf::kFontLogFont + sizeof(LOGFONTW))
        return Refuse();
    return PlaceObject(table, Read<DWORD>(record, emf::kFontIndex), Font{Read<LOGFONTW>(record, emf::kFontLogFont)});
}

bool PlaySelectObject(DeviceContext& dc, std::span<HGDIOBJ> table, DWORD index)
{
    std::shared_ptr<const GdiObject> object;
    if (index & emf::kStockObjectFlag)
        object = StockObject(static_cast<int>(index & ~emf::kStockObjectFlag));
    else if (index > 0 && index < table.size() && table[index])
        object = FindGdiObject(table[index]);
    if (!object)
        return Refuse();
    return dc.SelectObject(object) != nullptr;
}

bool PlayDeleteObject(std::span<HGDIOBJ> table, DWORD index)
{
    // Stock objects are never deleted.
    if (index & emf::kStockObjectFlag)
        return true;
    if (index == 0 || index >= table.size() || !table[index])
        return Refuse();
    const bool deleted = DeleteObject(table[index]) != FALSE;
    table[index] = nullptr;
    return deleted;
}

bool PlaySetMiterLimit(DeviceContext& dc, const BYTE* record)
{
    // Written as a FLOAT, as Windows declares the record. Some writers put a whole number there
    // instead, whose bits read as a FLOAT are a tiny denormal: no miter limit can be below 1.
    constexpr DWORD kSmallestNormalFloatBits = 0x00800000u;
    FLOAT limit = Read<FLOAT>(record, emf::kFirstField);
    const DWORD bits = Read<DWORD>(record, emf::kFirstField);
    if (bits < kSmallestNormalFloatBits)
        limit = static_cast<FLOAT>(bits);
    return dc.SetMiterLimit(limit, nullptr);
}

bool PlayPolyTo(DeviceContext& dc, const BYTE* record, DWORD size, bool bezier, bool small)
{
    if (size < emf::kPolyPoints)
        return Refuse();
    const DWORD count = Read<DWORD>(record, emf::kPolyCount);
    const std::size_t pointBytes = small ? 2 * sizeof(std::int16_t) : sizeof(POINTL);
    if (!Inside(emf::kPolyPoints, std::uint64_t{count} * pointBytes, size))
        return Refuse();
    // The points of one record after another, in one buffer that only grows.
    thread_local std::vector<POINT> points;
    points.resize(count);
    for (DWORD i = 0; i < count; ++i) {
        const std::size_t at = emf::kPolyPoints + i * pointBytes;
        points[i] = small ? POINT{Read<std::int16_t>(record, at), Read<std::int16_t>(record, at + 2)}
                          : POINT{Read<LONG>(record, at), Read<LONG>(record, at + 4)};
    }
    return bezier ? dc.PolyBezierTo(points) : dc.PolylineTo(points);
}

bool PlayExtTextOut(DeviceContext& dc, const BYTE* record, DWORD size)
{
    if (size < emf::kTextFixedBytes)
        return Refuse();
    const DWORD count = Read<DWORD>(record, emf::kTextCount);
    const DWORD offString = Read<DWORD>(record, emf::kTextOffString);
    const DWORD offDx = Read<DWORD>(record, emf::kTextOffDx);
    const DWORD options = Read<DWORD>(record, emf::kTextOptions);
    const std::uint64_t advances = std::uint64_t{count} * ((options & ETO_PDY) ? 2 : 1);
    if (count > kMaxTextUnits || !Inside(offString, std::uint64_t{count} * sizeof(WCHAR), size)
        || (offDx != 0 && !Inside(offDx, advances * sizeof(INT), size)))
        return Refuse();
    // Copied out of the record, which need not keep them aligned; one buffer each for every record.
    thread_local std::u16string text;
    thread_local std::vector<INT> dx;
    text.resize(count);
    for (DWORD i = 0; i < count; ++i)
        text[i] = Read<char16_t>(record, offString + i * sizeof(WCHAR));
    dx.resize(offDx != 0 ? advances : 0);
    for (std::size_t i = 0; i < dx.size(); ++i)
        dx[i] = Read<INT>(record, offDx + i * sizeof(INT));
    const RECTL rectangle = Read<RECTL>(record, emf::kTextRectangle);
    const RECT rect{rectangle.left, rectangle.top, rectangle.right, rectangle.bottom};
    TextCall call;
    call.x = Read<LONG>(record, emf::kTextReference);
    call.y = Read<LONG>(record, emf::kTextReference + 4);
    call.options = options;
    call.rect = (options & (ETO_OPAQUE | ETO_CLIPPED)) ? &rect : nullptr;
    call.text = std::span<const WCHAR>(reinterpret_cast<const WCHAR*>(text.data()), text.size());
    call.dx = offDx != 0 ? dx.data() : nullptr;
    return dc.ExtTextOut(call);
}

bool PlayAlphaBlend(DeviceContext& dc, const BYTE* record, DWORD size)
{
    if (size < emf::kBlendFixedBytes)
        return Refuse();
    const DWORD offBmi = Read<DWORD>(record, emf::kBlendOffBmi);
    const DWORD cbBmi = Read<DWORD>(record, emf::kBlendCbBmi);
    const DWORD offBits = Read<DWORD>(record, emf::kBlendOffBits);
    const DWORD cbBits = Read<DWORD>(record, emf::kBlendCbBits);
    if (cbBmi < sizeof(BITMAPINFOHEADER) || !Inside(offBmi, cbBmi, size) || !Inside(offBits, cbBits, size))
        return Refuse();
    const std::optional<DibLayout> layout = ReadDibLayout(Read<BITMAPINFOHEADER>(record, offBmi));
    if (!layout || layout->compression != BI_RGB || layout->bitsSize > cbBits)
        return Refuse();
    BlendCall call;
    call.xDest = Read<LONG>(record, emf::kBlendXDest);
    call.yDest = Read<LONG>(record, emf::kBlendYDest);
    call.destWidth = Read<LONG>(record, emf::kBlendCxDest);
    call.destHeight = Read<LONG>(record, emf::kBlendCyDest);
    call.blend = Read<BLENDFUNCTION>(record, emf::kBlendFunction);
    call.xSrc = Read<LONG>(record, emf::kBlendXSrc);
    call.ySrc = Read<LONG>(record, emf::kBlendYSrc);
    call.srcWidth = Read<LONG>(record, emf::kBlendCxSrc);
    call.srcHeight = Read<LONG>(record, emf::kBlendCySrc);
    call.layout = &*layout;
    call.bits = record + offBits;
    return dc.AlphaBlend(call);
}

} // namespace

bool PlayRecord(DeviceContext& dc, std::span<HGDIOBJ> table, const ENHMETARECORD& record)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&record);
    const DWORD size = record.nSize;
    if (size < emf::kRecordPrefixBytes)
        return Refuse();
    // The field of the records that carry one 32-bit value.
    const bool hasValue = size >= emf::kValueRecordBytes;
    const DWORD value = hasValue ? Read<DWORD>(bytes, emf::kFirstField) : 0;
    switch (record.iType) {
    case EMR_SAVEDC:
        return dc.Save() > 0;
    case EMR_RESTOREDC:
        return size >= emf::kFirstField + sizeof(LONG) && dc.RestoreRelative(Read<LONG>(bytes, emf::kFirstField));
    case EMR_SETWORLDTRANSFORM:
        if (size < emf::kFirstField + emf::kXformBytes)
            return Refuse();
        return SetRelativeToBase(dc, Read<XFORM>(bytes, emf::kFirstField));
    case EMR_MODIFYWORLDTRANSFORM: {
        if (size < emf::kModifyMode + sizeof(DWORD))
            return Refuse();
        const XFORM xform = Read<XFORM>(bytes, emf::kFirstField);
        switch (const DWORD mode = Read<DWORD>(bytes, emf::kModifyMode)) {
        case MWT_IDENTITY:
            return dc.SetWorldTransform(ToXform(dc.PlaybackBase()));
        case MWT_LEFTMULTIPLY:
        case MWT_RIGHTMULTIPLY:
            return dc.ModifyWorldTransform(&xform, mode);
        case MWT_SET:
            return SetRelativeToBase(dc, xform);
        default:
            return Refuse();
        }
    }
    case EMR_GDICOMMENT: {
        if (size < emf::kCommentData)
            return Refuse();
        const DWORD count = Read<DWORD>(bytes, emf::kCommentSize);
        if (!Inside(emf::kCommentData, count, size))
            return Refuse();
        return dc.Comment(count, bytes + emf::kCommentData);
    }
    case EMR_STRETCHDIBITS:
        return PlayStretchDIBits(dc, bytes, size);
    case EMR_SETLAYOUT:
        return size >= emf::kFirstField + sizeof(DWORD)
            && dc.SetLayout(Read<DWORD>(bytes, emf::kFirstField)) != GDI_ERROR;
    // The vector calls, in the order of the table in emf_format.h.
    case EMR_EXTCREATEPEN:
        return PlayCreatePen(table, bytes, size);
    case EMR_CREATEBRUSHINDIRECT:
        return PlayCreateBrush(table, bytes, size);
    case EMR_EXTCREATEFONTINDIRECTW:
        return PlayCreateFont(table, bytes, size);
    case EMR_SELECTOBJECT:
        return hasValue ? PlaySelectObject(dc, table, value) : Refuse();
    case EMR_DELETEOBJECT:
        return hasValue ? PlayDeleteObject(table, value) : Refuse();
    case EMR_SETPOLYFILLMODE:
        return hasValue ? dc.SetPolyFillMode(static_cast<int>(value)) != 0 : Refuse();
    case EMR_SETMITERLIMIT:
        return hasValue ? PlaySetMiterLimit(dc, bytes) : Refuse();
    case EMR_SETTEXTCOLOR:
        return hasValue ? dc.SetTextColor(value) != CLR_INVALID : Refuse();
    case EMR_SETBKMODE:
        return hasValue ? dc.SetBkMode(static_cast<int>(value)) != 0 : Refuse();
    case EMR_SETTEXTALIGN:
        return hasValue ? dc.SetTextAlign(value) != GDI_ERROR : Refuse();
    case EMR_BEGINPATH:
        return dc.BeginPath();
    case EMR_ENDPATH:
        return dc.EndPath();
    case EMR_ABORTPATH:
        return dc.AbortPath();
    case EMR_CLOSEFIGURE:
        return dc.CloseFigure();
    case EMR_MOVETOEX:
        return size >= emf::kPointRecordBytes
            ? dc.MoveTo(Read<LONG>(bytes, emf::kPointX), Read<LONG>(bytes, emf::kPointY), nullptr)
            : Refuse();
    case EMR_LINETO:
        return size >= emf::kPointRecordBytes
            ? dc.LineTo(Read<LONG>(bytes, emf::kPointX), Read<LONG>(bytes, emf::kPointY))
            : Refuse();
    case EMR_POLYLINETO:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO16:
    case EMR_POLYBEZIERTO16:
        return PlayPolyTo(dc, bytes, size, record.iType == EMR_POLYBEZIERTO || record.iType == EMR_POLYBEZIERTO16,
                          record.iType == EMR_POLYLINETO16 || record.iType == EMR_POLYBEZIERTO16);
    case EMR_FILLPATH:
        return size >= emf::kPaintRecordBytes ? dc.FillPath() : Refuse();
    case EMR_STROKEANDFILLPATH:
        return size >= emf::kPaintRecordBytes ? dc.StrokeAndFillPath() : Refuse();
    case EMR_STROKEPATH:
        return size >= emf::kPaintRecordBytes ? dc.StrokePath() : Refuse();
    case EMR_SELECTCLIPPATH:
        return hasValue ? dc.SelectClipPath(static_cast<int>(value)) : Refuse();
    case EMR_EXTTEXTOUTW:
        return PlayExtTextOut(dc, bytes, size);
    case EMR_ALPHABLEND:
        return PlayAlphaBlend(dc, bytes, size);
    default:
        // The header, the end, and records this player does not draw leave the target as it is.
        return true;
    }
}

Affine FrameToRect(const ENHMETAHEADER& header, const RECT& rect)
{
    const RECTL& bounds = header.rclBounds;
    const RECTL& frame = header.rclFrame;
    double left = bounds.left, top = bounds.top, right = bounds.right, bottom = bounds.bottom;
    const bool ownFrame = bounds.right >= bounds.left && bounds.bottom >= bounds.top
        && emf::SameRect(frame, emf::FrameOfBounds(bounds, header.szlDevice, header.szlMillimeters));
    if (!ownFrame && header.szlMillimeters.cx > 0 && header.szlMillimeters.cy > 0) {
        const double perX = static_cast<double>(header.szlDevice.cx) / (100.0 * header.szlMillimeters.cx);
        const double perY = static_cast<double>(header.szlDevice.cy) / (100.0 * header.szlMillimeters.cy);
        left = frame.left * perX;
        top = frame.top * perY;
        right = frame.right * perX;
        bottom = frame.bottom * perY;
    }
    const double scaleX = right > left ? (static_cast<double>(rect.right) - rect.left) / (right - left) : 1.0;
    const double scaleY = bottom > top ? (static_cast<double>(rect.bottom) - rect.top) / (bottom - top) : 1.0;
    return Affine{scaleX, 0, 0, scaleY, rect.left - left * scaleX, rect.top - top * scaleY};
}

} // namespace platform::gdi

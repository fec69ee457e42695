// Every metafile record this platform writes and plays, described once: its type, its fields in
// order (emf_format.h names the kinds of field), and the call it plays back as. The recording
// device writes any of them with emf::Encode, the player reads them with emf::Decode, which checks
// every field, offset and count against the record's size, and dispatches on the list at the end:
// a new record is one description here and one entry in that list.
#pragma once

#include "platform/gdi/context/device_context.h"
#include "platform/gdi/context/emf_format.h"
#include "platform/gdi/context/gdi_objects.h"
#include "platform/gdi/pictures/dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform::gdi::emf {

// What a record is played with: the context it is played onto, and the metafile's object table
// (the enumeration's handle table; entry 0 stands for the metafile itself).
struct Player {
    DeviceContext& dc;
    std::span<HGDIOBJ> table;
};

// What the records' playback shares (emf_playback.cpp).
// A record whose fields contradict themselves is not played: false, with ERROR_INVALID_DATA.
bool Refuse();
// A transform record's XFORM, relative to the base of the playback under way.
bool SetRelativeToBase(DeviceContext& dc, const XFORM& xform);
// Puts an object made by a create record into its entry of the table; an object the entry still
// held is deleted first.
bool PlaceObject(std::span<HGDIOBJ> table, DWORD index, GdiObject::Data data);

// A stock object's index in EMR_SELECTOBJECT and EMR_DELETEOBJECT.
constexpr DWORD kStockObjectFlag = 0x80000000u;
// A point of the 16-bit forms of the line and curve records.
struct Point16 {
    std::int16_t x;
    std::int16_t y;
};

struct SaveDcRecord {
    static constexpr DWORD kType = EMR_SAVEDC;
    QUILLON_EMF_FIELDS()
    bool Play(Player& player) const { return player.dc.Save() > 0; }
};

// `relative` counts back from the newest saved state (-1).
struct RestoreDcRecord {
    static constexpr DWORD kType = EMR_RESTOREDC;
    LONG relative = -1;
    QUILLON_EMF_FIELDS(relative)
    bool Play(Player& player) const { return player.dc.RestoreRelative(relative); }
};

struct SetWorldTransformRecord {
    static constexpr DWORD kType = EMR_SETWORLDTRANSFORM;
    XFORM xform{};
    QUILLON_EMF_FIELDS(xform)
    bool Play(Player& player) const { return SetRelativeToBase(player.dc, xform); }
};

struct ModifyWorldTransformRecord {
    static constexpr DWORD kType = EMR_MODIFYWORLDTRANSFORM;
    XFORM xform{};
    DWORD mode = 0;
    QUILLON_EMF_FIELDS(xform, mode)
    bool Play(Player& player) const
    {
        switch (mode) {
        case MWT_IDENTITY:
            return player.dc.SetWorldTransform(ToXform(player.dc.PlaybackBase()));
        case MWT_LEFTMULTIPLY:
        case MWT_RIGHTMULTIPLY:
            return player.dc.ModifyWorldTransform(&xform, mode);
        case MWT_SET:
            return SetRelativeToBase(player.dc, xform);
        default:
            return Refuse();
        }
    }
};

struct SetLayoutRecord {
    static constexpr DWORD kType = EMR_SETLAYOUT;
    DWORD layout = 0;
    QUILLON_EMF_FIELDS(layout)
    bool Play(Player& player) const { return player.dc.SetLayout(layout) != GDI_ERROR; }
};

struct GdiCommentRecord {
    static constexpr DWORD kType = EMR_GDICOMMENT;
    Counted<BYTE> data{};
    QUILLON_EMF_FIELDS(data)
    bool Play(Player& player) const { return player.dc.Comment(static_cast<UINT>(data.count), data.bytes); }
};

// The bitmap's header (only BITMAPINFOHEADER travels: it says all the bits need) and its bits.
struct StretchDiBitsRecord {
    static constexpr DWORD kType = EMR_STRETCHDIBITS;
    RECTL bounds{};
    LONG xDest = 0;
    LONG yDest = 0;
    LONG xSrc = 0;
    LONG ySrc = 0;
    LONG cxSrc = 0;
    LONG cySrc = 0;
    Blob info{};
    Blob bits{};
    DWORD usage = DIB_RGB_COLORS;
    DWORD rop = SRCCOPY;
    LONG cxDest = 0;
    LONG cyDest = 0;
    QUILLON_EMF_FIELDS(bounds, xDest, yDest, xSrc, ySrc, cxSrc, cySrc, info, bits, usage, rop, cxDest, cyDest)
    bool Play(Player& player) const
    {
        if (info.count < sizeof(BITMAPINFOHEADER))
            return Refuse();
        BITMAPINFO header{};
        header.bmiHeader = Read<BITMAPINFOHEADER>(info.bytes, 0);
        const std::optional<DibLayout> layout = ReadDibLayout(header.bmiHeader);
        if (!layout || layout->bitsSize > bits.count)
            return Refuse();
        StretchCall call;
        call.xDest = xDest;
        call.yDest = yDest;
        call.xSrc = xSrc;
        call.ySrc = ySrc;
        call.srcWidth = cxSrc;
        call.srcHeight = cySrc;
        call.usage = usage;
        call.rop = rop;
        call.destWidth = cxDest;
        call.destHeight = cyDest;
        call.bits = bits.bytes;
        call.bitmapInfo = &header;
        return player.dc.StretchDIBits(call) > 0;
    }
};

// A pen: no pattern bitmap travels (a pen's brush here is solid or null).
struct ExtCreatePenRecord {
    static constexpr DWORD kType = EMR_EXTCREATEPEN;
    DWORD index = 0;
    Blob info{};
    Blob bits{};
    DWORD style = 0;
    DWORD width = 0;
    DWORD brushStyle = 0;
    COLORREF color = 0;
    DWORD hatch = 0;
    Counted<DWORD> entries{};
    QUILLON_EMF_FIELDS(index, info, bits, style, width, brushStyle, color, hatch, entries)
    bool Play(Player& player) const
    {
        if (entries.count > kMaxPenStyleEntries)
            return Refuse();
        std::array<DWORD, kMaxPenStyleEntries> copied{};
        for (std::size_t i = 0; i < entries.count; ++i)
            copied[i] = entries[i];
        // A pen whose brush is a pattern bitmap is refused with the brush style that names it.
        std::optional<Pen> pen = MakePen(style, width, LOGBRUSH{brushStyle, color, hatch},
                                         std::span<const DWORD>(copied.data(), entries.count));
        return pen && PlaceObject(player.table, index, std::move(*pen));
    }
};

struct CreateBrushIndirectRecord {
    static constexpr DWORD kType = EMR_CREATEBRUSHINDIRECT;
    DWORD index = 0;
    DWORD style = 0;
    COLORREF color = 0;
    DWORD hatch = 0;
    QUILLON_EMF_FIELDS(index, style, color, hatch)
    bool Play(Player& player) const
    {
        std::optional<Brush> brush = MakeBrush(LOGBRUSH{style, color, hatch});
        return brush && PlaceObject(player.table, index, *brush);
    }
};

// The LOGFONTW in the fixed 320-byte LOGFONTPANOSE form (the rest zero) that every reader takes.
struct ExtCreateFontIndirectRecord {
    static constexpr DWORD kType = EMR_EXTCREATEFONTINDIRECTW;
    DWORD index = 0;
    LOGFONTW logFont{};
    Padding<320 - sizeof(LOGFONTW)> panose{};
    QUILLON_EMF_FIELDS(index, logFont, panose)
    bool Play(Player& player) const { return PlaceObject(player.table, index, Font{logFont}); }
};

// A stock object's index is kStockObjectFlag | its GetStockObject index.
struct SelectObjectRecord {
    static constexpr DWORD kType = EMR_SELECTOBJECT;
    DWORD index = 0;
    QUILLON_EMF_FIELDS(index)
    bool Play(Player& player) const
    {
        std::shared_ptr<const GdiObject> object;
        if (index & kStockObjectFlag)
            object = StockObject(static_cast<int>(index & ~kStockObjectFlag));
        else if (index > 0 && index < player.table.size() && player.table[index])
            object = FindGdiObject(player.table[index]);
        if (!object)
            return Refuse();
        return player.dc.SelectObject(object) != nullptr;
    }
};

struct DeleteObjectRecord {
    static constexpr DWORD kType = EMR_DELETEOBJECT;
    DWORD index = 0;
    QUILLON_EMF_FIELDS(index)
    bool Play(Player& player) const
    {
        // Stock objects are never deleted.
        if (index & kStockObjectFlag)
            return true;
        if (index == 0 || index >= player.table.size() || !player.table[index])
            return Refuse();
        const bool deleted = ::DeleteObject(player.table[index]) != FALSE;
        player.table[index] = nullptr;
        return deleted;
    }
};

struct SetPolyFillModeRecord {
    static constexpr DWORD kType = EMR_SETPOLYFILLMODE;
    DWORD mode = 0;
    QUILLON_EMF_FIELDS(mode)
    bool Play(Player& player) const { return player.dc.SetPolyFillMode(static_cast<int>(mode)) != 0; }
};

struct SetStretchBltModeRecord {
    static constexpr DWORD kType = EMR_SETSTRETCHBLTMODE;
    DWORD mode = 0;
    QUILLON_EMF_FIELDS(mode)
    bool Play(Player& player) const { return player.dc.SetStretchBltMode(static_cast<int>(mode)) != 0; }
};

// The limit is a FLOAT, as Windows declares the record.
struct SetMiterLimitRecord {
    static constexpr DWORD kType = EMR_SETMITERLIMIT;
    FLOAT limit = 0;
    QUILLON_EMF_FIELDS(limit)
    bool Play(Player& player) const
    {
        // Some writers put a whole number there instead, whose bits read as a FLOAT are a tiny
        // denormal: no miter limit can be below 1.
        constexpr DWORD kSmallestNormalFloatBits = 0x00800000u;
        const auto bits = std::bit_cast<DWORD>(limit);
        return player.dc.SetMiterLimit(bits < kSmallestNormalFloatBits ? static_cast<FLOAT>(bits) : limit, nullptr);
    }
};

struct SetTextColorRecord {
    static constexpr DWORD kType = EMR_SETTEXTCOLOR;
    COLORREF color = 0;
    QUILLON_EMF_FIELDS(color)
    bool Play(Player& player) const { return player.dc.SetTextColor(color) != CLR_INVALID; }
};

struct SetBkModeRecord {
    static constexpr DWORD kType = EMR_SETBKMODE;
    DWORD mode = 0;
    QUILLON_EMF_FIELDS(mode)
    bool Play(Player& player) const { return player.dc.SetBkMode(static_cast<int>(mode)) != 0; }
};

struct SetTextAlignRecord {
    static constexpr DWORD kType = EMR_SETTEXTALIGN;
    DWORD align = 0;
    QUILLON_EMF_FIELDS(align)
    bool Play(Player& player) const { return player.dc.SetTextAlign(align) != GDI_ERROR; }
};

// The path brackets: no fields, played as the call of the name.
template <DWORD Type, bool (DeviceContext::*Call)()>
struct PathRecord {
    static constexpr DWORD kType = Type;
    QUILLON_EMF_FIELDS()
    bool Play(Player& player) const { return (player.dc.*Call)(); }
};
using BeginPathRecord = PathRecord<EMR_BEGINPATH, &DeviceContext::BeginPath>;
using EndPathRecord = PathRecord<EMR_ENDPATH, &DeviceContext::EndPath>;
using AbortPathRecord = PathRecord<EMR_ABORTPATH, &DeviceContext::AbortPath>;
using CloseFigureRecord = PathRecord<EMR_CLOSEFIGURE, &DeviceContext::CloseFigure>;

struct MoveToRecord {
    static constexpr DWORD kType = EMR_MOVETOEX;
    POINTL point{};
    QUILLON_EMF_FIELDS(point)
    bool Play(Player& player) const { return player.dc.MoveTo(point.x, point.y, nullptr); }
};

struct LineToRecord {
    static constexpr DWORD kType = EMR_LINETO;
    POINTL point{};
    QUILLON_EMF_FIELDS(point)
    bool Play(Player& player) const { return player.dc.LineTo(point.x, point.y); }
};

// Lines or curves from the current position; `bounds` is the extent of their points on the
// reference device. The 16-bit forms are written when every point fits.
template <DWORD Type, typename Point, bool (DeviceContext::*Call)(std::span<const POINT>)>
struct PolyToRecord {
    static constexpr DWORD kType = Type;
    RECTL bounds{};
    Counted<Point> points{};
    QUILLON_EMF_FIELDS(bounds, points)
    bool Play(Player& player) const
    {
        // The points of one record after another, in one buffer that only grows.
        thread_local std::vector<POINT> copied;
        copied.resize(points.count);
        for (std::size_t i = 0; i < points.count; ++i) {
            const Point point = points[i];
            copied[i] = POINT{point.x, point.y};
        }
        return (player.dc.*Call)(copied);
    }
};
using PolylineToRecord = PolyToRecord<EMR_POLYLINETO, POINTL, &DeviceContext::PolylineTo>;
using PolyBezierToRecord = PolyToRecord<EMR_POLYBEZIERTO, POINTL, &DeviceContext::PolyBezierTo>;
using PolylineTo16Record = PolyToRecord<EMR_POLYLINETO16, Point16, &DeviceContext::PolylineTo>;
using PolyBezierTo16Record = PolyToRecord<EMR_POLYBEZIERTO16, Point16, &DeviceContext::PolyBezierTo>;

// Fills and strokes of the closed path; `bounds` is what they ink on the reference device.
template <DWORD Type, bool (DeviceContext::*Call)()>
struct PaintPathRecord {
    static constexpr DWORD kType = Type;
    RECTL bounds{};
    QUILLON_EMF_FIELDS(bounds)
    bool Play(Player& player) const { return (player.dc.*Call)(); }
};
using FillPathRecord = PaintPathRecord<EMR_FILLPATH, &DeviceContext::FillPath>;
using StrokeAndFillPathRecord = PaintPathRecord<EMR_STROKEANDFILLPATH, &DeviceContext::StrokeAndFillPath>;
using StrokePathRecord = PaintPathRecord<EMR_STROKEPATH, &DeviceContext::StrokePath>;

struct SelectClipPathRecord {
    static constexpr DWORD kType = EMR_SELECTCLIPPATH;
    DWORD mode = 0;
    QUILLON_EMF_FIELDS(mode)
    bool Play(Player& player) const { return player.dc.SelectClipPath(static_cast<int>(mode)); }
};

// The text and the advances it was laid out with (two per unit with ETO_PDY). In the compatible
// graphics mode `scaleX` and `scaleY` turn the reference device's pixels into 0.01 mm.
struct ExtTextOutRecord {
    static constexpr DWORD kType = EMR_EXTTEXTOUTW;
    RECTL bounds{};
    DWORD graphicsMode = GM_COMPATIBLE;
    FLOAT scaleX = 0;
    FLOAT scaleY = 0;
    POINTL reference{};
    Placed<WCHAR> text{};
    DWORD options = 0;
    RECTL rectangle{0, 0, -1, -1};
    Trailing<INT> advances{};
    QUILLON_EMF_FIELDS(bounds, graphicsMode, scaleX, scaleY, reference, text, options, rectangle, advances)
    bool Play(Player& player) const
    {
        const std::size_t needed = text.count * ((options & ETO_PDY) ? 2 : 1);
        if (text.count > kMaxTextUnits || (advances.bytes && advances.count < needed))
            return Refuse();
        // Copied out of the record, which need not keep them aligned; one buffer each for every record.
        thread_local std::u16string copiedText;
        thread_local std::vector<INT> copiedAdvances;
        copiedText.resize(text.count);
        for (std::size_t i = 0; i < text.count; ++i)
            copiedText[i] = text[i];
        copiedAdvances.resize(advances.bytes ? needed : 0);
        for (std::size_t i = 0; i < copiedAdvances.size(); ++i)
            copiedAdvances[i] = advances[i];
        const RECT rect{rectangle.left, rectangle.top, rectangle.right, rectangle.bottom};
        TextCall call;
        call.x = reference.x;
        call.y = reference.y;
        call.options = options;
        call.rect = (options & (ETO_OPAQUE | ETO_CLIPPED)) ? &rect : nullptr;
        call.text = std::span<const WCHAR>(reinterpret_cast<const WCHAR*>(copiedText.data()), copiedText.size());
        call.dx = advances.bytes ? copiedAdvances.data() : nullptr;
        return player.dc.ExtTextOut(call);
    }
};

// The source rectangle travels as top-down 32-bit rows of its own width and height.
struct AlphaBlendRecord {
    static constexpr DWORD kType = EMR_ALPHABLEND;
    RECTL bounds{};
    LONG xDest = 0;
    LONG yDest = 0;
    LONG cxDest = 0;
    LONG cyDest = 0;
    BLENDFUNCTION blend{};
    LONG xSrc = 0;
    LONG ySrc = 0;
    XFORM xformSrc{1, 0, 0, 1, 0, 0};
    COLORREF bkColorSrc = 0;
    DWORD usageSrc = DIB_RGB_COLORS;
    Blob info{};
    Blob bits{};
    LONG cxSrc = 0;
    LONG cySrc = 0;
    QUILLON_EMF_FIELDS(bounds, xDest, yDest, cxDest, cyDest, blend, xSrc, ySrc, xformSrc, bkColorSrc, usageSrc, info,
                       bits, cxSrc, cySrc)
    bool Play(Player& player) const
    {
        if (info.count < sizeof(BITMAPINFOHEADER))
            return Refuse();
        const std::optional<DibLayout> layout = ReadDibLayout(Read<BITMAPINFOHEADER>(info.bytes, 0));
        if (!layout || layout->compression != BI_RGB || layout->bitsSize > bits.count)
            return Refuse();
        BlendCall call;
        call.xDest = xDest;
        call.yDest = yDest;
        call.destWidth = cxDest;
        call.destHeight = cyDest;
        call.blend = blend;
        call.xSrc = xSrc;
        call.ySrc = ySrc;
        call.srcWidth = cxSrc;
        call.srcHeight = cySrc;
        call.layout = &*layout;
        call.bits = bits.bytes;
        return player.dc.AlphaBlend(call);
    }
};

// The vertices and pieces of one GradientFill; `bounds` is what its pieces ink on the reference
// device.
struct GradientFillRecord {
    static constexpr DWORD kType = EMR_GRADIENTFILL;
    RECTL bounds{};
    GradientMesh mesh{};
    QUILLON_EMF_FIELDS(bounds, mesh)
    bool Play(Player& player) const
    {
        // Copied out of the record, which need not keep them aligned; one buffer each for every record.
        thread_local std::vector<TRIVERTEX> vertices;
        thread_local std::vector<ULONG> indices;
        const std::size_t perPiece = mesh.mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
        vertices.resize(mesh.vertices.count);
        for (std::size_t i = 0; i < vertices.size(); ++i)
            vertices[i] = mesh.vertices[i];
        indices.resize(mesh.pieces.count * perPiece);
        for (std::size_t i = 0; i < mesh.pieces.count; ++i) {
            const std::array<ULONG, 3> piece = mesh.Piece(i);
            std::copy_n(piece.begin(), perPiece, indices.begin() + static_cast<std::ptrdiff_t>(i * perPiece));
        }
        return player.dc.GradientFill(vertices, indices, mesh.mode);
    }
};

// The last record: no palette follows.
struct EofRecord {
    static constexpr DWORD kType = EMR_EOF;
    DWORD paletteEntries = 0;
    DWORD paletteOffset = 16;
    DWORD sizeLast = kEofBytes;
    QUILLON_EMF_FIELDS(paletteEntries, paletteOffset, sizeLast)
    bool Play(Player&) const { return true; }
};

template <typename... Records>
struct RecordList {
    using Variant = std::variant<Records...>;

    // Runs `work` with the description of `type` (`work.template operator()<Record>()`); true with
    // its answer in `result`, or false when no record here has that type.
    template <typename Work>
    static bool Dispatch(DWORD type, Work&& work, bool& result)
    {
        return ((Records::kType == type && (result = work.template operator()<Records>(), true)) || ...);
    }
};

// Every record this platform writes and plays.
using Records
    = RecordList<SaveDcRecord, RestoreDcRecord, SetWorldTransformRecord, ModifyWorldTransformRecord, SetLayoutRecord,
                 GdiCommentRecord, StretchDiBitsRecord, ExtCreatePenRecord, CreateBrushIndirectRecord,
                 ExtCreateFontIndirectRecord, SelectObjectRecord, DeleteObjectRecord, SetPolyFillModeRecord,
                 SetStretchBltModeRecord, SetMiterLimitRecord, SetTextColorRecord, SetBkModeRecord, SetTextAlignRecord,
                 BeginPathRecord, EndPathRecord, AbortPathRecord, CloseFigureRecord, MoveToRecord, LineToRecord,
                 PolylineToRecord, PolyBezierToRecord, PolylineTo16Record, PolyBezierTo16Record, FillPathRecord,
                 StrokeAndFillPathRecord, StrokePathRecord, SelectClipPathRecord, ExtTextOutRecord, AlphaBlendRecord,
                 GradientFillRecord, EofRecord>;

// One call of a device context as its record describes it, handed to the context's device.
struct AnyRecord {
    Records::Variant record;

    template <typename Record>
    requires(!std::is_same_v<Record, AnyRecord>) AnyRecord(const Record& described) : record(described) {}
};

} // namespace platform::gdi::emf

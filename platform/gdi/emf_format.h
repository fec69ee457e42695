// The MS-EMF record layouts this platform writes and reads, and little-endian access to them.
// Every read names its offset and is checked by the caller against the record's size first.
#pragma once

#include "platform/gdi/gdi.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace platform::gdi::emf {

constexpr std::size_t kRecordPrefixBytes = 8; // type, size
constexpr std::size_t kMinHeaderBytes = 88;   // the header before the pixel-format fields
constexpr std::size_t kHeaderBytes = sizeof(ENHMETAHEADER);
constexpr DWORD kVersion = 0x00010000;
constexpr std::size_t kEofBytes = 20;

// EMR_HEADER
constexpr std::size_t kHeaderBounds = 8;
constexpr std::size_t kHeaderDescriptionCount = 60;
constexpr std::size_t kHeaderDescriptionOffset = 64;

// EMR_GDICOMMENT
constexpr std::size_t kCommentSize = 8;
constexpr std::size_t kCommentData = 12;

// EMR_STRETCHDIBITS
constexpr std::size_t kStretchBounds = 8;
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
constexpr std::size_t kStretchFixedBytes = 80;

// EMR_RESTOREDC, EMR_SETLAYOUT: one 32-bit field. EMR_*WORLDTRANSFORM: an XFORM, then the mode.
constexpr std::size_t kFirstField = 8;
constexpr std::size_t kXformBytes = 24;
constexpr std::size_t kModifyMode = 32;

// The vector calls. Each is one DeviceContext call, written by one EmfRecorder::Record... function
// and played back by one case of PlayRecord, in this order in all three places:
//
//   record (type)              fields after type and size                  DeviceContext call
//   EMR_EXTCREATEPEN (95)      ihPen, offBmi, cbBmi, offBits, cbBits,        SelectObject (first time)
//                              LOGPEN_EX: style, width, brush style,
//                              colour, hatch, entry count, entries
//   EMR_CREATEBRUSHINDIRECT (39) ihBrush, style, colour, hatch              SelectObject (first time)
//   EMR_EXTCREATEFONTINDIRECTW (82) ihFont, LOGFONTW padded to the         SelectObject (first time)
//                              320-byte LOGFONTPANOSE
//   EMR_SELECTOBJECT (37)      ihObject (a stock object: 0x80000000 | index) SelectObject
//   EMR_DELETEOBJECT (40)      ihObject                                     DeleteObject
//   EMR_SETPOLYFILLMODE (19)   mode                                         SetPolyFillMode
//   EMR_SETMITERLIMIT (58)     limit, a FLOAT                               SetMiterLimit
//   EMR_SETTEXTCOLOR (24)      colour                                       SetTextColor
//   EMR_SETBKMODE (18)         mode                                         SetBkMode
//   EMR_SETTEXTALIGN (22)      alignment                                    SetTextAlign
//   EMR_BEGINPATH (59), EMR_ENDPATH (60), EMR_ABORTPATH (68),
//   EMR_CLOSEFIGURE (61)       none                                         the call of the name
//   EMR_MOVETOEX (27)          x, y                                         MoveTo
//   EMR_LINETO (54)            x, y                                         LineTo
//   EMR_POLYLINETO (6), EMR_POLYBEZIERTO (5)
//                              bounds, count, POINTL[count]                 PolylineTo, PolyBezierTo
//   EMR_POLYLINETO16 (89), EMR_POLYBEZIERTO16 (88)
//                              bounds, count, POINTS[count]                 the same
//   EMR_FILLPATH (62), EMR_STROKEANDFILLPATH (63), EMR_STROKEPATH (64)
//                              bounds                                       the call of the name
//   EMR_SELECTCLIPPATH (67)    mode                                         SelectClipPath
//   EMR_EXTTEXTOUTW (84)       bounds, graphics mode, x and y scale, EMRTEXT: ExtTextOut
//                              reference point, count, offString, options,
//                              rectangle, offDx; then the string and the
//                              advances (two per unit with ETO_PDY)
//   EMR_ALPHABLEND (114)       bounds, destination rectangle, BLENDFUNCTION, AlphaBlend
//                              source x and y, source XFORM, background
//                              colour, usage, offBmi, cbBmi, offBits,
//                              cbBits, source width and height; then the
//                              source rectangle's bits

// Records of one 32-bit field (the object records' index, the attribute records' value) and of
// none; the fixed size of each.
constexpr std::size_t kValueRecordBytes = 12;
constexpr std::size_t kEmptyRecordBytes = 8;
// A stock object's index in EMR_SELECTOBJECT and EMR_DELETEOBJECT.
constexpr DWORD kStockObjectFlag = 0x80000000u;

// EMR_EXTCREATEPEN
constexpr std::size_t kPenIndex = 8;
constexpr std::size_t kPenOffBmi = 12;
constexpr std::size_t kPenCbBmi = 16;
constexpr std::size_t kPenOffBits = 20;
constexpr std::size_t kPenCbBits = 24;
constexpr std::size_t kPenStyle = 28;
constexpr std::size_t kPenWidth = 32;
constexpr std::size_t kPenBrushStyle = 36;
constexpr std::size_t kPenColor = 40;
constexpr std::size_t kPenHatch = 44;
constexpr std::size_t kPenEntryCount = 48;
constexpr std::size_t kPenEntries = 52;

// EMR_CREATEBRUSHINDIRECT
constexpr std::size_t kBrushIndex = 8;
constexpr std::size_t kBrushStyle = 12;
constexpr std::size_t kBrushColor = 16;
constexpr std::size_t kBrushHatch = 20;
constexpr std::size_t kBrushRecordBytes = 24;

// EMR_EXTCREATEFONTINDIRECTW: the LOGFONTW, written in the fixed 320-byte LOGFONTPANOSE form
// (the rest zero) that every reader takes; a reader needs only the LOGFONTW.
constexpr std::size_t kFontIndex = 8;
constexpr std::size_t kFontLogFont = 12;
constexpr std::size_t kFontPanoseBytes = 320;

// EMR_MOVETOEX, EMR_LINETO
constexpr std::size_t kPointX = 8;
constexpr std::size_t kPointY = 12;
constexpr std::size_t kPointRecordBytes = 16;

// EMR_POLYLINETO, EMR_POLYBEZIERTO and their 16-bit forms
constexpr std::size_t kPolyBounds = 8;
constexpr std::size_t kPolyCount = 24;
constexpr std::size_t kPolyPoints = 28;

// EMR_FILLPATH, EMR_STROKEANDFILLPATH, EMR_STROKEPATH
constexpr std::size_t kPaintBounds = 8;
constexpr std::size_t kPaintRecordBytes = 24;

// EMR_EXTTEXTOUTW
constexpr std::size_t kTextBounds = 8;
constexpr std::size_t kTextGraphicsMode = 24;
constexpr std::size_t kTextScaleX = 28;
constexpr std::size_t kTextScaleY = 32;
constexpr std::size_t kTextReference = 36;
constexpr std::size_t kTextCount = 44;
constexpr std::size_t kTextOffString = 48;
constexpr std::size_t kTextOptions = 52;
constexpr std::size_t kTextRectangle = 56;
constexpr std::size_t kTextOffDx = 72;
constexpr std::size_t kTextFixedBytes = 76;

// EMR_ALPHABLEND
constexpr std::size_t kBlendBounds = 8;
constexpr std::size_t kBlendXDest = 24;
constexpr std::size_t kBlendYDest = 28;
constexpr std::size_t kBlendCxDest = 32;
constexpr std::size_t kBlendCyDest = 36;
constexpr std::size_t kBlendFunction = 40;
constexpr std::size_t kBlendXSrc = 44;
constexpr std::size_t kBlendYSrc = 48;
constexpr std::size_t kBlendXformSrc = 52;
constexpr std::size_t kBlendBkColorSrc = 76;
constexpr std::size_t kBlendUsageSrc = 80;
constexpr std::size_t kBlendOffBmi = 84;
constexpr std::size_t kBlendCbBmi = 88;
constexpr std::size_t kBlendOffBits = 92;
constexpr std::size_t kBlendCbBits = 96;
constexpr std::size_t kBlendCxSrc = 100;
constexpr std::size_t kBlendCySrc = 104;
constexpr std::size_t kBlendFixedBytes = 108;

// A value at an offset the caller has checked lies inside the bytes.
template <typename T>
T Read(const BYTE* bytes, std::size_t offset)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

// True when `size` bytes at `offset` lie within `length` bytes, without overflowing.
inline bool Inside(std::uint64_t offset, std::uint64_t size, std::uint64_t length)
{
    return offset <= length && size <= length - offset;
}

template <typename T>
void Append(std::vector<BYTE>& bytes, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* raw = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

// The frame (0.01 mm, inclusive) of bounds in reference-device pixels: what a recording whose
// caller gave no frame writes, and what a player maps back to exactly those pixels.
inline RECTL FrameOfBounds(const RECTL& bounds, const SIZEL& device, const SIZEL& millimetres)
{
    auto convert = [](LONG pixels, LONG mm, LONG count) {
        return count <= 0 ? 0 : static_cast<LONG>(std::llround(static_cast<double>(pixels) * 100.0 * mm / count));
    };
    return RECTL{convert(bounds.left, millimetres.cx, device.cx), convert(bounds.top, millimetres.cy, device.cy),
                 convert(bounds.right, millimetres.cx, device.cx), convert(bounds.bottom, millimetres.cy, device.cy)};
}

inline bool SameRect(const RECTL& a, const RECTL& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace platform::gdi::emf

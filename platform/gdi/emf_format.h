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

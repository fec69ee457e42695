// The MS-EMF format as this platform writes and reads it: little-endian access to record bytes,
// the kinds of field a record is made of, and the writer and the reader every record is written
// and read with. The records themselves are described in emf_records.h.
#pragma once

#include "platform/gdi/gdi.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform::gdi::emf {

constexpr std::size_t kRecordPrefixBytes = 8; // type, size
constexpr std::size_t kMinHeaderBytes = 88;   // the header before the pixel-format fields
constexpr std::size_t kHeaderBytes = sizeof(ENHMETAHEADER);
constexpr DWORD kVersion = 0x00010000;
constexpr std::size_t kEofBytes = 20;

// EMR_HEADER
constexpr std::size_t kHeaderDescriptionCount = 60;
constexpr std::size_t kHeaderDescriptionOffset = 64;

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

// `count` values of T at `bytes`, which need not be aligned for T: the values a record carries
// (read in place) or the values a call hands over to be written.
template <typename T>
struct Items {
    static_assert(std::is_trivially_copyable_v<T>);
    const BYTE* bytes = nullptr;
    std::size_t count = 0;

    Items() = default;
    Items(const BYTE* at, std::size_t number) : bytes(at), count(number) {}
    Items(std::span<const T> values) : bytes(reinterpret_cast<const BYTE*>(values.data())), count(values.size()) {}

    T operator[](std::size_t index) const { return Read<T>(bytes, index * sizeof(T)); }
    std::size_t Bytes() const { return count * sizeof(T); }
    std::span<const BYTE> Raw() const { return std::span<const BYTE>(bytes, Bytes()); }
};

// The kinds of field besides plain values (whose bytes stand in place):
//
// Counted<T>: a DWORD count, then that many values in place.
template <typename T>
struct Counted : Items<T> {
    using Items<T>::Items;
};
// Placed<T>: a DWORD count and a DWORD offset; the values lie after the fixed fields.
template <typename T>
struct Placed : Items<T> {
    using Items<T>::Items;
};
// Blob: a DWORD offset and a DWORD byte count (both 0 when empty); the bytes lie after the fixed
// fields.
struct Blob : Items<BYTE> {
    using Items<BYTE>::Items;
};
// Trailing<T>: a DWORD offset; the values run from there to the record's end. An offset of 0
// means the record has none (`bytes` null when read).
template <typename T>
struct Trailing : Items<T> {
    using Items<T>::Items;
};
// GradientMesh: GradientFill's vertex count, piece count and mode (three DWORDs), then in place the
// vertices and the pieces, whose kind the mode names: GRADIENT_TRIANGLE, or GRADIENT_RECT for the
// rectangle modes. A mode of neither kind cannot be read.
struct GradientMesh {
    Items<TRIVERTEX> vertices;
    Items<BYTE> pieces; // `count` pieces of PieceBytes(mode) bytes
    DWORD mode = 0;

    // The bytes of one piece in `mode`; 0 for a mode that is none of GradientFill's.
    static std::size_t PieceBytes(DWORD mode)
    {
        if (mode == GRADIENT_FILL_TRIANGLE)
            return sizeof(GRADIENT_TRIANGLE);
        if (mode == GRADIENT_FILL_RECT_H || mode == GRADIENT_FILL_RECT_V)
            return sizeof(GRADIENT_RECT);
        return 0;
    }
    // The vertex indices of piece `index`: three of a triangle, two (and a third of 0) of a rectangle.
    std::array<ULONG, 3> Piece(std::size_t index) const
    {
        const std::size_t at = index * PieceBytes(mode);
        if (mode == GRADIENT_FILL_TRIANGLE) {
            const auto triangle = Read<GRADIENT_TRIANGLE>(pieces.bytes, at);
            return {triangle.Vertex1, triangle.Vertex2, triangle.Vertex3};
        }
        const auto rect = Read<GRADIENT_RECT>(pieces.bytes, at);
        return {rect.UpperLeft, rect.LowerRight, 0};
    }
};
// Padding<N>: N zero bytes that give a record its published size; a reader does not need them.
template <std::size_t N>
struct Padding {};

// A record description names its fields, in order, once: QUILLON_EMF_FIELDS(a, b, c).
#define QUILLON_EMF_FIELDS(...)                                                                                        \
    auto Fields()                                                                                                      \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }                                                                                                                  \
    auto Fields() const                                                                                                \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }

namespace field {

constexpr std::uint64_t Padded(std::uint64_t size)
{
    return (size + 3) / 4 * 4;
}

// The bytes a field takes among the fixed fields, and after them.
template <typename T>
std::uint64_t InPlace(const T&)
{
    return sizeof(T);
}
template <typename T>
std::uint64_t InPlace(const Counted<T>& items)
{
    return sizeof(DWORD) + std::uint64_t{items.count} * sizeof(T);
}
template <typename T>
std::uint64_t InPlace(const Placed<T>&)
{
    return 2 * sizeof(DWORD);
}
inline std::uint64_t InPlace(const Blob&)
{
    return 2 * sizeof(DWORD);
}
template <typename T>
std::uint64_t InPlace(const Trailing<T>&)
{
    return sizeof(DWORD);
}
inline std::uint64_t InPlace(const GradientMesh& mesh)
{
    return 3 * sizeof(DWORD) + mesh.vertices.Bytes() + std::uint64_t{mesh.pieces.count} * mesh.PieceBytes(mesh.mode);
}
template <std::size_t N>
std::uint64_t InPlace(const Padding<N>&)
{
    return N;
}

template <typename T>
std::uint64_t After(const T&)
{
    return 0;
}
template <typename T>
std::uint64_t After(const Placed<T>& items)
{
    return Padded(items.Bytes());
}
inline std::uint64_t After(const Blob& items)
{
    return Padded(items.Bytes());
}
template <typename T>
std::uint64_t After(const Trailing<T>& items)
{
    return Padded(items.Bytes());
}

// What the writer puts down for a record: the bytes of its fields, the values the fields carry in
// place (each after the field bytes written before it), and the parts that follow the fields.
struct Encoding {
    std::vector<BYTE>& fixed;
    std::vector<std::pair<std::size_t, std::span<const BYTE>>> inPlace;
    std::vector<std::span<const BYTE>> after;
    std::uint64_t next = 0; // where the next part after the fields goes

    DWORD Place(std::span<const BYTE> bytes)
    {
        static constexpr BYTE zeros[4] = {};
        const auto offset = static_cast<DWORD>(next);
        after.push_back(bytes);
        after.push_back(std::span<const BYTE>(zeros, Padded(bytes.size()) - bytes.size()));
        next += Padded(bytes.size());
        return offset;
    }
};

template <typename T>
void Put(Encoding& out, const T& value)
{
    Append(out.fixed, value);
}
template <typename T>
void Put(Encoding& out, const Counted<T>& items)
{
    Append(out.fixed, static_cast<DWORD>(items.count));
    out.inPlace.emplace_back(out.fixed.size(), items.Raw());
}
template <typename T>
void Put(Encoding& out, const Placed<T>& items)
{
    Append(out.fixed, static_cast<DWORD>(items.count));
    Append(out.fixed, out.Place(items.Raw()));
}
inline void Put(Encoding& out, const Blob& items)
{
    const DWORD offset = items.count > 0 ? out.Place(items.Raw()) : 0;
    Append(out.fixed, offset);
    Append(out.fixed, static_cast<DWORD>(items.count));
}
template <typename T>
void Put(Encoding& out, const Trailing<T>& items)
{
    Append(out.fixed, out.Place(items.Raw()));
}
inline void Put(Encoding& out, const GradientMesh& mesh)
{
    Append(out.fixed, static_cast<DWORD>(mesh.vertices.count));
    Append(out.fixed, static_cast<DWORD>(mesh.pieces.count));
    Append(out.fixed, mesh.mode);
    out.inPlace.emplace_back(out.fixed.size(), mesh.vertices.Raw());
    out.inPlace.emplace_back(out.fixed.size(),
                             std::span<const BYTE>(mesh.pieces.bytes, mesh.pieces.count * mesh.PieceBytes(mesh.mode)));
}
template <std::size_t N>
void Put(Encoding& out, const Padding<N>&)
{
    out.fixed.insert(out.fixed.end(), N, BYTE{0});
}

// Reads a field at `at` of a record of `size` bytes, checking every size and offset against the
// record first; moves `at` past what the field takes in place.
template <typename T>
bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, T& value)
{
    if (!Inside(at, sizeof(T), size))
        return false;
    value = Read<T>(record, at);
    at += sizeof(T);
    return true;
}
template <typename T>
bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, Counted<T>& items)
{
    DWORD count = 0;
    if (!Take(record, size, at, count) || !Inside(at, std::uint64_t{count} * sizeof(T), size))
        return false;
    items = Counted<T>(record + at, count);
    at += std::uint64_t{count} * sizeof(T);
    return true;
}
template <typename T>
bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, Placed<T>& items)
{
    DWORD count = 0;
    DWORD offset = 0;
    if (!Take(record, size, at, count) || !Take(record, size, at, offset)
        || !Inside(offset, std::uint64_t{count} * sizeof(T), size))
        return false;
    items = Placed<T>(record + offset, count);
    return true;
}
inline bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, Blob& items)
{
    DWORD offset = 0;
    DWORD count = 0;
    if (!Take(record, size, at, offset) || !Take(record, size, at, count) || !Inside(offset, count, size))
        return false;
    items = Blob(record + offset, count);
    return true;
}
template <typename T>
bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, Trailing<T>& items)
{
    DWORD offset = 0;
    if (!Take(record, size, at, offset) || offset > size)
        return false;
    items = offset == 0 ? Trailing<T>() : Trailing<T>(record + offset, (size - offset) / sizeof(T));
    return true;
}
inline bool Take(const BYTE* record, std::uint64_t size, std::uint64_t& at, GradientMesh& mesh)
{
    DWORD vertices = 0;
    DWORD pieces = 0;
    if (!Take(record, size, at, vertices) || !Take(record, size, at, pieces) || !Take(record, size, at, mesh.mode))
        return false;
    const std::uint64_t pieceBytes = GradientMesh::PieceBytes(mesh.mode);
    const std::uint64_t vertexBytes = std::uint64_t{vertices} * sizeof(TRIVERTEX);
    if (pieceBytes == 0 || !Inside(at, vertexBytes, size) || !Inside(at + vertexBytes, pieces * pieceBytes, size))
        return false;
    mesh.vertices = Items<TRIVERTEX>(record + at, vertices);
    mesh.pieces = Items<BYTE>(record + at + vertexBytes, pieces);
    at += vertexBytes + pieces * pieceBytes;
    return true;
}
template <std::size_t N>
bool Take(const BYTE*, std::uint64_t size, std::uint64_t& at, Padding<N>&)
{
    at += std::min<std::uint64_t>(N, size - at);
    return true;
}

} // namespace field

// The bytes of a record, its type and size first, as `parts` to write in order: spans of `fixed`
// (which receives the fields' own bytes and padding) and of the values the record carries. The
// record's size, a multiple of 4.
template <typename Record>
std::uint64_t Encode(const Record& record, std::vector<BYTE>& fixed, std::vector<std::span<const BYTE>>& parts)
{
    const auto fields = record.Fields();
    const std::uint64_t inPlace
        = std::apply([](const auto&... each) { return (kRecordPrefixBytes + ... + field::InPlace(each)); }, fields);
    const std::uint64_t after
        = std::apply([](const auto&... each) { return (std::uint64_t{0} + ... + field::After(each)); }, fields);
    const std::uint64_t size = field::Padded(inPlace) + after;
    fixed.clear();
    parts.clear();
    Append(fixed, Record::kType);
    Append(fixed, static_cast<DWORD>(size));
    field::Encoding out{fixed, {}, {}, field::Padded(inPlace)};
    std::apply([&](const auto&... each) { (field::Put(out, each), ...); }, fields);
    // Zeros up to the first multiple of 4 after the fields and the values they carry in place.
    fixed.resize(fixed.size() + (field::Padded(inPlace) - inPlace), 0);
    std::size_t written = 0;
    for (const auto& [at, values] : out.inPlace) {
        parts.emplace_back(fixed.data() + written, at - written);
        parts.push_back(values);
        written = at;
    }
    parts.emplace_back(fixed.data() + written, fixed.size() - written);
    parts.insert(parts.end(), out.after.begin(), out.after.end());
    return size;
}

// Reads a record of `size` bytes into its description; false when a field, or what an offset or
// a count names, does not lie inside the record. The values read in place stay in `bytes`.
template <typename Record>
bool Decode(const BYTE* bytes, std::uint64_t size, Record& record)
{
    std::uint64_t at = kRecordPrefixBytes;
    return std::apply([&](auto&... each) { return (field::Take(bytes, size, at, each) && ...); }, record.Fields());
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

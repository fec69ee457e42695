// The record descriptions: every record the recording device writes reads back, field for field,
// as it was written, and a record cut short is refused by the reader the descriptions derive.
#include "platform/gdi/context/emf_records.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

namespace emf = platform::gdi::emf;

// Values for a record's fields: plain fields get bytes counting up from `next`; carried values
// (whole multiples of 4 bytes, so that no padding follows them) come from `pool`.
struct Filler {
    BYTE next = 1;
    std::array<BYTE, 64> pool{};

    Filler()
    {
        for (std::size_t i = 0; i < pool.size(); ++i)
            pool[i] = static_cast<BYTE>(0xA0 + i);
    }
    template <typename T>
    void operator()(T& value)
    {
        auto* bytes = reinterpret_cast<BYTE*>(&value);
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = next++;
    }
    template <typename T>
    void operator()(emf::Counted<T>& items)
    {
        items = emf::Counted<T>(pool.data(), 12 / sizeof(T) * 2);
    }
    template <typename T>
    void operator()(emf::Placed<T>& items)
    {
        items = emf::Placed<T>(pool.data() + 4, 8 / sizeof(T) * 2);
    }
    void operator()(emf::Blob& items) { items = emf::Blob(pool.data() + 8, 12); }
    template <typename T>
    void operator()(emf::Trailing<T>& items)
    {
        items = emf::Trailing<T>(pool.data() + 16, 8 / sizeof(T));
    }
    template <std::size_t N>
    void operator()(emf::Padding<N>&)
    {}
    void operator()(emf::GradientMesh& mesh)
    {
        mesh.vertices = emf::Items<TRIVERTEX>(pool.data(), 2);
        mesh.pieces = emf::Items<BYTE>(pool.data() + 32, 2);
        mesh.mode = GRADIENT_FILL_RECT_V;
    }
};

template <typename T>
void ExpectSame(const T& written, const T& read)
{
    EXPECT_EQ(std::memcmp(&written, &read, sizeof(T)), 0);
}
template <typename T>
void ExpectSameItems(const emf::Items<T>& written, const emf::Items<T>& read)
{
    ASSERT_EQ(read.count, written.count);
    EXPECT_EQ(std::memcmp(written.bytes, read.bytes, written.Bytes()), 0);
}
template <typename T>
void ExpectSame(const emf::Counted<T>& written, const emf::Counted<T>& read)
{
    ExpectSameItems<T>(written, read);
}
template <typename T>
void ExpectSame(const emf::Placed<T>& written, const emf::Placed<T>& read)
{
    ExpectSameItems<T>(written, read);
}
void ExpectSame(const emf::Blob& written, const emf::Blob& read)
{
    ExpectSameItems<BYTE>(written, read);
}
template <typename T>
void ExpectSame(const emf::Trailing<T>& written, const emf::Trailing<T>& read)
{
    ExpectSameItems<T>(written, read);
}
template <std::size_t N>
void ExpectSame(const emf::Padding<N>&, const emf::Padding<N>&)
{}
void ExpectSame(const emf::GradientMesh& written, const emf::GradientMesh& read)
{
    ExpectSameItems<TRIVERTEX>(written.vertices, read.vertices);
    EXPECT_EQ(read.mode, written.mode);
    ASSERT_EQ(read.pieces.count, written.pieces.count);
    for (std::size_t i = 0; i < written.pieces.count; ++i)
        EXPECT_EQ(read.Piece(i), written.Piece(i));
}

// The bytes a record is written as.
template <typename Record>
std::vector<BYTE> Written(const Record& record)
{
    std::vector<BYTE> fixed;
    std::vector<std::span<const BYTE>> parts;
    const std::uint64_t size = emf::Encode(record, fixed, parts);
    std::vector<BYTE> bytes;
    for (std::span<const BYTE> part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    EXPECT_EQ(bytes.size(), size);
    return bytes;
}

template <typename T>
constexpr bool kIsPadding = false;
template <std::size_t N>
constexpr bool kIsPadding<emf::Padding<N>> = true;

// Whether a record cut short by a byte must be refused: not when it has no fields (the player
// checks its type and size), ends in padding a reader does not need, or in values that run to
// the record's end whatever it is.
template <typename Record>
constexpr bool NeedsItsLastByte()
{
    using Fields = decltype(std::declval<Record&>().Fields());
    constexpr std::size_t count = std::tuple_size_v<Fields>;
    if constexpr (count == 0) {
        return false;
    } else {
        using Last = std::remove_cvref_t<std::tuple_element_t<count - 1, Fields>>;
        return !kIsPadding<Last> && !std::is_same_v<Last, emf::Trailing<INT>>;
    }
}

template <typename Record>
void ExpectRoundTrip()
{
    SCOPED_TRACE(testing::Message() << "record type " << Record::kType);
    Record written{};
    Filler filler;
    std::apply([&](auto&... field) { (filler(field), ...); }, written.Fields());
    const std::vector<BYTE> bytes = Written(written);
    ASSERT_GE(bytes.size(), emf::kRecordPrefixBytes);
    EXPECT_EQ(emf::Read<DWORD>(bytes.data(), 0), Record::kType);
    EXPECT_EQ(emf::Read<DWORD>(bytes.data(), 4), bytes.size());
    EXPECT_EQ(bytes.size() % 4, 0u);

    Record read{};
    ASSERT_TRUE(emf::Decode(bytes.data(), bytes.size(), read));
    std::apply([&](const auto&... a) { std::apply([&](const auto&... b) { (ExpectSame(a, b), ...); }, read.Fields()); },
               written.Fields());

    if constexpr (NeedsItsLastByte<Record>()) {
        Record cut{};
        EXPECT_FALSE(emf::Decode(bytes.data(), bytes.size() - 1, cut));
    }
}

template <typename... Records>
void ExpectEveryRoundTrip(emf::RecordList<Records...>)
{
    (ExpectRoundTrip<Records>(), ...);
}

TEST(EmfRecordsTest, EveryRecordReadsBackAsItWasWrittenAndIsRefusedCutShort)
{
    ExpectEveryRoundTrip(emf::Records{});
}

TEST(EmfRecordsTest, OffsetsAndCountsThatPointOutsideTheRecordAreRefused)
{
    const std::array<BYTE, 8> header{};
    const std::array<INT, 2> advances{5, 6};
    const std::array<WCHAR, 2> text{u'h', u'i'};
    emf::ExtTextOutRecord record{};
    record.text = emf::Placed<WCHAR>(std::span<const WCHAR>(text));
    record.advances = emf::Trailing<INT>(std::span<const INT>(advances));
    std::vector<BYTE> bytes = Written(record);
    emf::ExtTextOutRecord read{};
    ASSERT_TRUE(emf::Decode(bytes.data(), bytes.size(), read));
    // nChars at 44: a count whose units would run past the record, and one whose bytes overflow 32 bits.
    for (const DWORD count : {DWORD{7}, DWORD{0x80000001u}}) {
        std::vector<BYTE> lying = bytes;
        std::memcpy(lying.data() + 44, &count, sizeof count);
        EXPECT_FALSE(emf::Decode(lying.data(), lying.size(), read)) << count;
    }
    // offDx at 72 beyond the end.
    std::vector<BYTE> lying = bytes;
    const DWORD beyond = static_cast<DWORD>(bytes.size() + 4);
    std::memcpy(lying.data() + 72, &beyond, sizeof beyond);
    EXPECT_FALSE(emf::Decode(lying.data(), lying.size(), read));

    emf::StretchDiBitsRecord stretch{};
    stretch.info = emf::Blob(header.data(), header.size());
    bytes = Written(stretch);
    emf::StretchDiBitsRecord readStretch{};
    ASSERT_TRUE(emf::Decode(bytes.data(), bytes.size(), readStretch));
    // offBmi at 48 and cbBmi at 52: bytes past the end, and an offset plus size that wraps around.
    for (const auto& [offset, size] : {std::pair<DWORD, DWORD>{80, 9}, std::pair<DWORD, DWORD>{80, 0xFFFFFFF0u}}) {
        lying = bytes;
        std::memcpy(lying.data() + 48, &offset, sizeof offset);
        std::memcpy(lying.data() + 52, &size, sizeof size);
        EXPECT_FALSE(emf::Decode(lying.data(), lying.size(), readStretch)) << size;
    }
}

} // namespace

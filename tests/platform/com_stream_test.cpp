// Streams over global memory.
#include "platform/com/com.h"
#include "platform/kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

LARGE_INTEGER Move(LONGLONG value)
{
    LARGE_INTEGER move;
    move.QuadPart = value;
    return move;
}

ULONGLONG Position(IStream* stream)
{
    ULARGE_INTEGER position{};
    EXPECT_EQ(stream->Seek(Move(0), STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

std::string BlockText(HGLOBAL block)
{
    const auto* data = static_cast<const char*>(GlobalLock(block));
    std::string text(data, GlobalSize(block));
    GlobalUnlock(block);
    return text;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream_), S_OK);
        ASSERT_NE(stream_, nullptr);
    }
    void TearDown() override
    {
        if (stream_ != nullptr) {
            stream_->Release();
        }
    }
    void Write(std::string_view text)
    {
        ULONG written = 0;
        ASSERT_EQ(stream_->Write(text.data(), static_cast<ULONG>(text.size()), &written), S_OK);
        ASSERT_EQ(written, text.size());
    }
    HGLOBAL Block()
    {
        HGLOBAL block = nullptr;
        EXPECT_EQ(GetHGlobalFromStream(stream_, &block), S_OK);
        return block;
    }

    IStream* stream_ = nullptr;
};

TEST_F(StreamTest, BlockSizeIsExactlyTheBytesWritten)
{
    EXPECT_EQ(GlobalSize(Block()), 0u);
    Write("<?xml");
    Write(std::string(1000, 'x'));
    Write(std::string("a\0b", 3)); // zero bytes are data like any other
    EXPECT_EQ(GlobalSize(Block()), 1008u);
    const std::string text = BlockText(Block());
    EXPECT_EQ(text.substr(0, 5), "<?xml");
    EXPECT_EQ(text.substr(1005), std::string("a\0b", 3));
    STATSTG stat{};
    ASSERT_EQ(stream_->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 1008u);
    EXPECT_EQ(stat.type, STGTY_STREAM);
}

TEST_F(StreamTest, SeekFromEachOriginAndRefusesNegativePositions)
{
    Write("0123456789");
    ULARGE_INTEGER position{};
    ASSERT_EQ(stream_->Seek(Move(2), STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 2u);
    ASSERT_EQ(stream_->Seek(Move(3), STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 5u);
    // Exactly back to the start from either end, and not one byte further.
    ASSERT_EQ(stream_->Seek(Move(-10), STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 0u);
    EXPECT_EQ(stream_->Seek(Move(-11), STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
    ASSERT_EQ(stream_->Seek(Move(-4), STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 6u);
    ASSERT_EQ(stream_->Seek(Move(-6), STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 0u);
    ASSERT_EQ(stream_->Seek(Move(6), STREAM_SEEK_CUR, &position), S_OK);

    EXPECT_EQ(stream_->Seek(Move(-7), STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream_->Seek(Move(INT64_MIN), STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream_->Seek(Move(0), 3, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(Position(stream_), 6u); // failed seeks leave the position alone
}

TEST_F(StreamTest, ReadStopsAtTheEnd)
{
    Write("abcdef");
    ASSERT_EQ(stream_->Seek(Move(4), STREAM_SEEK_SET, nullptr), S_OK);
    char buffer[16] = {};
    ULONG got = 99;
    ASSERT_EQ(stream_->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buffer, got), "ef");
    ASSERT_EQ(stream_->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(stream_->Seek(Move(100), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream_->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(GlobalSize(Block()), 6u); // seeking past the end does not grow the stream
}

TEST_F(StreamTest, WriteAfterSeekPastEndFillsTheGapWithZeros)
{
    Write("ab");
    ASSERT_EQ(stream_->Seek(Move(5), STREAM_SEEK_SET, nullptr), S_OK);
    Write("z");
    EXPECT_EQ(BlockText(Block()), std::string("ab\0\0\0z", 6));
}

TEST_F(StreamTest, SetSizeShrinksAndGrowsTheBlock)
{
    Write("abcdef");
    ULARGE_INTEGER size;
    size.QuadPart = 3;
    ASSERT_EQ(stream_->SetSize(size), S_OK);
    EXPECT_EQ(BlockText(Block()), "abc");
    size.QuadPart = 5;
    ASSERT_EQ(stream_->SetSize(size), S_OK);
    EXPECT_EQ(BlockText(Block()), std::string("abc\0\0", 5));
    size.QuadPart = ULONGLONG{1} << 40;
    EXPECT_EQ(stream_->SetSize(size), STG_E_MEDIUMFULL);
    EXPECT_EQ(GlobalSize(Block()), 5u);
}

TEST_F(StreamTest, CloneSharesTheBlockButNotThePosition)
{
    Write("hello");
    IStream* clone = nullptr;
    ASSERT_EQ(stream_->Clone(&clone), S_OK);
    EXPECT_EQ(Position(clone), 5u);
    Write(" world");
    EXPECT_EQ(Position(clone), 5u);
    char buffer[8] = {};
    ULONG got = 0;
    ASSERT_EQ(clone->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(std::string(buffer, got), " world");
    HGLOBAL cloneBlock = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(clone, &cloneBlock), S_OK);
    EXPECT_EQ(cloneBlock, Block());

    // The block lives until the last of the two is released.
    HGLOBAL block = Block();
    stream_->Release();
    stream_ = nullptr;
    EXPECT_EQ(GlobalSize(block), 11u);
    clone->Release();
    EXPECT_EQ(GlobalLock(block), nullptr);
}

TEST_F(StreamTest, CopyToAnotherStream)
{
    Write("copy me please");
    ASSERT_EQ(stream_->Seek(Move(5), STREAM_SEEK_SET, nullptr), S_OK);
    IStream* target = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &target), S_OK);
    ULARGE_INTEGER bytes;
    bytes.QuadPart = 1000;
    ULARGE_INTEGER read{};
    ULARGE_INTEGER written{};
    ASSERT_EQ(stream_->CopyTo(target, bytes, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 9u);
    EXPECT_EQ(written.QuadPart, 9u);
    HGLOBAL block = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(target, &block), S_OK);
    EXPECT_EQ(BlockText(block), "me please");
    target->Release();
    EXPECT_EQ(stream_->CopyTo(nullptr, bytes, nullptr, nullptr), STG_E_INVALIDPOINTER);
}

TEST_F(StreamTest, InterfacesAndUnsupportedCalls)
{
    void* object = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_ISequentialStream, &IID_IStream}) {
        ASSERT_EQ(stream_->QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IStream*>(stream_));
        stream_->Release();
    }
    const IID other = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    object = stream_;
    EXPECT_EQ(stream_->QueryInterface(other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(stream_->QueryInterface(IID_IStream, nullptr), E_POINTER);

    ULARGE_INTEGER zero{};
    EXPECT_EQ(stream_->LockRegion(zero, zero, 0), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream_->UnlockRegion(zero, zero, 0), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream_->Commit(0), S_OK);
    EXPECT_EQ(stream_->Revert(), S_OK);
    EXPECT_EQ(stream_->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);
}

TEST(HGlobalStream, OverACallersBlock)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 3);
    ASSERT_NE(block, nullptr);
    std::memcpy(GlobalLock(block), "xyz", 3);
    GlobalUnlock(block);

    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, &stream), S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    char buffer[4] = {};
    ULONG got = 0;
    ASSERT_EQ(stream->Read(buffer, 4, &got), S_OK);
    EXPECT_EQ(std::string(buffer, got), "xyz");
    stream->Release();
    // Not deleted on release: the caller still owns the block.
    EXPECT_EQ(GlobalSize(block), 3u);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(HGlobalStream, RefusesWhatIsNotAMovableBlock)
{
    IStream* stream = reinterpret_cast<IStream*>(1);
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    EXPECT_EQ(CreateStreamOnHGlobal(fixed, FALSE, &stream), E_INVALIDARG);
    EXPECT_EQ(stream, nullptr);
    GlobalFree(fixed);
    char plain[8] = {};
    EXPECT_EQ(CreateStreamOnHGlobal(plain, FALSE, &stream), E_INVALIDARG);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);

    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(GetHGlobalFromStream(nullptr, &block), E_INVALIDARG);
    EXPECT_EQ(block, nullptr);
}

// A stream of someone else's making: GetHGlobalFromStream has no block to give for it.
class ForeignStream final : public IStream {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

TEST(HGlobalStream, ForeignStreamHasNoBlock)
{
    ForeignStream foreign;
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    EXPECT_EQ(GetHGlobalFromStream(&foreign, &block), E_INVALIDARG);
    EXPECT_EQ(block, nullptr);
}

} // namespace

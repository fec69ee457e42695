// Global memory blocks and BSTR text.
#include "platform/com/com.h"
#include "platform/kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

TEST(GlobalMemory, FixedBlockIsItsOwnPointer)
{
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    EXPECT_EQ(GlobalSize(block), 64u);
    auto* bytes = static_cast<unsigned char*>(block);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, MovableHandleIsNotADataPointer)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(handle, nullptr);
    void* data = GlobalLock(handle);
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data, handle);
    std::memcpy(data, "0123456789abcdef", 16);
    GlobalUnlock(handle);

    // The data pointer of a movable block is not a handle of its own.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalLock(data), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalSize(data), 0u);
    EXPECT_EQ(std::memcmp(data, "0123456789abcdef", 16), 0);
    EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST(GlobalMemory, PlainHeapPointerIsRefusedUntouched)
{
    // The tool tries GlobalLock on a device mode that may be a plain pointer and falls back to the
    // value itself: the lock must fail without reading or writing the memory.
    auto plain = std::make_unique<unsigned char[]>(32);
    std::memset(plain.get(), 0xA5, 32);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalLock(plain.get()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalUnlock(plain.get()), FALSE);
    EXPECT_EQ(GlobalFree(plain.get()), plain.get());
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(plain[i], 0xA5) << i;
    }
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
}

TEST(GlobalMemory, LockCountsAndUnlockAnswers)
{
    HGLOBAL handle = GlobalAlloc(GHND, 8);
    ASSERT_NE(handle, nullptr);
    void* first = GlobalLock(handle);
    void* second = GlobalLock(handle);
    EXPECT_EQ(first, second);

    EXPECT_EQ(GlobalUnlock(handle), TRUE); // still locked once
    SetLastError(1234);
    EXPECT_EQ(GlobalUnlock(handle), FALSE); // count reached zero
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(GlobalUnlock(handle), FALSE); // was not locked
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
    EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST(GlobalMemory, FreedHandleIsDeadAndSecondFreeFails)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GlobalFree(handle), nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalFree(handle), handle);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(GlobalSize(handle), 0u);
}

TEST(GlobalMemory, ReAllocKeepsContentZeroesGrowthAndReportsExactSize)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 4);
    ASSERT_NE(handle, nullptr);
    std::memcpy(GlobalLock(handle), "abcd", 4);
    GlobalUnlock(handle);

    ASSERT_EQ(GlobalReAlloc(handle, 4096, GMEM_MOVEABLE), handle);
    EXPECT_EQ(GlobalSize(handle), 4096u);
    auto* bytes = static_cast<const char*>(GlobalLock(handle));
    EXPECT_EQ(std::memcmp(bytes, "abcd", 4), 0);
    for (int i = 4; i < 4096; ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    GlobalUnlock(handle);

    ASSERT_EQ(GlobalReAlloc(handle, 2, 0), handle);
    EXPECT_EQ(GlobalSize(handle), 2u);
    EXPECT_EQ(std::memcmp(GlobalLock(handle), "ab", 2), 0);
    GlobalUnlock(handle);
    EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST(GlobalMemory, LockedBlockDoesNotMoveUnlessAllowed)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 4);
    ASSERT_NE(handle, nullptr);
    auto* data = static_cast<char*>(GlobalLock(handle));
    std::memcpy(data, "keep", 4);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalReAlloc(handle, 1 << 20, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GlobalSize(handle), 4u);
    EXPECT_EQ(std::memcmp(data, "keep", 4), 0); // the caller's pointer is still good
    GlobalUnlock(handle);
    EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST(GlobalMemory, UnknownFlagsAreRefused)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GlobalAlloc(0x8000, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Bstr, LengthPrefixAndTerminator)
{
    BSTR text = SysAllocString(u"Quillon");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_EQ(std::u16string(text), u"Quillon");
    EXPECT_EQ(text[7], 0);
    SysFreeString(text);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

} // namespace

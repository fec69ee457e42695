// Global memory: fixed blocks are plain pointers, movable blocks are handles that are never data
// pointers. Every live block is recorded in one table, so a value that is not a live block (a plain
// heap pointer, a freed handle) is recognised without its memory ever being read.
#include "platform/kernel/kernel.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// Movable handles are addresses inside one reserved, inaccessible range of the address space:
// no heap allocation can ever sit there, so a handle cannot be mistaken for a data pointer.
constexpr std::size_t kHandleRangeBytes = std::size_t{16} << 20;
constexpr std::size_t kHandleStride = 8;
constexpr std::size_t kHandleSlots = kHandleRangeBytes / kHandleStride;
// Windows keeps a lock count of at most this value; further locks leave it saturated.
constexpr unsigned kMaxLockCount = 255;
// Growth of a block beyond its capacity reserves this much more than asked, so that a stream
// written in small pieces does not copy its whole block on every write.
constexpr std::size_t kGrowthFactor = 2;
// A block resized below this fraction of its capacity is reallocated to its new size.
constexpr std::size_t kShrinkFactor = 4;

constexpr UINT kKnownFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

struct Block {
    std::byte* data = nullptr; // never null while the block lives (capacity is at least 1)
    std::size_t size = 0;      // the size GlobalSize reports
    std::size_t capacity = 0;  // bytes allocated at data
    unsigned locks = 0;
    bool movable = false;
};

class GlobalHeap final {
public:
    static GlobalHeap& Instance()
    {
        // Never destroyed: blocks may be freed by code that runs after static destruction starts.
        static GlobalHeap* heap = new GlobalHeap();
        return *heap;
    }

    HGLOBAL Allocate(UINT flags, SIZE_T bytes)
    {
        Block block;
        block.movable = (flags & GMEM_MOVEABLE) != 0;
        block.capacity = std::max<std::size_t>(bytes, 1);
        block.data = static_cast<std::byte*>((flags & GMEM_ZEROINIT) ? std::calloc(block.capacity, 1)
                                                                     : std::malloc(block.capacity));
        if (block.data == nullptr) {
            return nullptr;
        }
        block.size = bytes;
        std::lock_guard lock(mutex_);
        HGLOBAL key = block.data;
        if (block.movable) {
            key = NextHandle();
            if (key == nullptr) {
                std::free(block.data);
                return nullptr;
            }
        }
        blocks_.emplace(key, block);
        return key;
    }

    HGLOBAL Reallocate(HGLOBAL memory, SIZE_T bytes, UINT flags)
    {
        std::lock_guard lock(mutex_);
        auto found = blocks_.find(memory);
        if (found == blocks_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        Block& block = found->second;
        // Moving is allowed for an unlocked movable block, or whenever the caller says so.
        const bool mayMove = (block.movable && block.locks == 0) || (flags & GMEM_MOVEABLE) != 0;
        if (mayMove && bytes < block.capacity / kShrinkFactor) {
            // A block cut far below its capacity gives the spare memory back.
            const std::size_t capacity = std::max<std::size_t>(bytes, 1);
            if (auto* data = static_cast<std::byte*>(std::realloc(block.data, capacity))) {
                block.data = data;
                block.capacity = capacity;
            }
        }
        if (bytes > block.capacity) {
            if (!mayMove) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            std::size_t capacity = bytes;
            if (block.capacity <= SIZE_MAX / kGrowthFactor) {
                capacity = std::max(bytes, block.capacity * kGrowthFactor);
            }
            auto* data = static_cast<std::byte*>(std::realloc(block.data, capacity));
            if (data == nullptr && capacity > bytes) {
                capacity = bytes;
                data = static_cast<std::byte*>(std::realloc(block.data, capacity));
            }
            if (data == nullptr) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            block.data = data;
            block.capacity = capacity;
        }
        // New bytes are always zeroed: a stream grown by a seek past its end reads zeros there.
        if (bytes > block.size) {
            std::memset(block.data + block.size, 0, bytes - block.size);
        }
        block.size = bytes;
        if (block.movable) {
            return memory;
        }
        // A fixed block's handle is its data pointer, which may have moved.
        HGLOBAL key = block.data;
        if (key != memory) {
            Block moved = block;
            blocks_.erase(found);
            blocks_.emplace(key, moved);
        }
        return key;
    }

    LPVOID Lock(HGLOBAL memory)
    {
        std::lock_guard lock(mutex_);
        Block* block = Find(memory);
        if (block == nullptr)
            return nullptr;
        if (block->movable && block->locks < kMaxLockCount) {
            ++block->locks;
        }
        return block->data;
    }

    BOOL Unlock(HGLOBAL memory)
    {
        std::lock_guard lock(mutex_);
        Block* block = Find(memory);
        if (block == nullptr)
            return FALSE;
        if (!block->movable) {
            // A fixed block has no lock count: unlocking it always leaves it unlocked.
            SetLastError(ERROR_SUCCESS);
            return FALSE;
        }
        if (block->locks == 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
        if (--block->locks == 0) {
            SetLastError(ERROR_SUCCESS);
            return FALSE;
        }
        return TRUE;
    }

    SIZE_T Size(HGLOBAL memory)
    {
        std::lock_guard lock(mutex_);
        const Block* block = Find(memory);
        return block == nullptr ? 0 : block->size;
    }

    HGLOBAL Free(HGLOBAL memory)
    {
        std::lock_guard lock(mutex_);
        auto found = blocks_.find(memory);
        if (found == blocks_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return memory;
        }
        std::free(found->second.data);
        blocks_.erase(found);
        return nullptr;
    }

private:
    GlobalHeap()
    {
        void* range = mmap(nullptr, kHandleRangeBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        handleBase_ = range == MAP_FAILED ? nullptr : static_cast<std::byte*>(range);
    }

    // The live block of a handle or fixed pointer; null with ERROR_INVALID_HANDLE for anything
    // else. The caller holds mutex_.
    Block* Find(HGLOBAL memory)
    {
        auto found = blocks_.find(memory);
        if (found == blocks_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return &found->second;
    }

    // The next free handle in the reserved range; null when the range is missing or full.
    HGLOBAL NextHandle()
    {
        if (handleBase_ == nullptr) {
            return nullptr;
        }
        for (std::size_t tries = 0; tries < kHandleSlots; ++tries) {
            // Slots are handed out round the range, so a freed handle is not reused soon after.
            nextSlot_ = (nextSlot_ + 1) % kHandleSlots;
            HGLOBAL handle = handleBase_ + nextSlot_ * kHandleStride;
            if (blocks_.find(handle) == blocks_.end()) {
                return handle;
            }
        }
        return nullptr;
    }

    std::mutex mutex_;
    std::unordered_map<HGLOBAL, Block> blocks_;
    std::byte* handleBase_ = nullptr;
    std::size_t nextSlot_ = 0;
};

} // namespace

// Allocates global memory: GMEM_FIXED gives a pointer, GMEM_MOVEABLE a handle to lock.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if ((flags & ~kKnownFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HGLOBAL memory = GlobalHeap::Instance().Allocate(flags, bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

// Resizes a global memory block.
HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags)
{
    if (memory == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((flags & ~kKnownFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return GlobalHeap::Instance().Reallocate(memory, bytes, flags);
}

// Locks a global memory block; null for anything that is not a live global block.
LPVOID GlobalLock(HGLOBAL memory)
{
    if (memory == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return GlobalHeap::Instance().Lock(memory);
}

// Unlocks a global memory block; FALSE once its lock count reaches zero.
BOOL GlobalUnlock(HGLOBAL memory)
{
    if (memory == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return GlobalHeap::Instance().Unlock(memory);
}

// Returns the size of a global memory block, 0 for anything else.
SIZE_T GlobalSize(HGLOBAL memory)
{
    if (memory == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return GlobalHeap::Instance().Size(memory);
}

// Frees a global memory block; returns null on success, the handle itself on failure.
HGLOBAL GlobalFree(HGLOBAL memory)
{
    if (memory == nullptr) {
        return nullptr;
    }
    return GlobalHeap::Instance().Free(memory);
}

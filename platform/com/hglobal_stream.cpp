// IStream over a movable global memory block. The block's GlobalSize is always the stream's
// logical size, so whoever takes the block afterwards sees exactly the bytes written.
#include "platform/com/com.h"
#include "platform/kernel/kernel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISequentialStream = {0x0c733a30, 0x2a1c, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3a}};
const IID IID_IStream = {0x0000000c, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// Largest stream over global memory; writes or sizes beyond it fail with STG_E_MEDIUMFULL.
constexpr ULONGLONG kMaxStreamBytes = 0x7FFFFFFFu;
// CopyTo moves data through a buffer of this size (the target may share our block).
constexpr ULONG kCopyChunkBytes = 64 * 1024;

bool SameIid(REFIID a, REFIID b)
{
    return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

// The block behind a stream and its clones; freed with the last of them when asked to.
class SharedBlock final {
public:
    SharedBlock(HGLOBAL memory, bool deleteOnRelease) : memory_(memory), deleteOnRelease_(deleteOnRelease) {}
    ~SharedBlock()
    {
        if (deleteOnRelease_) {
            GlobalFree(memory_);
        }
    }
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    HGLOBAL Memory() const { return memory_; }
    // Serialises access to the block among the streams that share it.
    std::mutex& Mutex() { return mutex_; }

private:
    HGLOBAL memory_;
    bool deleteOnRelease_;
    std::mutex mutex_;
};

class HGlobalStream final : public IStream {
public:
    static HGlobalStream* Create(std::shared_ptr<SharedBlock> block, ULONGLONG position)
    {
        return new (std::nothrow) HGlobalStream(std::move(block), position);
    }

    HGLOBAL Memory() const { return block_->Memory(); }

    HRESULT QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (SameIid(riid, IID_IUnknown) || SameIid(riid, IID_ISequentialStream) || SameIid(riid, IID_IStream)) {
            AddRef();
            *object = static_cast<IStream*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG AddRef() override { return ++references_; }

    ULONG Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT Read(void* buffer, ULONG bytes, ULONG* bytesRead) override
    {
        if (bytesRead != nullptr) {
            *bytesRead = 0;
        }
        if (buffer == nullptr && bytes > 0) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard lock(block_->Mutex());
        const ULONGLONG size = GlobalSize(Memory());
        const ULONG count = position_ >= size ? 0 : static_cast<ULONG>(std::min<ULONGLONG>(bytes, size - position_));
        if (count > 0) {
            auto* data = static_cast<const std::byte*>(GlobalLock(Memory()));
            if (data == nullptr) {
                return E_OUTOFMEMORY;
            }
            std::memcpy(buffer, data + position_, count);
            GlobalUnlock(Memory());
            position_ += count;
        }
        if (bytesRead != nullptr) {
            *bytesRead = count;
        }
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG bytes, ULONG* bytesWritten) override
    {
        if (bytesWritten != nullptr) {
            *bytesWritten = 0;
        }
        if (buffer == nullptr && bytes > 0) {
            return STG_E_INVALIDPOINTER;
        }
        if (bytes == 0) {
            return S_OK;
        }
        std::lock_guard lock(block_->Mutex());
        if (position_ > kMaxStreamBytes || bytes > kMaxStreamBytes - position_) {
            return STG_E_MEDIUMFULL;
        }
        const ULONGLONG end = position_ + bytes;
        if (end > GlobalSize(Memory()) && GlobalReAlloc(Memory(), end, GMEM_MOVEABLE) == nullptr) {
            return STG_E_MEDIUMFULL;
        }
        auto* data = static_cast<std::byte*>(GlobalLock(Memory()));
        if (data == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(data + position_, buffer, bytes);
        GlobalUnlock(Memory());
        position_ = end;
        if (bytesWritten != nullptr) {
            *bytesWritten = bytes;
        }
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        std::lock_guard lock(block_->Mutex());
        ULONGLONG base = 0;
        switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = position_;
            break;
        case STREAM_SEEK_END:
            base = GlobalSize(Memory());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        const LONGLONG delta = move.QuadPart;
        ULONGLONG target = 0;
        if (delta < 0) {
            // Computed in unsigned arithmetic so that the most negative value does not overflow.
            const ULONGLONG back = ULONGLONG{0} - static_cast<ULONGLONG>(delta);
            if (back > base) {
                return STG_E_INVALIDFUNCTION;
            }
            target = base - back;
        } else {
            if (static_cast<ULONGLONG>(delta) > ~ULONGLONG{0} - base) {
                return STG_E_INVALIDFUNCTION;
            }
            target = base + static_cast<ULONGLONG>(delta);
        }
        position_ = target;
        if (newPosition != nullptr) {
            newPosition->QuadPart = position_;
        }
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER newSize) override
    {
        if (newSize.QuadPart > kMaxStreamBytes) {
            return STG_E_MEDIUMFULL;
        }
        std::lock_guard lock(block_->Mutex());
        if (GlobalReAlloc(Memory(), static_cast<SIZE_T>(newSize.QuadPart), GMEM_MOVEABLE) == nullptr) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* bytesRead,
                   ULARGE_INTEGER* bytesWritten) override
    {
        if (bytesRead != nullptr) {
            bytesRead->QuadPart = 0;
        }
        if (bytesWritten != nullptr) {
            bytesWritten->QuadPart = 0;
        }
        if (target == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::vector<std::byte> chunk;
        ULONGLONG left = bytes.QuadPart;
        ULONGLONG totalRead = 0;
        ULONGLONG totalWritten = 0;
        HRESULT result = S_OK;
        while (left > 0) {
            chunk.resize(static_cast<std::size_t>(std::min<ULONGLONG>(left, kCopyChunkBytes)));
            ULONG got = 0;
            result = Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got);
            if (FAILED(result) || got == 0) {
                break;
            }
            totalRead += got;
            ULONG put = 0;
            result = target->Write(chunk.data(), got, &put);
            totalWritten += put;
            if (FAILED(result)) {
                break;
            }
            left -= got;
        }
        if (bytesRead != nullptr) {
            bytesRead->QuadPart = totalRead;
        }
        if (bytesWritten != nullptr) {
            bytesWritten->QuadPart = totalWritten;
        }
        return result;
    }

    // Memory streams have nothing to commit or roll back.
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }

    // Region locking is not offered by memory streams, as Stat's grfLocksSupported says.
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* stat, DWORD) override
    {
        if (stat == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard lock(block_->Mutex());
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = GlobalSize(Memory());
        return S_OK;
    }

    HRESULT Clone(IStream** stream) override
    {
        if (stream == nullptr) {
            return STG_E_INVALIDPOINTER;
        }
        ULONGLONG position = 0;
        {
            std::lock_guard lock(block_->Mutex());
            position = position_;
        }
        *stream = Create(block_, position);
        return *stream == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    HGlobalStream(std::shared_ptr<SharedBlock> block, ULONGLONG position)
        : block_(std::move(block)),
          position_(position)
    {}
    ~HGlobalStream() = default;

    std::shared_ptr<SharedBlock> block_;
    ULONGLONG position_;
    std::atomic<ULONG> references_{1};
};

} // namespace

// Makes a stream over a global memory block (a new one when memory is null).
HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream)
{
    if (stream == nullptr) {
        return E_INVALIDARG;
    }
    *stream = nullptr;
    bool ownsNewBlock = false;
    if (memory == nullptr) {
        memory = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (memory == nullptr) {
            return E_OUTOFMEMORY;
        }
        ownsNewBlock = true;
    } else {
        // Only a live movable block will do: a fixed block's address would change as it grows.
        void* data = GlobalLock(memory);
        if (data == nullptr) {
            return E_INVALIDARG;
        }
        GlobalUnlock(memory);
        if (data == memory) {
            return E_INVALIDARG;
        }
    }
    std::shared_ptr<SharedBlock> block;
    try {
        block = std::make_shared<SharedBlock>(memory, deleteOnRelease != FALSE);
    } catch (const std::bad_alloc&) {
        if (ownsNewBlock) {
            GlobalFree(memory);
        }
        return E_OUTOFMEMORY;
    }
    *stream = HGlobalStream::Create(std::move(block), 0);
    return *stream == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Gives the global memory block behind a stream made by CreateStreamOnHGlobal.
HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* memory)
{
    if (memory == nullptr) {
        return E_INVALIDARG;
    }
    *memory = nullptr;
    auto* ours = dynamic_cast<HGlobalStream*>(stream);
    if (ours == nullptr) {
        return E_INVALIDARG;
    }
    *memory = ours->Memory();
    return S_OK;
}

// The one table behind every handle the platform hands out for an object: files and pipes, printers,
// device contexts, GDI objects (pens, brushes, fonts, bitmaps), metafiles and GDI+ objects. A handle is a number from
// this table, never a pointer: a value is only ever looked up, so garbage, a deleted handle or a handle of another kind
// is refused instead of being followed. Values count up and are never reused for the life of the
// process, so a stale handle can never name a later object.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

// What a handle stands for. Each type kept in the table names its kind as `kObjectKind`.
enum class ObjectKind : std::uint8_t {
    KernelObject,
    Printer,
    DeviceContext,
    GdiObject,
    EnhMetaFile,
    GdiplusImage,
    GdiplusGraphics,
};

class ObjectTable final {
public:
    // The process-wide table.
    static ObjectTable& Instance();

    ObjectTable() = default;
    ObjectTable(const ObjectTable&) = delete;
    ObjectTable& operator=(const ObjectTable&) = delete;

    // Adds an object; its new handle value, never 0 and never one handed out before.
    std::uintptr_t Add(ObjectKind kind, std::shared_ptr<void> object);
    // The object of a live handle of this kind, or null.
    std::shared_ptr<void> Find(std::uintptr_t value, ObjectKind kind) const;
    // Takes a live handle of this kind out of the table and returns its object (null when there is
    // none): the object lives on while a caller still holds it, and is destroyed outside the lock.
    std::shared_ptr<void> Remove(std::uintptr_t value, ObjectKind kind);
    // The number of live handles of a kind.
    std::size_t Count(ObjectKind kind) const;

private:
    struct Entry {
        ObjectKind kind;
        std::shared_ptr<void> object;
    };

    mutable std::mutex mutex_;
    std::unordered_map<std::uintptr_t, Entry> entries_;
    std::uint64_t next_ = 0;
};

// Typed access for the Windows calls: T names its kind, Handle is the call's handle type.
template <typename Handle, typename T>
Handle AddObject(std::shared_ptr<T> object)
{
    return reinterpret_cast<Handle>(ObjectTable::Instance().Add(T::kObjectKind, std::move(object)));
}

template <typename T, typename Handle>
std::shared_ptr<T> FindObject(Handle handle)
{
    return std::static_pointer_cast<T>(
        ObjectTable::Instance().Find(reinterpret_cast<std::uintptr_t>(handle), T::kObjectKind));
}

template <typename T, typename Handle>
std::shared_ptr<T> RemoveObject(Handle handle)
{
    return std::static_pointer_cast<T>(
        ObjectTable::Instance().Remove(reinterpret_cast<std::uintptr_t>(handle), T::kObjectKind));
}

} // namespace platform

#include "platform/kernel/object_table.h"

namespace platform {
namespace {

// Values start above the first page and step by four, as Windows handles do; 64 bits of counter
// never wrap in the life of a process, so a value once handed out is never seen again.
constexpr std::uint64_t kFirstValue = 0x1000;
constexpr std::uint64_t kStep = 4;

} // namespace

ObjectTable& ObjectTable::Instance()
{
    // Never destroyed: handles may be closed by code that runs after static destruction starts.
    static ObjectTable* table = new ObjectTable();
    return *table;
}

std::uintptr_t ObjectTable::Add(ObjectKind kind, std::shared_ptr<void> object)
{
    std::lock_guard lock(mutex_);
    const std::uintptr_t value = static_cast<std::uintptr_t>(kFirstValue + next_ * kStep);
    ++next_;
    entries_.emplace(value, Entry{kind, std::move(object)});
    return value;
}

std::shared_ptr<void> ObjectTable::Find(std::uintptr_t value, ObjectKind kind) const
{
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(value);
    if (found == entries_.end() || found->second.kind != kind)
        return nullptr;
    return found->second.object;
}

std::shared_ptr<void> ObjectTable::Remove(std::uintptr_t value, ObjectKind kind)
{
    std::shared_ptr<void> object;
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(value);
    if (found == entries_.end() || found->second.kind != kind)
        return nullptr;
    object = std::move(found->second.object);
    entries_.erase(found);
    return object;
}

std::size_t ObjectTable::Count(ObjectKind kind) const
{
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [value, entry] : entries_)
        count += entry.kind == kind ? 1 : 0;
    return count;
}

} // namespace platform

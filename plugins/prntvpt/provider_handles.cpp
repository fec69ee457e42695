// Tables of open providers and of memory handed out.
#include "plugins/prntvpt/provider_handles.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace prntvpt {
namespace {

// Handle values count up from here; the low bit is set so that none is ever a valid pointer.
constexpr std::uintptr_t kFirstHandle = 0x50540001u;

struct Tables {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<const Provider>> providers;
    std::uintptr_t nextHandle = kFirstHandle;
    std::unordered_set<void*> memory;
};

Tables& State()
{
    static Tables tables;
    return tables;
}

} // namespace

// Registers a provider; null when the table is full.
HPTPROVIDER AddProvider(std::shared_ptr<const Provider> provider)
{
    Tables& tables = State();
    std::lock_guard lock(tables.mutex);
    if (tables.providers.size() >= kMaxOpenProviders) {
        return nullptr;
    }
    std::uintptr_t handle = tables.nextHandle;
    while (handle == 0 || tables.providers.contains(handle)) {
        handle += 2;
    }
    tables.nextHandle = handle + 2;
    tables.providers.emplace(handle, std::move(provider));
    return reinterpret_cast<HPTPROVIDER>(handle);
}

// The provider behind a handle, or null.
std::shared_ptr<const Provider> FindProvider(HPTPROVIDER handle)
{
    Tables& tables = State();
    std::lock_guard lock(tables.mutex);
    auto found = tables.providers.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == tables.providers.end() ? nullptr : found->second;
}

// Closes a handle; false when it is not an open provider handle.
bool RemoveProvider(HPTPROVIDER handle)
{
    Tables& tables = State();
    std::lock_guard lock(tables.mutex);
    return tables.providers.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
}

// Allocates memory that the caller later gives back.
void* AllocateCallerMemory(std::size_t bytes)
{
    void* memory = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (memory == nullptr) {
        return nullptr;
    }
    Tables& tables = State();
    std::lock_guard lock(tables.mutex);
    try {
        tables.memory.insert(memory);
    } catch (const std::bad_alloc&) {
        std::free(memory);
        return nullptr;
    }
    return memory;
}

// Frees memory from AllocateCallerMemory; false for any other pointer.
bool ReleaseCallerMemory(void* memory)
{
    Tables& tables = State();
    std::lock_guard lock(tables.mutex);
    if (tables.memory.erase(memory) == 0) {
        return false;
    }
    std::free(memory);
    return true;
}

} // namespace prntvpt

// What every GDI call does first: find the context behind its handle, and answer running out of
// memory with its failure value instead of an exception.
#pragma once

#include "platform/gdi/context/device_context.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"

#include <memory>
#include <new>

namespace platform::gdi {

// The context of a live device context handle, or null with ERROR_INVALID_HANDLE.
inline std::shared_ptr<DeviceContext> FindDc(HDC dc)
{
    std::shared_ptr<DeviceContext> context = FindObject<DeviceContext>(dc);
    if (!context)
        SetLastError(ERROR_INVALID_HANDLE);
    return context;
}

// Runs a call that allocates: running out of memory is its failure answer, never an exception.
template <typename Result, typename Work>
Result Guarded(Result failure, Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

// Runs a call on the context behind a handle, guarded as above; `failure` when there is none.
template <typename Result, typename Work>
Result OnDc(HDC dc, Result failure, Work work)
{
    const std::shared_ptr<DeviceContext> context = FindDc(dc);
    return context ? Guarded<Result>(failure, [&] { return work(*context); }) : failure;
}

} // namespace platform::gdi

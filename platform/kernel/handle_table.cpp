// The process-wide handle table and the handle calls that work on any kernel object.
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace platform::kernel {
namespace {

// Handle values are counted up from here in steps of four and never reused, so a closed handle
// stays invalid for the life of the process instead of naming a later object.
constexpr std::uintptr_t kFirstHandleValue = 0x1000;
constexpr std::uintptr_t kHandleStep = 4;

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = kFirstHandleValue;
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

} // namespace

// Puts an object into the handle table and returns its new handle (never null or -1).
HANDLE AddHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    const std::uintptr_t value = table.next;
    table.next += kHandleStep;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

// The object behind a handle, or null for anything that is not a live handle.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

// Takes a handle out of the table; the object lives on while an operation still holds it.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end())
        return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

} // namespace platform::kernel

using platform::kernel::FindHandle;

// Reads from a file or pipe; a message longer than the buffer fails with ERROR_MORE_DATA.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    if (bytesRead)
        *bytesRead = 0;
    const auto object = FindHandle(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped || (!buffer && bytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD count = 0;
    const BOOL result = object->Read(buffer, bytesToRead, count);
    if (bytesRead)
        *bytesRead = count;
    return result;
}

// Writes to a file, or one message to a pipe.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped)
{
    if (bytesWritten)
        *bytesWritten = 0;
    const auto object = FindHandle(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped || (!buffer && bytesToWrite > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD count = 0;
    const BOOL result = object->Write(buffer, bytesToWrite, count);
    if (bytesWritten)
        *bytesWritten = count;
    return result;
}

// Flushes a file's or pipe's buffers.
BOOL FlushFileBuffers(HANDLE file)
{
    const auto object = FindHandle(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Flush();
}

// Closes any handle made by this module.
BOOL CloseHandle(HANDLE object)
{
    if (!platform::kernel::RemoveHandle(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// Returns the low 32 bits of a file's size (the high part through highSize), or INVALID_FILE_SIZE.
DWORD GetFileSize(HANDLE file, LPDWORD highSize)
{
    const auto object = FindHandle(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = 0;
    if (!object->Size(size))
        return INVALID_FILE_SIZE;
    if (highSize)
        *highSize = static_cast<DWORD>(size >> 32);
    // A size whose low part is 0xFFFFFFFF is told apart from a failure by the last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

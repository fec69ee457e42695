// The handle calls that work on any kernel object; the handles live in the platform's object table.
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/object_table.h"

#include <cstring>

namespace platform::kernel {

// Puts an object into the platform's object table and returns its new handle (never null or -1).
HANDLE AddHandle(std::shared_ptr<KernelObject> object)
{
    return AddObject<HANDLE>(std::move(object));
}

// The object behind a handle, or null for anything that is not a live kernel handle.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle)
{
    return FindObject<KernelObject>(handle);
}

// Takes a handle out of the table; the object lives on while an operation still holds it.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle)
{
    return RemoveObject<KernelObject>(handle);
}

} // namespace platform::kernel

using platform::kernel::FindHandle;

namespace {

// The object behind a handle; null, with ERROR_INVALID_HANDLE, for anything that is not one.
std::shared_ptr<platform::kernel::KernelObject> ObjectOf(HANDLE handle)
{
    auto object = FindHandle(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Moves bytes between a caller's buffer and the file or pipe behind a handle with `move` (the
// object's Read or Write); what moved goes to `moved` also when it fails.
template <typename Buffer, typename Move>
BOOL MoveBytes(HANDLE file, Buffer buffer, DWORD bytes, LPDWORD moved, LPOVERLAPPED overlapped, Move move)
{
    if (moved)
        *moved = 0;
    const auto object = ObjectOf(file);
    if (!object)
        return FALSE;
    if (overlapped || (!buffer && bytes > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD count = 0;
    const BOOL result = move(*object, buffer, bytes, count);
    if (moved)
        *moved = count;
    return result;
}

} // namespace

// Reads from a file or pipe; a message longer than the buffer fails with ERROR_MORE_DATA.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    return MoveBytes(
        file, buffer, bytesToRead, bytesRead, overlapped,
        [](auto& object, LPVOID into, DWORD bytes, DWORD& count) { return object.Read(into, bytes, count); });
}

// Writes to a file, or one message to a pipe.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped)
{
    return MoveBytes(
        file, buffer, bytesToWrite, bytesWritten, overlapped,
        [](auto& object, LPCVOID from, DWORD bytes, DWORD& count) { return object.Write(from, bytes, count); });
}

// Flushes a file's or pipe's buffers.
BOOL FlushFileBuffers(HANDLE file)
{
    const auto object = ObjectOf(file);
    if (!object)
        return FALSE;
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
    const auto object = ObjectOf(file);
    if (!object)
        return INVALID_FILE_SIZE;
    ULONGLONG size = 0;
    if (!object->Size(size))
        return INVALID_FILE_SIZE;
    if (highSize)
        *highSize = static_cast<DWORD>(size >> 32);
    // A size whose low part is 0xFFFFFFFF is told apart from a failure by the last error.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

// Fills in a file's times, its change time included, and attributes; FALSE for another class, a
// short buffer or a handle that is not an open file.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information, DWORD size)
{
    if (!information || infoClass != FileBasicInfo || size < sizeof(FILE_BASIC_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto object = ObjectOf(file);
    if (!object)
        return FALSE;
    FILE_BASIC_INFO found{};
    if (!object->BasicInformation(found))
        return FALSE;
    std::memcpy(information, &found, sizeof found);
    return TRUE;
}

// Fills in what identifies an open file (volume serial number and file index), its size, link
// count, attributes and times; FALSE for a handle that is not an open file.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    if (!information) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto object = ObjectOf(file);
    if (!object)
        return FALSE;
    BY_HANDLE_FILE_INFORMATION found{};
    if (!object->Information(found))
        return FALSE;
    *information = found;
    return TRUE;
}

// Kernel objects behind HANDLE values: the object interface that ReadFile, WriteFile,
// FlushFileBuffers, GetFileSize and GetFileInformationByHandle dispatch to, and their place in the
// platform's object table.
#pragma once

#include "platform/kernel/object_table.h"
#include "platform/win32.h"

#include <memory>

namespace platform::kernel {

// An open file or pipe end. Each operation sets the last error itself when it fails.
class KernelObject {
public:
    static constexpr ObjectKind kObjectKind = ObjectKind::KernelObject;

    virtual ~KernelObject() = default;

    virtual BOOL Read(void* buffer, DWORD bytesToRead, DWORD& bytesRead) = 0;
    virtual BOOL Write(const void* buffer, DWORD bytesToWrite, DWORD& bytesWritten) = 0;
    virtual BOOL Flush() = 0;
    // The object's size in bytes; false (with the last error set) when it has none.
    virtual bool Size(ULONGLONG& size) = 0;
    // The file's volume, index, size, link count and times; false (with the last error set) when
    // the object is not a file.
    virtual bool Information(BY_HANDLE_FILE_INFORMATION& information) = 0;
    // The file's times (the change time included) and attributes; false (with the last error set)
    // when the object is not a file.
    virtual bool BasicInformation(FILE_BASIC_INFO& information) = 0;
};

// Puts an object into the handle table and returns its new handle (never null or -1).
HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null for anything that is not a live handle.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Takes a handle out of the table; the object lives on while an operation still holds it.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// The Windows error code that stands for a Linux errno value.
DWORD ErrorFromErrno(int error);
// Sets the last error from an errno value.
void SetLastErrorFromErrno(int error);

} // namespace platform::kernel

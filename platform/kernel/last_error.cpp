// The calling thread's last error and the errno to Windows error mapping.
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
} // namespace

// Returns the calling thread's last error code.
DWORD GetLastError()
{
    return lastError;
}

// Sets the calling thread's last error code.
void SetLastError(DWORD error)
{
    lastError = error;
}

namespace platform::kernel {

// The Windows error code that stands for a Linux errno value.
DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case ECONNREFUSED:
        return ERROR_FILE_NOT_FOUND;
    case ENOTCONN:
        return ERROR_PIPE_NOT_CONNECTED;
    case EMSGSIZE:
        return ERROR_NOT_ENOUGH_QUOTA;
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Sets the last error from an errno value.
void SetLastErrorFromErrno(int error)
{
    SetLastError(ErrorFromErrno(error));
}

} // namespace platform::kernel

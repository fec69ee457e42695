// The shell's folder lookup and directory creation.
#include "platform/shell/shell.h"

#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace {

constexpr DWORD SHGFP_TYPE_DEFAULT = 1;

bool IsDirectory(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Makes one folder; true when it was made or is there already as a folder. errno on failure.
bool MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    const int error = errno;
    if (error == EEXIST && IsDirectory(path))
        return true;
    errno = error == EEXIST ? ENOTDIR : error;
    return false;
}

// The Windows error for a folder that could not be made.
int FolderError(int error)
{
    return static_cast<int>(error == ENOENT ? ERROR_PATH_NOT_FOUND : platform::kernel::ErrorFromErrno(error));
}

} // namespace

// Writes a known folder into path (MAX_PATH units). CSIDL_COMMON_APPDATA is <root>/var/lib.
HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD flags, LPWSTR path)
{
    if (!path || folder != CSIDL_COMMON_APPDATA || (flags != SHGFP_TYPE_CURRENT && flags != SHGFP_TYPE_DEFAULT))
        return E_INVALIDARG;
    std::string root = platform::RootFolder();
    if (root == "/")
        root.clear();
    std::u16string text;
    if (!platform::Utf8ToUtf16(root + "/var/lib", text))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    if (text.size() + 1 > MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    std::copy(text.begin(), text.end(), path);
    path[text.size()] = u'\0';
    return S_OK;
}

// Creates a folder with all its missing parents.
int SHCreateDirectory(HWND, LPCWSTR path)
{
    if (!path || !*path) {
        SetLastError(ERROR_BAD_PATHNAME);
        return static_cast<int>(ERROR_BAD_PATHNAME);
    }
    const std::u16string_view text(path);
    std::string native = platform::NativePath(text);
    // Only full paths: a relative one would make folders wherever the process happens to be.
    if (!platform::kernel::IsWellFormedUtf16(text) || native.empty() || native.front() != '/') {
        SetLastError(ERROR_BAD_PATHNAME);
        return static_cast<int>(ERROR_BAD_PATHNAME);
    }
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();

    struct stat status {};
    if (::stat(native.c_str(), &status) == 0) {
        const DWORD error = S_ISDIR(status.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
        SetLastError(error);
        return static_cast<int>(error);
    }
    // Each folder along the way, parents first; one made meanwhile by someone else is fine.
    for (std::size_t slash = native.find('/', 1);; slash = native.find('/', slash + 1)) {
        const std::string part = native.substr(0, slash);
        if (!part.empty() && part.back() != '/' && !MakeFolder(part)) {
            const int error = FolderError(errno);
            SetLastError(static_cast<DWORD>(error));
            return error;
        }
        if (slash == std::string::npos)
            break;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(ERROR_SUCCESS);
}

// The shell's folder lookup and directory creation.
#include "platform/shell/shell.h"

#include "platform/kernel/file_modes.h"
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
    std::u16string text;
    if (!platform::Utf8ToUtf16(platform::CommonAppDataFolder(), text))
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
        // A private folder made earlier under a wider mode is its owner's alone from now on.
        if (error == ERROR_ALREADY_EXISTS)
            platform::TightenPrivateFolder(native);
        SetLastError(error);
        return static_cast<int>(error);
    }
    // Each folder along the way, parents first, with the mode of its place; one made meanwhile by
    // someone else is fine.
    if (!platform::MakeFolders(native)) {
        const int error = FolderError(errno);
        SetLastError(static_cast<DWORD>(error));
        return error;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(ERROR_SUCCESS);
}

// The shell's folder lookup and directory creation.
#pragma once

#include "platform/win32.h"

constexpr int CSIDL_COMMON_APPDATA = 0x23;
constexpr DWORD SHGFP_TYPE_CURRENT = 0;

// Writes a known folder into path (MAX_PATH units). CSIDL_COMMON_APPDATA is <root>/var/lib.
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

// Creates a folder with all its missing parents (shell32 ordinal 165). Returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS when the folder was there, or another Windows error code.
int SHCreateDirectory(HWND owner, LPCWSTR path);

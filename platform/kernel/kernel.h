// The Windows kernel interfaces the tool calls: last error, files and named pipes,
// temporary file names, dynamic libraries, global memory and code-page conversion.
#pragma once

#include "platform/win32.h"

// Access, sharing and creation values of CreateFileW.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// Named pipe modes and waits.
constexpr DWORD PIPE_READMODE_BYTE = 0x0;
constexpr DWORD PIPE_READMODE_MESSAGE = 0x2;
constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x0;
constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFFu;

// Code pages.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// Global memory flags.
constexpr UINT GMEM_FIXED = 0x0;
constexpr UINT GMEM_MOVEABLE = 0x2;
constexpr UINT GMEM_ZEROINIT = 0x40;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// Returns the calling thread's last error code.
DWORD GetLastError();
// Sets the calling thread's last error code.
void SetLastError(DWORD error);

// Opens a file (UTF-16 path) or, for \\.\pipe\NAME, connects to a named pipe as a client.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Reads from a file or pipe; a message longer than the buffer fails with ERROR_MORE_DATA.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
// Writes to a file, or one message to a pipe.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
// Flushes a file's or pipe's buffers.
BOOL FlushFileBuffers(HANDLE file);
// Closes any handle made by this module.
BOOL CloseHandle(HANDLE object);
// Returns the low 32 bits of a file's size (the high part through highSize), or INVALID_FILE_SIZE.
DWORD GetFileSize(HANDLE file, LPDWORD highSize);
// Fills in what identifies an open file (volume serial number and file index), its size, link
// count, attributes and times; FALSE for a handle that is not an open file.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
// Fills in a file's times and attributes (FileBasicInfo, into a FILE_BASIC_INFO of `size` bytes):
// its change time moves with every change to the file, its content's or its own, and unlike the time
// of the last write no writer can set it back. FALSE for another class, a short buffer or a handle
// that is not an open file.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information, DWORD size);

// Waits until an instance of the named pipe can take a connection, or the timeout passes.
BOOL WaitNamedPipeW(LPCWSTR pipeName, DWORD timeoutMs);
// Sets the read mode of a pipe client handle (byte or message).
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout);

// Creates a new empty file with a unique name in a folder; returns 0 on failure.
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefixString, UINT unique, LPWSTR tempFileName);

// Loads a library; a bare NAME.dll is searched beside the executable first, then in the plug-in folder.
HMODULE LoadLibraryW(LPCWSTR fileName);
// Looks up an exported function by name.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Releases a library loaded by LoadLibraryW.
BOOL FreeLibrary(HMODULE module);

// Converts 8-bit text to UTF-16 (CP_UTF8 is strict; CP_ACP is ISO 8859-1).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByteStr, int multiByteCount, LPWSTR wideCharStr,
                        int wideCharCount);

// Allocates global memory: GMEM_FIXED gives a pointer, GMEM_MOVEABLE a handle to lock.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Resizes a global memory block.
HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags);
// Locks a global memory block; null for anything that is not a live global block.
LPVOID GlobalLock(HGLOBAL memory);
// Unlocks a global memory block; FALSE once its lock count reaches zero.
BOOL GlobalUnlock(HGLOBAL memory);
// Returns the size of a global memory block, 0 for anything else.
SIZE_T GlobalSize(HGLOBAL memory);
// Frees a global memory block; returns null on success, the handle itself on failure.
HGLOBAL GlobalFree(HGLOBAL memory);

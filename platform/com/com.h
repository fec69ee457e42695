// COM: per-thread apartments, IStream over global memory, and BSTR text.
#pragma once

#include "platform/win32.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;

struct STATSTG {
    LPWSTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

extern const IID IID_IUnknown;
extern const IID IID_ISequentialStream;
extern const IID IID_IStream;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* buffer, ULONG bytes, ULONG* bytesRead) = 0;
    virtual HRESULT Write(const void* buffer, ULONG bytes, ULONG* bytesWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER newSize) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* bytesRead,
                           ULARGE_INTEGER* bytesWritten)
        = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD statFlag) = 0;
    virtual HRESULT Clone(IStream** stream) = 0;

protected:
    ~IStream() = default;
};

// Enters the calling thread into an apartment; RPC_E_CHANGED_MODE when it already lives in the
// other kind; S_FALSE when it is already in this kind (each success needs one CoUninitialize).
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
// Leaves one level of the calling thread's apartment.
void CoUninitialize();

// Makes a stream over a global memory block (a new one when memory is null).
HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream);
// Gives the global memory block behind a stream made by CreateStreamOnHGlobal.
HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* memory);

// BSTR: length-prefixed UTF-16 text.
using BSTR = WCHAR*;
// Allocates a BSTR copy of zero-terminated text (null for null input).
BSTR SysAllocString(const WCHAR* text);
// Frees a BSTR; null is allowed.
void SysFreeString(BSTR text);
// Length of a BSTR in code units (0 for null).
UINT SysStringLen(BSTR text);

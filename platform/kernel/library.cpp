// Dynamic libraries: LoadLibraryW, GetProcAddress and FreeLibrary over dlopen, dlsym, dlclose.
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/text.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// Modules loaded through LoadLibraryW, one entry per successful load, so that FreeLibrary and
// GetProcAddress of anything else fail cleanly instead of handing garbage to the loader.
struct LoadedModules {
    std::mutex mutex;
    std::multiset<void*> handles;
};

LoadedModules& Modules()
{
    static LoadedModules modules;
    return modules;
}

bool IsLoaded(void* handle)
{
    LoadedModules& modules = Modules();
    std::lock_guard lock(modules.mutex);
    return modules.handles.count(handle) > 0;
}

bool EndsWithDll(const std::string& name)
{
    if (name.size() < 4)
        return false;
    return platform::kernel::EqualFoldingAscii(std::string_view(name).substr(name.size() - 4),
                                               std::string_view(".dll"));
}

// The Linux file name of a library name: NAME.dll is NAME.so, and a name without any
// extension gets one, as Windows adds ".dll".
std::string SharedObjectName(std::string name)
{
    if (EndsWithDll(name))
        return name.substr(0, name.size() - 4) + ".so";
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + ".so";
    return name;
}

// The entry of folder whose name equals name in any ASCII case, as Windows names match; empty
// when there is none. An exact match is taken without reading the folder.
std::string FindInFolder(const std::string& folder, const std::string& name)
{
    const std::string exact = folder + "/" + name;
    if (::access(exact.c_str(), F_OK) == 0)
        return exact;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string entryName = entry.path().filename().string();
        if (platform::kernel::EqualFoldingAscii(std::string_view(entryName), std::string_view(name)))
            return entry.path().string();
    }
    return {};
}

// The file that a library name stands for: a name with a folder is that file; a bare name is
// looked for beside the executable first, then in the installed plug-in folder. Empty when a
// bare name is in neither.
std::string LibraryFile(std::u16string_view fileName)
{
    const std::string native = platform::NativePath(fileName);
    if (native.find('/') != std::string::npos)
        return SharedObjectName(native);
    const std::string name = SharedObjectName(native);
    for (const std::string& folder : {platform::ExecutableFolder(), std::string(QUILLON_PLUGIN_DIR)}) {
        if (folder.empty())
            continue;
        std::string found = FindInFolder(folder, name);
        if (!found.empty())
            return found;
    }
    return {};
}

// Tells the administrator why a library that is there could not be loaded: the loader's own text
// names what is missing (a library it needs, a symbol, a wrong architecture), which the Windows
// error code cannot carry.
void ReportLoadFailure(std::u16string_view name, const std::string& file, const char* reason)
{
    std::fprintf(stderr, "LoadLibraryW(\"%s\") cannot load %s: %s\n", platform::Utf16ToUtf8(name).c_str(), file.c_str(),
                 reason != nullptr ? reason : "the loader gave no reason");
    std::fflush(stderr);
}

} // namespace

// Loads a library; a bare NAME.dll is searched beside the executable first, then in the plug-in folder.
HMODULE LoadLibraryW(LPCWSTR fileName)
{
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::u16string_view name(fileName);
    if (name.empty() || !platform::kernel::IsWellFormedUtf16(name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // A library that is not there is the caller's ordinary "not found"; only one that is there and
    // still cannot be loaded is worth a word to the administrator.
    const std::string file = LibraryFile(name);
    if (file.empty() || ::access(file.c_str(), F_OK) != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        // The caller sees the Windows code; the reason goes to standard error.
        ReportLoadFailure(name, file, ::dlerror());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    try {
        LoadedModules& modules = Modules();
        std::lock_guard lock(modules.mutex);
        modules.handles.insert(handle);
    } catch (const std::bad_alloc&) {
        ::dlclose(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

// Looks up an exported function by name.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (!module || !IsLoaded(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Exports are found by name only: an ordinal (a "name" below 0x10000) names nothing here.
    if (!procName || reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    ::dlerror();
    void* symbol = ::dlsym(module, procName);
    if (!symbol) {
        ::dlerror();
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

// Releases a library loaded by LoadLibraryW.
BOOL FreeLibrary(HMODULE module)
{
    {
        LoadedModules& modules = Modules();
        std::lock_guard lock(modules.mutex);
        const auto found = module ? modules.handles.find(module) : modules.handles.end();
        if (found == modules.handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        modules.handles.erase(found);
    }
    if (::dlclose(module) != 0) {
        ::dlerror();
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

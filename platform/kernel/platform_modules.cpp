#include "platform/kernel/platform_modules.h"

#include "platform/kernel/report_once.h"

#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>

namespace platform {
namespace {

// The folder this library was loaded from, as the dynamic loader names it.
std::string PlatformFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&PlatformModuleEntry), &info) == 0 || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

void* PlatformModuleEntry(const char* fileName, const char* entry)
{
    if (!fileName || !entry)
        return nullptr;
    static std::mutex mutex;
    static std::map<std::string, void*> modules; // never unloaded: their objects live in the process
    std::lock_guard lock(mutex);
    auto [found, added] = modules.try_emplace(fileName, nullptr);
    if (added) {
        const std::string path = PlatformFolder() + "/" + fileName;
        found->second = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!found->second) {
            const char* reason = ::dlerror();
            kernel::ReportOnce(std::string("the platform library ") + path
                               + " cannot be loaded: " + (reason ? reason : "unknown reason"));
        }
    }
    if (!found->second)
        return nullptr;
    void* address = ::dlsym(found->second, entry);
    if (!address)
        kernel::ReportOnce(std::string("the platform library ") + fileName + " has no entry " + entry);
    return address;
}

} // namespace platform

#include "platform/kernel/platform_modules.h"
#include "platform/spooler/cups_source.h"

namespace platform::spooler {

const CupsSource* Cups()
{
    static const CupsSource* const source = [] {
        using Entry = const CupsSource* (*)();
        void* entry = PlatformModuleEntry("libquillon_cups.so", "QuillonCupsSource");
        return entry ? reinterpret_cast<Entry>(entry)() : nullptr;
    }();
    return source;
}

} // namespace platform::spooler

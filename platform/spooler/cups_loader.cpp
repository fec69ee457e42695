#include "platform/kernel/platform_modules.h"
#include "platform/spooler/cups_source.h"

namespace platform::spooler {

const CupsSource* Cups()
{
    static const CupsSource* const source = PlatformModuleTable<CupsSource>("libquillon_cups.so", "QuillonCupsSource");
    return source;
}

} // namespace platform::spooler

#include "tests/print/failing_dc.h"

#include "platform/gdi/gdi.h"
#include "platform/kernel/kernel.h"

#include <dlfcn.h>

#include <cstdlib>

namespace print_test {
namespace {

int callsLeft = -1;

} // namespace

void FailDeviceContextsAfter(int calls)
{
    callsLeft = calls;
}

} // namespace print_test

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* initData)
{
    using Create = HDC (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*);
    // The platform library's own CreateDCW, by its C++ name.
    static const auto platformCreate = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "_Z9CreateDCWPKDsS0_S0_PK8DEVMODEW"));
    if (!platformCreate)
        std::abort();
    if (print_test::callsLeft == 0) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (print_test::callsLeft > 0)
        --print_test::callsLeft;
    return platformCreate(driver, device, output, initData);
}

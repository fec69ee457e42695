// The platform library's GDI and GDI+ calls: each loads the drawing library on its first use and
// forwards to it. Without the drawing library (a damaged installation, said once on standard
// error) every call fails the way the call itself fails, the last error ERROR_MOD_NOT_FOUND.
#include "platform/drawing/drawing_calls.h"

#include "platform/kernel/kernel.h"
#include "platform/kernel/platform_modules.h"

namespace platform::gdi {
namespace {

// The drawing library's table of calls; null, with the last error set, when it cannot be loaded.
const DrawingCalls* Drawing()
{
    static const DrawingCalls* const calls = PlatformModuleTable<DrawingCalls>(kDrawingLibrary, kDrawingCallsEntry);
    if (!calls)
        ::SetLastError(ERROR_MOD_NOT_FOUND);
    return calls;
}

} // namespace
} // namespace platform::gdi

#define QUILLON_FORWARD_DRAWING_CALL(type, name, params, args, failure)                                                \
    type name params                                                                                                   \
    {                                                                                                                  \
        const platform::gdi::DrawingCalls* calls = platform::gdi::Drawing();                                           \
        return calls ? calls->name args : failure;                                                                     \
    }

QUILLON_GDI_CALLS(QUILLON_FORWARD_DRAWING_CALL)

namespace Gdiplus {

QUILLON_GDIPLUS_CALLS(QUILLON_FORWARD_DRAWING_CALL)

namespace DllExports {
extern "C" {
QUILLON_GDIPLUS_FLAT_CALLS(QUILLON_FORWARD_DRAWING_CALL)
} // extern "C"
} // namespace DllExports
} // namespace Gdiplus

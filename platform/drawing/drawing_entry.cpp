// The drawing library's one entry: the table of its GDI and GDI+ calls, which the platform
// library's stand-ins forward to. The library is linked with -Bsymbolic-functions, so these
// addresses are its own calls, never the platform library's stand-ins of the same names.
#include "platform/drawing/drawing_calls.h"

#define QUILLON_GDI_CALL_ADDRESS(type, name, params, args, failure) &::name,
#define QUILLON_GDIPLUS_CALL_ADDRESS(type, name, params, args, failure) &::Gdiplus::name,
#define QUILLON_GDIPLUS_FLAT_CALL_ADDRESS(type, name, params, args, failure) &::Gdiplus::DllExports::name,

extern "C" __attribute__((visibility("default"))) const platform::gdi::DrawingCalls* QuillonDrawingCalls()
{
    static constexpr platform::gdi::DrawingCalls calls{
        QUILLON_GDI_CALLS(QUILLON_GDI_CALL_ADDRESS) QUILLON_GDIPLUS_CALLS(QUILLON_GDIPLUS_CALL_ADDRESS)
            QUILLON_GDIPLUS_FLAT_CALLS(QUILLON_GDIPLUS_FLAT_CALL_ADDRESS)};
    return &calls;
}

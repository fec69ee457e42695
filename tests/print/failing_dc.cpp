#include "tests/print/failing_dc.h"

#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/kernel.h"

#include <dlfcn.h>

#include <cstdlib>

namespace print_test {
namespace {

int callsLeft = -1;
std::string failingCall;

// The platform library's own function of this (C++ or C) symbol name.
template <typename Function>
Function PlatformFunction(const char* symbol)
{
    const auto function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
    if (!function)
        std::abort();
    return function;
}

// Whether this call is the one asked to fail; it fails once.
bool Fails(const char* name)
{
    if (failingCall != name)
        return false;
    failingCall.clear();
    return true;
}

// A job call of a printer whose disk is full.
int FullDisk()
{
    SetLastError(ERROR_DISK_FULL);
    return SP_OUTOFDISK;
}

} // namespace

void FailDeviceContextsAfter(int calls)
{
    callsLeft = calls;
}

void FailNextCall(const std::string& name)
{
    failingCall = name;
}

} // namespace print_test

using print_test::Fails;
using print_test::PlatformFunction;

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR output, const DEVMODEW* initData)
{
    static const auto platformCreate
        = PlatformFunction<HDC (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*)>("_Z9CreateDCWPKDsS0_S0_PK8DEVMODEW");
    if (print_test::callsLeft == 0) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (print_test::callsLeft > 0)
        --print_test::callsLeft;
    return platformCreate(driver, device, output, initData);
}

int StartPage(HDC dc)
{
    static const auto platformStartPage = PlatformFunction<int (*)(HDC)>("_Z9StartPageP5HDC__");
    return Fails("StartPage") ? print_test::FullDisk() : platformStartPage(dc);
}

int EndPage(HDC dc)
{
    static const auto platformEndPage = PlatformFunction<int (*)(HDC)>("_Z7EndPageP5HDC__");
    return Fails("EndPage") ? print_test::FullDisk() : platformEndPage(dc);
}

int EndDoc(HDC dc)
{
    static const auto platformEndDoc = PlatformFunction<int (*)(HDC)>("_Z6EndDocP5HDC__");
    return Fails("EndDoc") ? print_test::FullDisk() : platformEndDoc(dc);
}

namespace Gdiplus::DllExports {

GpStatus GdipDrawImageRectRect(GpGraphics* graphics, GpImage* image, REAL dstx, REAL dsty, REAL dstwidth,
                               REAL dstheight, REAL srcx, REAL srcy, REAL srcwidth, REAL srcheight, GpUnit srcUnit,
                               const GpImageAttributes* imageAttributes, DrawImageAbort callback, void* callbackData)
{
    using Draw = decltype(&GdipDrawImageRectRect);
    static const auto platformDraw = PlatformFunction<Draw>("GdipDrawImageRectRect");
    if (Fails("GdipDrawImageRectRect"))
        return Win32Error;
    return platformDraw(graphics, image, dstx, dsty, dstwidth, dstheight, srcx, srcy, srcwidth, srcheight, srcUnit,
                        imageAttributes, callback, callbackData);
}

} // namespace Gdiplus::DllExports

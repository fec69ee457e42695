// Makes GDI and GDI+ calls and prints what each answered with the last error it left, one line a
// call, for a test that runs it beside a platform library whose drawing library is missing.
#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/kernel.h"

#include <cstdio>

int main()
{
    SetLastError(0);
    const HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    std::printf("CreateSolidBrush %s %u\n", brush ? "made" : "null", static_cast<unsigned>(GetLastError()));
    // A later call finds the library missing too, not only the first one that tried to load it.
    SetLastError(0);
    const HDC dc = CreateCompatibleDC(nullptr);
    std::printf("CreateCompatibleDC %s %u\n", dc ? "made" : "null", static_cast<unsigned>(GetLastError()));
    SetLastError(0);
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    const Gdiplus::Status status = Gdiplus::GdiplusStartup(&token, &input, nullptr);
    std::printf("GdiplusStartup %d %u\n", static_cast<int>(status), static_cast<unsigned>(GetLastError()));
    return 0;
}

// A picture job's file: the input is the file's bytes (JPEG, PNG, BMP, TIFF or GIF, told apart by
// their signatures as the tool's picture path does). It is loaded with GdipCreateBitmapFromFile and
// drawn onto a printer's page, an inch wide, and the job thrown away; the pixels of a small picture
// are also locked whole.
#include "fuzz/fuzz_support.h"
#include "platform/gdi/gdi.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/kernel/host.h"

#include <cstdlib>
#include <string>

namespace {

// Pictures of up to this many pixels are also locked whole: locking makes every pixel, whereas
// drawing makes only as many as the page shows.
constexpr unsigned kMaxLockedPixels = 256 * 256;

std::string g_pictureFile;
std::u16string g_picturePath;

void DrawOnPrinterPage(Gdiplus::GpBitmap* picture, UINT width, UINT height)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    fuzz::PrintAndThrowAway(u"Quillon Photo", [&](HDC printer) {
        StartPage(printer);
        GpGraphics* graphics = nullptr;
        if (GdipCreateFromHDC2(printer, nullptr, &graphics) == Ok) {
            GdipRotateWorldTransform(graphics, -90.0f, MatrixOrderPrepend);
            GdipDrawImageRectRect(graphics, picture, -100.0f, 0.0f, 100.0f, 150.0f, 0.0f, 0.0f,
                                  static_cast<REAL>(width), static_cast<REAL>(height), UnitPixel, nullptr, nullptr,
                                  nullptr);
            GdipDeleteGraphics(graphics);
        }
        EndPage(printer);
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& root = fuzz::UsePrivateRoot();
    fuzz::SilenceConsole();
    g_pictureFile = root + "/picture";
    g_picturePath = std::u16string(g_pictureFile.begin(), g_pictureFile.end());
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    if (!fuzz::WriteFile(g_pictureFile, {data, size}))
        std::abort();
    GpBitmap* picture = nullptr;
    if (GdipCreateBitmapFromFile(g_picturePath.c_str(), &picture) != Ok)
        return 0;
    UINT width = 0;
    UINT height = 0;
    GdipGetImageWidth(picture, &width);
    GdipGetImageHeight(picture, &height);
    if (std::uint64_t{width} * height <= kMaxLockedPixels) {
        const GpRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
        BitmapData pixels{};
        if (GdipBitmapLockBits(picture, &whole, ImageLockModeRead, PixelFormat32bppARGB, &pixels) == Ok)
            GdipBitmapUnlockBits(picture, &pixels);
    }
    DrawOnPrinterPage(picture, width, height);
    GdipDisposeImage(picture);
    return 0;
}

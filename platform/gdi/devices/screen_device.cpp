#include "platform/gdi/devices/devices.h"

namespace platform::gdi {
namespace {

constexpr int kScreenDpi = 96;
// A size whose millimetres are whole at 96 dpi (1920 px = 20 in = 508 mm, 1440 px = 381 mm), so
// metafile frames convert back to the same pixels.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1440;
constexpr int kScreenWidthMm = 508;
constexpr int kScreenHeightMm = 381;
constexpr int kScreenBitsPerPixel = 32;

class ScreenDevice final : public DeviceBackend {
public:
    int Caps(int index) const override
    {
        switch (index) {
        case TECHNOLOGY:
            return DT_RASDISPLAY;
        case HORZSIZE:
            return kScreenWidthMm;
        case VERTSIZE:
            return kScreenHeightMm;
        case HORZRES:
            return kScreenWidth;
        case VERTRES:
            return kScreenHeight;
        case BITSPIXEL:
            return kScreenBitsPerPixel;
        case PLANES:
            return 1;
        case NUMCOLORS:
            return -1;
        case RASTERCAPS:
            return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_STRETCHBLT | RC_STRETCHDIB;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kScreenDpi;
        default:
            return 0;
        }
    }

    bool Paint(const PicturePlacement&) override { return true; }
};

} // namespace

std::unique_ptr<DeviceBackend> MakeScreenDevice()
{
    return std::make_unique<ScreenDevice>();
}

} // namespace platform::gdi

// The device behind a memory device context (CreateCompatibleDC): a bitmap selected into it, to
// be the source of AlphaBlend. It answers as the device it is compatible with, and draws nothing:
// drawing onto it is refused.
#include "platform/gdi/devices.h"

#include "platform/kernel/kernel.h"

#include <utility>
#include <vector>

namespace platform::gdi {
namespace {

// The capabilities a memory context answers as the device it was made compatible with.
constexpr int kCompatibleCaps[]
    = {TECHNOLOGY, HORZSIZE,   VERTSIZE,   HORZRES,       VERTRES,        BITSPIXEL,       PLANES,         NUMCOLORS,
       RASTERCAPS, LOGPIXELSX, LOGPIXELSY, PHYSICALWIDTH, PHYSICALHEIGHT, PHYSICALOFFSETX, PHYSICALOFFSETY};

class MemoryDevice final : public DeviceBackend {
public:
    explicit MemoryDevice(const DeviceBackend& reference)
    {
        for (int index : kCompatibleCaps)
            caps_.emplace_back(index, reference.Caps(index));
    }

    int Caps(int index) const override
    {
        for (const auto& [known, value] : caps_) {
            if (known == index)
                return value;
        }
        return 0;
    }

    bool Paint(const PicturePlacement&) override { return Refuse(); }
    bool DrawPath(const PathDrawing&) override { return Refuse(); }
    bool DrawGlyphs(const GlyphRun&) override { return Refuse(); }

private:
    static bool Refuse()
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }

    std::vector<std::pair<int, int>> caps_;
};

} // namespace

std::unique_ptr<DeviceBackend> MakeMemoryDevice(const DeviceBackend& reference)
{
    return std::make_unique<MemoryDevice>(reference);
}

} // namespace platform::gdi

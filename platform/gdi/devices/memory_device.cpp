// The device behind a memory device context (CreateCompatibleDC): a bitmap selected into it, to
// be the source of AlphaBlend. It answers as the device it is compatible with, and draws nothing:
// drawing onto it is refused.
#include "platform/gdi/devices/devices.h"

#include "platform/kernel/kernel.h"

namespace platform::gdi {
namespace {

class MemoryDevice final : public DeviceBackend {
public:
    explicit MemoryDevice(const DeviceBackend& reference) : caps_(reference) {}

    int Caps(int index) const override { return caps_(index); }

    bool Paint(const PicturePlacement&) override { return Refuse(); }
    bool DrawPath(const PathDrawing&) override { return Refuse(); }
    bool DrawGlyphs(const GlyphRun&) override { return Refuse(); }
    bool DrawGradient(const GradientDrawing&) override { return Refuse(); }

private:
    static bool Refuse()
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }

    CopiedCaps caps_;
};

} // namespace

std::unique_ptr<DeviceBackend> MakeMemoryDevice(const DeviceBackend& reference)
{
    return std::make_unique<MemoryDevice>(reference);
}

} // namespace platform::gdi

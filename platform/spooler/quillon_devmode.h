// The driver-private part of a Quillon virtual printer's device mode: the dmDriverExtra bytes that
// follow the 220-byte public part. It carries what the public part cannot say: the printable margins
// of the selected sheet, so that a device context or a Print Schema provider can work out the
// imageable area of the job's sheet (custom sizes included) from the device mode alone.
#pragma once

#include "platform/spooler/spooler.h"

#include <cstddef>
#include <cstring>
#include <optional>

namespace platform {

// "QLDM" as its bytes appear in memory on this little-endian platform.
constexpr DWORD kQuillonDevModeSignature = 0x4D444C51u;
constexpr DWORD kQuillonDevModeVersion = 1;

// Margins are in micrometres and describe the sheet as the printer lists it (portrait form):
// left and right run along dmPaperWidth, top and bottom along dmPaperLength. A device context in
// landscape turns them with the sheet.
struct QuillonDevModeExtra {
    DWORD signature = kQuillonDevModeSignature;
    DWORD version = kQuillonDevModeVersion;
    LONG marginLeft = 0;
    LONG marginTop = 0;
    LONG marginRight = 0;
    LONG marginBottom = 0;
};
static_assert(sizeof(QuillonDevModeExtra) == 24, "the private part is part of the device mode's stored form");

// The private part of a device mode when it is ours: dmDriverExtra of exactly our size, our
// signature and version. The caller vouches that dmSize + dmDriverExtra bytes are readable.
inline std::optional<QuillonDevModeExtra> ReadQuillonDevModeExtra(const DEVMODEW& devMode)
{
    if (devMode.dmDriverExtra != sizeof(QuillonDevModeExtra) || devMode.dmSize < sizeof(DEVMODEW))
        return std::nullopt;
    QuillonDevModeExtra extra;
    // The public part may come from a newer writer with a larger dmSize; the private part follows it.
    std::memcpy(&extra, reinterpret_cast<const BYTE*>(&devMode) + devMode.dmSize, sizeof extra);
    if (extra.signature != kQuillonDevModeSignature || extra.version != kQuillonDevModeVersion)
        return std::nullopt;
    return extra;
}

} // namespace platform

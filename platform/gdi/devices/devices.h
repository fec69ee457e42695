// The devices a device context can stand on besides a metafile recording.
#pragma once

#include "platform/gdi/context/device_context.h"
#include "platform/spooler/devmode.h"

#include <memory>

namespace platform::gdi {

// The screen: 96 dots per inch, 1920 x 1440 pixels (508 x 381 mm). There is no display to show
// pictures on, so they are checked and let go.
std::unique_ptr<DeviceBackend> MakeScreenDevice();

// A memory device compatible with `reference`: it holds a bitmap for AlphaBlend and refuses to be
// drawn on (ERROR_NOT_SUPPORTED).
std::unique_ptr<DeviceBackend> MakeMemoryDevice(const DeviceBackend& reference);

// A printer of the registry set up by a whole device mode: it draws each document into a PDF that
// its job sink hands to the printer at EndDoc.
std::unique_ptr<DeviceBackend> MakePrinterDevice(const PrinterDefinition& printer, const spooler::FullDevMode& devMode);

} // namespace platform::gdi

// Playing metafile records onto a device context.
#pragma once

#include "platform/gdi/context/device_context.h"

#include <span>

namespace platform::gdi {

// Plays one record: the state records relative to the context's playback base, every drawing
// record as its call, objects made into and taken from `table` (the enumeration's handle table;
// entry 0 stands for the metafile). Every offset, size and count inside the record is checked
// against its nSize before it is read; a record that fails them is not played (false). Records
// of types this player does not know are skipped as played.
bool PlayRecord(DeviceContext& dc, std::span<HGDIOBJ> table, const ENHMETARECORD& record);

// The transform that maps a metafile's picture frame onto `rect` (the target's logical units).
// A frame that is the metafile's own bounds in 0.01 mm (as a recording without a given frame
// writes it) maps through those bounds exactly, so a rectangle equal to the bounds is the identity.
Affine FrameToRect(const ENHMETAHEADER& header, const RECT& rect);

} // namespace platform::gdi

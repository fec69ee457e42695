// Draws a page in a child process, so that a document that makes the PDF library abort or crash
// fails its page instead of ending the program that prints it. Poppler aborts the process on some
// allocations it finds bogus (an image declaring 10^9 × 10^9 pixels, for one).
#pragma once

#include "plugins/pdf/band_renderer.h"

#include <functional>

namespace pdf {

// Runs renderer.Render in a forked child whose band buffer is memory shared with this process,
// and hands each band to `sink` here, in order, while the child waits. The child only draws: the
// band's place is worked out here, never taken from the child. False when the child fails, dies
// or is killed, or when `sink` refuses a band; the child is reaped before this returns.
bool RenderInChildProcess(const BandRenderer& renderer, const std::function<bool(const Band&)>& sink);

} // namespace pdf

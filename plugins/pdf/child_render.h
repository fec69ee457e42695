// Draws a page in a child process, so that a document that makes the PDF library abort, crash,
// loop or swell fails its page instead of ending or stalling the program that prints it. Poppler
// aborts the process on some allocations it finds bogus (an image declaring 10^9 × 10^9 pixels,
// for one). The child has a cap on its address space and its processor time.
#pragma once

#include "plugins/pdf/band_renderer.h"
#include "plugins/pdf/document.h"
#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/page_placement.h"

#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <string>

namespace pdf {

// Processor seconds a drawing child may use before it is stopped, and the address space it may take
// beyond what it inherits.
constexpr unsigned kChildSeconds = 60;
constexpr std::uint64_t kChildAddressSpace = std::uint64_t{2} << 30;

// Bytes a child handed over, mapped read-only; unmapped when it goes.
class ChildBytes final {
public:
    ChildBytes() = default;
    ~ChildBytes();
    ChildBytes(const ChildBytes&) = delete;
    ChildBytes& operator=(const ChildBytes&) = delete;

    std::span<const BYTE> Bytes() const { return {static_cast<const BYTE*>(address_), size_}; }
    // Maps the whole of `descriptor`, at most `limit` bytes; false when it is larger or cannot be mapped.
    bool Map(int descriptor, std::size_t limit);

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

// How a child answered for a page.
enum class ChildAnswer {
    Vectors, // drawn as GDI calls: the transfer (see page_transfer.h) is in the bytes
    Picture, // within the limits, but only a picture can show it
    Failed,  // past a limit, or the child failed, died or was stopped
};

// In a forked child: counts the page, and when it can go as GDI calls draws it (placed in bounds
// whose corner is (left, top)) into a metafile recorded in memory, and hands the metafile and the
// font programs it registered (beyond `knownFaces`) back in `bytes`. A page that failed at a limit
// names it in `passed`.
ChildAnswer DrawVectorsInChild(const Page& page, const PagePlacement& placement, int left, int top,
                               const RenderOptions& options, const std::set<std::u16string>& knownFaces,
                               const PageLimits& limits, ChildBytes& bytes, PageLimit* passed = nullptr);

// In a forked child whose band buffer is memory shared with this process: records the page, then
// draws the bands `take` asks for. `take` gets each band here (its first row, its rows, its pixels)
// and answers the first row of the next band, renderer.Height() when done, or -1 to stop. True when
// the page was drawn to its end; the child is reaped before this returns.
bool DrawPictureInChild(BandRenderer& renderer,
                        const std::function<int(int first, int rows, const BYTE* pixels)>& take);

} // namespace pdf

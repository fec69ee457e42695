// The PDF page renderer, loaded by the tool as "pdf.dll" (pdf.so beside it). It exports two entry
// points with C linkage, and a third that tells what there is to know about the page drawn last;
// on x86-64 Linux there is one C calling convention, in which the caller removes the arguments.
//
// Truth values at this boundary are `bool`: one byte holding 0 or 1, the same type as C's `_Bool`
// in the System V ABI, so a C caller including <stdbool.h> agrees with a C++ caller. They are not
// the 4-byte `BOOL`: both entry points answer `bool` and take `bool` options, and a caller and a
// renderer that disagreed on the width would read undefined upper bits of the result register.
// Tool and renderer include this one header, so the two sides cannot drift apart.
//
// GetPDFDocInfo(data, size, pageCount, reserved)
//   True when the `size` bytes at `data` hold a PDF document that opens without a password and has
//   at least one page; `*pageCount` then receives the number of pages. False, with `*pageCount`
//   untouched, for anything else: null pointers, a size of 0 or less or above the renderer's limit,
//   bytes that are not a PDF, a damaged PDF that cannot be read, a PDF that needs a user password.
//   `reserved` must be null: a caller that passes something expects a meaning this renderer does
//   not have, and is refused (false).
//
// RenderPDFPageToDC(data, size, page, dc, dpiX, dpiY, left, top, width, height,
//                   antialias, stretchToBounds, printMarkups, rotateToFit)
//   Draws the page with the 0-based index `page` into the bounds (left, top, width, height), given
//   in the device context's logical units, with one raster pixel per unit. dpiX and dpiY say how
//   many units make an inch across and down; they keep the page's proportions on devices whose
//   dots are not square. The page is the one a viewer shows: its crop box, turned by its /Rotate.
//   What GDI can show is drawn as what it is: paths with pens and brushes, text in the document's
//   own fonts (registered with AddFontMemResourceWithTextW, so that the text stays text), images
//   with StretchDIBits (a JPEG the document holds as its own bytes, BI_JPEG) or AlphaBlend, paint
//   under a constant opacity (large filled text among it, glyph by glyph) as its shape's clip and
//   an AlphaBlend of its colour, and shadings with GradientFill (one call a shading, cut into
//   rectangles or triangles). A blend mode or a soft mask of plain fills and shadings over plain
//   fills is drawn as the opaque fills and gradients it leaves; text under an opacity over one
//   colour as text of the colour it leaves there; a transparency group of plain fills as each fill
//   cut by the later ones (SelectClipPath with RGN_DIFF) and blended. Where the page paints in a
//   way GDI cannot (other transparency groups, soft masks and blend modes), only those areas go as
//   pixels: each area of the page, drawn at the device's resolution, is painted over the drawing
//   beneath it as opaque top-down bitmaps with StretchDIBits (less the boxes that opaque paint laid
//   over it afterwards hides whole), and a GDI comment tells the printer of each. A page whose
//   areas would cost more than half of what a page may hold is drawn whole as a picture, of which
//   only the ink travels: pieces of top-down 32-bit bitmaps, the white paper around them left
//   unpainted, and a GDI comment that tells the printer the page is a picture. Either way the part
//   of the bounds the page does not paint is left untouched. True when the whole page was drawn;
//   false for bad arguments, a document GetPDFDocInfo would refuse, a page index out of range,
//   bounds larger than the renderer's limit, a page that needs more work than the renderer's limits
//   allow, a device context that refused the drawing, or a page the PDF library could not draw. The
//   page is drawn in a child process, so even a page on which the library aborts only fails.
//   The options:
//   - antialias: smooth edges of text, lines and shapes (true), or hard black-and-white edges.
//   - stretchToBounds: fill the bounds completely, giving up the page's proportions (true), or
//     scale the page as large as it fits with its proportions kept, centred (false).
//   - printMarkups: draw markup annotations (comments, highlights, stamps, ink) that are flagged
//     for printing (true), or only the document's content and its form fields (false).
//   - rotateToFit: turn a landscape page a quarter turn counter-clockwise onto portrait bounds, or
//     a portrait page onto landscape bounds, so that it fills the bounds (true); or never turn it.
//   The tool passes true, false, true, true: antialiased, proportions kept, as printed, turned.
//
// GetPDFPageNote(text, size)
//   What the renderer has to tell about the last GetPDFDocInfo or RenderPDFPageToDC of this
//   process: why it answered false, when the renderer knows (a page past one of its limits, say), or what of a page
//   drawn went otherwise than asked (text drawn as outlines because the process holds all the
//   fonts it takes). The note as text ended by a zero, cut to `size` bytes with the zero, and its
//   whole length as the answer; 0, with an empty text, when there is nothing to tell; 0 for a null
//   `text` or a `size` of 0 or less. A caller may do without it: a renderer need not export it.
//
// The renderer keeps the last document it parsed (a copy of its bytes, when they are small enough)
// for as long as the process lives, across FreeLibrary and LoadLibraryW: the module is never
// unloaded. A later call with equal bytes reuses it; any other bytes replace it.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>

// The largest document the renderer takes, in bytes. A caller holding a larger file need not read
// it: both entry points refuse it.
inline constexpr std::int64_t kMaxPdfDocumentBytes = std::int64_t{1} << 30;

using GetPDFDocInfoFunction = bool(const BYTE* data, int size, int* pageCount, void* reserved);
using RenderPDFPageToDCFunction
    = bool(const BYTE* data, int size, int page, HDC dc, int dpiX, int dpiY, int left, int top, int width, int height,
           bool antialias, bool stretchToBounds, bool printMarkups, bool rotateToFit);

using GetPDFPageNoteFunction = int(char* text, int size);

// The entry points as the tool finds them with GetProcAddress.
using GetPDFDocInfoProc = GetPDFDocInfoFunction*;
using RenderPDFPageToDCProc = RenderPDFPageToDCFunction*;
using GetPDFPageNoteProc = GetPDFPageNoteFunction*;

extern "C" {
GetPDFDocInfoFunction GetPDFDocInfo;
RenderPDFPageToDCFunction RenderPDFPageToDC;
GetPDFPageNoteFunction GetPDFPageNote;
}

// What a drawing child leaves its parent in shared memory for a page drawn as GDI calls: the font
// programs it registered, in order, and the page's metafile. The parent trusts none of it: every
// count and size is checked against the bytes and the limits before anything is read.
//
// Layout, little-endian: the signature "QVPG", the font count (u32), the metafile's size (u64); then
// each font: its face name (LF_FACESIZE UTF-16 units, zero-terminated), its program's size (u32), its
// glyph-text count (u32), the program, the glyph texts (FONTGLYPHTEXT, 12 bytes each); then the
// metafile.
#pragma once

#include "plugins/pdf/gdi_output_dev.h"
#include "plugins/pdf/page_fonts.h"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace pdf {

// Fonts one page may hand over at most.
constexpr std::size_t kMaxTransferFonts = 1024;
// Glyph texts of one font at most (a font has at most 65536 glyphs).
constexpr std::size_t kMaxGlyphTexts = 65536;

// The bytes of a whole transfer at most: the metafile and the font programs the limits allow, and
// room for the font headers and glyph texts.
std::size_t MaxTransferBytes(const PageLimits& limits);

struct PageTransfer {
    std::vector<FontRegistration> fonts;
    std::span<const BYTE> metafile;
};

// The bytes a transfer of these fonts and a metafile of `metafileBytes` takes; 0 beyond the limits.
std::size_t TransferBytes(const std::vector<FontRegistration>& fonts, std::size_t metafileBytes,
                          const PageLimits& limits);

// Writes the fonts into `out` (TransferBytes long) and answers where the metafile's bytes go; null
// when `out` is not the size the transfer takes.
BYTE* WriteTransfer(std::span<BYTE> out, const std::vector<FontRegistration>& fonts, std::size_t metafileBytes,
                    const PageLimits& limits);

// Reads a transfer; nothing when the bytes are not exactly one well-formed transfer within the limits.
std::optional<PageTransfer> ReadTransfer(std::span<const BYTE> bytes, const PageLimits& limits);

} // namespace pdf

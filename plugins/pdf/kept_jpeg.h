// Photographs stay as the document holds them: an image stored as JPEG data that a printer can take
// as it is travels as those bytes (StretchDIBits with BI_JPEG), never decoded and compressed again.
#pragma once

#include "platform/win32.h"

#include <GfxState.h>
#include <Stream.h>

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace pdf {

// JPEG data larger than this is decoded instead: its bytes would travel through the page's
// metafile whole.
constexpr std::size_t kMaxKeptJpegBytes = std::size_t{64} << 20;

// What a JPEG's frame header says: its size and number of components.
struct JpegFrame {
    int width = 0;
    int height = 0;
    int components = 0;
};

// The frame of a JPEG (start of image, then the first start-of-frame marker of a baseline,
// extended or progressive frame); nothing for bytes that do not hold one.
std::optional<JpegFrame> ReadJpegFrame(std::span<const BYTE> bytes);

// The JPEG bytes of an image (`str` as poppler hands it to the device) when they show the image
// exactly as the document does: DCT data alone, undecorated by decode parameters, of 8-bit grey or
// RGB samples with their default decode range, whose frame has the image's size and its colour
// space's components. Empty for any other image, which is drawn from its decoded pixels.
std::vector<BYTE> KeptJpegBytes(Stream* str, int width, int height, GfxImageColorMap* colorMap);

} // namespace pdf

// PNG pictures read row by row with libpng: checking one or making it smaller never holds the
// whole picture, only a row of it and what is made.
#pragma once

#include "platform/gdi/pictures/picture_format.h"

#include <cairo.h>

#include <span>

namespace platform::gdi {

// Reads every row and every chunk after them, checksums included, one row at a time: None for a
// whole and sound PNG, Damaged for anything its decoder refuses.
PictureFault CheckPngData(std::span<const BYTE> bytes);

// The PNG made at width x height pixels (each the average of the pixels it covers; at most the
// picture's own size), as cairo holds pixels (premultiplied ARGB32, or RGB24 without transparency),
// in shades of grey when asked. Null with the fault when it cannot be made: Damaged, OutOfMemory,
// or NotAPicture for an interlaced PNG, whose rows come in passes and are not made here.
cairo_surface_t* ReadPngAtSize(std::span<const BYTE> bytes, int width, int height, bool grey, PictureFault& fault);

} // namespace platform::gdi

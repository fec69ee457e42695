// Pictures as the devices draw them: pixels in a cairo image surface, and for a JPEG that may go
// to a printer unchanged, the JPEG's own bytes beside them. StretchDIBits and GDI+ both make
// their pictures here, so decoding and the checks of compressed data live in one place.
#pragma once

#include "platform/gdi/dib.h"

#include <cairo.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <span>

namespace platform::gdi {

// A decoded picture larger than this many pixels is refused (1 GiB of 32-bit pixels).
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 28;

// What the first bytes of a JPEG say about it, read without decoding it.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0; // 1 grey, 3 colour, 4 CMYK or YCCK
};

// The frame of a JPEG a printer can take unchanged: start of image, a baseline, extended or
// progressive frame with sides and 1 or 3 components, and an end-of-image marker closing the
// bytes (so a cut-off file is not passed on). Anything else gives nothing.
std::optional<JpegInfo> InspectJpeg(std::span<const BYTE> bytes);

// True for a PNG whose signature, header chunk and closing IEND chunk are all in place.
bool IsCompletePng(std::span<const BYTE> bytes);

class Picture final {
public:
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // Decodes a JPEG, PNG, BMP, TIFF or GIF (its first frame). A JPEG in three or one components
    // keeps its own bytes for devices that take them unchanged; a CMYK JPEG is only decoded,
    // since its bytes would print inverted. Null for data that is not a picture or too large.
    static std::shared_ptr<Picture> Decode(std::span<const BYTE> bytes);

    // The rows of an uncompressed bitmap within a source rectangle (top-down pixel coordinates,
    // inside the bitmap), copied. `bits` holds layout.bitsSize bytes.
    static std::shared_ptr<Picture> FromDib(const DibLayout& layout, const BYTE* bits, int x, int y, int width,
                                            int height);

    // A 32-bit bitmap's rows used where they lie, for the length of one drawing call: cairo copies
    // what it still needs when the picture is destroyed. `bits` must be 4-byte aligned.
    static std::shared_ptr<Picture> Borrow32(const DibLayout& layout, const BYTE* bits);

    int Width() const;
    int Height() const;
    // True when the rows are stored bottom-up (a borrowed bottom-up bitmap): row r of the picture
    // is row Height() - 1 - r of the surface.
    bool BottomUp() const { return bottomUp_; }
    cairo_surface_t* Surface() const { return surface_; }
    // True when the JPEG's own bytes travel with the pixels.
    bool CarriesJpeg() const;

    // The same picture in shades of grey (the JPEG bytes are left behind).
    std::shared_ptr<Picture> Grey() const;

    // Copies a rectangle of pixels as 32-bit B, G, R, A rows with straight (not premultiplied)
    // colour; with `opaque` the fourth byte is 0xFF. The rectangle lies inside the picture.
    void ReadPixels(int x, int y, int width, int height, bool opaque, BYTE* out, std::size_t stride) const;

private:
    Picture(cairo_surface_t* surface, bool bottomUp, bool borrowed)
        : surface_(surface),
          bottomUp_(bottomUp),
          borrowed_(borrowed)
    {}

    cairo_surface_t* surface_;
    bool bottomUp_;
    bool borrowed_;
};

} // namespace platform::gdi

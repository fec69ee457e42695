// Pictures as the devices draw them: pixels in a cairo image surface, and for a JPEG that may go
// to a printer unchanged, the JPEG's own bytes. StretchDIBits and GDI+ both make their pictures
// here, so decoding, the limits and the checks of compressed data live in one place.
//
// A picture of compressed bytes is checked whole when it is opened, and its size read, but its
// pixels are made only when a device draws it, and then at most at the size it takes there: a
// picture of many pixels printed small costs what is printed, not what it declares. A printer
// that takes a JPEG unchanged gets its bytes and the pixels are never made at all.
#pragma once

#include "platform/gdi/pictures/dib.h"
#include "platform/gdi/pictures/picture_format.h"
#include "platform/gdi/transform.h"

#include <cairo.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace platform::gdi {

// Pictures wider or taller than this are refused before a pixel is decoded: it is the largest
// image cairo can hold.
constexpr int kMaxPictureSide = kMaxDibSide;
// Pictures of more pixels than this are refused before a pixel is decoded (1 GiB of 32-bit pixels).
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 28;

class Picture final {
public:
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // A picture of compressed bytes: JPEG, PNG, BMP, TIFF or GIF (its first frame, a TIFF's first
    // page). With `upright` the turn that the picture's orientation tag asks for is taken: its
    // width and height are then those after the turn. A JPEG in three or one components may go to
    // a device unchanged; a CMYK JPEG is only decoded, since its bytes would print inverted. A
    // picture beyond the limits, or declaring more pixels than its bytes could hold, is refused
    // (TooLarge) before any of its data is decoded.
    static std::shared_ptr<Picture> Open(std::shared_ptr<const std::vector<BYTE>> bytes, bool upright,
                                         PictureFault& fault);

    // The same for the bits of a device-independent bitmap (copied; no orientation is taken).
    // Null for data that is not a picture, is damaged or is too large.
    static std::shared_ptr<Picture> Decode(std::span<const BYTE> bytes);

    // The rows of an uncompressed bitmap within a source rectangle (top-down pixel coordinates,
    // inside the bitmap), copied. `bits` holds layout.bitsSize bytes.
    static std::shared_ptr<Picture> FromDib(const DibLayout& layout, const BYTE* bits, int x, int y, int width,
                                            int height);

    // Top-down 32-bit B, G, R, A rows (4 * width bytes each), copied: with `alpha` the colours are
    // premultiplied by the fourth byte (a colour above its alpha is taken as the alpha), without
    // it the fourth byte is not looked at and the picture is opaque.
    static std::shared_ptr<Picture> FromRows32(const BYTE* rows, int width, int height, bool alpha);

    // A 32-bit bitmap's rows used where they lie, for the length of one drawing call: cairo copies
    // what it still needs when the picture is destroyed. `bits` must be 4-byte aligned.
    static std::shared_ptr<Picture> Borrow32(const DibLayout& layout, const BYTE* bits);

    // The size as the picture is seen: after its turn.
    int Width() const;
    int Height() const;

    // Where the stored pixel grid (of Pixels() and JpegSurface()) lands on the picture as seen.
    Affine StoredToUpright() const;

    // The pixels in their stored grid, at most `width` x `height` of them (never more than the
    // picture has; a smaller grid covers the same picture), in shades of grey when asked. Made on
    // first use, and made again only for a larger grid or the other colouring; valid until the
    // next call. Null when they cannot be made (out of memory, or data its decoder refuses).
    cairo_surface_t* Pixels(int width, int height, bool grey) const;

    // The size of the stored grid.
    int StoredWidth() const { return storedWidth_; }
    int StoredHeight() const { return storedHeight_; }

    // True when the JPEG's own bytes may go to a device unchanged.
    bool CarriesJpeg() const { return passable_; }
    // A surface that holds nothing but the JPEG's bytes, for a device that embeds them unchanged;
    // null unless CarriesJpeg(). Its pixels are never decoded.
    cairo_surface_t* JpegSurface() const;

    // Copies a rectangle of the picture as seen as 32-bit B, G, R, A rows with straight (not
    // premultiplied) colour; with `opaque` the fourth byte is 0xFF. The rectangle lies inside the
    // picture. False when the pixels cannot be decoded.
    bool ReadPixels(int x, int y, int width, int height, bool opaque, BYTE* out, std::size_t stride) const;

private:
    Picture(cairo_surface_t* surface, int orientation, bool borrowed);
    Picture(std::shared_ptr<const std::vector<BYTE>> bytes, PictureKind kind, int width, int height, bool passable,
            int orientation);

    int storedWidth_;
    int storedHeight_;
    int orientation_; // as an EXIF orientation tag counts: 1 upright, 6 turned a quarter clockwise...
    bool borrowed_ = false;
    cairo_surface_t* given_ = nullptr;               // pixels given when the picture was made
    std::shared_ptr<const std::vector<BYTE>> bytes_; // or compressed data, made into pixels when drawn
    PictureKind kind_ = PictureKind::Png;
    bool passable_ = false;

    mutable std::mutex mutex_;
    mutable cairo_surface_t* made_ = nullptr; // the pixels last asked for
    mutable bool madeGrey_ = false;
    mutable cairo_surface_t* jpegSurface_ = nullptr;
};

} // namespace platform::gdi

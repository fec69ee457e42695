// What a picture's bytes are, read without decoding them: the kind by its signature, the frame of a
// JPEG and the turn its EXIF data asks for, whether a PNG or BMP holds all the data its header
// promises, and whether a JPEG's compressed data is whole and sound.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <optional>
#include <span>

namespace platform::gdi {

// The picture kinds this platform decodes.
enum class PictureKind { Jpeg, Png, Bmp, Tiff, Gif };

// Why a picture could not be made.
enum class PictureFault {
    None,
    NotAPicture, // none of the kinds decoded here
    Damaged,     // cut off, corrupted, or refused by its decoder
    TooLarge,    // beyond the limits of the caller
    OutOfMemory,
};

// The kind of picture the bytes start as, or nothing.
std::optional<PictureKind> SniffPicture(std::span<const BYTE> bytes);

// The size a PNG, GIF (its screen) or BMP header declares, read before any decoder sees the data;
// nothing for other kinds or a header too short to hold it.
struct DeclaredSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};
std::optional<DeclaredSize> ReadDeclaredSize(std::span<const BYTE> bytes, PictureKind kind);

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

// Decodes every scan of a JPEG at an eighth of its size, keeping one small row at a time: the
// whole compressed data is read, so a cut-off or corrupted file shows, without the memory or the
// time of a full decode. None when the decoder finished without an error or a warning (`frame`
// then holds its size and components); TooLarge, before any data is decoded, for a frame wider or
// taller than `maxSide` or of more than `maxPixels` pixels; Damaged otherwise.
PictureFault ScanJpeg(std::span<const BYTE> bytes, int maxSide, std::int64_t maxPixels, JpegInfo& frame);

// The EXIF orientation (1 to 8) of a JPEG's APP1 segment; 1 when it has none or it is unreadable.
int JpegOrientation(std::span<const BYTE> bytes);

// True for a PNG whose signature, header chunk and closing IEND chunk are all in place.
bool IsCompletePng(std::span<const BYTE> bytes);

// True for a BMP file whose pixel data reaches as far as its header says it does.
bool IsCompleteBmp(std::span<const BYTE> bytes);

// Compressed data can stand for only so many pixels per byte: deflate (PNG) for about a thousand
// bytes of rows, GIF's codes for at most 2731 pixels, BMP's runs for 127. False for a PNG, GIF or
// BMP whose declared size (a GIF's screen) is more than its bytes could ever hold, which only a
// file made to cost its reader memory and time does; true for everything else.
bool IsBacked(std::span<const BYTE> bytes, PictureKind kind);

} // namespace platform::gdi

#include "platform/gdi/pictures/picture_format.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace platform::gdi {
namespace {

constexpr BYTE kMarker = 0xFF;
constexpr BYTE kStartOfImage = 0xD8;
constexpr BYTE kEndOfImage = 0xD9;
constexpr BYTE kStartOfScan = 0xDA;
constexpr BYTE kBaselineFrame = 0xC0;
constexpr BYTE kExtendedFrame = 0xC1;
constexpr BYTE kProgressiveFrame = 0xC2;
constexpr BYTE kExifSegment = 0xE1;
constexpr int kJpegPrecision = 8;

constexpr BYTE kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr BYTE kPngEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr std::size_t kPngHeaderChunkLength = 13;

constexpr BYTE kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr unsigned kOrientationTag = 0x0112;
constexpr unsigned kShortType = 3;

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::uint32_t kBmpCoreHeaderBytes = 12;
constexpr std::uint32_t kBmpInfoHeaderBytes = 40;
constexpr std::uint32_t kBmpRgb = 0;
constexpr std::uint32_t kBmpBitfields = 3;
constexpr std::uint32_t kBmpAlphaBitfields = 6;
constexpr std::uint32_t kBmpRle8 = 1;
constexpr std::uint32_t kBmpRle4 = 2;

// The most a byte of compressed data can stand for. Deflate's longest match (258 bytes) costs at
// least two bits; a 12-bit GIF code stands for at most 4096 pixels; a BMP run of two bytes for 255.
constexpr std::uint64_t kDeflateBytesPerByte = 1032;
constexpr std::uint64_t kGifPixelsPerByte = 2731;
constexpr std::uint64_t kBmpRunPixelsPerByte = 128;

unsigned ReadBig16(const BYTE* bytes)
{
    return (unsigned{bytes[0]} << 8) | bytes[1];
}

std::uint32_t ReadBig32(const BYTE* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8)
        | bytes[3];
}

unsigned ReadLittle16(const BYTE* bytes)
{
    return bytes[0] | (unsigned{bytes[1]} << 8);
}

std::uint32_t ReadLittle32(const BYTE* bytes)
{
    return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16)
        | (std::uint32_t{bytes[3]} << 24);
}

bool StartsWith(std::span<const BYTE> bytes, std::span<const BYTE> prefix)
{
    return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// Markers of frames this platform does not hand on: lossless, hierarchical and arithmetic-coded.
bool IsOtherFrame(BYTE marker)
{
    return marker == 0xC3 || (marker >= 0xC5 && marker <= 0xC7) || (marker >= 0xC9 && marker <= 0xCB)
        || (marker >= 0xCD && marker <= 0xCF);
}

// Markers that stand alone, without a length.
bool IsStandAlone(BYTE marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= kEndOfImage);
}

// The bytes up to the last non-zero byte: pictures inside metafile records come padded with zeros.
std::span<const BYTE> WithoutPadding(std::span<const BYTE> bytes)
{
    std::size_t size = bytes.size();
    while (size > 0 && bytes[size - 1] == 0)
        --size;
    return bytes.first(size);
}

bool EndsWithEndOfImage(std::span<const BYTE> bytes)
{
    const std::span<const BYTE> trimmed = WithoutPadding(bytes);
    return trimmed.size() >= 2 && trimmed[trimmed.size() - 2] == kMarker && trimmed.back() == kEndOfImage;
}

// Calls `visit(marker, payload)` for each segment ahead of the first scan, until it returns true.
// False when the segments run past the bytes or a stand-alone marker comes first.
template <typename Visit>
bool VisitJpegSegments(std::span<const BYTE> bytes, Visit visit)
{
    if (bytes.size() < 4 || bytes[0] != kMarker || bytes[1] != kStartOfImage)
        return false;
    std::size_t position = 2;
    while (position < bytes.size()) {
        if (bytes[position] != kMarker)
            return false;
        while (position < bytes.size() && bytes[position] == kMarker)
            ++position; // fill bytes
        if (position + 2 >= bytes.size())
            return false;
        const BYTE marker = bytes[position++];
        if (marker == kStartOfScan || IsStandAlone(marker))
            return false;
        const std::size_t length = ReadBig16(&bytes[position]);
        if (length < 2 || length > bytes.size() - position)
            return false;
        if (visit(marker, bytes.subspan(position + 2, length - 2)))
            return true;
        position += length;
    }
    return false;
}

// The orientation entry of an EXIF block (the TIFF structure after "Exif\0\0"), or 1.
int ExifOrientation(std::span<const BYTE> tiff)
{
    if (tiff.size() < 8)
        return 1;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    auto read16 = [&](std::size_t at) { return little ? ReadLittle16(&tiff[at]) : ReadBig16(&tiff[at]); };
    auto read32 = [&](std::size_t at) { return little ? ReadLittle32(&tiff[at]) : ReadBig32(&tiff[at]); };
    if (read16(2) != 42)
        return 1;
    const std::uint32_t directory = read32(4);
    if (directory > tiff.size() - 2)
        return 1;
    const unsigned entries = read16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        const std::uint64_t entry = directory + 2 + std::uint64_t{i} * 12;
        if (entry + 12 > tiff.size())
            return 1;
        const std::size_t at = static_cast<std::size_t>(entry);
        if (read16(at) == kOrientationTag) {
            const unsigned value = read16(at + 8);
            return read16(at + 2) == kShortType && read32(at + 4) == 1 && value >= 1 && value <= 8
                ? static_cast<int>(value)
                : 1;
        }
    }
    return 1;
}

// libjpeg reports errors by calling out; this manager jumps back to the scan instead of exiting,
// and counts warnings (corrupt data, a premature end), which libjpeg otherwise only prints.
struct ScanErrors {
    jpeg_error_mgr manager; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    int warnings;
};

[[noreturn]] void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ScanErrors*>(info->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++reinterpret_cast<ScanErrors*>(info->err)->warnings;
}

// Only plain C objects live in this function: libjpeg may jump out of any call in it.
PictureFault ScanWithLibjpeg(const BYTE* data, std::size_t size, int maxSide, std::int64_t maxPixels, JpegInfo& info)
{
    jpeg_decompress_struct decoder;
    ScanErrors errors;
    decoder.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnJpegError;
    errors.manager.emit_message = OnJpegMessage;
    errors.warnings = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&decoder);
        return PictureFault::Damaged;
    }
    jpeg_create_decompress(&decoder);
    jpeg_mem_src(&decoder, data, static_cast<unsigned long>(size));
    jpeg_read_header(&decoder, TRUE);
    info.width = static_cast<int>(decoder.image_width);
    info.height = static_cast<int>(decoder.image_height);
    info.components = decoder.num_components;
    if (info.width > maxSide || info.height > maxSide || std::int64_t{info.width} * info.height > maxPixels) {
        jpeg_destroy_decompress(&decoder);
        return PictureFault::TooLarge;
    }
    // The smallest output the decoder offers; grey where the colour space allows it, since only
    // the reading of the data matters here.
    decoder.scale_num = 1;
    decoder.scale_denom = 8;
    decoder.dct_method = JDCT_IFAST;
    decoder.do_fancy_upsampling = FALSE;
    decoder.do_block_smoothing = FALSE;
    if (decoder.jpeg_color_space == JCS_YCbCr || decoder.jpeg_color_space == JCS_GRAYSCALE)
        decoder.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&decoder);
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
                                                  decoder.output_width * decoder.output_components, 1);
    while (decoder.output_scanline < decoder.output_height)
        jpeg_read_scanlines(&decoder, row, 1);
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    return errors.warnings == 0 ? PictureFault::None : PictureFault::Damaged;
}

} // namespace

std::optional<PictureKind> SniffPicture(std::span<const BYTE> bytes)
{
    static constexpr BYTE jpeg[] = {kMarker, kStartOfImage, kMarker};
    static constexpr BYTE bmp[] = {'B', 'M'};
    static constexpr BYTE tiffLittle[] = {'I', 'I', 42, 0};
    static constexpr BYTE tiffBig[] = {'M', 'M', 0, 42};
    static constexpr BYTE gif87[] = {'G', 'I', 'F', '8', '7', 'a'};
    static constexpr BYTE gif89[] = {'G', 'I', 'F', '8', '9', 'a'};
    if (StartsWith(bytes, jpeg))
        return PictureKind::Jpeg;
    if (StartsWith(bytes, kPngSignature))
        return PictureKind::Png;
    if (StartsWith(bytes, bmp))
        return PictureKind::Bmp;
    if (StartsWith(bytes, tiffLittle) || StartsWith(bytes, tiffBig))
        return PictureKind::Tiff;
    if (StartsWith(bytes, gif87) || StartsWith(bytes, gif89))
        return PictureKind::Gif;
    return std::nullopt;
}

std::optional<DeclaredSize> ReadDeclaredSize(std::span<const BYTE> bytes, PictureKind kind)
{
    constexpr std::size_t pngSizeEnd = sizeof kPngSignature + 16;
    constexpr std::size_t gifSizeEnd = 10;
    constexpr std::size_t bmpSizeEnd = kBmpFileHeaderBytes + 12;
    switch (kind) {
    case PictureKind::Png:
        if (bytes.size() < pngSizeEnd)
            return std::nullopt;
        return DeclaredSize{ReadBig32(&bytes[16]), ReadBig32(&bytes[20])};
    case PictureKind::Gif:
        if (bytes.size() < gifSizeEnd)
            return std::nullopt;
        return DeclaredSize{ReadLittle16(&bytes[6]), ReadLittle16(&bytes[8])};
    case PictureKind::Bmp: {
        if (bytes.size() < bmpSizeEnd)
            return std::nullopt;
        const BYTE* header = &bytes[kBmpFileHeaderBytes];
        if (ReadLittle32(header) == kBmpCoreHeaderBytes)
            return DeclaredSize{ReadLittle16(header + 4), ReadLittle16(header + 6)};
        const std::int64_t height = static_cast<std::int32_t>(ReadLittle32(header + 8));
        return DeclaredSize{static_cast<std::int32_t>(ReadLittle32(header + 4)), height < 0 ? -height : height};
    }
    default:
        return std::nullopt;
    }
}

std::optional<JpegInfo> InspectJpeg(std::span<const BYTE> bytes)
{
    if (!EndsWithEndOfImage(bytes))
        return std::nullopt;
    std::optional<JpegInfo> found;
    bool refused = false;
    VisitJpegSegments(bytes, [&](BYTE marker, std::span<const BYTE> payload) {
        if (IsOtherFrame(marker)) {
            refused = true;
            return true;
        }
        if (marker != kBaselineFrame && marker != kExtendedFrame && marker != kProgressiveFrame)
            return false;
        if (payload.size() < 6)
            return refused = true;
        JpegInfo info;
        info.height = static_cast<int>(ReadBig16(&payload[1]));
        info.width = static_cast<int>(ReadBig16(&payload[3]));
        info.components = payload[5];
        const bool componentsFit = payload.size() >= 6 + 3 * std::size_t{payload[5]};
        if (payload[0] != kJpegPrecision || info.width == 0 || info.height == 0 || !componentsFit
            || (info.components != 1 && info.components != 3 && info.components != 4))
            return refused = true;
        found = info;
        return true;
    });
    return refused ? std::nullopt : found;
}

PictureFault ScanJpeg(std::span<const BYTE> bytes, int maxSide, std::int64_t maxPixels, JpegInfo& frame)
{
    if (bytes.empty())
        return PictureFault::Damaged;
    return ScanWithLibjpeg(bytes.data(), bytes.size(), maxSide, maxPixels, frame);
}

int JpegOrientation(std::span<const BYTE> bytes)
{
    int orientation = 1;
    VisitJpegSegments(bytes, [&](BYTE marker, std::span<const BYTE> payload) {
        if (marker != kExifSegment || !StartsWith(payload, kExifHeader))
            return false;
        orientation = ExifOrientation(payload.subspan(sizeof kExifHeader));
        return true;
    });
    return orientation;
}

bool IsCompletePng(std::span<const BYTE> bytes)
{
    constexpr std::size_t headerEnd = sizeof kPngSignature + 8 + kPngHeaderChunkLength + 4;
    if (bytes.size() < headerEnd + sizeof kPngEnd || !StartsWith(bytes, kPngSignature))
        return false;
    const BYTE* header = bytes.data() + sizeof kPngSignature;
    if (ReadBig32(header) != kPngHeaderChunkLength || std::memcmp(header + 4, "IHDR", 4) != 0)
        return false;
    const std::uint32_t width = ReadBig32(header + 8);
    const std::uint32_t height = ReadBig32(header + 12);
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return false;
    const std::span<const BYTE> trimmed = WithoutPadding(bytes);
    return trimmed.size() >= headerEnd + sizeof kPngEnd
        && std::memcmp(trimmed.data() + trimmed.size() - sizeof kPngEnd, kPngEnd, sizeof kPngEnd) == 0;
}

bool IsCompleteBmp(std::span<const BYTE> bytes)
{
    if (bytes.size() < kBmpFileHeaderBytes + 4 || bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    const std::uint64_t dataOffset = ReadLittle32(&bytes[10]);
    const std::uint32_t headerBytes = ReadLittle32(&bytes[kBmpFileHeaderBytes]);
    const BYTE* header = &bytes[kBmpFileHeaderBytes];
    std::int64_t width = 0;
    std::int64_t height = 0;
    unsigned bitCount = 0;
    std::uint32_t compression = kBmpRgb;
    std::uint64_t imageBytes = 0;
    if (headerBytes == kBmpCoreHeaderBytes && bytes.size() >= kBmpFileHeaderBytes + kBmpCoreHeaderBytes) {
        width = ReadLittle16(header + 4);
        height = ReadLittle16(header + 6);
        bitCount = ReadLittle16(header + 10);
    } else if (headerBytes >= kBmpInfoHeaderBytes && headerBytes <= bytes.size() - kBmpFileHeaderBytes) {
        // The header lies within the file: the decoder sets aside as much memory as the header
        // says it takes before it reads it, 2 GiB for a file of a hundred bytes if it is told so.
        width = static_cast<std::int32_t>(ReadLittle32(header + 4));
        height = static_cast<std::int32_t>(ReadLittle32(header + 8));
        bitCount = ReadLittle16(header + 14);
        compression = ReadLittle32(header + 16);
        imageBytes = ReadLittle32(header + 20);
        // Its colour table too: the decoder sets aside four bytes for every colour the header
        // counts before it reads one.
        const std::uint64_t colours = ReadLittle32(header + 32);
        if (colours > (bytes.size() - kBmpFileHeaderBytes - headerBytes) / 4)
            return false;
    } else {
        return false;
    }
    height = height < 0 ? -height : height;
    if (width <= 0 || height == 0 || bitCount == 0 || bitCount > 32)
        return false;
    // Uncompressed rows are padded to whole 32-bit words; compressed data is as long as the header says.
    const bool rows = compression == kBmpRgb || compression == kBmpBitfields || compression == kBmpAlphaBitfields;
    if (dataOffset > bytes.size())
        return false;
    const std::uint64_t available = bytes.size() - dataOffset;
    if (!rows)
        return imageBytes <= available;
    const std::uint64_t stride = static_cast<std::uint64_t>((width * bitCount + 31) / 32 * 4);
    return static_cast<std::uint64_t>(height) <= available / stride;
}

bool IsBacked(std::span<const BYTE> bytes, PictureKind kind)
{
    const std::optional<DeclaredSize> size = ReadDeclaredSize(bytes, kind);
    if (!size || size->width <= 0 || size->height <= 0)
        return true; // nothing declared to back; the decoder judges the rest
    const auto width = static_cast<std::uint64_t>(size->width);
    const auto height = static_cast<std::uint64_t>(size->height);
    switch (kind) {
    case PictureKind::Png: {
        // Each row is a filter byte and its samples: channels by colour type, times bit depth.
        constexpr std::size_t depthAt = sizeof kPngSignature + 16;
        if (bytes.size() < depthAt + 2)
            return true;
        static constexpr unsigned channels[] = {1, 0, 3, 1, 2, 0, 4};
        const unsigned colourType = bytes[depthAt + 1];
        const unsigned bitsPerPixel = bytes[depthAt] * (colourType < 7 ? channels[colourType] : 0);
        const std::uint64_t rowBytes = 1 + (width * bitsPerPixel + 7) / 8;
        return height * rowBytes / kDeflateBytesPerByte <= bytes.size();
    }
    case PictureKind::Gif:
        return width * height / kGifPixelsPerByte <= bytes.size();
    case PictureKind::Bmp: {
        if (bytes.size() < kBmpFileHeaderBytes + 20 || ReadLittle32(&bytes[kBmpFileHeaderBytes]) < kBmpInfoHeaderBytes)
            return true;
        const std::uint32_t compression = ReadLittle32(&bytes[kBmpFileHeaderBytes + 16]);
        if (compression != kBmpRle8 && compression != kBmpRle4)
            return true; // rows are checked whole by IsCompleteBmp
        const std::uint64_t dataOffset = ReadLittle32(&bytes[10]);
        const std::uint64_t data = dataOffset < bytes.size() ? bytes.size() - dataOffset : 0;
        return width * height / kBmpRunPixelsPerByte <= data;
    }
    default:
        return true;
    }
}

} // namespace platform::gdi

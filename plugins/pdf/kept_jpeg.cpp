#include "plugins/pdf/kept_jpeg.h"

#include <Dict.h>

namespace pdf {
namespace {

// Colour spaces whose samples a JPEG stores as a viewer shows them: grey and RGB, directly or as
// the alternate of an ICC profile of as many components.
bool PlainColours(GfxColorSpace* space)
{
    switch (space->getMode()) {
    case csDeviceGray:
    case csCalGray:
    case csDeviceRGB:
    case csCalRGB:
        return true;
    case csICCBased:
        return space->getNComps() == 1 || space->getNComps() == 3;
    default:
        return false;
    }
}

} // namespace

std::optional<JpegFrame> ReadJpegFrame(std::span<const BYTE> bytes)
{
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xFF)
            return std::nullopt;
        const BYTE marker = bytes[at + 1];
        if (marker == 0xFF) { // fill bytes before a marker
            ++at;
            continue;
        }
        const std::size_t length = std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2 || at + 2 + length > bytes.size())
            return std::nullopt;
        // SOF0 (baseline), SOF1 (extended) and SOF2 (progressive), Huffman-coded.
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            if (length < 8)
                return std::nullopt;
            const BYTE* frame = bytes.data() + at + 4;
            JpegFrame result;
            result.height = int(frame[1]) << 8 | frame[2];
            result.width = int(frame[3]) << 8 | frame[4];
            result.components = frame[5];
            return result;
        }
        // Any other frame kind, or the scan itself before a frame: not one to keep.
        if ((marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) || marker == 0xDA)
            return std::nullopt;
        at += 2 + length;
    }
    return std::nullopt;
}

std::vector<BYTE> KeptJpegBytes(Stream* str, int width, int height, GfxImageColorMap* colorMap)
{
    if (!str || !colorMap || str->getKind() != strDCT || colorMap->getBits() != 8
        || !PlainColours(colorMap->getColorSpace()))
        return {};
    const int components = colorMap->getNumPixelComps();
    for (int i = 0; i < components; ++i) {
        if (colorMap->getDecodeLow(i) != 0 || colorMap->getDecodeHigh(i) != 1)
            return {};
    }
    // Decode parameters (a colour transform of its own) ask for what the bytes alone do not say.
    Dict* dict = str->getDict();
    if (!dict || dict->hasKey("DecodeParms") || dict->hasKey("DP"))
        return {};
    Stream* raw = str->getNextStream();
    if (!raw)
        return {};
    std::vector<BYTE> bytes;
    raw->reset();
    BYTE chunk[4096];
    while (const int read = raw->doGetChars(int(sizeof chunk), chunk)) {
        bytes.insert(bytes.end(), chunk, chunk + read);
        if (bytes.size() > kMaxKeptJpegBytes)
            return {};
    }
    raw->close();
    const std::optional<JpegFrame> frame = ReadJpegFrame(bytes);
    if (!frame || frame->width != width || frame->height != height || frame->components != components)
        return {};
    return bytes;
}

} // namespace pdf

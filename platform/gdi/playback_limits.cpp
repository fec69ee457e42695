#include "platform/gdi/playback_limits.h"

#include <algorithm>
#include <cstring>

namespace platform::gdi {
namespace {

// Record types counted here beyond those the platform draws.
constexpr DWORD kPolyBezier = 2;
constexpr DWORD kPolygon = 3;
constexpr DWORD kPolyline = 4;
constexpr DWORD kCreatePen = 38;
constexpr DWORD kCreatePalette = 49;
constexpr DWORD kBitBlt = 76;
constexpr DWORD kStretchBlt = 77;
constexpr DWORD kSetDiBitsToDevice = 80;
constexpr DWORD kPolyBezier16 = 85;
constexpr DWORD kPolygon16 = 86;
constexpr DWORD kPolyline16 = 87;
constexpr DWORD kCreateMonoBrush = 93;
constexpr DWORD kCreateDibPatternBrush = 94;

// Field offsets: the count of a poly record (after its bounds), the mode of SelectClipPath and
// the level of RestoreDC, the character count of ExtTextOutW, the bitmap header of StretchDIBits.
constexpr std::size_t kPolyCount = 24;
constexpr std::size_t kFirstField = 8;
constexpr std::size_t kTextChars = 44;
constexpr std::size_t kStretchOffBmi = 48;
// GradientFill's vertex and piece counts, after its bounds.
constexpr std::size_t kGradientVertices = 24;
constexpr std::size_t kGradientPieces = 28;

// What the context spends, in bytes: a saved state beside its path, a path point, an entry of a
// clip region (which lists every clip path in force), a pixel drawn from a compressed picture.
constexpr std::uint64_t kStateBytes = 512;
constexpr std::uint64_t kPointBytes = 24;
constexpr std::uint64_t kClipEntryBytes = 16;
constexpr std::uint64_t kPixelBytes = 4;
// A GradientFill piece held as a patch of a mesh: four sides of cubic curves and four colours.
constexpr std::uint64_t kPatchBytes = 400;
// Points a glyph's outline adds to a path, at most as fonts draw them.
constexpr std::uint64_t kGlyphPoints = 256;

template <typename Value>
Value Field(const ENHMETARECORD& record, std::size_t offset)
{
    Value value{};
    if (offset + sizeof value <= record.nSize)
        std::memcpy(&value, reinterpret_cast<const BYTE*>(&record) + offset, sizeof value);
    return value;
}

// The bytes a picture record makes the device hold: its own, or its pixels once decoded.
std::uint64_t PictureBytes(const ENHMETARECORD& record)
{
    std::uint64_t bytes = record.nSize;
    if (record.iType == EMR_STRETCHDIBITS) {
        const DWORD offBmi = Field<DWORD>(record, kStretchOffBmi);
        const auto width = std::int64_t{Field<LONG>(record, offBmi + 4)};
        const auto height = std::int64_t{Field<LONG>(record, offBmi + 8)};
        const std::uint64_t pixels
            = std::uint64_t(width < 0 ? -width : width) * std::uint64_t(height < 0 ? -height : height);
        bytes = std::max(bytes, pixels * kPixelBytes);
    }
    return bytes;
}

} // namespace

bool PlaybackLimits::Admit(const ENHMETARECORD& record)
{
    if (passed_ != Limit::None)
        return false;
    std::uint64_t points = 0;
    switch (record.iType) {
    case EMR_SAVEDC:
        if (saved_.size() + 1 > kMaxSavedStates)
            return Fail(Limit::SavedStates);
        saved_.push_back(current_);
        // The copy shares the clip region; it keeps its own copy of the path under way.
        current_.bytes = kStateBytes + pathPoints_ * kPointBytes;
        current_.regionBytes = 0;
        bytes_ += current_.bytes;
        break;
    case EMR_RESTOREDC:
        Restore(Field<LONG>(record, kFirstField));
        break;
    case EMR_BEGINPATH:
        inPath_ = true;
        pathPoints_ = 0;
        break;
    case EMR_ENDPATH:
        inPath_ = false;
        break;
    case EMR_ABORTPATH:
        inPath_ = false;
        pathPoints_ = 0;
        break;
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH:
        pathPoints_ = 0;
        break;
    case EMR_SELECTCLIPPATH:
        SelectClip(Field<DWORD>(record, kFirstField));
        pathPoints_ = 0;
        break;
    case EMR_MOVETOEX:
    case EMR_LINETO:
        points = 1;
        break;
    case kPolyBezier:
    case kPolygon:
    case kPolyline:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case kPolyBezier16:
    case kPolygon16:
    case kPolyline16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
        points = Field<DWORD>(record, kPolyCount);
        break;
    case EMR_EXTTEXTOUTW:
        // Inside a path bracket the glyphs' outlines join the path; elsewhere they add none.
        points = inPath_ ? std::uint64_t{Field<DWORD>(record, kTextChars)} * kGlyphPoints : 0;
        break;
    case kCreatePen:
    case EMR_CREATEBRUSHINDIRECT:
    case kCreatePalette:
    case EMR_EXTCREATEFONTINDIRECTW:
    case kCreateMonoBrush:
    case kCreateDibPatternBrush:
    case EMR_EXTCREATEPEN:
        if (++objects_ > kMaxObjects)
            return Fail(Limit::Objects);
        break;
    case kBitBlt:
    case kStretchBlt:
    case kSetDiBitsToDevice:
    case EMR_STRETCHDIBITS:
    case EMR_ALPHABLEND:
        bytes_ += PictureBytes(record);
        break;
    case EMR_GRADIENTFILL: {
        const DWORD pieces = Field<DWORD>(record, kGradientPieces);
        gradientVertices_ += Field<DWORD>(record, kGradientVertices);
        gradientPieces_ += pieces;
        if (gradientVertices_ > kMaxGradientVertices)
            return Fail(Limit::GradientVertices);
        if (gradientPieces_ > kMaxGradientPieces)
            return Fail(Limit::GradientPieces);
        bytes_ += record.nSize + std::uint64_t{pieces} * kPatchBytes;
        break;
    }
    default:
        break;
    }
    points_ += points;
    if (inPath_)
        pathPoints_ += points;
    if (points_ > kMaxPoints)
        return Fail(Limit::Points);
    if (current_.clipPaths > kMaxClipPaths)
        return Fail(Limit::ClipPaths);
    if (current_.clipPoints > kMaxClipPoints)
        return Fail(Limit::ClipPoints);
    if (bytes_ > kMaxBytes)
        return Fail(Limit::Bytes);
    return true;
}

void PlaybackLimits::Restore(std::int64_t relative)
{
    // A playback restores only relative to the top, and only states its own records saved; any
    // other level restores nothing, as the context refuses it.
    if (relative >= 0 || std::uint64_t(-relative) > saved_.size())
        return;
    for (std::int64_t i = 0; i < -relative; ++i) {
        bytes_ -= current_.bytes;
        current_ = saved_.back();
        saved_.pop_back();
    }
}

void PlaybackLimits::SelectClip(std::uint32_t mode)
{
    // The new region lists every clip path in force; the one this level made before goes.
    if (mode == RGN_COPY) {
        current_.clipPaths = 1;
        current_.clipPoints = pathPoints_;
    } else {
        current_.clipPaths += 1;
        current_.clipPoints += pathPoints_;
    }
    const std::uint64_t region = current_.clipPaths * kClipEntryBytes + pathPoints_ * kPointBytes;
    bytes_ = bytes_ - current_.regionBytes + region;
    current_.bytes = current_.bytes - current_.regionBytes + region;
    current_.regionBytes = region;
}

bool PlaybackLimits::Fail(Limit limit)
{
    passed_ = limit;
    return false;
}

std::string PlaybackLimits::Describe(Limit limit)
{
    switch (limit) {
    case Limit::None:
        break;
    case Limit::SavedStates:
        return std::to_string(kMaxSavedStates) + " saved states";
    case Limit::ClipPaths:
        return std::to_string(kMaxClipPaths) + " clip paths in force";
    case Limit::ClipPoints:
        return std::to_string(kMaxClipPoints) + " points of clip paths in force";
    case Limit::Objects:
        return std::to_string(kMaxObjects) + " objects";
    case Limit::Points:
        return std::to_string(kMaxPoints) + " path points";
    case Limit::GradientVertices:
        return std::to_string(kMaxGradientVertices) + " gradient vertices";
    case Limit::GradientPieces:
        return std::to_string(kMaxGradientPieces) + " gradient triangles and rectangles";
    case Limit::Bytes:
        return std::to_string(kMaxBytes >> 20) + " MiB of playback memory";
    }
    return {};
}

} // namespace platform::gdi

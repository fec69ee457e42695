#include "platform/gdi/metafile/playback_limits.h"

#include "platform/gdi/context/emf_records.h"

#include <algorithm>
#include <optional>

namespace platform::gdi {
namespace {

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

// The record read by its description; nothing for a record the player would refuse to read (and
// so never play, at no cost).
template <typename Record>
std::optional<Record> Read(const ENHMETARECORD& record)
{
    Record described{};
    if (record.iType != Record::kType || !emf::Decode(reinterpret_cast<const BYTE*>(&record), record.nSize, described))
        return std::nullopt;
    return described;
}

template <typename Record>
std::uint64_t PointCount(const ENHMETARECORD& record)
{
    const auto described = Read<Record>(record);
    return described ? described->points.count : 0;
}

// The bytes a picture record makes the device hold: its own, or its pixels once decoded (a
// compressed picture a device cannot take is drawn from its pixels).
std::uint64_t PictureBytes(const ENHMETARECORD& record)
{
    std::uint64_t bytes = record.nSize;
    const auto described = Read<emf::StretchDiBitsRecord>(record);
    if (described && described->info.count >= sizeof(BITMAPINFOHEADER)) {
        const auto header = emf::Read<BITMAPINFOHEADER>(described->info.bytes, 0);
        const auto width = std::int64_t{header.biWidth};
        const auto height = std::int64_t{header.biHeight};
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
        if (const auto described = Read<emf::RestoreDcRecord>(record))
            Restore(described->relative);
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
        if (const auto described = Read<emf::SelectClipPathRecord>(record))
            SelectClip(described->mode);
        pathPoints_ = 0;
        break;
    case EMR_MOVETOEX:
    case EMR_LINETO:
        points = 1;
        break;
    case EMR_POLYLINETO:
        points = PointCount<emf::PolylineToRecord>(record);
        break;
    case EMR_POLYBEZIERTO:
        points = PointCount<emf::PolyBezierToRecord>(record);
        break;
    case EMR_POLYLINETO16:
        points = PointCount<emf::PolylineTo16Record>(record);
        break;
    case EMR_POLYBEZIERTO16:
        points = PointCount<emf::PolyBezierTo16Record>(record);
        break;
    case EMR_EXTTEXTOUTW:
        // Inside a path bracket the glyphs' outlines join the path; elsewhere they add none.
        if (const auto described = Read<emf::ExtTextOutRecord>(record); described && inPath_)
            points = std::uint64_t{described->text.count} * kGlyphPoints;
        break;
    case EMR_EXTCREATEPEN:
    case EMR_CREATEBRUSHINDIRECT:
    case EMR_EXTCREATEFONTINDIRECTW:
        if (++objects_ > kMaxObjects)
            return Fail(Limit::Objects);
        break;
    case EMR_STRETCHDIBITS:
    case EMR_ALPHABLEND:
        bytes_ += PictureBytes(record);
        break;
    case EMR_GRADIENTFILL:
        if (const auto described = Read<emf::GradientFillRecord>(record)) {
            gradientVertices_ += described->mesh.vertices.count;
            gradientPieces_ += described->mesh.pieces.count;
            if (gradientVertices_ > kMaxGradientVertices)
                return Fail(Limit::GradientVertices);
            if (gradientPieces_ > kMaxGradientPieces)
                return Fail(Limit::GradientPieces);
            bytes_ += record.nSize + std::uint64_t{described->mesh.pieces.count} * kPatchBytes;
        }
        break;
    default:
        // The header and the records the player does not draw cost it nothing.
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

// What the playback of one page may make a device context hold and do, counted from the page's
// records before each is played. A context keeps a copy of its state for every SaveDC and a clip
// region of every clip path in force for every SelectClipPath: a page of a few kilobytes nesting
// thousands of clips would make it hold gigabytes. A playback consults these limits and stops the
// page at the first record past one of them.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::gdi {

class PlaybackLimits final {
public:
    // States saved at once (SaveDC not yet restored).
    static constexpr std::uint64_t kMaxSavedStates = 4096;
    // Clip paths in force at once, and their points: every drawing is clipped by all of them.
    static constexpr std::uint64_t kMaxClipPaths = 1024;
    static constexpr std::uint64_t kMaxClipPoints = 1'000'000;
    // Objects (pens, brushes, fonts) made by one page.
    static constexpr std::uint64_t kMaxObjects = 1'000'000;
    // Path points of one page.
    static constexpr std::uint64_t kMaxPoints = 8'000'000;
    // GradientFill vertices and pieces (triangles, rectangles) of one page: a printer holds each
    // piece as a patch of a mesh until the page is done.
    static constexpr std::uint64_t kMaxGradientVertices = 2'000'000;
    static constexpr std::uint64_t kMaxGradientPieces = 500'000;
    // Bytes the context holds for the page: saved states with their paths, clip regions, and the
    // pictures and gradient meshes the device keeps until the page is done.
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{256} << 20;

    enum class Limit {
        None,
        SavedStates,
        ClipPaths,
        ClipPoints,
        Objects,
        Points,
        GradientVertices,
        GradientPieces,
        Bytes
    };

    // Counts one record (whose nSize the caller has checked to lie within the metafile); false when
    // it passes a limit, and for every record after that one.
    bool Admit(const ENHMETARECORD& record);
    // The limit passed; None while the page is within them all.
    Limit Passed() const { return passed_; }
    // The limit in words, with its figure ("1024 clip paths in force"); empty for None.
    static std::string Describe(Limit limit);

private:
    // What one level of the saved-state stack holds.
    struct Level {
        std::uint64_t clipPaths = 0;
        std::uint64_t clipPoints = 0;
        std::uint64_t bytes = 0; // its saved state and the clip region it made
        std::uint64_t regionBytes = 0;
    };

    void Restore(std::int64_t relative);
    void SelectClip(std::uint32_t mode);
    bool Fail(Limit limit);

    Level current_;
    std::vector<Level> saved_;
    bool inPath_ = false;          // a path bracket is open
    std::uint64_t pathPoints_ = 0; // of the path being built
    std::uint64_t points_ = 0;
    std::uint64_t objects_ = 0;
    std::uint64_t gradientVertices_ = 0;
    std::uint64_t gradientPieces_ = 0;
    std::uint64_t bytes_ = 0; // the levels' bytes and the pictures'
    Limit passed_ = Limit::None;
};

} // namespace platform::gdi

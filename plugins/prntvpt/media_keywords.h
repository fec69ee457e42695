// The Print Schema's standard media size keywords and the sheets they name.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace prntvpt {

struct MediaKeyword {
    std::string_view name; // local name in the keywords namespace
    std::int32_t width;    // microns
    std::int32_t height;   // microns
};

// Two sizes closer than this are the same sheet: the spooler lists sheets in tenths of a
// millimetre, so a keyword's exact microns can be up to this far from the listed size.
constexpr std::int32_t kSizeToleranceMicrons = 100;

// Whether two sheet sizes (microns) name the same sheet in the same orientation.
bool SameSheetSize(std::int32_t widthA, std::int32_t heightA, std::int32_t widthB, std::int32_t heightB);

// The keyword of a sheet of this size (microns), if it is a standard one.
std::optional<MediaKeyword> MediaKeywordBySize(std::int32_t width, std::int32_t height);

// The keyword with this local name, if it is one of the standard sizes.
std::optional<MediaKeyword> MediaKeywordByName(std::string_view name);

} // namespace prntvpt

// Standard media size keywords, with the rotated forms that some tickets use.
#include "plugins/prntvpt/media_keywords.h"

#include <array>
#include <cstdlib>

namespace prntvpt {
namespace {

constexpr std::array kKeywords = {
    MediaKeyword{"NorthAmericaLetter", 215900, 279400},
    MediaKeyword{"NorthAmericaTabloid", 279400, 431800},
    MediaKeyword{"NorthAmericaLegal", 215900, 355600},
    MediaKeyword{"NorthAmericaStatement", 139700, 215900},
    MediaKeyword{"NorthAmericaExecutive", 184150, 266700},
    MediaKeyword{"ISOA3", 297000, 420000},
    MediaKeyword{"ISOA4", 210000, 297000},
    MediaKeyword{"ISOA5", 148000, 210000},
    MediaKeyword{"ISOA6", 105000, 148000},
    MediaKeyword{"NorthAmericaNumber10Envelope", 104775, 241300},
    MediaKeyword{"ISODLEnvelope", 110000, 220000},
    MediaKeyword{"ISOC5Envelope", 162000, 229000},
    MediaKeyword{"JapanHagakiPostcard", 100000, 148000},
    MediaKeyword{"NorthAmerica4x6", 101600, 152400},
    MediaKeyword{"NorthAmerica5x7", 127000, 177800},
    MediaKeyword{"NorthAmerica8x10", 203200, 254000},
    MediaKeyword{"JapanLPhoto", 89000, 127000},
    MediaKeyword{"Japan2LPhoto", 127000, 178000},
    MediaKeyword{"NorthAmericaLetterRotated", 279400, 215900},
    MediaKeyword{"NorthAmericaLegalRotated", 355600, 215900},
    MediaKeyword{"ISOA3Rotated", 420000, 297000},
    MediaKeyword{"ISOA4Rotated", 297000, 210000},
    MediaKeyword{"ISOA5Rotated", 210000, 148000},
    MediaKeyword{"ISOA6Rotated", 148000, 105000},
};

} // namespace

// Whether two sheet sizes (microns) name the same sheet in the same orientation.
bool SameSheetSize(std::int32_t widthA, std::int32_t heightA, std::int32_t widthB, std::int32_t heightB)
{
    return std::llabs(std::int64_t{widthA} - widthB) <= kSizeToleranceMicrons
        && std::llabs(std::int64_t{heightA} - heightB) <= kSizeToleranceMicrons;
}

// The keyword of a sheet of this size (microns), if it is a standard one.
std::optional<MediaKeyword> MediaKeywordBySize(std::int32_t width, std::int32_t height)
{
    for (const MediaKeyword& keyword : kKeywords) {
        if (SameSheetSize(width, height, keyword.width, keyword.height)) {
            return keyword;
        }
    }
    return std::nullopt;
}

// The keyword with this local name, if it is one of the standard sizes.
std::optional<MediaKeyword> MediaKeywordByName(std::string_view name)
{
    for (const MediaKeyword& keyword : kKeywords) {
        if (keyword.name == name) {
            return keyword;
        }
    }
    return std::nullopt;
}

} // namespace prntvpt

// Print Schema names shared by the provider's readers and writers: namespaces, qualified names,
// the level a feature belongs to, and the document limits.
#pragma once

#include "platform/prntvpt/prntvpt.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace prntvpt {

inline constexpr std::string_view kFrameworkNs
    = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
inline constexpr std::string_view kKeywordsNs
    = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
inline constexpr std::string_view kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view kXsdNs = "http://www.w3.org/2001/XMLSchema";
// Names this provider gives to what the public keywords do not cover (a second paper of a
// standard size, resolution options, the borderless indication of a paper).
inline constexpr std::string_view kPrivateNs = "urn:quillontool:printschema:2026";

// A ticket or capabilities document larger than this is refused unread.
constexpr std::size_t kMaxDocumentBytes = std::size_t{16} << 20;

// A name resolved to its namespace: prefixes are only the document's spelling of it.
struct QName {
    std::string ns;
    std::string local;

    bool operator==(const QName&) const = default;
};

inline QName Psf(std::string_view local)
{
    return {std::string(kFrameworkNs), std::string(local)};
}
inline QName Psk(std::string_view local)
{
    return {std::string(kKeywordsNs), std::string(local)};
}
inline QName Xsd(std::string_view local)
{
    return {std::string(kXsdNs), std::string(local)};
}
inline QName Private(std::string_view local)
{
    return {std::string(kPrivateNs), std::string(local)};
}

// The level a feature or parameter acts on, told by the prefix of its name.
enum class Level { Job, Document, Page, Other };

// The level of a feature or parameter name ("JobCopiesAllDocuments" is Job-level).
Level LevelOf(const QName& name);

// Whether a ticket of this scope carries settings of this level. Names of no known level are
// carried by every scope.
bool InScope(Level level, EPrintTicketScope scope);

} // namespace prntvpt

// Levels of Print Schema names.
#include "plugins/prntvpt/schema.h"

namespace prntvpt {

// The level of a feature or parameter name, from the prefix of its local part.
Level LevelOf(const QName& name)
{
    const std::string_view local = name.local;
    if (local.starts_with("Job")) {
        return Level::Job;
    }
    if (local.starts_with("Document")) {
        return Level::Document;
    }
    if (local.starts_with("Page")) {
        return Level::Page;
    }
    return Level::Other;
}

// Whether a ticket of this scope carries settings of this level.
bool InScope(Level level, EPrintTicketScope scope)
{
    switch (level) {
    case Level::Job:
        return scope == kPTJobScope;
    case Level::Document:
        return scope == kPTJobScope || scope == kPTDocumentScope;
    case Level::Page:
    case Level::Other:
        return true;
    }
    return true;
}

} // namespace prntvpt

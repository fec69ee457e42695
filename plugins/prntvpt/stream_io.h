// Moving documents in and out of the caller's streams.
#pragma once

#include "platform/com/com.h"

#include <string>
#include <string_view>

namespace prntvpt {

enum class StreamRead { Ok, TooLarge, Failed };

// Reads from the stream's current position to its end into `out`; more than `limit` bytes is
// TooLarge (the rest is left unread), a failing Read is Failed.
StreamRead ReadWholeStream(IStream& stream, std::size_t limit, std::string& out);

// Writes all of `bytes` at the stream's current position.
HRESULT WriteWholeStream(IStream& stream, std::string_view bytes);

} // namespace prntvpt

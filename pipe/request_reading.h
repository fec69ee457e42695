// Reading one request message from the service's pipe, chunk by chunk, into the handler's buffer.
#pragma once

#include "platform/win32.h"

#include <string>

namespace aio {

// The text of one chunk read into the buffer: its whole code units, a final odd byte as a unit of
// its own, cut at the first zero unit. Bounded by the bytes read, so neither the end of the buffer
// nor the stale tail of an earlier, longer chunk is ever taken.
std::u16string ChunkText(const BYTE* buffer, DWORD bytesRead);

// Reads the request message from a pipe in message mode into `buffer`; a message longer than the
// buffer arrives in chunks (each echoed on the console), and the request is the text of the last
// of them. False after a console message when the pipe cannot be read.
bool ReadRequest(HANDLE pipe, BYTE* buffer, DWORD bufferSize, std::u16string& request);

} // namespace aio

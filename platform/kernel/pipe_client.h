// The client end of a named pipe: a Unix SOCK_SEQPACKET socket that keeps message boundaries.
#pragma once

#include "platform/win32.h"

#include <string_view>

namespace platform::kernel {

// True when the path names a pipe: it starts with \\.\pipe\ (in any case).
bool HasPipePrefix(std::u16string_view path);
// The NAME of \\.\pipe\NAME, or the text itself when it has no such prefix.
std::u16string_view PipeNameOf(std::u16string_view text);
// True when NAME can be a socket file name: not empty, not "." or "..", no "/" and no zero.
bool IsUsablePipeName(std::u16string_view name);

// Connects to \\.\pipe\NAME as a client; INVALID_HANDLE_VALUE with the last error on failure.
HANDLE OpenPipeClient(std::u16string_view pipePath);

} // namespace platform::kernel

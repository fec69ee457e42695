// The tool's entry: log set-up, start banner and the dispatch of the command-line switch.
#pragma once

#include "platform/win32.h"

namespace aio {

// The fallback log root when the data folder cannot be named.
inline constexpr const char* kFallbackLogRoot = "D:\\OrvelConnectorTool";

// Runs the tool for a UTF-16 argument vector; always returns 0.
int QuillonToolMain(int argc, WCHAR** argv);

} // namespace aio

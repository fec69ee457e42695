// The few places where this platform layer meets the Linux host directly.
// Tool code uses these only where a third-party library (Boost.Log, Boost.Filesystem)
// touches the file system itself, outside the Windows interfaces of this layer.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The machine root: the folder named by QUILLON_ROOT, or "/". Absolute, no trailing "/" (except "/").
std::string RootFolder();

// The native (UTF-8) path of a Windows-style path, the one place where paths are mapped: every "\"
// is a separator ("/"), and drive paths such as D:\X map to <root>/mnt/d/X. Every platform call
// that takes a path goes through this.
std::string NativePath(std::u16string_view path);

// What UTF-16 to UTF-8 does with noncharacters (U+FDD0 to U+FDEF, and the last two code points
// of every plane): keeps them, or replaces them with U+FFFD for readers that refuse them.
enum class Noncharacters { Keep, Replace };
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text, Noncharacters noncharacters = Noncharacters::Keep);
// Strict UTF-8 to UTF-16; on malformed input returns false and leaves out untouched.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// The Unix socket that stands for the named pipe \\.\pipe\NAME: <root>/run/quillon/pipe/NAME.
// Takes NAME or the whole \\.\pipe\NAME. Empty for a NAME that cannot be a file name there
// (empty, ".", "..", or holding "/").
std::string PipeSocketPath(std::u16string_view pipeName);

// Folder of the running executable (native path, no trailing "/").
std::string ExecutableFolder();

// Where a test must catch a job in the middle of its document (a printer ends a page): when the
// variable QUILLON_HOLD_AFTER_PAGE names a file, the first call of the process writes the process
// id into that file and returns only once the file is removed. Does nothing otherwise.
void HoldAfterPageIfAsked();

} // namespace platform

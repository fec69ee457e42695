// What every fuzz program shares: a private machine root with the sample printers, and a quiet
// console, so that each input runs against the real code exactly as the tool would run it.
#pragma once

#include "platform/gdi/gdi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace fuzz {

// Makes a fresh machine root below the temporary folder (QUILLON_ROOT), with the repository's
// sample printers installed and a CUPS server named that never answers; removed at exit.
// Returns its native path.
const std::string& UsePrivateRoot();

// Sends the console output of the code under test (its echo of requests and replies) and its log
// nowhere: only the fuzzer's own report reaches the terminal.
void SilenceConsole();

// Opens a fresh device context on the sample printer `printer`, starts a document and hands the
// context to `print`; the document is then aborted, so nothing reaches the spool folder, and the
// context deleted. A fresh context for every input keeps one input's state from reaching the next.
void PrintAndThrowAway(const char16_t* printer, const std::function<void(HDC)>& print);

// Registers the machine's DejaVu Sans as the process's first private font, so that a metafile
// naming its face ("QuillonFont1", SampleFontFace) draws text. False when the font is missing.
bool RegisterSampleFont();
inline constexpr char16_t SampleFontFace[] = u"QuillonFont1";

// Writes `bytes` to the native file `path`, replacing it; false when it cannot be written.
bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace fuzz

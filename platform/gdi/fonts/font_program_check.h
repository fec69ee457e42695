// Checks a font program before a process takes it. A print job's PDF embeds subsets of the fonts
// its pages use, and cairo makes the subset of a Type 1 program by following its charstrings'
// subroutine calls as they stand, one level of its own stack for each: a subroutine that calls
// itself (or two that call each other), which FreeType draws without complaint, ends the process
// when the job is finished. So a Type 1 program is walked here first, and one whose calls nest
// deeper than Type 1 allows, loop, or cannot be followed is refused; a process that refuses it
// draws that font's glyphs as outlines. Other kinds of program pass unlooked at.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <span>

namespace platform::gdi {

// Subroutine calls may nest this deep (the depth Type 1 itself allows).
constexpr int kMaxSubroutineNesting = 10;
// Subroutines and charstrings of one program at most.
constexpr std::size_t kMaxCharstrings = 65536;

// Whether the program may be taken: true for a Type 1 program (PFA or PFB) whose every charstring
// and subroutine can be followed within the nesting above, and for a program of another kind.
bool FontProgramCanBeEmbedded(std::span<const BYTE> program);

} // namespace platform::gdi

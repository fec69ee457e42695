// Notes a renderer leaves for the printer inside a page's drawing. A note is an 8-byte GDI
// comment, the size a metafile player hands on to the printer unchanged: a signature of its own
// (distinct from the tool's page marks) and a value. It carries no drawing.
#pragma once

#include "platform/win32.h"

namespace platform::gdi {

// "QPIC" read as a little-endian 32-bit value.
constexpr DWORD kPageNoteSignature = 0x43495051u;
// The page that carries this note was drawn as a picture (pixels), not as vectors and text.
constexpr DWORD kPageNotePicture = 1;
// An area of the page that carries this note was painted as pixels over its vectors and text (one
// note an area; the page itself is no picture page).
constexpr DWORD kPageNoteRegion = 2;

} // namespace platform::gdi

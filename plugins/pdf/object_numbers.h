// The object numbers a document declares, checked against what its bytes could hold before the
// PDF library reads them: the library makes a cross-reference entry (about 40 bytes) for every
// number up to the highest one declared, so a file of a few hundred bytes declaring 3·10^7 objects
// would cost more than a gigabyte before a page is looked at.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pdf {

// Object numbers a document may declare: one per byte of the file (an object takes more than a
// byte, even compressed in an object stream), at least kMinObjectNumbers, at most kMaxObjectNumbers.
constexpr std::uint64_t kMinObjectNumbers = 4096;
constexpr std::uint64_t kMaxObjectNumbers = std::uint64_t{1} << 23;

// The object numbers a document of `size` bytes may declare.
std::uint64_t MaxObjectNumbers(std::size_t size);

// Whether the bytes declare more object numbers than MaxObjectNumbers of their size: an object
// numbered past it ("N 0 obj", which a damaged document's rebuilt table takes), a cross-reference
// subsection reaching past it ("xref" FIRST COUNT), or a /Size or /Index of a trailer or a
// cross-reference stream that does.
bool DeclaresTooManyObjects(std::span<const BYTE> bytes);

} // namespace pdf

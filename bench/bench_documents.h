// Documents the benchmarks print, made with cairo on the spot.
#pragma once

#include <string>

namespace bench {

// Letter pages set like a manual: 9-point serif text, 70 lines of about 100 characters.
std::string TextDocument(int pages);

// One Letter page filled by a 6000 × 4000 photograph-like JPEG, embedded as it is.
std::string PictureDocument();

} // namespace bench

// What routes a print job: the content types that go to the picture path, the job options the
// picture path reads, and the document name of a job that names none.
#pragma once

#include <string>

namespace aio {

inline constexpr char kPaperSizeAutoOption[] = "PaperSizeAuto";
inline constexpr char kShrinkToFitOption[] = "ShrinkToFit";
inline constexpr char16_t kDefaultDocumentName[] = u"FromMarlowin";

// True when the content type is exactly one of the picture types the picture path draws
// ("image/jpeg", "image/png", "image/bmp", "image/tiff", "image/gif"): compared byte for byte, so
// case, parameters and aliases all send a job to the document path.
bool IsImageMimeType(const std::string& mime_type);

} // namespace aio

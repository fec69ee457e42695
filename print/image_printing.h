// The placement rule of the picture path.
#pragma once

#include "platform/gdiplus/gdiplus.h"

namespace aio {

// Makes the source rectangle (picture pixels) and the destination rectangle (a box on the page)
// agree in proportions. With `shrink_to_fit` the destination narrows to the picture's proportions,
// centred, so the whole picture shows between two empty bands; otherwise the source narrows,
// centred, so the picture covers the box and its overflow is cut equally on both sides.
void FitRects(Gdiplus::RectF& source, Gdiplus::RectF& destination, bool shrink_to_fit);

} // namespace aio

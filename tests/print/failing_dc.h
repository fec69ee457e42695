// Device contexts and job calls that fail on request: this test program's own CreateDCW, StartPage,
// EndPage, EndDoc and GdipDrawImageRectRect stand in front of the platform's and pass every call
// on, except the ones asked to fail.
#pragma once

#include <string>

namespace print_test {

// CreateDCW answers as if the printer had gone once `calls` more contexts have been made (-1: never).
void FailDeviceContextsAfter(int calls);

// The next call of the function of this name (StartPage, EndPage, EndDoc or GdipDrawImageRectRect)
// fails as on a printer whose disk is full, or on a picture that cannot be drawn; "" fails none.
void FailNextCall(const std::string& name);

} // namespace print_test

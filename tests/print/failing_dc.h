// Device contexts that cannot be made, on request: this test program's own CreateDCW stands in
// front of the platform's and answers as if the printer had gone once `calls` more contexts have
// been made (-1: never).
#pragma once

namespace print_test {

void FailDeviceContextsAfter(int calls);

} // namespace print_test

// Read-only views into COM state that tests use to prove the tool balances its calls.
#pragma once

namespace platform::com_test {

// How many successful CoInitializeEx calls of the calling thread are not yet matched by a
// CoUninitialize (0 when the thread is in no apartment).
unsigned ApartmentDepth();

} // namespace platform::com_test

// COM apartments: each thread belongs to at most one kind of apartment at a time, entered by its
// first CoInitializeEx and left by the CoUninitialize that balances the last successful one.
#include "platform/com/com.h"
#include "platform/com/com_test_hooks.h"

namespace {

// Flags that only tune a real COM runtime (no OLE1 DDE window, speed over memory) are accepted.
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;
constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

struct Apartment {
    DWORD kind = COINIT_MULTITHREADED; // meaningful only while depth > 0
    unsigned depth = 0;
};

thread_local Apartment currentApartment;

} // namespace

// Enters the calling thread into an apartment (see com.h for the answers).
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit)
{
    if (reserved != nullptr || (coInit & ~kKnownFlags) != 0) {
        return E_INVALIDARG;
    }
    const DWORD kind = coInit & COINIT_APARTMENTTHREADED;
    Apartment& apartment = currentApartment;
    if (apartment.depth == 0) {
        apartment.kind = kind;
        apartment.depth = 1;
        return S_OK;
    }
    if (apartment.kind != kind) {
        return RPC_E_CHANGED_MODE;
    }
    ++apartment.depth;
    return S_FALSE;
}

// Leaves one level of the calling thread's apartment; a thread in none is left alone.
void CoUninitialize()
{
    Apartment& apartment = currentApartment;
    if (apartment.depth > 0) {
        --apartment.depth;
    }
}

namespace platform::com_test {

// Unmatched successful CoInitializeEx calls of the calling thread.
unsigned ApartmentDepth()
{
    return currentApartment.depth;
}

} // namespace platform::com_test

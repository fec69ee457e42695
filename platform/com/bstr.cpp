// BSTR: UTF-16 text preceded by its length in bytes (a 32-bit value) and followed by a zero unit.
#include "platform/com/com.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using Prefix = std::uint32_t;
// The length prefix counts bytes in 32 bits; longer text cannot be represented.
constexpr std::size_t kMaxUnits = UINT32_MAX / sizeof(WCHAR);

} // namespace

// Allocates a BSTR copy of zero-terminated text (null for null input or when memory runs out).
BSTR SysAllocString(const WCHAR* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    std::size_t units = 0;
    while (text[units] != 0) {
        if (++units > kMaxUnits) {
            return nullptr;
        }
    }
    const std::size_t bytes = units * sizeof(WCHAR);
    auto* block = static_cast<std::byte*>(std::malloc(sizeof(Prefix) + bytes + sizeof(WCHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    const Prefix prefix = static_cast<Prefix>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    auto* result = reinterpret_cast<BSTR>(block + sizeof(Prefix));
    std::memcpy(result, text, bytes);
    result[units] = 0;
    return result;
}

// Frees a BSTR; null is allowed.
void SysFreeString(BSTR text)
{
    if (text != nullptr) {
        std::free(reinterpret_cast<std::byte*>(text) - sizeof(Prefix));
    }
}

// Length of a BSTR in code units (0 for null).
UINT SysStringLen(BSTR text)
{
    if (text == nullptr) {
        return 0;
    }
    Prefix bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const std::byte*>(text) - sizeof(Prefix), sizeof bytes);
    return bytes / sizeof(WCHAR);
}

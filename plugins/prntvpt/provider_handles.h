// Provider handles and the memory handed to callers: both are tables, so a stale or made-up
// handle or pointer is refused instead of being followed.
#pragma once

#include "plugins/prntvpt/printer_model.h"

#include <memory>
#include <string>

namespace prntvpt {

// An open provider: the printer it was opened for, as the registry described it then.
struct Provider {
    std::u16string printerName;
    PrinterModel model;
};

// At most this many providers may be open at once in a process.
constexpr std::size_t kMaxOpenProviders = 4096;

// Registers a provider; null when the table is full.
HPTPROVIDER AddProvider(std::shared_ptr<const Provider> provider);
// The provider behind a handle, or null for anything that is not an open provider handle.
std::shared_ptr<const Provider> FindProvider(HPTPROVIDER handle);
// Closes a handle; false when it is not an open provider handle.
bool RemoveProvider(HPTPROVIDER handle);

// Allocates memory that the caller later gives back through ReleaseCallerMemory.
void* AllocateCallerMemory(std::size_t bytes);
// Frees memory from AllocateCallerMemory; false (and nothing freed) for any other pointer.
bool ReleaseCallerMemory(void* memory);

} // namespace prntvpt

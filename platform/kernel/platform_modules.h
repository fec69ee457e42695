// Libraries of the platform that a process loads only when it first needs them, as a Windows
// program delay-loads a DLL: the CUPS side of the printer registry and the drawing side of GDI
// pull in large libraries (libcups with its TLS and Kerberos stack; cairo, gdk-pixbuf, FreeType)
// that a capabilities query on a virtual printer never uses.
#pragma once

namespace platform {

// The entry `entry` of the platform library `fileName`, loaded (once, for the life of the process)
// from the folder of the platform library itself: the two are always built and installed side by
// side. Null, said once on standard error, when the library or its entry cannot be found.
void* PlatformModuleEntry(const char* fileName, const char* entry);

// The table of calls a platform library hands out from its entry `entry` (a function answering a
// pointer to it); null when the library or its entry cannot be found.
template <typename Table>
const Table* PlatformModuleTable(const char* fileName, const char* entry)
{
    void* found = PlatformModuleEntry(fileName, entry);
    return found ? reinterpret_cast<const Table* (*)()>(found)() : nullptr;
}

} // namespace platform

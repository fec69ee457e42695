#include "pipe/request_reading.h"

#include "pipe/text_conversions.h"

#include "platform/crt/crt.h"
#include "platform/kernel/kernel.h"

#include <algorithm>

namespace aio {

std::u16string ChunkText(const BYTE* buffer, DWORD bytesRead)
{
    std::u16string text;
    text.reserve((bytesRead + 1) / 2);
    for (DWORD i = 0; i < bytesRead; i += 2) {
        const char16_t low = buffer[i];
        const char16_t high = i + 1 < bytesRead ? buffer[i + 1] : 0;
        const char16_t unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

bool ReadRequest(HANDLE pipe, BYTE* buffer, DWORD bufferSize, std::u16string& request)
{
    std::fill(buffer, buffer + bufferSize, BYTE{0});
    for (;;) {
        DWORD bytesRead = 0;
        const BOOL ok = ReadFile(pipe, buffer, bufferSize, &bytesRead, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error != ERROR_MORE_DATA) {
            wprintf(u"ReadFile from pipe failed w/err 0x%08lx\n", static_cast<unsigned long>(error));
            return false;
        }
        request = ChunkText(buffer, bytesRead);
        wprintf(u"Receive %ld bytes from server: \"%s\"\n", static_cast<long>(bytesRead), ConsoleText(request).c_str());
        if (ok)
            return true;
    }
}

} // namespace aio

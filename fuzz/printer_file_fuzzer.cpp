// A printer definition file: the input is the file's text, read as the printer registry reads it.
#include "platform/spooler/printer_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The registry refuses larger files unread; the parser is given whatever it is handed.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::spooler::ParsePrinterFile(text);
    return 0;
}

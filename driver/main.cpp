// The process entry: hands the command line to the tool as UTF-16, as a wide-character Windows
// console program receives it.
#include "driver/entry.h"
#include "platform/kernel/kernel.h"

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::u16string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        const int length = static_cast<int>(std::strlen(argv[i]));
        std::u16string wide;
        if (length > 0) {
            // Bytes that are not UTF-8 arrive as U+FFFD rather than stopping the tool.
            wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, argv[i], length, nullptr, 0)));
            MultiByteToWideChar(CP_UTF8, 0, argv[i], length, wide.data(), static_cast<int>(wide.size()));
        }
        arguments.push_back(std::move(wide));
    }
    std::vector<WCHAR*> wideArgv;
    for (std::u16string& argument : arguments)
        wideArgv.push_back(argument.data());
    wideArgv.push_back(nullptr);
    return aio::QuillonToolMain(argc, wideArgv.data());
}

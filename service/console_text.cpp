#include "service/console_text.h"

#include <iostream>
#include <string>

namespace quillon::service {

void SayOnConsole(std::string_view message)
{
    std::cerr << "quillon-service: " + ConsoleText(message) + "\n" << std::flush;
}

} // namespace quillon::service

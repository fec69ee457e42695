#include "driver/entry.h"

#include "driver/log_sink.h"
#include "pipe/pipe_handlers.h"
#include "pipe/text_conversions.h"
#include "platform/crt/crt.h"
#include "spool/temp_files.h"

namespace aio {

namespace {

struct Command {
    const WCHAR* option;
    const char* log_line;
    int (*handler)();
};

constexpr Command kCommands[] = {
    {u"-a", "In QuillonTool, PerformGetCapabilities", PerformGetCapabilities},
    {u"-b", "In QuillonTool, PerformGetTicket", PerformGetTicket},
    {u"-c", "In QuillonTool, PerformPrintJob", PerformPrintJob},
};

} // namespace

int QuillonToolMain(int argc, WCHAR** argv)
{
    WidePath dataFolder;
    const std::string logRoot
        = GetDataFolderPath(dataFolder) == 0 ? NarrowText(dataFolder.Text()) : std::string(kFallbackLogRoot);
    ConfigureLogging(logRoot, ParseSeverityLevel("debug"));

    QLOG(base::info) << "";
    QLOG(base::info) << "--";
    QLOG(base::info) << "-----";
    QLOG(base::info) << "Velmar Quillon Tool log";

    if (argc < 2 || argv == nullptr || argv[1] == nullptr)
        return 0;

    for (const Command& command : kCommands) {
        if (_wcsicmp(argv[1], command.option) == 0) {
            QLOG(base::info) << command.log_line;
            command.handler();
            return 0;
        }
    }
    QLOG(base::info) << "In QuillonTool, find invalid parameter";
    return 0;
}

} // namespace aio

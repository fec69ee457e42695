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
    const bool named = GetDataFolderPath(dataFolder) == 0;
    const std::string logRoot = named ? NarrowText(dataFolder.Text()) : std::string(kFallbackLogRoot);
    const base::severity_level minimum = ParseSeverityLevel("debug");
    // 8-bit text carries the folder unchanged unless it holds a character above U+00FF; such a
    // character would be cut off and the log would land in some other folder, outside the data
    // folder, so that folder goes to the log set-up as it is.
    if (named && WidenText(logRoot) != dataFolder.Text())
        ConfigureLogging(dataFolder.Text(), minimum);
    else
        ConfigureLogging(logRoot, minimum);

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

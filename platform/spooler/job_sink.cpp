#include "platform/spooler/job_sink.h"

namespace platform::spooler {

std::unique_ptr<JobSink> MakeJobSink(const PrinterDefinition& printer, const FullDevMode& devMode)
{
    switch (printer.Source()) {
    case PrinterSource::Cups:
        return MakeCupsJobSink(printer, devMode);
    case PrinterSource::File:
        break;
    }
    return MakeVirtualPrinterSink(printer, devMode);
}

} // namespace platform::spooler

#include "platform/spooler/job_sink.h"

#include "platform/spooler/cups_source.h"

namespace platform::spooler {

std::unique_ptr<JobSink> MakeJobSink(const PrinterDefinition& printer, const FullDevMode& devMode)
{
    switch (printer.Source()) {
    case PrinterSource::Cups:
        // A queue's printer was read through the CUPS source, which is therefore loaded.
        if (const CupsSource* cups = Cups())
            return cups->makeJobSink(printer, devMode);
        break;
    case PrinterSource::File:
        break;
    }
    return MakeVirtualPrinterSink(printer, devMode);
}

} // namespace platform::spooler

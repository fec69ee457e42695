// The CUPS side of the printer registry: queues as printers and their jobs. It lives in a library
// of its own, libquillon_cups.so, that the platform loads the first time a printer is asked for
// that no printer file defines, or the printers are listed: a virtual printer's process never
// loads libcups.
#pragma once

#include "platform/spooler/job_sink.h"
#include "platform/spooler/printer_definition.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace platform::spooler {

struct CupsSource {
    // The printer of the queue with exactly this name (UTF-8), if the server has one.
    std::optional<PrinterDefinition> (*findPrinter)(std::string_view name);
    // The printers of every queue the server lists.
    std::vector<PrinterDefinition> (*printers)();
    // The sink of a job on a queue's printer.
    std::unique_ptr<JobSink> (*makeJobSink)(const PrinterDefinition& printer, const FullDevMode& devMode);
};

// The CUPS source, its library loaded on first use; null (said once on standard error) when the
// library cannot be loaded: there are then no CUPS queues.
const CupsSource* Cups();

} // namespace platform::spooler

// The one entry of libquillon_cups.so.
extern "C" const platform::spooler::CupsSource* QuillonCupsSource();

// Where a printer's finished documents go. A printer device context writes each document as a PDF
// into a private file the sink opens for it; the sink gives the job its id, hands the finished
// document to the printer, or throws an unfinished one away. Each source of printers has its own
// kind of sink; the device context never asks which one it has.
#pragma once

#include "platform/spooler/devmode.h"

#include <memory>
#include <string>

namespace platform::spooler {

// What a finished job says about itself beside its document.
struct JobDescription {
    std::u16string documentName;
    int pages = 0;
    int picturePages = 0;   // pages a renderer said it drew as pictures, not as vectors and text
    int pictureRegions = 0; // areas a renderer said it painted as pixels over vectors and text
};

class JobSink {
public:
    virtual ~JobSink() = default;

    // Takes the printer's next job id for a document of this name and opens the private file the
    // document is written to. The id (> 0), or SP_ERROR with the last error set.
    virtual int Start(const std::u16string& documentName) = 0;
    // The open file the document's PDF is written to, between Start and Finish or Discard.
    virtual int DocumentFile() const = 0;
    // Hands the finished document (its file complete) to the printer; false with the last error
    // set, and then nothing of the job is left. A document without pages is thrown away instead
    // (true): there is nothing to print, so no job is made of it.
    virtual bool Finish(const JobDescription& description) = 0;
    // Throws a started job away: nothing of it stays behind.
    virtual void Discard() = 0;
    // Says on standard error why the document cannot be written (errno value error): the job then
    // fails, and this line is the one place that tells why.
    virtual void ReportWriteFailure(int error) const = 0;
};

// The sink for a job of this printer, printed with this device mode: the one of the printer's source.
std::unique_ptr<JobSink> MakeJobSink(const PrinterDefinition& printer, const FullDevMode& devMode);

// The sink of each source.
std::unique_ptr<JobSink> MakeVirtualPrinterSink(const PrinterDefinition& printer, const FullDevMode& devMode);
std::unique_ptr<JobSink> MakeCupsJobSink(const PrinterDefinition& printer, const FullDevMode& devMode);

// Sweeps from a virtual printer's spool folder what jobs cut short left there (a hidden document
// or sidecar, a document without its sidecar) and nobody works on any more, as the printer's next
// job does when it starts. A name that is no folder's, or a folder missing or not trusted, sweeps
// nothing. Returns how many files were removed.
int SweepUnfinishedJobs(std::u16string_view printerName);

// The folder a virtual printer's jobs land in: <root>/var/spool/quillon/<printer name>.
std::string SpoolFolder(std::u16string_view printerName);

} // namespace platform::spooler

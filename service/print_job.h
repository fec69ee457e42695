// A print job as a person names it (printer, file, options) turned into the job the tool is sent,
// for `print` and for every line of `batch` alike.
#pragma once

#include "service/job_request.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillon::service {

// One job as given on the command line or on a line of a jobs file.
struct JobOrder {
    std::string printer;
    std::string file;
    std::optional<std::string> type;       // default: guessed from the file's first bytes
    std::optional<std::string> ticketFile; // default: the printer's default ticket, asked of the tool
    std::optional<std::string> name;       // default: the file's name
    std::vector<std::string> options;
};

// Fills job from the order: the file's absolute path, its content type, the document name and the
// options; the ticket stays empty. False with error set when a field cannot reach the tool intact
// or the file cannot be printed; every field but the ticket is then checked.
bool PreparePrintJob(const JobOrder& order, PrintJob& job, std::string& error);

// A print ticket file larger than this is refused: tickets are a few KiB of XML.
constexpr std::size_t kMaxTicketFileBytes = 512 * 1024;

// Reads a print ticket from a regular file of at most kMaxTicketFileBytes; false with a message
// for anything else (a device, a FIFO, a folder, a larger file), which is never waited on.
bool ReadTicketFile(const std::string& path, std::string& bytes, std::string& error);

// What a virtual printer holds of a job the tool answered for.
struct SpooledJob {
    bool virtualPrinter = false; // false: the printer is of another kind, and holds no files
    bool complete = false;       // the job's sidecar is there
    std::string document;        // the job's PDF, empty when there is none
};

// Looks for the job in the printer's spool folder. A job of a virtual printer that is not complete
// there was thrown away after the tool had its id: its document could not be written, say.
SpooledJob FindSpooledJob(const std::u16string& printer, const std::string& jobId);

// The tool's data folder (native), where its log folder and a document's page files are.
std::string ToolDataFolder();

// Sweeps what the tool of a print job on this printer left when it ended without its answer
// (killed, crashed or stopped): its page files in the data folder and its unfinished job in a
// virtual printer's spool folder, each only once nobody works on it any more.
void SweepJobLeftovers(const std::u16string& printer);

// The failure of a job that FindSpooledJob found incomplete.
std::string ThrownAwayMessage(const std::string& printer, const std::string& jobId);

} // namespace quillon::service

#include "platform/spooler/printer_registry.h"

#include "platform/kernel/host.h"
#include "platform/kernel/report_once.h"
#include "platform/spooler/cups_source.h"
#include "platform/spooler/printer_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDefinitionExtension = ".printer";

void ReportSkipped(const std::string& path, const std::string& fault)
{
    kernel::ReportOnce("printer definition " + path + " skipped: " + fault);
}

// Reads a definition file whole, refusing anything that is not a small regular file.
std::optional<std::string> ReadDefinitionText(const fs::path& path, std::string& fault)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fault = "cannot be opened";
        return std::nullopt;
    }
    std::string text(spooler::kMaxPrinterFileBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        fault = "cannot be read";
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

struct ReadDefinition {
    std::string path;
    PrinterDefinition printer;
};

std::vector<ReadDefinition> ReadFolder()
{
    std::vector<fs::path> files;
    std::error_code error;
    const fs::path folder(PrinterFolder());
    fs::directory_iterator entries(folder, error);
    if (error) {
        // No folder simply means no printers are installed.
        if (error != std::errc::no_such_file_or_directory)
            ReportSkipped(folder.string(), "the folder cannot be listed: " + error.message());
        return {};
    }
    while (entries != fs::directory_iterator()) {
        if (entries->path().extension() == kDefinitionExtension)
            files.push_back(entries->path());
        if (entries.increment(error); error)
            break;
    }
    if (error)
        ReportSkipped(folder.string(), "the folder cannot be listed whole: " + error.message());
    // File name order decides which of two files naming the same printer wins.
    std::sort(files.begin(), files.end());

    std::vector<ReadDefinition> definitions;
    for (const fs::path& path : files) {
        std::error_code statusError;
        if (!fs::is_regular_file(path, statusError)) {
            ReportSkipped(path.string(), "not a regular file");
            continue;
        }
        std::string fault;
        const auto text = ReadDefinitionText(path, fault);
        if (!text) {
            ReportSkipped(path.string(), fault);
            continue;
        }
        PrinterDefinitionResult result = spooler::ParsePrinterFile(*text);
        if (!result.printer) {
            ReportSkipped(path.string(), result.error);
            continue;
        }
        const auto same = std::find_if(definitions.begin(), definitions.end(), [&](const ReadDefinition& d) {
            return d.printer.Name() == result.printer->Name();
        });
        if (same != definitions.end()) {
            ReportSkipped(path.string(),
                          "the printer '" + Utf16ToUtf8(result.printer->Name()) + "' is already defined by "
                              + same->path);
            continue;
        }
        definitions.push_back({path.string(), std::move(*result.printer)});
    }
    return definitions;
}

} // namespace

// A virtual printer and a CUPS queue of the same name: the virtual printer is the printer, always.
// It is installed on this machine on purpose, and the answer then never depends on whether a CUPS
// server happens to be reachable.
std::optional<PrinterDefinition> FindPrinter(std::u16string_view name)
{
    if (name.empty())
        return std::nullopt;
    for (ReadDefinition& definition : ReadFolder()) {
        if (definition.printer.Name() == name)
            return std::move(definition.printer);
    }
    // Only a name no printer file defines is worth the CUPS library and a question to its server.
    const spooler::CupsSource* cups = spooler::Cups();
    return cups ? cups->findPrinter(Utf16ToUtf8(name)) : std::nullopt;
}

std::vector<PrinterDefinition> InstalledPrinters()
{
    std::vector<PrinterDefinition> printers;
    for (ReadDefinition& definition : ReadFolder())
        printers.push_back(std::move(definition.printer));
    const std::size_t virtualCount = printers.size();
    const spooler::CupsSource* cups = spooler::Cups();
    for (PrinterDefinition& queue : cups ? cups->printers() : std::vector<PrinterDefinition>()) {
        const auto end = printers.begin() + static_cast<std::ptrdiff_t>(virtualCount);
        if (std::any_of(printers.begin(), end, [&](const PrinterDefinition& p) { return p.Name() == queue.Name(); })) {
            kernel::ReportOnce("the CUPS queue " + Utf16ToUtf8(queue.Name())
                               + " is hidden by the virtual printer of the same name");
            continue;
        }
        printers.push_back(std::move(queue));
    }
    std::sort(printers.begin(), printers.end(),
              [](const PrinterDefinition& a, const PrinterDefinition& b) { return a.Name() < b.Name(); });
    return printers;
}

std::string PrinterFolder()
{
    std::string folder = RootFolder();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "etc/quillon/printers";
}

} // namespace platform

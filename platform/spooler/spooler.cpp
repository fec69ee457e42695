#include "platform/spooler/spooler.h"

#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"
#include "platform/spooler/devmode.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

using platform::PrinterDefinition;
namespace spooler = platform::spooler;

constexpr std::size_t kPaperNameUnits = 64; // one DC_PAPERNAMES slot
constexpr int kLandscapeRotation = 90;      // landscape turns the page 90 degrees counter-clockwise

// An open printer. Its handle lives in the platform's object table, so a stale or made-up handle
// is refused instead of being followed, and a handle value is never handed out twice. The handle
// keeps the definition as it was read when the printer was opened, so one job sees one printer
// even if its file changes meanwhile.
struct OpenPrinter {
    static constexpr platform::ObjectKind kObjectKind = platform::ObjectKind::Printer;
    PrinterDefinition definition;
};

std::optional<PrinterDefinition> FindOpenPrinter(HANDLE handle)
{
    const std::shared_ptr<OpenPrinter> printer = platform::FindObject<OpenPrinter>(handle);
    if (!printer)
        return std::nullopt;
    return printer->definition;
}

// The installed printer of a zero-terminated name; sets ERROR_INVALID_PRINTER_NAME when there is none.
std::optional<PrinterDefinition> PrinterOfName(LPCWSTR name)
{
    std::optional<PrinterDefinition> printer;
    if (name && *name)
        printer = platform::FindPrinter(std::u16string_view(name));
    if (!printer)
        SetLastError(ERROR_INVALID_PRINTER_NAME);
    return printer;
}

// The definition DeviceCapabilitiesW answers from: the first one this process read for the
// printer of that name on this machine, kept while the process lives. Callers size their buffers by
// one call and fill them with the next, and every reading of a printer file or request to a CUPS
// server may find the printer changed; a printer that gained papers in between would have its
// lists written past those buffers. A tool process does one job, so its job sees one printer.
std::optional<PrinterDefinition> SnapshotOfName(LPCWSTR name)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::u16string>, PrinterDefinition> snapshots;
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return std::nullopt;
    }
    std::pair<std::string, std::u16string> key{platform::RootFolder(), std::u16string(name)};
    const std::lock_guard lock(mutex);
    const auto known = snapshots.find(key);
    if (known != snapshots.end())
        return known->second;
    std::optional<PrinterDefinition> printer = PrinterOfName(name);
    if (printer)
        snapshots.emplace(std::move(key), *printer);
    return printer;
}

template <typename T>
void WriteEntry(LPWSTR output, std::size_t index, const T& value)
{
    std::memcpy(reinterpret_cast<BYTE*>(output) + index * sizeof(T), &value, sizeof(T));
}

// The smallest and largest sheet packed as Windows drivers answer DC_MINEXTENT and DC_MAXEXTENT:
// width in the low 16 bits, length in the high 16 bits of the returned value.
int PackExtent(std::int32_t width, std::int32_t length)
{
    return static_cast<int>((static_cast<std::uint32_t>(length) << 16) | (static_cast<std::uint32_t>(width) & 0xFFFFu));
}

} // namespace

BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, LPPRINTER_DEFAULTSW /*defaults*/)
{
    if (!printer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *printer = nullptr;
    std::optional<PrinterDefinition> definition = PrinterOfName(printerName);
    if (!definition)
        return FALSE;
    *printer = platform::AddObject<HANDLE>(std::make_shared<OpenPrinter>(OpenPrinter{std::move(*definition)}));
    return TRUE;
}

BOOL ClosePrinter(HANDLE printer)
{
    if (!platform::RemoveObject<OpenPrinter>(printer)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

LONG DocumentPropertiesW(HWND /*window*/, HANDLE printer, LPWSTR deviceName, PDEVMODEW devModeOutput,
                         PDEVMODEW devModeInput, DWORD mode)
{
    // A handle names the printer by itself, as on Windows: the device name is then only a label.
    std::optional<PrinterDefinition> definition;
    if (printer) {
        definition = FindOpenPrinter(printer);
        if (!definition) {
            SetLastError(ERROR_INVALID_HANDLE);
            return -1;
        }
    } else {
        definition = PrinterOfName(deviceName);
        if (!definition)
            return -1;
    }
    if (mode == 0)
        return static_cast<LONG>(spooler::kFullDevModeBytes);
    if (((mode & DM_OUT_BUFFER) && !devModeOutput) || ((mode & DM_IN_BUFFER) && !devModeInput)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }

    // There is no dialog to show: DM_IN_PROMPT is answered as if the settings were accepted.
    spooler::FullDevMode result = spooler::DefaultDevMode(*definition);
    if ((mode & DM_IN_BUFFER) && !spooler::MergeDevMode(*definition, *devModeInput, result)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (mode & DM_OUT_BUFFER)
        std::memcpy(devModeOutput, &result, sizeof result);
    return IDOK;
}

int DeviceCapabilitiesW(LPCWSTR device, LPCWSTR /*port*/, WORD capability, LPWSTR output, const DEVMODEW* /*devMode*/)
{
    // Every answer here is a property of the printer itself, the same for any device mode.
    const std::optional<PrinterDefinition> definition = SnapshotOfName(device);
    if (!definition)
        return -1;
    const PrinterDefinition& printer = *definition;
    const std::vector<platform::PaperDefinition>& papers = printer.Papers();
    const int paperCount = static_cast<int>(papers.size());

    switch (capability) {
    case DC_PAPERS:
        for (std::size_t i = 0; output && i < papers.size(); ++i)
            WriteEntry(output, i, static_cast<WORD>(papers[i].number));
        return paperCount;
    case DC_PAPERNAMES:
        for (std::size_t i = 0; output && i < papers.size(); ++i) {
            WCHAR slot[kPaperNameUnits] = {};
            const std::u16string& name = papers[i].name;
            std::copy_n(name.begin(), std::min(name.size(), kPaperNameUnits), slot);
            WriteEntry(output, i, slot);
        }
        return paperCount;
    case DC_PAPERSIZE:
        for (std::size_t i = 0; output && i < papers.size(); ++i)
            WriteEntry(output, i, POINT{papers[i].width, papers[i].length});
        return paperCount;
    case DC_ENUMRESOLUTIONS:
        for (std::size_t i = 0; output && i < printer.Resolutions().size(); ++i) {
            const LONG pair[2] = {printer.Resolutions()[i], printer.Resolutions()[i]};
            WriteEntry(output, i, pair);
        }
        return static_cast<int>(printer.Resolutions().size());
    case DC_MINEXTENT: {
        const platform::SheetExtent extent = printer.Extent();
        return PackExtent(extent.minWidth, extent.minLength);
    }
    case DC_MAXEXTENT: {
        const platform::SheetExtent extent = printer.Extent();
        return PackExtent(extent.maxWidth, extent.maxLength);
    }
    case DC_DUPLEX:
        return printer.Duplex() ? 1 : 0;
    case DC_COPIES:
        return printer.CopiesMax();
    case DC_COLORDEVICE:
        return printer.Color() ? 1 : 0;
    case DC_ORIENTATION:
        return kLandscapeRotation;
    case DC_COLLATE:
        return 1;
    case DC_SIZE:
        return static_cast<int>(sizeof(DEVMODEW));
    case DC_EXTRA:
        return static_cast<int>(sizeof(platform::QuillonDevModeExtra));
    case DC_FIELDS:
        return static_cast<int>(spooler::SupportedFields(printer));
    case DC_VERSION:
        return DM_SPECVERSION;
    default:
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
}

// The seven entry points of the Print Ticket API. Each checks its arguments first, answers bad
// input with a failure HRESULT (and a message when the caller asked for one), and never lets an
// exception out to the C caller.
#include "platform/kernel/host.h"
#include "platform/prntvpt/prntvpt.h"
#include "platform/spooler/printer_registry.h"
#include "plugins/prntvpt/capabilities_writer.h"
#include "plugins/prntvpt/devmode_mapping.h"
#include "plugins/prntvpt/provider_handles.h"
#include "plugins/prntvpt/stream_io.h"
#include "plugins/prntvpt/ticket_merge.h"
#include "plugins/prntvpt/ticket_reader.h"
#include "plugins/prntvpt/ticket_writer.h"

#include <libxml/parser.h>

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#define PRNTVPT_EXPORT extern "C" __attribute__((visibility("default")))

namespace prntvpt {
namespace {

constexpr DWORD kSchemaVersion = 1;
// The oldest public part of a device mode this provider reads: everything up to the form name.
constexpr std::size_t kOldestPublicPart = offsetof(DEVMODEW, dmFormName);

void InitXml()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// An enumeration argument as the integer the C caller passed: a value outside the enumeration
// must be refused, and reading it as the enumeration type would already be undefined.
template <typename Enum>
int RawValue(const Enum& value)
{
    int raw = 0;
    static_assert(sizeof raw == sizeof value);
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

bool ValidScope(int scope)
{
    return scope == kPTPageScope || scope == kPTDocumentScope || scope == kPTJobScope;
}

// Hands a message to the caller when it asked for one.
HRESULT Fail(HRESULT result, BSTR* errorMessage, std::string_view message)
{
    if (errorMessage != nullptr) {
        std::u16string text;
        if (!platform::Utf8ToUtf16(message, text)) {
            text.assign(message.begin(), message.end());
        }
        *errorMessage = SysAllocString(text.c_str());
    }
    return result;
}

void ClearMessage(BSTR* errorMessage)
{
    if (errorMessage != nullptr) {
        *errorMessage = nullptr;
    }
}

// A device mode laid out in memory that suits DEVMODEW (public part, then private part).
class DevModeBuffer final {
public:
    explicit DevModeBuffer(std::size_t bytes) : words_((bytes + sizeof(DWORD) - 1) / sizeof(DWORD)), bytes_(bytes) {}
    DEVMODEW* Get() { return reinterpret_cast<DEVMODEW*>(words_.data()); }
    std::size_t Size() const { return bytes_; }

private:
    std::vector<DWORD> words_;
    std::size_t bytes_;
};

// The printer's default device mode, as its spooler gives it.
std::optional<DevModeBuffer> PrinterDefault(const Provider& provider)
{
    std::u16string name = provider.printerName;
    const LONG size = DocumentPropertiesW(nullptr, nullptr, name.data(), nullptr, nullptr, 0);
    if (size < static_cast<LONG>(sizeof(DEVMODEW))) {
        return std::nullopt;
    }
    DevModeBuffer buffer(static_cast<std::size_t>(size));
    if (DocumentPropertiesW(nullptr, nullptr, name.data(), buffer.Get(), nullptr, DM_OUT_BUFFER) != IDOK) {
        return std::nullopt;
    }
    return buffer;
}

// Reads and parses a ticket from a caller's stream.
TicketReadResult ReadTicketStream(IStream& stream)
{
    std::string document;
    switch (ReadWholeStream(stream, kMaxDocumentBytes, document)) {
    case StreamRead::Ok:
        return ReadTicket(document);
    case StreamRead::TooLarge:
        return {std::nullopt, "the ticket is larger than the 16 MiB a ticket may have"};
    case StreamRead::Failed:
        break;
    }
    return {std::nullopt, "the ticket stream could not be read"};
}

HRESULT OpenProvider(PCWSTR printerName, DWORD version, HPTPROVIDER* handle)
{
    if (handle == nullptr) {
        return E_POINTER;
    }
    *handle = nullptr;
    if (printerName == nullptr || printerName[0] == 0) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
    }
    if (version != kSchemaVersion) {
        return E_INVALIDARG;
    }
    InitXml();
    std::u16string name(printerName);
    auto printer = platform::FindPrinter(name);
    if (!printer) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
    }
    auto provider
        = std::make_shared<const Provider>(Provider{std::move(name), PrinterModel::Create(std::move(*printer))});
    *handle = AddProvider(std::move(provider));
    return *handle == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT GetCapabilities(HPTPROVIDER handle, IStream* baseTicket, IStream* capabilities, BSTR* errorMessage)
{
    ClearMessage(errorMessage);
    auto provider = FindProvider(handle);
    if (!provider) {
        return Fail(E_HANDLE, errorMessage, "the provider handle is not open");
    }
    if (capabilities == nullptr) {
        return Fail(E_POINTER, errorMessage, "no stream was given for the capabilities");
    }
    if (baseTicket != nullptr) {
        const TicketReadResult read = ReadTicketStream(*baseTicket);
        if (!read.ticket) {
            return Fail(E_PRINTTICKET_FORMAT, errorMessage, read.error);
        }
    }
    const auto document = WriteCapabilities(provider->model);
    if (!document) {
        return Fail(E_OUTOFMEMORY, errorMessage, "the capabilities could not be written");
    }
    const HRESULT written = WriteWholeStream(*capabilities, *document);
    return FAILED(written) ? Fail(written, errorMessage, "the capabilities stream refused the document") : S_OK;
}

HRESULT DevModeToTicket(HPTPROVIDER handle, ULONG size, PDEVMODEW devMode, int scope, IStream* ticket)
{
    auto provider = FindProvider(handle);
    if (!provider) {
        return E_HANDLE;
    }
    if (ticket == nullptr) {
        return E_POINTER;
    }
    // The public part may be of an older, shorter layout that ends before the form name; what it
    // does not hold reads as unset. Its own sizes are believed only once they are readable.
    if (devMode == nullptr || size < kOldestPublicPart || !ValidScope(scope)) {
        return E_INVALIDARG;
    }
    const std::size_t declared = std::size_t{devMode->dmSize} + devMode->dmDriverExtra;
    if (devMode->dmSize < kOldestPublicPart || size < declared) {
        return E_INVALIDARG;
    }
    DEVMODEW publicPart{};
    std::memcpy(&publicPart, devMode, std::min<std::size_t>(devMode->dmSize, sizeof(DEVMODEW)));
    const auto document
        = WriteTicket(TicketFromDevMode(provider->model, publicPart, static_cast<EPrintTicketScope>(scope)));
    if (!document) {
        return E_OUTOFMEMORY;
    }
    return WriteWholeStream(*ticket, *document);
}

HRESULT TicketToDevMode(HPTPROVIDER handle, IStream* ticketStream, int baseType, int scope, ULONG* devModeSize,
                        PDEVMODEW* devMode, BSTR* errorMessage)
{
    ClearMessage(errorMessage);
    auto provider = FindProvider(handle);
    if (!provider) {
        return Fail(E_HANDLE, errorMessage, "the provider handle is not open");
    }
    if (ticketStream == nullptr || devModeSize == nullptr || devMode == nullptr) {
        return Fail(E_POINTER, errorMessage, "a required pointer is null");
    }
    *devModeSize = 0;
    *devMode = nullptr;
    if ((baseType != kUserDefaultDevmode && baseType != kPrinterDefaultDevmode) || !ValidScope(scope)) {
        return Fail(E_INVALIDARG, errorMessage, "the base device mode type or the scope is not valid");
    }
    const TicketReadResult read = ReadTicketStream(*ticketStream);
    if (!read.ticket) {
        return Fail(E_PRINTTICKET_FORMAT, errorMessage, read.error);
    }
    // There is no per-user store of settings: the user's default is the printer's default.
    auto base = PrinterDefault(*provider);
    if (!base) {
        return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME), errorMessage, "the printer is no longer installed");
    }
    ApplyTicket(provider->model, *read.ticket, static_cast<EPrintTicketScope>(scope), *base->Get());

    // The spooler merges the settings into the printer's default and corrects what the printer lacks.
    std::u16string name = provider->printerName;
    DevModeBuffer merged(base->Size());
    if (DocumentPropertiesW(nullptr, nullptr, name.data(), merged.Get(), base->Get(), DM_IN_BUFFER | DM_OUT_BUFFER)
        != IDOK) {
        return Fail(E_FAIL, errorMessage, "the spooler refused the device mode");
    }
    void* result = AllocateCallerMemory(merged.Size());
    if (result == nullptr) {
        return Fail(E_OUTOFMEMORY, errorMessage, "out of memory");
    }
    std::memcpy(result, merged.Get(), merged.Size());
    *devModeSize = static_cast<ULONG>(merged.Size());
    *devMode = static_cast<PDEVMODEW>(result);
    return S_OK;
}

HRESULT MergeTickets(HPTPROVIDER handle, IStream* baseStream, IStream* deltaStream, int scope, IStream* resultStream,
                     BSTR* errorMessage)
{
    ClearMessage(errorMessage);
    auto provider = FindProvider(handle);
    if (!provider) {
        return Fail(E_HANDLE, errorMessage, "the provider handle is not open");
    }
    if (baseStream == nullptr || resultStream == nullptr) {
        return Fail(E_POINTER, errorMessage, "a required stream is null");
    }
    if (!ValidScope(scope)) {
        return Fail(E_INVALIDARG, errorMessage, "the scope is not valid");
    }
    const TicketReadResult base = ReadTicketStream(*baseStream);
    if (!base.ticket) {
        return Fail(E_PRINTTICKET_FORMAT, errorMessage, base.error);
    }
    Ticket delta;
    if (deltaStream != nullptr) {
        TicketReadResult read = ReadTicketStream(*deltaStream);
        if (!read.ticket) {
            return Fail(E_DELTA_PRINTTICKET_FORMAT, errorMessage, read.error);
        }
        delta = std::move(*read.ticket);
    }
    auto defaults = PrinterDefault(*provider);
    if (!defaults) {
        return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME), errorMessage, "the printer is no longer installed");
    }
    const Ticket defaultTicket = TicketFromDevMode(provider->model, *defaults->Get(), kPTJobScope);
    const MergeResult merged
        = MergeAndValidate(provider->model, defaultTicket, *base.ticket, delta, static_cast<EPrintTicketScope>(scope));
    const auto document = WriteTicket(merged.ticket);
    if (!document) {
        return Fail(E_OUTOFMEMORY, errorMessage, "the merged ticket could not be written");
    }
    const HRESULT written = WriteWholeStream(*resultStream, *document);
    if (FAILED(written)) {
        return Fail(written, errorMessage, "the result stream refused the ticket");
    }
    return merged.conflictResolved ? S_PT_CONFLICT_RESOLVED : S_PT_NO_CONFLICT;
}

// Runs an entry point's body; memory exhaustion inside the C++ parts becomes E_OUTOFMEMORY.
template <typename Body>
HRESULT Guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace
} // namespace prntvpt

using namespace prntvpt;

// Opens a provider for an installed printer and schema version 1.
PRNTVPT_EXPORT HRESULT PTOpenProvider(PCWSTR printerName, DWORD version, HPTPROVIDER* provider)
{
    return Guarded([&] { return OpenProvider(printerName, version, provider); });
}

// Closes a provider handle; E_HANDLE for anything that is not an open one.
PRNTVPT_EXPORT HRESULT PTCloseProvider(HPTPROVIDER provider)
{
    return Guarded([&] { return RemoveProvider(provider) ? S_OK : E_HANDLE; });
}

// Writes the printer's PrintCapabilities document into the stream.
PRNTVPT_EXPORT HRESULT PTGetPrintCapabilities(HPTPROVIDER provider, IStream* printTicket, IStream* capabilities,
                                              BSTR* errorMessage)
{
    return Guarded([&] { return GetCapabilities(provider, printTicket, capabilities, errorMessage); });
}

// Writes the PrintTicket of a device mode, with the features of the scope's levels.
PRNTVPT_EXPORT HRESULT PTConvertDevModeToPrintTicket(HPTPROVIDER provider, ULONG devModeSize, PDEVMODEW devMode,
                                                     EPrintTicketScope scope, IStream* printTicket)
{
    return Guarded([&] { return DevModeToTicket(provider, devModeSize, devMode, RawValue(scope), printTicket); });
}

// Makes the device mode of a PrintTicket over the printer's default; free it with PTReleaseMemory.
PRNTVPT_EXPORT HRESULT PTConvertPrintTicketToDevMode(HPTPROVIDER provider, IStream* printTicket,
                                                     EDefaultDevmodeType baseDevModeType, EPrintTicketScope scope,
                                                     ULONG* devModeSize, PDEVMODEW* devMode, BSTR* errorMessage)
{
    return Guarded([&] {
        return TicketToDevMode(provider, printTicket, RawValue(baseDevModeType), RawValue(scope), devModeSize, devMode,
                               errorMessage);
    });
}

// Merges a delta ticket into a base ticket and validates the result against the printer.
PRNTVPT_EXPORT HRESULT PTMergeAndValidatePrintTicket(HPTPROVIDER provider, IStream* baseTicket, IStream* deltaTicket,
                                                     EPrintTicketScope scope, IStream* resultTicket, BSTR* errorMessage)
{
    return Guarded(
        [&] { return MergeTickets(provider, baseTicket, deltaTicket, RawValue(scope), resultTicket, errorMessage); });
}

// Frees memory this provider handed out; null is fine, any other pointer is refused.
PRNTVPT_EXPORT HRESULT PTReleaseMemory(PVOID buffer)
{
    if (buffer == nullptr) {
        return S_OK;
    }
    return ReleaseCallerMemory(buffer) ? S_OK : E_INVALIDARG;
}

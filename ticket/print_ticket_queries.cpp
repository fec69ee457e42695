#include "ticket/print_ticket_queries.h"

#include "platform/kernel/kernel.h"
#include "platform/spooler/spooler.h"
#include "ticket/print_ticket_api.h"

#include <vector>

namespace aio {

namespace {

constexpr DWORD kPrintSchemaVersion = 1;

// Closes a provider handle when the scope ends, before the COM scope that encloses it.
class ProviderScope final {
public:
    explicit ProviderScope(HPTPROVIDER provider) : provider_(provider) {}
    ~ProviderScope() { g_print_ticket_api.close_provider(provider_); }
    ProviderScope(const ProviderScope&) = delete;
    ProviderScope& operator=(const ProviderScope&) = delete;

private:
    HPTPROVIDER provider_;
};

// Unlocks a global memory block when the scope ends, also when an exception passes.
class GlobalLockScope final {
public:
    explicit GlobalLockScope(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {}
    ~GlobalLockScope()
    {
        if (data_ != nullptr)
            GlobalUnlock(memory_);
    }
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;

    const char* Data() const { return static_cast<const char*>(data_); }

private:
    HGLOBAL memory_;
    void* data_;
};

// The failure HRESULT of the calling thread's last error; E_FAIL when a call failed without one.
HRESULT FailureOfLastError()
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

} // namespace

HRESULT QueryPrintCapabilities(const std::u16string& printer_name, std::string& document)
{
    if (!EnsurePrintTicketApi())
        return E_FAIL;
    ComInitScope com;

    // Declared first so that the provider is closed before the stream is released.
    IStream* stream = nullptr;
    ComRelease<IStream> streamScope(stream);

    HPTPROVIDER provider = nullptr;
    const HRESULT opened = g_print_ticket_api.open_provider(printer_name.c_str(), kPrintSchemaVersion, &provider);
    if (FAILED(opened))
        return opened;
    ProviderScope providerScope(provider);

    CreateStreamOnHGlobal(nullptr, TRUE, &stream);

    BSTR errorMessage = nullptr;
    const HRESULT result = g_print_ticket_api.get_print_capabilities(provider, nullptr, stream, &errorMessage);
    SysFreeString(errorMessage); // the provider's error text is not used
    ReadStreamText(stream, document);
    return result;
}

HRESULT GetDefaultPrintTicket(const std::u16string& printer_name, std::string& document)
{
    if (!EnsurePrintTicketApi())
        return E_FAIL;
    ComInitScope com;

    HPTPROVIDER provider = nullptr;
    HRESULT result = g_print_ticket_api.open_provider(printer_name.c_str(), kPrintSchemaVersion, &provider);
    if (FAILED(result))
        return result;
    ProviderScope providerScope(provider);

    // A printer the spooler cannot open has no default settings to describe: that is a failure,
    // never a success with an empty ticket.
    std::u16string name = printer_name;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr) || printer == nullptr)
        return FailureOfLastError();

    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size < 1) {
        // Without a size there is no device mode to allocate or convert.
        ClosePrinter(printer);
        return E_FAIL;
    }
    std::vector<BYTE> buffer(static_cast<std::size_t>(size));
    auto* devMode = reinterpret_cast<DEVMODEW*>(buffer.data());
    if (DocumentPropertiesW(nullptr, printer, name.data(), devMode, nullptr, DM_OUT_BUFFER) != IDOK) {
        const HRESULT failure = FailureOfLastError();
        ClosePrinter(printer);
        return failure;
    }

    IStream* stream = nullptr;
    result = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ComRelease<IStream> streamScope(stream);
    if (stream != nullptr) {
        result = g_print_ticket_api.devmode_to_ticket(provider, static_cast<ULONG>(size), devMode, kPTJobScope, stream);
        if (SUCCEEDED(result))
            result = ReadStreamText(stream, document);
    }
    ClosePrinter(printer);
    return result;
}

HRESULT ReadStreamText(IStream* stream, std::string& text)
{
    HGLOBAL memory = nullptr;
    const HRESULT result = GetHGlobalFromStream(stream, &memory);
    if (FAILED(result))
        return result;

    const SIZE_T size = GlobalSize(memory);
    if (size == 0) {
        text.clear();
        return result;
    }
    GlobalLockScope lock(memory);
    if (lock.Data() == nullptr)
        return E_OUTOFMEMORY;
    text.assign(lock.Data(), size);
    return result;
}

HRESULT CreateTextStream(const std::string& text, IStream** stream)
{
    if (stream == nullptr)
        return E_POINTER;
    const HRESULT result = CreateStreamOnHGlobal(nullptr, TRUE, stream);
    if (FAILED(result))
        return result;
    ULONG written = 0;
    (*stream)->Write(text.data(), static_cast<ULONG>(text.size()), &written);
    LARGE_INTEGER start{};
    (*stream)->Seek(start, STREAM_SEEK_SET, nullptr);
    return S_OK;
}

} // namespace aio

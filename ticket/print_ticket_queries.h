// The capabilities and default-ticket queries of -a and -b, and text in and out of memory streams.
#pragma once

#include "platform/com/com.h"

#include <string>

namespace aio {

// The printer's print capabilities document, as the print-ticket provider writes it.
HRESULT QueryPrintCapabilities(const std::u16string& printer_name, std::string& document);
// A print ticket made from the printer's default device mode (job, document and page settings).
HRESULT GetDefaultPrintTicket(const std::u16string& printer_name, std::string& document);
// Copies the whole memory block behind a stream made by CreateStreamOnHGlobal into `text`.
HRESULT ReadStreamText(IStream* stream, std::string& text);
// Makes a memory stream holding `text`, positioned at its start; the caller releases it.
HRESULT CreateTextStream(const std::string& text, IStream** stream);

// Releases a COM object when the scope ends.
template <typename Interface>
class ComRelease final {
public:
    explicit ComRelease(Interface*& object) : object_(object) {}
    ~ComRelease()
    {
        if (object_ != nullptr)
            object_->Release();
    }
    ComRelease(const ComRelease&) = delete;
    ComRelease& operator=(const ComRelease&) = delete;

private:
    Interface*& object_;
};

} // namespace aio

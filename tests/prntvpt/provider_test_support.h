// The real prntvpt.so, loaded as the tool loads it, under a private machine root holding the
// sample printers; with helpers for streams, tickets and XPath checks of the documents.
#pragma once

#include "platform/com/com.h"
#include "platform/kernel/kernel.h"
#include "platform/prntvpt/prntvpt.h"
#include "platform/spooler/printer_registry.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace prntvpt_test {

inline constexpr char kPsf[] = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
inline constexpr char kPsk[] = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
inline constexpr char kPrivate[] = "urn:quillontool:printschema:2026";

// The seven entry points, bound by name as the tool binds them.
struct Api {
    decltype(&PTOpenProvider) open = nullptr;
    decltype(&PTGetPrintCapabilities) capabilities = nullptr;
    decltype(&PTConvertDevModeToPrintTicket) toTicket = nullptr;
    decltype(&PTConvertPrintTicketToDevMode) toDevMode = nullptr;
    decltype(&PTMergeAndValidatePrintTicket) merge = nullptr;
    decltype(&PTReleaseMemory) release = nullptr;
    decltype(&PTCloseProvider) close = nullptr;
};

// A stream holding the text, positioned at its start.
inline IStream* TextStream(const std::string& text)
{
    IStream* stream = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULONG written = 0;
    EXPECT_EQ(stream->Write(text.data(), static_cast<ULONG>(text.size()), &written), S_OK);
    LARGE_INTEGER start{};
    EXPECT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    return stream;
}

// Exactly the bytes of the stream's block, as the tool reads a provider's document.
inline std::string StreamText(IStream* stream)
{
    HGLOBAL block = nullptr;
    EXPECT_EQ(GetHGlobalFromStream(stream, &block), S_OK);
    const auto* data = static_cast<const char*>(GlobalLock(block));
    std::string text(data == nullptr ? "" : data, data == nullptr ? 0 : GlobalSize(block));
    GlobalUnlock(block);
    return text;
}

// A PrintTicket whose framework, keyword and schema namespaces are declared under the given prefixes.
inline std::string MakeTicket(const std::string& body, const std::string& psf = "psf", const std::string& psk = "psk")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + psf + ":PrintTicket xmlns:" + psf + "=\"" + kPsf
        + "\" xmlns:" + psk + "=\"" + kPsk
        + "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
          "version=\"1\">"
        + body + "</" + psf + ":PrintTicket>";
}

// A parsed document with the schema prefixes bound for XPath: psf, psk, ns0000, xsi.
class XmlDoc {
public:
    explicit XmlDoc(const std::string& text)
    {
        doc_ = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, XML_PARSE_NONET);
        if (doc_ != nullptr) {
            context_ = xmlXPathNewContext(doc_);
            Register("psf", kPsf);
            Register("psk", kPsk);
            Register("ns0000", kPrivate);
            Register("xsi", "http://www.w3.org/2001/XMLSchema-instance");
        }
    }
    ~XmlDoc()
    {
        if (context_ != nullptr) {
            xmlXPathFreeContext(context_);
        }
        if (doc_ != nullptr) {
            xmlFreeDoc(doc_);
        }
    }
    XmlDoc(const XmlDoc&) = delete;
    XmlDoc& operator=(const XmlDoc&) = delete;

    bool WellFormed() const { return doc_ != nullptr; }

    double Number(const std::string& expression) const
    {
        xmlXPathObjectPtr result = Evaluate(expression);
        const double value = result == nullptr ? -1 : xmlXPathCastToNumber(result);
        xmlXPathFreeObject(result);
        return value;
    }

    std::string String(const std::string& expression) const
    {
        xmlXPathObjectPtr result = Evaluate(expression);
        xmlChar* text = result == nullptr ? nullptr : xmlXPathCastToString(result);
        std::string value = text == nullptr ? "" : reinterpret_cast<const char*>(text);
        xmlFree(text);
        xmlXPathFreeObject(result);
        return value;
    }

private:
    void Register(const char* prefix, const char* uri)
    {
        xmlXPathRegisterNs(context_, reinterpret_cast<const xmlChar*>(prefix), reinterpret_cast<const xmlChar*>(uri));
    }
    xmlXPathObjectPtr Evaluate(const std::string& expression) const
    {
        if (context_ == nullptr) {
            return nullptr;
        }
        return xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), context_);
    }

    xmlDocPtr doc_ = nullptr;
    xmlXPathContextPtr context_ = nullptr;
};

class ProviderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        library_ = LoadLibraryW(u"prntvpt.dll");
        ASSERT_NE(library_, nullptr) << "prntvpt.so beside the test program";
        api_.open = Bind(api_.open, "PTOpenProvider");
        api_.capabilities = Bind(api_.capabilities, "PTGetPrintCapabilities");
        api_.toTicket = Bind(api_.toTicket, "PTConvertDevModeToPrintTicket");
        api_.toDevMode = Bind(api_.toDevMode, "PTConvertPrintTicketToDevMode");
        api_.merge = Bind(api_.merge, "PTMergeAndValidatePrintTicket");
        api_.release = Bind(api_.release, "PTReleaseMemory");
        api_.close = Bind(api_.close, "PTCloseProvider");
    }
    // Looks an entry point up by name; the cast goes through void(*)() as for any exported function.
    template <typename Function>
    static Function Bind(Function, const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library_, name)));
    }

    static void TearDownTestSuite()
    {
        if (library_ != nullptr) {
            FreeLibrary(library_);
            library_ = nullptr;
        }
    }

    void SetUp() override
    {
        ASSERT_NE(api_.close, nullptr) << "all seven entry points are exported";
        root_.InstallSamplePrinters(QUILLON_SOURCE_DIR);
    }

    void TearDown() override
    {
        for (HPTPROVIDER provider : open_) {
            api_.close(provider);
        }
    }

    // Installs one more printer beside the samples, from the text of its printer file.
    void InstallPrinter(const std::string& fileName, const std::string& text)
    {
        std::ofstream(root_.Path() / "etc/quillon/printers" / fileName) << text;
    }

    HPTPROVIDER Open(const std::u16string& printer)
    {
        HPTPROVIDER provider = nullptr;
        EXPECT_EQ(api_.open(printer.c_str(), 1, &provider), S_OK);
        open_.push_back(provider);
        return provider;
    }

    // The printer's default device mode from the spooler, whole (public and private part).
    std::vector<BYTE> DefaultDevMode(const std::u16string& printer)
    {
        std::u16string name = printer;
        const LONG size = DocumentPropertiesW(nullptr, nullptr, name.data(), nullptr, nullptr, 0);
        EXPECT_GE(size, static_cast<LONG>(sizeof(DEVMODEW)));
        std::vector<BYTE> buffer(static_cast<std::size_t>(size < 0 ? 0 : size));
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, name.data(), reinterpret_cast<DEVMODEW*>(buffer.data()),
                                      nullptr, DM_OUT_BUFFER),
                  IDOK);
        return buffer;
    }

    // The ticket of a device mode in a scope.
    std::string TicketOf(HPTPROVIDER provider, std::vector<BYTE>& devMode, EPrintTicketScope scope)
    {
        IStream* stream = nullptr;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        EXPECT_EQ(api_.toTicket(provider, static_cast<ULONG>(devMode.size()),
                                reinterpret_cast<DEVMODEW*>(devMode.data()), scope, stream),
                  S_OK);
        std::string text = StreamText(stream);
        stream->Release();
        return text;
    }

    // The device mode of a ticket; result is the provider's answer, the device mode a copy.
    struct Converted {
        HRESULT result = E_FAIL;
        ULONG size = 0;
        DEVMODEW devMode{};
        std::u16string error;
    };
    Converted Convert(HPTPROVIDER provider, const std::string& ticket, EPrintTicketScope scope)
    {
        Converted out;
        IStream* stream = TextStream(ticket);
        PDEVMODEW devMode = nullptr;
        BSTR error = nullptr;
        out.result = api_.toDevMode(provider, stream, kUserDefaultDevmode, scope, &out.size, &devMode, &error);
        stream->Release();
        if (devMode != nullptr) {
            out.devMode = *devMode;
            EXPECT_EQ(api_.release(devMode), S_OK);
        }
        if (error != nullptr) {
            out.error = error;
            SysFreeString(error);
        }
        return out;
    }

    static inline HMODULE library_ = nullptr;
    static inline Api api_;
    testing_support::TempRoot root_;
    std::vector<HPTPROVIDER> open_;
};

} // namespace prntvpt_test

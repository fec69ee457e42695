#include "platform/spooler/cups_queues.h"

#include "platform/kernel/report_once.h"
#include "platform/spooler/cups_attributes.h"

#include <array>
#include <cstdio>
#include <iterator>

namespace platform::spooler {
namespace {

constexpr int kUriBytes = 1024;

void Report(const CupsFailure& failure)
{
    if (!failure.noLocalServer)
        kernel::ReportOnce(failure.message);
}

std::optional<PrinterDefinition> ReadQueue(const CupsConnection& connection, cups_dest_t* dest)
{
    CupsFailure failure;
    ipp_t* attributes = RequestQueueAttributes(connection, dest, failure);
    if (!attributes) {
        Report(failure);
        return std::nullopt;
    }
    PrinterDefinitionResult result = ReadQueueAttributes(dest->name, attributes);
    ippDelete(attributes);
    if (!result.printer)
        kernel::ReportOnce("CUPS queue " + std::string(dest->name) + " on " + connection.Server()
                           + " skipped: " + result.error);
    return std::move(result.printer);
}

} // namespace

ipp_t* RequestQueueAttributes(const CupsConnection& connection, cups_dest_t* dest, CupsFailure& failure)
{
    std::array<char, kUriBytes> uri{};
    if (const char* supported = cupsGetOption("printer-uri-supported", dest->num_options, dest->options))
        std::snprintf(uri.data(), uri.size(), "%s", supported);
    else
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri.data(), static_cast<int>(uri.size()), "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", dest->name);
    std::array<char, 32> scheme{};
    std::array<char, 256> user{};
    std::array<char, 256> host{};
    std::array<char, kUriBytes> resource{};
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.data(), scheme.data(), static_cast<int>(scheme.size()), user.data(),
                        static_cast<int>(user.size()), host.data(), static_cast<int>(host.size()), &port,
                        resource.data(), static_cast<int>(resource.size()))
        < HTTP_URI_STATUS_OK) {
        failure.error = ERROR_INVALID_PRINTER_NAME;
        failure.message = "the CUPS queue " + std::string(dest->name) + " has no usable address: " + uri.data();
        return nullptr;
    }

    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.data());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kQueueAttributeNames)), nullptr, kQueueAttributeNames);
    connection.AllowSeconds(kCupsExchangeSeconds);
    ipp_t* response = cupsDoRequest(connection.Http(), request, resource.data());
    if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(response);
        failure = connection.LastFailure("reading the queue " + std::string(dest->name));
        return nullptr;
    }
    return response;
}

std::optional<PrinterDefinition> FindCupsPrinter(std::string_view name)
{
    CupsFailure failure;
    const std::unique_ptr<CupsConnection> connection = CupsConnection::Open(failure);
    if (!connection) {
        Report(failure);
        return std::nullopt;
    }
    const std::optional<CupsDestinations> dests = CupsDestinations::List(*connection, failure);
    if (!dests) {
        Report(failure);
        return std::nullopt;
    }
    cups_dest_t* dest = dests->Find(name);
    return dest ? ReadQueue(*connection, dest) : std::nullopt;
}

std::vector<PrinterDefinition> CupsPrinters()
{
    std::vector<PrinterDefinition> printers;
    CupsFailure failure;
    const std::unique_ptr<CupsConnection> connection = CupsConnection::Open(failure);
    const std::optional<CupsDestinations> dests
        = connection ? CupsDestinations::List(*connection, failure) : std::nullopt;
    if (!dests) {
        Report(failure);
        return printers;
    }
    for (int i = 0; i < dests->Count(); ++i) {
        cups_dest_t* dest = dests->At(i);
        if (dest->instance)
            continue;
        if (std::optional<PrinterDefinition> printer = ReadQueue(*connection, dest))
            printers.push_back(std::move(*printer));
    }
    return printers;
}

} // namespace platform::spooler

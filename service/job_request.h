// The texts the service sends the tool: pipe messages as bytes, and the print job request.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::service {

// The most code units the tool takes whole in one request: its request buffer (2048 bytes for
// -a/-b, 131072 bytes for -c) less one code unit for the terminating zero it supplies itself.
constexpr std::size_t kMaxPrinterRequestUnits = 1023;
constexpr std::size_t kMaxJobRequestUnits = 65535;

// The field markers of a job request, in order, and the end of each option.
constexpr std::string_view kFieldMarkers[] = {"{00}", "{11}", "{22}", "{33}", "{44}", "{55}"};
constexpr std::string_view kOptionEnd = "{}";

struct PrintJob {
    std::u16string printer;   // goes as UTF-16 code units
    std::u16string filePath;  // absolute; goes as UTF-16 code units
    std::string contentType;  // such as "image/png"
    std::string ticket;       // print ticket XML; one byte per code unit
    std::string documentName; // UTF-8; one byte per code unit
    std::vector<std::string> options;
};

// The content type of a file judged from its first bytes: a picture type for JPEG, PNG, BMP,
// TIFF and GIF signatures, "application/pdf" for anything else.
std::string GuessContentType(std::string_view head);

// Builds the request text of job. Returns false and sets error when a field could not reach the
// tool intact (characters above U+00FF in the printer or path, a marker inside a field, an empty
// option or one holding "{}", a zero byte, or a request longer than the tool takes).
bool BuildJobRequest(const PrintJob& job, std::u16string& request, std::string& error);

// The bytes of a pipe message: each code unit in little-endian order, no terminating zero.
std::string EncodeMessage(std::u16string_view text);

// The code units of a pipe message; an odd last byte is not part of any and is left out.
std::u16string DecodeMessage(std::string_view bytes);

// The low byte of each code unit: how the tool carries a document's bytes in a reply.
std::string LowBytes(std::u16string_view text);

} // namespace quillon::service

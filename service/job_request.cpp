#include "service/job_request.h"

#include <algorithm>

namespace quillon::service {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool AllLatin1(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit <= 0xFF; });
}

// A field of the request as the tool narrows it: one byte per code unit (all at most 0xFF here).
std::string Narrow(std::u16string_view text)
{
    return std::string(text.begin(), text.end());
}

// The tool finds each marker by its first occurrence in the whole request, so a field holding
// one would shift every field after it; a zero byte would end the request early.
bool CheckField(std::string_view what, std::string_view field, std::string& error)
{
    for (std::string_view marker : kFieldMarkers) {
        if (field.find(marker) != std::string_view::npos) {
            error = std::string(what) + " contains \"" + std::string(marker) + "\", which the request uses as a marker";
            return false;
        }
    }
    if (field.find('\0') != std::string_view::npos) {
        error = std::string(what) + " contains a zero byte, which would end the request";
        return false;
    }
    return true;
}

void AppendBytes(std::u16string& out, std::string_view bytes)
{
    for (char byte : bytes)
        out += static_cast<char16_t>(static_cast<unsigned char>(byte));
}

} // namespace

std::string GuessContentType(std::string_view head)
{
    if (StartsWith(head, "\xFF\xD8\xFF"))
        return "image/jpeg";
    if (StartsWith(head, "\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (StartsWith(head, "BM"))
        return "image/bmp";
    if (StartsWith(head, std::string_view("II*\0", 4)) || StartsWith(head, std::string_view("MM\0*", 4)))
        return "image/tiff";
    if (StartsWith(head, "GIF87a") || StartsWith(head, "GIF89a"))
        return "image/gif";
    return "application/pdf";
}

bool BuildJobRequest(const PrintJob& job, std::u16string& request, std::string& error)
{
    if (job.printer.empty()) {
        error = "the printer name is empty";
        return false;
    }
    if (!AllLatin1(job.printer) || !AllLatin1(job.filePath)) {
        error = "the tool takes only characters up to U+00FF in a print job's printer name and file path";
        return false;
    }
    if (!CheckField("the printer name", Narrow(job.printer), error)
        || !CheckField("the file path", Narrow(job.filePath), error)
        || !CheckField("the content type", job.contentType, error) || !CheckField("the print ticket", job.ticket, error)
        || !CheckField("the document name", job.documentName, error)) {
        return false;
    }
    for (const std::string& option : job.options) {
        // An empty option ends the tool's option list; "{}" would split one option in two.
        if (option.empty() || option.find(kOptionEnd) != std::string::npos || option.find('\0') != std::string::npos) {
            error = "the option \"" + option + "\" is empty or contains \"{}\" or a zero byte";
            return false;
        }
    }

    std::u16string text = job.printer;
    AppendBytes(text, kFieldMarkers[0]);
    text += job.filePath;
    AppendBytes(text, kFieldMarkers[1]);
    AppendBytes(text, job.contentType);
    AppendBytes(text, kFieldMarkers[2]);
    AppendBytes(text, job.ticket);
    AppendBytes(text, kFieldMarkers[3]);
    // The field between "{33}" and "{44}" is read by nobody.
    AppendBytes(text, kFieldMarkers[4]);
    AppendBytes(text, job.documentName);
    AppendBytes(text, kFieldMarkers[5]);
    for (const std::string& option : job.options) {
        AppendBytes(text, option);
        AppendBytes(text, kOptionEnd);
    }
    if (text.size() > kMaxJobRequestUnits) {
        error = "the print job request has " + std::to_string(text.size()) + " characters; the tool takes at most "
            + std::to_string(kMaxJobRequestUnits) + " (is the ticket too large?)";
        return false;
    }
    request = std::move(text);
    return true;
}

std::string EncodeMessage(std::u16string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::u16string DecodeMessage(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i])
                                      | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

std::string LowBytes(std::u16string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t unit : text)
        bytes += static_cast<char>(unit & 0xFF);
    return bytes;
}

} // namespace quillon::service

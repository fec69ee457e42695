#include "pipe/job_request.h"

#include "pipe/text_conversions.h"

#include <array>
#include <string_view>

namespace aio {

namespace {

constexpr std::size_t kMarkerLength = 4;
constexpr std::array<std::string_view, 6> kFieldMarkers = {"{00}", "{11}", "{22}", "{33}", "{44}", "{55}"};
constexpr std::string_view kOptionEnd = "{}";

// The bytes of `text` from `from` up to `to`; everything from `from` when the marker lies before it.
std::string Field(const std::string& text, std::size_t from, std::size_t to)
{
    if (from > text.size())
        return {};
    if (to < from)
        return text.substr(from);
    return text.substr(from, to - from);
}

} // namespace

bool PrintJobRequest::HasOption(const std::string& key) const
{
    if (key.empty())
        return false;
    for (const std::string& option : options) {
        if (option == key)
            return true;
        const std::size_t equals = option.find('=');
        if (equals != std::string::npos && option.compare(0, equals, key) == 0)
            return true;
    }
    return false;
}

bool ParseJobRequest(std::u16string request, std::u16string& printer_name, PrintJobRequest& job)
{
    if (request.empty())
        return false;
    const std::string text = NarrowText(request);

    // Every marker is searched from the start of the whole text, and each field runs from the end
    // of the previous marker to its own.
    std::size_t fieldStart = 0;
    for (std::size_t field = 0; field < kFieldMarkers.size(); ++field) {
        const std::size_t marker = text.find(kFieldMarkers[field]);
        if (marker == std::string::npos)
            return false;
        const std::string value = Field(text, fieldStart, marker);
        switch (field) {
        case 0:
            printer_name = WidenText(value);
            break;
        case 1:
            job.file_path = WidenText(value);
            break;
        case 2:
            job.mime_type = value;
            break;
        case 3:
            job.print_ticket = value;
            break;
        case 4:
            job.spare_text = value;
            break;
        case 5:
            job.document_name = value;
            break;
        }
        fieldStart = marker + kMarkerLength;
    }

    // Options each end with "{}"; an empty option ends the list, and text after the last "{}" is dropped.
    std::string_view rest = std::string_view(text).substr(std::min(fieldStart, text.size()));
    for (;;) {
        const std::size_t end = rest.find(kOptionEnd);
        if (end == std::string_view::npos || end == 0)
            break;
        job.options.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + kOptionEnd.size());
        if (rest.empty())
            break;
    }
    return true;
}

} // namespace aio

// The print job request of the -c command: its record, its parser and the option test.
#pragma once

#include <string>
#include <vector>

namespace aio {

struct PrintJobRequest {
    std::u16string file_path;
    std::string mime_type;
    std::string print_ticket;
    std::string spare_text;
    std::string document_name; // UTF-8
    std::vector<std::string> options;

    // True when an option is `key` itself or begins with `key` followed by "=".
    bool HasOption(const std::string& key) const;
};

// Parses the request text "printer{00}file{11}type{22}ticket{33}spare{44}name{55}opt{}opt{}…".
// Fields are assigned in text order as their markers are found; true when all six markers are there.
bool ParseJobRequest(std::u16string request, std::u16string& printer_name, PrintJobRequest& job);

} // namespace aio

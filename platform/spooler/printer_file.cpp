#include "platform/spooler/printer_file.h"

#include "platform/kernel/host.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

namespace platform::spooler {

namespace {

// The file's own limits; the definition's factory checks the rest.
constexpr std::int32_t kMaxPaperNumber = std::numeric_limits<std::int16_t>::max();

using Tree = boost::property_tree::ptree;

// A failed validation step: the message says what is wrong, in the file's own terms.
struct Fault {
    std::string message;
};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitWords(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start < text.size()) {
        while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
            ++start;
        std::size_t end = start;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        if (end > start)
            words.push_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

// A non-negative decimal number with at most `decimals` fraction digits, scaled to an integer in
// units of 10^-decimals ("4.23" with 3 decimals is 4230). Exact: no floating point on the way.
std::optional<std::int32_t> ParseFixed(std::string_view text, int decimals, std::int32_t maximum)
{
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    if (whole.empty() || (dot != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    while (fraction.size() > static_cast<std::size_t>(decimals) && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (fraction.size() > static_cast<std::size_t>(decimals))
        return std::nullopt;
    auto allDigits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!allDigits(whole) || !allDigits(fraction) || whole.size() > 9)
        return std::nullopt;
    std::int64_t value = 0;
    std::from_chars(whole.data(), whole.data() + whole.size(), value);
    for (int i = 0; i < decimals; ++i) {
        value *= 10;
        if (static_cast<std::size_t>(i) < fraction.size())
            value += fraction[i] - '0';
    }
    if (value > maximum)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<bool> ParseYesNo(std::string_view text)
{
    if (text == "yes" || text == "true")
        return true;
    if (text == "no" || text == "false")
        return false;
    return std::nullopt;
}

// Reads the keys of one section, refusing keys the format does not know (a misspelt key would
// otherwise silently fall back to a default).
class Section final {
public:
    Section(const Tree& tree, std::string name, std::set<std::string> known)
        : m_tree(tree),
          m_name(std::move(name)),
          m_known(std::move(known))
    {}

    std::optional<Fault> CheckKeys() const
    {
        for (const auto& [key, value] : m_tree) {
            if (!m_known.contains(key))
                return Fault{"unknown key '" + key + "' in [" + m_name + "]"};
        }
        return std::nullopt;
    }

    std::optional<std::string> Get(const std::string& key) const
    {
        const auto found = m_tree.find(key);
        if (found == m_tree.not_found())
            return std::nullopt;
        return found->second.data();
    }

    Fault Missing(const std::string& key) const { return Fault{"[" + m_name + "] has no '" + key + "'"}; }
    Fault Bad(const std::string& key, const std::string& value, const std::string& expected) const
    {
        return Fault{"[" + m_name + "] " + key + " = '" + value + "' is not " + expected};
    }
    const std::string& Name() const { return m_name; }

private:
    const Tree& m_tree;
    std::string m_name;
    std::set<std::string> m_known;
};

std::optional<Fault> ReadName(std::string_view utf8, std::size_t maxUnits, const std::string& what,
                              std::u16string& name)
{
    if (utf8.empty())
        return Fault{what + " is empty"};
    if (!Utf8ToUtf16(utf8, name))
        return Fault{what + " is not valid UTF-8"};
    if (name.size() > maxUnits)
        return Fault{what + " '" + std::string(utf8) + "' is longer than " + std::to_string(maxUnits)
                     + " UTF-16 units"};
    for (char16_t unit : name) {
        if (unit < 0x20 || unit == 0x7F)
            return Fault{what + " contains a control character"};
    }
    return std::nullopt;
}

std::optional<Fault> ReadPrinterName(const Section& section, PrinterDescription& printer)
{
    const auto value = section.Get("name");
    if (!value)
        return section.Missing("name");
    return ReadName(*value, kMaxPrinterFileNameUnits, "the printer name", printer.name);
}

std::optional<Fault> ReadPrinterSection(const Section& section, PrinterDescription& printer)
{
    if (auto fault = section.CheckKeys())
        return fault;
    if (auto fault = ReadPrinterName(section, printer))
        return fault;

    const auto resolution = section.Get("resolution");
    if (!resolution)
        return section.Missing("resolution");
    // One or more resolutions; the first is the default.
    for (std::string_view word : SplitWords(*resolution)) {
        const auto dpi = ParseFixed(word, 0, kMaxDpi);
        if (!dpi || *dpi < kMinDpi)
            return section.Bad("resolution", *resolution,
                               "whole numbers of dots per inch from " + std::to_string(kMinDpi) + " to "
                                   + std::to_string(kMaxDpi));
        printer.resolutions.push_back(*dpi);
    }
    if (printer.resolutions.empty())
        return section.Missing("resolution");
    printer.defaultResolution = printer.resolutions.front();

    const auto defaultPaper = section.Get("default-paper");
    if (!defaultPaper)
        return section.Missing("default-paper");
    const auto paperNumber = ParseFixed(*defaultPaper, 0, kMaxPaperNumber);
    if (!paperNumber)
        return section.Bad("default-paper", *defaultPaper, "a paper number");
    printer.defaultPaper = static_cast<std::int16_t>(*paperNumber);

    const std::string orientation = section.Get("default-orientation").value_or("portrait");
    if (orientation == "portrait")
        printer.defaultOrientation = 1;
    else if (orientation == "landscape")
        printer.defaultOrientation = 2;
    else
        return section.Bad("default-orientation", orientation, "'portrait' or 'landscape'");

    const std::pair<const char*, bool*> flags[] = {{"color", &printer.color},
                                                   {"duplex", &printer.duplex},
                                                   {"takes-jpeg", &printer.takesJpeg},
                                                   {"takes-png", &printer.takesPng}};
    for (const auto& [key, target] : flags) {
        const std::string value = section.Get(key).value_or("no");
        const auto flag = ParseYesNo(value);
        if (!flag)
            return section.Bad(key, value, "'yes' or 'no'");
        *target = *flag;
    }

    const std::string copies = section.Get("copies").value_or("1-1");
    const std::size_t dash = copies.find('-');
    const auto low = ParseFixed(Trim(std::string_view(copies).substr(0, dash)), 0, kMaxCopies);
    // Assigned apart from its declaration: GCC 12 at -Os warns falsely (-Wmaybe-uninitialized) about
    // an optional chosen by a conditional expression.
    std::optional<std::int32_t> high;
    if (dash != std::string::npos)
        high = ParseFixed(Trim(std::string_view(copies).substr(dash + 1)), 0, kMaxCopies);
    if (!low || !high || *low < 1 || *low > *high)
        return section.Bad("copies", copies, "a range MIN-MAX with 1 <= MIN <= MAX <= " + std::to_string(kMaxCopies));
    printer.copiesMin = *low;
    printer.copiesMax = *high;
    return std::nullopt;
}

std::optional<Fault> ReadPaperSection(const Section& section, std::string_view numberText, PaperDefinition& paper)
{
    if (auto fault = section.CheckKeys())
        return fault;
    const auto number = ParseFixed(numberText, 0, kMaxPaperNumber);
    if (!number || *number < 1)
        return Fault{"[" + section.Name() + "] does not name a paper number from 1 to "
                     + std::to_string(kMaxPaperNumber)};
    paper.number = static_cast<std::int16_t>(*number);

    const auto name = section.Get("name");
    if (!name)
        return section.Missing("name");
    if (auto fault = ReadName(*name, kMaxPaperNameUnits, "[" + section.Name() + "] name", paper.name))
        return fault;

    const auto size = section.Get("size");
    if (!size)
        return section.Missing("size");
    const std::size_t cross = size->find('x');
    const auto width = ParseFixed(Trim(std::string_view(*size).substr(0, cross)), 1, kMaxSheetTenths);
    std::optional<std::int32_t> length;
    if (cross != std::string::npos)
        length = ParseFixed(Trim(std::string_view(*size).substr(cross + 1)), 1, kMaxSheetTenths);
    if (!width || !length || *width == 0 || *length == 0)
        return section.Bad("size", *size, "'WIDTH x LENGTH' in millimetres with at most one decimal, up to 3276.7");
    paper.width = *width;
    paper.length = *length;

    const std::string margins = section.Get("margins").value_or("0");
    const auto words = SplitWords(margins);
    std::vector<std::int32_t> values;
    for (std::string_view word : words) {
        const auto value = ParseFixed(word, 3, kMaxSheetTenths * 100);
        if (!value)
            break;
        values.push_back(*value);
    }
    if (values.size() != words.size() || (values.size() != 1 && values.size() != 4))
        return section.Bad("margins", margins,
                           "one margin for every side or four (left top right bottom), in millimetres "
                           "with at most three decimals");
    if (values.size() == 1)
        values.assign(4, values[0]);
    paper.marginLeft = values[0];
    paper.marginTop = values[1];
    paper.marginRight = values[2];
    paper.marginBottom = values[3];
    return std::nullopt;
}

std::optional<Fault> ReadDefinition(const Tree& root, PrinterDescription& printer)
{
    bool printerSectionSeen = false;
    for (const auto& [key, value] : root) {
        if (value.empty())
            return Fault{"'" + key + "' stands outside a section"};
        if (key == "printer") {
            printerSectionSeen = true;
            const Section section(value, key,
                                  {"name", "resolution", "default-paper", "default-orientation", "color", "duplex",
                                   "copies", "takes-jpeg", "takes-png"});
            if (auto fault = ReadPrinterSection(section, printer))
                return fault;
            continue;
        }
        if (!key.starts_with("paper ") && !key.starts_with("paper\t"))
            return Fault{"unknown section [" + key + "]"};
        if (printer.papers.size() == kMaxPapers)
            return Fault{"more than " + std::to_string(kMaxPapers) + " papers"};
        const Section section(value, key, {"name", "size", "margins"});
        PaperDefinition paper;
        if (auto fault = ReadPaperSection(section, Trim(std::string_view(key).substr(6)), paper))
            return fault;
        printer.papers.push_back(std::move(paper));
    }
    if (!printerSectionSeen)
        return Fault{"there is no [printer] section"};
    if (printer.papers.empty())
        return Fault{"no [paper N] section lists a paper"};
    return std::nullopt;
}

} // namespace

PrinterDefinitionResult ParsePrinterFile(std::string_view text)
{
    PrinterDefinitionResult result;
    if (text.size() > kMaxPrinterFileBytes) {
        result.error = "larger than " + std::to_string(kMaxPrinterFileBytes) + " bytes";
        return result;
    }
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    Tree root;
    try {
        std::istringstream stream{std::string(text)};
        boost::property_tree::read_ini(stream, root);
    } catch (const boost::property_tree::ini_parser_error& error) {
        result.error = "line " + std::to_string(error.line()) + ": " + error.message();
        return result;
    }
    PrinterDescription printer;
    if (auto fault = ReadDefinition(root, printer)) {
        result.error = std::move(fault->message);
        return result;
    }
    return PrinterDefinition::Create(std::move(printer));
}

} // namespace platform::spooler

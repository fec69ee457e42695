#include "platform/spooler/printer_definition.h"

#include "platform/kernel/host.h"

#include <algorithm>
#include <set>

namespace platform {
namespace {

constexpr std::int16_t kPortrait = 1;
constexpr std::int16_t kLandscape = 2;

bool HasControlCharacter(std::u16string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x20 || unit == 0x7F; });
}

std::string Quoted(std::u16string_view text)
{
    std::string quoted(1, '\'');
    quoted += Utf16ToUtf8(text);
    quoted += '\'';
    return quoted;
}

std::optional<std::string> CheckName(std::u16string_view name)
{
    if (name.empty())
        return "the printer name is empty";
    if (name.size() > kMaxPrinterNameUnits)
        return "the printer name " + Quoted(name) + " is longer than " + std::to_string(kMaxPrinterNameUnits)
            + " UTF-16 units";
    if (HasControlCharacter(name))
        return "the printer name contains a control character";
    // The name becomes a folder of the spool area and a spooler name, where these mean something else.
    if (name == u"." || name == u".." || name.find_first_of(u"/\\,") != std::u16string_view::npos)
        return "the printer name " + Quoted(name) + " contains '/', '\\' or ',' or is '.' or '..'";
    return std::nullopt;
}

std::optional<std::string> CheckResolutions(const PrinterDescription& printer)
{
    if (printer.resolutions.empty() || printer.resolutions.size() > kMaxResolutions)
        return "a printer lists 1 to " + std::to_string(kMaxResolutions) + " resolutions, this one "
            + std::to_string(printer.resolutions.size());
    std::set<std::int32_t> seen;
    for (std::int32_t dpi : printer.resolutions) {
        if (dpi < kMinDpi || dpi > kMaxDpi)
            return "the resolution " + std::to_string(dpi) + " dpi is not from " + std::to_string(kMinDpi) + " to "
                + std::to_string(kMaxDpi);
        if (!seen.insert(dpi).second)
            return "the resolution " + std::to_string(dpi) + " dpi is listed twice";
    }
    if (!seen.contains(printer.defaultResolution))
        return "the default resolution " + std::to_string(printer.defaultResolution)
            + " dpi is not among the resolutions";
    return std::nullopt;
}

bool MarginsLeaveRoom(const PaperDefinition& margins, std::int32_t width, std::int32_t length)
{
    // Micrometres against tenths of a millimetre: the printable area must keep some width and length.
    return std::int64_t{margins.marginLeft} + margins.marginRight < std::int64_t{width} * 100
        && std::int64_t{margins.marginTop} + margins.marginBottom < std::int64_t{length} * 100;
}

std::optional<std::string> CheckPaper(const PaperDefinition& paper)
{
    const std::string which = "paper " + std::to_string(paper.number);
    if (paper.number < 1)
        return "the paper number " + std::to_string(paper.number) + " is not from 1 to 32767";
    if (paper.name.empty())
        return which + " has no name";
    if (paper.name.size() > kMaxPaperNameUnits)
        return which + " has a name longer than " + std::to_string(kMaxPaperNameUnits) + " UTF-16 units";
    if (HasControlCharacter(paper.name))
        return which + " has a name with a control character";
    if (paper.width < 1 || paper.width > kMaxSheetTenths || paper.length < 1 || paper.length > kMaxSheetTenths)
        return which + " has the size " + std::to_string(paper.width) + " x " + std::to_string(paper.length)
            + " tenths of a millimetre, not from 1 to " + std::to_string(kMaxSheetTenths);
    if (paper.marginLeft < 0 || paper.marginTop < 0 || paper.marginRight < 0 || paper.marginBottom < 0)
        return which + " has a negative margin";
    if (!MarginsLeaveRoom(paper, paper.width, paper.length))
        return which + " has margins that leave no printable area on the sheet";
    return std::nullopt;
}

std::optional<std::string> CheckPapers(const PrinterDescription& printer)
{
    if (printer.papers.empty())
        return "the printer lists no paper";
    if (printer.papers.size() > kMaxPapers)
        return "the printer lists more than " + std::to_string(kMaxPapers) + " papers";
    std::set<std::int16_t> numbers;
    for (const PaperDefinition& paper : printer.papers) {
        if (auto fault = CheckPaper(paper))
            return fault;
        if (!numbers.insert(paper.number).second)
            return "paper number " + std::to_string(paper.number) + " is listed twice";
    }
    if (!numbers.contains(printer.defaultPaper))
        return "the default paper " + std::to_string(printer.defaultPaper) + " is not among the papers";
    return std::nullopt;
}

SheetExtent ExtentOf(const std::vector<PaperDefinition>& papers)
{
    SheetExtent extent{papers.front().width, papers.front().length, papers.front().width, papers.front().length};
    for (const PaperDefinition& paper : papers) {
        extent.minWidth = std::min(extent.minWidth, paper.width);
        extent.maxWidth = std::max(extent.maxWidth, paper.width);
        extent.minLength = std::min(extent.minLength, paper.length);
        extent.maxLength = std::max(extent.maxLength, paper.length);
    }
    return extent;
}

std::optional<std::string> Check(const PrinterDescription& printer)
{
    if (auto fault = CheckName(printer.name))
        return fault;
    if (auto fault = CheckResolutions(printer))
        return fault;
    if (auto fault = CheckPapers(printer))
        return fault;
    if (printer.defaultOrientation != kPortrait && printer.defaultOrientation != kLandscape)
        return "the default orientation " + std::to_string(printer.defaultOrientation)
            + " is neither portrait nor landscape";
    if (printer.copiesMin < 1 || printer.copiesMin > printer.copiesMax || printer.copiesMax > kMaxCopies)
        return "the copies " + std::to_string(printer.copiesMin) + "-" + std::to_string(printer.copiesMax)
            + " are not a range MIN-MAX with 1 <= MIN <= MAX <= " + std::to_string(kMaxCopies);
    // A custom sheet takes the default paper's margins, so they must fit the smallest sheet allowed.
    const SheetExtent extent = ExtentOf(printer.papers);
    const auto fallback = std::find_if(printer.papers.begin(), printer.papers.end(),
                                       [&](const PaperDefinition& p) { return p.number == printer.defaultPaper; });
    if (!MarginsLeaveRoom(*fallback, extent.minWidth, extent.minLength))
        return "the default paper's margins leave no printable area on the smallest custom sheet";
    return std::nullopt;
}

} // namespace

PrinterDefinitionResult PrinterDefinition::Create(PrinterDescription description)
{
    if (auto fault = Check(description))
        return {std::nullopt, std::move(*fault)};
    return {PrinterDefinition(std::move(description)), {}};
}

const PaperDefinition& PrinterDefinition::DefaultPaper() const
{
    // Create saw the default paper among the papers.
    return *FindPaper(description_.defaultPaper);
}

const PaperDefinition* PrinterDefinition::FindPaper(std::int16_t number) const
{
    for (const PaperDefinition& paper : description_.papers) {
        if (paper.number == number)
            return &paper;
    }
    return nullptr;
}

std::int32_t PrinterDefinition::ClosestResolution(std::int32_t dpi) const
{
    std::int32_t best = description_.defaultResolution;
    std::int64_t bestDistance = -1;
    for (std::int32_t candidate : description_.resolutions) {
        const std::int64_t distance = candidate > dpi ? std::int64_t{candidate} - dpi : std::int64_t{dpi} - candidate;
        if (bestDistance < 0 || distance < bestDistance || (distance == bestDistance && candidate < best)) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

SheetExtent PrinterDefinition::Extent() const
{
    return ExtentOf(description_.papers);
}

} // namespace platform

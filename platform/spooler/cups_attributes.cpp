#include "platform/spooler/cups_attributes.h"

#include "platform/kernel/host.h"

#include <cups/pwg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform::spooler {
namespace {

// IPP sizes and margins are in hundredths of a millimetre.
constexpr std::int32_t kHundredthsPerTenth = 10;
constexpr std::int32_t kMicronsPerHundredth = 10;
// Two sizes this close (hundredths of a millimetre) are the same standard sheet: sizes a server
// worked out from points or inches come out a little off.
constexpr std::int32_t kStandardSizeTolerance = 20;
// What a queue that says nothing of its margins is given on every side: 5 mm.
constexpr std::int32_t kDefaultMargin = 500;
constexpr std::int32_t kDefaultDpi = 300;
// Papers that are no standard device-mode paper take numbers from here to the largest.
constexpr std::int32_t kFirstDriverPaper = 256;
constexpr std::int32_t kLastDriverPaper = 32767;

// A standard sheet: its IPP (PWG) name, its size, its device-mode paper number (0 where there is
// none) and the name its paper takes.
struct StandardSheet {
    const char* keyword;
    std::int32_t width; // hundredths of a millimetre
    std::int32_t length;
    std::int16_t number;
    const char* name;
};

constexpr std::array kStandardSheets = {
    StandardSheet{"na_letter_8.5x11in", 21590, 27940, 1, "Letter"},
    StandardSheet{"na_ledger_11x17in", 27940, 43180, 3, "Tabloid"},
    StandardSheet{"na_legal_8.5x14in", 21590, 35560, 5, "Legal"},
    StandardSheet{"na_invoice_5.5x8.5in", 13970, 21590, 6, "Statement"},
    StandardSheet{"na_executive_7.25x10.5in", 18415, 26670, 7, "Executive"},
    StandardSheet{"iso_a3_297x420mm", 29700, 42000, 8, "A3"},
    StandardSheet{"iso_a4_210x297mm", 21000, 29700, 9, "A4"},
    StandardSheet{"iso_a5_148x210mm", 14800, 21000, 11, "A5"},
    StandardSheet{"jis_b4_257x364mm", 25700, 36400, 12, "B4 (JIS)"},
    StandardSheet{"jis_b5_182x257mm", 18200, 25700, 13, "B5 (JIS)"},
    StandardSheet{"na_number-10_4.125x9.5in", 10478, 24130, 20, "Envelope #10"},
    StandardSheet{"iso_dl_110x220mm", 11000, 22000, 27, "Envelope DL"},
    StandardSheet{"iso_c5_162x229mm", 16200, 22900, 28, "Envelope C5"},
    StandardSheet{"iso_c4_229x324mm", 22900, 32400, 30, "Envelope C4"},
    StandardSheet{"iso_c6_114x162mm", 11400, 16200, 31, "Envelope C6"},
    StandardSheet{"na_monarch_3.875x7.5in", 9843, 19050, 37, "Envelope Monarch"},
    StandardSheet{"jpn_hagaki_100x148mm", 10000, 14800, 43, "Japanese Postcard"},
    StandardSheet{"iso_a6_105x148mm", 10500, 14800, 70, "A6"},
    StandardSheet{"na_index-4x6_4x6in", 10160, 15240, 0, "4x6"},
    StandardSheet{"na_5x7_5x7in", 12700, 17780, 0, "5x7"},
    StandardSheet{"oe_photo-l_3.5x5in", 8890, 12700, 0, "3.5x5"},
    StandardSheet{"na_index-3x5_3x5in", 7620, 12700, 0, "3x5"},
    StandardSheet{"na_govt-letter_8x10in", 20320, 25400, 0, "8x10"},
};

// One sheet a queue offers, with its margins; all in hundredths of a millimetre.
struct Medium {
    std::int32_t width = 0;
    std::int32_t length = 0;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool Borderless() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

// The margins a queue offers apart from any one sheet: the widest it lists on each side, and
// whether it can print without any.
struct QueueMargins {
    Medium margins;
    bool borderless = false;
};

int ValueCount(ipp_attribute_t* attribute)
{
    return attribute ? std::min(ippGetCount(attribute), kMaxValuesRead) : 0;
}

ipp_attribute_t* Find(ipp_t* attributes, const char* name, ipp_tag_t tag)
{
    if (!attributes)
        return nullptr;
    ipp_attribute_t* attribute = ippFindAttribute(attributes, name, IPP_TAG_ZERO);
    return attribute && ippGetValueTag(attribute) == tag ? attribute : nullptr;
}

// The words of a keyword (or name) attribute, in order.
std::vector<std::string> Keywords(ipp_t* attributes, const char* name)
{
    std::vector<std::string> words;
    ipp_attribute_t* attribute = attributes ? ippFindAttribute(attributes, name, IPP_TAG_ZERO) : nullptr;
    if (!attribute)
        return words;
    const ipp_tag_t tag = ippGetValueTag(attribute);
    if (tag != IPP_TAG_KEYWORD && tag != IPP_TAG_NAME)
        return words;
    for (int i = 0; i < ValueCount(attribute); ++i) {
        if (const char* word = ippGetString(attribute, i, nullptr))
            words.emplace_back(word);
    }
    return words;
}

template <typename T, typename V>
bool Contains(const std::vector<T>& values, const V& value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

std::optional<std::int32_t> Integer(ipp_t* collection, const char* name)
{
    ipp_attribute_t* attribute = Find(collection, name, IPP_TAG_INTEGER);
    if (!attribute || ippGetCount(attribute) < 1)
        return std::nullopt;
    return ippGetInteger(attribute, 0);
}

// The size an IPP media keyword names ("iso_a4_210x297mm", or a legacy name), if it names one.
std::optional<Medium> SizeOfKeyword(const char* keyword)
{
    const pwg_media_t* media = keyword ? pwgMediaForPWG(keyword) : nullptr;
    if (!media || media->width <= 0 || media->length <= 0)
        return std::nullopt;
    return Medium{media->width, media->length, 0, 0, 0, 0};
}

// One media collection ({media-size={x-dimension y-dimension} media-*-margin...}); a side it says
// nothing about takes the queue's margin. A size given as a range is a custom size, not a sheet.
std::optional<Medium> ReadMediaCol(ipp_t* collection, const QueueMargins& queue)
{
    std::optional<Medium> medium;
    if (ipp_attribute_t* size = Find(collection, "media-size", IPP_TAG_BEGIN_COLLECTION)) {
        ipp_t* dimensions = ippGetCollection(size, 0);
        const auto width = Integer(dimensions, "x-dimension");
        const auto length = Integer(dimensions, "y-dimension");
        if (width && length)
            medium = Medium{*width, *length, 0, 0, 0, 0};
    } else if (ipp_attribute_t* name = Find(collection, "media-size-name", IPP_TAG_KEYWORD)) {
        medium = SizeOfKeyword(ippGetString(name, 0, nullptr));
    }
    if (!medium || medium->width <= 0 || medium->length <= 0)
        return std::nullopt;
    medium->left = Integer(collection, "media-left-margin").value_or(queue.margins.left);
    medium->top = Integer(collection, "media-top-margin").value_or(queue.margins.top);
    medium->right = Integer(collection, "media-right-margin").value_or(queue.margins.right);
    medium->bottom = Integer(collection, "media-bottom-margin").value_or(queue.margins.bottom);
    if (medium->left < 0 || medium->top < 0 || medium->right < 0 || medium->bottom < 0)
        return std::nullopt;
    return medium;
}

std::vector<Medium> ReadMediaCols(ipp_t* attributes, const char* name, const QueueMargins& queue)
{
    std::vector<Medium> media;
    ipp_attribute_t* attribute = Find(attributes, name, IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0; i < ValueCount(attribute); ++i) {
        if (const auto medium = ReadMediaCol(ippGetCollection(attribute, i), queue))
            media.push_back(*medium);
    }
    return media;
}

// Sheets named by keywords take the queue's margins, and, with `twins`, a borderless twin when the
// queue can print without margins.
std::vector<Medium> ReadMediaKeywords(ipp_t* attributes, const char* name, const QueueMargins& queue, bool twins)
{
    std::vector<Medium> media;
    for (const std::string& keyword : Keywords(attributes, name)) {
        std::optional<Medium> medium = SizeOfKeyword(keyword.c_str());
        if (!medium)
            continue;
        Medium bordered = queue.margins;
        bordered.width = medium->width;
        bordered.length = medium->length;
        media.push_back(bordered);
        if (twins && queue.borderless && !bordered.Borderless())
            media.push_back(*medium);
    }
    return media;
}

QueueMargins ReadQueueMargins(ipp_t* attributes)
{
    QueueMargins queue{{0, 0, kDefaultMargin, kDefaultMargin, kDefaultMargin, kDefaultMargin}, true};
    const std::pair<const char*, std::int32_t*> sides[] = {
        {"media-left-margin-supported", &queue.margins.left},
        {"media-top-margin-supported", &queue.margins.top},
        {"media-right-margin-supported", &queue.margins.right},
        {"media-bottom-margin-supported", &queue.margins.bottom},
    };
    for (const auto& [name, side] : sides) {
        ipp_attribute_t* attribute = Find(attributes, name, IPP_TAG_INTEGER);
        bool zero = false;
        std::int32_t widest = -1;
        for (int i = 0; i < ValueCount(attribute); ++i) {
            const int value = ippGetInteger(attribute, i);
            zero = zero || value == 0;
            widest = std::max(widest, value);
        }
        if (widest >= 0)
            *side = widest;
        queue.borderless = queue.borderless && zero;
    }
    return queue;
}

const StandardSheet* StandardSheetOf(const Medium& medium)
{
    for (const StandardSheet& sheet : kStandardSheets) {
        if (std::abs(sheet.width - medium.width) <= kStandardSizeTolerance
            && std::abs(sheet.length - medium.length) <= kStandardSizeTolerance)
            return &sheet;
    }
    return nullptr;
}

// A number for a paper that has no standard one, the same for the same sheet whatever else the
// queue lists, so a device mode saved with it still names that sheet later.
std::int16_t DriverNumber(std::string_view key)
{
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return static_cast<std::int16_t>(kFirstDriverPaper + hash % (kLastDriverPaper - kFirstDriverPaper + 1));
}

// The next number not yet taken, from `number` on, wrapping within the driver's own numbers.
std::int16_t FreeNumber(std::int16_t number, const std::set<std::int16_t>& taken)
{
    std::int32_t candidate = number;
    while (taken.contains(static_cast<std::int16_t>(candidate)))
        candidate = candidate >= kLastDriverPaper ? kFirstDriverPaper : candidate + 1;
    return static_cast<std::int16_t>(candidate);
}

// "100 x 150 mm", "104.77 x 241.3 mm".
std::string SizeName(const Medium& medium)
{
    auto millimetres = [](std::int32_t hundredths) {
        const std::int32_t whole = hundredths / 100;
        const std::int32_t fraction = hundredths % 100;
        char text[32];
        if (fraction == 0)
            std::snprintf(text, sizeof text, "%d", whole);
        else if (fraction % 10 == 0)
            std::snprintf(text, sizeof text, "%d.%d", whole, fraction / 10);
        else
            std::snprintf(text, sizeof text, "%d.%02d", whole, fraction);
        return std::string(text);
    };
    return millimetres(medium.width) + " x " + millimetres(medium.length) + " mm";
}

// The sizes in order of first appearance, each with its first sheet with margins and its first
// sheet without.
struct SizeGroup {
    std::optional<Medium> bordered;
    std::optional<Medium> borderless;

    const Medium& Any() const { return bordered ? *bordered : *borderless; }
};

std::vector<SizeGroup> GroupBySize(const std::vector<Medium>& media)
{
    std::vector<SizeGroup> groups;
    for (const Medium& medium : media) {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const SizeGroup& g) {
            return g.Any().width == medium.width && g.Any().length == medium.length;
        });
        if (group == groups.end()) {
            groups.emplace_back();
            group = std::prev(groups.end());
        }
        std::optional<Medium>& slot = medium.Borderless() ? group->borderless : group->bordered;
        if (!slot)
            slot = medium;
    }
    return groups;
}

// The paper of a sheet: sizes to the nearest tenth of a millimetre, margins exactly in micrometres.
// Empty when the sheet cannot be a paper of a device mode, or its margins leave nothing to print on.
std::optional<PaperDefinition> PaperOf(const Medium& medium, std::int16_t number, std::string_view name)
{
    const std::int64_t most = std::int64_t{kMaxSheetTenths} * kHundredthsPerTenth;
    if (medium.width > most || medium.length > most || medium.left > most || medium.top > most || medium.right > most
        || medium.bottom > most)
        return std::nullopt;
    PaperDefinition paper;
    paper.number = number;
    Utf8ToUtf16(name, paper.name);
    paper.width = (medium.width + kHundredthsPerTenth / 2) / kHundredthsPerTenth;
    paper.length = (medium.length + kHundredthsPerTenth / 2) / kHundredthsPerTenth;
    paper.marginLeft = medium.left * kMicronsPerHundredth;
    paper.marginTop = medium.top * kMicronsPerHundredth;
    paper.marginRight = medium.right * kMicronsPerHundredth;
    paper.marginBottom = medium.bottom * kMicronsPerHundredth;
    if (paper.width < 1 || paper.length < 1 || paper.marginLeft + paper.marginRight >= paper.width * 100
        || paper.marginTop + paper.marginBottom >= paper.length * 100)
        return std::nullopt;
    return paper;
}

// Papers from sheets: a standard size takes its device-mode number and name; a size offered with
// margins and without becomes two papers, the one without named "... Borderless".
std::vector<PaperDefinition> PapersOf(const std::vector<Medium>& media)
{
    std::vector<PaperDefinition> papers;
    std::set<std::int16_t> taken;
    for (const SizeGroup& group : GroupBySize(media)) {
        const Medium& first = group.Any();
        const StandardSheet* standard = StandardSheetOf(first);
        const std::string key = standard ? standard->keyword
                                         : "custom_" + std::to_string(first.width) + "x" + std::to_string(first.length);
        const std::string name = standard ? standard->name : SizeName(first);
        const std::int16_t number = standard && standard->number != 0 && !taken.contains(standard->number)
            ? standard->number
            : FreeNumber(DriverNumber(key), taken);
        bool borderedListed = false;
        for (const std::optional<Medium>& medium : {group.bordered, group.borderless}) {
            if (!medium || papers.size() == kMaxPapers)
                continue;
            const bool twin = borderedListed;
            const std::int16_t paperNumber = twin ? FreeNumber(DriverNumber(key + "_borderless"), taken) : number;
            std::optional<PaperDefinition> paper = PaperOf(*medium, paperNumber, twin ? name + " Borderless" : name);
            if (!paper)
                continue;
            borderedListed = true;
            taken.insert(paperNumber);
            papers.push_back(std::move(*paper));
        }
    }
    return papers;
}

// The paper that stands for a sheet: the same size and the same kind (with or without margins),
// or else the first of the same size.
const PaperDefinition* PaperFor(const std::vector<PaperDefinition>& papers, const Medium& medium)
{
    const std::optional<PaperDefinition> sheet = PaperOf(medium, 0, "");
    const PaperDefinition* sameSize = nullptr;
    for (const PaperDefinition& paper : papers) {
        if (!sheet || paper.width != sheet->width || paper.length != sheet->length)
            continue;
        if (paper.IsBorderless() == medium.Borderless())
            return &paper;
        if (!sameSize)
            sameSize = &paper;
    }
    return sameSize;
}

std::int16_t DefaultPaperOf(ipp_t* attributes, const std::vector<PaperDefinition>& papers, const QueueMargins& queue)
{
    for (const Medium& medium : ReadMediaCols(attributes, "media-col-default", queue)) {
        if (const PaperDefinition* paper = PaperFor(papers, medium))
            return paper->number;
    }
    for (const std::string& keyword : Keywords(attributes, "media-default")) {
        const auto size = SizeOfKeyword(keyword.c_str());
        Medium bordered = queue.margins;
        if (size) {
            bordered.width = size->width;
            bordered.length = size->length;
            if (const PaperDefinition* paper = PaperFor(papers, bordered))
                return paper->number;
        }
    }
    return papers.front().number;
}

// A custom sheet takes the default paper's margins: papers too small for them are left out.
void DropSheetsSmallerThanTheDefaultMargins(std::vector<PaperDefinition>& papers, std::int16_t defaultNumber)
{
    const PaperDefinition fallback = *std::find_if(papers.begin(), papers.end(),
                                                   [&](const PaperDefinition& p) { return p.number == defaultNumber; });
    std::erase_if(papers, [&](const PaperDefinition& p) {
        return std::int64_t{fallback.marginLeft} + fallback.marginRight >= std::int64_t{p.width} * 100
            || std::int64_t{fallback.marginTop} + fallback.marginBottom >= std::int64_t{p.length} * 100;
    });
}

std::optional<std::int32_t> DotsPerInch(ipp_attribute_t* attribute, int index)
{
    int down = 0;
    ipp_res_t stored = IPP_RES_PER_INCH;
    const int across = ippGetResolution(attribute, index, &down, &stored);
    // libcups keeps the units byte as the server sent it, any of 256 values: its bytes are read as
    // a plain number, since an ipp_res_t holding neither of its two units is no value to load.
    int units = 0;
    static_assert(sizeof stored == sizeof units);
    std::memcpy(&units, &stored, sizeof units);
    if (across != down || (units != IPP_RES_PER_INCH && units != IPP_RES_PER_CM))
        return std::nullopt;
    const std::int64_t dpi = units == IPP_RES_PER_CM ? (std::int64_t{across} * 254 + 50) / 100 : across;
    if (dpi < kMinDpi || dpi > kMaxDpi)
        return std::nullopt;
    return static_cast<std::int32_t>(dpi);
}

void ReadResolutions(ipp_t* attributes, PrinterDescription& printer)
{
    ipp_attribute_t* supported = Find(attributes, "printer-resolution-supported", IPP_TAG_RESOLUTION);
    for (int i = 0; i < ValueCount(supported) && printer.resolutions.size() < kMaxResolutions; ++i) {
        const auto dpi = DotsPerInch(supported, i);
        if (dpi && !Contains(printer.resolutions, *dpi))
            printer.resolutions.push_back(*dpi);
    }
    if (printer.resolutions.empty())
        printer.resolutions.push_back(kDefaultDpi);
    printer.defaultResolution = printer.resolutions.front();
    ipp_attribute_t* defaultValue = Find(attributes, "printer-resolution-default", IPP_TAG_RESOLUTION);
    if (ValueCount(defaultValue) > 0) {
        const auto dpi = DotsPerInch(defaultValue, 0);
        if (dpi && Contains(printer.resolutions, *dpi))
            printer.defaultResolution = *dpi;
    }
}

void ReadCopies(ipp_t* attributes, PrinterDescription& printer)
{
    ipp_attribute_t* attribute = attributes ? ippFindAttribute(attributes, "copies-supported", IPP_TAG_ZERO) : nullptr;
    if (ValueCount(attribute) < 1)
        return;
    int lower = 1;
    int upper = 1;
    if (ippGetValueTag(attribute) == IPP_TAG_RANGE)
        lower = ippGetRange(attribute, 0, &upper);
    else if (ippGetValueTag(attribute) == IPP_TAG_INTEGER)
        upper = ippGetInteger(attribute, 0);
    lower = std::max(lower, 1);
    upper = std::min(upper, kMaxCopies);
    if (lower <= upper) {
        printer.copiesMin = lower;
        printer.copiesMax = upper;
    }
}

bool ReadColor(ipp_t* attributes)
{
    const std::vector<std::string> modes = Keywords(attributes, "print-color-mode-supported");
    if (!modes.empty())
        return Contains(modes, "color");
    ipp_attribute_t* color = Find(attributes, "color-supported", IPP_TAG_BOOLEAN);
    return ValueCount(color) > 0 && ippGetBoolean(color, 0);
}

} // namespace

PrinterDefinitionResult ReadQueueAttributes(std::string_view queueName, ipp_t* attributes)
{
    PrinterDescription printer;
    printer.source = PrinterSource::Cups;
    if (!Utf8ToUtf16(queueName, printer.name))
        return {std::nullopt, "the queue name is not valid UTF-8"};

    const QueueMargins queue = ReadQueueMargins(attributes);
    // The sheets: the database, with what is loaded added (some printers list only that); plain
    // keywords stand in for either when the collections are missing.
    std::vector<Medium> media = ReadMediaCols(attributes, "media-col-database", queue);
    if (media.empty())
        media = ReadMediaKeywords(attributes, "media-supported", queue, true);
    std::vector<Medium> ready = ReadMediaCols(attributes, "media-col-ready", queue);
    if (ready.empty())
        ready = ReadMediaKeywords(attributes, "media-ready", queue, false);
    media.insert(media.end(), ready.begin(), ready.end());
    printer.papers = PapersOf(media);
    // A queue that names no sheet it can print on still prints on the common ones.
    for (const Medium& margins :
         {queue.margins, Medium{0, 0, kDefaultMargin, kDefaultMargin, kDefaultMargin, kDefaultMargin}}) {
        if (!printer.papers.empty())
            break;
        printer.papers = PapersOf({{21590, 27940, margins.left, margins.top, margins.right, margins.bottom},
                                   {21000, 29700, margins.left, margins.top, margins.right, margins.bottom}});
    }
    printer.defaultPaper = DefaultPaperOf(attributes, printer.papers, queue);
    DropSheetsSmallerThanTheDefaultMargins(printer.papers, printer.defaultPaper);

    ReadResolutions(attributes, printer);
    ReadCopies(attributes, printer);
    printer.color = ReadColor(attributes);
    const std::vector<std::string> sides = Keywords(attributes, "sides-supported");
    printer.duplex = Contains(sides, "two-sided-long-edge") || Contains(sides, "two-sided-short-edge");
    // The job reaches the queue as a PDF document, and a PDF carries JPEG data as it is.
    printer.takesJpeg = true;
    return PrinterDefinition::Create(std::move(printer));
}

} // namespace platform::spooler

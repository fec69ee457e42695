#include "platform/spooler/devmode.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace platform::spooler {

namespace {

constexpr SHORT kCustomPaperNumber = 0; // no DMPAPER value: 256 and up are driver papers here
constexpr SHORT kDefaultCollate = DMCOLLATE_TRUE;

// Copies a name into a fixed zero-terminated field, cutting it to fit without splitting a
// surrogate pair.
template <std::size_t N>
void CopyName(WCHAR (&field)[N], std::u16string_view name)
{
    std::size_t count = std::min(name.size(), N - 1);
    if (count < name.size() && count > 0 && name[count - 1] >= 0xD800 && name[count - 1] <= 0xDBFF)
        --count;
    std::fill(std::begin(field), std::end(field), u'\0');
    std::copy_n(name.begin(), count, field);
}

template <std::size_t N>
std::u16string_view FieldText(const WCHAR (&field)[N])
{
    return std::u16string_view(field, std::find(field, field + N, u'\0') - field);
}

void SetPaper(FullDevMode& mode, const PaperDefinition& paper, DWORD supported)
{
    mode.devMode.dmFields = supported;
    mode.devMode.dmPaperSize = paper.number;
    mode.devMode.dmPaperWidth = static_cast<SHORT>(paper.width);
    mode.devMode.dmPaperLength = static_cast<SHORT>(paper.length);
    CopyName(mode.devMode.dmFormName, paper.name);
    mode.extra.marginLeft = paper.marginLeft;
    mode.extra.marginTop = paper.marginTop;
    mode.extra.marginRight = paper.marginRight;
    mode.extra.marginBottom = paper.marginBottom;
}

bool MarginsFit(const QuillonDevModeExtra& extra, std::int32_t width, std::int32_t length)
{
    return extra.marginLeft >= 0 && extra.marginTop >= 0 && extra.marginRight >= 0 && extra.marginBottom >= 0
        && std::int64_t{extra.marginLeft} + extra.marginRight < std::int64_t{width} * 100
        && std::int64_t{extra.marginTop} + extra.marginBottom < std::int64_t{length} * 100;
}

// A sheet that is none of the printer's papers. Its size is kept within the printer's smallest and
// largest sheet; its margins are the caller's when they fit, else the default paper's.
void SetCustomSheet(FullDevMode& mode, const PrinterDefinition& printer, std::int32_t width, std::int32_t length,
                    const std::optional<QuillonDevModeExtra>& callerExtra)
{
    const SheetExtent extent = printer.Extent();
    width = std::clamp(width, extent.minWidth, extent.maxWidth);
    length = std::clamp(length, extent.minLength, extent.maxLength);
    mode.devMode.dmFields &= ~(DM_PAPERSIZE | DM_FORMNAME);
    mode.devMode.dmPaperSize = kCustomPaperNumber;
    mode.devMode.dmPaperWidth = static_cast<SHORT>(width);
    mode.devMode.dmPaperLength = static_cast<SHORT>(length);
    CopyName(mode.devMode.dmFormName, u"");
    if (callerExtra && MarginsFit(*callerExtra, width, length)) {
        mode.extra = *callerExtra;
        return;
    }
    // The default paper's margins were checked to fit the smallest sheet when the printer was made.
    const PaperDefinition& fallback = printer.DefaultPaper();
    mode.extra.marginLeft = fallback.marginLeft;
    mode.extra.marginTop = fallback.marginTop;
    mode.extra.marginRight = fallback.marginRight;
    mode.extra.marginBottom = fallback.marginBottom;
}

// The dmFields bits of an input that lie within its dmSize: an older, shorter public part simply
// does not have the later fields.
DWORD FieldsWithin(DWORD fields, WORD size)
{
    struct Span {
        DWORD bit;
        std::size_t end;
    };
    static constexpr Span spans[] = {
        {DM_ORIENTATION, offsetof(DEVMODEW, dmOrientation) + sizeof(SHORT)},
        {DM_PAPERSIZE, offsetof(DEVMODEW, dmPaperSize) + sizeof(SHORT)},
        {DM_PAPERLENGTH, offsetof(DEVMODEW, dmPaperLength) + sizeof(SHORT)},
        {DM_PAPERWIDTH, offsetof(DEVMODEW, dmPaperWidth) + sizeof(SHORT)},
        {DM_COPIES, offsetof(DEVMODEW, dmCopies) + sizeof(SHORT)},
        {DM_PRINTQUALITY, offsetof(DEVMODEW, dmPrintQuality) + sizeof(SHORT)},
        {DM_COLOR, offsetof(DEVMODEW, dmColor) + sizeof(SHORT)},
        {DM_DUPLEX, offsetof(DEVMODEW, dmDuplex) + sizeof(SHORT)},
        {DM_YRESOLUTION, offsetof(DEVMODEW, dmYResolution) + sizeof(SHORT)},
        {DM_COLLATE, offsetof(DEVMODEW, dmCollate) + sizeof(SHORT)},
        {DM_FORMNAME, offsetof(DEVMODEW, dmFormName) + sizeof(DEVMODEW::dmFormName)},
    };
    DWORD within = 0;
    for (const Span& span : spans) {
        if ((fields & span.bit) && span.end <= size)
            within |= span.bit;
    }
    return within;
}

} // namespace

DWORD SupportedFields(const PrinterDefinition& printer)
{
    DWORD fields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COPIES | DM_PRINTQUALITY
        | DM_YRESOLUTION | DM_COLOR | DM_COLLATE | DM_FORMNAME;
    if (printer.Duplex())
        fields |= DM_DUPLEX;
    return fields;
}

FullDevMode DefaultDevMode(const PrinterDefinition& printer)
{
    FullDevMode mode{};
    CopyName(mode.devMode.dmDeviceName, printer.Name());
    mode.devMode.dmSpecVersion = DM_SPECVERSION;
    mode.devMode.dmDriverVersion = kDriverVersion;
    mode.devMode.dmSize = sizeof(DEVMODEW);
    mode.devMode.dmDriverExtra = sizeof(QuillonDevModeExtra);
    mode.devMode.dmOrientation = printer.DefaultOrientation();
    mode.devMode.dmScale = 100;
    mode.devMode.dmCopies = static_cast<SHORT>(printer.CopiesMin());
    mode.devMode.dmPrintQuality = static_cast<SHORT>(printer.DefaultResolution());
    mode.devMode.dmYResolution = static_cast<SHORT>(printer.DefaultResolution());
    mode.devMode.dmColor = printer.Color() ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
    mode.devMode.dmDuplex = DMDUP_SIMPLEX;
    mode.devMode.dmCollate = kDefaultCollate;
    mode.extra = QuillonDevModeExtra{};
    SetPaper(mode, printer.DefaultPaper(), SupportedFields(printer));
    return mode;
}

bool MergeDevMode(const PrinterDefinition& printer, const DEVMODEW& input, FullDevMode& result)
{
    const WORD inputSize = input.dmSize;
    if (inputSize < offsetof(DEVMODEW, dmFields) + sizeof(DWORD))
        return false;
    // Work on a copy: the caller often passes the same buffer as input and output, and a short
    // input must not be read past its own size.
    DEVMODEW in{};
    std::memcpy(&in, &input, std::min<std::size_t>(inputSize, sizeof(DEVMODEW)));
    const std::optional<QuillonDevModeExtra> callerExtra = ReadQuillonDevModeExtra(input);
    const DWORD fields = FieldsWithin(in.dmFields, inputSize);

    FullDevMode mode = DefaultDevMode(printer);
    const PaperDefinition& defaultPaper = printer.DefaultPaper();
    const PaperDefinition* paper = (fields & DM_PAPERSIZE) ? printer.FindPaper(in.dmPaperSize) : nullptr;
    if (paper) {
        SetPaper(mode, *paper, SupportedFields(printer));
    } else if (fields & (DM_PAPERWIDTH | DM_PAPERLENGTH)) {
        const std::int32_t width = (fields & DM_PAPERWIDTH) ? in.dmPaperWidth : defaultPaper.width;
        const std::int32_t length = (fields & DM_PAPERLENGTH) ? in.dmPaperLength : defaultPaper.length;
        SetCustomSheet(mode, printer, width, length, callerExtra);
    } else if (fields & DM_FORMNAME) {
        const std::u16string_view formName = FieldText(in.dmFormName);
        for (const PaperDefinition& candidate : printer.Papers()) {
            WCHAR candidateName[CCHFORMNAME];
            CopyName(candidateName, candidate.name);
            if (FieldText(candidateName) == formName) {
                SetPaper(mode, candidate, SupportedFields(printer));
                break;
            }
        }
    }

    if ((fields & DM_ORIENTATION) && (in.dmOrientation == DMORIENT_PORTRAIT || in.dmOrientation == DMORIENT_LANDSCAPE))
        mode.devMode.dmOrientation = in.dmOrientation;
    if (fields & DM_COPIES)
        mode.devMode.dmCopies
            = static_cast<SHORT>(std::clamp<std::int32_t>(in.dmCopies, printer.CopiesMin(), printer.CopiesMax()));
    // Dots are square here: DM_PRINTQUALITY picks the closest listed resolution, and DM_YRESOLUTION
    // always comes back as the same. Negative qualities (draft, high...) name no resolution.
    if ((fields & DM_PRINTQUALITY) && in.dmPrintQuality > 0) {
        const SHORT dpi = static_cast<SHORT>(printer.ClosestResolution(in.dmPrintQuality));
        mode.devMode.dmPrintQuality = dpi;
        mode.devMode.dmYResolution = dpi;
    }
    if (fields & DM_COLOR) {
        if (in.dmColor == DMCOLOR_MONOCHROME)
            mode.devMode.dmColor = DMCOLOR_MONOCHROME;
        else if (in.dmColor == DMCOLOR_COLOR && printer.Color())
            mode.devMode.dmColor = DMCOLOR_COLOR;
    }
    if ((fields & DM_DUPLEX) && printer.Duplex()
        && (in.dmDuplex == DMDUP_SIMPLEX || in.dmDuplex == DMDUP_VERTICAL || in.dmDuplex == DMDUP_HORIZONTAL))
        mode.devMode.dmDuplex = in.dmDuplex;
    if ((fields & DM_COLLATE) && (in.dmCollate == DMCOLLATE_FALSE || in.dmCollate == DMCOLLATE_TRUE))
        mode.devMode.dmCollate = in.dmCollate;

    result = mode;
    return true;
}

} // namespace platform::spooler

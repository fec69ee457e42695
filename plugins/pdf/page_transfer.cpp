#include "plugins/pdf/page_transfer.h"

#include <cstdint>
#include <cstring>

namespace pdf {
namespace {

constexpr std::uint32_t kSignature = 0x47505651u; // "QVPG"
constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kFontHeaderBytes = LF_FACESIZE * sizeof(WCHAR) + 8;
static_assert(sizeof(FONTGLYPHTEXT) == 12, "glyph texts travel as 12 bytes each");
// Font headers and glyph texts of one transfer at most.
constexpr std::size_t kMaxFontExtras = std::size_t{32} << 20;

template <typename Value>
void Put(BYTE*& at, Value value)
{
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

// A reader that never reads past its bytes.
class Reader final {
public:
    explicit Reader(std::span<const BYTE> bytes) : bytes_(bytes) {}

    template <typename Value>
    bool Get(Value& value)
    {
        if (Left() < sizeof value)
            return false;
        std::memcpy(&value, bytes_.data() + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool Take(std::size_t count, std::span<const BYTE>& out)
    {
        if (Left() < count)
            return false;
        out = bytes_.subspan(at_, count);
        at_ += count;
        return true;
    }
    std::size_t Left() const { return bytes_.size() - at_; }

private:
    std::span<const BYTE> bytes_;
    std::size_t at_ = 0;
};

} // namespace

std::size_t MaxTransferBytes(const PageLimits& limits)
{
    return kHeaderBytes + std::size_t(limits.metafileBytes) + std::size_t(limits.fontBytes) + kMaxFontExtras;
}

std::size_t TransferBytes(const std::vector<FontRegistration>& fonts, std::size_t metafileBytes,
                          const PageLimits& limits)
{
    if (fonts.size() > kMaxTransferFonts || metafileBytes > std::uint64_t(limits.metafileBytes))
        return 0;
    std::size_t programs = 0;
    std::size_t total = kHeaderBytes + metafileBytes;
    for (const FontRegistration& font : fonts) {
        if (font.program.size() > kMaxFontProgramBytes || font.texts.size() > kMaxGlyphTexts
            || font.faceName.size() >= LF_FACESIZE)
            return 0;
        programs += font.program.size();
        total += kFontHeaderBytes + font.program.size() + font.texts.size() * sizeof(FONTGLYPHTEXT);
    }
    return programs > std::uint64_t(limits.fontBytes) || total > MaxTransferBytes(limits) ? 0 : total;
}

BYTE* WriteTransfer(std::span<BYTE> out, const std::vector<FontRegistration>& fonts, std::size_t metafileBytes,
                    const PageLimits& limits)
{
    const std::size_t total = TransferBytes(fonts, metafileBytes, limits);
    if (total == 0 || out.size() != total)
        return nullptr;
    BYTE* at = out.data();
    Put(at, kSignature);
    Put(at, std::uint32_t(fonts.size()));
    Put(at, std::uint64_t(metafileBytes));
    for (const FontRegistration& font : fonts) {
        WCHAR name[LF_FACESIZE] = {};
        std::copy(font.faceName.begin(), font.faceName.end(), name);
        std::memcpy(at, name, sizeof name);
        at += sizeof name;
        Put(at, std::uint32_t(font.program.size()));
        Put(at, std::uint32_t(font.texts.size()));
        std::memcpy(at, font.program.data(), font.program.size());
        at += font.program.size();
        if (!font.texts.empty())
            std::memcpy(at, font.texts.data(), font.texts.size() * sizeof(FONTGLYPHTEXT));
        at += font.texts.size() * sizeof(FONTGLYPHTEXT);
    }
    return at;
}

std::optional<PageTransfer> ReadTransfer(std::span<const BYTE> bytes, const PageLimits& limits)
{
    if (bytes.size() > MaxTransferBytes(limits))
        return std::nullopt;
    Reader reader(bytes);
    std::uint32_t signature = 0;
    std::uint32_t fontCount = 0;
    std::uint64_t metafileBytes = 0;
    if (!reader.Get(signature) || signature != kSignature || !reader.Get(fontCount) || !reader.Get(metafileBytes)
        || fontCount > kMaxTransferFonts || metafileBytes > std::uint64_t(limits.metafileBytes))
        return std::nullopt;
    PageTransfer transfer;
    std::uint64_t programs = 0;
    for (std::uint32_t i = 0; i < fontCount; ++i) {
        WCHAR name[LF_FACESIZE];
        std::uint32_t programBytes = 0;
        std::uint32_t textCount = 0;
        for (WCHAR& unit : name) {
            if (!reader.Get(unit))
                return std::nullopt;
        }
        if (!reader.Get(programBytes) || !reader.Get(textCount) || programBytes == 0
            || programBytes > kMaxFontProgramBytes || textCount > kMaxGlyphTexts)
            return std::nullopt;
        std::size_t nameUnits = 0;
        while (nameUnits < LF_FACESIZE && name[nameUnits] != u'\0')
            ++nameUnits;
        std::span<const BYTE> program;
        std::span<const BYTE> texts;
        if (nameUnits == 0 || nameUnits >= LF_FACESIZE || !reader.Take(programBytes, program)
            || !reader.Take(std::size_t(textCount) * sizeof(FONTGLYPHTEXT), texts))
            return std::nullopt;
        programs += programBytes;
        if (programs > std::uint64_t(limits.fontBytes))
            return std::nullopt;
        FontRegistration font;
        font.faceName.assign(name, nameUnits);
        font.program.assign(program.begin(), program.end());
        font.texts.resize(textCount);
        if (textCount > 0)
            std::memcpy(font.texts.data(), texts.data(), texts.size());
        transfer.fonts.push_back(std::move(font));
    }
    if (reader.Left() != metafileBytes || !reader.Take(std::size_t(metafileBytes), transfer.metafile))
        return std::nullopt;
    return transfer;
}

} // namespace pdf

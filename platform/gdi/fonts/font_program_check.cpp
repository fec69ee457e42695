#include "platform/gdi/fonts/font_program_check.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace platform::gdi {
namespace {

// The keys of Type 1 encryption: of the private part (eexec) and of each charstring.
constexpr std::uint16_t kEexecKey = 55665;
constexpr std::uint16_t kCharstringKey = 4330;
constexpr int kDefaultLenIV = 4;
// Operands a charstring keeps at most (Type 1 allows 24); older ones are let go.
constexpr std::size_t kMaxOperands = 32;

// Type 1 charstring operators looked at.
constexpr int kCallSubr = 10;
constexpr int kReturn = 11;
constexpr int kEscape = 12;
constexpr int kEndChar = 14;
constexpr int kDiv = 12;
constexpr int kCallOtherSubr = 16;
constexpr int kPop = 17;

std::vector<BYTE> Decrypt(std::span<const BYTE> cipher, std::uint16_t key, std::size_t skip)
{
    std::vector<BYTE> plain;
    plain.reserve(cipher.size());
    std::uint16_t r = key;
    for (const BYTE c : cipher) {
        plain.push_back(BYTE(c ^ (r >> 8)));
        r = std::uint16_t((c + r) * 52845u + 22719u);
    }
    plain.erase(plain.begin(), plain.begin() + std::ptrdiff_t(std::min(skip, plain.size())));
    return plain;
}

int HexValue(BYTE c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSpace(BYTE c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f';
}

// A PFB's segments joined, or the program itself when it is not one; nothing for a broken PFB.
std::optional<std::vector<BYTE>> Unsegmented(std::span<const BYTE> program)
{
    if (program.size() < 2 || program[0] != 0x80)
        return std::vector<BYTE>(program.begin(), program.end());
    std::vector<BYTE> joined;
    std::size_t at = 0;
    while (at + 2 <= program.size() && program[at] == 0x80 && program[at + 1] != 3) {
        if (at + 6 > program.size())
            return std::nullopt;
        const std::uint64_t length = std::uint64_t{program[at + 2]} | std::uint64_t{program[at + 3]} << 8
            | std::uint64_t{program[at + 4]} << 16 | std::uint64_t{program[at + 5]} << 24;
        at += 6;
        if (length > program.size() - at)
            return std::nullopt;
        joined.insert(joined.end(), program.begin() + std::ptrdiff_t(at),
                      program.begin() + std::ptrdiff_t(at + length));
        at += std::size_t(length);
    }
    return joined;
}

// The private part of a Type 1 program, decrypted: binary or hexadecimal after "eexec".
std::optional<std::vector<BYTE>> PrivatePart(const std::vector<BYTE>& font)
{
    const std::string_view text(reinterpret_cast<const char*>(font.data()), font.size());
    std::size_t at = text.find("eexec");
    if (at == std::string_view::npos)
        return std::nullopt;
    at += 5;
    while (at < font.size() && IsSpace(font[at]))
        ++at;
    bool hex = at + 4 <= font.size();
    for (std::size_t i = 0; hex && i < 4; ++i)
        hex = HexValue(font[at + i]) >= 0;
    if (!hex)
        return Decrypt(std::span<const BYTE>(font).subspan(at), kEexecKey, 4);
    std::vector<BYTE> binary;
    int high = -1;
    for (; at < font.size(); ++at) {
        const int digit = HexValue(font[at]);
        if (digit < 0) {
            if (IsSpace(font[at]))
                continue;
            break;
        }
        if (high < 0) {
            high = digit;
        } else {
            binary.push_back(BYTE(high << 4 | digit));
            high = -1;
        }
    }
    return Decrypt(binary, kEexecKey, 4);
}

// Reads the private part token by token: numbers, names and the binary strings of charstrings.
class PrivateReader final {
public:
    explicit PrivateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}

    bool Find(std::string_view word)
    {
        const std::string_view text(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
        const std::size_t found = text.find(word, at_);
        if (found == std::string_view::npos)
            return false;
        at_ = found + word.size();
        return true;
    }
    std::optional<std::int64_t> Number()
    {
        SkipSpace();
        bool negative = false;
        if (at_ < bytes_.size() && bytes_[at_] == '-') {
            negative = true;
            ++at_;
        }
        if (at_ >= bytes_.size() || bytes_[at_] < '0' || bytes_[at_] > '9')
            return std::nullopt;
        std::int64_t value = 0;
        for (; at_ < bytes_.size() && bytes_[at_] >= '0' && bytes_[at_] <= '9'; ++at_)
            value = std::min<std::int64_t>(value * 10 + (bytes_[at_] - '0'), std::int64_t{1} << 40);
        return negative ? -value : value;
    }
    std::string_view Token()
    {
        SkipSpace();
        const std::size_t start = at_;
        while (at_ < bytes_.size() && !IsSpace(bytes_[at_]))
            ++at_;
        return {reinterpret_cast<const char*>(bytes_.data()) + start, at_ - start};
    }
    // LENGTH RD followed by one space and LENGTH bytes: the bytes.
    std::optional<std::span<const BYTE>> Binary()
    {
        const std::optional<std::int64_t> length = Number();
        if (!length || *length < 0)
            return std::nullopt;
        Token(); // RD, -| or whatever the font named it
        ++at_;
        if (at_ > bytes_.size() || std::uint64_t(*length) > bytes_.size() - at_)
            return std::nullopt;
        const std::span<const BYTE> bytes(bytes_.data() + at_, std::size_t(*length));
        at_ += std::size_t(*length);
        return bytes;
    }
    bool Next(BYTE c)
    {
        SkipSpace();
        return at_ < bytes_.size() && bytes_[at_] == c;
    }
    std::size_t At() const { return at_; }
    void Seek(std::size_t at) { at_ = at; }

private:
    void SkipSpace()
    {
        while (at_ < bytes_.size() && IsSpace(bytes_[at_]))
            ++at_;
    }

    const std::vector<BYTE>& bytes_;
    std::size_t at_ = 0;
};

// Follows the subroutine calls of a program's charstrings as an interpreter does: a subroutine
// takes its index, and often its arguments, from the operands its caller pushed (Adobe's
// subroutine 4 of hint replacement takes the index of the subroutine it calls so), so each call is
// followed with the operands as they stand. The nesting bounds how deep, and the steps of one
// program are counted, so the walk ends whatever the program.
class CallWalker final {
public:
    CallWalker(std::vector<std::span<const BYTE>> subrs, int lenIV) : subrs_(std::move(subrs)), lenIV_(lenIV) {}

    // Whether a glyph's charstring, and every call it makes, can be followed.
    bool WalkGlyph(std::span<const BYTE> charstring)
    {
        operands_.clear();
        others_.clear();
        return Walk(charstring, 0);
    }

private:
    bool Walk(std::span<const BYTE> charstring, int level)
    {
        const std::vector<BYTE> plain = lenIV_ < 0 ? std::vector<BYTE>(charstring.begin(), charstring.end())
                                                   : Decrypt(charstring, kCharstringKey, std::size_t(lenIV_));
        steps_ += plain.size() + 1;
        if (steps_ > kMaxSteps)
            return false;
        for (std::size_t at = 0; at < plain.size();) {
            const int v = plain[at++];
            if (v >= 32) {
                if (v <= 246) {
                    Push(v - 139);
                } else if (v <= 254) {
                    if (at >= plain.size())
                        return false;
                    const int w = plain[at++];
                    Push(v <= 250 ? (v - 247) * 256 + w + 108 : -(v - 251) * 256 - w - 108);
                } else {
                    if (at + 4 > plain.size())
                        return false;
                    Push(std::int32_t(std::uint32_t(plain[at]) << 24 | std::uint32_t(plain[at + 1]) << 16
                                      | std::uint32_t(plain[at + 2]) << 8 | plain[at + 3]));
                    at += 4;
                }
                continue;
            }
            if (v == kCallSubr) {
                const std::int64_t index = Pop();
                if (index < 0 || std::uint64_t(index) >= subrs_.size() || level + 1 > kMaxSubroutineNesting
                    || !Walk(subrs_[std::size_t(index)], level + 1))
                    return false;
            } else if (v == kReturn || v == kEndChar) {
                return true;
            } else if (v == kEscape) {
                if (at >= plain.size())
                    return false;
                const int escaped = plain[at++];
                if (escaped == kCallOtherSubr) {
                    Pop();
                    const std::int64_t count = Pop();
                    others_.clear();
                    for (std::int64_t i = 0; i < count && i < std::int64_t(kMaxOperands); ++i)
                        others_.push_back(Pop());
                } else if (escaped == kPop) {
                    Push(others_.empty() ? kUnknown : others_.front());
                    if (!others_.empty())
                        others_.erase(others_.begin());
                } else if (escaped == kDiv) {
                    Pop();
                    Pop();
                    Push(kUnknown);
                } else {
                    operands_.clear();
                }
            } else {
                operands_.clear();
            }
        }
        return true;
    }

    void Push(std::int64_t value)
    {
        if (operands_.size() == kMaxOperands)
            operands_.erase(operands_.begin());
        operands_.push_back(value);
    }
    std::int64_t Pop()
    {
        if (operands_.empty())
            return kUnknown;
        const std::int64_t value = operands_.back();
        operands_.pop_back();
        return value;
    }

    // A value computed (or never pushed): no subroutine has it as its index.
    static constexpr std::int64_t kUnknown = -1;
    // Charstring bytes one program may have walked, its calls followed each time.
    static constexpr std::uint64_t kMaxSteps = std::uint64_t{1} << 24;

    std::vector<std::span<const BYTE>> subrs_;
    int lenIV_;
    std::vector<std::int64_t> operands_;
    std::vector<std::int64_t> others_;
    std::uint64_t steps_ = 0;
};

bool IsType1(std::span<const BYTE> program)
{
    if (program.size() >= 2 && program[0] == 0x80 && program[1] == 1)
        return true;
    const std::string_view start(reinterpret_cast<const char*>(program.data()),
                                 std::min<std::size_t>(program.size(), 64));
    return start.starts_with("%!PS-AdobeFont") || start.starts_with("%!FontType1");
}

} // namespace

bool FontProgramCanBeEmbedded(std::span<const BYTE> program)
{
    if (!IsType1(program))
        return true;
    const std::optional<std::vector<BYTE>> font = Unsegmented(program);
    if (!font)
        return false;
    const std::optional<std::vector<BYTE>> part = PrivatePart(*font);
    if (!part)
        return false;

    PrivateReader reader(*part);
    int lenIV = kDefaultLenIV;
    if (reader.Find("/lenIV")) {
        const std::optional<std::int64_t> value = reader.Number();
        if (!value || *value < -1 || *value > 64)
            return false;
        lenIV = int(*value);
    }
    reader.Seek(0);
    std::vector<std::span<const BYTE>> subrs;
    if (reader.Find("/Subrs")) {
        const std::optional<std::int64_t> count = reader.Number();
        if (!count || *count < 0 || std::uint64_t(*count) > kMaxCharstrings)
            return false;
        subrs.resize(std::size_t(*count));
        // "dup INDEX LENGTH RD <bytes> NP", as many as the count says.
        for (std::int64_t i = 0; i < *count && reader.Find("dup"); ++i) {
            const std::optional<std::int64_t> index = reader.Number();
            if (!index || *index < 0 || *index >= *count)
                return false;
            const std::optional<std::span<const BYTE>> bytes = reader.Binary();
            if (!bytes)
                return false;
            subrs[std::size_t(*index)] = *bytes;
        }
    }
    reader.Seek(0);
    if (!reader.Find("/CharStrings"))
        return false;
    const std::optional<std::int64_t> count = reader.Number();
    if (!count || *count < 0 || std::uint64_t(*count) > kMaxCharstrings)
        return false;
    CallWalker walker(std::move(subrs), lenIV);
    // "/NAME LENGTH RD <bytes> ND", as many as the count says.
    for (std::int64_t i = 0; i < *count; ++i) {
        if (!reader.Find("/"))
            break;
        reader.Token();
        const std::optional<std::span<const BYTE>> bytes = reader.Binary();
        if (!bytes || !walker.WalkGlyph(*bytes))
            return false;
    }
    return true;
}

} // namespace platform::gdi

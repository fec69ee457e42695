// What a drawing child hands its parent: written and read back whole, and refused when the bytes
// lie about what they hold.
#include "plugins/pdf/page_transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

std::vector<pdf::FontRegistration> TwoFonts()
{
    pdf::FontRegistration first{u"QFont1", {1, 2, 3, 4, 5}, {}};
    FONTGLYPHTEXT text{};
    text.glyph = 7;
    text.length = 2;
    text.text[0] = u'f';
    text.text[1] = u'i';
    first.texts = {text};
    pdf::FontRegistration second{u"QFont2", std::vector<unsigned char>(1000, 9), {}};
    return {first, second};
}

std::vector<BYTE> Written(const std::vector<pdf::FontRegistration>& fonts, const std::vector<BYTE>& metafile,
                          const pdf::PageLimits& limits = {})
{
    std::vector<BYTE> bytes(pdf::TransferBytes(fonts, metafile.size(), limits));
    BYTE* at = pdf::WriteTransfer(bytes, fonts, metafile.size(), limits);
    EXPECT_NE(at, nullptr);
    if (at)
        std::memcpy(at, metafile.data(), metafile.size());
    return bytes;
}

TEST(PageTransfer, FontsAndMetafileComeBackAsWritten)
{
    const std::vector<BYTE> metafile(300, 0xAB);
    const std::vector<BYTE> bytes = Written(TwoFonts(), metafile);
    ASSERT_EQ(bytes.size(), 16 + 2 * 72 + 5 + 12 + 1000 + 300u);
    const std::optional<pdf::PageTransfer> read = pdf::ReadTransfer(bytes, {});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->fonts.size(), 2u);
    EXPECT_EQ(read->fonts[0].faceName, u"QFont1");
    EXPECT_EQ(read->fonts[0].program, (std::vector<unsigned char>{1, 2, 3, 4, 5}));
    ASSERT_EQ(read->fonts[0].texts.size(), 1u);
    EXPECT_EQ(read->fonts[0].texts[0].glyph, 7);
    EXPECT_EQ(std::u16string(read->fonts[0].texts[0].text, read->fonts[0].texts[0].length), u"fi");
    EXPECT_EQ(read->fonts[1].faceName, u"QFont2");
    EXPECT_EQ(read->fonts[1].program.size(), 1000u);
    EXPECT_TRUE(read->fonts[1].texts.empty());
    EXPECT_TRUE(std::equal(read->metafile.begin(), read->metafile.end(), metafile.begin(), metafile.end()));

    const std::vector<BYTE> none = Written({}, metafile);
    ASSERT_TRUE(pdf::ReadTransfer(none, {}));
    EXPECT_TRUE(pdf::ReadTransfer(none, {})->fonts.empty());
}

TEST(PageTransfer, WhatTheLimitsDoNotAllowIsNeitherWrittenNorRead)
{
    pdf::PageLimits small;
    small.metafileBytes = 299;
    EXPECT_EQ(pdf::TransferBytes({}, 300, small), 0u);
    small = {};
    small.fontBytes = 1004;
    EXPECT_EQ(pdf::TransferBytes(TwoFonts(), 300, small), 0u);
    std::vector<BYTE> wrongSize(100);
    EXPECT_EQ(pdf::WriteTransfer(wrongSize, TwoFonts(), 300, {}), nullptr);

    // Read back under tighter limits than it was written with.
    const std::vector<BYTE> bytes = Written(TwoFonts(), std::vector<BYTE>(300, 1));
    EXPECT_FALSE(pdf::ReadTransfer(bytes, small));
    small = {};
    small.metafileBytes = 299;
    EXPECT_FALSE(pdf::ReadTransfer(bytes, small));
}

// Every way bytes can lie: each damage, applied to a good transfer, makes it unreadable.
TEST(PageTransfer, DamagedBytesAreRefused)
{
    const std::vector<BYTE> good = Written(TwoFonts(), std::vector<BYTE>(300, 1));
    auto put32 = [](std::vector<BYTE>& bytes, std::size_t at, std::uint32_t value) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    };
    const std::size_t font = 16;
    const std::size_t sizes = font + 64;
    const std::vector<std::pair<const char*, std::function<void(std::vector<BYTE>&)>>> damages = {
        {"signature", [](auto& b) { b[0] ^= 1; }},
        {"one byte short", [](auto& b) { b.pop_back(); }},
        {"one byte more", [](auto& b) { b.push_back(0); }},
        {"font count too high", [&](auto& b) { put32(b, 4, 3); }},
        {"font count beyond the limit", [&](auto& b) { put32(b, 4, 0xFFFFFFFFu); }},
        {"metafile size lies", [&](auto& b) { put32(b, 8, 301); }},
        {"metafile size beyond the limit", [&](auto& b) { put32(b, 12, 1); }},
        {"face name without its end", [&](auto& b) { std::fill(b.begin() + font, b.begin() + sizes, 0x41); }},
        {"empty face name", [&](auto& b) { b[font] = b[font + 1] = 0; }},
        {"program size past the end", [&](auto& b) { put32(b, sizes, 1000000); }},
        {"program beyond the limit", [&](auto& b) { put32(b, sizes, 0x7FFFFFFFu); }},
        {"empty program", [&](auto& b) { put32(b, sizes, 0); }},
        {"glyph texts past the end", [&](auto& b) { put32(b, sizes + 4, 60000); }},
        {"too many glyph texts", [&](auto& b) { put32(b, sizes + 4, 65537); }},
    };
    ASSERT_TRUE(pdf::ReadTransfer(good, {}));
    for (const auto& [name, damage] : damages) {
        std::vector<BYTE> bytes = good;
        damage(bytes);
        EXPECT_FALSE(pdf::ReadTransfer(bytes, {})) << name;
    }
    EXPECT_FALSE(pdf::ReadTransfer({}, {}));
}

} // namespace

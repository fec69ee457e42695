// The fonts of a page as they are registered: with the same texts whatever the page draws where a
// font's own tables tell its codes, so that a font registers alike on every page; with the page's
// texts where they cannot. And a face cut out of a system font collection, as substituted CJK fonts
// are registered: each face of the machine's Noto CJK collection loads on its own as the face it
// was, and damaged or foreign bytes give nothing.
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/page_fonts.h"
#include "tests/pdf/pdf_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr char kCollection[] = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
constexpr char kSingleFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::vector<unsigned char> Bytes(const char* path)
{
    const std::string bytes = testing_support::ReadWholeFile(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::size_t BigEndian(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return std::size_t(bytes[at]) << 24 | std::size_t(bytes[at + 1]) << 16 | std::size_t(bytes[at + 2]) << 8
        | bytes[at + 3];
}

// The family and glyph count FreeType reads from `bytes` as face `index`; empty when it cannot.
std::string Describe(const std::vector<unsigned char>& bytes, int index)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return {};
    std::string description;
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(library, bytes.data(), FT_Long(bytes.size()), index, &face) == 0) {
        description = std::string(face->family_name) + " " + std::to_string(face->num_glyphs) + " "
            + (FT_IS_SFNT(face) ? "sfnt" : "");
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    return description;
}

// The fonts a page registers when drawn with `texts`.
std::vector<pdf::FontRegistration> Registered(const pdf::Page& page, const pdf::PageTexts& texts)
{
    std::vector<pdf::FontRegistration> registered;
    const std::optional<pdf::PagePlacement> placement
        = pdf::PagePlacement::Fit(page.Width(), page.Height(), 5100, 6600, 600, 600, {});
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    if (!placement || !recording)
        return registered;
    SetGraphicsMode(recording, GM_ADVANCED);
    EXPECT_TRUE(pdf::DrawPageAsVectors(page, *placement, 0, 0, {}, recording, texts, {}, registered));
    DeleteEnhMetaFile(CloseEnhMetaFile(recording));
    return registered;
}

TEST(PageFonts, FontsWhoseOwnTablesTellTheirCodesRegisterAlikeWhateverThePageDraws)
{
    const std::string pages = std::string(QUILLON_SOURCE_DIR) + "/tests/pages/";
    for (const char* name : {"font-type1", "font-truetype", "font-cid-cff-xetex", "font-cidtype2-identity",
                             "font-identity-v", "font-cmap-stream"}) {
        SCOPED_TRACE(name);
        const std::string bytes = testing_support::ReadWholeFile(pages + name + ".pdf");
        const auto document = pdf::Document::Open(pdf_test::Bytes(bytes), pdf::Document::Storage::Borrow);
        ASSERT_TRUE(document);
        const auto page = document->LoadPage(0);
        pdf::PageTexts surveyed;
        ASSERT_EQ(pdf::SurveyPage(*page, {}, surveyed), pdf::PageWay::Vectors);
        const std::vector<pdf::FontRegistration> drawn = Registered(*page, surveyed);
        const std::vector<pdf::FontRegistration> alone = Registered(*page, pdf::PageTexts{});
        ASSERT_FALSE(drawn.empty());
        ASSERT_EQ(drawn.size(), alone.size());
        for (std::size_t font = 0; font < drawn.size(); ++font) {
            EXPECT_FALSE(drawn[font].texts.empty());
            // A CMap the document holds: its codes are only known as the page draws them.
            if (std::string(name) == "font-cmap-stream")
                EXPECT_TRUE(alone[font].texts.empty());
            else
                EXPECT_EQ(drawn[font].faceName, alone[font].faceName);
        }
    }
}

TEST(FaceOfCollection, EveryFaceLoadsOnItsOwnAsTheFaceItWas)
{
    const std::vector<unsigned char> collection = Bytes(kCollection);
    ASSERT_FALSE(collection.empty()) << "fonts-noto-cjk is needed";
    for (int index : {0, 1, 2, 4}) {
        SCOPED_TRACE(index);
        const std::optional<std::vector<unsigned char>> face = pdf::FaceOfCollection(collection, index);
        ASSERT_TRUE(face);
        EXPECT_LT(face->size(), collection.size());
        const std::string wanted = Describe(collection, index);
        ASSERT_FALSE(wanted.empty());
        EXPECT_EQ(Describe(*face, 0), wanted);
    }
}

TEST(FaceOfCollection, BytesThatHoldNoWholeFaceGiveNothing)
{
    const std::vector<unsigned char> collection = Bytes(kCollection);
    ASSERT_FALSE(collection.empty());
    EXPECT_FALSE(pdf::FaceOfCollection(collection, -1));
    EXPECT_FALSE(pdf::FaceOfCollection(collection, 10));
    EXPECT_FALSE(pdf::FaceOfCollection(Bytes(kSingleFont), 0));
    EXPECT_FALSE(pdf::FaceOfCollection({}, 0));
    // Cut anywhere: in the header, in the face's table records, or just short of its last table's end.
    const std::size_t face = BigEndian(collection, 12 + 4 * 2);
    std::size_t end = 0;
    for (std::size_t table = 0; table < (std::size_t(collection[face + 4]) << 8 | collection[face + 5]); ++table) {
        const std::size_t record = face + 12 + 16 * table;
        end = std::max(end, BigEndian(collection, record + 8) + BigEndian(collection, record + 12));
    }
    for (std::size_t size : {std::size_t{11}, std::size_t{40}, face + 200, end - 1}) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(pdf::FaceOfCollection(std::span<const unsigned char>(collection.data(), size), 2));
    }
    EXPECT_TRUE(pdf::FaceOfCollection(std::span<const unsigned char>(collection.data(), end), 2));
    // A table record of the first face pointing past the end of the bytes.
    std::vector<unsigned char> damaged = collection;
    const std::size_t first = BigEndian(damaged, 12);
    for (std::size_t i = 0; i < 4; ++i)
        damaged[first + 12 + 8 + i] = 0xFF;
    EXPECT_FALSE(pdf::FaceOfCollection(damaged, 0));
    EXPECT_TRUE(pdf::FaceOfCollection(damaged, 1));
}

} // namespace

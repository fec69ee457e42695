// The fonts a page draws its text with, as the vector drawing shows them: each document font's own
// program (or the system font poppler finds in its place) registered as a private GDI font, so its
// glyphs travel as text; a program that cannot be registered is drawn as glyph outlines.
#pragma once

#include "platform/gdi/gdi.h"
#include "plugins/pdf/matrix.h"

#include <CharTypes.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

class GfxFont;
class GfxPath;
class XRef;
struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace pdf {

// The largest font program taken from a document or the system (large CJK fonts run to tens of
// megabytes).
constexpr std::size_t kMaxFontProgramBytes = std::size_t{48} << 20;

// A font program registered with the platform while a page was drawn: what another process must
// register, in the same order, to find the same face names.
struct FontRegistration {
    std::u16string faceName;
    std::vector<unsigned char> program;
    std::vector<FONTGLYPHTEXT> texts;
};

// One document font as the page shows it.
class PageFont final {
public:
    enum class Way {
        Text,     // a registered GDI font: glyphs go as ExtTextOutW
        Outlines, // FreeType reads the program, GDI could not take it: glyphs go as filled paths
        Nothing,  // neither: its glyphs are not drawn
    };

    ~PageFont();
    PageFont(const PageFont&) = delete;
    PageFont& operator=(const PageFont&) = delete;

    Way GetWay() const { return way_; }
    // The registered face name (Way::Text).
    const std::u16string& FaceName() const { return faceName_; }
    // The glyph index of a character code as drawChar hands it over (a CID for CID fonts); 0, the
    // missing glyph, for a code the font does not map.
    unsigned GlyphOf(CharCode code) const;
    // One more than the last code (or CID) GlyphOf can map to a glyph of the program.
    unsigned CodeCount() const;
    // Appends the glyph's outline to `path`, its em square (y up) mapped by `emToUser`. False when
    // the font has no outlines or the glyph none.
    bool AppendOutline(unsigned glyph, const Matrix& emToUser, GfxPath& path) const;

private:
    friend class PageFonts;
    PageFont() = default;

    Way way_ = Way::Nothing;
    std::u16string faceName_;
    std::vector<unsigned char> program_;
    FT_FaceRec_* face_ = nullptr;
    // Code (or CID) to glyph; empty means the identity.
    std::vector<unsigned> codeToGlyph_;
};

// The text each character code of a page's fonts stands for, as the page's strings give it (the
// document's ToUnicode map, or what poppler reads from the font's encoding): what the glyphs the
// page fills as text say in the printed document.
class PageTexts final {
public:
    // Notes the text of `count` Unicode values for a code drawn in `font`; the first text of a code
    // counts, and values that make no glyph text are left out.
    void Add(const GfxFont& font, CharCode code, const Unicode* values, int count);
    // The texts of a font's codes; null when the page gave none.
    const std::map<CharCode, FONTGLYPHTEXT>* Of(const GfxFont& font) const;

private:
    std::map<std::pair<int, int>, std::map<CharCode, FONTGLYPHTEXT>> byFont_;
};

// The fonts of one page, made on first use. Registration is the platform's
// AddFontMemResourceWithTextW, each glyph with the text `texts` gives its code; the programs
// registered are kept, in order, for the caller to hand on.
class PageFonts final {
public:
    // `knownFaces` names faces registered before (they are not listed again by Registered()).
    PageFonts(XRef* xref, const PageTexts& texts, const std::set<std::u16string>& knownFaces);
    ~PageFonts();
    PageFonts(const PageFonts&) = delete;
    PageFonts& operator=(const PageFonts&) = delete;

    // The page font of a document font; `programBytes` grows by the bytes of a program registered
    // for it.
    const PageFont& For(GfxFont& font, std::size_t& programBytes);
    // The programs registered by this page that were not known before, in registration order.
    const std::vector<FontRegistration>& Registered() const { return registered_; }

private:
    std::unique_ptr<PageFont> Make(GfxFont& font, std::size_t& programBytes);
    // Opens the program `made` holds (the document's own, or a system font standing in) as a face and
    // maps the font's codes onto its glyphs; false when it cannot be read.
    bool Load(PageFont& made, GfxFont& font, int programType, int faceIndex, bool embedded);
    std::vector<FONTGLYPHTEXT> GlyphTexts(GfxFont& font, const PageFont& made) const;

    XRef* xref_;
    const PageTexts& texts_;
    const std::set<std::u16string>& knownFaces_;
    FT_LibraryRec_* freetype_ = nullptr;
    std::map<std::pair<int, int>, std::unique_ptr<PageFont>> fonts_;
    std::vector<FontRegistration> registered_;
};

// The face `index` of a font collection (a TrueType or OpenType collection file) as a font file of
// its own, its tables copied; nothing for bytes that are no collection or a face it does not hold
// whole, or a face larger than kMaxFontProgramBytes.
std::optional<std::vector<unsigned char>> FaceOfCollection(std::span<const unsigned char> bytes, int index);

// The UTF-16 text of `count` Unicode values, as a glyph text holds it: false when it needs more than
// four units or holds a value that is no character.
bool GlyphText(const Unicode* values, int count, FONTGLYPHTEXT& text);

} // namespace pdf

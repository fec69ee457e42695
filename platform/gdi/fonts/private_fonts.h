// Fonts a process registers from font programs it holds (AddFontMemResourceWithTextW), each under
// a face name of its own: "QuillonFont<N>", N counting up from 1 in the order of registration. The
// same program with the same texts registered again gets the name it got the first time, so two
// processes that register the same programs in the same order name them alike (a renderer's
// child and its parent). Fonts stay for the life of the process. A program registered again with
// other texts is another font that shares the first one's bytes: they count once against the limit.
//
// Each font is one FreeType face, made once from the program's bytes, and one cairo font face
// over it, through which cairo draws its glyphs and every other use of the face is locked.
#pragma once

#include "platform/gdi/drawing.h"
#include "platform/gdi/gdi.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// cairo's own declarations of its font types, so that users of a font need not see cairo.
typedef struct _cairo_font_face cairo_font_face_t;
typedef struct _cairo_scaled_font cairo_scaled_font_t;

namespace platform::gdi {

// A font program larger than this is refused.
constexpr std::size_t kMaxFontProgramBytes = std::size_t{64} << 20;
// The programs of a process's fonts together may not be larger than this.
constexpr std::size_t kMaxPrivateFontBytes = std::size_t{512} << 20;
// A process registers at most this many fonts.
constexpr std::size_t kMaxPrivateFonts = 16384;

class PrivateFont final {
public:
    ~PrivateFont();
    PrivateFont(const PrivateFont&) = delete;
    PrivateFont& operator=(const PrivateFont&) = delete;

    std::u16string_view FaceName() const { return faceName_; }
    // N of the face name.
    std::size_t Number() const { return number_; }

    // Metrics in font units: the em, the cell above and below the baseline (as Windows measures
    // a cell: the OS/2 table's Windows ascent and descent where the font has them), an average
    // character width.
    double UnitsPerEm() const { return unitsPerEm_; }
    double Ascent() const { return ascent_; }
    double Descent() const { return descent_; }
    double AverageWidth() const { return averageWidth_; }
    // The box every glyph and its cell lie in, in ems from the glyph's origin, y down.
    ExtentD GlyphBox() const { return box_; }
    unsigned GlyphCount() const { return glyphCount_; }

    // The text a glyph stands for, as registered; empty when none was given.
    std::u16string_view TextOf(unsigned glyph) const;
    // The glyph the font's character map gives a character (0, the missing glyph, when none).
    unsigned GlyphOf(char32_t character) const;
    // A glyph's advance in font units.
    double Advance(unsigned glyph) const;
    // Adds a glyph's outline to a path, each contour a closed figure; `unitsToDevice` maps font
    // units (y up) to device units. False when the points would pass the path's limit.
    bool AppendOutline(unsigned glyph, const Affine& unitsToDevice, std::vector<PathPoint>& path) const;

    // The cairo face of the font, for devices that draw its glyphs.
    cairo_font_face_t* CairoFace() const { return cairoFace_; }

private:
    friend class PrivateFontRegistry;
    PrivateFont() = default;

    std::shared_ptr<const std::vector<BYTE>> program_;
    std::vector<std::pair<unsigned, std::u16string>> texts_; // by glyph
    std::u16string faceName_;
    std::size_t number_ = 0;
    cairo_font_face_t* cairoFace_ = nullptr;
    cairo_scaled_font_t* unitFont_ = nullptr; // one unit large: what locks the face for us
    double unitsPerEm_ = 1000;
    double ascent_ = 0;
    double descent_ = 0;
    double averageWidth_ = 0;
    ExtentD box_;
    unsigned glyphCount_ = 0;
};

// Registers a font program with the texts of its glyphs (each glyph's first entry counts; texts
// that are not well-formed UTF-16 or hold a zero are left out). The font, the one registered
// before for the same program and texts if there is one; null with the last error set:
// ERROR_INVALID_PARAMETER for a text longer than four units, ERROR_INVALID_DATA for bytes that
// are no scalable font, ERROR_NOT_ENOUGH_MEMORY past the limits.
std::shared_ptr<const PrivateFont> RegisterPrivateFont(std::span<const BYTE> program,
                                                       std::span<const FONTGLYPHTEXT> texts);

// The registered font of a face name (compared as Windows compares face names, without regard to
// case), or null.
std::shared_ptr<const PrivateFont> FindPrivateFont(std::u16string_view faceName);

} // namespace platform::gdi

#include "platform/gdi/fonts/private_fonts.h"

#include "platform/gdi/fonts/font_program_check.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/text.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform::gdi {
namespace {

constexpr std::u16string_view kFacePrefix = u"QuillonFont";
constexpr std::size_t kMaxGlyphTextUnits = 4;
constexpr FT_Int32 kOutlineLoad = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

// The one FreeType library of the process. Making and freeing faces is serialised by its lock;
// a face's own use is locked through cairo (FaceLock).
struct Library {
    std::mutex mutex;
    FT_Library library = nullptr;
};

Library& FreeType()
{
    // Never destroyed: its faces live as long as the process.
    static Library* freeType = [] {
        auto* made = new Library();
        if (FT_Init_FreeType(&made->library) != 0)
            made->library = nullptr;
        return made;
    }();
    return *freeType;
}

void DoneFace(void* face)
{
    Library& freeType = FreeType();
    std::lock_guard lock(freeType.mutex);
    FT_Done_Face(static_cast<FT_Face>(face));
}

const cairo_user_data_key_t kFaceKey{};

// The font's FreeType face, locked against every other use (cairo's included) while this lives.
class FaceLock final {
public:
    explicit FaceLock(cairo_scaled_font_t* font) : font_(font), face_(cairo_ft_scaled_font_lock_face(font)) {}
    ~FaceLock()
    {
        if (face_)
            cairo_ft_scaled_font_unlock_face(font_);
    }
    FaceLock(const FaceLock&) = delete;
    FaceLock& operator=(const FaceLock&) = delete;

    FT_Face Face() const { return face_; }

private:
    cairo_scaled_font_t* font_;
    FT_Face face_;
};

// FNV-1a: only to find the fonts that may be equal, which are then compared whole.
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325u;

std::uint64_t Mix(std::uint64_t hash, std::uint64_t value)
{
    return (hash ^ value) * 0x100000001b3u;
}

std::uint64_t HashOf(std::span<const BYTE> program)
{
    std::uint64_t hash = kHashStart;
    for (BYTE byte : program)
        hash = Mix(hash, byte);
    return hash;
}

std::uint64_t HashOf(std::uint64_t programHash, const std::vector<std::pair<unsigned, std::u16string>>& texts)
{
    std::uint64_t hash = programHash;
    for (const auto& [glyph, text] : texts) {
        hash = Mix(hash, glyph);
        for (char16_t unit : text)
            hash = Mix(hash, unit);
    }
    return hash;
}

// The number N of a face name "QuillonFont<N>" (any case), or 0.
std::size_t NumberOf(std::u16string_view name)
{
    if (name.size() <= kFacePrefix.size() || name.size() > kFacePrefix.size() + 9)
        return 0;
    if (!platform::kernel::EqualFoldingAscii(name.substr(0, kFacePrefix.size()), kFacePrefix))
        return 0;
    std::size_t number = 0;
    for (char16_t unit : name.substr(kFacePrefix.size())) {
        if (unit < u'0' || unit > u'9' || (number == 0 && unit == u'0'))
            return 0;
        number = number * 10 + static_cast<std::size_t>(unit - u'0');
    }
    return number;
}

std::u16string FaceNameOf(std::size_t number)
{
    std::u16string name(kFacePrefix);
    for (char digit : std::to_string(number))
        name.push_back(static_cast<char16_t>(digit));
    return name;
}

} // namespace

class PrivateFontRegistry final {
public:
    static PrivateFontRegistry& Instance()
    {
        // Never destroyed: cairo may still hold the faces while static destruction runs.
        static PrivateFontRegistry* registry = new PrivateFontRegistry();
        return *registry;
    }

    std::shared_ptr<const PrivateFont> Register(std::span<const BYTE> program,
                                                std::vector<std::pair<unsigned, std::u16string>> texts)
    {
        const std::uint64_t programHash = HashOf(program);
        const std::uint64_t hash = HashOf(programHash, texts);
        auto sameProgram = [&](const PrivateFont& font) {
            return std::equal(program.begin(), program.end(), font.program_->begin(), font.program_->end());
        };
        std::lock_guard lock(mutex_);
        const auto [first, last] = byHash_.equal_range(hash);
        for (auto candidate = first; candidate != last; ++candidate) {
            const std::shared_ptr<PrivateFont>& font = fonts_[candidate->second];
            if (font->texts_ == texts && sameProgram(*font))
                return font;
        }
        std::shared_ptr<const std::vector<BYTE>> bytes;
        const auto [firstShared, lastShared] = byProgram_.equal_range(programHash);
        for (auto candidate = firstShared; candidate != lastShared && !bytes; ++candidate) {
            if (sameProgram(*fonts_[candidate->second]))
                bytes = fonts_[candidate->second]->program_;
        }
        const std::size_t newBytes = bytes ? 0 : program.size();
        if (fonts_.size() >= kMaxPrivateFonts || newBytes > kMaxPrivateFontBytes - totalBytes_) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        std::shared_ptr<PrivateFont> font(new PrivateFont());
        font->program_ = bytes ? bytes : std::make_shared<const std::vector<BYTE>>(program.begin(), program.end());
        font->texts_ = std::move(texts);
        if (!Load(*font))
            return nullptr;
        font->number_ = fonts_.size() + 1;
        font->faceName_ = FaceNameOf(font->number_);
        byHash_.emplace(hash, fonts_.size());
        if (!bytes)
            byProgram_.emplace(programHash, fonts_.size());
        fonts_.push_back(font);
        totalBytes_ += newBytes;
        return font;
    }

    std::shared_ptr<const PrivateFont> Find(std::u16string_view faceName)
    {
        const std::size_t number = NumberOf(faceName);
        std::lock_guard lock(mutex_);
        if (number == 0 || number > fonts_.size())
            return nullptr;
        return fonts_[number - 1];
    }

private:
    // Makes the FreeType face, the cairo face and the metrics of a font whose program is in place.
    static bool Load(PrivateFont& font)
    {
        Library& freeType = FreeType();
        FT_Face face = nullptr;
        {
            std::lock_guard lock(freeType.mutex);
            if (!freeType.library
                || FT_New_Memory_Face(freeType.library, font.program_->data(),
                                      static_cast<FT_Long>(font.program_->size()), 0, &face)
                    != 0) {
                SetLastError(ERROR_INVALID_DATA);
                return false;
            }
        }
        if (!FT_IS_SCALABLE(face) || face->num_glyphs <= 0 || face->units_per_EM == 0) {
            DoneFace(face);
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        // Hinting is for pixels; a printer's PDF keeps outlines.
        font.cairoFace_ = cairo_ft_font_face_create_for_ft_face(face, FT_LOAD_NO_HINTING);
        if (cairo_font_face_set_user_data(font.cairoFace_, &kFaceKey, face, DoneFace) != CAIRO_STATUS_SUCCESS) {
            DoneFace(face);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        cairo_matrix_t identity;
        cairo_matrix_init_identity(&identity);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        font.unitFont_ = cairo_scaled_font_create(font.cairoFace_, &identity, &identity, options);
        cairo_font_options_destroy(options);
        if (cairo_scaled_font_status(font.unitFont_) != CAIRO_STATUS_SUCCESS) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }

        const FaceLock locked(font.unitFont_);
        if (!locked.Face()) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        font.glyphCount_ = static_cast<unsigned>(face->num_glyphs);
        const double em = face->units_per_EM;
        font.unitsPerEm_ = em;
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const bool hasOs2 = os2 && os2->version != 0xFFFF;
        if (hasOs2 && os2->usWinAscent + os2->usWinDescent > 0) {
            font.ascent_ = os2->usWinAscent;
            font.descent_ = os2->usWinDescent;
        } else if (face->ascender - face->descender > 0) {
            font.ascent_ = face->ascender;
            font.descent_ = -face->descender;
        } else if (face->bbox.yMax - face->bbox.yMin > 0) {
            font.ascent_ = static_cast<double>(face->bbox.yMax);
            font.descent_ = -static_cast<double>(face->bbox.yMin);
        } else {
            font.ascent_ = 0.8 * em;
            font.descent_ = 0.2 * em;
        }
        // Without a stated average, half an em stands for a character's width.
        font.averageWidth_ = hasOs2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : em / 2;
        // Every glyph lies in the font's box and the cell: in ems, y down, as text is laid out.
        font.box_.Add(PointD{0, -font.ascent_ / em});
        font.box_.Add(PointD{1, font.descent_ / em});
        if (face->bbox.xMax > face->bbox.xMin && face->bbox.yMax > face->bbox.yMin) {
            font.box_.Add(PointD{face->bbox.xMin / em, -face->bbox.yMax / em});
            font.box_.Add(PointD{face->bbox.xMax / em, -face->bbox.yMin / em});
        }
        return true;
    }

    std::mutex mutex_;
    std::vector<std::shared_ptr<PrivateFont>> fonts_;               // font N is fonts_[N - 1]
    std::unordered_multimap<std::uint64_t, std::size_t> byHash_;    // program and texts
    std::unordered_multimap<std::uint64_t, std::size_t> byProgram_; // the first font of each program
    std::size_t totalBytes_ = 0;
};

PrivateFont::~PrivateFont()
{
    if (unitFont_)
        cairo_scaled_font_destroy(unitFont_);
    if (cairoFace_)
        cairo_font_face_destroy(cairoFace_);
}

std::u16string_view PrivateFont::TextOf(unsigned glyph) const
{
    const auto found = std::lower_bound(texts_.begin(), texts_.end(), glyph,
                                        [](const auto& entry, unsigned wanted) { return entry.first < wanted; });
    return found != texts_.end() && found->first == glyph ? std::u16string_view(found->second) : std::u16string_view();
}

unsigned PrivateFont::GlyphOf(char32_t character) const
{
    const FaceLock locked(unitFont_);
    return locked.Face() ? FT_Get_Char_Index(locked.Face(), character) : 0;
}

double PrivateFont::Advance(unsigned glyph) const
{
    const FaceLock locked(unitFont_);
    FT_Fixed advance = 0;
    if (!locked.Face() || FT_Get_Advance(locked.Face(), glyph, FT_LOAD_NO_SCALE, &advance) != 0)
        return 0;
    return static_cast<double>(advance);
}

namespace {

// Collects an outline's contours as path points, each contour closed.
struct OutlineSink {
    const Affine& toDevice;
    std::vector<PathPoint>& path;
    std::size_t room;
    PointD current;
    bool open = false;
    bool full = false;

    PointD Map(const FT_Vector* point) const
    {
        return Apply(toDevice, static_cast<double>(point->x), static_cast<double>(point->y));
    }

    bool Add(const PointD& point, BYTE type)
    {
        if (room == 0) {
            full = true;
            return false;
        }
        --room;
        path.push_back(PathPoint{point, type});
        return true;
    }

    void Close()
    {
        if (open && !path.empty())
            path.back().type |= PT_CLOSEFIGURE;
        open = false;
    }

    static int MoveTo(const FT_Vector* to, void* user)
    {
        auto* sink = static_cast<OutlineSink*>(user);
        sink->Close();
        sink->current = sink->Map(to);
        sink->open = true;
        return sink->Add(sink->current, PT_MOVETO) ? 0 : 1;
    }

    static int LineTo(const FT_Vector* to, void* user)
    {
        auto* sink = static_cast<OutlineSink*>(user);
        sink->current = sink->Map(to);
        return sink->Add(sink->current, PT_LINETO) ? 0 : 1;
    }

    // A quadratic curve is the cubic whose controls lie two thirds of the way to its control.
    static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user)
    {
        auto* sink = static_cast<OutlineSink*>(user);
        const PointD c = sink->Map(control);
        const PointD end = sink->Map(to);
        const PointD& start = sink->current;
        const PointD first{start.x + 2.0 / 3 * (c.x - start.x), start.y + 2.0 / 3 * (c.y - start.y)};
        const PointD second{end.x + 2.0 / 3 * (c.x - end.x), end.y + 2.0 / 3 * (c.y - end.y)};
        sink->current = end;
        return sink->Add(first, PT_BEZIERTO) && sink->Add(second, PT_BEZIERTO) && sink->Add(end, PT_BEZIERTO) ? 0 : 1;
    }

    static int CubicTo(const FT_Vector* first, const FT_Vector* second, const FT_Vector* to, void* user)
    {
        auto* sink = static_cast<OutlineSink*>(user);
        sink->current = sink->Map(to);
        return sink->Add(sink->Map(first), PT_BEZIERTO) && sink->Add(sink->Map(second), PT_BEZIERTO)
                && sink->Add(sink->current, PT_BEZIERTO)
            ? 0
            : 1;
    }
};

} // namespace

bool PrivateFont::AppendOutline(unsigned glyph, const Affine& unitsToDevice, std::vector<PathPoint>& path) const
{
    const FaceLock locked(unitFont_);
    FT_Face face = locked.Face();
    // A glyph without an outline (a blank, or a bitmap) adds nothing.
    if (!face || FT_Load_Glyph(face, glyph, kOutlineLoad) != 0 || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return true;
    OutlineSink sink{unitsToDevice, path,  kMaxPathPoints - std::min(path.size(), kMaxPathPoints),
                     PointD{},      false, false};
    static const FT_Outline_Funcs funcs{
        OutlineSink::MoveTo, OutlineSink::LineTo, OutlineSink::ConicTo, OutlineSink::CubicTo, 0, 0};
    FT_Outline_Decompose(&face->glyph->outline, &funcs, &sink);
    sink.Close();
    if (sink.full) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

std::shared_ptr<const PrivateFont> RegisterPrivateFont(std::span<const BYTE> program,
                                                       std::span<const FONTGLYPHTEXT> texts)
{
    if (program.empty() || program.size() > kMaxFontProgramBytes) {
        SetLastError(program.empty() ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A program whose subset cairo could not make safely is not taken (its user draws outlines).
    if (!FontProgramCanBeEmbedded(program)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    std::vector<std::pair<unsigned, std::u16string>> normal;
    normal.reserve(texts.size());
    for (const FONTGLYPHTEXT& entry : texts) {
        if (entry.length > kMaxGlyphTextUnits) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        const std::u16string_view text(reinterpret_cast<const char16_t*>(entry.text), entry.length);
        // Text that can travel as text: paired surrogates, no zero.
        if (!text.empty() && text.find(u'\0') == std::u16string_view::npos && platform::kernel::IsWellFormedUtf16(text))
            normal.emplace_back(entry.glyph, std::u16string(text));
    }
    // Each glyph's first text counts.
    std::stable_sort(normal.begin(), normal.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    normal.erase(
        std::unique(normal.begin(), normal.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        normal.end());
    return PrivateFontRegistry::Instance().Register(program, std::move(normal));
}

std::shared_ptr<const PrivateFont> FindPrivateFont(std::u16string_view faceName)
{
    return PrivateFontRegistry::Instance().Find(faceName);
}

} // namespace platform::gdi

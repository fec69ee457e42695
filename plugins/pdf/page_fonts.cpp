#include "plugins/pdf/page_fonts.h"

#include <GfxFont.h>
#include <GfxState.h>
#include <fofi/FoFiTrueType.h>
#include <goo/gmem.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

namespace pdf {
namespace {

// A glyph array handed out by poppler (gmalloc'ed), freed on every road out.
struct GFree {
    void operator()(int* array) const { gfree(array); }
};
using PopplerArray = std::unique_ptr<int, GFree>;

std::vector<unsigned> ToGlyphs(const int* map, int length)
{
    std::vector<unsigned> glyphs;
    if (!map || length <= 0)
        return glyphs;
    glyphs.reserve(std::size_t(length));
    for (int i = 0; i < length; ++i)
        glyphs.push_back(map[i] > 0 && map[i] <= 0xFFFF ? unsigned(map[i]) : 0);
    return glyphs;
}

bool IsTrueType(int type)
{
    return type == fontTrueType || type == fontTrueTypeOT || type == fontCIDType2 || type == fontCIDType2OT;
}

// The whole of a system font file, at most kMaxFontProgramBytes; nothing when it cannot be read.
std::optional<std::vector<unsigned char>> ReadFontFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size <= 0 || static_cast<std::uint64_t>(size) > kMaxFontProgramBytes)
        return std::nullopt;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        return std::nullopt;
    return bytes;
}

std::uint32_t BigEndian(std::span<const unsigned char> bytes, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | bytes[at + std::size_t(i)];
    return value;
}

void PutBigEndian(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        out[at + std::size_t(i)] = static_cast<unsigned char>(value & 0xFF);
}

} // namespace

std::optional<std::vector<unsigned char>> FaceOfCollection(std::span<const unsigned char> bytes, int index)
{
    constexpr std::size_t kCollectionHeader = 12;
    constexpr std::size_t kFaceHeader = 12;
    constexpr std::size_t kTableRecord = 16;
    if (index < 0 || bytes.size() < kCollectionHeader || BigEndian(bytes, 0, 4) != 0x74746366) // 'ttcf'
        return std::nullopt;
    const std::uint64_t faces = BigEndian(bytes, 8, 4);
    if (std::uint64_t(index) >= faces || kCollectionHeader + 4 * faces > bytes.size())
        return std::nullopt;
    const std::size_t face = BigEndian(bytes, kCollectionHeader + 4 * std::size_t(index), 4);
    if (std::uint64_t(face) + kFaceHeader > bytes.size())
        return std::nullopt;
    const std::size_t tables = BigEndian(bytes, face + 4, 2);
    const std::size_t directory = kFaceHeader + kTableRecord * tables;
    if (std::uint64_t(face) + directory > bytes.size())
        return std::nullopt;
    // The face's header and table records as they stand, each table then copied after them on a
    // four-byte boundary, its record pointing at the copy.
    std::uint64_t total = directory;
    for (std::size_t table = 0; table < tables; ++table) {
        const std::size_t record = face + kFaceHeader + kTableRecord * table;
        const std::uint64_t offset = BigEndian(bytes, record + 8, 4);
        const std::uint64_t length = BigEndian(bytes, record + 12, 4);
        if (offset + length > bytes.size())
            return std::nullopt;
        total += (length + 3) & ~std::uint64_t{3};
    }
    if (total > kMaxFontProgramBytes)
        return std::nullopt;
    std::vector<unsigned char> out(static_cast<std::size_t>(total), 0);
    std::copy_n(bytes.begin() + std::ptrdiff_t(face), directory, out.begin());
    std::size_t at = directory;
    for (std::size_t table = 0; table < tables; ++table) {
        const std::size_t record = face + kFaceHeader + kTableRecord * table;
        const std::size_t offset = BigEndian(bytes, record + 8, 4);
        const std::size_t length = BigEndian(bytes, record + 12, 4);
        std::copy_n(bytes.begin() + std::ptrdiff_t(offset), length, out.begin() + std::ptrdiff_t(at));
        PutBigEndian(out, kFaceHeader + kTableRecord * table + 8, std::uint32_t(at), 4);
        at += (length + 3) & ~std::size_t{3};
    }
    return out;
}

namespace {

// Building a path out of a FreeType outline: points in font units mapped into user space.
struct OutlineSink {
    GfxPath& path;
    Matrix unitsToUser;
    double lastX = 0;
    double lastY = 0;
    bool open = false;

    void Map(const FT_Vector* point, double& x, double& y) const
    {
        unitsToUser.Apply(double(point->x), double(point->y), x, y);
    }
};

int OutlineMoveTo(const FT_Vector* to, void* user)
{
    auto& sink = *static_cast<OutlineSink*>(user);
    if (sink.open)
        sink.path.close();
    double x = 0, y = 0;
    sink.Map(to, x, y);
    sink.path.moveTo(x, y);
    sink.lastX = x;
    sink.lastY = y;
    sink.open = true;
    return 0;
}

int OutlineLineTo(const FT_Vector* to, void* user)
{
    auto& sink = *static_cast<OutlineSink*>(user);
    double x = 0, y = 0;
    sink.Map(to, x, y);
    sink.path.lineTo(x, y);
    sink.lastX = x;
    sink.lastY = y;
    return 0;
}

int OutlineCubicTo(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to, void* user)
{
    auto& sink = *static_cast<OutlineSink*>(user);
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x = 0, y = 0;
    sink.Map(control1, x1, y1);
    sink.Map(control2, x2, y2);
    sink.Map(to, x, y);
    sink.path.curveTo(x1, y1, x2, y2, x, y);
    sink.lastX = x;
    sink.lastY = y;
    return 0;
}

// A quadratic curve is the cubic whose controls lie two thirds of the way to its one control.
int OutlineConicTo(const FT_Vector* control, const FT_Vector* to, void* user)
{
    auto& sink = *static_cast<OutlineSink*>(user);
    double cx = 0, cy = 0, x = 0, y = 0;
    sink.Map(control, cx, cy);
    sink.Map(to, x, y);
    sink.path.curveTo(sink.lastX + 2.0 / 3.0 * (cx - sink.lastX), sink.lastY + 2.0 / 3.0 * (cy - sink.lastY),
                      x + 2.0 / 3.0 * (cx - x), y + 2.0 / 3.0 * (cy - y), x, y);
    sink.lastX = x;
    sink.lastY = y;
    return 0;
}

} // namespace

void PageTexts::Add(const GfxFont& font, CharCode code, const Unicode* values, int count)
{
    FONTGLYPHTEXT text{};
    if (!values || count <= 0 || !GlyphText(values, count, text))
        return;
    const Ref id = *font.getID();
    byFont_[{id.num, id.gen}].try_emplace(code, text);
}

const std::map<CharCode, FONTGLYPHTEXT>* PageTexts::Of(const GfxFont& font) const
{
    const Ref id = *font.getID();
    const auto found = byFont_.find({id.num, id.gen});
    return found == byFont_.end() ? nullptr : &found->second;
}

// The text of each glyph, the first code of a glyph winning. Where the codes of a font can be told
// from its own tables (a simple font's 256; the CIDs an Identity CMap's codes are, up to the last
// the program holds), each is read the way the page's strings are read: the texts, and so the
// registered font, are then the same on every page. A CID font under another CMap gets the texts
// of the codes this page draws.
std::vector<FONTGLYPHTEXT> PageFonts::GlyphTexts(GfxFont& font, const PageFont& made) const
{
    std::vector<FONTGLYPHTEXT> texts;
    std::set<unsigned> seen;
    auto add = [&](CharCode code, const FONTGLYPHTEXT& text) {
        const unsigned glyph = made.GlyphOf(code);
        if (glyph == 0 || !seen.insert(glyph).second)
            return;
        texts.push_back(text);
        texts.back().glyph = WORD(glyph);
    };
    auto read = [&](const char* bytes, int length) {
        CharCode code = 0;
        const Unicode* values = nullptr;
        int count = 0;
        double dx = 0, dy = 0, ox = 0, oy = 0;
        FONTGLYPHTEXT text{};
        if (font.getNextChar(bytes, length, &code, &values, &count, &dx, &dy, &ox, &oy) == length
            && GlyphText(values, count, text))
            add(code, text);
    };
    const std::string& cMap = font.getEncodingName();
    if (!font.isCIDFont()) {
        for (int code = 0; code < 256; ++code) {
            const char one[1] = {char(code)};
            read(one, 1);
        }
    } else if (cMap == "Identity-H" || cMap == "Identity-V") {
        for (unsigned cid = 0; cid < made.CodeCount(); ++cid) {
            const char two[2] = {char(cid >> 8), char(cid & 0xFF)};
            read(two, 2);
        }
    } else if (const std::map<CharCode, FONTGLYPHTEXT>* codes = texts_.Of(font)) {
        for (const auto& [code, text] : *codes)
            add(code, text);
    }
    return texts;
}

bool GlyphText(const Unicode* values, int count, FONTGLYPHTEXT& text)
{
    text.length = 0;
    for (int i = 0; i < count; ++i) {
        const Unicode value = values[i];
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        const int units = value > 0xFFFF ? 2 : 1;
        if (text.length + units > 4)
            return false;
        if (units == 2) {
            text.text[text.length++] = char16_t(0xD800 + ((value - 0x10000) >> 10));
            text.text[text.length++] = char16_t(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            text.text[text.length++] = char16_t(value);
        }
    }
    return text.length > 0;
}

PageFont::~PageFont()
{
    if (face_)
        FT_Done_Face(face_);
}

unsigned PageFont::CodeCount() const
{
    if (!codeToGlyph_.empty())
        return unsigned(codeToGlyph_.size());
    return face_ && face_->num_glyphs > 0 ? unsigned(std::min<FT_Long>(face_->num_glyphs, 0x10000)) : 0;
}

unsigned PageFont::GlyphOf(CharCode code) const
{
    if (codeToGlyph_.empty())
        return code <= 0xFFFF ? code : 0;
    return code < codeToGlyph_.size() ? codeToGlyph_[code] : 0;
}

bool PageFont::AppendOutline(unsigned glyph, const Matrix& emToUser, GfxPath& path) const
{
    if (!face_ || FT_Load_Glyph(face_, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0
        || face_->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return false;
    const double unitsPerEm = face_->units_per_EM > 0 ? face_->units_per_EM : 1000.0;
    const Matrix unitsToEm{1 / unitsPerEm, 0, 0, 1 / unitsPerEm, 0, 0};
    OutlineSink sink{path, unitsToEm.Then(emToUser)};
    FT_Outline_Funcs funcs{};
    funcs.move_to = OutlineMoveTo;
    funcs.line_to = OutlineLineTo;
    funcs.conic_to = OutlineConicTo;
    funcs.cubic_to = OutlineCubicTo;
    if (FT_Outline_Decompose(&face_->glyph->outline, &funcs, &sink) != 0)
        return false;
    if (sink.open)
        path.close();
    return true;
}

PageFonts::PageFonts(XRef* xref, const PageTexts& texts, const std::set<std::u16string>& knownFaces)
    : xref_(xref),
      texts_(texts),
      knownFaces_(knownFaces)
{}

PageFonts::~PageFonts()
{
    fonts_.clear();
    if (freetype_)
        FT_Done_FreeType(freetype_);
}

const PageFont& PageFonts::For(GfxFont& font, std::size_t& programBytes)
{
    const Ref id = *font.getID();
    std::unique_ptr<PageFont>& slot = fonts_[{id.num, id.gen}];
    if (!slot)
        slot = Make(font, programBytes);
    return *slot;
}

std::unique_ptr<PageFont> PageFonts::Make(GfxFont& font, std::size_t& programBytes)
{
    std::unique_ptr<PageFont> made(new PageFont);
    if (font.getType() == fontType3 || (!freetype_ && FT_Init_FreeType(&freetype_) != 0))
        return made;

    // The document's own program first; where there is none, or it cannot be read, the system font
    // poppler picks in its place.
    int faceIndex = 0;
    int programType = font.getType();
    bool loaded = false;
    if (Ref embedded; font.getEmbeddedFontID(&embedded)) {
        std::optional<std::vector<unsigned char>> program = font.readEmbFontFile(xref_);
        if (program && !program->empty() && program->size() <= kMaxFontProgramBytes) {
            made->program_ = std::move(*program);
            loaded = Load(*made, font, programType, faceIndex, true);
        }
        // Then poppler looks for the system font instead.
        if (!loaded)
            font.invalidateEmbeddedFont();
    }
    if (!loaded) {
        std::optional<GfxFontLoc> location = font.locateFont(xref_, nullptr);
        if (location && location->locType == gfxFontLocExternal) {
            std::optional<std::vector<unsigned char>> program = ReadFontFile(location->path);
            faceIndex = location->fontNum;
            // A face of a collection is registered as a font file of its own.
            if (program && faceIndex != 0) {
                if (std::optional<std::vector<unsigned char>> face = FaceOfCollection(*program, faceIndex)) {
                    program = std::move(face);
                    faceIndex = 0;
                }
            }
            if (program) {
                made->program_ = std::move(*program);
                programType = location->fontType;
                loaded = Load(*made, font, programType, faceIndex, false);
            }
        }
    }
    if (!loaded)
        return made;
    made->way_ = PageFont::Way::Outlines;

    // Registered only as a whole file's first face: GDI takes a program, not a face of a file that
    // holds several and could not be cut out of it.
    if (faceIndex != 0)
        return made;
    const std::vector<FONTGLYPHTEXT> texts = GlyphTexts(font, *made);
    WCHAR faceName[LF_FACESIZE] = {};
    if (!AddFontMemResourceWithTextW(made->program_.data(), DWORD(made->program_.size()), texts.data(),
                                     DWORD(texts.size()), faceName))
        return made;
    made->faceName_ = faceName;
    made->way_ = PageFont::Way::Text;
    if (!knownFaces_.count(made->faceName_)) {
        programBytes += made->program_.size();
        registered_.push_back(FontRegistration{made->faceName_, made->program_, texts});
    }
    return made;
}

bool PageFonts::Load(PageFont& made, GfxFont& font, int programType, int faceIndex, bool embedded)
{
    if (made.face_) {
        FT_Done_Face(made.face_);
        made.face_ = nullptr;
    }
    made.codeToGlyph_.clear();
    if (FT_New_Memory_Face(freetype_, made.program_.data(), FT_Long(made.program_.size()), faceIndex, &made.face_)
        != 0) {
        made.face_ = nullptr;
        return false;
    }
    const auto* bytes = made.program_.data();
    const int size = int(made.program_.size());

    if (!font.isCIDFont()) {
        auto& simple = static_cast<Gfx8BitFont&>(font);
        if (IsTrueType(programType)) {
            std::unique_ptr<FoFiTrueType> trueType = FoFiTrueType::make(bytes, size, faceIndex);
            if (!trueType)
                return false;
            made.codeToGlyph_ = ToGlyphs(PopplerArray(simple.getCodeToGIDMap(trueType.get())).get(), 256);
            return !made.codeToGlyph_.empty();
        }
        // Type 1 and CFF programs name their glyphs: the encoding's names find them.
        made.codeToGlyph_.assign(256, 0);
        for (int code = 0; code < 256; ++code) {
            const char* name = simple.getCharName(code);
            if (!name)
                continue;
            FT_UInt glyph = FT_Get_Name_Index(made.face_, const_cast<char*>(name));
            if (glyph == 0) {
                if (const char* alternate = GfxFont::getAlternateName(name))
                    glyph = FT_Get_Name_Index(made.face_, const_cast<char*>(alternate));
            }
            made.codeToGlyph_[code] = glyph <= 0xFFFF ? glyph : 0;
        }
        return true;
    }

    auto& composite = static_cast<GfxCIDFont&>(font);
    if (IsTrueType(programType) && embedded) {
        // CIDToGIDMap, or the identity where the document gives none.
        made.codeToGlyph_ = ToGlyphs(composite.getCIDToGID(), int(composite.getCIDToGIDLen()));
    } else if (IsTrueType(programType)) {
        // A system font standing in: CIDs through the collection's Unicode values to its glyphs.
        std::unique_ptr<FoFiTrueType> trueType = FoFiTrueType::make(bytes, size, faceIndex);
        if (!trueType)
            return false;
        int length = 0;
        PopplerArray map(composite.getCodeToGIDMap(trueType.get(), &length));
        made.codeToGlyph_ = ToGlyphs(map.get(), length);
    } else if (programType == fontCIDType0C) {
        // A bare CFF program: FreeType (and cairo through it) takes a glyph index of a CID-keyed
        // program as a CID and looks it up in the program's own charset, and in a name-keyed one a
        // CID is a glyph index. Either way the CID is the index to hand on.
        made.codeToGlyph_.clear();
    } else if (programType == fontCIDType0COT) {
        std::unique_ptr<FoFiTrueType> openType = FoFiTrueType::make(bytes, size, faceIndex);
        int length = 0;
        PopplerArray map(openType ? openType->getCIDToGIDMap(&length) : nullptr);
        made.codeToGlyph_ = ToGlyphs(map.get(), length);
    } else {
        // A CID-keyed Type 1 program: not drawn.
        return false;
    }
    return true;
}

} // namespace pdf

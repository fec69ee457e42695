// Vector drawing: pens, brushes, paths, fills, strokes and clips recorded as their metafile
// records, read by another reader, played onto a printer and looked at on the job's PDF; the
// objects' lives in the handle tables; records that lie about themselves.
#include "tests/gdi/gdi_test_support.h"

#include "platform/gdi/fonts/private_fonts.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <memory>
#include <set>

namespace {

using namespace gdi_test;

constexpr Colour kBlack{0, 0, 0};

// Device dots of the 600-dpi office printer to pixels of a page rendered at `dpi` (the printable
// area starts 100 dots in from the sheet's corner).
int Px(int dots, int dpi)
{
    return static_cast<int>((dots + 100) * dpi / 600.0);
}

std::size_t LiveGdiObjects()
{
    return platform::ObjectTable::Instance().Count(platform::ObjectKind::GdiObject);
}

HPEN GeometricPen(DWORD style, DWORD width, COLORREF colour, std::vector<DWORD> dashes = {})
{
    const LOGBRUSH brush{BS_SOLID, colour, 0};
    return ExtCreatePen(PS_GEOMETRIC | style | (dashes.empty() ? PS_SOLID : PS_USERSTYLE), width, &brush,
                        static_cast<DWORD>(dashes.size()), dashes.empty() ? nullptr : dashes.data());
}

void Rectangle(HDC dc, int left, int top, int right, int bottom)
{
    MoveToEx(dc, left, top, nullptr);
    const POINT corners[] = {{right, top}, {right, bottom}, {left, bottom}};
    PolylineTo(dc, corners, 3);
    CloseFigure(dc);
}

void FillRectangle(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ previous = SelectObject(dc, brush);
    BeginPath(dc);
    Rectangle(dc, left, top, right, bottom);
    EndPath(dc);
    FillPath(dc);
    SelectObject(dc, previous);
    DeleteObject(brush);
}

// Strokes a polyline with a pen made for it.
void StrokeLine(HDC dc, HPEN pen, std::initializer_list<POINT> points)
{
    HGDIOBJ previous = SelectObject(dc, pen);
    BeginPath(dc);
    MoveToEx(dc, points.begin()->x, points.begin()->y, nullptr);
    PolylineTo(dc, points.begin() + 1, static_cast<DWORD>(points.size() - 1));
    EndPath(dc);
    StrokePath(dc);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

const char* const kSansPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kSerifPath = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::vector<BYTE> FileBytes(const char* path)
{
    const std::string bytes = testing_support::ReadWholeFile(path);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

// A font of the machine registered with the texts of the glyphs of `characters` (and the "fi"
// ligature's); its face name.
std::u16string Register(const char* path, std::u16string_view characters, bool withTexts = true)
{
    const std::vector<BYTE> program = FileBytes(path);
    WCHAR name[LF_FACESIZE] = {};
    EXPECT_NE(AddFontMemResourceWithTextW(program.data(), static_cast<DWORD>(program.size()), nullptr, 0, name),
              nullptr);
    const auto font = platform::gdi::FindPrivateFont(name);
    std::vector<FONTGLYPHTEXT> texts;
    for (char16_t c : characters)
        texts.push_back(FONTGLYPHTEXT{static_cast<WORD>(font->GlyphOf(c)), 1, {c}});
    texts.push_back(FONTGLYPHTEXT{static_cast<WORD>(font->GlyphOf(0xFB01)), 2, {u'f', u'i'}});
    if (!withTexts)
        return name;
    EXPECT_NE(AddFontMemResourceWithTextW(program.data(), static_cast<DWORD>(program.size()), texts.data(),
                                          static_cast<DWORD>(texts.size()), name),
              nullptr);
    return name;
}

HFONT MakeFont(std::u16string_view face, LONG height, LONG escapement = 0)
{
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfEscapement = escapement;
    font.lfWeight = FW_NORMAL;
    std::copy(face.begin(), face.end(), font.lfFaceName);
    return CreateFontIndirectW(&font);
}

// Draws the characters as glyph indices of the selected font `face`, with their natural advances
// at an em of `em` logical units.
void DrawGlyphs(HDC dc, std::u16string_view face, int x, int y, std::u16string_view characters, int em,
                UINT options = 0, const RECT* rect = nullptr)
{
    const auto font = platform::gdi::FindPrivateFont(face);
    std::vector<WCHAR> glyphs;
    std::vector<INT> dx;
    for (char16_t c : characters) {
        const unsigned glyph = font->GlyphOf(c == u'\x01' ? 0xFB01 : c);
        glyphs.push_back(static_cast<WCHAR>(glyph));
        dx.push_back(static_cast<INT>(std::lround(font->Advance(glyph) * em / font->UnitsPerEm())));
    }
    EXPECT_TRUE(ExtTextOutW(dc, x, y, ETO_GLYPH_INDEX | options, rect, glyphs.data(), static_cast<UINT>(glyphs.size()),
                            dx.data()));
}

// Text: glyph indices with advances, a ligature that stands for two letters, characters through
// the font's own map, a turned word, a word's cells painted over a fill, and a letter's outline
// made the clip.
void DrawTextPage(HDC dc, std::u16string_view face)
{
    SetTextAlign(dc, TA_BASELINE);
    SetBkMode(dc, TRANSPARENT);
    HFONT big = MakeFont(face, -200);
    HGDIOBJ previous = SelectObject(dc, big);
    DrawGlyphs(dc, face, 2600, 2500, u"Quillon", 200);
    DrawGlyphs(dc, face, 2600, 3300, u"\x01le", 200);
    // Z has no registered text: the PDF says what the font's own map says.
    DrawGlyphs(dc, face, 3300, 3300, u"Zoo", 200);
    // Cut to a rectangle around the first two of four I's.
    const RECT firstTwo{3600, 2000, 3780, 2300};
    DrawGlyphs(dc, face, 3600, 2250, u"IIII", 200, ETO_CLIPPED, &firstTwo);
    SetTextColor(dc, RGB(255, 0, 0));
    SetTextAlign(dc, TA_TOP);
    const std::u16string vector = u"Vector";
    EXPECT_TRUE(ExtTextOutW(dc, 2600, 2700, 0, nullptr, vector.data(), static_cast<UINT>(vector.size()), nullptr));
    SetTextColor(dc, RGB(0, 0, 0));
    SetTextAlign(dc, TA_BASELINE);

    // Advances across the baseline as well: the second I stands 200 dots higher than the first.
    const auto font = platform::gdi::FindPrivateFont(face);
    const WCHAR bars[] = {static_cast<WCHAR>(font->GlyphOf(u'I')), static_cast<WCHAR>(font->GlyphOf(u'I'))};
    const INT pairs[] = {300, 200, 0, 0};
    EXPECT_TRUE(ExtTextOutW(dc, 3600, 1900, ETO_GLYPH_INDEX | ETO_PDY, nullptr, bars, 2, pairs));

    HFONT turned = MakeFont(face, -200, 900);
    SelectObject(dc, turned);
    DrawGlyphs(dc, face, 4400, 3600, u"Turned", 200);

    // A word's cells in the opaque background mode, over a blue fill.
    FillRectangle(dc, 2600, 3450, 3600, 3750, RGB(0, 0, 255));
    HFONT small = MakeFont(face, -150);
    SelectObject(dc, small);
    SetBkMode(dc, OPAQUE);
    DrawGlyphs(dc, face, 2650, 3650, u"Box", 150);
    SetBkMode(dc, TRANSPARENT);

    // A large O's outline as the clip of a green fill.
    HFONT huge = MakeFont(face, -800);
    SelectObject(dc, huge);
    SaveDC(dc);
    BeginPath(dc);
    DrawGlyphs(dc, face, 3600, 1000, u"O", 800);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    FillRectangle(dc, 3500, 300, 4500, 1100, RGB(0, 200, 0));
    RestoreDC(dc, -1);

    SelectObject(dc, previous);
    for (HFONT font : {big, turned, small, huge})
        DeleteObject(font);
}

// A memory context holding a 32-bit DIB section of `width` x `height` pixels (bottom-up rows when
// `bottomUp`), each pixel given as B, G, R, A of the picture as seen, row by row from the top.
struct Source {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;

    Source(HDC compatible, int width, int height, bool bottomUp, const std::vector<std::array<BYTE, 4>>& pixels)
    {
        dc = CreateCompatibleDC(compatible);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = bottomUp ? height : -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        EXPECT_NE(bitmap, nullptr);
        for (int row = 0; row < height; ++row) {
            const int stored = bottomUp ? height - 1 - row : row;
            for (int column = 0; column < width; ++column)
                std::memcpy(static_cast<BYTE*>(bits) + (stored * width + column) * 4,
                            pixels[row * width + column].data(), 4);
        }
        previous = SelectObject(dc, bitmap);
    }
    ~Source()
    {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
};

// Pictures blended in: half-transparent black (per-pixel alpha) taken from a corner of a bottom-up
// bitmap, opaque red at half constant alpha cut by a clip, a bitmap half opaque blue, half clear.
void DrawBlendPage(HDC dc)
{
    const std::array<BYTE, 4> grey{0, 0, 0, 128}, red{0, 0, 255, 255}, blue{255, 0, 0, 255}, clear{0, 0, 0, 0};
    const Source corner(dc, 4, 4, true,
                        {grey, grey, red, red, grey, grey, red, red, red, red, red, red, red, red, red, red});
    EXPECT_TRUE(
        AlphaBlend(dc, 200, 4000, 600, 600, corner.dc, 0, 0, 2, 2, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}));
    const Source opaque(dc, 1, 1, false, {red});
    SaveDC(dc);
    BeginPath(dc);
    Rectangle(dc, 1000, 4000, 1300, 4600);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    EXPECT_TRUE(AlphaBlend(dc, 1000, 4000, 600, 600, opaque.dc, 0, 0, 1, 1, BLENDFUNCTION{AC_SRC_OVER, 0, 128, 0}));
    RestoreDC(dc, -1);
    std::vector<std::array<BYTE, 4>> halfAndHalf;
    for (int i = 0; i < 32 * 16; ++i)
        halfAndHalf.push_back(i % 32 < 16 ? blue : clear);
    const Source halves(dc, 32, 16, false, halfAndHalf);
    EXPECT_TRUE(AlphaBlend(dc, 2000, 4000, 800, 400, halves.dc, 0, 0, 32, 16,
                           BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}));
}

// One page of everything a PDF page asks of the vector calls, in device dots of the office printer.
void DrawVectorPage(HDC dc)
{
    // A dashed line: 120-dot dashes and gaps, flat ends.
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT, 24, RGB(0, 0, 0), {120, 120}), {{200, 300}, {2000, 300}});
    // An odd count of entries: the last dash runs on into the first (60 on, 60 off, 180 on...).
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT, 24, RGB(0, 0, 0), {60, 60, 120}), {{200, 450}, {2000, 450}});
    // A right-angled corner with a miter join, and the same in blue with a bevel join.
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT | PS_JOIN_MITER, 80, RGB(0, 0, 0)),
               {{300, 900}, {600, 600}, {900, 900}});
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT | PS_JOIN_BEVEL, 80, RGB(0, 0, 255)),
               {{1100, 900}, {1400, 600}, {1700, 900}});

    // A square with a square inside it, both drawn the same way round: even-odd leaves a hole,
    // nonzero fills it.
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    HGDIOBJ previousBrush = SelectObject(dc, blue);
    for (int mode : {ALTERNATE, WINDING}) {
        const int x = mode == ALTERNATE ? 0 : 1000;
        SetPolyFillMode(dc, mode);
        BeginPath(dc);
        Rectangle(dc, x + 200, 1200, x + 800, 1800);
        Rectangle(dc, x + 400, 1400, x + 600, 1600);
        EndPath(dc);
        FillPath(dc);
    }
    SelectObject(dc, previousBrush);
    DeleteObject(blue);

    // Two clips, one inside the other's state: only their intersection is inked, and the clip
    // is gone with the restored state.
    SaveDC(dc);
    BeginPath(dc);
    Rectangle(dc, 200, 2200, 1000, 3000);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    BeginPath(dc);
    Rectangle(dc, 600, 2600, 1400, 3400);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    FillRectangle(dc, 0, 2000, 2000, 3600, RGB(255, 0, 0));
    RestoreDC(dc, -1);
    FillRectangle(dc, 1600, 2100, 1800, 2300, RGB(0, 200, 0));

    // A square turned 45 degrees about its centre by the world transform.
    SetGraphicsMode(dc, GM_ADVANCED);
    const double angle = std::acos(-1.0) / 4;
    const double c = std::cos(angle), s = std::sin(angle);
    const XFORM turn{static_cast<FLOAT>(c),
                     static_cast<FLOAT>(s),
                     static_cast<FLOAT>(-s),
                     static_cast<FLOAT>(c),
                     static_cast<FLOAT>(3000 - (3000 * c - 1500 * s)),
                     static_cast<FLOAT>(1500 - (3000 * s + 1500 * c))};
    SetWorldTransform(dc, &turn);
    FillRectangle(dc, 2700, 1200, 3300, 1800, RGB(0, 0, 0));
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);

    // A 0.36-point rule.
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT, 3, RGB(0, 0, 0)), {{200, 3800}, {4000, 3800}});
}

class VectorTest : public GdiRoot {
protected:
    HDC Printer(const DEVMODEW* mode = nullptr)
    {
        HDC dc = CreateDCW(u"", u"Quillon Office", nullptr, mode);
        EXPECT_NE(dc, nullptr);
        const DOCINFOW info{20, u"vectors", nullptr, nullptr, 0};
        job_ = StartDocW(dc, &info);
        EXPECT_GT(job_, 0);
        EXPECT_GT(StartPage(dc), 0);
        return dc;
    }

    fs::path Finish(HDC dc)
    {
        EXPECT_GT(EndPage(dc), 0);
        EXPECT_GT(EndDoc(dc), 0);
        EXPECT_TRUE(DeleteDC(dc));
        return SpoolFolder("Quillon Office") / (std::to_string(job_) + ".pdf");
    }

    // Prints a metafile onto a job of the office printer, its bounds mapped onto themselves.
    fs::path PrintMetafile(HENHMETAFILE metafile, const DEVMODEW* mode = nullptr)
    {
        HDC printer = Printer(mode);
        const ENHMETAHEADER header = HeaderOf(metafile);
        const RECT rect{header.rclBounds.left, header.rclBounds.top, header.rclBounds.right, header.rclBounds.bottom};
        EXPECT_TRUE(PlayEnhMetaFile(printer, metafile, &rect));
        return Finish(printer);
    }

    int job_ = 0;
};

std::string CommandOutput(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    if (pipe)
        pclose(pipe);
    return text;
}

std::size_t Occurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

void ExpectColour(const Page& page, int x, int y, Colour expected, const char* what)
{
    EXPECT_TRUE(Near(page.At(x, y), expected))
        << what << " at " << x << "," << y << ": " << Describe(page.At(x, y)) << " instead of " << Describe(expected);
}

// Checks a page of DrawVectorPage rendered at `dpi`; `red` is what red prints as.
void ExpectVectorPage(const Page& page, int dpi, Colour red, Colour blue, Colour green)
{
    auto at = [&](int x, int y, Colour expected, const char* what) {
        ExpectColour(page, Px(x, dpi), Px(y, dpi), expected, what);
    };
    at(260, 300, kBlack, "first dash");
    at(380, 300, kWhite, "first gap");
    at(500, 300, kBlack, "second dash");
    at(620, 300, kWhite, "second gap");
    at(230, 450, kBlack, "the odd pattern's first dash");
    at(290, 450, kWhite, "the odd pattern's first gap");
    at(410, 450, kBlack, "the odd pattern's last and first dashes as one");
    at(530, 450, kWhite, "the odd pattern's next gap");
    at(600, 555, kBlack, "miter tip");
    at(1400, 555, kWhite, "above the bevel");
    at(450, 750, kBlack, "the mitered line");
    at(1550, 750, blue, "the bevelled line");
    at(500, 1500, kWhite, "even-odd hole");
    at(300, 1500, blue, "even-odd ring");
    at(1500, 1500, blue, "nonzero inside");
    at(800, 2800, red, "inside both clips");
    at(400, 2400, kWhite, "inside the first clip only");
    at(1200, 3200, kWhite, "inside the second clip only");
    at(1700, 2200, green, "after the clip's state was restored");
    at(3000, 1120, kBlack, "the turned square's top corner");
    at(2720, 1220, kWhite, "where the square's corner was before the turn");
    // The thin rule shows at every resolution: some row around it is clearly inked.
    int darkest = 255;
    for (int y = Px(3800, dpi) - 2; y <= Px(3800, dpi) + 2; ++y)
        darkest = std::min<int>(darkest, page.At(Px(1000, dpi), y).g);
    EXPECT_LT(darkest, 160) << "the thin rule at " << dpi << " dpi";
}

// The pixels of a box of device dots of the colour.
int PixelsOf(const Page& page, int dpi, int left, int top, int right, int bottom, Colour colour)
{
    int count = 0;
    for (int y = Px(top, dpi); y < Px(bottom, dpi); ++y) {
        for (int x = Px(left, dpi); x < Px(right, dpi); ++x)
            count += Near(page.At(x, y), colour, 60) ? 1 : 0;
    }
    return count;
}

// Checks the text of DrawTextPage: the words' ink where they stand (a tenth or so of each word's
// box is ink), the cells painted over the fill, the O's outline cutting the green fill.
void ExpectTextPage(const Page& page, int dpi, Colour black, Colour red, Colour blue, Colour green)
{
    const double perDot = (dpi / 600.0) * (dpi / 600.0);
    EXPECT_GT(PixelsOf(page, dpi, 2600, 2350, 3400, 2510, black), 0.08 * 800 * 160 * perDot) << "Quillon";
    EXPECT_GT(PixelsOf(page, dpi, 2600, 2700, 3400, 2900, red), 0.08 * 800 * 200 * perDot) << "Vector";
    EXPECT_GT(PixelsOf(page, dpi, 4220, 2900, 4420, 3610, black), 0.08 * 200 * 700 * perDot) << "Turned";
    EXPECT_EQ(PixelsOf(page, dpi, 4450, 3450, 4800, 3600, black), 0) << "nothing where the word would run unturned";
    ExpectColour(page, Px(2700, dpi), Px(3530, dpi), kWhite, "the cell above the B");
    ExpectColour(page, Px(3500, dpi), Px(3600, dpi), blue, "the fill beside the cells");
    ExpectColour(page, Px(3630, dpi), Px(1830, dpi), black, "the first I");
    ExpectColour(page, Px(3630, dpi), Px(2200, dpi), black, "the first I inside the rectangle");
    EXPECT_EQ(PixelsOf(page, dpi, 3790, 2080, 4100, 2250, black), 0) << "the I's cut off by the rectangle";
    ExpectColour(page, Px(3930, dpi), Px(1630, dpi), black, "the raised I");
    ExpectColour(page, Px(3930, dpi), Px(1830, dpi), kWhite, "where the I would stand on the baseline");
    ExpectColour(page, Px(3680, dpi), Px(722, dpi), green, "the O's ring");
    ExpectColour(page, Px(3914, dpi), Px(722, dpi), kWhite, "inside the O");
    ExpectColour(page, Px(4300, dpi), Px(722, dpi), kWhite, "beside the O");
}

// Checks the pictures of DrawBlendPage.
void ExpectBlendPage(const Page& page, int dpi, Colour grey, Colour pink, Colour blue)
{
    auto at = [&](int x, int y, Colour expected, const char* what) {
        EXPECT_TRUE(Near(page.At(Px(x, dpi), Px(y, dpi)), expected, 12))
            << what << " at " << dpi << " dpi: " << Describe(page.At(Px(x, dpi), Px(y, dpi))) << " instead of "
            << Describe(expected);
    };
    at(300, 4100, grey, "half-transparent black");
    at(700, 4500, grey, "half-transparent black, far corner");
    at(1150, 4300, pink, "red at half alpha");
    at(1450, 4300, kWhite, "red at half alpha, clipped away");
    at(2200, 4200, blue, "the opaque half");
    at(2600, 4200, kWhite, "the clear half");
}

TEST_F(VectorTest, APageOfPathsRecordedToAFileReadsElsewhereAndPrintsAsVectors)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const fs::path emf = root_.Path() / "vectors.emf";
    HDC recording = CreateEnhMetaFileW(reference, emf.u16string().c_str(), nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    const std::u16string face = Register(kSansPath, u"QuilonVectrTdBxOI");
    const std::size_t objectsBefore = LiveGdiObjects();
    DrawVectorPage(recording);
    DrawTextPage(recording, face);
    DrawBlendPage(recording);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    DeleteDC(reference);
    EXPECT_EQ(LiveGdiObjects(), objectsBefore); // the page deleted every object it made

    // Only vector records: no picture of the page.
    const std::vector<DWORD> types = TypesOf(RecordsOf(BytesOf(metafile)));
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_STRETCHDIBITS), 0);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_FILLPATH), 7);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_STROKEPATH), 5);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_SELECTCLIPPATH), 4);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_POLYLINETO16), 17);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_EXTCREATEFONTINDIRECTW), 4);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_EXTTEXTOUTW), 9);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_ALPHABLEND), 3);
    // The bounds: the drawn points grown by as far as each pen may reach (a mitred corner up to
    // its miter limit: 10 times half of 80 dots left of the corner's start at 300), and the green
    // fill's right edge; below, the blended pictures.
    const ENHMETAHEADER header = HeaderOf(metafile);
    EXPECT_EQ(header.rclBounds.left, -101);
    EXPECT_EQ(header.rclBounds.top, 199);
    EXPECT_EQ(header.rclBounds.right, 4499);
    EXPECT_EQ(header.rclBounds.bottom, 4599);

    // Another reader takes the file and draws its paths.
    const fs::path svg = root_.Path() / "vectors.svg";
    ASSERT_EQ(std::system(Joined("emf2svg-conv -i ", Quoted(emf), " -o ", Quoted(svg)).c_str()), 0);
    const std::string drawing = testing_support::ReadWholeFile(svg);
    EXPECT_GE(Occurrences(drawing, "<path"), 9u);
    EXPECT_GE(Occurrences(drawing, "#0000FF") + Occurrences(drawing, "#0000ff"), 2u);
    // Its text in the font the records name, at the size they give; characters as characters.
    EXPECT_EQ(Occurrences(drawing, Joined("font-family=\"", platform::Utf16ToUtf8(face))), 9u) << drawing;
    EXPECT_EQ(Occurrences(drawing, "font-size=\"200.0000\""), 7u);
    EXPECT_EQ(Occurrences(drawing, "[Vector]"), 1u);

    const fs::path pdf = PrintMetafile(metafile);
    // The only pictures in the PDF are two blended bitmaps with their masks: the one-pixel bitmap
    // is its colour filling its clipped rectangle, every other mark is a vector, text is text in an
    // embedded font.
    EXPECT_EQ(Occurrences(CommandOutput(Joined("pdfimages -list ", Quoted(pdf))), "\n"), 2u + 4);
    EXPECT_EQ(CommandOutput(Joined("pdftotext -q ", Quoted(pdf), " -")),
              "I\n\nI\n\nIIII\nVector\nfile\nBox\n\nZoo\n\nTurned\n\nQuillon\n\n\f");
    const std::string fonts = CommandOutput(Joined("pdffonts ", Quoted(pdf)));
    EXPECT_NE(fonts.find("DejaVuSans"), std::string::npos) << fonts;
    EXPECT_EQ(Occurrences(fonts, " yes yes yes "), Occurrences(fonts, "DejaVuSans")) << fonts;
    for (int dpi : {100, 300}) {
        const Page page = RenderPage(pdf, 1, dpi);
        ASSERT_GT(page.width, 0);
        ExpectVectorPage(page, dpi, kRed, kBlue, kGreen);
        ExpectTextPage(page, dpi, kBlack, kRed, kBlue, kGreen);
        ExpectBlendPage(page, dpi, Colour{127, 127, 127}, Colour{255, 127, 127}, kBlue);
    }

    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmSpecVersion = DM_SPECVERSION;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    const Page grey = RenderPage(PrintMetafile(metafile, &mono), 1, 100);
    ASSERT_GT(grey.width, 0);
    ExpectVectorPage(grey, 100, Colour{76, 76, 76}, Colour{29, 29, 29}, Colour{117, 117, 117});
    ExpectTextPage(grey, 100, kBlack, Colour{76, 76, 76}, Colour{29, 29, 29}, Colour{117, 117, 117});
    ExpectBlendPage(grey, 100, Colour{127, 127, 127}, Colour{165, 165, 165}, Colour{29, 29, 29});
    DeleteEnhMetaFile(metafile);
}

// GradientFill: rectangles meeting one after another along x print as one axial shading, triangles
// as one mesh; colours fall between the vertices' where the world transform puts them, grey on a
// monochrome job; a call naming a vertex it does not have, or in no known mode, fails alone.
TEST_F(VectorTest, GradientsPrintAsOneShadingACallAndBadCallsFailAlone)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    HDC recording = CreateEnhMetaFileW(reference, nullptr, nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    DeleteDC(reference);
    // Red to green to blue from x = 1000 to 3000, in two rectangles that meet at 2000; a rectangle
    // of no width at 3500 paints nothing.
    const TRIVERTEX run[]
        = {{1000, 500, 0xFFFF, 0, 0, 0},  {2000, 1500, 0, 0xFFFF, 0, 0}, {2000, 500, 0, 0xFFFF, 0, 0},
           {3000, 1500, 0, 0, 0xFFFF, 0}, {3500, 500, 0, 0, 0xFFFF, 0},  {3500, 1500, 0, 0, 0xFFFF, 0}};
    const GRADIENT_RECT rects[] = {{0, 1}, {2, 3}, {4, 5}};
    EXPECT_TRUE(GradientFill(recording, run, 6, rects, 3, GRADIENT_FILL_RECT_H));
    // A triangle red, green and blue at its corners, moved 2000 dots down by the world transform.
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM down{1, 0, 0, 1, 0, 2000};
    SetWorldTransform(recording, &down);
    const TRIVERTEX corners[] = {{1000, 0, 0xFFFF, 0, 0, 0}, {3000, 0, 0, 0xFFFF, 0, 0}, {1000, 2000, 0, 0, 0xFFFF, 0}};
    const GRADIENT_TRIANGLE triangle{0, 1, 2};
    EXPECT_TRUE(GradientFill(recording, corners, 3, &triangle, 1, GRADIENT_FILL_TRIANGLE));
    // Beside it, red at the top to blue at the bottom.
    const TRIVERTEX column[] = {{3500, 0, 0xFFFF, 0, 0, 0}, {4000, 1000, 0, 0, 0xFFFF, 0}};
    const GRADIENT_RECT columnRect{0, 1};
    EXPECT_TRUE(GradientFill(recording, column, 2, &columnRect, 1, GRADIENT_FILL_RECT_V));

    const GRADIENT_TRIANGLE beyond{0, 1, 3};
    const GRADIENT_RECT beyondRect{3, 0};
    SetLastError(0);
    EXPECT_FALSE(GradientFill(recording, corners, 3, &beyond, 1, GRADIENT_FILL_TRIANGLE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GradientFill(recording, corners, 3, &beyondRect, 1, GRADIENT_FILL_RECT_V));
    EXPECT_FALSE(GradientFill(recording, corners, 3, &triangle, 1, 3)); // no such mode
    EXPECT_FALSE(GradientFill(recording, nullptr, 3, &triangle, 1, GRADIENT_FILL_TRIANGLE));
    EXPECT_FALSE(GradientFill(recording, corners, 3, nullptr, 1, GRADIENT_FILL_TRIANGLE));
    EXPECT_TRUE(GradientFill(recording, corners, 3, &triangle, 0, GRADIENT_FILL_TRIANGLE)); // nothing to fill
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    const std::vector<DWORD> types = TypesOf(RecordsOf(BytesOf(metafile)));
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_GRADIENTFILL), 3);
    const ENHMETAHEADER header = HeaderOf(metafile);
    EXPECT_EQ(header.rclBounds.left, 1000);
    EXPECT_EQ(header.rclBounds.top, 500);
    EXPECT_EQ(header.rclBounds.right, 3999);
    EXPECT_EQ(header.rclBounds.bottom, 3999);

    const fs::path pdf = PrintMetafile(metafile);
    const std::string objects = CommandOutput(Joined("qpdf --qdf --object-streams=disable ", Quoted(pdf), " -"));
    EXPECT_EQ(Occurrences(objects, "/ShadingType 2"), 2u);
    EXPECT_EQ(Occurrences(objects, "/ShadingType 7"), 1u);
    const int dpi = 100;
    const Page page = RenderPage(pdf, 1, dpi);
    ASSERT_GT(page.width, 0);
    ExpectColour(page, Px(1500, dpi), Px(1000, dpi), Colour{128, 128, 0}, "half way from red to green");
    ExpectColour(page, Px(2000, dpi), Px(1000, dpi), Colour{0, 255, 0}, "where the rectangles meet");
    ExpectColour(page, Px(2500, dpi), Px(1000, dpi), Colour{0, 128, 128}, "half way from green to blue");
    ExpectColour(page, Px(3250, dpi), Px(1000, dpi), kWhite, "beyond the run's end");
    ExpectColour(page, Px(1667, dpi), Px(2667, dpi), Colour{85, 85, 85}, "the triangle's middle");
    ExpectColour(page, Px(1100, dpi), Px(2100, dpi), Colour{230, 13, 13}, "near its red corner");
    ExpectColour(page, Px(2500, dpi), Px(3500, dpi), kWhite, "beside its long side");
    ExpectColour(page, Px(3750, dpi), Px(2250, dpi), Colour{191, 0, 64}, "a quarter down from red to blue");
    ExpectColour(page, Px(3750, dpi), Px(2750, dpi), Colour{64, 0, 191}, "three quarters down");

    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmSpecVersion = DM_SPECVERSION;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    const Page grey = RenderPage(PrintMetafile(metafile, &mono), 1, dpi);
    ASSERT_GT(grey.width, 0);
    ExpectColour(grey, Px(1010, dpi), Px(1000, dpi), Colour{76, 76, 76}, "red in grey");
    ExpectColour(grey, Px(2000, dpi), Px(1000, dpi), Colour{150, 150, 150}, "green in grey");
    DeleteEnhMetaFile(metafile);
}

// Two triangles that share a side print as one patch of four corners when its colours are theirs
// (a strip whose colour runs across it), as two when one patch would spread a corner's colour
// over the other triangle.
TEST_F(VectorTest, TrianglesMakeOnePatchOnlyWhereItsColoursAreTheirs)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    HDC recording = CreateEnhMetaFileW(reference, nullptr, nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    DeleteDC(reference);
    const GRADIENT_TRIANGLE halves[] = {{0, 1, 2}, {1, 3, 2}};
    // Red on the left, blue on the right.
    const TRIVERTEX strip[] = {{1000, 500, 0xFFFF, 0, 0, 0},
                               {3000, 500, 0, 0, 0xFFFF, 0},
                               {1000, 1500, 0xFFFF, 0, 0, 0},
                               {3000, 1500, 0, 0, 0xFFFF, 0}};
    EXPECT_TRUE(GradientFill(recording, strip, 4, halves, 2, GRADIENT_FILL_TRIANGLE));
    // Red in the top left corner alone: the lower right triangle is black throughout.
    const TRIVERTEX corner[]
        = {{1000, 2000, 0xFFFF, 0, 0, 0}, {3000, 2000, 0, 0, 0, 0}, {1000, 4000, 0, 0, 0, 0}, {3000, 4000, 0, 0, 0, 0}};
    EXPECT_TRUE(GradientFill(recording, corner, 4, halves, 2, GRADIENT_FILL_TRIANGLE));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);

    const fs::path pdf = PrintMetafile(metafile);
    // The job holds its shadings as they were written: a patch is a flag, sixteen points of two
    // 32-bit coordinates and four colours of three 16-bit channels.
    const std::string objects = testing_support::ReadWholeFile(pdf);
    constexpr std::size_t kPatchBytes = 1 + 16 * 2 * 4 + 4 * 3 * 2;
    std::vector<std::size_t> lengths;
    for (std::size_t at = objects.find("/ShadingType 7"); at != std::string::npos;
         at = objects.find("/ShadingType 7", at + 1)) {
        const std::size_t length = objects.find("/Length ", at);
        ASSERT_NE(length, std::string::npos);
        lengths.push_back(std::stoul(objects.substr(length + 8)));
    }
    std::sort(lengths.begin(), lengths.end());
    EXPECT_EQ(lengths, (std::vector<std::size_t>{kPatchBytes, 2 * kPatchBytes}));
    const int dpi = 100;
    const Page page = RenderPage(pdf, 1, dpi);
    ASSERT_GT(page.width, 0);
    ExpectColour(page, Px(2000, dpi), Px(1000, dpi), Colour{128, 0, 128}, "half way across the strip");
    ExpectColour(page, Px(2100, dpi), Px(3100, dpi), Colour{0, 0, 0}, "the black triangle near the diagonal");
    DeleteEnhMetaFile(metafile);
}

struct Expected {
    DWORD type;
    DWORD field; // the first field after type and size, where the record has one
};

TEST_F(VectorTest, ObjectsAreCreatedOnceUnderTheLowestFreeIndexAndDeletedWhereTheRecordingKnowsThem)
{
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    HPEN dashed = GeometricPen(PS_ENDCAP_FLAT | PS_JOIN_MITER, 5, RGB(255, 0, 0), {4, 2});
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
    ASSERT_NE(dashed, nullptr);
    EXPECT_EQ(SelectObject(dc, dashed), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, dashed), dashed);
    EXPECT_EQ(SetPolyFillMode(dc, WINDING), ALTERNATE);
    FLOAT old = 0;
    EXPECT_TRUE(SetMiterLimit(dc, 4, &old));
    EXPECT_EQ(old, 10.0f);
    EXPECT_TRUE(BeginPath(dc));
    EXPECT_TRUE(MoveToEx(dc, 10, 10, nullptr));
    EXPECT_TRUE(LineTo(dc, 100, 10));
    const POINT curve[] = {{120, 10}, {120, 30}, {100, 30}};
    EXPECT_TRUE(PolyBezierTo(dc, curve, 3));
    const POINT far[] = {{70000, 30}, {10, 30}};
    EXPECT_TRUE(PolylineTo(dc, far, 2));
    EXPECT_TRUE(CloseFigure(dc));
    EXPECT_TRUE(EndPath(dc));
    EXPECT_TRUE(StrokeAndFillPath(dc));
    // Deleted while selected: the recording says so, and the context still draws with it.
    EXPECT_TRUE(DeleteObject(dashed));
    EXPECT_TRUE(LineTo(dc, 10, 50));
    HPEN thin = GeometricPen(0, 0, RGB(0, 128, 0));
    EXPECT_EQ(SelectObject(dc, thin), dashed);
    EXPECT_NE(SelectObject(dc, GetStockObject(BLACK_PEN)), nullptr);
    EXPECT_TRUE(BeginPath(dc));
    Rectangle(dc, 0, 0, 50, 50);
    EXPECT_TRUE(EndPath(dc));
    EXPECT_TRUE(SelectClipPath(dc, RGN_AND));
    EXPECT_TRUE(AbortPath(dc));
    EXPECT_EQ(SetTextColor(dc, RGB(1, 2, 3)), RGB(0, 0, 0));
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetTextAlign(dc, TA_BASELINE), TA_TOP);
    HENHMETAFILE metafile = CloseEnhMetaFile(dc);
    ASSERT_NE(metafile, nullptr);

    const std::vector<Record> records = RecordsOf(BytesOf(metafile));
    const std::vector<Expected> expected = {{EMR_HEADER, 0},
                                            {EMR_EXTCREATEPEN, 1},
                                            {EMR_SELECTOBJECT, 1},
                                            {EMR_CREATEBRUSHINDIRECT, 2},
                                            {EMR_SELECTOBJECT, 2},
                                            {EMR_SELECTOBJECT, 1},
                                            {EMR_SETPOLYFILLMODE, WINDING},
                                            {EMR_SETMITERLIMIT, 0x40800000}, // 4.0f
                                            {EMR_BEGINPATH, 0},
                                            {EMR_MOVETOEX, 10},
                                            {EMR_LINETO, 100},
                                            {EMR_POLYBEZIERTO16, 0},
                                            {EMR_POLYLINETO, 0}, // 70000 does not fit 16 bits
                                            {EMR_CLOSEFIGURE, 0},
                                            {EMR_ENDPATH, 0},
                                            {EMR_STROKEANDFILLPATH, 0},
                                            {EMR_DELETEOBJECT, 1},
                                            {EMR_LINETO, 10},
                                            {EMR_EXTCREATEPEN, 1}, // the lowest free index again
                                            {EMR_SELECTOBJECT, 1},
                                            {EMR_SELECTOBJECT, 0x80000000u | BLACK_PEN},
                                            {EMR_BEGINPATH, 0},
                                            {EMR_MOVETOEX, 0},
                                            {EMR_POLYLINETO16, 0},
                                            {EMR_CLOSEFIGURE, 0},
                                            {EMR_ENDPATH, 0},
                                            {EMR_SELECTCLIPPATH, RGN_AND},
                                            {EMR_ABORTPATH, 0},
                                            {EMR_SETTEXTCOLOR, RGB(1, 2, 3)},
                                            {EMR_SETBKMODE, TRANSPARENT},
                                            {EMR_SETTEXTALIGN, TA_BASELINE},
                                            {EMR_EOF, 0}};
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].type, expected[i].type) << "record " << i;
        const bool polyOrPlain = records[i].bytes.size() <= 8 || records[i].type == EMR_POLYBEZIERTO16
            || records[i].type == EMR_POLYLINETO || records[i].type == EMR_POLYLINETO16
            || records[i].type == EMR_STROKEANDFILLPATH || records[i].type == EMR_HEADER || records[i].type == EMR_EOF;
        if (!polyOrPlain) {
            EXPECT_EQ(Field<DWORD>(records[i].bytes, 8), expected[i].field) << "record " << i;
        }
    }
    // The pen as it was made: geometric, flat, mitred, 5 wide, red, two dash entries.
    const std::vector<BYTE>& pen = records[1].bytes;
    EXPECT_EQ(pen.size(), 60u);
    const std::vector<DWORD> penFields
        = {Field<DWORD>(pen, 28), Field<DWORD>(pen, 32), Field<DWORD>(pen, 36), Field<DWORD>(pen, 40),
           Field<DWORD>(pen, 48), Field<DWORD>(pen, 52), Field<DWORD>(pen, 56)};
    EXPECT_EQ(penFields,
              (std::vector<DWORD>{PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER, 5, BS_SOLID,
                                  RGB(255, 0, 0), 2, 4, 2}));
    EXPECT_EQ(Field<DWORD>(records[3].bytes, 16), RGB(0, 0, 255));
    // The curve's three points in 16 bits; the far line's two in 32.
    const std::vector<BYTE>& bezier = records[11].bytes;
    EXPECT_EQ(bezier.size(), 40u);
    EXPECT_EQ(Field<DWORD>(bezier, 24), 3u);
    EXPECT_EQ(Field<std::int16_t>(bezier, 28), 120);
    EXPECT_EQ(Field<std::int16_t>(bezier, 38), 30);
    const std::vector<BYTE>& polyline = records[12].bytes;
    EXPECT_EQ(polyline.size(), 44u);
    EXPECT_EQ(Field<LONG>(polyline, 28), 70000);
    // The stroked path's bounds: its points grown by the 5-wide mitred pen (limit 4).
    const RECTL stroked = Field<RECTL>(records[15].bytes, 8);
    EXPECT_EQ(stroked.left, 10 - 11);
    EXPECT_EQ(stroked.right, 70000 + 11 - 1);
    EXPECT_EQ(HeaderOf(metafile).nHandles, 3);

    // Played back, the objects the records made are gone with the enumeration.
    const std::size_t objectsBefore = LiveGdiObjects();
    HDC screen = GetDC(nullptr);
    const RECT rect{0, 0, 100, 100};
    EXPECT_TRUE(PlayEnhMetaFile(screen, metafile, &rect));
    EXPECT_EQ(LiveGdiObjects(), objectsBefore);
    ReleaseDC(nullptr, screen);
    DeleteObject(brush);
    DeleteObject(thin);
    DeleteEnhMetaFile(metafile);
}

TEST_F(VectorTest, HandlesOfTheWrongKindOrDeletedAreRefusedAndSavedStatesKeepTheirObjects)
{
    HDC dc = GetDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    // A device context is not a GDI object, nor garbage, nor a deleted brush.
    SetLastError(0);
    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(dc)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(0x1234)), nullptr);
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(dc)));
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(brush), brush), nullptr);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_EQ(SelectObject(dc, brush), nullptr);
    // Stock objects stay whatever is done to them.
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(SelectObject(dc, GetStockObject(BLACK_BRUSH)), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetStockObject(9), nullptr);

    // The selected objects are part of a saved state.
    HPEN pen = GeometricPen(0, 3, RGB(9, 9, 9));
    EXPECT_EQ(SaveDC(dc), 1);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
    SetPolyFillMode(dc, WINDING);
    EXPECT_TRUE(DeleteObject(pen)); // still selected: the context keeps it
    BeginPath(dc);
    Rectangle(dc, 0, 0, 10, 10);
    EndPath(dc);
    EXPECT_TRUE(StrokePath(dc));
    EXPECT_TRUE(RestoreDC(dc, -1));
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_PEN)), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SetPolyFillMode(dc, ALTERNATE), ALTERNATE);

    // Arguments GDI refuses.
    const LOGBRUSH solid{BS_SOLID, 0, 0};
    const DWORD entries[17] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(ExtCreatePen(PS_COSMETIC | PS_SOLID, 3, &solid, 0, nullptr), nullptr); // cosmetic pens are 1 wide
    EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 3, &solid, 17, entries), nullptr);
    EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 3, &solid, 0, nullptr), nullptr);
    EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_SOLID, 3, &solid, 2, entries), nullptr);
    EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | 0x00000300, 3, &solid, 0, nullptr), nullptr);
    EXPECT_EQ(SetPolyFillMode(dc, 3), 0);
    EXPECT_FALSE(SetMiterLimit(dc, 0.5f, nullptr));
    EXPECT_EQ(SetBkMode(dc, 0), 0);
    EXPECT_EQ(SetTextAlign(dc, 0x8000), GDI_ERROR);
    // Path calls out of their order.
    EXPECT_FALSE(EndPath(dc));
    EXPECT_FALSE(FillPath(dc));
    EXPECT_FALSE(CloseFigure(dc));
    BeginPath(dc);
    EXPECT_FALSE(StrokePath(dc)); // the bracket is still open
    const POINT two[] = {{1, 1}, {2, 2}};
    EXPECT_FALSE(PolyBezierTo(dc, two, 2));
    EndPath(dc);
    EXPECT_FALSE(SelectClipPath(dc, 3));
    EXPECT_TRUE(SelectClipPath(dc, RGN_COPY));
    ReleaseDC(nullptr, dc);
}

TEST_F(VectorTest, MemoryContextsHoldBitmapsForAlphaBlendAndAreNotDrawnOn)
{
    HDC screen = GetDC(nullptr);
    const std::array<BYTE, 4> pixel{10, 20, 30, 255};
    Source source(screen, 4, 2, false, std::vector<std::array<BYTE, 4>>(8, pixel));
    EXPECT_EQ(GetDeviceCaps(source.dc, LOGPIXELSX), 96); // as the screen it is compatible with
    // Drawing onto it is refused; its bitmap goes nowhere else.
    SetLastError(0);
    BeginPath(source.dc);
    Rectangle(source.dc, 0, 0, 2, 2);
    EndPath(source.dc);
    EXPECT_FALSE(FillPath(source.dc));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(SelectObject(screen, source.bitmap), nullptr);

    const BLENDFUNCTION over{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    EXPECT_TRUE(AlphaBlend(screen, 0, 0, 10, 10, source.dc, 0, 0, 4, 2, over));
    EXPECT_TRUE(AlphaBlend(screen, 0, 0, 0, 10, source.dc, 0, 0, 4, 2, over));    // nothing to draw
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, source.dc, 1, 0, 4, 2, over));  // past the bitmap's edge
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, source.dc, 0, -1, 4, 2, over)); // before it
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, -10, 10, source.dc, 0, 0, 4, 2, over));
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, source.dc, 0, 0, 4, 2, BLENDFUNCTION{1, 0, 255, 0}));
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, source.dc, 0, 0, 4, 2, BLENDFUNCTION{0, 1, 255, 0}));
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, screen, 0, 0, 4, 2, over)); // the source is no memory context
    // Per-pixel alpha needs 32-bit pixels.
    HDC memory = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 4, 4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP rgb = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(rgb, nullptr);
    EXPECT_NE(bits, nullptr);
    SelectObject(memory, rgb);
    EXPECT_FALSE(AlphaBlend(screen, 0, 0, 10, 10, memory, 0, 0, 4, 4, over));
    EXPECT_TRUE(AlphaBlend(screen, 0, 0, 10, 10, memory, 0, 0, 4, 4, BLENDFUNCTION{AC_SRC_OVER, 0, 100, 0}));
    // Deleted while selected: the context keeps it.
    EXPECT_TRUE(DeleteObject(rgb));
    EXPECT_TRUE(AlphaBlend(screen, 0, 0, 10, 10, memory, 0, 0, 4, 4, BLENDFUNCTION{AC_SRC_OVER, 0, 100, 0}));
    DeleteDC(memory);

    // Sections this platform does not make.
    SetLastError(0);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, reinterpret_cast<HANDLE>(8), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_PAL_COLORS, &bits, nullptr, 0), nullptr);
    info.bmiHeader.biBitCount = 8;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 32768, 1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    ReleaseDC(nullptr, screen);
}

// What a hostile page may ask of the printer beyond the limits fails alone, with a defined error,
// and the page stays sound: text holding noncharacters (which cairo would refuse, ending the
// page), a pen or a font squashed a million to one by the world transform, a font of kilometres,
// a dash pattern finer than anyone could see (drawn solid rather than cut into millions).
TEST_F(VectorTest, DrawingPastTheLimitsFailsAloneAndThePageStaysSound)
{
    const std::u16string face = Register(kSansPath, u"x");
    HDC dc = Printer();
    SetGraphicsMode(dc, GM_ADVANCED);
    HFONT font = MakeFont(face, -200);
    SelectObject(dc, font);
    const std::u16string odd = u"\uFFFF\uFDD0x";
    EXPECT_TRUE(ExtTextOutW(dc, 100, 300, 0, nullptr, odd.data(), static_cast<UINT>(odd.size()), nullptr));
    const WCHAR missing[] = {65535}; // no such glyph: the font's missing glyph instead
    EXPECT_TRUE(ExtTextOutW(dc, 3000, 4000, ETO_GLYPH_INDEX, nullptr, missing, 1, nullptr));

    const XFORM squashed{1, 0, 0, 1e-7f, 0, 500};
    SetWorldTransform(dc, &squashed);
    HPEN pen = GeometricPen(0, 20, RGB(0, 0, 0));
    SelectObject(dc, pen);
    BeginPath(dc);
    MoveToEx(dc, 100, 100, nullptr);
    const POINT curve[] = {{500, 200}, {500, 400}, {100, 500}};
    PolyBezierTo(dc, curve, 3);
    EndPath(dc);
    SetLastError(0);
    EXPECT_FALSE(StrokePath(dc));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const WCHAR x[] = {u'x'};
    EXPECT_FALSE(ExtTextOutW(dc, 100, 100, 0, nullptr, x, 1, nullptr));
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    HFONT huge = MakeFont(face, -2000000000);
    SelectObject(dc, huge);
    EXPECT_FALSE(ExtTextOutW(dc, 100, 100, 0, nullptr, x, 1, nullptr));
    SelectObject(dc, GetStockObject(SYSTEM_FONT));

    // Dashes a thousandth of a dot long over a line across the page: a solid line.
    const XFORM tiny{0.001f, 0, 0, 0.001f, 0, 0};
    SetWorldTransform(dc, &tiny);
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT, 20000, RGB(0, 0, 0), {1, 1}), {{200000, 3000000}, {4000000, 3000000}});
    ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    FillRectangle(dc, 200, 1000, 1000, 1800, RGB(255, 0, 0));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
    DeleteObject(font);
    DeleteObject(huge);
    const fs::path pdf = Finish(dc);
    const Page page = RenderPage(pdf, 1, 100);
    ASSERT_GT(page.width, 0);
    ExpectColour(page, Px(600, 100), Px(1400, 100), kRed, "the fill after them");
    EXPECT_GT(PixelsOf(page, 100, 3000, 3950, 3250, 4300, kBlack), 20) << "the missing glyph's box";
    // The dashed line went as a plain stroke: no dash pattern in the page's drawing.
    const fs::path plain = root_.Path() / "plain.pdf";
    ASSERT_EQ(std::system(Joined("qpdf --qdf --object-streams=disable ", Quoted(pdf), " ", Quoted(plain)).c_str()), 0);
    const std::string content = testing_support::ReadWholeFile(plain);
    EXPECT_NE(content.find(" w\n"), std::string::npos);
    EXPECT_EQ(content.find("] 0 d"), std::string::npos);
}

// A metafile's clip replaces only its own clipping: it stays inside the clip of the context it is
// played onto, and goes with the playback.
TEST_F(VectorTest, AMetafileClipsOnlyWithinTheClipItIsPlayedIn)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    HDC recording = CreateEnhMetaFileW(reference, nullptr, nullptr, nullptr);
    BeginPath(recording);
    Rectangle(recording, 0, 0, 4000, 4000);
    EndPath(recording);
    SelectClipPath(recording, RGN_COPY);
    FillRectangle(recording, 0, 0, 4000, 4000, RGB(255, 0, 0));
    BeginPath(recording);
    Rectangle(recording, 0, 0, 500, 500);
    EndPath(recording);
    SelectClipPath(recording, RGN_AND);
    // A line with the pen a metafile starts with: the black one, whatever the context has.
    MoveToEx(recording, 100, 300, nullptr);
    LineTo(recording, 450, 300);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    DeleteDC(reference);

    HDC dc = Printer();
    SelectObject(dc, GetStockObject(NULL_PEN));
    BeginPath(dc);
    Rectangle(dc, 0, 0, 2000, 4000);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    const ENHMETAHEADER header = HeaderOf(metafile);
    const RECT rect{header.rclBounds.left, header.rclBounds.top, header.rclBounds.right, header.rclBounds.bottom};
    EXPECT_TRUE(PlayEnhMetaFile(dc, metafile, &rect));
    FillRectangle(dc, 1000, 1000, 1500, 1500, RGB(0, 0, 255));
    FillRectangle(dc, 2500, 1000, 3000, 1500, RGB(0, 0, 255));
    const Page page = RenderPage(Finish(dc), 1, 100);
    ASSERT_GT(page.width, 0);
    ExpectColour(page, Px(500, 100), Px(2500, 100), kRed, "inside both clips");
    ExpectColour(page, Px(2700, 100), Px(2500, 100), kWhite, "outside the context's clip");
    ExpectColour(page, Px(1200, 100), Px(1200, 100), kBlue, "after the playback, outside the metafile's last clip");
    ExpectColour(page, Px(2700, 100), Px(1200, 100), kWhite, "after the playback, outside the context's clip");
    int darkest = 255;
    for (int y = Px(300, 100) - 1; y <= Px(300, 100) + 1; ++y)
        darkest = std::min<int>(darkest, page.At(Px(300, 100), y).r);
    EXPECT_LT(darkest, 235) << "the metafile's line in its own pen";
    DeleteEnhMetaFile(metafile);
}

// RGN_DIFF takes a path's area out of the clip, by the even-odd rule whatever the fill mode, on
// the printer and through a metafile alike; a mode the context does not take fails and keeps the
// clip it had.
TEST_F(VectorTest, AClipTakesAPathOutOfItAndKeepsTheRest)
{
    auto draw = [](HDC dc) {
        SelectObject(dc, GetStockObject(NULL_PEN));
        SaveDC(dc);
        BeginPath(dc);
        Rectangle(dc, 0, 0, 3000, 2000);
        EndPath(dc);
        EXPECT_TRUE(SelectClipPath(dc, RGN_AND));
        // Two squares, one inside the other, in the winding mode: the inner one is taken as a hole.
        SetPolyFillMode(dc, WINDING);
        BeginPath(dc);
        Rectangle(dc, 500, 500, 1500, 1500);
        Rectangle(dc, 800, 800, 1200, 1200);
        EndPath(dc);
        EXPECT_TRUE(SelectClipPath(dc, RGN_DIFF));
        BeginPath(dc);
        Rectangle(dc, 100, 100, 200, 200);
        EndPath(dc);
        EXPECT_FALSE(SelectClipPath(dc, 2));
        FillRectangle(dc, 0, 0, 4000, 2000, RGB(255, 0, 0));
        RestoreDC(dc, -1);
    };
    auto expect = [](const Page& page, const char* how) {
        ASSERT_GT(page.width, 0) << how;
        ExpectColour(page, Px(300, 100), Px(300, 100), kRed, how);
        ExpectColour(page, Px(700, 100), Px(1000, 100), kWhite, how);
        ExpectColour(page, Px(1000, 100), Px(1000, 100), kRed, how);
        ExpectColour(page, Px(1700, 100), Px(1000, 100), kRed, how);
        ExpectColour(page, Px(3500, 100), Px(1000, 100), kWhite, how);
    };
    HDC dc = Printer();
    draw(dc);
    expect(RenderPage(Finish(dc), 1, 100), "on the printer");

    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    HDC recording = CreateEnhMetaFileW(reference, nullptr, nullptr, nullptr);
    draw(recording);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    DeleteDC(reference);
    ASSERT_NE(metafile, nullptr);
    expect(RenderPage(PrintMetafile(metafile), 1, 100), "played from a metafile");
    DeleteEnhMetaFile(metafile);
}

// Names count up in the order fonts are registered, the same program and texts get their first
// name again, and a child process that registers what its parent then registers names it alike.
TEST_F(VectorTest, PrivateFontsAreNamedInTheOrderOfRegistrationAlikeInEveryProcess)
{
    const std::vector<BYTE> sans = FileBytes(kSansPath);
    const std::vector<BYTE> serif = FileBytes(kSerifPath);
    const FONTGLYPHTEXT a{36, 1, {u'A'}};
    const FONTGLYPHTEXT b{37, 1, {u'B'}};
    auto registerAll = [&] {
        std::u16string names;
        for (const auto& [program, text] : {std::pair{&serif, &a}, std::pair{&sans, &a}, std::pair{&serif, &b}}) {
            WCHAR name[LF_FACESIZE] = {};
            if (!AddFontMemResourceWithTextW(program->data(), static_cast<DWORD>(program->size()), text, 1, name))
                return std::u16string(u"failed");
            names += name;
            names += u' ';
        }
        return names;
    };
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string names = platform::Utf16ToUtf8(registerAll());
        const ssize_t written = write(channel[1], names.data(), names.size());
        _exit(written == static_cast<ssize_t>(names.size()) ? 0 : 1);
    }
    close(channel[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    char buffer[256] = {};
    const ssize_t read = ::read(channel[0], buffer, sizeof buffer - 1);
    close(channel[0]);
    const std::u16string mine = registerAll();
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(read, 0))), platform::Utf16ToUtf8(mine));

    // Three new fonts, numbered one after another; registered again, the same names.
    const std::size_t first = mine.find(u"QuillonFont");
    ASSERT_NE(first, std::u16string::npos);
    const int number = std::stoi(platform::Utf16ToUtf8(mine.substr(first + 11)));
    for (int i = 0; i < 3; ++i) {
        const std::u16string expected = u"QuillonFont" + Wide(std::to_string(number + i)) + u" ";
        EXPECT_NE(mine.find(expected), std::u16string::npos) << platform::Utf16ToUtf8(mine);
    }
    EXPECT_EQ(registerAll(), mine);
    // A face name is found whatever its case; an unregistered number is not.
    const std::u16string lower = u"quillonfont" + Wide(std::to_string(number));
    EXPECT_NE(platform::gdi::FindPrivateFont(lower), nullptr);
    EXPECT_EQ(platform::gdi::FindPrivateFont(u"QuillonFont0"), nullptr);
    EXPECT_EQ(platform::gdi::FindPrivateFont(u"QuillonFont99999"), nullptr);

    // What cannot be registered.
    WCHAR name[LF_FACESIZE] = {};
    const BYTE garbage[64] = {1, 2, 3};
    SetLastError(0);
    EXPECT_EQ(AddFontMemResourceWithTextW(garbage, sizeof garbage, nullptr, 0, name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    const FONTGLYPHTEXT tooLong{36, 5, {u'a', u'b', u'c', u'd'}};
    EXPECT_EQ(AddFontMemResourceWithTextW(sans.data(), static_cast<DWORD>(sans.size()), &tooLong, 1, name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(AddFontMemResourceWithTextW(nullptr, 10, nullptr, 0, name), nullptr);
    EXPECT_EQ(AddFontMemResourceWithTextW(sans.data(), static_cast<DWORD>(sans.size()), nullptr, 0, nullptr), nullptr);
}

TEST_F(VectorTest, AProgramRegisteredAgainWithOtherTextsIsAnotherFontSharingItsBytes)
{
    // A renderer registers a document's font once a page, each time with the texts of that page's
    // glyphs: a large program registered for page after page counts once against the limit of
    // the process's fonts, which ten copies of it would pass.
    std::vector<BYTE> program = FileBytes(kSansPath);
    program.resize(platform::gdi::kMaxPrivateFontBytes / 9);
    ASSERT_LE(program.size(), platform::gdi::kMaxFontProgramBytes);
    std::set<std::u16string> names;
    for (char16_t letter = u'A'; letter < u'A' + 10; ++letter) {
        const FONTGLYPHTEXT text{static_cast<WORD>(36 + letter - u'A'), 1, {letter}};
        WCHAR name[LF_FACESIZE] = {};
        ASSERT_NE(AddFontMemResourceWithTextW(program.data(), static_cast<DWORD>(program.size()), &text, 1, name),
                  nullptr)
            << "registration " << int(letter - u'A');
        names.insert(name);
        const auto font = platform::gdi::FindPrivateFont(name);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->TextOf(text.glyph), std::u16string(1, letter));
        EXPECT_EQ(font->TextOf(36), letter == u'A' ? u"A" : u"");
    }
    EXPECT_EQ(names.size(), 10u);
}

// A face nobody registered makes a font, as on Windows, but no text: on a printer and on a recording.
TEST_F(VectorTest, TextInAFaceNobodyRegisteredFailsAndLeavesNothing)
{
    HFONT unknown = MakeFont(u"Times New Roman", -100);
    ASSERT_NE(unknown, nullptr);
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    HDC printer = Printer();
    const WCHAR text[] = {u'x'};
    for (HDC dc : {recording, printer}) {
        SelectObject(dc, unknown);
        SetLastError(0);
        EXPECT_FALSE(ExtTextOutW(dc, 10, 10, 0, nullptr, text, 1, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
        // The stock font's face is no registered font either.
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        EXPECT_FALSE(ExtTextOutW(dc, 10, 10, 0, nullptr, text, 1, nullptr));
    }
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    const std::vector<DWORD> types = TypesOf(RecordsOf(BytesOf(metafile)));
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_EXTTEXTOUTW), 0);
    DeleteEnhMetaFile(metafile);
    EXPECT_EQ(PdfInfo(Finish(printer), "Pages"), "1");
    DeleteObject(unknown);
}

// A text record holds the call as made: reference point, options, rectangle, the string and the
// advances (the font's own, rounded, where the call gave none); played onto another recording it
// is written again byte for byte.
TEST_F(VectorTest, ATextRecordCarriesTheCallAndPlaysBackAsItWasMade)
{
    const std::u16string face = Register(kSansPath, u"ab");
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    HFONT font = MakeFont(face, -40);
    SelectObject(dc, font);
    const auto privateFont = platform::gdi::FindPrivateFont(face);
    const WCHAR glyphs[]
        = {static_cast<WCHAR>(privateFont->GlyphOf(u'a')), static_cast<WCHAR>(privateFont->GlyphOf(u'b')),
           static_cast<WCHAR>(privateFont->GlyphOf(u'a'))};
    const INT pairs[] = {20, 5, 22, -5, 24, 0};
    const RECT clip{0, 0, 300, 60};
    EXPECT_TRUE(ExtTextOutW(dc, 10, 50, ETO_GLYPH_INDEX | ETO_PDY | ETO_CLIPPED, &clip, glyphs, 3, pairs));
    const std::u16string ab = u"ab";
    EXPECT_TRUE(ExtTextOutW(dc, 10, 100, 0, nullptr, ab.data(), 2, nullptr));
    HENHMETAFILE metafile = CloseEnhMetaFile(dc);
    const std::vector<Record> records = RecordsOf(BytesOf(metafile));
    ASSERT_EQ(TypesOf(records),
              (std::vector<DWORD>{EMR_HEADER, EMR_EXTCREATEFONTINDIRECTW, EMR_SELECTOBJECT, EMR_EXTTEXTOUTW,
                                  EMR_EXTTEXTOUTW, EMR_EOF}));
    // The font: its index, then the LOGFONTW in the 320-byte form.
    const std::vector<BYTE>& created = records[1].bytes;
    EXPECT_EQ(created.size(), 332u);
    EXPECT_EQ(Field<DWORD>(created, 8), 1u);
    EXPECT_EQ(Field<LOGFONTW>(created, 12).lfHeight, -40);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(Field<LOGFONTW>(created, 12).lfFaceName)), face);

    const std::vector<BYTE>& text = records[3].bytes;
    EXPECT_EQ(text.size(), 76u + 8 + 24);
    const std::vector<DWORD> fields
        = {Field<DWORD>(text, 24), Field<DWORD>(text, 36), Field<DWORD>(text, 40), Field<DWORD>(text, 44),
           Field<DWORD>(text, 48), Field<DWORD>(text, 52), Field<DWORD>(text, 64), Field<DWORD>(text, 72)};
    EXPECT_EQ(fields,
              (std::vector<DWORD>{GM_COMPATIBLE, 10, 50, 3, 76, ETO_GLYPH_INDEX | ETO_PDY | ETO_CLIPPED, 300, 84}));
    EXPECT_FLOAT_EQ(Field<FLOAT>(text, 28), 100.0f * 508 / 1920); // 0.01 mm per screen pixel
    EXPECT_EQ(Field<WORD>(text, 78), glyphs[1]);
    std::vector<INT> advances;
    for (std::size_t at = 84; at < text.size(); at += 4)
        advances.push_back(Field<INT>(text, at));
    EXPECT_EQ(advances, std::vector<INT>(std::begin(pairs), std::end(pairs)));
    // The bounds: the glyphs' boxes, from the cell's top (the reference point, raised by the second
    // glyph's 5) to below the 40-unit cell, from before the first origin to past the last.
    const RECTL bounds = Field<RECTL>(text, 8);
    EXPECT_LT(bounds.left, 10);
    EXPECT_GT(bounds.right, 10 + 20 + 22);
    EXPECT_LE(bounds.top, 50 - 5);
    EXPECT_GE(bounds.bottom, 50 + 40);

    // Characters without advances: the font's own, rounded to logical units.
    const std::vector<BYTE>& plain = records[4].bytes;
    EXPECT_EQ(Field<DWORD>(plain, 52), 0u);
    EXPECT_EQ(Field<WORD>(plain, 76), u'a');
    const INT expectedA
        = static_cast<INT>(std::lround(privateFont->Advance(glyphs[0]) * 40 / privateFont->UnitsPerEm()));
    EXPECT_EQ(Field<INT>(plain, 80), expectedA);
    EXPECT_EQ(Field<DWORD>(plain, 72), 80u);

    HDC again = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    const ENHMETAHEADER header = HeaderOf(metafile);
    const RECT rect{header.rclBounds.left, header.rclBounds.top, header.rclBounds.right, header.rclBounds.bottom};
    EXPECT_TRUE(PlayEnhMetaFile(again, metafile, &rect));
    HENHMETAFILE replayed = CloseEnhMetaFile(again);
    std::vector<std::vector<BYTE>> texts;
    for (const Record& record : RecordsOf(BytesOf(replayed)))
        if (record.type == EMR_EXTTEXTOUTW)
            texts.push_back(record.bytes);
    ASSERT_EQ(texts.size(), 2u);
    // Played in the advanced mode, which the record says; all else is the same bytes.
    SetField<DWORD>(texts[0], 24, GM_COMPATIBLE);
    SetField<DWORD>(texts[1], 24, GM_COMPATIBLE);
    SetField<FLOAT>(texts[0], 28, Field<FLOAT>(text, 28));
    SetField<FLOAT>(texts[0], 32, Field<FLOAT>(text, 32));
    SetField<FLOAT>(texts[1], 28, Field<FLOAT>(plain, 28));
    SetField<FLOAT>(texts[1], 32, Field<FLOAT>(plain, 32));
    EXPECT_EQ(texts[0], text);
    EXPECT_EQ(texts[1], plain);
    DeleteEnhMetaFile(replayed);
    DeleteEnhMetaFile(metafile);
    DeleteObject(font);
}

// Records whose fields point outside them or name what is not there: each is refused, no byte
// past it is read (every record sits in an exact-size heap block, under AddressSanitizer too),
// and the context goes on playing honest records.
TEST_F(VectorTest, MalformedVectorRecordsAreRefused)
{
    struct Case {
        const char* what;
        std::vector<DWORD> record; // type, then the fields; the size is filled in
    };
    const DWORD pen[] = {PS_GEOMETRIC | PS_USERSTYLE, 4, BS_SOLID, 0, 0};
    auto penRecord = [&](DWORD index, DWORD count, std::size_t entries) {
        std::vector<DWORD> record{EMR_EXTCREATEPEN, 0, index, 0, 0, 0, 0};
        record.insert(record.end(), std::begin(pen), std::end(pen));
        record.push_back(count);
        record.insert(record.end(), entries, 1);
        return record;
    };
    // A text record of `count` units with its offsets, options, and `words` 32-bit words after
    // the fixed part.
    auto text = [](DWORD count, DWORD offString, DWORD offDx, DWORD options, std::size_t words) {
        std::vector<DWORD> record{EMR_EXTTEXTOUTW, 0,         0,       0, 0, 0, GM_ADVANCED, 0,    0, 0, 0,
                                  count,           offString, options, 0, 0, 0, 0,           offDx};
        record.insert(record.end(), words, 0x00410041);
        return record;
    };
    // A blend record of a 2 x 2 bitmap with these offsets and sizes, `bitWords` words of bits and
    // a source rectangle 2 wide from x = `xSrc`.
    auto blend = [](DWORD offBmi, DWORD cbBmi, DWORD offBits, DWORD cbBits, std::size_t bitWords,
                    std::size_t fixedWords, LONG xSrc = 0) {
        std::vector<DWORD> record{EMR_ALPHABLEND,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  10,
                                  10,
                                  0x01FF0000u,
                                  static_cast<DWORD>(xSrc),
                                  0,
                                  0x3F800000,
                                  0,
                                  0,
                                  0x3F800000,
                                  0,
                                  0,
                                  0,
                                  0,
                                  offBmi,
                                  cbBmi,
                                  offBits,
                                  cbBits,
                                  2,
                                  2};
        if (fixedWords == 0) {
            record.pop_back();
            return record;
        }
        const DWORD header[] = {40, 2, static_cast<DWORD>(-2), 0x00200001, BI_RGB, 16, 0, 0, 0, 0};
        record.insert(record.end(), std::begin(header), std::end(header));
        record.insert(record.end(), bitWords, 0x80000000u);
        return record;
    };
    // A gradient record with these counts and mode, `vertices` vertices (white, along x) and indices.
    auto gradient = [](DWORD vertexCount, DWORD pieces, DWORD mode, DWORD vertices, std::vector<DWORD> indices) {
        std::vector<DWORD> record{EMR_GRADIENTFILL, 0, 0, 0, 0, 0, vertexCount, pieces, mode};
        for (DWORD i = 0; i < vertices; ++i)
            record.insert(record.end(), {i * 100, i * 100, 0xFFFFFFFFu, 0x0000FFFFu});
        record.insert(record.end(), indices.begin(), indices.end());
        return record;
    };
    std::vector<DWORD> shortFont{EMR_EXTCREATEFONTINDIRECTW, 0, 1};
    shortFont.resize(2 + 1 + 22, 0);
    const std::vector<Case> cases = {
        {"pen without its entry count", {EMR_EXTCREATEPEN, 0, 1, 0, 0, 0, 0, PS_GEOMETRIC, 4, 0, 0}},
        {"pen with fewer entries than it counts", penRecord(1, 3, 2)},
        {"pen with a count that overflows", penRecord(1, 0x40000001u, 1)},
        {"pen into the metafile's own entry", penRecord(0, 2, 2)},
        {"pen past the table", penRecord(4, 2, 2)},
        {"pen of an unknown style", {EMR_EXTCREATEPEN, 0, 1, 0, 0, 0, 0, 9, 4, 0, 0, 0, 0}},
        {"brush without its hatch", {EMR_CREATEBRUSHINDIRECT, 0, 1, BS_SOLID, 0}},
        {"hatched brush", {EMR_CREATEBRUSHINDIRECT, 0, 1, 2, 0, 0}},
        {"font shorter than a LOGFONTW", shortFont},
        {"select without an index", {EMR_SELECTOBJECT, 0}},
        {"select of an empty entry", {EMR_SELECTOBJECT, 0, 3}},
        {"select of the metafile", {EMR_SELECTOBJECT, 0, 0}},
        {"select past the table", {EMR_SELECTOBJECT, 0, 0x7FFFFFFF}},
        {"select of no stock object", {EMR_SELECTOBJECT, 0, 0x80000063u}},
        {"delete of an empty entry", {EMR_DELETEOBJECT, 0, 2}},
        {"fill mode 7", {EMR_SETPOLYFILLMODE, 0, 7}},
        {"miter limit one half", {EMR_SETMITERLIMIT, 0, 0x3F000000u}},
        {"background mode 0", {EMR_SETBKMODE, 0, 0}},
        {"move without its y", {EMR_MOVETOEX, 0, 5}},
        {"polyline with fewer points than it counts", {EMR_POLYLINETO, 0, 0, 0, 0, 0, 2, 1, 1}},
        {"polyline with a count that overflows", {EMR_POLYLINETO, 0, 0, 0, 0, 0, 0x20000001u, 1, 1}},
        {"short polyline with a count that overflows", {EMR_POLYLINETO16, 0, 0, 0, 0, 0, 0x40000001u, 0x00010001}},
        {"curve of two points", {EMR_POLYBEZIERTO16, 0, 0, 0, 0, 0, 2, 0x00010001, 0x00020002}},
        {"fill without its bounds", {EMR_FILLPATH, 0}},
        {"fill without a path", {EMR_FILLPATH, 0, 0, 0, 0, 0}},
        {"clip with an unknown mode", {EMR_SELECTCLIPPATH, 0, 3}},
        {"text without its advances' offset", {EMR_EXTTEXTOUTW, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 76, 0, 0, 0, 0, 0}},
        {"text whose string runs past it", text(1, 76, 0, 0, 0)},
        {"text whose count overflows", text(0x80000001u, 76, 0, 0, 1)},
        {"text longer than a call may be", text(70000, 76, 0, 0, 1)},
        {"text whose string starts past it", text(1, 0xFFFFFFFEu, 0, 0, 1)},
        {"text whose advances run past it", text(1, 76, 80, 0, 1)},
        {"text whose pairs of advances run past it", text(1, 76, 80, ETO_PDY, 2)},
        {"blend shorter than its fixed part", blend(108, 40, 148, 16, 4, 0)},
        {"blend whose bitmap header runs past it", blend(140, 40, 148, 16, 4, 4)},
        {"blend with a bitmap header too short", blend(108, 36, 148, 16, 4, 4)},
        {"blend whose bits run past it", blend(108, 40, 148, 20, 4, 4)},
        {"blend whose bits' size overflows", blend(108, 40, 148, 0xFFFFFFF0u, 4, 4)},
        {"blend with fewer bits than its bitmap", blend(108, 40, 148, 12, 3, 4)},
        {"blend from outside its bitmap", blend(108, 40, 148, 16, 4, 4, 3)},
        {"gradient of an unknown mode", gradient(1, 0, 3, 1, {})},
        {"gradient whose vertices run past it", gradient(2, 0, GRADIENT_FILL_TRIANGLE, 1, {})},
        {"gradient whose vertex count overflows", gradient(0x10000001u, 0, GRADIENT_FILL_TRIANGLE, 1, {})},
        {"gradient whose triangles run past it", gradient(3, 2, GRADIENT_FILL_TRIANGLE, 3, {0, 1, 2})},
        {"gradient triangle naming a vertex it lacks", gradient(3, 1, GRADIENT_FILL_TRIANGLE, 3, {0, 1, 3})},
        {"gradient rectangle naming a vertex it lacks", gradient(2, 1, GRADIENT_FILL_RECT_V, 2, {2, 0})},
    };

    HDC dc = GetDC(nullptr);
    std::vector<HGDIOBJ> handles(4, nullptr);
    handles[2] = nullptr;
    auto* table = reinterpret_cast<HANDLETABLE*>(handles.data());
    for (const Case& c : cases) {
        const std::size_t bytes = c.record.size() * sizeof(DWORD);
        const auto exact = std::make_unique<DWORD[]>(c.record.size());
        std::copy(c.record.begin(), c.record.end(), exact.get());
        exact[1] = static_cast<DWORD>(bytes);
        EXPECT_FALSE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(exact.get()), 4))
            << c.what;
    }
    EXPECT_EQ(handles, std::vector<HGDIOBJ>(4, nullptr)); // nothing was made

    // An honest pen record after them makes its pen, which a select record then selects.
    std::vector<DWORD> honest = penRecord(1, 2, 2);
    honest[1] = static_cast<DWORD>(honest.size() * sizeof(DWORD));
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(honest.data()), 4));
    ASSERT_NE(handles[1], nullptr);
    const DWORD select[] = {EMR_SELECTOBJECT, 12, 1};
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(select), 4));
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, nullptr, reinterpret_cast<const ENHMETARECORD*>(select), 0) == FALSE);
    // A miter limit written as a whole number, as some writers do, is read as one.
    const DWORD wholeLimit[] = {EMR_SETMITERLIMIT, 12, 5};
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(wholeLimit), 4));
    FLOAT limit = 0;
    EXPECT_TRUE(SetMiterLimit(dc, 10, &limit));
    EXPECT_EQ(limit, 5.0f);
    std::vector<DWORD> honestBlend = blend(108, 40, 148, 16, 4, 4);
    honestBlend[1] = static_cast<DWORD>(honestBlend.size() * sizeof(DWORD));
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(honestBlend.data()), 4));
    std::vector<DWORD> honestGradient = gradient(3, 1, GRADIENT_FILL_TRIANGLE, 3, {0, 1, 2});
    honestGradient[1] = static_cast<DWORD>(honestGradient.size() * sizeof(DWORD));
    EXPECT_TRUE(PlayEnhMetaFileRecord(dc, table, reinterpret_cast<const ENHMETARECORD*>(honestGradient.data()), 4));
    EXPECT_TRUE(DeleteObject(handles[1]));
    ReleaseDC(nullptr, dc);
}

// The rows of a rendered page between two columns that hold a pixel darker than paper: the first
// and the last, or -1 and -1 where there are none.
std::pair<int, int> InkRows(const Page& page, int left, int right)
{
    std::pair<int, int> rows{-1, -1};
    for (int y = 0; y < page.height; ++y) {
        for (int x = left; x < right; ++x) {
            if (!Near(page.At(x, y), kWhite, 100)) {
                rows.first = rows.first < 0 ? y : rows.first;
                rows.second = y;
                break;
            }
        }
    }
    return rows;
}

// An H (no descender, its ink from the baseline up to its cap height) drawn at one height under each
// vertical alignment: the reference point is the top of the cell, the baseline, or the bottom of the
// cell, the cell being the font's ascent above the baseline and its descent below it.
TEST_F(VectorTest, TextAlignmentPutsTheCellsTopBaselineOrBottomAtTheReferencePoint)
{
    const std::u16string face = Register(kSansPath, u"H");
    constexpr int kEm = 600;
    constexpr int kY = 2000;
    // DejaVu Sans in its 2048 units: the cell's ascent and descent as GDI takes them (usWinAscent,
    // usWinDescent), and the H's height.
    const double ascent = 1901.0 / 2048 * kEm;
    const double descent = 483.0 / 2048 * kEm;
    const double capHeight = 1493.0 / 2048 * kEm;

    HDC dc = Printer();
    HFONT big = MakeFont(face, -kEm);
    HGDIOBJ previous = SelectObject(dc, big);
    SetBkMode(dc, TRANSPARENT);
    const UINT alignments[] = {TA_TOP, TA_BASELINE, TA_BOTTOM};
    for (int i = 0; i < 3; ++i) {
        SetTextAlign(dc, alignments[i]);
        DrawGlyphs(dc, face, 500 + 1000 * i, kY, u"H", kEm);
    }
    SelectObject(dc, previous);
    DeleteObject(big);
    const Page page = RenderPage(Finish(dc), 1, 100);
    ASSERT_GT(page.width, 0);

    const double baselines[] = {kY + ascent, kY, kY - descent};
    const char* names[] = {"TA_TOP", "TA_BASELINE", "TA_BOTTOM"};
    for (int i = 0; i < 3; ++i) {
        const auto [top, bottom] = InkRows(page, Px(500 + 1000 * i, 100), Px(1000 + 1000 * i, 100));
        EXPECT_NEAR(bottom, Px(static_cast<int>(baselines[i]), 100), 2) << names[i];
        EXPECT_NEAR(top, Px(static_cast<int>(baselines[i] - capHeight), 100), 2) << names[i];
    }
}

// The texts a glyph may stand for reach four UTF-16 units, and no further: a glyph standing for four
// letters prints and reads back as those letters; a fifth unit refuses the font.
TEST_F(VectorTest, AGlyphStandsForUpToFourUnitsOfText)
{
    const std::vector<BYTE> sans = FileBytes(kSansPath);
    WCHAR face[LF_FACESIZE] = {};
    ASSERT_NE(AddFontMemResourceWithTextW(sans.data(), static_cast<DWORD>(sans.size()), nullptr, 0, face), nullptr);
    const auto plain = platform::gdi::FindPrivateFont(face);
    const WORD glyph = static_cast<WORD>(plain->GlyphOf(u'W'));
    const FONTGLYPHTEXT four{glyph, 4, {u'q', u'u', u'i', u'z'}};
    ASSERT_NE(AddFontMemResourceWithTextW(sans.data(), static_cast<DWORD>(sans.size()), &four, 1, face), nullptr);
    const FONTGLYPHTEXT five{glyph, 5, {u'q', u'u', u'i', u'z'}};
    WCHAR refused[LF_FACESIZE] = {};
    SetLastError(0);
    EXPECT_EQ(AddFontMemResourceWithTextW(sans.data(), static_cast<DWORD>(sans.size()), &five, 1, refused), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HDC dc = Printer();
    HFONT font = MakeFont(face, -200);
    HGDIOBJ previous = SelectObject(dc, font);
    const WCHAR glyphs[] = {glyph};
    const INT advances[] = {200};
    EXPECT_TRUE(ExtTextOutW(dc, 500, 500, ETO_GLYPH_INDEX, nullptr, glyphs, 1, advances));
    SelectObject(dc, previous);
    DeleteObject(font);
    EXPECT_EQ(CommandOutput(Joined("pdftotext -q ", Quoted(Finish(dc)), " -")), "quiz\n\n\f");
}

// Pictures recorded once and played once, as any other reader of the metafile plays them: each
// comes out upright, whether its rows were stored from the top or from the bottom, blended in with
// its alpha or stretched in whole.
TEST_F(VectorTest, PicturesRecordedAndPlayedOnceStayUpright)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    HDC recording = CreateEnhMetaFileW(reference, nullptr, nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    const std::array<BYTE, 4> red{0, 0, 255, 255}, blue{255, 0, 0, 255};
    std::vector<std::array<BYTE, 4>> redOverBlue(16, red);
    std::fill(redOverBlue.begin() + 8, redOverBlue.end(), blue);
    const BLENDFUNCTION perPixel{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    for (const bool bottomUp : {true, false}) {
        const Source source(recording, 4, 4, bottomUp, redOverBlue);
        const int x = bottomUp ? 300 : 1200;
        EXPECT_TRUE(AlphaBlend(recording, x, 300, 600, 600, source.dc, 0, 0, 4, 4, perPixel));
        const Dib dib = TwoBandBitmap(4, 4, 24, !bottomUp, kRed, kBlue);
        EXPECT_GT(StretchDIBits(recording, x + 1800, 300, 600, 600, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS,
                                SRCCOPY),
                  0);
    }
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    DeleteDC(reference);
    ASSERT_NE(metafile, nullptr);
    const Page page = RenderPage(PrintMetafile(metafile), 1, 100);
    DeleteEnhMetaFile(metafile);
    ASSERT_GT(page.width, 0);
    for (const int x : {300, 1200, 2100, 3000}) {
        ExpectColour(page, Px(x + 300, 100), Px(400, 100), kRed, "the picture's upper half");
        ExpectColour(page, Px(x + 300, 100), Px(800, 100), kBlue, "the picture's lower half");
    }
}

} // namespace

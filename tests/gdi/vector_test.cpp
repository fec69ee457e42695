// Vector drawing: pens, brushes, paths, fills, strokes and clips recorded as their metafile
// records, read by another reader, played onto a printer and looked at on the job's PDF; the
// objects' lives in the handle tables; records that lie about themselves.
#include "tests/gdi/gdi_test_support.h"

#include "platform/kernel/kernel.h"
#include "platform/kernel/object_table.h"

#include <cmath>
#include <memory>

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

// One page of everything a PDF page asks of the vector calls, in device dots of the office printer.
void DrawVectorPage(HDC dc)
{
    // A dashed line: 120-dot dashes and gaps, flat ends.
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT, 24, RGB(0, 0, 0), {120, 120}), {{200, 300}, {2000, 300}});
    // A right-angled corner with a miter join, and the same with a bevel join.
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT | PS_JOIN_MITER, 80, RGB(0, 0, 0)),
               {{300, 900}, {600, 600}, {900, 900}});
    StrokeLine(dc, GeometricPen(PS_ENDCAP_FLAT | PS_JOIN_BEVEL, 80, RGB(0, 0, 0)),
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
    at(600, 555, kBlack, "miter tip");
    at(1400, 555, kWhite, "above the bevel");
    at(450, 750, kBlack, "the mitered line");
    at(1550, 750, kBlack, "the bevelled line");
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

TEST_F(VectorTest, APageOfPathsRecordedToAFileReadsElsewhereAndPrintsAsVectors)
{
    HDC reference = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const fs::path emf = root_.Path() / "vectors.emf";
    HDC recording = CreateEnhMetaFileW(reference, emf.u16string().c_str(), nullptr, nullptr);
    ASSERT_NE(recording, nullptr);
    const std::size_t objectsBefore = LiveGdiObjects();
    DrawVectorPage(recording);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    DeleteDC(reference);
    EXPECT_EQ(LiveGdiObjects(), objectsBefore); // the page deleted every object it made

    // Only vector records: no picture of the page.
    const std::vector<DWORD> types = TypesOf(RecordsOf(BytesOf(metafile)));
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_STRETCHDIBITS), 0);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_FILLPATH), 5);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_STROKEPATH), 4);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_SELECTCLIPPATH), 2);
    EXPECT_EQ(std::count(types.begin(), types.end(), EMR_POLYLINETO16), 13);
    // The bounds: the drawn points grown by as far as each pen may reach (a mitred corner up to
    // its miter limit: 10 times half of 80 dots left of the corner's start at 300).
    const ENHMETAHEADER header = HeaderOf(metafile);
    EXPECT_EQ(header.rclBounds.left, -101);
    EXPECT_EQ(header.rclBounds.top, 199);
    EXPECT_EQ(header.rclBounds.right, 4003);
    EXPECT_EQ(header.rclBounds.bottom, 3803);

    // Another reader takes the file and draws its paths.
    const fs::path svg = root_.Path() / "vectors.svg";
    ASSERT_EQ(std::system(Joined("emf2svg-conv -i ", Quoted(emf), " -o ", Quoted(svg)).c_str()), 0);
    const std::string drawing = testing_support::ReadWholeFile(svg);
    EXPECT_GE(Occurrences(drawing, "<path"), 9u);
    EXPECT_GE(Occurrences(drawing, "#0000FF") + Occurrences(drawing, "#0000ff"), 2u);

    const fs::path pdf = PrintMetafile(metafile);
    // No picture went into the PDF: every mark is a vector.
    EXPECT_EQ(Occurrences(CommandOutput(Joined("pdfimages -list ", Quoted(pdf))), "\n"), 2u);
    for (int dpi : {100, 300})
        ExpectVectorPage(RenderPage(pdf, 1, dpi), dpi, kRed, kBlue, kGreen);

    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmSpecVersion = DM_SPECVERSION;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    const Page grey = RenderPage(PrintMetafile(metafile, &mono), 1, 100);
    ExpectVectorPage(grey, 100, Colour{76, 76, 76}, Colour{29, 29, 29}, Colour{117, 117, 117});
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
    EXPECT_TRUE(DeleteObject(handles[1]));
    ReleaseDC(nullptr, dc);
}

} // namespace

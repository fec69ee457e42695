// Enhanced metafiles: what a recording writes (records, header numbers as GDI computes them), files
// an independent reader accepts, metafiles that lie about their sizes, enumeration and its
// rectangle mapping, and pictures that land where drawing directly would put them.
#include "tests/gdi/gdi_test_support.h"

#include "platform/kernel/kernel.h"

#include <sys/stat.h>

#include <cstring>

namespace {

using namespace gdi_test;

void ExpectRect(const RECTL& rect, LONG left, LONG top, LONG right, LONG bottom)
{
    EXPECT_EQ(rect.left, left);
    EXPECT_EQ(rect.top, top);
    EXPECT_EQ(rect.right, right);
    EXPECT_EQ(rect.bottom, bottom);
}

constexpr BYTE kComment[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// A small recording of every record the recording context writes.
HENHMETAFILE RecordEveryCall(HDC dc)
{
    const Dib dib = TwoBandBitmap(4, 4, 32, true, kRed, kBlue);
    EXPECT_EQ(SetGraphicsMode(dc, GM_ADVANCED), GM_COMPATIBLE);
    EXPECT_EQ(SaveDC(dc), 1);
    const XFORM translate{1, 0, 0, 1, 10, 20};
    const XFORM scale2{2, 0, 0, 2, 0, 0};
    EXPECT_TRUE(SetWorldTransform(dc, &translate));
    EXPECT_TRUE(ModifyWorldTransform(dc, &scale2, MWT_LEFTMULTIPLY));
    EXPECT_TRUE(GdiComment(dc, sizeof kComment, kComment));
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 50, 40, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY), 4);
    EXPECT_TRUE(RestoreDC(dc, -1));
    EXPECT_EQ(SetLayout(dc, LAYOUT_BITMAPORIENTATIONPRESERVED), 0u);
    return CloseEnhMetaFile(dc);
}

class MetafileTest : public GdiRoot {};

TEST_F(MetafileTest, ARecordingWritesEachCallAsItsRecordAndTheHeaderAsGdiComputesIt)
{
    HENHMETAFILE metafile = RecordEveryCall(CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(metafile, nullptr);
    const std::vector<BYTE> bytes = BytesOf(metafile);
    const std::vector<Record> records = RecordsOf(bytes);
    EXPECT_EQ(TypesOf(records),
              (std::vector<DWORD>{EMR_HEADER, EMR_SAVEDC, EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM,
                                  EMR_GDICOMMENT, EMR_STRETCHDIBITS, EMR_RESTOREDC, EMR_SETLAYOUT, EMR_EOF}));
    std::vector<std::size_t> sizes;
    for (const Record& record : records)
        sizes.push_back(record.bytes.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{108, 8, 32, 36, 20, 184, 12, 12, 20}));

    // The world maps logical (0, 0)-(50, 40) to screen pixels (10, 20)-(110, 100).
    const ENHMETAHEADER header = HeaderOf(metafile);
    EXPECT_EQ(header.iType, EMR_HEADER);
    EXPECT_EQ(header.nSize, 108u);
    ExpectRect(header.rclBounds, 10, 20, 109, 99);
    ExpectRect(header.rclFrame, 265, 529, 2884, 2619); // the same pixels in 0.01 mm at 96 dpi
    EXPECT_EQ(header.dSignature, ENHMETA_SIGNATURE);
    EXPECT_EQ(header.nVersion, 0x10000u);
    EXPECT_EQ(header.nBytes, bytes.size());
    EXPECT_EQ(header.nRecords, 9u);
    EXPECT_EQ(header.nHandles, 1);
    EXPECT_EQ(header.nDescription, 0u);
    EXPECT_EQ(header.szlDevice.cx, 1920);
    EXPECT_EQ(header.szlDevice.cy, 1440);
    EXPECT_EQ(header.szlMillimeters.cx, 508);
    EXPECT_EQ(header.szlMillimeters.cy, 381);
    EXPECT_EQ(header.szlMicrometers.cx, 508000);
    EXPECT_EQ(header.szlMicrometers.cy, 381000);

    const std::vector<BYTE>& comment = records[4].bytes;
    EXPECT_EQ(Field<DWORD>(comment, 8), 8u);
    EXPECT_EQ(std::vector<BYTE>(comment.begin() + 12, comment.end()), std::vector<BYTE>(kComment, kComment + 8));
    EXPECT_EQ(Field<XFORM>(records[2].bytes, 8).eDx, 10.0f);
    EXPECT_EQ(Field<DWORD>(records[3].bytes, 32), MWT_LEFTMULTIPLY);
    EXPECT_EQ(Field<LONG>(records[6].bytes, 8), -1);
    EXPECT_EQ(Field<DWORD>(records[7].bytes, 8), LAYOUT_BITMAPORIENTATIONPRESERVED);

    const std::vector<BYTE>& stretch = records[5].bytes;
    ExpectRect(Field<RECTL>(stretch, 8), 10, 20, 109, 99);
    const std::vector<LONG> fields
        = {Field<LONG>(stretch, 24), Field<LONG>(stretch, 28), Field<LONG>(stretch, 32), Field<LONG>(stretch, 36),
           Field<LONG>(stretch, 40), Field<LONG>(stretch, 44), Field<LONG>(stretch, 48), Field<LONG>(stretch, 52),
           Field<LONG>(stretch, 56), Field<LONG>(stretch, 60), Field<LONG>(stretch, 64), Field<LONG>(stretch, 72),
           Field<LONG>(stretch, 76)};
    EXPECT_EQ(fields, (std::vector<LONG>{0, 0, 0, 0, 4, 4, 80, 40, 120, 64, 0, 50, 40}));
    EXPECT_EQ(Field<DWORD>(stretch, 68), SRCCOPY);
    EXPECT_EQ(Field<BITMAPINFOHEADER>(stretch, 80).biHeight, -4);
    EXPECT_EQ(stretch[120 + 2], 255); // first pixel red: B, G, R, x

    const std::vector<BYTE> eof = records.back().bytes;
    EXPECT_EQ(Field<DWORD>(eof, 16), 20u);
    EXPECT_TRUE(DeleteEnhMetaFile(metafile));
    EXPECT_FALSE(DeleteEnhMetaFile(metafile));
}

TEST_F(MetafileTest, AnEmptyPictureHasNoBoundsAndADescriptionTravelsInTheHeader)
{
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, u"QuillonTool\0page 1\0");
    ASSERT_NE(dc, nullptr);
    HENHMETAFILE metafile = CloseEnhMetaFile(dc);
    ASSERT_NE(metafile, nullptr);
    // "QuillonTool\0page 1\0\0" is 20 units, 40 bytes after the 108.
    EXPECT_EQ(GetEnhMetaFileHeader(metafile, 0, nullptr), 148u);
    const ENHMETAHEADER header = HeaderOf(metafile);
    ExpectRect(header.rclBounds, 0, 0, -1, -1);
    ExpectRect(header.rclFrame, 0, 0, -1, -1);
    EXPECT_EQ(header.nRecords, 2u);
    EXPECT_EQ(header.nBytes, 168u);
    EXPECT_EQ(header.nDescription, 20u);
    EXPECT_EQ(header.offDescription, 108u);
    const std::vector<BYTE> bytes = BytesOf(metafile);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(bytes.data() + 108), 20),
              std::u16string(u"QuillonTool\0page 1\0\0", 20));
    DeleteEnhMetaFile(metafile);

    // A frame the caller gives is kept as given; a reference printer is the reference device.
    HDC printer = CreateDCW(u"", u"Quillon Photo", nullptr, nullptr);
    const RECT frame{0, 0, 10160, 15240};
    dc = CreateEnhMetaFileW(printer, nullptr, &frame, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 300);
    metafile = CloseEnhMetaFile(dc);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 0); // closing ends the recording context
    const ENHMETAHEADER framed = HeaderOf(metafile);
    ExpectRect(framed.rclFrame, 0, 0, 10160, 15240);
    EXPECT_EQ(framed.szlDevice.cx, GetDeviceCaps(printer, HORZRES));
    EXPECT_EQ(framed.szlMillimeters.cy, GetDeviceCaps(printer, VERTSIZE));
    DeleteEnhMetaFile(metafile);
    DeleteDC(printer);
}

TEST_F(MetafileTest, AFileRecordingIsAPrivateEmfThatAnotherReaderAccepts)
{
    const fs::path path = root_.Path() / "page.emf";
    const mode_t previous = ::umask(022);
    HDC dc = CreateEnhMetaFileW(nullptr, path.u16string().c_str(), nullptr, nullptr);
    ::umask(previous);
    ASSERT_NE(dc, nullptr);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    HENHMETAFILE metafile = RecordEveryCall(dc);
    ASSERT_NE(metafile, nullptr);
    const std::vector<BYTE> bytes = BytesOf(metafile);
    EXPECT_EQ(testing_support::ReadWholeFile(path), std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(DeleteEnhMetaFile(metafile));
    EXPECT_TRUE(fs::exists(path)); // the file behind a metafile outlives its handle

    const fs::path svg = root_.Path() / "page.svg";
    EXPECT_EQ(std::system(Joined("emf2svg-conv -i ", Quoted(path), " -o ", Quoted(svg)).c_str()), 0);
    EXPECT_TRUE(fs::exists(svg));

    HENHMETAFILE reopened = GetEnhMetaFileW(path.u16string().c_str());
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(BytesOf(reopened), bytes);
    DeleteEnhMetaFile(reopened);
    HENHMETAFILE copied = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(BytesOf(copied), bytes);
    std::vector<BYTE> buffer(bytes.size() + 8);
    EXPECT_EQ(GetEnhMetaFileBits(copied, static_cast<UINT>(bytes.size() - 1), buffer.data()), 0u);
    EXPECT_EQ(GetEnhMetaFileBits(copied, static_cast<UINT>(buffer.size()), buffer.data()), bytes.size());
    DeleteEnhMetaFile(copied);

    EXPECT_EQ(GetEnhMetaFileW((root_.Path() / "missing.emf").u16string().c_str()), nullptr);
    EXPECT_EQ(CreateEnhMetaFileW(nullptr, (root_.Path() / "no/such/folder.emf").u16string().c_str(), nullptr, nullptr),
              nullptr);
}

// Every way a metafile can lie about its framing: each is refused as a whole, from memory and
// from a file, and nothing is read outside the bytes (the tests run under AddressSanitizer too).
TEST_F(MetafileTest, MalformedMetafilesAreRefusedWithoutReadingPastThem)
{
    HENHMETAFILE good = RecordEveryCall(CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr));
    const std::vector<BYTE> bytes = BytesOf(good);
    DeleteEnhMetaFile(good);
    const std::size_t eof = bytes.size() - 20;
    const std::size_t stretch = 108 + 8 + 32 + 36 + 20;

    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
    };
    std::vector<Case> cases;
    auto with = [&](const char* what, auto change) {
        std::vector<BYTE> copy = bytes;
        change(copy);
        cases.push_back({what, std::move(copy)});
    };
    with("cut inside the header", [](auto& b) { b.resize(60); });
    with("cut before its end", [](auto& b) { b.resize(b.size() - 4); });
    with("no signature", [](auto& b) { SetField<DWORD>(b, 40, 0); });
    with("not starting with a header", [](auto& b) { SetField<DWORD>(b, 0, EMR_EOF); });
    with("header too short", [](auto& b) { SetField<DWORD>(b, 4, 84); });
    with("header size not a multiple of 4", [](auto& b) { SetField<DWORD>(b, 4, 110); });
    with("header past the end", [](auto& b) { SetField<DWORD>(b, 4, 0x7FFFFFF0); });
    with("length past the end", [&](auto& b) { SetField<DWORD>(b, 48, static_cast<DWORD>(b.size() + 4)); });
    with("description outside the header", [](auto& b) {
        SetField<DWORD>(b, 60, 4);
        SetField<DWORD>(b, 64, 104);
    });
    with("description count overflowing", [](auto& b) {
        SetField<DWORD>(b, 60, 0x80000000u);
        SetField<DWORD>(b, 64, 100);
    });
    with("record of size 0", [](auto& b) { SetField<DWORD>(b, 108 + 4, 0); });
    with("record size not a multiple of 4", [](auto& b) { SetField<DWORD>(b, 108 + 4, 10); });
    with("record running past the end", [&](auto& b) { SetField<DWORD>(b, stretch + 4, 0xFFFFFFF0u); });
    with("no EOF record", [&](auto& b) { SetField<DWORD>(b, eof, 200); });
    with("EOF record before the end", [&](auto& b) { SetField<DWORD>(b, 108, EMR_EOF); });

    for (const Case& c : cases) {
        // An exact-size heap copy, so that a read past it is caught.
        const auto exact = std::make_unique<BYTE[]>(c.bytes.size());
        std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
        SetLastError(0);
        EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(c.bytes.size()), exact.get()), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << c.what;
        const fs::path path = root_.Path() / "bad.emf";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
        EXPECT_EQ(GetEnhMetaFileW(path.u16string().c_str()), nullptr) << c.what;
    }

    // Bytes after the metafile's own length are not part of it.
    std::vector<BYTE> padded = bytes;
    padded.resize(bytes.size() + 16, 0xEE);
    HENHMETAFILE trimmed = SetEnhMetaFileBits(static_cast<UINT>(padded.size()), padded.data());
    ASSERT_NE(trimmed, nullptr);
    EXPECT_EQ(GetEnhMetaFileBits(trimmed, 0, nullptr), bytes.size());
    DeleteEnhMetaFile(trimmed);
}

// A stretch record whose own offsets or sizes point outside it is not drawn, and the records
// after it still are: played onto a recording, only the honest record arrives.
TEST_F(MetafileTest, ARecordThatLiesIsSkippedAndThePictureGoesOn)
{
    HDC dc = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    const Dib dib = TwoBandBitmap(4, 4, 24, false, kRed, kBlue);
    StretchDIBits(dc, 0, 0, 40, 40, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 0, 0, 20, 20, 0, 0, 4, 4, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY);
    HENHMETAFILE honest = CloseEnhMetaFile(dc);
    const std::vector<BYTE> bytes = BytesOf(honest);
    DeleteEnhMetaFile(honest);
    const std::size_t first = 108;
    const DWORD firstSize = Field<DWORD>(bytes, first + 4);

    std::vector<std::pair<std::size_t, DWORD>> lies = {{48, firstSize - 20}, // the header runs past the record
                                                       {52, 12},             // a header shorter than a BITMAPINFOHEADER
                                                       {56, firstSize},      // bits start at the record's end
                                                       {60, firstSize},      // more bits than the record holds
                                                       {60, 0xFFFFFFF0u},    // a size that overflows when added
                                                       {56, 0xFFFFFFFCu},    // an offset that overflows when added
                                                       {80 + 4, 1000},       // a bitmap wider than its bits
                                                       {80 + 8, 0x7FFFFFFF}}; // a bitmap far larger than its bits
    for (const auto& [offset, value] : lies) {
        std::vector<BYTE> lying = bytes;
        SetField<DWORD>(lying, first + offset, value);
        HENHMETAFILE metafile = SetEnhMetaFileBits(static_cast<UINT>(lying.size()), lying.data());
        ASSERT_NE(metafile, nullptr) << offset;
        HDC target = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
        const RECT rect{0, 0, 39, 39};
        EXPECT_FALSE(PlayEnhMetaFile(target, metafile, &rect)) << offset; // not every record played
        HENHMETAFILE played = CloseEnhMetaFile(target);
        std::vector<DWORD> stretched;
        for (const Record& record : RecordsOf(BytesOf(played)))
            if (record.type == EMR_STRETCHDIBITS)
                stretched.push_back(Field<DWORD>(record.bytes, 72));
        EXPECT_EQ(stretched, std::vector<DWORD>{20}) << offset;
        DeleteEnhMetaFile(played);
        DeleteEnhMetaFile(metafile);
    }
}

struct Seen {
    std::vector<DWORD> types;
    std::vector<XFORM> worlds;
    HENHMETAFILE first = nullptr;
    int objects = 0;
    std::size_t stopAfter = 0;
};

int Collect(HDC dc, HANDLETABLE* table, const ENHMETARECORD* record, int objects, LPARAM data)
{
    auto* seen = reinterpret_cast<Seen*>(data);
    seen->types.push_back(record->iType);
    seen->first = static_cast<HENHMETAFILE>(table->objectHandle[0]);
    seen->objects = objects;
    if (dc) {
        XFORM world{};
        GetWorldTransform(dc, &world);
        seen->worlds.push_back(world);
        PlayEnhMetaFileRecord(dc, table, record, static_cast<UINT>(objects));
    }
    return seen->stopAfter == 0 || seen->types.size() < seen->stopAfter;
}

TEST_F(MetafileTest, EnumerationMapsTheFrameOntoTheRectangleAndRestoresTheTarget)
{
    HENHMETAFILE metafile = RecordEveryCall(CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr));
    Seen seen;
    EXPECT_TRUE(EnumEnhMetaFile(nullptr, metafile, Collect, &seen, nullptr));
    EXPECT_EQ(seen.types.size(), 9u);
    EXPECT_EQ(seen.first, metafile);
    EXPECT_EQ(seen.objects, 1);
    Seen stopped;
    stopped.stopAfter = 3;
    EXPECT_FALSE(EnumEnhMetaFile(nullptr, metafile, Collect, &stopped, nullptr));
    EXPECT_EQ(stopped.types.size(), 3u);

    HDC dc = GetDC(nullptr);
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM base{1, 0, 0, 1, -50, -60};
    SetWorldTransform(dc, &base);
    EXPECT_FALSE(EnumEnhMetaFile(dc, metafile, Collect, &seen, nullptr)); // a target needs a rectangle

    // The rectangle equal to the bounds maps through the identity: the base stays as it is.
    Seen identity;
    const RECT bounds{10, 20, 109, 99};
    ASSERT_TRUE(EnumEnhMetaFile(dc, metafile, Collect, &identity, &bounds));
    EXPECT_EQ(identity.worlds[0].eM11, 1.0f);
    EXPECT_EQ(identity.worlds[0].eDx, -50.0f);
    // The SETWORLDTRANSFORM record (translate 10, 20) is played relative to that base, and the
    // left-multiplied scale after it comes on top.
    EXPECT_EQ(identity.worlds[3].eDx, -40.0f);
    EXPECT_EQ(identity.worlds[4].eM11, 2.0f);
    EXPECT_EQ(identity.worlds[4].eDy, -40.0f);

    // Twice the size, from the origin: (10, 20) lands on (0, 0) and the scale doubles.
    Seen doubled;
    const RECT twice{0, 0, 198, 158};
    ASSERT_TRUE(EnumEnhMetaFile(dc, metafile, Collect, &doubled, &twice));
    EXPECT_EQ(doubled.worlds[0].eM11, 2.0f);
    EXPECT_EQ(doubled.worlds[0].eM22, 2.0f);
    EXPECT_EQ(doubled.worlds[0].eDx, -70.0f);
    EXPECT_EQ(doubled.worlds[0].eDy, -100.0f);

    // Afterwards the target is as it was, whatever the records did to it.
    XFORM after{};
    GetWorldTransform(dc, &after);
    EXPECT_EQ(after.eDx, -50.0f);
    EXPECT_EQ(after.eM11, 1.0f);
    EXPECT_EQ(GetLayout(dc), 0u);
    EXPECT_EQ(SaveDC(dc), 1);
    ReleaseDC(nullptr, dc);
    DeleteEnhMetaFile(metafile);
}

TEST_F(MetafileTest, ARestoreRecordCannotReachStatesSavedBeforeThePlayback)
{
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    SaveDC(recording);
    RestoreDC(recording, -1);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    std::vector<BYTE> bytes = BytesOf(metafile);
    DeleteEnhMetaFile(metafile);
    // The SAVEDC record becomes a no-op, so the RESTOREDC record would pop the target's own state.
    SetField<DWORD>(bytes, 108, 200);
    metafile = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());

    HDC dc = GetDC(nullptr);
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM mine{3, 0, 0, 3, 0, 0};
    SetWorldTransform(dc, &mine);
    EXPECT_EQ(SaveDC(dc), 1);
    const RECT rect{0, 0, 0, 0};
    EXPECT_FALSE(PlayEnhMetaFile(dc, metafile, &rect));
    EXPECT_TRUE(RestoreDC(dc, -1)); // the caller's own state is still there
    XFORM world{};
    GetWorldTransform(dc, &world);
    EXPECT_EQ(world.eM11, 3.0f);
    ReleaseDC(nullptr, dc);
    DeleteEnhMetaFile(metafile);
}

// The same picture drawn straight onto a printer and drawn through a metafile played onto another
// (the way the document path does: recorded in screen pixels, played under the printer's scale)
// lands on the same pixels.
TEST_F(MetafileTest, APictureDrawnThroughAMetafileLandsWhereDrawingDirectlyPutsIt)
{
    const Dib dib = TwoBandBitmap(30, 20, 24, false, kGreen, kBlue);
    const XFORM turn{0, 1, -1, 0, 1500, 300}; // a quarter turn, moved right
    auto draw = [&](HDC dc) {
        SetGraphicsMode(dc, GM_ADVANCED);
        ModifyWorldTransform(dc, &turn, MWT_LEFTMULTIPLY);
        EXPECT_GT(StretchDIBits(dc, 100, 50, 900, 600, 0, 0, 30, 20, dib.Bits(), dib.Info(), DIB_RGB_COLORS, SRCCOPY),
                  0);
    };
    const DOCINFOW info{20, u"compare", nullptr, nullptr, 0};

    HDC direct = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    StartDocW(direct, &info);
    StartPage(direct);
    draw(direct);
    EndPage(direct);
    EndDoc(direct);
    DeleteDC(direct);

    // Recorded at the screen's 96 dpi, played onto the 600-dpi printer scaled by 6.25.
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM toScreen{96.0f / 600, 0, 0, 96.0f / 600, 0, 0};
    ModifyWorldTransform(recording, &toScreen, MWT_LEFTMULTIPLY);
    draw(recording);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    ASSERT_NE(metafile, nullptr);
    const ENHMETAHEADER header = HeaderOf(metafile);
    HDC printer = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    StartDocW(printer, &info);
    StartPage(printer);
    SetGraphicsMode(printer, GM_ADVANCED);
    const XFORM toPrinter{6.25f, 0, 0, 6.25f, 0, 0};
    SetWorldTransform(printer, &toPrinter);
    const RECT rect{header.rclBounds.left, header.rclBounds.top, header.rclBounds.right, header.rclBounds.bottom};
    EXPECT_TRUE(PlayEnhMetaFile(printer, metafile, &rect));
    EndPage(printer);
    EndDoc(printer);
    DeleteDC(printer);
    DeleteEnhMetaFile(metafile);

    // At 100 dpi a pixel is 6 dots: about one screen pixel of the recording.
    const Page straight = RenderPage(SpoolFolder("Quillon Office") / "1.pdf", 1, 100);
    const Page through = RenderPage(SpoolFolder("Quillon Office") / "2.pdf", 1, 100);
    ASSERT_EQ(straight.width, through.width);
    int inked = 0;
    for (int y = 0; y < straight.height; ++y) {
        for (int x = 0; x < straight.width; ++x) {
            ASSERT_TRUE(Near(straight.At(x, y), through.At(x, y), 60))
                << x << "," << y << ": " << Describe(straight.At(x, y)) << " vs " << Describe(through.At(x, y));
            inked += Near(straight.At(x, y), kWhite) ? 0 : 1;
        }
    }
    EXPECT_GT(inked, 140 * 90); // the 150 x 100 pixel picture, less its edges
}

} // namespace

// Playback with repair: transforms under the target's own, page marks turned into pages, odd
// comments and layout records dropped, compressed pictures passed on or decoded as the device
// answers, and records that fail (or lie about their sizes) never stopping the page.
#include "printing/emf.h"
#include "printing/playback.h"

#include "platform/kernel/kernel.h"
#include "tests/gdi/gdi_test_support.h"

#include <cstring>

namespace {

using namespace gdi_test;
using aio::printing::ContentArea;
using aio::printing::Emf;
using aio::printing::PageSize;
using aio::printing::PlaybackRecord;
using aio::printing::PlaybackTarget;
using aio::printing::PlayRecord;

constexpr int kRenderDpi = 60; // 10 printer dots a pixel

// A record of a type with 4-byte fields after its type and size.
std::vector<BYTE> MakeRecord(DWORD type, std::initializer_list<DWORD> fields)
{
    std::vector<BYTE> bytes(8 + fields.size() * 4);
    SetField<DWORD>(bytes, 0, type);
    SetField<DWORD>(bytes, 4, static_cast<DWORD>(bytes.size()));
    std::size_t offset = 8;
    for (DWORD field : fields) {
        SetField<DWORD>(bytes, offset, field);
        offset += 4;
    }
    return bytes;
}

DWORD FloatBits(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::vector<BYTE> TransformRecord(DWORD type, const XFORM& x, std::optional<DWORD> mode = std::nullopt)
{
    std::vector<BYTE> record = MakeRecord(type,
                                          {FloatBits(x.eM11), FloatBits(x.eM12), FloatBits(x.eM21), FloatBits(x.eM22),
                                           FloatBits(x.eDx), FloatBits(x.eDy)});
    if (mode) {
        record.resize(36);
        SetField<DWORD>(record, 4, 36);
        SetField<DWORD>(record, 32, *mode);
    }
    return record;
}

std::pair<float, float> MapPoint(HDC dc, float x, float y)
{
    XFORM w{};
    EXPECT_TRUE(GetWorldTransform(dc, &w));
    return {x * w.eM11 + y * w.eM21 + w.eDx, x * w.eM12 + y * w.eM22 + w.eDy};
}

// The records of a metafile's bytes.
std::vector<std::vector<BYTE>> RecordsOf(const std::vector<BYTE>& bytes)
{
    std::vector<std::vector<BYTE>> records;
    for (std::size_t offset = 0; offset + 8 <= bytes.size();) {
        const DWORD size = Field<DWORD>(bytes, offset + 4);
        records.emplace_back(bytes.begin() + offset, bytes.begin() + offset + size);
        offset += size;
    }
    return records;
}

std::vector<BYTE> BytesOf(const Emf& emf)
{
    std::vector<BYTE> bytes(emf.GetByteSize());
    EXPECT_TRUE(emf.CopyBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    return bytes;
}

class PlaybackTest : public GdiRoot {
protected:
    // A printer context prepared as the document path prepares it: document started, advanced
    // mode, the page-to-printer transform (printer dots per screen pixel, minus the offsets).
    HDC DocumentPrinter(const char16_t* name, const DEVMODEW* mode = nullptr)
    {
        HDC dc = CreateDCW(u"", name, nullptr, mode);
        const DOCINFOW info{20, u"document", nullptr, nullptr, 0};
        job_ = StartDocW(dc, &info);
        EXPECT_GT(job_, 0);
        SetGraphicsMode(dc, GM_ADVANCED);
        const float scale = static_cast<float>(GetDeviceCaps(dc, LOGPIXELSX) / 96.0);
        const XFORM toPrinter{scale,
                              0,
                              0,
                              scale,
                              static_cast<float>(-GetDeviceCaps(dc, PHYSICALOFFSETX)),
                              static_cast<float>(-GetDeviceCaps(dc, PHYSICALOFFSETY))};
        EXPECT_TRUE(ModifyWorldTransform(dc, &toPrinter, MWT_LEFTMULTIPLY));
        return dc;
    }

    fs::path EndDocument(HDC dc, const std::string& printer)
    {
        EXPECT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
        return SpoolFolder(printer) / (std::to_string(job_) + ".pdf");
    }

    // Starts a page recording the way the document path does: the renderer draws in printer dots
    // of the physical page, the recording scale brings them to screen pixels.
    HDC StartPageRecording(Emf& emf, int printerDpi)
    {
        EXPECT_TRUE(emf.StartRecording());
        HDC dc = emf.GetRecordingDC();
        SetGraphicsMode(dc, GM_ADVANCED);
        const float scale = static_cast<float>(96.0 / printerDpi);
        const XFORM toScreen{scale, 0, 0, scale, 0, 0};
        ModifyWorldTransform(dc, &toScreen, MWT_LEFTMULTIPLY);
        emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f);
        return dc;
    }

    void EndPageRecording(Emf& emf)
    {
        emf.MarkPageEnd();
        EXPECT_TRUE(emf.StopRecording());
    }

    int job_ = 0;
};

TEST_F(PlaybackTest, TransformRecordsActUnderTheTargetsOwnTransform)
{
    HDC dc = GetDC(nullptr);
    SetGraphicsMode(dc, GM_ADVANCED);
    const XFORM base{1, 0, 0, 1, -50, -60};
    const XFORM scale2{2, 0, 0, 2, 0, 0};
    const PlaybackTarget target{nullptr, 1, dc};
    auto play = [&](const std::vector<BYTE>& bytes) {
        const PlaybackRecord record{reinterpret_cast<const ENHMETARECORD*>(bytes.data()), &target};
        return PlayRecord(&base, record);
    };
    auto reset = [&] { SetWorldTransform(dc, &base); };

    reset();
    EXPECT_TRUE(play(TransformRecord(EMR_SETWORLDTRANSFORM, scale2)));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-30.0f, -40.0f));
    // Mode 1 goes back to the base, not to the identity.
    EXPECT_TRUE(play(TransformRecord(EMR_MODIFYWORLDTRANSFORM, scale2, MWT_IDENTITY)));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-40.0f, -50.0f));
    // Mode 4 sets, relative to the base, as record 35 does.
    EXPECT_TRUE(play(TransformRecord(EMR_MODIFYWORLDTRANSFORM, scale2, MWT_SET)));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-30.0f, -40.0f));
    // Modes 2 and 3 multiply on the current transform as recorded.
    reset();
    EXPECT_TRUE(play(TransformRecord(EMR_MODIFYWORLDTRANSFORM, scale2, MWT_RIGHTMULTIPLY)));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-80.0f, -100.0f));
    EXPECT_TRUE(play(TransformRecord(EMR_MODIFYWORLDTRANSFORM, scale2, MWT_LEFTMULTIPLY)));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-60.0f, -80.0f));
    // Modes 0 and 5 change nothing.
    for (DWORD mode : {0u, 5u}) {
        EXPECT_FALSE(play(TransformRecord(EMR_MODIFYWORLDTRANSFORM, scale2, mode)));
        EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-60.0f, -80.0f));
    }
    // Records too short for their transform are not read.
    std::vector<BYTE> cut = MakeRecord(EMR_SETWORLDTRANSFORM, {FloatBits(2)});
    EXPECT_FALSE(play(cut));
    EXPECT_EQ(MapPoint(dc, 10, 10), std::make_pair(-60.0f, -80.0f));
    ReleaseDC(nullptr, dc);
}

// A page recorded as the document path records it prints as one page of the job, on the sheet
// where the renderer drew it: the marks became exactly one StartPage and one EndPage.
TEST_F(PlaybackTest, APageBetweenItsMarksPrintsAsOnePageWhereItWasDrawn)
{
    Emf emf;
    HDC recording = StartPageRecording(emf, 600);
    const Dib green = TwoBandBitmap(8, 8, 32, true, kGreen, kGreen);
    // Sheet dots (1000, 1000)-(2000, 2000), as the renderer sees the physical page.
    StretchDIBits(recording, 1000, 1000, 1000, 1000, 0, 0, 8, 8, green.Bits(), green.Info(), DIB_RGB_COLORS, SRCCOPY);
    EndPageRecording(emf);

    HDC printer = DocumentPrinter(u"Quillon Office");
    EXPECT_TRUE(emf.PlayWithRepair(printer));
    EXPECT_EQ(StartPage(printer), 1); // the page was ended: a new one can start
    EXPECT_GT(EndPage(printer), 0);
    const fs::path pdf = EndDocument(printer, "Quillon Office");
    EXPECT_EQ(PdfInfo(pdf, "Pages"), "2");
    const Page page = RenderPage(pdf, 1, kRenderDpi);
    EXPECT_TRUE(Near(page.At(150, 150), kGreen)) << Describe(page.At(150, 150));
    for (auto [x, y] : {std::pair{95, 150}, {205, 150}, {150, 95}, {150, 205}})
        EXPECT_TRUE(Near(page.At(x, y), kWhite)) << x << "," << y << " " << Describe(page.At(x, y));
}

TEST_F(PlaybackTest, OddCommentsAndLayoutRecordsNeverReachTheTarget)
{
    Emf emf;
    ASSERT_TRUE(emf.StartRecording());
    HDC dc = emf.GetRecordingDC();
    const std::vector<BYTE> twelve(12, 0x11), hundred(100, 0x22);
    const DWORD otherMark[2] = {0xDEADBABE, 2};
    const DWORD otherEight[2] = {0x43494447, 7};
    // Another signature with the page-end value: not a page mark.
    const DWORD foreignEnd[2] = {0x43494447, 1};
    GdiComment(dc, 12, twelve.data());
    GdiComment(dc, 100, hundred.data());
    GdiComment(dc, 8, reinterpret_cast<const BYTE*>(otherMark));
    SetLayout(dc, LAYOUT_RTL);
    GdiComment(dc, 8, reinterpret_cast<const BYTE*>(otherEight));
    GdiComment(dc, 8, reinterpret_cast<const BYTE*>(foreignEnd));
    emf.MarkPageStart(PageSize{}, ContentArea{}, 1.0f);
    emf.MarkPageEnd();
    ASSERT_TRUE(emf.StopRecording());

    // Played onto a recording: what reaches it is recorded there.
    Emf target;
    ASSERT_TRUE(target.StartRecording());
    EXPECT_TRUE(emf.PlayWithRepair(target.GetRecordingDC()));
    ASSERT_TRUE(target.StopRecording());
    std::vector<std::vector<BYTE>> comments;
    for (const std::vector<BYTE>& record : RecordsOf(BytesOf(target))) {
        EXPECT_NE(Field<DWORD>(record, 0), EMR_SETLAYOUT);
        if (Field<DWORD>(record, 0) == EMR_GDICOMMENT)
            comments.emplace_back(record.begin() + 12, record.end());
    }
    // The page marks became StartPage and EndPage (which a recording refuses), so they are gone too.
    ASSERT_EQ(comments.size(), 3u);
    EXPECT_EQ(std::memcmp(comments[0].data(), otherMark, 8), 0);
    EXPECT_EQ(std::memcmp(comments[1].data(), otherEight, 8), 0);
    EXPECT_EQ(std::memcmp(comments[2].data(), foreignEnd, 8), 0);
}

// A page with a JPEG: a printer that takes JPEG gets the bytes themselves; a device that does not
// know the escape, or says no to it, gets the picture decoded into 32-bit rows at the same place.
TEST_F(PlaybackTest, CompressedPicturesArePassedOnOrDecodedAsTheDeviceAnswers)
{
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 40, 20, kRed, kBlue);
    const std::vector<BYTE> png = EncodedPicture("png", 40, 20, kRed, kBlue);
    const BITMAPINFO jpegInfo = CompressedInfo(BI_JPEG, 40, 20, jpeg.size());
    const BITMAPINFO pngInfo = CompressedInfo(BI_PNG, 40, 20, png.size());
    Emf emf;
    HDC recording = StartPageRecording(emf, 600);
    EXPECT_EQ(
        StretchDIBits(recording, 1000, 1000, 2000, 1000, 0, 0, 40, 20, jpeg.data(), &jpegInfo, DIB_RGB_COLORS, SRCCOPY),
        20);
    EXPECT_EQ(
        StretchDIBits(recording, 1000, 3000, 2000, 1000, 0, 0, 40, 20, png.data(), &pngInfo, DIB_RGB_COLORS, SRCCOPY),
        20);
    EndPageRecording(emf);

    // The office printer takes the JPEG as it is, and gets the PNG decoded.
    HDC printer = DocumentPrinter(u"Quillon Office");
    EXPECT_TRUE(emf.PlayWithRepair(printer));
    const fs::path pdf = EndDocument(printer, "Quillon Office");
    EXPECT_NE(testing_support::ReadWholeFile(pdf).find(std::string(jpeg.begin(), jpeg.end())), std::string::npos);
    const Page page = RenderPage(pdf, 1, kRenderDpi);
    for (int y : {150, 350}) {
        EXPECT_TRUE(Near(page.At(150, y), kRed)) << y << " " << Describe(page.At(150, y));
        EXPECT_TRUE(Near(page.At(250, y), kBlue)) << y << " " << Describe(page.At(250, y));
    }

    // A monochrome job says no to the JPEG: decoded, and printed grey.
    DEVMODEW mono{};
    mono.dmSize = sizeof mono;
    mono.dmFields = DM_COLOR;
    mono.dmColor = DMCOLOR_MONOCHROME;
    HDC grey = DocumentPrinter(u"Quillon Office", &mono);
    EXPECT_TRUE(emf.PlayWithRepair(grey));
    const fs::path greyPdf = EndDocument(grey, "Quillon Office");
    EXPECT_EQ(testing_support::ReadWholeFile(greyPdf).find(std::string(jpeg.begin(), jpeg.end())), std::string::npos);
    const Colour greyRed = RenderPage(greyPdf, 1, kRenderDpi).At(150, 150);
    EXPECT_TRUE(Near(greyRed, Colour{76, 76, 76}, 12)) << Describe(greyRed);

    // A recording knows no escapes: it records both pictures as decoded rows, where they were.
    Emf target;
    ASSERT_TRUE(target.StartRecording());
    HDC targetDc = target.GetRecordingDC();
    EXPECT_TRUE(emf.PlayWithRepair(targetDc));
    ASSERT_TRUE(target.StopRecording());
    std::vector<std::vector<BYTE>> pictures;
    for (const std::vector<BYTE>& record : RecordsOf(BytesOf(target)))
        if (Field<DWORD>(record, 0) == EMR_STRETCHDIBITS)
            pictures.push_back(record);
    ASSERT_EQ(pictures.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::vector<BYTE>& record = pictures[i];
        const BITMAPINFOHEADER header = Field<BITMAPINFOHEADER>(record, Field<DWORD>(record, 48));
        EXPECT_EQ(header.biCompression, BI_RGB);
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biWidth, 40);
        EXPECT_EQ(header.biHeight, -20);
        EXPECT_EQ(Field<LONG>(record, 24), 1000);                         // xDest
        EXPECT_EQ(Field<LONG>(record, 28), i == 0 ? 1000 : 3000);         // yDest
        EXPECT_EQ(Field<LONG>(record, 72), 2000);                         // cxDest
        const BYTE* pixel = record.data() + Field<DWORD>(record, 56) + 4; // second pixel: red
        EXPECT_TRUE(Near(Colour{pixel[2], pixel[1], pixel[0]}, kRed, 20));
    }
}

// Stretch records that fail, or whose header or bits lie outside them, are not drawn, and every
// record after them still is. The first lying record points into the next record's JPEG, the
// fourth claims a JPEG longer than its bits: read without the checks, the next record's bytes would
// reach the decoder.
TEST_F(PlaybackTest, ARecordThatFailsOrLiesDoesNotStopThePage)
{
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 8, 8, kBlue, kBlue);
    const BITMAPINFO info = CompressedInfo(BI_JPEG, 8, 8, jpeg.size());
    const Dib green = TwoBandBitmap(4, 4, 32, true, kGreen, kGreen);
    Emf emf;
    ASSERT_TRUE(emf.StartRecording());
    HDC dc = emf.GetRecordingDC();
    StretchDIBits(dc, 0, 0, 10, 10, 0, 0, 8, 8, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 0, 0, 20, 20, 0, 0, 8, 8, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 0, 0, 30, 30, 0, 0, 4, 4, green.Bits(), green.Info(), DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 0, 0, 40, 40, 0, 0, 8, 8, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    StretchDIBits(dc, 0, 0, 50, 50, 0, 0, 8, 8, jpeg.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    ASSERT_TRUE(emf.StopRecording());
    std::vector<BYTE> bytes = BytesOf(emf);
    const std::size_t first = 108;
    const DWORD firstSize = Field<DWORD>(bytes, first + 4);
    SetField<DWORD>(bytes, first + 48, firstSize + 80); // the header of the next record
    SetField<DWORD>(bytes, first + 56, firstSize + 120);
    // The third record's bitmap is not what its header says: the device refuses it.
    const std::size_t third = first + 2 * firstSize;
    SetField<WORD>(bytes, third + 80 + 14, 8);
    const std::size_t fourth = third + Field<DWORD>(bytes, third + 4);
    SetField<DWORD>(bytes, fourth + 80 + 20, Field<DWORD>(bytes, fourth + 60) + firstSize);
    Emf lying;
    ASSERT_TRUE(lying.LoadFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())));

    Emf target;
    ASSERT_TRUE(target.StartRecording());
    EXPECT_TRUE(lying.PlayWithRepair(target.GetRecordingDC()));
    ASSERT_TRUE(target.StopRecording());
    std::vector<LONG> drawn;
    for (const std::vector<BYTE>& record : RecordsOf(BytesOf(target)))
        if (Field<DWORD>(record, 0) == EMR_STRETCHDIBITS)
            drawn.push_back(Field<LONG>(record, 72));
    EXPECT_EQ(drawn, (std::vector<LONG>{20, 50}));
}

TEST_F(PlaybackTest, NothingIsPlayedOntoATargetWithoutAReadableTransform)
{
    Emf emf;
    HDC recording = StartPageRecording(emf, 600);
    (void)recording;
    EndPageRecording(emf);
    HDC printer = DocumentPrinter(u"Quillon Office");
    for (HDC unreadable : {HDC{nullptr}, reinterpret_cast<HDC>(0x4321)})
        EXPECT_FALSE(emf.PlayWithRepair(unreadable));
    EXPECT_EQ(EndPage(printer), SP_ERROR); // no page was started on the printer either
    HDC gone = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    DeleteDC(gone);
    EXPECT_FALSE(emf.PlayWithRepair(gone));
    EndDocument(printer, "Quillon Office");
    EXPECT_FALSE(Emf().PlayWithRepair(printer));
}

TEST_F(PlaybackTest, DevicesAcceptImagesOnlyWhenTheyKnowTheEscapeAndSayYes)
{
    const std::vector<BYTE> jpeg = EncodedPicture("jpeg", 8, 8, kRed, kBlue);
    const std::vector<BYTE> png = EncodedPicture("png", 8, 8, kRed, kBlue);
    auto accepts = [](HDC dc, int escape, const std::vector<BYTE>& bytes) {
        return aio::printing::DeviceAcceptsImage(dc, escape, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    };
    HDC office = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    EXPECT_TRUE(accepts(office, CHECKJPEGFORMAT, jpeg));
    EXPECT_FALSE(accepts(office, CHECKJPEGFORMAT, png));
    EXPECT_FALSE(accepts(office, CHECKPNGFORMAT, png)); // the escape is not known there
    HDC screen = GetDC(nullptr);
    EXPECT_FALSE(accepts(screen, CHECKJPEGFORMAT, jpeg));
    ReleaseDC(nullptr, screen);
    DeleteDC(office);
}

} // namespace

// Clips nested `depth` deep, each a square inside the last, with a fill at the bottom; played onto
// a memory-backed recording (which keeps the clip state a printer keeps) under the page's limits.
bool PlayNestedClips(int depth)
{
    Emf emf;
    EXPECT_TRUE(emf.StartRecording());
    HDC dc = emf.GetRecordingDC();
    for (int i = 0; i < depth; ++i) {
        SaveDC(dc);
        BeginPath(dc);
        MoveToEx(dc, i % 100, i % 100, nullptr);
        LineTo(dc, 1000, i % 100);
        LineTo(dc, 1000, 1000);
        CloseFigure(dc);
        EndPath(dc);
        SelectClipPath(dc, RGN_AND);
    }
    BeginPath(dc);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, 900, 900);
    LineTo(dc, 0, 900);
    EndPath(dc);
    FillPath(dc);
    for (int i = 0; i < depth; ++i)
        RestoreDC(dc, -1);
    EXPECT_TRUE(emf.StopRecording());
    Emf target;
    EXPECT_TRUE(target.StartRecording());
    const bool played = emf.PlayWithRepair(target.GetRecordingDC());
    target.StopRecording();
    return played;
}

// A small page of thousands of nested clips would have the playback hold a clip region listing
// every clip in force for each of them (gigabytes); past the limits it stops instead. A page
// within them plays whole.
TEST_F(PlaybackTest, APageOfClipsNestedPastTheLimitIsNotPlayed)
{
    using platform::gdi::PlaybackLimits;
    EXPECT_TRUE(PlayNestedClips(int(PlaybackLimits::kMaxClipPaths)));
    EXPECT_FALSE(PlayNestedClips(int(PlaybackLimits::kMaxClipPaths) + 1));

    // Saved states alone, past their own limit; and a state restored gives back what it held.
    PlaybackLimits limits;
    const std::vector<BYTE> save = MakeRecord(EMR_SAVEDC, {});
    const std::vector<BYTE> restore = MakeRecord(EMR_RESTOREDC, {DWORD(-1)});
    const auto& saveRecord = *reinterpret_cast<const ENHMETARECORD*>(save.data());
    const auto& restoreRecord = *reinterpret_cast<const ENHMETARECORD*>(restore.data());
    for (int round = 0; round < 3; ++round) {
        for (std::uint64_t i = 0; i < PlaybackLimits::kMaxSavedStates; ++i)
            ASSERT_TRUE(limits.Admit(saveRecord));
        for (std::uint64_t i = 0; i < PlaybackLimits::kMaxSavedStates; ++i)
            ASSERT_TRUE(limits.Admit(restoreRecord));
    }
    for (std::uint64_t i = 0; i < PlaybackLimits::kMaxSavedStates; ++i)
        ASSERT_TRUE(limits.Admit(saveRecord));
    EXPECT_FALSE(limits.Admit(saveRecord));
    EXPECT_EQ(limits.Passed(), PlaybackLimits::Limit::SavedStates);
    EXPECT_FALSE(limits.Admit(restoreRecord));
    EXPECT_EQ(PlaybackLimits::Describe(limits.Passed()), "4096 saved states");

    // Gradients count their vertices and pieces: triangles all of vertex 0.
    const auto gradient = [](DWORD vertices, DWORD pieces) {
        std::vector<BYTE> bytes = MakeRecord(EMR_GRADIENTFILL, {0, 0, 0, 0, vertices, pieces, GRADIENT_FILL_TRIANGLE});
        bytes.resize(bytes.size() + std::size_t{vertices} * sizeof(TRIVERTEX) + std::size_t{pieces} * 12);
        SetField<DWORD>(bytes, 4, static_cast<DWORD>(bytes.size()));
        return bytes;
    };
    const std::vector<BYTE> many = gradient(3, 200'000);
    PlaybackLimits pieces;
    EXPECT_TRUE(pieces.Admit(*reinterpret_cast<const ENHMETARECORD*>(many.data())));
    EXPECT_TRUE(pieces.Admit(*reinterpret_cast<const ENHMETARECORD*>(many.data())));
    EXPECT_FALSE(pieces.Admit(*reinterpret_cast<const ENHMETARECORD*>(many.data())));
    EXPECT_EQ(pieces.Passed(), PlaybackLimits::Limit::GradientPieces);
    const std::vector<BYTE> vertices = gradient(1'500'000, 1);
    PlaybackLimits corners;
    EXPECT_TRUE(corners.Admit(*reinterpret_cast<const ENHMETARECORD*>(vertices.data())));
    EXPECT_FALSE(corners.Admit(*reinterpret_cast<const ENHMETARECORD*>(vertices.data())));
    EXPECT_EQ(PlaybackLimits::Describe(corners.Passed()), "2000000 gradient vertices");
}

// Benchmark: pages of vectors and text taken the document path's way: recorded into a metafile
// file at the screen's resolution under the recording scale, loaded, and played with repair onto
// a 600-dpi printer through to the finished job PDF.
//   text:   a page of 60 lines of 12 words, each word one glyph run (720 runs, about 4300 glyphs)
//           in a registered font, a rule under every line: the size of a text page's metafile and
//           PDF, and the time of each step;
//   clip:   2000 small fills under one clip path, beside the same fills unclipped: the PDF sizes
//           show whether the clip is written once or once a fill.
//
// quillon-bench-vector-page [RUNS]   (default 5; the median of each figure is printed)
#include "platform/gdi/fonts/private_fonts.h"
#include "platform/gdi/gdi.h"
#include "printing/emf.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDpi = 600;
constexpr int kScreenDpi = 96;
constexpr int kLines = 60;
constexpr int kWords = 12;
constexpr int kFills = 2000;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::u16string RegisterFont()
{
    std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", std::ios::binary);
    const std::vector<char> program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WCHAR name[LF_FACESIZE] = {};
    if (program.empty()
        || !AddFontMemResourceWithTextW(program.data(), static_cast<DWORD>(program.size()), nullptr, 0, name)) {
        std::fprintf(stderr, "quillon-bench-vector-page: DejaVu Serif (fonts-dejavu-core) is needed\n");
        std::exit(1);
    }
    return name;
}

// Text lines in printer dots: each word a glyph run with its advances, a rule under each line.
void DrawTextPage(HDC dc, const std::u16string& face)
{
    const auto font = platform::gdi::FindPrivateFont(face);
    LOGFONTW logFont{};
    logFont.lfHeight = -83; // 10 points at 600 dpi
    std::copy(face.begin(), face.end(), logFont.lfFaceName);
    HFONT hfont = CreateFontIndirectW(&logFont);
    SelectObject(dc, hfont);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_BASELINE);
    const LOGBRUSH black{BS_SOLID, RGB(0, 0, 0), 0};
    HPEN rule = ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_FLAT, 3, &black, 0, nullptr);
    SelectObject(dc, rule);
    const std::u16string words[] = {u"vector", u"pages", u"stay", u"drawings", u"and", u"text", u"stays", u"text"};
    for (int line = 0; line < kLines; ++line) {
        const int y = 400 + line * 100;
        int x = 300;
        for (int word = 0; word < kWords; ++word) {
            const std::u16string& characters = words[(line + word) % std::size(words)];
            std::vector<WCHAR> glyphs;
            std::vector<INT> dx;
            for (char16_t c : characters) {
                const unsigned glyph = font->GlyphOf(c);
                glyphs.push_back(static_cast<WCHAR>(glyph));
                dx.push_back(static_cast<INT>(font->Advance(glyph) * 83 / font->UnitsPerEm()));
            }
            ExtTextOutW(dc, x, y, ETO_GLYPH_INDEX, nullptr, glyphs.data(), static_cast<UINT>(glyphs.size()), dx.data());
            for (INT advance : dx)
                x += advance;
            x += 25;
        }
        BeginPath(dc);
        MoveToEx(dc, 300, y + 20, nullptr);
        LineTo(dc, x, y + 20);
        EndPath(dc);
        StrokePath(dc);
    }
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(rule);
    DeleteObject(hfont);
}

void DrawFills(HDC dc, bool clipped)
{
    if (clipped) {
        BeginPath(dc);
        MoveToEx(dc, 200, 200, nullptr);
        const POINT box[] = {{4600, 200}, {4600, 6000}, {200, 6000}};
        PolylineTo(dc, box, 3);
        EndPath(dc);
        SelectClipPath(dc, RGN_AND);
    }
    HBRUSH brush = CreateSolidBrush(RGB(20, 40, 200));
    SelectObject(dc, brush);
    for (int i = 0; i < kFills; ++i) {
        const int x = 100 + (i % 50) * 90;
        const int y = 100 + (i / 50) * 150;
        BeginPath(dc);
        MoveToEx(dc, x, y, nullptr);
        const POINT box[] = {{x + 60, y}, {x + 60, y + 60}, {x, y + 60}};
        PolylineTo(dc, box, 3);
        EndPath(dc);
        FillPath(dc);
    }
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
}

struct Figures {
    double record = 0;
    double play = 0;
    std::uintmax_t metafileBytes = 0;
    std::uintmax_t pdfBytes = 0;
};

// Records a page drawn in printer dots at the screen's resolution, as the document path does, and
// prints it onto a job of its own.
Figures RunPage(const fs::path& root, int run, const std::function<void(HDC)>& draw)
{
    Figures figures;
    const fs::path emf = root / ("page-" + std::to_string(run) + ".emf");
    const Clock::time_point start = Clock::now();
    aio::printing::Emf page;
    page.StartRecordingToFile(emf.u16string());
    HDC recording = page.GetRecordingDC();
    page.MarkPageStart({}, {}, 1.0f);
    SetGraphicsMode(recording, GM_ADVANCED);
    const XFORM scale{static_cast<FLOAT>(kScreenDpi) / kDpi, 0, 0, static_cast<FLOAT>(kScreenDpi) / kDpi, 0, 0};
    SetWorldTransform(recording, &scale);
    draw(recording);
    page.MarkPageEnd();
    page.StopRecording();
    figures.record = Seconds(start);
    figures.metafileBytes = fs::file_size(emf);

    const Clock::time_point played = Clock::now();
    aio::printing::Emf loaded;
    loaded.LoadFromFile(emf.u16string());
    HDC printer = CreateDCW(u"", u"Quillon Office", nullptr, nullptr);
    const DOCINFOW info{20, u"bench", nullptr, nullptr, 0};
    const int job = StartDocW(printer, &info);
    SetGraphicsMode(printer, GM_ADVANCED);
    const XFORM toPrinter{static_cast<FLOAT>(kDpi) / kScreenDpi, 0, 0, static_cast<FLOAT>(kDpi) / kScreenDpi, 0, 0};
    SetWorldTransform(printer, &toPrinter);
    loaded.PlayWithRepair(printer);
    EndDoc(printer);
    DeleteDC(printer);
    figures.play = Seconds(played);
    figures.pdfBytes = fs::file_size(root / "var/spool/quillon/Quillon Office" / (std::to_string(job) + ".pdf"));
    return figures;
}

void Report(const char* name, const std::vector<Figures>& runs)
{
    std::vector<double> record, play;
    for (const Figures& figures : runs) {
        record.push_back(figures.record);
        play.push_back(figures.play);
    }
    std::printf("%-16s record %7.3f s   play and print %7.3f s   metafile %9ju bytes   PDF %9ju bytes\n", name,
                Median(record), Median(play), runs.front().metafileBytes, runs.front().pdfBytes);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path root = fs::temp_directory_path() / ("quillon-bench-vector-" + std::to_string(getpid()));
    fs::create_directories(root / "etc/quillon/printers");
    fs::copy_file(fs::path(QUILLON_SOURCE_DIR) / "printers/quillon-office.printer",
                  root / "etc/quillon/printers/quillon-office.printer");
    setenv("QUILLON_ROOT", root.c_str(), 1);
    const std::u16string face = RegisterFont();

    std::vector<Figures> text, clipped, unclipped;
    for (int run = 0; run < runs; ++run) {
        text.push_back(RunPage(root, run, [&](HDC dc) { DrawTextPage(dc, face); }));
        clipped.push_back(RunPage(root, run, [](HDC dc) { DrawFills(dc, true); }));
        unclipped.push_back(RunPage(root, run, [](HDC dc) { DrawFills(dc, false); }));
    }
    std::printf("%d lines of %d words (%d glyph runs) and %d fills, median of %d runs:\n", kLines, kWords,
                kLines * kWords, kFills, runs);
    Report("text page", text);
    Report("fills, one clip", clipped);
    Report("fills, no clip", unclipped);
    fs::remove_all(root);
    return 0;
}

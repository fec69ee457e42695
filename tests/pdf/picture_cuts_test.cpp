// Where a picture page is cut: the pieces handed out for synthetic page rasters, and a viewer that
// stretches every piece outward by a pixel of its own resolution, which must still show the page.
#include "plugins/pdf/picture_cuts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kInk = 0xFF000000u;

struct Raster {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    Raster(int w, int h) : width(w), height(h), pixels(std::size_t(w) * h, kWhite) {}
    std::uint32_t& At(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    void Fill(int x0, int y0, int x1, int y1, std::uint32_t colour)
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                At(x, y) = colour;
    }
};

struct Piece {
    int top, rows, left, columns;
    std::vector<std::uint32_t> pixels;
    bool operator==(const std::tuple<int, int, int, int>& place) const
    {
        return std::tie(top, rows, left, columns) == place;
    }
};

// Cuts a raster as the renderer does: bands of `bandRows` drawn where the cutter asks, each band a
// copy of the raster's rows. Fails the test on a cutter that stalls or fails.
std::vector<Piece> Cut(const Raster& raster, int bandRows, int dpi)
{
    pdf::PictureCutter cutter(raster.width, raster.height, bandRows, dpi, dpi);
    std::vector<Piece> pieces;
    std::vector<std::uint32_t> band(std::size_t(raster.width) * bandRows);
    int first = 0;
    while (first < raster.height) {
        const int rows = std::min(bandRows, raster.height - first);
        std::copy_n(raster.pixels.begin() + std::ptrdiff_t(first) * raster.width, std::size_t(rows) * raster.width,
                    band.begin());
        const int next = cutter.Take(first, rows, reinterpret_cast<const BYTE*>(band.data()), [&](const auto& piece) {
            Piece copy{piece.top, piece.rows, piece.left, piece.columns, {}};
            for (int y = 0; y < piece.rows; ++y)
                for (int x = 0; x < piece.columns; ++x)
                    copy.pixels.push_back(reinterpret_cast<const std::uint32_t*>(
                        piece.pixels + std::size_t(y) * piece.stride)[piece.left + x]);
            pieces.push_back(std::move(copy));
            return true;
        });
        EXPECT_GT(next, first);
        if (next <= first)
            break;
        first = next;
    }
    return pieces;
}

// The page as a viewer shows the pieces painted in order on white paper, each stretched outward by
// `stretch` rows and columns at every edge (its edge rows and columns repeated).
Raster View(const std::vector<Piece>& pieces, int width, int height, int stretch)
{
    Raster canvas(width, height);
    for (const Piece& piece : pieces) {
        for (int y = piece.top - stretch; y < piece.top + piece.rows + stretch; ++y) {
            for (int x = piece.left - stretch; x < piece.left + piece.columns + stretch; ++x) {
                if (y < 0 || y >= height || x < 0 || x >= width)
                    continue;
                const int py = std::clamp(y - piece.top, 0, piece.rows - 1);
                const int px = std::clamp(x - piece.left, 0, piece.columns - 1);
                canvas.At(x, y) = piece.pixels[std::size_t(py) * piece.columns + px];
            }
        }
    }
    return canvas;
}

TEST(PictureCuts, InkIsCutOutWithAMarginOfPaperAndPaperIsNotPainted)
{
    // 600 dpi: a pixel of a viewer at half size (50 dpi) is 12 rows, the margin two of them and a
    // row, 25; a cut needs 51 white rows.
    Raster page(300, 400);
    page.Fill(50, 30, 60, 40, kInk);     // a mark near the top
    page.Fill(40, 90, 180, 91, kInk);    // a rule 50 white rows below it: too close to cut
    page.Fill(100, 142, 101, 152, kInk); // 51 rows below the rule: a piece of its own
    page.Fill(0, 397, 1, 400, kInk);     // at the page's corner
    const std::vector<Piece> pieces = Cut(page, 400, 600);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], std::make_tuple(5, 111, 15, 190)); // rows 5..115, columns 15..204
    EXPECT_EQ(pieces[1], std::make_tuple(117, 60, 75, 51));
    EXPECT_EQ(pieces[2], std::make_tuple(372, 28, 0, 26));

    const Raster blank(200, 400);
    EXPECT_TRUE(Cut(blank, 100, 600).empty());
}

// Lines of letters `height` rows high every `pitch` rows, each with a thin rule 5 rows below it.
Raster Text(int pitch, int height)
{
    Raster text(300, 1500);
    for (int top = 40; top + height + 6 < 1500; top += pitch) {
        for (int x = 10; x < 290; x += 9)
            text.Fill(x, top, x + 5, top + height, kInk);
        text.Fill(10, top + height + 5, 290, top + height + 6, kInk);
    }
    return text;
}

// Pages whose ink runs across bands: every piece painted, each edge stretched by two pixels of a
// viewer, still shows exactly the page, for many band sizes. At 600 dpi two pixels are 12 rows at
// 100 dpi and 24 at half that.
TEST(PictureCuts, AViewerStretchingThePiecesStillShowsThePage)
{
    Raster shaded(300, 1500);
    // A grey panel taller than any band: rows repeat inside it, with rules across it.
    shaded.Fill(20, 100, 280, 1400, 0xFFC0C0C0u);
    for (int y = 150; y < 1400; y += 200)
        shaded.Fill(20, y, 280, y + 2, kInk);
    const std::vector<std::tuple<const char*, Raster, int>> cases = {
        // Dense text: 24 white rows between a rule and the next line, whole at 100 dpi.
        {"dense text at 100 dpi", Text(100, 70), 12},
        // Text with 40 rows between lines is whole at half size too.
        {"text at 50 dpi", Text(116, 70), 24},
        {"a shaded panel at 50 dpi", shaded, 24},
    };
    for (const auto& [name, page, stretch] : cases) {
        for (int bandRows : {256, 300, 333, 700, 1500}) {
            const std::vector<Piece> pieces = Cut(page, bandRows, 600);
            const Raster seen = View(pieces, page.width, page.height, stretch);
            EXPECT_TRUE(seen.pixels == page.pixels) << name << ", bands of " << bandRows;
        }
    }
}

TEST(PictureCuts, RowsThatNeverRepeatOverlapAcrossBands)
{
    // A photograph: every row differs. Pieces follow one another with an overlap of a gap's worth
    // of rows, drawn from identical rows of the page, and together cover every row.
    Raster photo(64, 1000);
    for (int y = 0; y < 1000; ++y)
        for (int x = 0; x < 64; ++x)
            photo.At(x, y) = 0xFF000000u | std::uint32_t(y * 64 + x);
    const std::vector<Piece> pieces = Cut(photo, 256, 600);
    ASSERT_GE(pieces.size(), 4u);
    EXPECT_EQ(pieces.front().top, 0);
    EXPECT_EQ(pieces.back().top + pieces.back().rows, 1000);
    for (std::size_t i = 1; i < pieces.size(); ++i)
        EXPECT_EQ(pieces[i - 1].top + pieces[i - 1].rows - pieces[i].top, 51) << i;
    for (const Piece& piece : pieces)
        for (int y = 0; y < piece.rows; ++y)
            EXPECT_EQ(piece.pixels[std::size_t(y) * 64], photo.At(0, piece.top + y));
}

TEST(PictureCuts, BandsThatDoNotFitThePageAreRefused)
{
    pdf::PictureCutter cutter(10, 100, 50, 600, 600);
    const std::vector<std::uint32_t> band(10 * 50, kWhite);
    const auto* pixels = reinterpret_cast<const BYTE*>(band.data());
    auto never = [](const pdf::PicturePiece&) { return true; };
    EXPECT_EQ(cutter.Take(0, 50, nullptr, never), -1);
    EXPECT_EQ(cutter.Take(-1, 50, pixels, never), -1);
    EXPECT_EQ(cutter.Take(0, 51, pixels, never), -1);
    EXPECT_EQ(cutter.Take(60, 50, pixels, never), -1);
    EXPECT_EQ(cutter.Take(50, 50, pixels, never), 100);
    // A painter that refuses a piece fails the page.
    std::vector<std::uint32_t> inked = band;
    inked[0] = kInk;
    EXPECT_EQ(cutter.Take(50, 50, reinterpret_cast<const BYTE*>(inked.data()),
                          [](const pdf::PicturePiece&) { return false; }),
              -1);
}

} // namespace

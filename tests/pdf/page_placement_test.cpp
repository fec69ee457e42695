// Where pages land in the bounds: fitted, centred, turned to match, stretched on request.
#include "plugins/pdf/page_placement.h"

#include <gtest/gtest.h>

namespace {

using pdf::PagePlacement;
using pdf::RenderOptions;

constexpr RenderOptions kTool{true, false, true, true};
constexpr RenderOptions kUnturned{true, false, true, false};
constexpr RenderOptions kStretched{true, true, true, true};

// Where a page point lands in pixels of the placed rectangle, to a millionth of a pixel.
void ExpectMaps(const PagePlacement& placement, double x, double y, double pixelX, double pixelY)
{
    double mappedX = 0;
    double mappedY = 0;
    placement.pageToPixels.Apply(x, y, mappedX, mappedY);
    EXPECT_NEAR(mappedX, pixelX, 1e-6);
    EXPECT_NEAR(mappedY, pixelY, 1e-6);
}

void ExpectRect(const PagePlacement& placement, int x, int y, int width, int height)
{
    EXPECT_EQ(placement.x, x);
    EXPECT_EQ(placement.y, y);
    EXPECT_EQ(placement.width, width);
    EXPECT_EQ(placement.height, height);
}

TEST(PagePlacement, LetterPageFillsALetterSheet)
{
    const auto placement = PagePlacement::Fit(612, 792, 5100, 6600, 600, 600, kTool);
    ASSERT_TRUE(placement);
    ExpectRect(*placement, 0, 0, 5100, 6600);
    EXPECT_FALSE(placement->turned);
    ExpectMaps(*placement, 612, 792, 5100.0, 6600.0);
    ExpectMaps(*placement, 306, 0, 2550.0, 0.0);
}

TEST(PagePlacement, OtherSizesKeepTheirProportionsAndAreCentred)
{
    // A4 on Letter: the height decides, the width shrinks to 8.27 × 11/11.69 inches.
    const auto a4 = PagePlacement::Fit(595.276, 841.89, 5100, 6600, 600, 600, kTool);
    ASSERT_TRUE(a4);
    ExpectRect(*a4, 216, 0, 4667, 6600);
    // A small page is enlarged until its width fills the sheet.
    const auto small = PagePlacement::Fit(100, 100, 5100, 6600, 600, 600, kTool);
    ASSERT_TRUE(small);
    ExpectRect(*small, 0, 750, 5100, 5100);
    ExpectMaps(*small, 100, 100, 5100.0, 5100.0);
}

TEST(PagePlacement, LandscapePagesTurnOntoPortraitBounds)
{
    const auto placement = PagePlacement::Fit(792, 612, 5100, 6600, 600, 600, kTool);
    ASSERT_TRUE(placement);
    ExpectRect(*placement, 0, 0, 5100, 6600);
    EXPECT_TRUE(placement->turned);
    // Counter-clockwise: the page's top edge runs up the left side of the sheet.
    ExpectMaps(*placement, 0, 0, 0.0, 6600.0);
    ExpectMaps(*placement, 792, 0, 0.0, 0.0);
    ExpectMaps(*placement, 0, 612, 5100.0, 6600.0);

    // And portrait pages onto landscape bounds.
    const auto portrait = PagePlacement::Fit(612, 792, 6600, 5100, 600, 600, kTool);
    ASSERT_TRUE(portrait);
    EXPECT_TRUE(portrait->turned);
    ExpectRect(*portrait, 0, 0, 6600, 5100);
    ExpectMaps(*portrait, 612, 0, 0.0, 0.0);
}

TEST(PagePlacement, UnturnedLandscapePagesShrinkInstead)
{
    const auto placement = PagePlacement::Fit(792, 612, 5100, 6600, 600, 600, kUnturned);
    ASSERT_TRUE(placement);
    EXPECT_FALSE(placement->turned);
    ExpectRect(*placement, 0, 1329, 5100, 3941);
}

TEST(PagePlacement, SquareShapesAreNeverTurned)
{
    const auto squarePage = PagePlacement::Fit(500, 500, 6600, 5100, 600, 600, kTool);
    ASSERT_TRUE(squarePage);
    EXPECT_FALSE(squarePage->turned);
    ExpectRect(*squarePage, 750, 0, 5100, 5100);
    const auto squareBounds = PagePlacement::Fit(792, 612, 3000, 3000, 600, 600, kTool);
    ASSERT_TRUE(squareBounds);
    EXPECT_FALSE(squareBounds->turned);
    ExpectRect(*squareBounds, 0, 341, 3000, 2318);
}

TEST(PagePlacement, ProportionsAreMeasuredInInchesOnNonSquareDots)
{
    // 600 × 300 dpi Letter bounds are wider in dots than high, yet portrait on paper.
    const auto placement = PagePlacement::Fit(612, 792, 5100, 3300, 600, 300, kTool);
    ASSERT_TRUE(placement);
    EXPECT_FALSE(placement->turned);
    ExpectRect(*placement, 0, 0, 5100, 3300);
    // A square page is square on paper: twice as many dots across as down.
    const auto square = PagePlacement::Fit(72, 72, 5100, 3300, 600, 300, kTool);
    ASSERT_TRUE(square);
    ExpectRect(*square, 0, 375, 5100, 2550);
}

TEST(PagePlacement, StretchingFillsTheBounds)
{
    const auto placement = PagePlacement::Fit(100, 300, 5100, 6600, 600, 600, kStretched);
    ASSERT_TRUE(placement);
    ExpectRect(*placement, 0, 0, 5100, 6600);
    ExpectMaps(*placement, 100, 300, 5100.0, 6600.0);
    const auto turned = PagePlacement::Fit(300, 100, 5100, 6600, 600, 600, kStretched);
    ASSERT_TRUE(turned);
    EXPECT_TRUE(turned->turned);
    ExpectMaps(*turned, 300, 100, 5100.0, 0.0);
}

TEST(PagePlacement, NothingFitsIntoNothing)
{
    EXPECT_FALSE(PagePlacement::Fit(0, 792, 5100, 6600, 600, 600, kTool));
    EXPECT_FALSE(PagePlacement::Fit(612, -1, 5100, 6600, 600, 600, kTool));
    EXPECT_FALSE(PagePlacement::Fit(612, 792, 0, 6600, 600, 600, kTool));
    EXPECT_FALSE(PagePlacement::Fit(612, 792, 5100, 6600, 600, 0, kTool));
    EXPECT_FALSE(PagePlacement::Fit(1e-320, 1e-320, 5100, 6600, 600, 600, kTool));
    // The thinnest page still gets one unit.
    const auto thin = PagePlacement::Fit(612, 1e-6, 5100, 6600, 600, 600, kUnturned);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->height, 1);
}

} // namespace

// The boxes inside the shapes opaque paint fills, and the pixels they spare a region.
#include "plugins/pdf/page_covers.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace pdf_test {
namespace {

using Polygon = std::vector<std::pair<double, double>>;

// A box with round corners of radius r, its curves followed by chords, as a rounded frame is filled.
Polygon RoundedBox(double x0, double y0, double x1, double y1, double r)
{
    Polygon points;
    const double centres[4][2] = {{x1 - r, y0 + r}, {x1 - r, y1 - r}, {x0 + r, y1 - r}, {x0 + r, y0 + r}};
    for (int corner = 0; corner < 4; ++corner) {
        for (int step = 0; step <= 8; ++step) {
            const double angle = (corner - 1) * M_PI / 2 + step * M_PI / 16;
            points.push_back({centres[corner][0] + r * std::cos(angle), centres[corner][1] + r * std::sin(angle)});
        }
    }
    return points;
}

TEST(PageCovers, AClipIsABoxOnlyWhenItsCornersAreTheBoxsJoinedAlongTheAxes)
{
    EXPECT_TRUE(pdf::IsBox(Polygon{{0, 0}, {10, 0}, {10, 5}, {0, 5}}));
    // Closed where it began, and drawn the other way round.
    EXPECT_TRUE(pdf::IsBox(Polygon{{0, 0}, {0, 5}, {10, 5}, {10, 0}, {0, 0}}));
    // A square turned, a line there and back, a box with a corner cut, a flat box.
    EXPECT_FALSE(pdf::IsBox(Polygon{{5, 0}, {10, 5}, {5, 10}, {0, 5}}));
    EXPECT_FALSE(pdf::IsBox(Polygon{{0, 0}, {10, 0}, {10, 5}, {10, 0}}));
    EXPECT_FALSE(pdf::IsBox(Polygon{{0, 0}, {10, 0}, {10, 5}, {1, 5}, {0, 4}}));
    EXPECT_FALSE(pdf::IsBox(Polygon{{0, 0}, {10, 0}, {10, 0}, {0, 0}}));
    EXPECT_FALSE(pdf::IsBox(Polygon{{0, 0}, {NAN, 0}, {10, 5}, {0, 5}}));
}

TEST(PageCovers, AConvexShapeHasTheBoxInsideItOthersNone)
{
    auto inside = [](const Polygon& polygon, const pdf::PageArea& box) {
        // Every corner of the box lies inside each side of the polygon, drawn counter-clockwise in y up.
        for (const auto& [x, y] : {std::pair{box.x0, box.y0}, {box.x1, box.y0}, {box.x0, box.y1}, {box.x1, box.y1}}) {
            for (std::size_t i = 0; i < polygon.size(); ++i) {
                const auto& a = polygon[i];
                const auto& b = polygon[(i + 1) % polygon.size()];
                if ((b.first - a.first) * (y - a.second) - (b.second - a.second) * (x - a.first) < -1e-9)
                    return false;
            }
        }
        return true;
    };
    const std::optional<pdf::PageArea> box = pdf::BoxInside(Polygon{{0, 0}, {200, 0}, {200, 100}, {0, 100}});
    ASSERT_TRUE(box);
    EXPECT_EQ(box->x0, 0);
    EXPECT_EQ(box->y1, 100);
    // A rounded box gives up only a little of each round corner.
    const Polygon rounded = RoundedBox(0, 0, 200, 100, 8);
    const std::optional<pdf::PageArea> shrunk = pdf::BoxInside(rounded);
    ASSERT_TRUE(shrunk);
    EXPECT_TRUE(inside(rounded, *shrunk));
    EXPECT_GT(shrunk->x0, 8 * (1 - std::sqrt(0.5)) - 1e-9);
    EXPECT_LT(shrunk->x0, 4);
    EXPECT_LT(shrunk->y1 - shrunk->y0, 100);
    EXPECT_GT(shrunk->y1 - shrunk->y0, 92);
    // A triangle has a smaller box inside it.
    const Polygon triangle{{0, 0}, {100, 0}, {50, 80}};
    const std::optional<pdf::PageArea> inTriangle = pdf::BoxInside(triangle);
    ASSERT_TRUE(inTriangle);
    EXPECT_TRUE(inside(triangle, *inTriangle));
    // A shape bent inwards, a bow tie, a star drawn in one line (its turns all one way, twice
    // round), a line and too many points have none.
    EXPECT_FALSE(pdf::BoxInside(Polygon{{0, 0}, {100, 0}, {100, 100}, {50, 20}, {0, 100}}));
    EXPECT_FALSE(pdf::BoxInside(Polygon{{0, 0}, {100, 100}, {100, 0}, {0, 100}}));
    Polygon star;
    for (int i = 0; i < 5; ++i)
        star.push_back({100 * std::cos(i * 4 * M_PI / 5), 100 * std::sin(i * 4 * M_PI / 5)});
    EXPECT_FALSE(pdf::BoxInside(star));
    EXPECT_FALSE(pdf::BoxInside(Polygon{{0, 0}, {100, 100}, {50, 50}}));
    auto circle = [](std::size_t points) {
        Polygon out;
        for (std::size_t i = 0; i < points; ++i)
            out.push_back({100 * std::cos(2 * M_PI * i / points), 100 * std::sin(2 * M_PI * i / points)});
        return out;
    };
    EXPECT_TRUE(pdf::BoxInside(circle(pdf::kMaxCoverPoints)));
    EXPECT_FALSE(pdf::BoxInside(circle(pdf::kMaxCoverPoints + 1)));
}

TEST(PageCovers, ACoverSparesItsWholePixelsLessTheMarginOnPagesTurnedByQuarters)
{
    pdf::PagePlacement placement;
    placement.width = 600;
    placement.height = 800;
    placement.pageToPixels = pdf::Matrix{2, 0, 0, 2, 0, 0};
    auto rects = [&](const std::vector<pdf::PageArea>& covers) {
        std::vector<std::array<int, 4>> out;
        for (const pdf::RegionRect& r : pdf::CoveredRectangles(covers, placement, 3))
            out.push_back({r.left, r.top, r.width, r.height});
        return out;
    };
    using Rects = std::vector<std::array<int, 4>>;
    // 10.2 to 50.7 points are pixels 20.4 to 101.4: whole ones 21 to 101, less 3 each side.
    EXPECT_EQ(rects({{10.2, 20, 50.7, 40}}), (Rects{{24, 43, 74, 34}}));
    // Cut to the raster; one smaller than its margins is left out.
    EXPECT_EQ(rects({{-10, -10, 20, 20}, {100, 100, 102, 200}}), (Rects{{0, 0, 37, 37}}));
    // A quarter turn keeps boxes boxes; a slant does not.
    placement.pageToPixels = pdf::Matrix{0, 1, -1, 0, 600, 0};
    EXPECT_EQ(rects({{10, 20, 50, 40}}), (Rects{{563, 13, 14, 34}}));
    placement.pageToPixels = pdf::Matrix{1, 0.1, 0, 1, 0, 0};
    EXPECT_TRUE(rects({{10, 20, 50, 40}}).empty());
}

} // namespace
} // namespace pdf_test

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <cmath>
#include <limits>
#include <vector>

#include "quro/match/subpixel/segment_walk.h"

namespace {

using Cells = std::vector<cv::Point>;

Cells walk(int count, float fx, float fy, float dx, float dy) {
    Cells pts = {{99, 99}};  // replaced, not appended to
    quro::rasterize_segment(count, pts, fx, fy, dx, dy);
    return pts;
}

TEST(SegmentWalk, AxisRayFromTheCentre) {
    EXPECT_EQ(walk(3, 0.f, 0.f, 1.f, 0.f), (Cells{{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(walk(3, 0.f, 0.f, 0.f, -2.f), (Cells{{0, 0}, {0, -1}, {0, -2}}));
}

TEST(SegmentWalk, DiagonalThroughCornersStepsDiagonally) {
    EXPECT_EQ(walk(3, 0.f, 0.f, 1.f, 1.f), (Cells{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_EQ(walk(3, 0.f, 0.f, -1.f, 1.f), (Cells{{0, 0}, {-1, 1}, {-2, 2}}));
}

TEST(SegmentWalk, ShallowRayEntersEveryCellItCrosses) {
    EXPECT_EQ(walk(6, 0.f, 0.f, 1.f, 0.5f),
              (Cells{{0, 0}, {1, 0}, {1, 1}, {2, 1}, {3, 1}, {3, 2}}));
    EXPECT_EQ(walk(6, 0.f, 0.f, -1.f, -0.5f),
              (Cells{{0, 0}, {-1, 0}, {-1, -1}, {-2, -1}, {-3, -1}, {-3, -2}}));
    EXPECT_EQ(walk(6, 0.f, 0.f, 0.5f, 1.f),
              (Cells{{0, 0}, {0, 1}, {1, 1}, {1, 2}, {1, 3}, {2, 3}}));
}

TEST(SegmentWalk, NonPositiveCounts) {
    EXPECT_EQ(walk(0, 0.f, 0.f, 1.f, 0.f), (Cells{{0, 0}}));
    EXPECT_TRUE(walk(-1, 0.f, 0.f, 1.f, 0.f).empty());
}

// Reference traversal in double: the cells a ray enters, crossing one grid line at a time.
Cells reference_walk(int count, double fx, double fy, double dx, double dy) {
    Cells out = {{0, 0}};
    int x = 0, y = 0;
    const int sx = dx > 0 ? 1 : -1, sy = dy > 0 ? 1 : -1;
    double tx = dx != 0 ? (sx * 0.5 - fx) / dx : INFINITY;
    double ty = dy != 0 ? (sy * 0.5 - fy) / dy : INFINITY;
    const double stepx = dx != 0 ? 1.0 / std::abs(dx) : INFINITY;
    const double stepy = dy != 0 ? 1.0 / std::abs(dy) : INFINITY;
    while (static_cast<int>(out.size()) < count) {
        if (tx < ty) {
            x += sx;
            tx += stepx;
        } else {
            y += sy;
            ty += stepy;
        }
        out.emplace_back(x, y);
    }
    return out;
}

// Distance along the ray's normal from the nearest pixel corner crossed: a ray that passes very
// close to a corner may be resolved either way by different rounding.
bool grazes_a_corner(const Cells& cells, double fx, double fy, double dx, double dy) {
    const double len = std::hypot(dx, dy);
    for (const cv::Point& p : cells)
        for (double cx : {p.x - 0.5, p.x + 0.5})
            for (double cy : {p.y - 0.5, p.y + 0.5})
                if (std::abs((cx - fx) * dy - (cy - fy) * dx) / len < 1e-4) return true;
    return false;
}

TEST(SegmentWalk, AgreesWithAGridTraversalOnRandomRays) {
    cv::RNG rng(17);
    int compared = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int count = rng.uniform(1, 25);
        const float fx = rng.uniform(-0.5f, 0.5f), fy = rng.uniform(-0.5f, 0.5f);
        const double phi = rng.uniform(0.0, 6.283185307179586);
        const float dx = static_cast<float>(std::cos(phi)), dy = static_cast<float>(std::sin(phi));
        const Cells got = walk(count, fx, fy, dx, dy);
        const Cells ref = reference_walk(count, fx, fy, dx, dy);
        if (grazes_a_corner(ref, fx, fy, dx, dy)) continue;
        ASSERT_EQ(got, ref) << "count " << count << " from (" << fx << ", " << fy << ") along ("
                            << dx << ", " << dy << ")";
        ++compared;
    }
    EXPECT_GT(compared, 2900);
}

TEST(SegmentWalk, NeverListsMoreThanCountPlusOneCellsWhateverTheInput) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float odd[] = {0.f, 0.5f, -0.5f, 3.f, -7.f, 1e30f, -1e30f, inf, -inf, nan};
    for (int count : {0, 1, 2, 7}) {
        for (float f1 : odd)
            for (float f2 : odd)
                for (float d1 : odd)
                    for (float d2 : {0.f, 1.f, -0.3f, 1e30f, nan}) {
                        const Cells a = walk(count, f1, f2, d1, d2);
                        const Cells b = walk(count, f2, f1, d2, d1);
                        ASSERT_LE(a.size(), static_cast<std::size_t>(count) + 1);
                        ASSERT_LE(b.size(), static_cast<std::size_t>(count) + 1);
                    }
    }
}

}  // namespace

// Feature cells of a model level and the k-nearest-neighbour lists of its sampled points.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "quro/match/refine/feature_cells.h"
#include "quro/match/order_utils.h"
#include "testing/records.h"

namespace {

using quro::Feature;
using quro_test::record_with_levels;

std::vector<Feature> points(std::initializer_list<std::pair<float, float>> xy) {
    std::vector<Feature> out;
    for (const auto& p : xy) out.emplace_back(p.first, p.second, 1.f, 0.f);
    return out;
}

TEST(FeatureCells, FarthestPointsLandInTheOuterColumnsAndRows) {
    // o = 9 + 1 = 10; the grid spans -10 .. 10.
    const auto rec = record_with_levels({points({{9.f, 0.f}, {-9.f, 0.f}, {0.f, 9.f}, {0.f, -9.f}})});
    for (int P : {1, 2, 3, 5, 7, 19}) {
        std::vector<int> cells;
        quro::feature_cell_index(rec, 1, P, cells);
        ASSERT_EQ(cells.size(), 5u);
        const int mid = P * (P / 2);  // row of y = 0 (middle row)
        EXPECT_EQ(cells[0], P * (P / 2) + P - 1) << "x = o - 1 -> last column, P " << P;
        EXPECT_EQ(cells[1], mid) << "x = -(o - 1) -> column 0, P " << P;
        EXPECT_EQ(cells[2], P * (P - 1) + P / 2) << "y = o - 1 -> last row, P " << P;
        EXPECT_EQ(cells[3], P / 2) << "y = -(o - 1) -> row 0, P " << P;
        EXPECT_EQ(cells[4], P * P);
    }
}

TEST(FeatureCells, TwoByTwoGridGivesTheQuadrants) {
    const auto rec = record_with_levels(
        {points({{-3.f, -4.f}, {5.f, -1.f}, {-2.f, 6.f}, {1.f, 2.f}, {-7.f, 0.5f}})});
    std::vector<int> cells{42, 42, 42, 42, 42, 42, 42, 42, 42};  // longer than needed
    quro::feature_cell_index(rec, 1, 2, cells);
    EXPECT_EQ(cells, (std::vector<int>{0, 1, 2, 3, 2, 4}));
}

TEST(FeatureCells, TopLevelTakesAllPointsAndOneLevelLowerEverySecond) {
    // Level 1: points on a diagonal from -9 to 9, each in its own cell of a 19 x 19 grid.
    std::vector<Feature> fine;
    for (int i = -9; i <= 9; ++i) fine.emplace_back(float(i), float(i), 1.f, 0.f);
    std::vector<Feature> coarse;
    for (int i = -4; i <= 4; ++i) coarse.emplace_back(float(i), float(-i), 1.f, 0.f);
    const auto rec = record_with_levels({fine, coarse});
    std::vector<int> cells;
    quro::feature_cell_index(rec, 2, 9, cells);  // o = 5, cells of size 10/9
    ASSERT_EQ(cells.size(), coarse.size() + 1);
    for (std::size_t i = 0; i < coarse.size(); ++i) {
        const int col = int(i), row = 8 - int(i);
        EXPECT_EQ(cells[i], 9 * row + col) << i;
    }
    quro::feature_cell_index(rec, 1, 19, cells);  // o = 10, cells of size 20/19
    ASSERT_EQ(cells.size(), 10u + 1);             // indices 0, 2, ..., 18
    for (std::size_t i = 0; i < 10; ++i) {
        const int c = int(2 * i);
        EXPECT_EQ(cells[i], 19 * c + c) << i;
    }
    EXPECT_EQ(cells.back(), 19 * 19);
}

TEST(FeatureCells, HalfExtentCountsPointsThatAreNotSampled) {
    // Point 1 (never sampled on level 1 of two) sets o = 31; without it o would be 3.
    const auto rec = record_with_levels(
        {points({{2.f, 0.f}, {30.f, 0.f}, {-2.f, 0.f}}), points({{1.f, 0.f}})});
    EXPECT_FLOAT_EQ(quro::feature_half_extent(rec, 1), 31.f);
    std::vector<int> cells;
    quro::feature_cell_index(rec, 1, 2, cells);
    EXPECT_EQ(cells, (std::vector<int>{3, 2, 4}));
}

TEST(FeatureCells, CoordinatesThatAreNotNumbersStayInsideTheGrid) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto rec = record_with_levels({points({{nan, 1.f}, {2.f, nan}, {-3.f, 3.f}})});
    std::vector<int> cells;
    quro::feature_cell_index(rec, 1, 4, cells);
    ASSERT_EQ(cells.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GE(cells[i], 0);
        EXPECT_LT(cells[i], 16);
    }
}

TEST(FeatureCells, EmptyLevelHasOnlyTheLastEntry) {
    const auto rec = record_with_levels({{}});
    std::vector<int> cells{1, 2, 3};
    quro::feature_cell_index(rec, 1, 3, cells);
    EXPECT_EQ(cells, (std::vector<int>{9}));
}

TEST(FeatureCells, RejectsBadGridSizes) {
    const auto rec = record_with_levels({points({{1.f, 1.f}})});
    std::vector<int> cells;
    EXPECT_THROW(quro::feature_cell_index(rec, 1, 0, cells), cv::Exception);
    EXPECT_THROW(quro::feature_cell_index(rec, 1, 50000, cells), cv::Exception);
    quro::FeatureGrid grid{};
    EXPECT_THROW(quro::feature_neighbours(rec, grid, 1, 0, 3, cells, 0), cv::Exception);
}

TEST(FeatureCells, StableOrderGroupsThePointsOfEachCell) {
    const auto rec = record_with_levels(
        {points({{3.f, 3.f}, {-3.f, -3.f}, {2.f, 2.f}, {-2.f, -1.f}, {3.f, -3.f}})});
    std::vector<int> cells;
    quro::feature_cell_index(rec, 1, 2, cells);
    const std::vector<int> order = quro::argsort_int(cells);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 4, 0, 2, 5}));  // the last entry sorts last
}

TEST(FeatureNeighbours, MoreNeighboursThanPointsListsAllNearestFirstThenZeros) {
    const auto rec = record_with_levels({points({{0.f, 0.f}, {1.f, 0.f}, {3.f, 0.f}, {7.f, 0.f}})});
    quro::FeatureGrid grid{};
    std::vector<int> nb(100, -7);  // a reused list with other contents
    quro::feature_neighbours(rec, grid, 1, 4, 6, nb, 0);
    const std::vector<int> want = {0, 1, 2, 3, 0, 0,  //
                                   1, 0, 2, 3, 0, 0,  //
                                   2, 1, 0, 3, 0, 0,  //
                                   3, 2, 1, 0, 0, 0};
    EXPECT_EQ(nb, want);
    EXPECT_EQ(grid.step, 1);
    EXPECT_EQ(grid.grid_size, 4);
    EXPECT_EQ(grid.count, 4);
    EXPECT_EQ(grid.one, 1);
    EXPECT_FLOAT_EQ(grid.half_extent, 8.f);
    EXPECT_FLOAT_EQ(grid.cell_size, 4.f);
}

TEST(FeatureNeighbours, PointComesFirstAmongItsDuplicates) {
    // Points 0 to 3 coincide; with k = 3 point 3 would get none of the places by index order.
    const auto rec = record_with_levels(
        {points({{5.f, 5.f}, {5.f, 5.f}, {5.f, 5.f}, {5.f, 5.f}, {6.f, 5.f}})});
    quro::FeatureGrid grid{};
    std::vector<int> nb;
    quro::feature_neighbours(rec, grid, 1, 2, 3, nb, 0);
    ASSERT_EQ(nb.size(), 15u);
    EXPECT_EQ(std::vector<int>(nb.begin(), nb.begin() + 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(std::vector<int>(nb.begin() + 3, nb.begin() + 6), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(std::vector<int>(nb.begin() + 6, nb.begin() + 9), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(std::vector<int>(nb.begin() + 9, nb.begin() + 12), (std::vector<int>{3, 0, 1}));
    EXPECT_EQ(std::vector<int>(nb.begin() + 12, nb.begin() + 15), (std::vector<int>{4, 0, 1}));
}

TEST(FeatureNeighbours, TiesAtTheLastPlaceGoToTheLowerIndices) {
    // A centre (index 6) with eight points at distance 1 or sqrt 2 around it, listed in an order
    // that a tree would not visit them in.
    const auto rec = record_with_levels({points({{1.f, 1.f},
                                                 {0.f, 1.f},
                                                 {-1.f, 0.f},
                                                 {1.f, -1.f},
                                                 {0.f, -1.f},
                                                 {-1.f, -1.f},
                                                 {0.f, 0.f},
                                                 {1.f, 0.f},
                                                 {-1.f, 1.f}})});
    quro::FeatureGrid grid{};
    std::vector<int> nb;
    for (int k = 1; k <= 9; ++k) {
        quro::feature_neighbours(rec, grid, 1, 2, k, nb, 0);
        const std::vector<int> all = {6, 1, 2, 4, 7, 0, 3, 5, 8};  // distance, then index
        const std::vector<int> want(all.begin(), all.begin() + k);
        EXPECT_EQ(std::vector<int>(nb.begin() + 6 * k, nb.begin() + 7 * k), want) << "k " << k;
    }
}

TEST(FeatureNeighbours, AgreesWithBruteForceOnRandomPoints) {
    cv::RNG rng(77);
    std::vector<Feature> pts;
    for (int i = 0; i < 400; ++i)
        pts.emplace_back(rng.uniform(-60.f, 60.f), rng.uniform(-40.f, 40.f), 1.f, 0.f);
    const auto rec = record_with_levels({pts, pts, pts});  // level 1 of 3: every fourth point
    const int k = 7;
    quro::FeatureGrid grid{};
    std::vector<int> nb;
    quro::feature_neighbours(rec, grid, 1, 5, k, nb, 0);
    ASSERT_EQ(grid.step, 4);
    ASSERT_EQ(grid.count, 100);
    ASSERT_EQ(nb.size(), std::size_t(k) * 100);
    for (int i = 0; i < 100; ++i) {
        std::vector<int> idx(100);
        std::iota(idx.begin(), idx.end(), 0);
        const auto d2 = [&](int j) {
            const float dx = pts[4 * j].x - pts[4 * i].x, dy = pts[4 * j].y - pts[4 * i].y;
            return dx * dx + dy * dy;
        };
        std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return d2(a) < d2(b); });
        for (int q = 0; q < k; ++q) ASSERT_EQ(nb[std::size_t(k * i + q)], idx[q]) << i << "," << q;
    }
}

TEST(FeatureNeighbours, StepArgumentChoosesTheSampling) {
    std::vector<Feature> pts;
    for (int i = 0; i < 20; ++i) pts.emplace_back(float(i), 0.f, 1.f, 0.f);
    const auto rec = record_with_levels({pts, pts, pts});
    quro::FeatureGrid grid{};
    std::vector<int> nb;
    quro::feature_neighbours(rec, grid, 2, 2, 2, nb, 3);  // step 3: points 0, 3, ..., 18
    EXPECT_EQ(grid.step, 3);
    EXPECT_EQ(grid.count, 7);
    quro::feature_neighbours(rec, grid, 2, 2, 2, nb, 0);  // 2^(3 - 2)
    EXPECT_EQ(grid.step, 2);
    EXPECT_EQ(grid.count, 10);
    quro::feature_neighbours(rec, grid, 2, 2, 2, nb, -1);  // 2^(3 - 2 + 1)
    EXPECT_EQ(grid.step, 4);
    EXPECT_EQ(grid.count, 5);
    ASSERT_EQ(nb.size(), 10u);
    EXPECT_EQ(nb[2], 1);  // point 1 (x = 4): itself, then point 0 (x = 0) before point 2 (x = 8)
    EXPECT_EQ(nb[3], 0);
}

TEST(FeatureNeighbours, NoNeighboursAskedOrNoPointsGiveAnEmptyList) {
    const auto rec = record_with_levels({points({{1.f, 2.f}, {3.f, 4.f}})});
    quro::FeatureGrid grid{};
    std::vector<int> nb{1, 2, 3};
    quro::feature_neighbours(rec, grid, 1, 2, 0, nb, 0);
    EXPECT_TRUE(nb.empty());
    EXPECT_EQ(grid.count, 2);
    const auto empty = record_with_levels({{}});
    nb = {4};
    quro::feature_neighbours(empty, grid, 1, 2, 3, nb, 0);
    EXPECT_TRUE(nb.empty());
    EXPECT_EQ(grid.count, 0);
    EXPECT_FLOAT_EQ(grid.half_extent, 1.f);
}

}  // namespace

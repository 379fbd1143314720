#include <gtest/gtest.h>

#include <cmath>

#include "TiledSearch.h"

namespace {

// Image side and model side, tile starts, tile ends.
const std::vector<int> kGrids[][3] = {{{1280, 100}, {0, 540}, {640, 1280}},
                                      {{1000, 10}, {0, 490}, {500, 1000}},
                                      {{1925, 700}, {0, 0, 584}, {642, 1284, 1925}},
                                      {{950, 50}, {0}, {950}},
                                      {{300, 50}, {0}, {300}}};

TEST(TiledSearch, TilesOfAbout640OverlapByTheModelSideAndNeverVanish) {
    for (const auto& c : kGrids) {
        const tessolin::TileGrid g = tessolin::MakeTileGrid({c[0][0], 9}, {c[0][1], 2});
        const tessolin::TileGrid t = tessolin::MakeTileGrid({9, c[0][0]}, {2, c[0][1]});
        EXPECT_TRUE(g.columns.starts == c[1] && g.columns.ends == c[2]) << c[0][0];
        EXPECT_TRUE(t.rows.starts == c[1] && t.rows.ends == c[2]) << c[0][0];
    }
}

TEST(TiledSearch, OnlyListedMatchesRemoveLaterOnesWithinAtLeastHalfAPixel) {
    for (float d : {2.5f, 0.1f, NAN}) {  // 12 is a duplicate of 10; 13.9 only of 12, gone by then
        const float step = d == 2.5f ? 2.f : 0.5f;
        std::vector<quro::Match> list;
        for (float x : {10.f, 10 + step, 9.9f + 2 * step}) {
            list.emplace_back(10, 7, 1.f - x / 100);
            list.back().dx = x - 10;  // x + dx counts
        }
        tessolin::RemoveDuplicateMatches(list, d);
        EXPECT_TRUE(list.size() == 2 && list[1].dx > step) << d;
    }
}

}  // namespace

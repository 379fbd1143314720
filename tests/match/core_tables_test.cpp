#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "quro/match/core_tables.h"

namespace {

// What the table promises, not how it is built: the response depends on the circular distance of
// the two directions alone, falls as they part, and runs from 4 (equal or neighbouring) to -4
// (opposite or next to it).
TEST(CoreTables, SimilarityFallsWithCircularDistance) {
    const auto& sim = quro::core_tables().similarity;
    auto distance = [](int r, int c) { return std::min(std::abs(r - c), 16 - std::abs(r - c)); };
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            const int d = distance(r, c);
            EXPECT_EQ(sim[r][c], sim[0][d]) << r << "," << c;
            if (d > 0) {
                EXPECT_LE(sim[r][c], sim[0][d - 1]) << r << "," << c;
            }
        }
    }
    EXPECT_EQ(sim[0][1], 4);
    EXPECT_EQ(sim[0][7], -4);
}

}  // namespace

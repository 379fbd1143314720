#include <gtest/gtest.h>

#include <cstdlib>

#include "quro/library_start.h"
#include "quro/match/core_tables.h"

namespace {

TEST(CoreTables, SimilarityFollowsCircularDistanceAndIsSymmetric) {
    quro::ensure_library_started();
    const auto& t = quro::core_tables();
    const int expected[9] = {4, 4, 1, 0, 0, 0, -1, -4, -4};
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            const int d = std::min(std::abs(r - c), 16 - std::abs(r - c));
            EXPECT_EQ(t.similarity[r][c], expected[d]) << r << "," << c;
            EXPECT_EQ(t.similarity[r][c], t.similarity[c][r]);
        }
    }
    EXPECT_EQ(&quro::core_tables(), &t);  // built once
}

}  // namespace

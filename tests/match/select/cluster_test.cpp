#include "quro/match/select/cluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/order_utils.h"
#include "testing/polygon_model.h"

namespace {

using quro::Match;

Match cand(int x, int y, float score, float angle, float scale_row = 1.f, float scale_col = 1.f,
           int model_id = 0) {
    return Match(x, y, score, angle, scale_row, scale_col, model_id, 1);
}

bool same_match(const Match& a, const Match& b) {
    return a.x == b.x && a.y == b.y && a.score == b.score && a.angle == b.angle &&
           a.scale_row == b.scale_row && a.scale_col == b.scale_col && a.model_id == b.model_id &&
           a.flag == b.flag;
}

// Plain clustering as first written down: a map from the key y * w + x to the pixel's list, the
// offsets -w, 1-w, 1, w+1, w, w-1, -1, -w-1, maxima by a stable ascending argsort taken from
// the back (collected in descending key order, so equal maxima come out in ascending key
// order). Valid for candidates away from the left and right image columns only.
std::vector<Match> reference_cluster(const std::vector<Match>& c, int w, float step) {
    std::map<std::int64_t, std::vector<Match>> lists;
    std::map<std::int64_t, float> best;
    for (const Match& m : c) {
        const std::int64_t key = static_cast<std::int64_t>(m.y) * w + m.x;
        lists[key].push_back(m);
        auto it = best.emplace(key, 0.f).first;
        if (m.score > it->second) it->second = m.score;
    }
    const std::int64_t offsets[8] = {-w, 1 - w, 1, w + 1, w, w - 1, -1, -w - 1};
    std::vector<std::int64_t> maxima;
    std::vector<float> maxima_best;
    for (auto it = best.rbegin(); it != best.rend(); ++it) {
        bool is_max = true;
        for (const std::int64_t o : offsets) {
            const auto nb = best.find(it->first + o);
            if (nb != best.end() && nb->second > it->second) is_max = false;
        }
        if (is_max) {
            maxima.push_back(it->first);
            maxima_best.push_back(it->second);
        }
    }
    const std::vector<int> order = quro::argsort_float(maxima_best);
    std::vector<Match> out;
    for (auto k = order.size(); k-- > 0;) {
        const std::int64_t key = maxima[static_cast<std::size_t>(order[k])];
        std::vector<Match> g;
        const auto gather = [&](std::int64_t p) {
            const auto it = lists.find(p);
            if (it == lists.end()) return;
            g.insert(g.end(), it->second.begin(), it->second.end());
            it->second.clear();
        };
        gather(key);
        for (const std::int64_t o : offsets) gather(key + o);
        std::stable_sort(g.begin(), g.end(),
                         [](const Match& a, const Match& b) { return a.score > b.score; });
        const float o = best[key];
        std::vector<Match> kept;
        for (std::size_t i = 0; i < g.size(); ++i) {
            if (i > 0) {
                if ((o - g[i].score) / o > 0.2) continue;
                bool repeat = false;
                for (const Match& k2 : kept) {
                    float d = g[i].angle - k2.angle;
                    while (d > 180.f) d -= 360.f;
                    while (d <= -180.f) d += 360.f;
                    if (std::abs(d) < 2.5f * step) repeat = true;
                }
                if (repeat) continue;
            }
            kept.push_back(g[i]);
        }
        out.insert(out.end(), kept.begin(), kept.end());
    }
    return out;
}

// The candidates clustered on a level 20 pixels wide with angle step `step`, no group limit.
std::vector<Match> clustered(std::vector<Match> c, float step = 1.f) {
    quro::cluster_candidates(c, step, 0);
    return c;
}

TEST(Cluster, SingleCandidatePassesUnchanged) {
    std::vector<Match> c{cand(7, 3, 0.42f, 12.5f, 1.1f, 0.9f, 4)};
    const Match before = c[0];
    quro::cluster_candidates(c, 2.f, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_TRUE(same_match(c[0], before));
    EXPECT_EQ(c[0].dx, 0.f);
}

TEST(Cluster, EmptyListStaysEmpty) {
    std::vector<Match> c;
    quro::cluster_candidates(c, 2.f, 0);
    EXPECT_TRUE(c.empty());
}

TEST(Cluster, SamePixelRepeatsWithinTwoAndAHalfSteps) {
    const float step = 2.f;
    const std::vector<Match> close =
        clustered({cand(5, 5, 0.85f, 10.f + 1.5f * step), cand(5, 5, 0.9f, 10.f)}, step);
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].score, 0.9f);

    const std::vector<Match> apart =
        clustered({cand(5, 5, 0.85f, 10.f + 3.f * step), cand(5, 5, 0.9f, 10.f)}, step);
    ASSERT_EQ(apart.size(), 2u);
    EXPECT_EQ(apart[0].score, 0.9f);
    EXPECT_EQ(apart[1].score, 0.85f);
}

TEST(Cluster, AnglesRepeatAcrossTheWrap) {
    const std::vector<Match> c = clustered({cand(5, 5, 0.9f, 359.f), cand(5, 5, 0.88f, 1.f)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].angle, 359.f);
    // 3 degrees apart is beyond 2.5 steps of 1 degree.
    EXPECT_EQ(clustered({cand(5, 5, 0.9f, 359.f), cand(5, 5, 0.88f, 2.f)}).size(), 2u);
}

TEST(Cluster, NeighbourFarBelowTheMaximumIsErased) {
    const std::vector<Match> low = clustered({cand(5, 5, 0.8f, 0.f), cand(6, 5, 0.6f, 90.f)});
    ASSERT_EQ(low.size(), 1u);  // 75 %
    EXPECT_EQ(low[0].score, 0.8f);

    const std::vector<Match> near = clustered({cand(5, 5, 0.8f, 0.f), cand(6, 6, 0.68f, 90.f)});
    ASSERT_EQ(near.size(), 2u);  // 85 %
    EXPECT_EQ(near[1].x, 6);

    // 85 % but the same pose: a repeat.
    EXPECT_EQ(clustered({cand(5, 5, 0.8f, 0.f), cand(6, 6, 0.68f, 1.f)}).size(), 1u);
}

TEST(Cluster, FirstOfEqualMaximaTakesTheOther) {
    // A and B are equal maxima; C lies next to B only. A (the lower pixel key) is processed
    // first and takes B; B's turn then finds only C. Input order does not matter.
    const Match a = cand(10, 10, 0.9f, 0.f), b = cand(11, 10, 0.9f, 40.f),
                c = cand(12, 10, 0.8f, 80.f);
    for (const std::vector<Match>& input :
         {std::vector<Match>{a, b, c}, std::vector<Match>{c, b, a}, std::vector<Match>{b, c, a}}) {
        std::vector<Match> out = input;
        quro::cluster_candidates(out, 1.f, 0);
        ASSERT_EQ(out.size(), 3u);
        EXPECT_TRUE(same_match(out[0], a));
        EXPECT_TRUE(same_match(out[1], b));
        EXPECT_TRUE(same_match(out[2], c));
    }
    // With a group limit of 1, the first group keeps A only and B is gone with it.
    std::vector<Match> limited{a, b, c};
    quro::cluster_candidates(limited, 1.f, 1);
    ASSERT_EQ(limited.size(), 2u);
    EXPECT_TRUE(same_match(limited[0], a));
    EXPECT_TRUE(same_match(limited[1], c));
}

TEST(Cluster, RidgeKeepsOnlyTheTopAndItsNeighbour) {
    std::vector<Match> c;
    for (int i = 0; i < 4; ++i)
        c.push_back(cand(10 + i, 10, 0.5f + 0.1f * static_cast<float>(i), 30.f * i));
    quro::cluster_candidates(c, 1.f, 0);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].x, 13);
    EXPECT_EQ(c[1].x, 12);
}

TEST(Cluster, GroupLimitCutsEachGroup) {
    std::vector<Match> c;
    for (int k = 0; k < 4; ++k) c.push_back(cand(5, 5, 0.9f - 0.01f * k, 20.f * k));
    for (int k = 0; k < 3; ++k) c.push_back(cand(25, 5, 0.7f - 0.01f * k, 20.f * k));
    std::vector<Match> all = c;
    quro::cluster_candidates(all, 1.f, 0);
    EXPECT_EQ(all.size(), 7u);
    quro::cluster_candidates(c, 1.f, 2);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_FLOAT_EQ(c[0].score, 0.9f);
    EXPECT_FLOAT_EQ(c[1].score, 0.89f);
    EXPECT_FLOAT_EQ(c[2].score, 0.7f);
    EXPECT_FLOAT_EQ(c[3].score, 0.69f);
}

TEST(Cluster, RowEndsAreNotNeighbours) {
    // (19, 5) and (0, 6) are one key apart in a 20-wide level but far apart in the image.
    EXPECT_EQ(clustered({cand(19, 5, 0.9f, 0.f), cand(0, 6, 0.6f, 0.f)}).size(), 2u);
}

TEST(Cluster, CandidatesOutsideTheImageKeepTheirOwnPixels) {
    // (-1, 6) would share the key of (19, 5) in a 20-wide level; it is its own pixel, next to
    // (0, 6).
    const std::vector<Match> c =
        clustered({cand(19, 5, 0.9f, 0.f), cand(-1, 6, 0.5f, 0.f), cand(0, 6, 0.7f, 90.f)});
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].x, 19);
    EXPECT_EQ(c[1].x, 0);  // (-1, 6) scores below 80 % of its neighbour's maximum
}

TEST(Cluster, NaNScoresNeverLeadAndNeverStay) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Beside better candidates, and alone at pixels no other candidate reaches.
    const std::vector<Match> c = clustered({cand(5, 5, nan, 90.f), cand(5, 5, 0.9f, 0.f),
                                            cand(6, 5, nan, 180.f), cand(15, 9, nan, 0.f)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].score, 0.9f);
    EXPECT_TRUE(clustered({cand(5, 5, nan, 0.f)}).empty());
}

TEST(Cluster, ScaledRepeatNeedsCloseScales) {
    const float step = 0.1f;
    // Candidates left of 0.9 at (angle 0, scale 1) and 0.85 at (angle, scale 1 + steps * step).
    const auto left = [&](float angle, float steps) {
        std::vector<Match> c{cand(5, 5, 0.9f, 0.f, 1.f),
                             cand(5, 5, 0.85f, angle, 1.f + steps * step)};
        quro::cluster_candidates_scaled(c, 1.f, 0, step);
        return c.size();
    };
    EXPECT_EQ(left(0.f, 0.4f), 1u);
    EXPECT_EQ(left(0.f, 0.6f), 2u);
    EXPECT_EQ(left(10.f, 0.f), 2u);  // close scales at distant angles do not repeat
}

TEST(Cluster, AnisoRepeatNeedsBothScalesClose) {
    const float rs = 0.1f, cs = 0.2f;
    const auto run = [&](float row_steps, float col_steps) {
        std::vector<Match> c{cand(5, 5, 0.9f, 0.f, 1.f, 1.f),
                             cand(5, 5, 0.85f, 0.f, 1.f + row_steps * rs, 1.f + col_steps * cs)};
        quro::cluster_candidates_aniso(c, 1.f, 0, rs, cs);
        return c.size();
    };
    EXPECT_EQ(run(0.4f, 0.4f), 1u);
    EXPECT_EQ(run(0.6f, 0.4f), 2u);
    EXPECT_EQ(run(0.4f, 0.6f), 2u);
}

// Crowded candidates (a small level: the pixel index is a counting sort) and scattered ones (a
// large level: a comparison sort), both against the plain algorithm.
TEST(Cluster, MatchesThePlainAlgorithmOnRandomCandidates) {
    cv::RNG rng(91);
    for (int trial = 0; trial < 300; ++trial) {
        const bool scattered = trial % 3 == 2;
        const int w = scattered ? 3000 : 12;
        const int h = scattered ? 3000 : 8;
        std::vector<Match> c;
        const int n = rng.uniform(1, scattered ? 400 : 150);
        for (int i = 0; i < n; ++i) {
            // Coarse scores give ties between pixels; columns stay off the image's first and
            // last columns, where the plain keys would wrap. Scattered candidates come in
            // small clumps so that they still have neighbours.
            const float score = 0.6f + 0.05f * static_cast<float>(rng.uniform(0, 6));
            int x = rng.uniform(1, w - 1), y = rng.uniform(-3, h);  // rows above the image too
            if (scattered && i > 0 && rng.uniform(0, 4) > 0) {
                x = std::clamp(c.back().x + rng.uniform(-1, 2), 1, w - 2);
                y = c.back().y + rng.uniform(-1, 2);
            }
            c.push_back(cand(x, y, score, static_cast<float>(rng.uniform(-180, 180))));
        }
        const std::vector<Match> expected = reference_cluster(c, w, 3.f);
        quro::cluster_candidates(c, 3.f, 0);
        ASSERT_EQ(c.size(), expected.size()) << "trial " << trial;
        for (std::size_t i = 0; i < c.size(); ++i)
            ASSERT_TRUE(same_match(c[i], expected[i])) << "trial " << trial << " entry " << i;
    }
}

class ClusterMulti : public ::testing::Test {
protected:
    void SetUp() override {
        // A large model (fine angle step) and a small one (coarse step), one level each.
        records_.push_back(std::make_shared<quro::ShapeModelRecord>(
            quro_test::polygon_model(quro_test::rectangle_outline(60.f, 40.f), 1)));
        records_.push_back(std::make_shared<quro::ShapeModelRecord>(
            quro_test::polygon_model(quro_test::rectangle_outline(8.f, 6.f), 1)));
        ids_ = {{kLarge, 0}, {kSmall, 1}};
        large_step_ = quro::angle_step(*records_[0], 1);
        small_step_ = quro::angle_step(*records_[1], 1);
    }
    static constexpr int kLarge = 5;
    static constexpr int kSmall = 9;
    quro::ModelRecords records_;
    quro::ModelIdIndex ids_;
    float large_step_ = 0.f;
    float small_step_ = 0.f;
};

TEST_F(ClusterMulti, OnlyTheBetterModelSurvivesInsideTheAngleWindow) {
    std::vector<Match> c{cand(5, 5, 0.8f, 0.5f * large_step_, 1.f, 1.f, kSmall),
                         cand(5, 5, 0.9f, 0.f, 1.f, 1.f, kLarge)};
    quro::cluster_candidates_multi(c, records_, ids_, 0, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].model_id, kLarge);
}

TEST_F(ClusterMulti, EachCandidateUsesItsOwnModelsStep) {
    ASSERT_GT(small_step_, 4.f * large_step_);
    const float apart = 1.f * small_step_;  // within 2.5 small steps, beyond 2.5 large steps
    ASSERT_GT(apart, 2.5f * large_step_);
    // The small model's candidate is tested with the small step: a repeat.
    std::vector<Match> c{cand(5, 5, 0.9f, 0.f, 1.f, 1.f, kLarge),
                         cand(5, 5, 0.85f, apart, 1.f, 1.f, kSmall)};
    quro::cluster_candidates_multi(c, records_, ids_, 0, 0);
    EXPECT_EQ(c.size(), 1u);
    // The large model's candidate is tested with the large step: no repeat.
    std::vector<Match> d{cand(5, 5, 0.9f, 0.f, 1.f, 1.f, kSmall),
                         cand(5, 5, 0.85f, apart, 1.f, 1.f, kLarge)};
    quro::cluster_candidates_multi(d, records_, ids_, 0, 0);
    EXPECT_EQ(d.size(), 2u);
}

TEST_F(ClusterMulti, CandidateOfAnUnknownModelIsLeftOut) {
    std::vector<Match> c{cand(5, 5, 0.9f, 0.f, 1.f, 1.f, kLarge),
                         cand(15, 5, 0.95f, 0.f, 1.f, 1.f, 77)};
#ifdef NDEBUG
    quro::cluster_candidates_multi(c, records_, ids_, 0, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].model_id, kLarge);
#else
    EXPECT_DEATH(quro::cluster_candidates_multi(c, records_, ids_, 0, 0), "does not hold");
#endif
}

}  // namespace

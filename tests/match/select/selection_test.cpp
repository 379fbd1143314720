#include "quro/match/select/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/select/rotated_box.h"
#include "quro/match/templates.h"
#include "quro/settings.h"
#include "testing/polygon_model.h"
#include "testing/test_clock.h"

namespace {

using quro::Match;
using quro::OutlineBox;

Match cand(int x, int y, float score, float angle = 0.f, float scale_row = 1.f,
           float scale_col = 1.f, int model_id = 0) {
    return Match(x, y, score, angle, scale_row, scale_col, model_id, 1);
}

// Sets border_shape_models for one test and restores the previous value.
class BorderSetting {
public:
    explicit BorderSetting(int value) : saved_(quro::border_shape_models()) {
        quro::set_border_shape_models(value);
    }
    ~BorderSetting() { quro::set_border_shape_models(saved_); }
    BorderSetting(const BorderSetting&) = delete;
    BorderSetting& operator=(const BorderSetting&) = delete;

private:
    int saved_;
};

// A 20 x 10 rectangle model (one level) whose box corners are not model points.
class Selection : public ::testing::Test {
protected:
    quro::ShapeModelRecord rec_ =
        quro_test::polygon_model(quro_test::rectangle_outline(10.f, 5.f), 1);
    OutlineBox box_ = quro::outline_box(rec_, 1);
};

TEST_F(Selection, BoxPokingOutWithPointsInsideStays) {
    BorderSetting border(0);
    // Turned by 45 degrees the corner (-10, -5) reaches 0.6 px beyond the left of the reference
    // point's 10 px, while the sampled points reach 9.9 px and round inside.
    const Match m = cand(10, 20, 0.9f, 45.f);
    const quro::RotatedBox b = quro::rotated_box(box_, 10.f, 20.f, 45.f, 1.f);
    ASSERT_LT(std::min({b.corners[0].x, b.corners[1].x, b.corners[2].x, b.corners[3].x}), 0.f);
    ASSERT_FALSE(quro::model_leaves_image(rec_, 10.f, 20.f, 60, 50, 1, 45.f, 1.f));
    std::vector<Match> c{m};
    quro::select_matches(0, {60, 50}, box_, 0.5f, c, rec_, 0);
    EXPECT_EQ(c.size(), 1u);

    // One pixel further left, a sampled point lands on column -1.
    ASSERT_TRUE(quro::model_leaves_image(rec_, 9.f, 20.f, 60, 50, 1, 45.f, 1.f));
    std::vector<Match> out{cand(9, 20, 0.9f, 45.f)};
    quro::select_matches(0, {60, 50}, box_, 0.5f, out, rec_, 0);
    EXPECT_TRUE(out.empty());
}

TEST_F(Selection, BorderTestsRowsAndTheFarSide) {
    BorderSetting border(0);
    std::vector<Match> c{cand(30, 4, 0.9f), cand(55, 25, 0.8f), cand(30, 46, 0.7f),
                         cand(30, 25, 0.6f)};
    // Width 60, height 50: the rectangle reaches 10 columns and 5 rows from its reference.
    quro::select_matches(0, {60, 50}, box_, 0.5f, c, rec_, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].score, 0.6f);
    // The last column and row are inside.
    std::vector<Match> edge{cand(49, 44, 0.9f)};
    quro::select_matches(0, {60, 50}, box_, 0.5f, edge, rec_, 0);
    EXPECT_EQ(edge.size(), 1u);
}

TEST_F(Selection, MatchesMayCrossTheBorderWhenAllowed) {
    BorderSetting border(1);
    std::vector<Match> c{cand(-3, 20, 0.9f), cand(58, 48, 0.8f, 30.f)};
    quro::select_matches(0, {60, 50}, box_, 0.5f, c, rec_, 0);
    EXPECT_EQ(c.size(), 2u);
}

TEST_F(Selection, SamePoseTwiceKeepsTheBetterBelowFullOverlap) {
    BorderSetting border(0);
    for (const float max_overlap : {0.f, 0.3f, 0.99f}) {
        std::vector<Match> c{cand(30, 25, 0.7f, 10.f), cand(30, 25, 0.9f, 10.f)};
        quro::select_matches(0, {60, 50}, box_, max_overlap, c, rec_, 0);
        ASSERT_EQ(c.size(), 1u) << max_overlap;
        EXPECT_EQ(c[0].score, 0.9f);
    }
    std::vector<Match> c{cand(30, 25, 0.7f, 10.f), cand(30, 25, 0.9f, 10.f)};
    quro::select_matches(0, {60, 50}, box_, 1.f, c, rec_, 0);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].score, 0.9f);
}

TEST_F(Selection, NumMatchesKeepsTheBest) {
    BorderSetting border(0);
    std::vector<Match> five;
    const float scores[5] = {0.6f, 0.95f, 0.7f, 0.8f, 0.75f};
    for (int i = 0; i < 5; ++i) five.push_back(cand(15 + 40 * i, 30, scores[i]));
    std::vector<Match> two = five;
    quro::select_matches(2, {220, 60}, box_, 0.5f, two, rec_, 0);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].score, 0.95f);
    EXPECT_EQ(two[1].score, 0.8f);
    quro::select_matches(0, {220, 60}, box_, 0.5f, five, rec_, 0);
    ASSERT_EQ(five.size(), 5u);
    for (std::size_t i = 1; i < five.size(); ++i) EXPECT_GT(five[i - 1].score, five[i].score);
}

TEST_F(Selection, DroppedCandidatesDoNotCountTowardsTheLimit) {
    BorderSetting border(0);
    // The best one leaves the image and the second repeats the third's pose.
    std::vector<Match> c{cand(2, 30, 0.99f), cand(100, 30, 0.9f), cand(100, 30, 0.85f),
                         cand(150, 30, 0.8f), cand(50, 30, 0.7f)};
    quro::select_matches(2, {220, 60}, box_, 0.5f, c, rec_, 0);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].x, 100);
    EXPECT_EQ(c[1].x, 150);
}

// With a low minimum score a single level can hand tens of thousands of candidates to the
// selection, whose pairwise overlap test then ran for minutes past the search's time limit.
TEST_F(Selection, StopsOnceTheSearchTimeIsUp) {
    BorderSetting border(1);
    std::vector<Match> many;
    for (int i = 0; i < 5000; ++i) many.push_back(cand(i % 200, i / 200, 1.f - i * 1e-5f));
    const quro::Stopwatch sw = quro_test::expired_stopwatch();
    std::vector<Match> c = many;
    quro::select_matches(0, {200, 200}, box_, 1.f, c, rec_, 0, {{sw, 1}});
    EXPECT_LT(c.size(), quro::kTimeoutCheckInterval);
    // Without a limit, or without a stopwatch, every candidate is looked at.
    c = many;
    quro::select_matches(0, {200, 200}, box_, 1.f, c, rec_, 0, {{sw, 0}});
    EXPECT_EQ(c.size(), many.size());
    c = many;
    quro::select_matches(0, {200, 200}, box_, 1.f, c, rec_, 0);
    EXPECT_EQ(c.size(), many.size());
}

// A line model's matches at the same pose were all kept at any overlap limit.
TEST(SelectionLine, MatchesOfAStraightLineModelSuppressEachOther) {
    BorderSetting border(0);
    const quro::ShapeModelRecord rec =
        quro_test::polygon_model({{-20.f, 0.f}, {20.f, 0.f}, {20.f, 0.01f}}, 1);
    const OutlineBox box = quro::outline_box(rec, 1);
    for (const float max_overlap : {0.f, 0.5f}) {
        // The same pose, one pixel along the line, and well apart.
        std::vector<Match> c{cand(50, 40, 0.9f, 0.f), cand(50, 40, 0.8f, 0.f),
                             cand(51, 40, 0.7f, 0.f), cand(50, 70, 0.6f, 0.f)};
        quro::select_matches(0, {100, 100}, box, max_overlap, c, rec, 0);
        ASSERT_EQ(c.size(), 2u) << max_overlap;
        EXPECT_EQ(c[0].score, 0.9f);
        EXPECT_EQ(c[1].score, 0.6f);
    }
}

TEST_F(Selection, EqualScoresKeepTheirOrderAndNaNGoesLast) {
    BorderSetting border(1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<Match> c{cand(10, 10, nan), cand(50, 10, 0.5f), cand(90, 10, 0.5f),
                         cand(130, 10, 0.9f)};
    quro::select_matches(0, {200, 40}, box_, 0.5f, c, rec_, 0);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].x, 130);
    EXPECT_EQ(c[1].x, 50);
    EXPECT_EQ(c[2].x, 90);
    EXPECT_EQ(c[3].x, 10);
}

// An L-shaped part with its reference point in the corner and a long arm along -x, so that its
// box is far from symmetric about the reference point.
class CornerShape : public ::testing::Test {
protected:
    quro::ShapeModelRecord rec_ = quro_test::polygon_model(
        {{-80.f, -4.f}, {4.f, -4.f}, {4.f, 12.f}, {-4.f, 12.f}, {-4.f, 4.f}, {-80.f, 4.f}}, 1);
    OutlineBox box_ = quro::outline_box(rec_, 1);
};

TEST_F(CornerShape, OverlapAlongTheLongArmIsSuppressed) {
    BorderSetting border(0);
    // Offset by 34 px along the arm: the 84 px wide boxes overlap by (84 - 34) / 84.
    const Match a = cand(150, 40, 0.9f), b = cand(184, 40, 0.8f);
    const float overlap = quro::rotated_box_overlap(quro::rotated_box(box_, 150.f, 40.f, 0.f, 1.f),
                                                    quro::rotated_box(box_, 184.f, 40.f, 0.f, 1.f));
    ASSERT_NEAR(overlap, 50.f / 84.f, 1e-3);
    // A bound of twice the distance to the corner (max_x, max_y) would not compare them.
    const float d2 = 4.f * (box_.max_x * box_.max_x + box_.max_y * box_.max_y);
    ASSERT_GT(34.f * 34.f, d2);

    std::vector<Match> c{b, a};
    quro::select_matches(0, {260, 80}, box_, 0.5f, c, rec_, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].x, 150);
    std::vector<Match> loose{b, a};
    quro::select_matches(0, {260, 80}, box_, 0.65f, loose, rec_, 0);
    EXPECT_EQ(loose.size(), 2u);
}

TEST_F(CornerShape, PairsBeyondBothReachesAreNeverCompared) {
    BorderSetting border(1);
    // A negative limit drops a match whenever its pair is measured at all (overlap 0 > -1), so
    // it shows which pairs are measured. Turned by 90 degrees each other, the boxes stay apart.
    const float reach = std::hypot(80.f, 12.f);
    const int far = static_cast<int>(std::ceil(2.f * reach + 1.f)) + 1;
    std::vector<Match> apart{cand(0, 0, 0.9f), cand(far, 0, 0.8f, 90.f)};
    quro::select_matches(0, {1000, 1000}, box_, -1.f, apart, rec_, 0);
    EXPECT_EQ(apart.size(), 2u);
    std::vector<Match> within{cand(0, 0, 0.9f), cand(static_cast<int>(2.f * reach) - 1, 0, 0.8f)};
    quro::select_matches(0, {1000, 1000}, box_, -1.f, within, rec_, 0);
    EXPECT_EQ(within.size(), 1u);
}

TEST_F(Selection, ScaledBoxesOverlapByTheirScaledSize) {
    BorderSetting border(1);
    // At scale 2 the 20 px wide box is 40 px wide: 25 px apart they overlap by 15 / 40.
    std::vector<Match> c{cand(100, 50, 0.9f, 0.f, 2.f), cand(125, 50, 0.8f, 0.f, 2.f)};
    quro::select_matches(0, {300, 100}, box_, 0.3f, c, rec_, 0);
    EXPECT_EQ(c.size(), 1u);
    std::vector<Match> d{cand(100, 50, 0.9f, 0.f, 2.f), cand(125, 50, 0.8f, 0.f, 2.f)};
    quro::select_matches(0, {300, 100}, box_, 0.4f, d, rec_, 0);
    EXPECT_EQ(d.size(), 2u);
}

TEST_F(Selection, AnisoBoxesUseBothScalesAndTheBorderTheRowScale) {
    BorderSetting border(0);
    // Column scale 2: 40 px wide boxes, 25 px apart, overlap 15 / 40. The uniform variant
    // (row scale 1) sees 20 px boxes that do not meet.
    const std::vector<Match> pair{cand(100, 50, 0.9f, 0.f, 1.f, 2.f),
                                  cand(125, 50, 0.8f, 0.f, 1.f, 2.f)};
    std::vector<Match> aniso = pair, uniform = pair;
    quro::select_matches_aniso(0, {300, 100}, box_, 0.3f, aniso, rec_, 0);
    quro::select_matches(0, {300, 100}, box_, 0.3f, uniform, rec_, 0);
    EXPECT_EQ(aniso.size(), 1u);
    EXPECT_EQ(uniform.size(), 2u);
    // Column scale 3 pushes the box 30 px out to the left, but the model points are tested at
    // row scale 1, and they lie inside.
    std::vector<Match> wide{cand(12, 50, 0.9f, 0.f, 1.f, 3.f)};
    quro::select_matches_aniso(0, {300, 100}, box_, 0.3f, wide, rec_, 0);
    EXPECT_EQ(wide.size(), 1u);
}

TEST(SelectionBound, PrefilterNeverChangesTheResult) {
    BorderSetting border(1);
    cv::RNG rng(29);
    const quro::ShapeModelRecord rec =
        quro_test::polygon_model(quro_test::rectangle_outline(10.f, 5.f), 1);
    for (int trial = 0; trial < 300; ++trial) {
        const OutlineBox box{rng.uniform(-40.f, 0.f),
                             rng.uniform(0.5f, 40.f),
                             rng.uniform(-40.f, 0.f),
                             rng.uniform(0.5f, 40.f),
                             0.f,
                             rng.uniform(-90.f, 90.f)};
        const float max_overlap = rng.uniform(0.f, 1.f);
        std::vector<Match> c;
        for (int i = 0; i < 40; ++i)
            c.push_back(cand(rng.uniform(0, 200), rng.uniform(0, 200), rng.uniform(0.f, 1.f),
                             rng.uniform(-180.f, 180.f), rng.uniform(0.5f, 2.f)));
        // Every pair measured, in the order of the selection.
        std::vector<Match> sorted = c;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Match& a, const Match& b) { return a.score > b.score; });
        std::vector<Match> expected;
        std::vector<quro::RotatedBox> boxes;
        for (const Match& m : sorted) {
            const quro::RotatedBox b =
                quro::rotated_box(box, static_cast<float>(m.x), static_cast<float>(m.y),
                                  box.angle + m.angle, m.scale_row);
            const bool suppressed = std::any_of(boxes.begin(), boxes.end(), [&](const auto& k) {
                return quro::rotated_box_overlap(b, k) > max_overlap;
            });
            if (suppressed) continue;
            expected.push_back(m);
            boxes.push_back(b);
        }
        quro::select_matches(0, {200, 200}, box, max_overlap, c, rec, 0);
        ASSERT_EQ(c.size(), expected.size()) << "trial " << trial;
        for (std::size_t i = 0; i < c.size(); ++i) {
            ASSERT_EQ(c[i].x, expected[i].x) << "trial " << trial;
            ASSERT_EQ(c[i].y, expected[i].y) << "trial " << trial;
            ASSERT_EQ(c[i].score, expected[i].score) << "trial " << trial;
        }
    }
}

class SelectionMulti : public ::testing::Test {
protected:
    void SetUp() override {
        records_.push_back(std::make_shared<quro::ShapeModelRecord>(
            quro_test::polygon_model(quro_test::rectangle_outline(30.f, 20.f), 1)));
        records_.push_back(std::make_shared<quro::ShapeModelRecord>(
            quro_test::polygon_model(quro_test::rectangle_outline(6.f, 4.f), 1)));
        ids_ = {{kLarge, 0}, {kSmall, 1}};
    }
    // The selection of c on a 300 x 100 level.
    std::vector<Match> selected(std::vector<Match> c, float max_overlap) const {
        quro::select_matches_multi(0, {300, 100}, max_overlap, c, records_, ids_, 0);
        return c;
    }
    static constexpr int kLarge = 3;
    static constexpr int kSmall = 8;
    quro::ModelRecords records_;
    quro::ModelIdIndex ids_;
};

TEST_F(SelectionMulti, ModelsSuppressEachOtherWithTheirOwnBoxes) {
    BorderSetting border(0);
    // The small part's box lies inside the large part's box, 20 px from its reference point.
    const std::vector<Match> c = selected(
        {cand(100, 50, 0.8f, 0.f, 1.f, 1.f, kLarge), cand(120, 50, 0.9f, 0.f, 1.f, 1.f, kSmall)},
        0.5f);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].model_id, kSmall);
    // 40 px away the small box (from column 134) is clear of the large one (up to column 130).
    EXPECT_EQ(selected({cand(100, 50, 0.8f, 0.f, 1.f, 1.f, kLarge),
                        cand(140, 50, 0.9f, 0.f, 1.f, 1.f, kSmall)},
                       0.5f)
                  .size(),
              2u);
}

TEST_F(SelectionMulti, BorderIsTestedWithTheCandidatesModel) {
    BorderSetting border(0);
    // 10 px from the left edge: inside for the small part, outside for the large one.
    const std::vector<Match> c = selected(
        {cand(10, 50, 0.8f, 0.f, 1.f, 1.f, kLarge), cand(10, 50, 0.9f, 0.f, 1.f, 1.f, kSmall)},
        1.f);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].model_id, kSmall);
}

TEST_F(SelectionMulti, CandidateOfAnUnknownModelIsLeftOut) {
    BorderSetting border(0);
    std::vector<Match> c{cand(100, 50, 0.8f, 0.f, 1.f, 1.f, kLarge),
                         cand(200, 50, 0.9f, 0.f, 1.f, 1.f, 42)};
#ifdef NDEBUG
    quro::select_matches_multi(0, {300, 100}, 0.5f, c, records_, ids_, 0);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].model_id, kLarge);
#else
    EXPECT_DEATH(quro::select_matches_multi(0, {300, 100}, 0.5f, c, records_, ids_, 0),
                 "does not hold");
#endif
}

}  // namespace

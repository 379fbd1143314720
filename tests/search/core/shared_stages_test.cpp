#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/result_registry.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/normal_maps.h"
#include "quro/stopwatch.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/search_input.h"
#include "quro/search/core/level_stages.h"
#include "quro/search/core/search_state.h"
#include "testing/records.h"
#include "quro/search/core/level_loop.h"
#include "testing/test_clock.h"

namespace {

TEST(SearchArgs, RejectsWhatWouldBreakALaterStage) {
    const unsigned char px[4] = {0, 0, 0, 0};
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 360.f, 0.5f, 0.5f), 0);
    EXPECT_EQ(quro::check_search_args(nullptr, 2, 2, 0.f, 360.f, 0.5f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 0, 2, 0.f, 360.f, 0.5f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, -3, 0.f, 360.f, 0.5f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 360.f, -0.1f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 360.f, NAN, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 360.f, 0.5f, -1.f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 360.f, 0.5f, NAN), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, -10.f, 0.5f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, INFINITY, 10.f, 0.5f, 0.5f), -1);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, -1e-7f, 0.5f, 0.5f), 0);  // rounding noise
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, quro::kMaxAngleExtent, 0.5f, 0.5f), 0);
    EXPECT_EQ(quro::check_search_args(px, 2, 2, 0.f, 1e9f, 0.5f, 0.5f), -1);  // no sensible range
}

TEST(SearchArgs, ScaleRangeNeedsFinitePositiveOrderedBounds) {
    const struct { float lo, hi; int rc; } cases[] = {
        {0.8f, 1.2f, 0},  {1.f, 1.f, 0},       {1.f + 5e-7f, 1.f, 0},  // rounding noise
        {1.2f, 0.8f, -1}, {0.f, 1.f, -1},      {-0.5f, 1.f, -1},
        {NAN, 1.f, -1},   {0.8f, NAN, -1},     {0.8f, INFINITY, -1}, {-INFINITY, 1.f, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(quro::check_scale_range(c.lo, c.hi), c.rc) << c.lo << ".." << c.hi;
}

TEST(NormalMapBorder, CoversTheRadiusAtTheLargestScale) {
    quro::ShapeModelRecord rec = quro_test::simple_record();
    rec.level_radius[0] = 10.4f;
    quro::SearchState st;
    st.plan.mode = quro::kSubpixelPeakFit;  // the last level gets a border
    st.pyramid = {cv::Mat(40, 60, CV_8UC1)};
    const struct { float scale_max; int border; } cases[] = {
        {1.f, 16}, {0.5f, 16}, {1.2f, 18}, {1000.f, 65}};  // 65: capped at the side + 5
    for (const auto& c : cases) {
        st.scale_max = c.scale_max;
        EXPECT_EQ(quro::normal_map_border(st, rec, 0), c.border) << c.scale_max;
    }
}

// Pose (i, j, k) of row scale i, column scale j and angle k stands at (i * nC + j) * nA + k; with
// no column scales the column scale is the row scale and pose (i, k) stands at i * nA + k.
TEST(TopLevelPoses, RowScaleMajorThenColumnScaleThenAngle) {
    const std::vector<float> rows = {0.9f, 1.f, 1.1f}, cols = {0.95f, 1.05f};
    const std::vector<float> angles = {-5.f, 0.f, 5.f, 10.f};
    for (const bool two : {false, true}) {
        const auto poses = quro::top_level_poses(rows, two ? cols : std::vector<float>{}, angles);
        const std::size_t nc = two ? cols.size() : 1;
        ASSERT_EQ(poses.size(), rows.size() * nc * angles.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < nc; ++j)
                for (std::size_t k = 0; k < angles.size(); ++k) {
                    const quro::AnisoPose& p = poses[(i * nc + j) * angles.size() + k];
                    EXPECT_EQ(p.scale_row, rows[i]);
                    EXPECT_EQ(p.scale_col, two ? cols[j] : rows[i]);
                    EXPECT_EQ(p.angle, angles[k]);
                }
    }
}

TEST(LevelPlan, ZeroPairUsesEveryBuiltLevelDownToFullResolution) {
    quro::LevelPlan p;
    const int lv[2] = {0, 0};
    ASSERT_TRUE(quro::plan_levels(lv, 4, 0, p));
    EXPECT_EQ(p.levels_used, 4);
    EXPECT_EQ(p.top, 3);
    EXPECT_EQ(p.last, 0);
    ASSERT_TRUE(quro::plan_levels(nullptr, 4, 0, p));  // null pair acts as {0, 0}
    EXPECT_EQ(p.levels_used, 4);
    EXPECT_FALSE(quro::plan_levels(lv, 0, 0, p));
}

TEST(LevelPlan, PairSelectsTopAndLastAndFallsBack) {
    quro::LevelPlan p;
    const int one[2] = {1, 1};
    quro::plan_levels(one, 4, 2, p);
    EXPECT_EQ(p.top, 0);
    EXPECT_EQ(p.last, 0);
    const int three[2] = {3, 3};
    quro::plan_levels(three, 4, 3, p);
    EXPECT_EQ(p.levels_used, 3);
    EXPECT_EQ(p.top, 2);
    EXPECT_EQ(p.last, 2);
    EXPECT_EQ(p.mode, quro::kSubpixelLeastSquaresFull);
    const int beyond[2] = {2, 3};  // last beyond first: full resolution
    quro::plan_levels(beyond, 4, 0, p);
    EXPECT_EQ(p.top, 1);
    EXPECT_EQ(p.last, 0);
    const int big[2] = {9, 0};  // first beyond the model: all levels
    quro::plan_levels(big, 4, 0, p);
    EXPECT_EQ(p.levels_used, 4);
}

TEST(LevelPlan, FullResolutionLeastSquaresStopsOneLevelAbove) {
    quro::LevelPlan p;
    quro::plan_levels(nullptr, 4, 3, p);
    EXPECT_EQ(p.last, 1);
    quro::plan_levels(nullptr, 2, 3, p);  // only two levels: stays at full resolution
    EXPECT_EQ(p.last, 0);
    quro::plan_levels(nullptr, 4, 23, p);
    EXPECT_EQ(p.mode, 3);
    EXPECT_EQ(p.last, 1);
}

TEST(LevelPlan, ModeAndCellValuesFromTheSubpixelCode) {
    quro::LevelPlan p;
    quro::plan_levels(nullptr, 4, 23, p);
    EXPECT_EQ(p.cell_values, (std::vector<int>{2, 1, 1, 1}));
    EXPECT_EQ(p.grid_sizes, (std::vector<int>{2, 0, 0, 0}));
    quro::plan_levels(nullptr, 4, 9, p);
    EXPECT_EQ(p.mode, 5);
    quro::plan_levels(nullptr, 4, 7, p);
    EXPECT_EQ(p.mode, 5);
    quro::plan_levels(nullptr, 4, 1000, p);  // cell value capped at 32
    EXPECT_EQ(p.cell_values, (std::vector<int>{32, 16, 8, 4}));
    // Levels with cells are numbered from the top down: level 3 gets 2, level 2 gets 3, ...
    EXPECT_EQ(p.grid_sizes, (std::vector<int>{4, 3, 3, 2}));
    quro::plan_levels(nullptr, 3, -4, p);
    EXPECT_LT(p.mode, 0);
    EXPECT_EQ(p.cell_values[0], 0);
}

TEST(LevelScores, CoarseLevelsTakeTheFactorsAndFullResolutionTheMinimum) {
    // Minimum 0.5: the top level keeps 0.55 of it, the levels between 0.9, full resolution all
    // of it; a search on one level alone keeps 0.9.
    const struct {
        int levels;
        std::vector<float> scores;  // level 0 first
    } cases[] = {{1, {0.45f}}, {2, {0.5f, 0.275f}}, {4, {0.5f, 0.45f, 0.45f, 0.275f}}};
    for (const auto& c : cases) {
        const auto s = quro::level_min_scores(0.5f, c.levels);
        ASSERT_EQ(s.size(), c.scores.size()) << c.levels;
        for (std::size_t i = 0; i < s.size(); ++i) EXPECT_FLOAT_EQ(s[i], c.scores[i]) << c.levels;
    }
}

TEST(AngleClamp, InsideAnglesAreNormalisedIntoTheWindow) {
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(50.f, 30.f, 60.f, 2.f, 0), 50.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(410.f, 30.f, 60.f, 2.f, 0), 50.f);
    // With one step of margin an angle just outside stays.
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(29.f, 30.f, 60.f, 2.f, 1), 29.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(91.5f, 30.f, 60.f, 2.f, 1), 91.5f);
    // Full circle: any angle maps into [start, start + 360).
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(-10.f, 0.f, 360.f, 2.f, 0), 350.f);
}

TEST(AngleClamp, OutsideAnglesGoToTheNearerEnd) {
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(92.f, 30.f, 60.f, 2.f, 0), 90.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(25.f, 30.f, 60.f, 2.f, 0), 30.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(-100.f, 30.f, 60.f, 2.f, 0), 30.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(-150.f, 30.f, 60.f, 2.f, 0), 90.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(95.f, 30.f, 60.f, 2.f, 1), 90.f);
    // Equally far from both ends: the start.
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(240.f, 30.f, 60.f, 2.f, 0), 30.f);
    EXPECT_FLOAT_EQ(quro::clamp_angle_to_window(NAN, 30.f, 60.f, 2.f, 0), 30.f);
}

TEST(ScaleBack, PositionsAndSubpixelPartsDoublePerLevel) {
    std::vector<quro::Match> c = {quro::Match(10, 7, 0.9f), quro::Match(3, 4, 0.4f)};
    c[0].dx = 0.25f;
    c[0].dy = -0.5f;
    quro::scale_back_to_full_resolution(c, 2, 0.5f, true, {});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].x, 40);
    EXPECT_EQ(c[0].y, 28);
    EXPECT_FLOAT_EQ(c[0].dx, 1.f);
    EXPECT_FLOAT_EQ(c[0].dy, -2.f);
    std::vector<quro::Match> d = {quro::Match(10, 7, 0.3f)};
    quro::scale_back_to_full_resolution(d, 0, 0.5f, false, {});
    EXPECT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].x, 10);
}

TEST(HandOut, RegistersTheFirstMatchesWithModelIdAndColumnScale) {
    std::vector<quro::Match> c;
    for (int i = 0; i < 5; ++i) c.emplace_back(i, i, 1.f - 0.1f * i, 0.f, 1.25f);
    quro::Match* res = reinterpret_cast<quro::Match*>(0x1);
    int count = -1;
    const int h = quro::hand_out_matches(c, 2, 7, {}, res, count);
    ASSERT_GE(h, 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(res[1].x, 1);
    EXPECT_EQ(res[0].model_id, 7);
    EXPECT_FLOAT_EQ(res[1].scale_col, 1.25f);
    quro::ResultEntry e{};
    ASSERT_TRUE(quro::lookup_result(h, &e));
    EXPECT_EQ(e.count, 2);
    EXPECT_EQ(e.kind, 0);
    EXPECT_EQ(clear_mems(h), 0);

    const int all = quro::hand_out_matches(c, 0, 7, {}, res, count);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(clear_mems(all), 0);
}

TEST(HandOut, NothingFoundLeavesResultsAlone) {
    quro::Match sentinel(1, 2, 3.f);
    quro::Match* res = &sentinel;
    int count = 9;
    EXPECT_EQ(quro::hand_out_matches({}, 0, 1, {}, res, count), 0);
    EXPECT_EQ(res, &sentinel);
    EXPECT_EQ(count, 0);
}

TEST(Pyramid, LevelZeroIsTheCallersBytesAndLevelsHalve) {
    std::vector<unsigned char> img(37 * 23);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<unsigned char>(i * 7);
    const auto pyr = quro::build_search_pyramid(img.data(), 37, 23, 3);
    ASSERT_EQ(pyr.size(), 3u);
    EXPECT_EQ(pyr[0].data, img.data());
    EXPECT_EQ(pyr[1].cols, 19);
    EXPECT_EQ(pyr[1].rows, 12);
    EXPECT_EQ(pyr[2].cols, 10);
    cv::Mat ref;
    cv::pyrDown(pyr[0], ref, cv::Size(), cv::BORDER_REFLECT101);
    EXPECT_EQ(cv::norm(ref, pyr[1], cv::NORM_INF), 0.0);
}

TEST(Pyramid, OnlyTheTwoFinestMaskLevelsAreFilled) {
    std::vector<unsigned char> mask(32 * 32, 255);
    mask[5 * 32 + 7] = 0;
    const auto pyr = quro::build_mask_pyramid(mask.data(), 32, 32, 4);
    ASSERT_EQ(pyr.size(), 4u);
    EXPECT_EQ(pyr[0].at<unsigned char>(5, 7), 0);
    EXPECT_EQ(pyr[1].cols, 16);
    EXPECT_TRUE(pyr[2].empty());
    EXPECT_TRUE(pyr[3].empty());
    EXPECT_TRUE(quro::build_mask_pyramid(nullptr, 32, 32, 4).empty());
    // Without a 0 the mask hides nothing and is dropped.
    mask[5 * 32 + 7] = 1;
    EXPECT_TRUE(quro::build_mask_pyramid(mask.data(), 32, 32, 4).empty());
}

TEST(BackgroundRelease, WaitReturnsAfterEveryReleaseFinished) {
    // The released maps share their data with `held`: once every release has finished, only
    // held's reference to each image is left.
    std::vector<cv::Mat> held;
    for (int i = 0; i < 20; ++i) {
        held.emplace_back(256, 256, CV_32F, cv::Scalar(i));
        quro::NormalMaps maps;
        maps.nx.push_back(held.back());
        maps.ny.push_back(held.back());
        quro::release_in_background(std::move(maps));
        EXPECT_TRUE(maps.nx.empty() || maps.nx[0].empty());
    }
    quro::wait_for_search_cleanup();
    for (const cv::Mat& m : held) EXPECT_EQ(m.u->refcount, 1);
}

TEST(StopFlagTest, SetsOnlyAfterTheTimeOut) {
    quro::StopFlag f;
    const quro::Stopwatch sw = quro_test::expired_stopwatch();
    EXPECT_FALSE(f.check({sw, 0}));         // no time-out
    EXPECT_FALSE(f.check({sw, 10000000}));  // not reached (an hour passed)
    EXPECT_TRUE(f.check({sw, 1}));          // passed
    EXPECT_TRUE(f.check({sw, 0}));          // and the flag stays set
    EXPECT_TRUE(f.is_set());
}

}  // namespace

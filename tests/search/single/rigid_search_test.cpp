#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/outline_box.h"
#include "quro/match/select/rotated_box.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/test_clock.h"
#include "quro/result_registry.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/normal_maps.h"
#include "quro/search/core/search_input.h"
#include "testing/part_scene.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;

// Five instances at sub-pixel poses, well apart, on a cluttered background with mild noise.
std::vector<PartPose> five_poses() {
    return {{80.3, 70.6, 12.0}, {250.8, 75.2, 104.5}, {165.45, 160.7, -33.0},
            {75.6, 250.25, 181.0}, {255.2, 245.9, -118.7}};
}

// One thread searches with two angle ranges in turn while this one saves and copies the model:
// each save and copy holds one whole range (the creation's or a search's), never a mix. Under
// ThreadSanitizer this is also the check that the range write races no reader.
TEST_F(PartModel, RangesWrittenBySearchesReachBuffersAndCopiesWhole) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{100, 90, 30}});
    const int id = copy_shape_model(id_);
    // The range the fixture's model was created with, not that of an earlier test's search.
    quro::set_shape_model_angle_range(*quro::find_shape_model_record(id), 0.f, 360.f);
    using Range = std::pair<float, float>;
    const std::vector<Range> ranges = {{0.f, 360.f}, {-10.f, 60.f}, {100.f, 250.f}};
    std::atomic<bool> done{false};
    std::thread searcher([&] {
        for (int i = 0, levels[2] = {0, 0}, count = 0; i < 6; ++i) {
            quro::Match* res = nullptr;
            const auto [start, extent] = ranges[1 + i % 2];
            const int h = find_shape_model(scene.data, scene.cols, scene.rows, id, start, extent,
                                           0.6f, 0, 0.5f, 2, levels, 0.8f, res, count);
            if (h > 0) clear_mems(h);
        }
        done = true;
    });
    for (int checked = 0; !done || checked < 2; ++checked) {
        const std::vector<unsigned char> bytes = quro_test::model_bytes(id);
        ASSERT_GE(bytes.size(), 12u);
        float saved[2];  // angle_start, angle_extent
        std::memcpy(saved, bytes.data() + 4, 8);
        const int copy = copy_shape_model(id);
        const auto rec = quro::find_shape_model_record(copy);
        ASSERT_TRUE(rec);
        const Range copied(rec->angle_start, rec->angle_extent);
        for (const Range& r : {Range(saved[0], saved[1]), copied})
            EXPECT_EQ(std::count(ranges.begin(), ranges.end(), r), 1);
        EXPECT_EQ(clear_shape_model(copy), 0);
    }
    searcher.join();
    const auto rec = quro::find_shape_model_record(id);
    EXPECT_EQ(Range(rec->angle_start, rec->angle_extent), ranges[2]);  // the last search's
    EXPECT_EQ(clear_shape_model(id), 0);
}

// Every pose found once, with the accuracy of the least-squares modes: RMS 0.08 px, 0.05 deg.
void expect_least_squares_accuracy(const std::vector<quro::Match>& found,
                                   const std::vector<PartPose>& poses, int model_id) {
    ASSERT_EQ(found.size(), poses.size());
    double se_pos = 0, se_ang = 0;
    for (const auto& p : poses) {
        const quro::Match* m = PartModel::near(found, p);
        ASSERT_NE(m, nullptr) << p.x << "," << p.y;
        se_pos += std::pow(m->x + m->dx - p.x, 2) + std::pow(m->y + m->dy - p.y, 2);
        se_ang += std::pow(PartModel::angle_error(m->angle, p.angle), 2);
        EXPECT_GT(m->score, 0.8f);
        EXPECT_EQ(m->model_id, model_id);
        EXPECT_EQ(m->scale_col, m->scale_row);
    }
    EXPECT_LE(std::sqrt(se_pos / poses.size()), 0.08);
    EXPECT_LE(std::sqrt(se_ang / poses.size()), 0.05);
}

TEST_F(PartModel, FindsEveryInstanceWithSubpixelPoseInLeastSquaresMode) {
    const auto poses = five_poses();
    const cv::Mat scene =
        quro_test::render_part_scene(cv::Size(330, 320), poses, {}, 60, 170, 30, 1.0, 3, 30);
    expect_least_squares_accuracy(find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 2).matches, poses, id_);
}

// Stopped on a coarse level, full-resolution least squares alone cannot correct the angle error
// of that level's sampling (several degrees): the matches came back 10 deg and 2.6 px off with
// scores of 0.97. Refined on every level on the way down they are as exact as with mode 2.
TEST_F(PartModel, FullResolutionLeastSquaresFromACoarseLevelIsExact) {
    const auto poses = five_poses();
    const cv::Mat scene =
        quro_test::render_part_scene(cv::Size(330, 320), poses, {}, 60, 170, 30, 1.0, 3, 30);
    for (const std::vector<int>& levels : {std::vector<int>{3, 3}, {2, 2}, {3, 2}}) {
        SCOPED_TRACE(::testing::Message() << "levels " << levels[0] << "," << levels[1]);
        expect_least_squares_accuracy(find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 3, levels).matches,
                                      poses, id_);
    }
}

TEST_F(PartModel, PeakFitModeIsWithinAQuarterPixel) {
    const auto poses = five_poses();
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(330, 320), poses);
    const Found f = find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 1);
    ASSERT_EQ(f.matches.size(), poses.size());
    double se_pos = 0, se_ang = 0;
    for (const auto& p : poses) {
        const quro::Match* m = near(f.matches, p);
        ASSERT_NE(m, nullptr);
        se_pos += std::pow(m->x + m->dx - p.x, 2) + std::pow(m->y + m->dy - p.y, 2);
        se_ang += std::pow(angle_error(m->angle, p.angle), 2);
    }
    EXPECT_LE(std::sqrt(se_pos / poses.size()), 0.25);
    EXPECT_LE(std::sqrt(se_ang / poses.size()), 0.15);
}

// With the model's polarity ignored as a whole (negative metric), instances of reversed contrast
// carry the polarity -1 from the coarse level through the refinement and every sub-pixel mode,
// which all take it into account; the same scene is not found with polarity used.
TEST_F(PartModel, ReversedContrastKeepsItsPolarityThroughEveryStage) {
    const auto poses = five_poses();
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(330, 320), poses);
    const cv::Mat reversed = 255 - scene;
    ContrastParams contrast{10, 30, 10, 10};
    int global = -1;
    ASSERT_EQ(create_shape_model(model_image_.data, model_image_.cols, model_image_.rows, 0, 0.f,
                                 360.f, 0.f, -1, &contrast, nullptr, &global),
              0);
    set_shape_model_param(global, "timeout", 0);
    const auto search = [&](int id, const cv::Mat& img, int code) {
        quro::Match* res = nullptr;
        int count = 0;
        const int h = find_shape_model(img.data, img.cols, img.rows, id, 0.f, 360.f, 0.6f, 0,
                                       0.5f, code, nullptr, 0.8f, res, count);
        std::vector<quro::Match> out;
        if (h > 0) {
            out.assign(res, res + count);
            EXPECT_EQ(clear_mems(h), 0);
        }
        return out;
    };
    // Position and angle bounds per sub-pixel code (none, peak fit, least squares on the last
    // level, at full resolution, with four iterations, with cells of 2).
    const std::vector<std::pair<int, double>> codes = {{0, 0.6}, {1, 0.25}, {2, 0.08},
                                                       {3, 0.08}, {5, 0.08}, {22, 0.08}};
    for (const auto& [code, tol] : codes) {
        const std::vector<quro::Match> ms = search(global, reversed, code);
        ASSERT_EQ(ms.size(), poses.size()) << "code " << code;
        double se_pos = 0;
        for (const auto& p : poses) {
            const quro::Match* m = near(ms, p);
            ASSERT_NE(m, nullptr) << "code " << code;
            EXPECT_EQ(m->flag, -1) << "code " << code;
            EXPECT_GT(m->score, 0.8f);
            se_pos += std::pow(m->x + m->dx - p.x, 2) + std::pow(m->y + m->dy - p.y, 2);
            EXPECT_LT(angle_error(m->angle, p.angle), 1.0) << "code " << code;
        }
        EXPECT_LE(std::sqrt(se_pos / poses.size()), tol) << "code " << code;
    }
    for (const quro::Match& m : search(global, scene, 2)) EXPECT_EQ(m.flag, 1);
    EXPECT_TRUE(search(id_, reversed, 2).empty());
    clear_shape_model(global);
}

// A model that ignores the polarity of each point (metric 0) finds reversed-contrast instances;
// the least squares must then accept edges of either contrast too, or they leave whole-pixel
// poses (the flag of such a match stays 1).
TEST_F(PartModel, PointPolarityFreeModelRefinesReversedContrastToSubpixel) {
    const auto poses = five_poses();
    const cv::Mat reversed = 255 - quro_test::render_part_scene(cv::Size(330, 320), poses);
    ContrastParams contrast{10, 30, 10, 10};
    int free_id = -1;
    ASSERT_EQ(create_shape_model(model_image_.data, model_image_.cols, model_image_.rows, 0, 0.f,
                                 360.f, 0.f, 0, &contrast, nullptr, &free_id),
              0);
    set_shape_model_param(free_id, "timeout", 0);
    for (int code : {2, 3}) {
        quro::Match* res = nullptr;
        int count = 0;
        const int h = find_shape_model(reversed.data, reversed.cols, reversed.rows, free_id, 0.f,
                                       360.f, 0.6f, 0, 0.5f, code, nullptr, 0.8f, res, count);
        ASSERT_GE(h, 1);
        const std::vector<quro::Match> ms(res, res + count);
        clear_mems(h);
        ASSERT_EQ(ms.size(), poses.size()) << "code " << code;
        double se_pos = 0;
        for (const auto& p : poses) {
            const quro::Match* m = near(ms, p);
            ASSERT_NE(m, nullptr) << "code " << code;
            se_pos += std::pow(m->x + m->dx - p.x, 2) + std::pow(m->y + m->dy - p.y, 2);
        }
        EXPECT_LE(std::sqrt(se_pos / poses.size()), 0.08) << "code " << code;
    }
    clear_shape_model(free_id);
}

TEST_F(PartModel, AColumnShiftShowsOnlyInTheColumn) {
    const PartPose a{100.0, 90.0, 0.0};
    const PartPose b{100.4, 90.0, 0.0};
    const cv::Mat sa = quro_test::render_part_scene(cv::Size(200, 180), {a});
    const cv::Mat sb = quro_test::render_part_scene(cv::Size(200, 180), {b});
    const Found fa = find(sa, -20.f, 40.f, 0.6f, 1);
    const Found fb = find(sb, -20.f, 40.f, 0.6f, 1);
    ASSERT_EQ(fa.matches.size(), 1u);
    ASSERT_EQ(fb.matches.size(), 1u);
    const auto& ma = fa.matches[0];
    const auto& mb = fb.matches[0];
    EXPECT_NEAR((mb.x + mb.dx) - (ma.x + ma.dx), 0.4, 0.05);
    EXPECT_NEAR((mb.y + mb.dy) - (ma.y + ma.dy), 0.0, 0.05);
}

TEST_F(PartModel, NumMatchesLimitsToTheBest) {
    const auto poses = five_poses();
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(330, 320), poses);
    EXPECT_EQ(find(scene, 0.f, 360.f, 0.6f, 0).matches.size(), 5u);
    const Found two = find(scene, 0.f, 360.f, 0.6f, 2);
    ASSERT_EQ(two.matches.size(), 2u);
    EXPECT_GE(two.matches[0].score, two.matches[1].score);
}

TEST_F(PartModel, NothingFoundReturnsZeroAndLeavesResultsAlone) {
    cv::Mat blank(200, 200, CV_8U, cv::Scalar(90));
    quro::Match sentinel(1, 2, 3.f);
    quro::Match* res = &sentinel;
    int count = 7;
    const std::size_t before = quro::registered_result_count();
    EXPECT_EQ(find_shape_model(blank.data, 200, 200, id_, 0.f, 360.f, 0.5f, 0, 0.5f, 2, nullptr,
                               0.8f, res, count),
              0);
    EXPECT_EQ(res, &sentinel);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST_F(PartModel, HandleIsClearedOnce) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{100, 90, 30}});
    quro::Match* res = nullptr;
    int count = 0;
    const int h = find_shape_model(scene.data, scene.cols, scene.rows, id_, 0.f, 360.f, 0.6f, 0,
                                   0.5f, 2, nullptr, 0.8f, res, count);
    ASSERT_GE(h, 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(clear_mems(h), -1);
}

TEST_F(PartModel, SingleLevelSearchNeverReturnsBelowMinScore) {
    const PartPose p{100.3, 90.2, 40.0};
    const cv::Mat scene =
        quro_test::render_part_scene(cv::Size(200, 180), {p}, {}, 60, 170, 30, 12.0, 5);
    for (float min_score : {0.5f, 0.7f, 0.9f}) {
        const Found f = find(scene, 0.f, 360.f, min_score, 0, 0.5f, 2, {1, 1});
        for (const auto& m : f.matches) {
            EXPECT_GE(m.score, min_score);
            EXPECT_EQ(m.dx, 0.f);  // no sub-pixel step on a single level
            EXPECT_EQ(m.dy, 0.f);
        }
    }
    const Found f = find(scene, 0.f, 360.f, 0.5f, 0, 0.5f, 2, {1, 1});
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_NEAR(f.matches[0].x, p.x, 1.0);
    EXPECT_NEAR(f.matches[0].y, p.y, 1.0);
}

TEST_F(PartModel, LevelPairsSelectWhereTheSearchRuns) {
    const PartPose p{120.6, 100.3, -25.0};
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(240, 200), {p});
    int levels = 0;
    get_shape_model_param(id_, "num_levels", &levels);
    ASSERT_GE(levels, 3);
    // Top three levels only, then least squares down to full resolution after scaling by 4.
    const Found f33 = find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 3, {3, 3});
    ASSERT_EQ(f33.matches.size(), 1u);
    EXPECT_EQ(f33.matches[0].x % 4, 0);
    EXPECT_EQ(f33.matches[0].y % 4, 0);
    EXPECT_NEAR(f33.matches[0].x + f33.matches[0].dx, p.x, 0.15);
    EXPECT_NEAR(f33.matches[0].y + f33.matches[0].dy, p.y, 0.15);
    // A last level beyond the first means full resolution.
    const Found f24 = find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 2, {2, 4});
    ASSERT_EQ(f24.matches.size(), 1u);
    EXPECT_NEAR(f24.matches[0].x + f24.matches[0].dx, p.x, 0.1);
    // Code 23: least squares at full resolution after stopping at level 2, cells of 2 below.
    const Found f23 = find(scene, 0.f, 360.f, 0.6f, 0, 0.5f, 23);
    ASSERT_EQ(f23.matches.size(), 1u);
    EXPECT_NEAR(f23.matches[0].x + f23.matches[0].dx, p.x, 0.15);
    EXPECT_NEAR(f23.matches[0].y + f23.matches[0].dy, p.y, 0.15);
}

TEST_F(PartModel, AngleOutsideTheWindowIsClampedToItsEnd) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{100, 90, 92}});
    const Found f = find(scene, 30.f, 60.f, 0.5f, 0, 0.5f, 0);
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_EQ(f.matches[0].angle, 90.f);
}

// With a single angle asked for, the least squares (here with cells, which weigh every edge
// fully) followed an instance turned one and a half or two angle steps away out of the window. A
// refined angle stays within one angle step of the window.
TEST(RefinedAngle, StaysWithinAStepOfTheWindow) {
    const std::vector<cv::Point2f> outline = quro_test::irregular_outline(70.f);
    const cv::Mat model = quro_test::render_polygon(outline, {161, 161}, {80.f, 80.f, 0.f});
    const ContrastParams contrast{10, 30, 10, 10};
    int id = -1;
    ASSERT_EQ(create_shape_model(model.data, 161, 161, 0, 0.f, 360.f, 0.f, 1, &contrast, nullptr,
                                 &id),
              0);
    set_shape_model_param(id, "timeout", 0);
    const float step = quro::angle_step(*quro::find_shape_model_record(id), 1);
    // Code 85: mode 5 on full resolution; 83: mode 3, full resolution after stopping above it.
    for (const int code : {85, 83}) {
        for (const float turns : {1.5f, 2.2f}) {
            const cv::Mat img =
                quro_test::render_polygon(outline, {200, 200}, {100.3f, 99.6f, turns * step});
            quro::Match* res = nullptr;
            int count = 0;
            const int h = find_shape_model(img.data, 200, 200, id, 0.f, 0.f, 0.3f, 0, 0.5f, code,
                                           nullptr, 0.8f, res, count);
            ASSERT_GE(h, 1);
            ASSERT_EQ(count, 1);
            EXPECT_LE(std::fabs(res[0].angle), step) << turns << " steps, code " << code;
            const quro::Match refined = res[0];
            EXPECT_EQ(clear_mems(h), 0);
            if (code != 85 || turns < 2.f) continue;
            // Carried out of the window, the refined pose is dropped whole: the match keeps the
            // pose it had before (that of the same search without a sub-pixel step), never an
            // angle put back beside a shift fitted at another angle.
            ASSERT_EQ(find_shape_model(img.data, 200, 200, id, 0.f, 0.f, 0.3f, 0, 0.5f, 80,
                                       nullptr, 0.8f, res, count),
                      1);
            EXPECT_EQ(refined.x, res[0].x);
            EXPECT_EQ(refined.y, res[0].y);
            EXPECT_EQ(refined.angle, res[0].angle);
            EXPECT_EQ(refined.dx, res[0].dx);
            EXPECT_EQ(refined.dy, res[0].dy);
            EXPECT_EQ(clear_mems(1), 0);
        }
    }
    EXPECT_EQ(clear_shape_model(id), 0);
}

// The count limit is applied while the matches are selected; the caller must still receive the
// first matches of the search without a limit, whatever the mode and levels.
TEST_F(PartModel, CountLimitGivesTheFirstMatchesOfTheUnlimitedSearch) {
    const auto poses = five_poses();
    const cv::Mat scene =
        quro_test::render_part_scene(cv::Size(330, 320), poses, {}, 60, 170, 30, 4.0, 3, 30);
    for (const int code : {0, 1, 3}) {
        for (const std::vector<int>& levels : {std::vector<int>{0, 0}, {1, 1}, {3, 3}}) {
            SCOPED_TRACE(::testing::Message() << "code " << code << " levels " << levels[0]);
            const Found all = find(scene, 0.f, 360.f, 0.3f, 0, 0.9f, code, levels);
            ASSERT_GE(all.matches.size(), 3u);
            for (const int n : {1, 2, 4}) {
                const Found some = find(scene, 0.f, 360.f, 0.3f, n, 0.9f, code, levels);
                ASSERT_EQ(some.matches.size(), std::min<std::size_t>(n, all.matches.size()));
                for (std::size_t i = 0; i < some.matches.size(); ++i) {
                    const quro::Match& a = all.matches[i];
                    const quro::Match& b = some.matches[i];
                    EXPECT_TRUE(a.x == b.x && a.y == b.y && a.angle == b.angle &&
                                a.score == b.score && a.dx == b.dx && a.dy == b.dy)
                        << "match " << i << " of " << n;
                }
            }
        }
    }
}

// A model of one straight edge has a box without area. Its matches at one pose never suppressed
// each other, so with max_overlap 0 the same pose came back twice.
TEST(LineModel, FindsEachPoseOnceWithoutOverlap) {
    const float xs[2] = {-30.f, 30.f}, ys[2] = {0.f, 0.f};
    const char use[2] = {1, 1};
    const ContrastParams contrast{10, 30, 10, 10};
    int id = -1;
    ASSERT_EQ(create_shape_model_pol(xs, ys, use, 2, 0, 0.f, 360.f, 0.f, 1, &contrast, &id), 0);
    set_shape_model_param(id, "timeout", 0);
    cv::Mat img(160, 200, CV_8U, cv::Scalar(60));
    cv::rectangle(img, cv::Rect(40, 60, 120, 40), cv::Scalar(180), cv::FILLED);
    for (const int code : {0, 2}) {
        quro::Match* res = nullptr;
        int count = 0;
        const int h = find_shape_model(img.data, img.cols, img.rows, id, 0.f, 360.f, 0.6f, 0, 0.f,
                                       code, nullptr, 0.8f, res, count);
        ASSERT_GE(h, 1);
        EXPECT_GE(count, 2);  // both long sides
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < i; ++j)
                EXPECT_FALSE(res[i].x == res[j].x && res[i].y == res[j].y)
                    << "matches " << j << " and " << i << " at " << res[i].x << "," << res[i].y;
        EXPECT_EQ(clear_mems(h), 0);
    }
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST_F(PartModel, ModelCrossingTheBorderNeedsTheSetting) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{12, 90, 0}});
    set_system("border_shape_models", 0);
    EXPECT_TRUE(find(scene, -10.f, 20.f, 0.4f).matches.empty());
    set_system("border_shape_models", 1);
    const Found f = find(scene, -10.f, 20.f, 0.4f);
    set_system("border_shape_models", 0);
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_NEAR(f.matches[0].x + f.matches[0].dx, 12.0, 1.0);
}

// For any max_overlap m, a match of the search with m = 1 that overlaps no better match by more
// than m comes back from the search with m at the same pose and score (random pairs of parts, the
// second over the first). The top level's suppression followed limits above 0.7, so with 1 other
// hypotheses reached full resolution: the best match moved, covered parts went.
TEST_F(PartModel, OverlapLimitOnlySelectsAmongTheMatchesOfNoLimit) {
    quro::ShapeModelRecord rec;
    ASSERT_TRUE(quro::copy_shape_model_record(id_, rec));
    const quro::OutlineBox box = quro::outline_box(rec, 1);
    const auto posed = [&](const quro::Match& m) {
        return quro::rotated_box(box, static_cast<float>(m.x), static_cast<float>(m.y),
                                 box.angle + m.angle, m.scale_row);
    };
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0, 1);
    for (int t = 0; t < 30; ++t) {
        const double a = 360 * u(rng), b = t % 2 ? a : a + 60 * u(rng) - 30;
        const std::vector<PartPose> parts{{200 + u(rng), 150 + u(rng), a},
                                          {215 + 40 * u(rng), 135 + 30 * u(rng), b}};
        const cv::Mat img = quro_test::render_part_scene({420, 300}, parts, {}, 60, 190, 30, 5, t);
        const auto all = find(img, 0.f, 360.f, 0.3f, 0, 1.f, 0).matches;
        for (const float m : {0.f, 0.3f, 0.5f, 0.7f}) {
            const auto got = find(img, 0.f, 360.f, 0.3f, 0, m, 0).matches;
            for (std::size_t i = 0, j = 0; i < all.size(); ++i, j = 0) {
                while (j < i && !(all[j].score > all[i].score &&
                                  quro::rotated_box_overlap(posed(all[i]), posed(all[j])) > m))
                    ++j;
                EXPECT_TRUE(j < i || std::any_of(got.begin(), got.end(), [&](const quro::Match& g) {
                    return g.x == all[i].x && g.y == all[i].y && g.angle == all[i].angle &&
                           g.score == all[i].score;
                })) << "scene " << t << " max_overlap " << m << " match " << i;
            }
        }
    }
}

TEST_F(PartModel, StoredModelKeepsTheAcceptedAngleRangeOnly) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{100, 90, 10}});
    find(scene, -45.f, 90.f);
    auto rec = quro::find_shape_model_record(id_);
    EXPECT_EQ(rec->angle_start, -45.f);
    EXPECT_EQ(rec->angle_extent, 90.f);
    quro::Match* res = nullptr;
    int count = 0;
    EXPECT_EQ(find_shape_model(scene.data, 200, 180, id_, 5.f, -10.f, 0.5f, 0, 0.5f, 2, nullptr,
                               0.8f, res, count),
              -1);
    EXPECT_EQ(rec->angle_start, -45.f);  // a rejected call changes nothing
    EXPECT_EQ(rec->angle_extent, 90.f);
}

TEST_F(PartModel, BadArgumentsAreRejected) {
    const cv::Mat scene(50, 50, CV_8U, cv::Scalar(0));
    quro::Match* res = nullptr;
    int count = 5;
    auto call = [&](unsigned char* d, int w, int h, int id, float ms, float ext) {
        count = 5;
        return find_shape_model(d, w, h, id, 0.f, ext, ms, 0, 0.5f, 2, nullptr, 0.8f, res, count);
    };
    unsigned char* d = scene.data;
    EXPECT_EQ(call(nullptr, 50, 50, id_, 0.5f, 360.f), -1);
    EXPECT_EQ(call(d, 0, 50, id_, 0.5f, 360.f), -1);
    EXPECT_EQ(call(d, 50, -1, id_, 0.5f, 360.f), -1);
    EXPECT_EQ(call(d, 50, 50, id_ + 99, 0.5f, 360.f), -1);
    EXPECT_EQ(call(d, 50, 50, -1, 0.5f, 360.f), -1);
    EXPECT_EQ(call(d, 50, 50, id_, -0.1f, 360.f), -1);
    EXPECT_EQ(call(d, 50, 50, id_, NAN, 360.f), -1);
    EXPECT_EQ(call(d, 50, 50, id_, 0.5f, -10.f), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(find_shape_model(d, 50, 50, id_, 0.f, 360.f, 0.5f, 0, -0.5f, 2, nullptr, 0.8f, res,
                               count),
              -1);
    // Tiny images are valid input without matches.
    unsigned char one = 0;
    EXPECT_EQ(call(&one, 1, 1, id_, 0.5f, 360.f), 0);
    unsigned char five[25] = {0};
    EXPECT_EQ(call(five, 5, 5, id_, 0.5f, 360.f), 0);
}

// Time-outs of 1, 50 and 500 ms on a clock that moves on 1 ms at each question (a full search of
// this scene asks it about 1350 times): -2, nothing handed out or registered.
TEST_F(PartModel, TimeOutReturnsMinusTwoAndRegistersNothing) {
    cv::Mat big = quro_test::render_part_scene(cv::Size(1536, 1536), {{700, 700, 20}}, {}, 60,
                                               170, 30, 20.0, 9);
    const std::size_t before = quro::registered_result_count();
    quro::Match* res = nullptr;
    int count = 3;
    for (const int timeout : {1, 50, 500}) {
        count = 3;
        set_shape_model_param(id_, "timeout", timeout);
        const quro_test::LibraryClockTicking clock;
        const int rc = find_shape_model(big.data, big.cols, big.rows, id_, 0.f, 360.f, 0.3f, 0,
                                        0.5f, 2, nullptr, 0.8f, res, count);
        EXPECT_EQ(rc, -2) << timeout;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(quro::registered_result_count(), before);
    }
    set_shape_model_param(id_, "timeout", 0);
    // No time-out at all: the same search completes.
    const int h = find_shape_model(big.data, big.cols, big.rows, id_, 0.f, 360.f, 0.5f, 0, 0.5f,
                                   2, nullptr, 0.8f, res, count);
    ASSERT_GE(h, 1);
    EXPECT_GE(count, 1);
    EXPECT_EQ(clear_mems(h), 0);
}

TEST_F(PartModel, RepeatedSearchesLeaveNothingBehind) {
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(200, 180), {{100, 90, 30}});
    const std::size_t before = quro::registered_result_count();
    for (int i = 0; i < 50; ++i) find(scene);
    quro::wait_for_search_cleanup();
    EXPECT_EQ(quro::registered_result_count(), before);
}

// Resident memory of the process in bytes, from /proc/self/statm.
long resident_bytes() {
    long pages_total = 0, pages_resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages_total, &pages_resident);
    std::fclose(f);
    return n == 2 ? pages_resident * sysconf(_SC_PAGESIZE) : -1;
}

TEST_F(PartModel, MemoryReturnsAfterManySearches) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(640, 480), five_poses());
    find(scene);  // first search: start-up tables and thread pools
    quro::wait_for_search_cleanup();
    const long before = resident_bytes();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 200; ++i) find(scene);
    quro::wait_for_search_cleanup();
    const long after = resident_bytes();
    // One search holds about 10 MB of maps at this size; 200 of them kept would be 2 GB.
    EXPECT_LT(after - before, 40l * 1024 * 1024);
}

}  // namespace

// Least-squares sub-pixel refinement of matches: models created from rendered images, instances
// rendered at known sub-pixel poses, candidates started from perturbed poses.
#include "quro/match/subpixel/least_squares_refine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <stdexcept>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/search_input.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "tests/create/create_support.h"

namespace {

using quro::LeastSquaresEnd;
using quro::LeastSquaresTrace;
using quro::Match;
using quro::PoseSource;
using quro_test::PolygonPose;
using quro_test::ScopedModel;

constexpr ContrastParams kContrast{10, 30, 10, 10};
constexpr int kMinContrast = 10;
// Rendering resolution of the test scenes: edges land within about 1 / (2 * kSupersample) pixel of
// their true place, well inside the accuracy the tests ask for.
constexpr int kSupersample = 16;

// A true instance pose: where the model image's centre lands, and its angle (degrees).
struct Truth {
    double x;
    double y;
    double angle;
};

const std::vector<cv::Point2f>& shape() {
    static const std::vector<cv::Point2f> s = quro_test::irregular_outline(110.f);
    return s;
}

cv::Mat render(const std::vector<cv::Point2f>& outline, cv::Size size, const PolygonPose& pose) {
    return quro_test::render_polygon(outline, size, pose, 200, 60, kSupersample);
}

// Creates a model from the outline rendered at the centre of a 161 x 161 image.
void create_model(const std::vector<cv::Point2f>& outline, ScopedModel& m, int levels = 3) {
    const cv::Mat img = render(outline, cv::Size(161, 161), PolygonPose{80.f, 80.f, 0.f});
    ASSERT_EQ(create_shape_model(img.data, img.cols, img.rows, levels, 0.f, 360.f, 1.f, 1,
                                 &kContrast, nullptr, m.out()),
              0);
    ASSERT_TRUE(m.record());
    set_shape_model_param(m.id, "timeout", 0);
}

cv::Mat render_instance(const std::vector<cv::Point2f>& outline, const Truth& t,
                        float scale_row = 1.f, float scale_col = 1.f) {
    return render(outline, cv::Size(241, 241),
                  PolygonPose{static_cast<float>(t.x), static_cast<float>(t.y),
                              static_cast<float>(t.angle), scale_row, scale_col});
}

// A candidate at the truth moved by the given offsets (columns, rows, degrees); x and y are whole
// pixels, the rest goes into dx and dy.
Match candidate(const Truth& t, double off_col, double off_row, double off_angle,
                signed char flag = 1, float score = 0.9f) {
    Match m(static_cast<int>(std::floor(t.x)), static_cast<int>(std::floor(t.y)), score,
            static_cast<float>(t.angle + off_angle), 1.f, 0, flag);
    m.scale_col = 1.f;
    m.dx = static_cast<float>(t.x - m.x + off_col);
    m.dy = static_cast<float>(t.y - m.y + off_row);
    return m;
}

// The cell values a search with this sub-pixel code gives the levels of `rec`.
std::vector<int> cell_values(const quro::ShapeModelRecord& rec, int subpixel_code) {
    quro::LevelPlan plan;
    EXPECT_TRUE(quro::plan_levels(nullptr, rec.num_levels, subpixel_code, plan));
    return plan.cell_values;
}

// The level `level` of `img` with the cell value of that level in `cells`.
quro::LeastSquaresLevel ls_level(const cv::Mat& img, int level, const quro::ShapeModelRecord& rec,
                                 const std::vector<int>& cells) {
    return {.image = &img,
            .level = level,
            .levels_used = rec.num_levels,
            .cell_value = cells.at(static_cast<std::size_t>(level)),
            .min_contrast = kMinContrast};
}

LeastSquaresTrace refine(Match& m, const cv::Mat& img, int level, int mode,
                         const quro::ShapeModelRecord& rec, const std::vector<int>& cells,
                         const PoseSource& src = PoseSource::rigid()) {
    std::vector<Match> cands{m};
    std::vector<LeastSquaresTrace> traces;
    quro::refine_matches_least_squares(cands, ls_level(img, level, rec, cells), mode, rec, src,
                                       &traces);
    EXPECT_EQ(traces.size(), 1u);
    m = cands[0];
    return traces.empty() ? LeastSquaresTrace{} : traces[0];
}

double position_error(const Match& m, const Truth& t, double level_factor = 1.0) {
    return std::hypot(m.x + m.dx - t.x * level_factor, m.y + m.dy - t.y * level_factor);
}

bool same_pose(const Match& a, const Match& b) {
    return a.x == b.x && a.y == b.y && a.dx == b.dx && a.dy == b.dy && a.angle == b.angle;
}

// A test with the test shape's model (3 levels), created before it and cleared after it.
class ShapeModelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(create_model(shape(), model_));
        rec = model_.record();
    }
    std::shared_ptr<quro::ShapeModelRecord> rec;

private:
    ScopedModel model_;
};
using LeastSquaresBadInput = ShapeModelTest;
using LeastSquaresConvergence = ShapeModelTest;
using LeastSquaresLoops = ShapeModelTest;
using LeastSquaresPolarity = ShapeModelTest;
using LeastSquaresPoseSource = ShapeModelTest;
using LeastSquaresRecovery = ShapeModelTest;

// ---------------------------------------------------------------------------------------------
// The mode table

// Modes outside the table do not refine; within it, modes 4 and 5 thin the points by the search's
// depth: every point taken is step apart, (n - 1) / step + 1 of the level's n.
TEST_F(LeastSquaresLoops, ModesAndSearchDepthSetThePointsSampled) {
    for (int mode : {-2, 0, 1, 6}) EXPECT_EQ(quro::least_squares_run(mode), nullptr) << mode;
    const Truth t{120.0, 120.0, 0.0};
    const cv::Mat img = render_instance(shape(), t);
    const int n = static_cast<int>(rec->level_features[0].size());
    struct Case {
        int mode, levels_used, step;
    };
    // The model's own step on level 1 of its 3 levels is 2^(3 - 1) = 4.
    for (const Case& c : {Case{2, 4, 4}, Case{4, 3, 4}, Case{4, 4, 8}, Case{5, 3, 3}}) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.levels_used);
        Match m = candidate(t, 0, 0, 0);
        const quro::LeastSquaresLevel lvl{&img, 0, c.levels_used, 1, kMinContrast};
        const LeastSquaresTrace tr = quro::refine_match_least_squares(
            m, lvl, *quro::least_squares_run(c.mode), *rec, PoseSource::rigid());
        EXPECT_EQ(tr.sampled_points, (n - 1) / c.step + 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Recovery of a perturbed pose

TEST_F(LeastSquaresRecovery, ModeTwoRecoversPerturbedPosesAtFullResolution) {
    const std::vector<int> cells = cell_values(*rec, 2);
    const Truth truths[] = {
        {120.37, 118.71, 12.6}, {119.81, 121.26, -47.3}, {121.5, 120.13, 171.9}};
    for (const Truth& t : truths) {
        SCOPED_TRACE(t.angle);
        const cv::Mat img = render_instance(shape(), t);
        Match m = candidate(t, 0.3, -0.2, 0.4);
        const Match start = m;
        const LeastSquaresTrace tr = refine(m, img, 0, quro::kSubpixelLeastSquares2, *rec, cells);
        ASSERT_FALSE(tr.steps.empty());
        EXPECT_EQ(m.x, start.x);  // only the sub-pixel parts and the angle move
        EXPECT_EQ(m.y, start.y);
        EXPECT_EQ(m.score, start.score);
        EXPECT_NEAR(m.x + m.dx, t.x, 0.05);
        EXPECT_NEAR(m.y + m.dy, t.y, 0.05);
        EXPECT_NEAR(m.angle, t.angle, 0.05);
    }
}

TEST_F(LeastSquaresRecovery, ColumnErrorLandsInDxAndRowErrorInDy) {
    const std::vector<int> cells = cell_values(*rec, 2);
    const Truth t{120.25, 119.6, 20.0};
    const cv::Mat img = render_instance(shape(), t);

    Match col_only = candidate(t, 0.4, 0.0, 0.0);
    const float dy0 = col_only.dy;
    const float dx0 = col_only.dx;
    refine(col_only, img, 0, quro::kSubpixelLeastSquares2, *rec, cells);
    EXPECT_NEAR(col_only.dx - dx0, -0.4, 0.05);
    EXPECT_NEAR(col_only.dy - dy0, 0.0, 0.05);

    Match row_only = candidate(t, 0.0, -0.4, 0.0);
    const float dx1 = row_only.dx;
    const float dy1 = row_only.dy;
    refine(row_only, img, 0, quro::kSubpixelLeastSquares2, *rec, cells);
    EXPECT_NEAR(row_only.dy - dy1, 0.4, 0.05);
    EXPECT_NEAR(row_only.dx - dx1, 0.0, 0.05);
}

TEST_F(LeastSquaresRecovery, ModeFiveOnAHigherLevelUsesThatLevelsPointsAndPixels) {
    const std::vector<int> cells = cell_values(*rec, 5);
    const Truth t{120.6, 118.2, 33.3};
    const cv::Mat full = render_instance(shape(), t);
    cv::Mat half;
    cv::pyrDown(full, half, cv::Size(), cv::BORDER_REFLECT101);
    // On level 1 a full-resolution position x lies at x / 2.
    const Truth on_level{t.x / 2, t.y / 2, t.angle};
    Match m = candidate(on_level, 0.25, 0.2, -0.5);
    const LeastSquaresTrace tr = refine(m, half, 1, quro::kSubpixelLeastSquares4, *rec, cells);
    ASSERT_FALSE(tr.steps.empty());
    // Step L - level = 2 on level 2 of the model: every second point.
    EXPECT_EQ(static_cast<std::size_t>(tr.sampled_points),
              (rec->level_features[1].size() - 1) / 2 + 1);
    EXPECT_LT(position_error(m, on_level), 0.05);
    EXPECT_NEAR(m.angle, t.angle, 0.1);
}

TEST_F(LeastSquaresRecovery, ModeThreeRefinesScaledBackCandidatesAtFullResolution) {
    const std::vector<int> cells = cell_values(*rec, 3);
    const Truth t{119.4, 120.8, -101.7};
    const cv::Mat img = render_instance(shape(), t);
    // A candidate found on level 1 and scaled back: even pixel position, doubled offsets.
    Match m = candidate(t, 0.0, 0.0, 0.3);
    m.x = 118;
    m.y = 120;
    m.dx = 2.f * 0.8f;
    m.dy = 2.f * 0.25f;
    refine(m, img, 0, quro::kSubpixelLeastSquaresFull, *rec, cells);
    EXPECT_LT(position_error(m, t), 0.05);
    EXPECT_NEAR(m.angle, t.angle, 0.05);
}

// A small model has a large angle step, and its last level leaves the angle up to about a step
// off. The least squares refused every rotation above 2.5 degrees and kept such a pose as it was.
TEST(LeastSquaresSmallModel, AngleErrorOfAlmostAStepIsCorrected) {
    const std::vector<cv::Point2f> small = quro_test::irregular_outline(30.f);
    ScopedModel m;
    ASSERT_NO_FATAL_FAILURE(create_model(small, m, 2));
    const auto rec = m.record();
    ASSERT_EQ(rec->num_levels, 2);
    const float step = quro::angle_step(*rec, 1);
    ASSERT_GT(step, 5.f);
    const std::vector<int> cells = cell_values(*rec, 2);
    for (const double angle : {20.0, -75.0, 160.0}) {
        SCOPED_TRACE(angle);
        const Truth t{120.3, 119.6, angle};
        const cv::Mat img = render_instance(small, t);
        Match c = candidate(t, 0.2, -0.1, -0.7 * step);
        const LeastSquaresTrace tr = refine(c, img, 0, quro::kSubpixelLeastSquares2, *rec, cells);
        EXPECT_NE(tr.end, LeastSquaresEnd::kSolveFailed);
        EXPECT_NEAR(c.angle, t.angle, 0.3);
        EXPECT_LT(position_error(c, t), 0.1);
    }
}

// ---------------------------------------------------------------------------------------------
// Polarity

TEST_F(LeastSquaresPolarity, ReversedContrastConvergesOnlyWithTheReversedFlag) {
    const std::vector<int> cells = cell_values(*rec, 2);
    const Truth t{120.3, 119.45, 8.2};
    cv::Mat inverted = 255 - render_instance(shape(), t);

    Match reversed = candidate(t, 0.3, -0.2, 0.4, -1);
    const LeastSquaresTrace tr = refine(reversed, inverted, 0, 2, *rec, cells);
    EXPECT_GT(tr.correspondences, tr.sampled_points * 3 / 4);
    EXPECT_LT(position_error(reversed, t), 0.05);
    EXPECT_NEAR(reversed.angle, t.angle, 0.05);

    Match plain = candidate(t, 0.3, -0.2, 0.4, 1);
    const Match start = plain;
    const LeastSquaresTrace none = refine(plain, inverted, 0, 2, *rec, cells);
    EXPECT_EQ(none.correspondences, 0);
    EXPECT_EQ(none.end, LeastSquaresEnd::kTooFewPoints);
    EXPECT_TRUE(same_pose(plain, start));
}

// ---------------------------------------------------------------------------------------------
// Minimum support

// A one-level record of `total` points around an 80 x 80 square: `real` of them lie on the
// square's sides (pointing inwards, as the bright square's gradient does), `inset` more lie
// 2.5 pixels inside the sides (they find the side's edge, but far off), the others on the flat
// inside, where no edge is within reach.
quro::ShapeModelRecord square_record(int real, int inset = 0, int total = 100) {
    std::vector<quro::Feature> pts;
    for (int i = 0; i < real + inset; ++i) {
        const int k = i < real ? i : i - real;
        const float along = -30.f + 60.f * static_cast<float>(k / 4) / 25.f;
        const float side = i < real ? 40.f : 37.5f;
        switch (k % 4) {
            case 0:
                pts.emplace_back(along, -side, 0.f, 1.f);
                break;
            case 1:
                pts.emplace_back(side, along, -1.f, 0.f);
                break;
            case 2:
                pts.emplace_back(-along, side, 0.f, -1.f);
                break;
            default:
                pts.emplace_back(-side, -along, 1.f, 0.f);
                break;
        }
    }
    for (int i = real + inset; i < total; ++i)
        pts.emplace_back(static_cast<float>(i % 10 - 5), static_cast<float>(i / 10 - 5), 1.f, 0.f);
    return quro_test::record_with_levels({pts}, 120, 120);
}

// Refines a candidate near a bright 80 x 80 square with square_record(real, inset): below
// `needed` weighted points the pose must stay, from `needed` on it must reach the square.
void expect_support_rule(int real, int inset, float score, int cell_value, double offset,
                         int needed) {
    SCOPED_TRACE(testing::Message() << real << " on the sides, " << inset << " inset");
    const Truth t{100.3, 99.6, 0.0};
    const cv::Mat img = render(quro_test::rectangle_outline(40.f, 40.f), cv::Size(201, 201),
                               PolygonPose{100.3f, 99.6f, 0.f});
    const quro::ShapeModelRecord rec = square_record(real, inset);
    Match m = candidate(t, offset, -offset, 0.0, 1, score);
    const Match start = m;
    const LeastSquaresTrace tr = refine(m, img, 0, 2, rec, std::vector<int>{cell_value});
    EXPECT_EQ(tr.sampled_points, 100);
    EXPECT_EQ(tr.correspondences, real + inset);
    EXPECT_EQ(tr.weighted_points, real);
    if (real < needed) {
        EXPECT_EQ(tr.end, LeastSquaresEnd::kTooFewPoints);
        EXPECT_TRUE(same_pose(m, start));
    } else {
        EXPECT_FALSE(tr.steps.empty());
        EXPECT_LT(position_error(m, t), 0.05);
    }
}

TEST(LeastSquaresSupport, FewerThanTenWeightedPointsKeepThePose) {
    // Score 0.1 with 100 points asks for max(10, 5) = 10.
    expect_support_rule(9, 0, 0.1f, 1, 0.3, 10);
    expect_support_rule(10, 0, 0.1f, 1, 0.3, 10);
}

TEST(LeastSquaresSupport, ScoreEightTenthsWithHundredPointsNeedsForty) {
    expect_support_rule(39, 0, 0.8f, 1, 0.3, 40);
    expect_support_rule(40, 0, 0.8f, 1, 0.3, 40);
}

TEST(LeastSquaresSupport, CountsWeightedPointsNotCorrespondences) {
    // Tukey weights (cell value 0): the 20 inset points find an edge but weigh nothing.
    expect_support_rule(39, 20, 0.8f, 0, 0.03, 40);
    expect_support_rule(40, 20, 0.8f, 0, 0.03, 40);
}

// ---------------------------------------------------------------------------------------------
// Convergence

// The trace must stop at the first step below the run's limit, or run all iterations; the steps
// must add up to the pose change.
void expect_stops_at_first_small_step(const LeastSquaresTrace& tr, const quro::LeastSquaresRun& run,
                                      const Match& start, const Match& end) {
    ASSERT_FALSE(tr.steps.empty());
    ASSERT_LE(tr.steps.size(), static_cast<std::size_t>(run.iterations));
    double rows = 0, cols = 0, angle = 0;
    for (std::size_t i = 0; i < tr.steps.size(); ++i) {
        const quro::LeastSquaresStep& s = tr.steps[i];
        const bool small =
            std::hypot(s.row, s.col) < run.convergence && std::abs(s.angle) < run.convergence;
        if (i + 1 < tr.steps.size()) {
            EXPECT_FALSE(small) << "step " << i << " should have ended it";
        } else if (small) {
            EXPECT_EQ(tr.end, LeastSquaresEnd::kConverged);
        } else {
            EXPECT_EQ(tr.end, LeastSquaresEnd::kIterationsDone);
        }
        rows += s.row;
        cols += s.col;
        angle += s.angle;
    }
    if (tr.end == LeastSquaresEnd::kIterationsDone) {
        EXPECT_EQ(tr.steps.size(), static_cast<std::size_t>(run.iterations));
    }
    EXPECT_NEAR(end.dy - start.dy, rows, 1e-4);
    EXPECT_NEAR(end.dx - start.dx, cols, 1e-4);
    EXPECT_NEAR(end.angle - start.angle, angle, 1e-4);
}

TEST_F(LeastSquaresConvergence, EachModeStopsAfterTheFirstStepBelowItsLimit) {
    const Truth t{120.7, 119.2, -15.4};
    const cv::Mat img = render_instance(shape(), t);
    int early_mode5 = 0, full_mode5 = 0;
    const double offsets[][3] = {{0, 0, 0}, {0.02, -0.01, 0.01}, {0.3, -0.2, 0.4}, {0.8, 0.6, -1}};
    for (const auto& off : offsets) {
        for (int mode : {2, 4, 5}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " offset " << off[0]);
            const quro::LeastSquaresRun& run = *quro::least_squares_run(mode);
            Match m = candidate(t, off[0], off[1], off[2]);
            const Match start = m;
            const LeastSquaresTrace tr = refine(m, img, 0, mode, *rec, cell_values(*rec, mode));
            expect_stops_at_first_small_step(tr, run, start, m);
            const bool early = tr.end == LeastSquaresEnd::kConverged &&
                               tr.steps.size() < static_cast<std::size_t>(run.iterations);
            if (mode == 5) {
                early_mode5 += early;
                full_mode5 += tr.steps.size() == 4u;
            }
        }
    }
    // Both ways out were taken: near the truth mode 5 ends early, far from it it runs all four.
    EXPECT_GE(early_mode5, 1);
    EXPECT_GE(full_mode5, 1);
}

TEST_F(LeastSquaresConvergence, ModeTwoFromTheTruthStopsAfterOneIteration) {
    const Truth t{120.0, 120.0, 0.0};
    const cv::Mat img = render_instance(shape(), t);
    Match m = candidate(t, 0, 0, 0);
    const LeastSquaresTrace tr = refine(m, img, 0, 2, *rec, cell_values(*rec, 2));
    EXPECT_EQ(tr.end, LeastSquaresEnd::kConverged);
    EXPECT_EQ(tr.steps.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Robust weights

// A 120 x 80 rectangle, with or without a 2-pixel bulge outwards along 40 pixels of its top side.
std::vector<cv::Point2f> rectangle_with_bulge(bool bulge) {
    if (!bulge) return quro_test::rectangle_outline(60.f, 40.f);
    return {{-60, -40}, {-50, -40}, {-50, -42}, {-10, -42},
            {-10, -40}, {60, -40},  {60, 40},   {-60, 40}};
}

TEST(LeastSquaresRobustness, BulgePullsUnitWeightsButNotTukeyWeights) {
    ScopedModel model;
    ASSERT_NO_FATAL_FAILURE(create_model(rectangle_with_bulge(false), model));
    const auto rec = model.record();
    const Truth t{120.4, 119.7, 7.0};
    const cv::Mat clean = render_instance(rectangle_with_bulge(false), t);
    const cv::Mat bulged = render_instance(rectangle_with_bulge(true), t);
    const std::vector<int> unit_weights{1, 1, 1};   // cell value 1: every weight is 1
    const std::vector<int> tukey_weights{0, 1, 1};  // cell value 0 on full resolution

    auto run = [&](const cv::Mat& img, const std::vector<int>& cells) {
        Match m = candidate(t, 0.1, -0.1, 0.1);
        refine(m, img, 0, 2, *rec, cells);
        return m;
    };
    // Without the bulge both weightings find the truth.
    EXPECT_LT(position_error(run(clean, unit_weights), t), 0.05);
    EXPECT_LT(position_error(run(clean, tukey_weights), t), 0.05);
    // The bulge's edge lies 2 pixels off the model: unit weights follow it, Tukey weights drop it.
    const Match pulled = run(bulged, unit_weights);
    const Match kept = run(bulged, tukey_weights);
    EXPECT_GT(position_error(pulled, t), 0.15);
    EXPECT_LT(position_error(kept, t), 0.05);
    EXPECT_NEAR(kept.angle, t.angle, 0.05);
}

// Weights computed in double from the definition: biweight around the median with a MAD scale.
std::vector<double> reference_weights(const std::vector<float>& d) {
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const std::size_t h = v.size() / 2;
        return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
    };
    const std::vector<double> dd(d.begin(), d.end());
    const double m = median(dd);
    std::vector<double> dev;
    for (double x : dd) dev.push_back(std::abs(x - m));
    const double t = std::max(0.05, 1.4826 * median(dev)) * 4.685;
    std::vector<double> w;
    for (double x : dd) {
        const double u = (x - m) / t;
        w.push_back(std::abs(x - m) > t ? 0.0 : (1 - u * u) * (1 - u * u));
    }
    return w;
}

TEST(LeastSquaresWeights, TukeyBelowCellValueOneMatchesTheDefinition) {
    std::mt19937 rng(7);
    std::normal_distribution<float> inlier(0.1f, 0.2f);
    std::uniform_real_distribution<float> outlier(-4.f, 4.f);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 120);
        std::vector<float> d;
        for (int i = 0; i < n; ++i) d.push_back(rng() % 5 == 0 ? outlier(rng) : inlier(rng));
        if (trial % 10 == 0) d.assign(d.size(), 0.25f);  // MAD 0: the floor of 0.05 applies
        std::vector<float> w;
        const int counted = quro::least_squares_weights(d, 0, w);
        const std::vector<double> ref = reference_weights(d);
        ASSERT_EQ(w.size(), d.size());
        int expected = 0;
        for (int i = 0; i < n; ++i) {
            ASSERT_NEAR(w[i], ref[i], 2e-5) << "trial " << trial << " point " << i;
            expected += w[i] > 1e-5f;
        }
        EXPECT_EQ(counted, expected);
        EXPECT_GT(counted, 0);  // the median point always weighs something
    }
}

TEST(LeastSquaresWeights, CellValueOneOrMoreWeighsEveryPointOne) {
    const std::vector<float> d{0.f, 0.1f, -3.f, 25.f, 0.05f};
    for (int cell : {1, 2, 32}) {
        std::vector<float> w;
        EXPECT_EQ(quro::least_squares_weights(d, cell, w), 5);
        EXPECT_EQ(w, std::vector<float>(5, 1.f));
    }
    std::vector<float> w{3.f};
    EXPECT_EQ(quro::least_squares_weights({}, 0, w), 0);
    EXPECT_TRUE(w.empty());
}

// Vertical steps 60 | 130 | 200 with a 5-pixel middle band (columns 98..102) and anti-aliased
// columns 97 and 103: both steps rise to the right, so seen from the band's middle they agree
// equally with a model direction (1, 0).
cv::Mat two_equal_steps(bool with_left_step) {
    cv::Mat img(120, 200, CV_8U);
    for (int c = 0; c < img.cols; ++c) {
        int v = c <= 96 ? 60 : c == 97 ? 95 : c <= 102 ? 130 : c == 103 ? 165 : 200;
        if (!with_left_step && c <= 102) v = 130;
        img.col(c).setTo(v);
    }
    return img;
}

TEST(LeastSquaresCorrespondence, EqualAgreementsForwardAndBackwardGiveNone) {
    std::vector<quro::Feature> pts;
    for (int i = 0; i < 40; ++i) pts.emplace_back(0.f, static_cast<float>(i - 20), 1.f, 0.f);
    const quro::ShapeModelRecord rec = quro_test::record_with_levels({pts}, 40, 40);
    const std::vector<int> cells{1};
    for (int x : {100, 101}) {
        SCOPED_TRACE(x);
        Match both(x, 60, 0.9f, 0.f, 1.f, 0, 1);
        both.scale_col = 1.f;
        const LeastSquaresTrace none = refine(both, two_equal_steps(true), 0, 2, rec, cells);
        EXPECT_EQ(none.correspondences, 0);
        // Without the left step the right one is found from the same place.
        Match one = both;
        const LeastSquaresTrace found = refine(one, two_equal_steps(false), 0, 2, rec, cells);
        EXPECT_EQ(found.correspondences, 40);
    }
}

// ---------------------------------------------------------------------------------------------
// Pose sources

TEST_F(LeastSquaresPoseSource, AnisotropicSourcePosesWithBothScales) {
    const Truth t{120.35, 120.6, 25.0};
    const cv::Mat img = render_instance(shape(), t, 0.9f, 1.15f);
    const std::vector<int> cells = cell_values(*rec, 2);

    Match aniso = candidate(t, 0.3, -0.2, 0.4);
    aniso.scale_row = 0.9f;
    aniso.scale_col = 1.15f;
    refine(aniso, img, 0, 2, *rec, cells, PoseSource::aniso());
    EXPECT_LT(position_error(aniso, t), 0.05);
    EXPECT_NEAR(aniso.angle, t.angle, 0.05);
    EXPECT_EQ(aniso.scale_row, 0.9f);  // the scales stay
    EXPECT_EQ(aniso.scale_col, 1.15f);
}

TEST_F(LeastSquaresPoseSource, MovedPointsSearchTheirEdgesWhereTheHookPutsThem) {
    const Truth t{120.2, 119.9, -30.0};
    // The instance is drawn 1.5 pixels to the right of the pose; a field moving every point by
    // that much accounts for it, so the pose itself must come out at the truth.
    const cv::Mat img = render_instance(shape(), Truth{t.x + 1.5, t.y, t.angle});
    const std::vector<int> cells = cell_values(*rec, 2);
    PoseSource deformed;
    int calls = 0;
    deformed.move_points = [&](const Match& cand, std::vector<quro::Feature>& pts) {
        EXPECT_EQ(cand.model_id, 7);
        ++calls;
        for (quro::Feature& p : pts) p.x += 1.5f;
    };
    Match m = candidate(t, 0.3, -0.2, 0.4);
    m.model_id = 7;
    const LeastSquaresTrace tr = refine(m, img, 0, 2, *rec, cells, deformed);
    ASSERT_FALSE(tr.steps.empty());
    EXPECT_EQ(calls, static_cast<int>(tr.steps.size()));  // once per iteration
    EXPECT_LT(position_error(m, t), 0.05);
    EXPECT_NEAR(m.angle, t.angle, 0.05);
}

// ---------------------------------------------------------------------------------------------
// Parallel loops, several candidates, bad input

TEST(LeastSquaresPointLoops, ParallelAndSerialAgreeExactly) {
    ScopedModel model;
    ASSERT_NO_FATAL_FAILURE(create_model(shape(), model, 1));  // level 1 only: step 1, many points
    const auto rec = model.record();
    const Truth t{120.45, 119.35, 61.0};
    const cv::Mat img = render_instance(shape(), t);
    quro::LeastSquaresLevel lvl;
    lvl.image = &img;
    lvl.level = 0;
    lvl.levels_used = 1;
    lvl.cell_value = 0;
    lvl.min_contrast = kMinContrast;
    const quro::LeastSquaresRun& run = *quro::least_squares_run(5);
    Match a = candidate(t, 0.3, -0.2, 0.4);
    Match b = a;
    const LeastSquaresTrace ta =
        quro::refine_match_least_squares(a, lvl, run, *rec, PoseSource::rigid(), false);
    const LeastSquaresTrace tb =
        quro::refine_match_least_squares(b, lvl, run, *rec, PoseSource::rigid(), true);
    ASSERT_GT(ta.sampled_points, 200);  // well above the serial limit
    EXPECT_TRUE(same_pose(a, b));
    EXPECT_EQ(ta.weighted_points, tb.weighted_points);
    ASSERT_EQ(ta.steps.size(), tb.steps.size());
    for (std::size_t i = 0; i < ta.steps.size(); ++i) {
        EXPECT_EQ(ta.steps[i].row, tb.steps[i].row);
        EXPECT_EQ(ta.steps[i].col, tb.steps[i].col);
        EXPECT_EQ(ta.steps[i].angle, tb.steps[i].angle);
    }
    EXPECT_LT(position_error(a, t), 0.05);
}

TEST_F(LeastSquaresLoops, CandidatesAreRefinedEachWithItsOwnPose) {
    // Two instances side by side in one wide image.
    const Truth left{90.3, 120.6, 10.0}, right{260.8, 119.1, -70.0};
    cv::Mat img = render(shape(), cv::Size(361, 241), PolygonPose{90.3f, 120.6f, 10.f});
    const cv::Mat r = render(shape(), cv::Size(361, 241), PolygonPose{260.8f, 119.1f, -70.f});
    cv::max(img, r, img);  // same background, so the brighter pixel is the shape's
    std::vector<Match> cands{candidate(left, 0.3, -0.2, 0.4), candidate(right, -0.25, 0.3, -0.4)};
    std::vector<LeastSquaresTrace> traces;
    quro::refine_matches_least_squares(cands, ls_level(img, 0, *rec, cell_values(*rec, 2)), 2, *rec,
                                       PoseSource::rigid(), &traces);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_LT(position_error(cands[0], left), 0.05);
    EXPECT_LT(position_error(cands[1], right), 0.05);
    EXPECT_NEAR(cands[0].angle, left.angle, 0.05);
    EXPECT_NEAR(cands[1].angle, right.angle, 0.05);
}

TEST_F(LeastSquaresBadInput, LeavesCandidatesAloneWithoutCrashing) {
    const Truth t{120.3, 119.7, 5.0};
    const cv::Mat img = render_instance(shape(), t);
    const std::vector<int> cells = cell_values(*rec, 2);
    const Match start = candidate(t, 0.3, -0.2, 0.4);
    std::vector<LeastSquaresTrace> traces;

    auto unchanged = [&](const cv::Mat& image, int level, int mode) {
        std::vector<Match> cands{start};
        const std::vector<int> one(8, 1);
        quro::LeastSquaresLevel lvl = ls_level(image, std::max(level, 0), *rec, one);
        lvl.level = level;
        quro::refine_matches_least_squares(cands, lvl, mode, *rec, PoseSource::rigid(), &traces);
        return same_pose(cands[0], start);
    };
    EXPECT_TRUE(unchanged(img, 0, 0));  // no least squares in mode 0
    EXPECT_TRUE(traces.empty());
    EXPECT_TRUE(unchanged(img, 0, 1));  // nor in mode 1
    EXPECT_TRUE(unchanged(cv::Mat(), 0, 2));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].end, LeastSquaresEnd::kError);
    cv::Mat img16;
    img.convertTo(img16, CV_16U);
    EXPECT_TRUE(unchanged(img16, 0, 2));
    EXPECT_TRUE(unchanged(img, -1, 2));
    EXPECT_TRUE(unchanged(img, 5, 2));  // beyond the model's levels

    // A candidate far outside the image or with a non-finite offset finds no edge.
    std::vector<Match> odd{start, start, start};
    odd[0].x = 1 << 29;
    odd[1].dx = std::numeric_limits<float>::quiet_NaN();
    odd[2].dy = std::numeric_limits<float>::infinity();
    quro::refine_matches_least_squares(odd, ls_level(img, 0, *rec, cells), 2, *rec,
                                       PoseSource::rigid(), &traces);
    ASSERT_EQ(traces.size(), 3u);
    for (const LeastSquaresTrace& tr : traces) {
        EXPECT_EQ(tr.correspondences, 0);
        EXPECT_EQ(tr.end, LeastSquaresEnd::kTooFewPoints);
    }
    EXPECT_EQ(odd[0].x, 1 << 29);
    EXPECT_EQ(odd[2].dy, std::numeric_limits<float>::infinity());

    // A hook that throws ends that candidate only; the next one is still refined.
    PoseSource throwing;
    throwing.move_points = [](const Match& cand, std::vector<quro::Feature>&) {
        if (cand.model_id == 1) throw std::runtime_error("field lookup failed");
    };
    std::vector<Match> two{start, start};
    two[0].model_id = 1;
    two[1].model_id = 2;
    quro::refine_matches_least_squares(two, ls_level(img, 0, *rec, cells), 2, *rec, throwing,
                                       &traces);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[0].end, LeastSquaresEnd::kError);
    EXPECT_TRUE(same_pose(two[0], start));
    EXPECT_LT(position_error(two[1], t), 0.05);
}

}  // namespace

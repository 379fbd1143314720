// Scale refinement: the walk on a polygon rendered at a known scale, its exits and the mended
// cases (equal scores, no accepted trial), and the nine anisotropic trials within their ranges.
#include "quro/match/refine/scale_refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "testing/normal_maps.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "testing/refine_level.h"

namespace {

using quro::Match;

// The irregular polygon rendered at (200.4, 170.7), angle 0 and the given scales; candidates come
// from the level above at (100, 85), refined onto level 0 with factor 2.
struct Scene {
    std::vector<cv::Point2f> outline = quro_test::irregular_outline(240.f);
    quro::ShapeModelRecord rec = quro_test::polygon_model(outline, 2);
    cv::Mat nx, ny;
    std::vector<int> cells, order;
    quro::Stopwatch sw;
    Scene(float scale_row, float scale_col) {
        const cv::Mat image = quro_test::render_polygon(
            outline, cv::Size(400, 340), {200.4f, 170.7f, 0.f, scale_row, scale_col});
        quro::_getNormal33(image, nx, 10.f, ny);
        quro::feature_cell_index(rec, 1, 2, cells);
        order = quro::argsort_int(cells);
        rec.scale_min = rec.scale_row_min = rec.scale_col_min = 0.8f;
        rec.scale_max = rec.scale_row_max = rec.scale_col_max = 1.2f;
    }
    // Without cells (cell value 1), or on the scene's partition (4).
    quro::RefineLevel level(int cell_value = 1) const {
        return quro_test::refine_level(nx, ny, 0, rec, 0, 0, 2.f, 0.5f, 1, 2, sw, 0, cell_value,
                                       &cells, &order);
    }
};

Match candidate(float scale_row = 1.f, float scale_col = 1.f) {
    return Match(100, 85, 0.9f, 0.f, scale_row, scale_col, 0, static_cast<signed char>(1));
}

TEST(RefineScale, WalksFromOneToTheRenderedScale) {
    const Scene s(1.06f, 1.06f);
    for (const int cell_value : {1, 4}) {
        Match c = candidate();
        quro::refine_scale(s.level(cell_value), 0.02f, c);
        EXPECT_NEAR(c.scale_row, 1.06f, 0.01f);
        EXPECT_EQ(c.scale_col, c.scale_row);
        EXPECT_LE(std::abs(c.x - 200), 1);
        EXPECT_LE(std::abs(c.y - 171), 1);
        EXPECT_GT(c.score, 0.7f);
    }
}

TEST(RefineScale, StopsAtTheFirstTrialOutsideTheRange) {
    Scene s(1.06f, 1.06f);
    s.rec.scale_max = 1.02f;  // trials 1.00, 1.02 (higher), 1.04 (outside)
    Match c = candidate();
    quro::refine_scale(s.level(), 0.02f, c);
    Match only = candidate(1.02f);  // a step of 0 tries the candidate's scale alone
    quro::refine_scale(s.level(), 0.f, only);
    EXPECT_EQ(c.scale_row, 1.02f);  // the best accepted trial, with its score
    EXPECT_EQ(c.score, only.score);
    EXPECT_EQ(only.scale_row, 1.02f);
}

// An instance within half a step of a range end, walked from that end: the trial one step inside
// scores lower than the end, so only a trial halfway between them finds the peak (the walk used to
// stay at the range end, 0.015 off).
TEST(RefineScale, FindsAPeakBetweenTheRangeEndAndTheNextStep) {
    for (const auto& [rendered, lo, hi] : {std::tuple{1.015f, 1.f, 1.2f}, {0.985f, 0.8f, 1.f}}) {
        Scene s(rendered, rendered);
        s.rec.scale_min = lo;
        s.rec.scale_max = hi;
        Match c = candidate();
        quro::refine_scale(s.level(), 0.04f, c);
        EXPECT_NEAR(c.scale_row, rendered, 0.007f) << rendered;
        EXPECT_GT(c.score, 0.7f);
    }
}

// A single point at the reference point, from (15, 12) on the level above with steps of 0.1, on
// maps that score 1 at (30, 24) or nothing anywhere. Equal scores at every scale leave no vertex
// and accept only the first trial; no accepted trial still moves the position to this level.
TEST(RefineScale, EqualScoresKeepTheFirstScaleAndNoAcceptedTrialMovesThePosition) {
    auto rec = quro_test::record_with_levels({{{0.f, 0.f, 1.f, 0.f}}, {{0.f, 0.f, 1.f, 0.f}}});
    rec.scale_min = 0.5f;
    rec.scale_max = 2.f;
    const quro::Stopwatch sw;
    for (const float peak : {1.f, 0.f}) {
        const auto m = quro_test::directed_maps(50, 60, 0.0, [peak](int c, int r) {
            return std::max(0.0, peak - 0.05 * std::hypot(c - 30, r - 24));
        });
        Match c(15, 12, 0.9f, 0.f, 1.f, 1.f, 0, static_cast<signed char>(1));
        quro::refine_scale(
            quro_test::refine_level(m.nx, m.ny, 0, rec, 0, 0, 2.f, 0.f, 1, 2, sw, 0), 0.1f, c);
        EXPECT_EQ(c.scale_row, 1.f);
        EXPECT_EQ(c.score, peak);
        EXPECT_EQ(c.x, 30);
        EXPECT_EQ(c.y, 24);
    }
}

// Row trials outer, column trials inner; a trial beyond a range end is left out (a range that ends
// below the stretch keeps the column scale inside it) or tries the end, in both variants.
TEST(RefineScalesAniso, FindsTheStretchWithinTheRanges) {
    Scene s(1.f, 1.06f);
    for (const int cell_value : {1, 4}) {
        for (const auto& [col_min, col_max, col] :
             {std::tuple{0.8f, 1.2f, 1.06f}, {0.8f, 1.03f, 1.03f}, {1.f, 1.f, 1.f}}) {
            s.rec.scale_col_min = col_min;
            s.rec.scale_col_max = col_max;
            for (const auto ends : {quro::RangeEnds::skipped, quro::RangeEnds::tried}) {
                Match c = candidate();
                quro::refine_scales_aniso(s.level(cell_value), 0.06f, 0.06f, ends, c);
                EXPECT_EQ(c.scale_row, 1.f);
                const bool skip = ends == quro::RangeEnds::skipped && col_max == 1.03f;
                EXPECT_EQ(c.scale_col, skip ? 1.f : col) << col_max;
                EXPECT_GT(c.score, 0.f);
            }
        }
    }
}

}  // namespace

// The long stages of a search stop inside, between pieces of their work, once the time-out has
// passed. A stopwatch whose clock the test steps (testing/test_clock.h) lets it pass after the
// stage's entry check (for the response maps: after the check that used to follow the codes).
#include <gtest/gtest.h>

#include <vector>

#include "quro/match/refine/normals.h"
#include "quro/match/select/cluster.h"
#include "quro/search/core/level_stages.h"
#include "quro/search/core/search_input.h"
#include "quro/search/core/search_state.h"
#include "testing/clutter_scene.h"
#include "testing/records.h"
#include "testing/test_clock.h"

namespace {

TEST(StopChecks, NormalMapsStopWithinABandOfRows) {
    const cv::Mat level = quro_test::clutter_scene(300, 512);
    cv::Mat nx(512, 300, CV_32F, cv::Scalar(NAN)), ny = nx.clone();
    const quro::Stopwatch sw = quro_test::stopwatch_expiring_after(1);
    EXPECT_FALSE(
        quro::compute_normals(level, nx, 5.f, ny, 0, quro::KernelPath::automatic, {{sw, 1}}));
    int written = 0;  // rows without the NaN they were filled with
    for (int r = 0; r < nx.rows; ++r) written += cv::checkRange(nx.row(r)) ? 1 : 0;
    EXPECT_GE(written, 1);
    EXPECT_LE(written, quro::kNormalCheckRows);
}

TEST(StopChecks, StagesGiveUpOnceTheTimeOutPassesInside) {
    const cv::Mat level = quro_test::clutter_scene(512, 512);
    std::vector<cv::Mat> maps;
    for (int stage = 0; stage < 2; ++stage) {
        quro::SearchState st;
        st.deadline.timeout_ms = 1;
        st.pyramid = {level};
        st.normals.nx.assign(1, cv::Mat());
        st.normals.ny.assign(1, cv::Mat());
        st.sw = quro_test::stopwatch_expiring_after(stage + 1);
        EXPECT_EQ(stage == 0 ? quro::compute_level_normals(st, 0, 0)
                             : quro::level_response_maps(st, 0, 5.f, false, maps),
                  -2) << stage;
    }
    EXPECT_TRUE(maps.empty());
    // The pyramid stops before its next level, the least squares before their next candidate,
    // the clustering leaves its candidates as they were.
    const quro::Stopwatch sw = quro_test::stopwatch_expiring_after(1);
    const auto pyr = quro::build_search_pyramid(level.data, level.cols, level.rows, 4, {{sw, 1}});
    EXPECT_TRUE(pyr.size() == 4 && !pyr[1].empty() && pyr[2].empty() && pyr[3].empty());
    const quro::Stopwatch late = quro_test::expired_stopwatch();
    std::vector<quro::Match> grid;
    for (int i = 0; i < 400; ++i) grid.emplace_back(i % 20, i / 20, 0.5f + 0.001f * i);
    const quro::ShapeModelRecord rec = quro_test::simple_record(40);
    for (const int timeout : {1, 0})
        EXPECT_EQ(
            quro::refine_matches_least_squares(
                grid,
                {.image = &level, .level = 0, .levels_used = 1, .cell_value = 1, .min_contrast = 5},
                2, rec, quro::PoseSource::rigid(), nullptr, {{late, timeout}}),
            timeout == 0);
    std::vector<quro::Match> c = grid;
    quro::cluster_candidates(c, 5.f, 0, {{late, 1}});
    EXPECT_EQ(c.size(), grid.size());
    quro::cluster_candidates(c, 5.f, 0);
    EXPECT_LT(c.size(), grid.size());
}

}  // namespace

// The top level of a search end to end: a rendered shape, its orientation codes and response
// maps, every angle of a full turn scored and its peaks extracted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/response_maps.h"
#include "quro/match/coarse/score_accumulation.h"
#include "testing/clutter_scene.h"
#include "testing/polygon_model.h"

namespace {

using quro::Match;

constexpr int kLevels = 3;
constexpr int kTop = kLevels;  // 1-based level of the coarse search

struct CoarseResult {
    std::vector<Match> candidates;  // all poses, angle after angle
    float step = 0.f;
};

// Scores every angle of [0, 360) on the top level of `image` and gathers the peaks; `scoped`
// scores as the searches do (response values, only the positions the extraction reads).
CoarseResult coarse_search(const quro::ShapeModelRecord& rec, const cv::Mat& image, int metric,
                           float min_score, bool vector_path, bool scoped = false,
                           float scale = 1.f) {
    cv::Mat level = image;
    for (int k = 1; k < kTop; ++k) cv::pyrDown(level, level);
    const quro::OutlineBox box = quro::outline_box(rec, kTop);
    cv::Mat codes;
    quro::quantizedOrientations16(level, codes, 10.f, box.radius);
    std::vector<cv::Mat> maps;
    if (metric == 0)
        quro::computeResponseMaps16Abs(codes, maps);
    else
        quro::computeResponseMaps16(codes, maps);
    CoarseResult res;
    res.step = quro::angle_step(rec, kTop);
    std::vector<float> angles;
    quro::angle_list(rec, angles, kTop, 360.f, 0.f);
    quro::Stopwatch sw;
    quro::QuantizedTemplate tpl;
    for (const float a : angles) {
        quro::quantized_template(rec, tpl, kTop, scale, a);
        cv::Mat score, polarity;
        const quro::ScoreScope scope{quro::MapValues::responses,
                                     quro::peak_read_window(maps[0].size(), tpl, box)};
        quro::accumulate_similarity_with(
            maps, tpl, metric, score, polarity, {sw, 0},
            vector_path ? quro::KernelPath::vector : quro::KernelPath::scalar,
            scoped ? scope : quro::ScoreScope{});
        std::vector<Match> peaks;
        quro::extract_peaks(score, tpl, min_score, 0.5f, box, a, scale, peaks, {sw, 0}, polarity);
        res.candidates.insert(res.candidates.end(), peaks.begin(), peaks.end());
    }
    return res;
}

float angle_difference(float a, float b) {
    const float d = std::fmod(std::fabs(a - b), 360.f);
    return std::min(d, 360.f - d);
}

const Match& best_of(const std::vector<Match>& ms) {
    return *std::max_element(ms.begin(), ms.end(),
                             [](const Match& a, const Match& b) { return a.score < b.score; });
}

class CoarseSearch : public testing::TestWithParam<bool> {};

TEST_P(CoarseSearch, FindsARenderedShapeAtTwentyDegrees) {
    const bool vector_path = GetParam();
    const auto outline = quro_test::irregular_outline(160.f);
    const quro::ShapeModelRecord rec = quro_test::polygon_model(outline, kLevels);
    const quro_test::PolygonPose pose{203.f, 157.f, 20.f, 1.f, 1.f};
    const cv::Mat image = quro_test::render_polygon(outline, cv::Size(400, 320), pose);
    const CoarseResult res = coarse_search(rec, image, 1, 0.5f, vector_path);
    ASSERT_FALSE(res.candidates.empty());
    const Match& best = best_of(res.candidates);
    // The top level is the full image reduced by 4 (pyramid pixel 2i sits on pixel i).
    EXPECT_LE(std::fabs(best.x - pose.cx / 4.f), 1.f) << best.x;
    EXPECT_LE(std::fabs(best.y - pose.cy / 4.f), 1.f) << best.y;
    EXPECT_LE(angle_difference(best.angle, 20.f), res.step) << best.angle;
    EXPECT_GE(best.score, 0.8f);
    EXPECT_EQ(best.flag, 1);
}

TEST_P(CoarseSearch, NegativeMetricFindsReversedContrastWithPolarityMinusOne) {
    const bool vector_path = GetParam();
    const auto outline = quro_test::irregular_outline(160.f);
    const quro::ShapeModelRecord rec = quro_test::polygon_model(outline, kLevels);
    const quro_test::PolygonPose pose{190.f, 170.f, 20.f, 1.f, 1.f};
    // Dark shape on a bright ground: every model direction meets the opposite image direction.
    const cv::Mat image = quro_test::render_polygon(outline, cv::Size(400, 320), pose, 50, 210);
    const CoarseResult signed_res = coarse_search(rec, image, 1, 0.5f, vector_path);
    for (const Match& m : signed_res.candidates) EXPECT_LT(m.score, 0.5f + 1e-6f);
    const CoarseResult res = coarse_search(rec, image, -1, 0.5f, vector_path);
    ASSERT_FALSE(res.candidates.empty());
    const Match& best = best_of(res.candidates);
    EXPECT_LE(std::fabs(best.x - pose.cx / 4.f), 1.f);
    EXPECT_LE(std::fabs(best.y - pose.cy / 4.f), 1.f);
    EXPECT_LE(angle_difference(best.angle, 20.f), res.step);
    EXPECT_GE(best.score, 0.8f);
    EXPECT_EQ(best.flag, -1);
}

TEST_P(CoarseSearch, ScoringOnlyWhatTheExtractionReadsKeepsEveryPeak) {
    const auto outline = quro_test::irregular_outline(160.f);
    const quro::ShapeModelRecord rec = quro_test::polygon_model(outline, kLevels);
    // Peaks up to the edges; the top level wide enough to skip the columns beside the window.
    const cv::Mat image = quro_test::clutter_scene(1100, 240);
    for (const int metric : {-1, 0, 1}) {
        for (const float scale : {1.f, 1.25f}) {  // above 1 the scan reaches partial sums
            SCOPED_TRACE(testing::Message() << "metric " << metric << " scale " << scale);
            const auto full = coarse_search(rec, image, metric, 0.2f, GetParam(), false, scale);
            const auto part = coarse_search(rec, image, metric, 0.2f, GetParam(), true, scale);
            ASSERT_GT(full.candidates.size(), 20u);
            ASSERT_EQ(part.candidates.size(), full.candidates.size());
            for (std::size_t i = 0; i < full.candidates.size(); ++i) {
                const Match &a = full.candidates[i], &b = part.candidates[i];
                EXPECT_TRUE(a == b && a.angle == b.angle && a.flag == b.flag) << "peak " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LanePaths, CoarseSearch, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                             return i.param ? std::string("Vector") : std::string("OneLane");
                         });

}  // namespace

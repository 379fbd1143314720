#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/quro.h"
#include "quro/result_registry.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;

const std::vector<PartPose> kTwo = {{70.4, 80.2, 15.0}, {200.7, 110.3, -70.0}};

cv::Mat two_instances() { return quro_test::render_part_scene(cv::Size(280, 200), kTwo); }

bool same_matches(const std::vector<quro::Match>& a, const std::vector<quro::Match>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].angle != b[i].angle ||
            a[i].score != b[i].score || a[i].dx != b[i].dx || a[i].dy != b[i].dy)
            return false;
    return true;
}

TEST_F(PartModel, MaskOfOnesOrNoMaskGivesTheUnmaskedResult) {
    const cv::Mat scene = two_instances();
    const cv::Mat ones(scene.size(), CV_8U, cv::Scalar(255));
    const Found plain = find(scene);
    ASSERT_EQ(plain.matches.size(), 2u);
    EXPECT_TRUE(same_matches(plain.matches, find(scene, 0, 360, 0.6f, 0, 0.5f, 2, {0, 0}, &ones)
                                                .matches));
    quro::Match* res = nullptr;
    int count = 0;
    int lv[2] = {0, 0};
    const int h = find_shape_model_2(scene.data, scene.cols, scene.rows, id_, 0.f, 360.f, 0.6f, 0,
                                     0.5f, 2, lv, 0.8f, nullptr, res, count);
    ASSERT_GE(h, 1);
    EXPECT_TRUE(same_matches(plain.matches, std::vector<quro::Match>(res, res + count)));
    clear_mems(h);
}

TEST_F(PartModel, MaskOfZerosOnlyHidesTheRefinedLevels) {
    const cv::Mat scene = two_instances();
    const cv::Mat zeros(scene.size(), CV_8U, cv::Scalar(0));
    // A single-level search never refines, so the mask cannot act.
    const Found one = find(scene, 0, 360, 0.6f, 0, 0.5f, 2, {1, 1});
    const Found one_masked = find(scene, 0, 360, 0.6f, 0, 0.5f, 2, {1, 1}, &zeros);
    ASSERT_EQ(one.matches.size(), 2u);
    EXPECT_TRUE(same_matches(one.matches, one_masked.matches));
    // With refinement at full resolution every candidate loses its score.
    EXPECT_TRUE(find(scene, 0, 360, 0.6f, 0, 0.5f, 2, {0, 0}, &zeros).matches.empty());
}

TEST_F(PartModel, MaskedInstanceIsNotFound) {
    const cv::Mat scene = two_instances();
    cv::Mat mask(scene.size(), CV_8U, cv::Scalar(255));
    // Cover the first instance (its plate's circumscribed circle, plus a few pixels).
    cv::circle(mask, cv::Point(70, 80), 56, cv::Scalar(0), cv::FILLED);
    const Found f = find(scene, 0, 360, 0.6f, 0, 0.5f, 2, {0, 0}, &mask);
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_NEAR(f.matches[0].x + f.matches[0].dx, kTwo[1].x, 0.2);
    EXPECT_NEAR(f.matches[0].y + f.matches[0].dy, kTwo[1].y, 0.2);
}

struct Details {
    int handle = 0;
    quro::MatchDetails* d = nullptr;
};

Details details_of(const cv::Mat& img, std::vector<quro::Match>& ms, const cv::Mat* mask = nullptr,
                   float min_contrast = 10.f) {
    Details r;
    r.handle = mask ? get_match_details2(img.data, img.cols, img.rows, min_contrast, ms.data(),
                                         static_cast<int>(ms.size()), mask->data, r.d)
                    : get_match_details(img.data, img.cols, img.rows, min_contrast, ms.data(),
                                        static_cast<int>(ms.size()), r.d);
    return r;
}

double mean_score(const quro::MatchDetails& d) {
    double s = 0;
    for (int k = 0; k < d.count; ++k) s += d.scores[k];
    return d.count ? s / d.count : 0.0;
}

TEST_F(PartModel, DetailsOfAPerfectInstanceAgreeAlmostEverywhere) {
    const cv::Mat scene = two_instances();
    Found f = find(scene);
    ASSERT_EQ(f.matches.size(), 2u);
    Details r = details_of(scene, f.matches);
    ASSERT_GE(r.handle, 1);
    quro::ResultEntry e{};
    ASSERT_TRUE(quro::lookup_result(r.handle, &e));
    EXPECT_EQ(e.kind, quro::kResultDetails);
    EXPECT_EQ(e.count, 2);
    for (int i = 0; i < 2; ++i) {
        const quro::MatchDetails& d = r.d[i];
        EXPECT_GT(d.count, 100);
        EXPECT_GT(mean_score(d), 0.9);
        EXPECT_FLOAT_EQ(d.x, f.matches[i].x + f.matches[i].dx);
        EXPECT_FLOAT_EQ(d.y, f.matches[i].y + f.matches[i].dy);
        EXPECT_EQ(d.match.score, f.matches[i].score);
        EXPECT_LT(d.min_x, 0);
        EXPECT_LT(d.min_y, 0);
    }
    EXPECT_EQ(clear_mems(r.handle), 0);
}

TEST_F(PartModel, DetailsScoreZeroOutsideTheImageAndUnderAZeroMask) {
    const PartPose p{20.3, 70.6, 0.0};  // the left part of the plate is outside the image
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(160, 140), {p});
    std::vector<quro::Match> ms = {quro::Match(20, 71, 0.8f, 0.f, 1.f, id_)};
    ms[0].scale_col = 1.f;
    ms[0].dx = 0.3f;
    ms[0].dy = -0.4f;
    Details r = details_of(scene, ms);
    ASSERT_GE(r.handle, 1);
    const quro::MatchDetails& d = r.d[0];
    int outside = 0, inside_edges = 0;
    for (int k = 0; k < d.count; ++k) {
        const double x = d.x + d.points[k].x;
        if (x < -0.5) {
            ++outside;
            EXPECT_EQ(d.scores[k], 0.f);
        } else if (x > 2 && d.scores[k] > 0.9f) {
            ++inside_edges;
        }
    }
    EXPECT_GT(outside, 10);
    EXPECT_GT(inside_edges, 50);
    clear_mems(r.handle);

    const cv::Mat zeros(scene.size(), CV_8U, cv::Scalar(0));
    Details z = details_of(scene, ms, &zeros);
    for (int k = 0; k < z.d[0].count; ++k) EXPECT_EQ(z.d[0].scores[k], 0.f);
    clear_mems(z.handle);
}

TEST_F(PartModel, ReversedContrastScoresNearMinusOne) {
    const PartPose p{90.0, 80.0, 25.0};
    cv::Mat scene = quro_test::render_part_scene(cv::Size(180, 160), {p});
    std::vector<quro::Match> ms = {quro::Match(90, 80, 0.8f, 25.f, 1.f, 1.f, id_, 1)};
    cv::Mat inverted = 255 - scene;
    Details r = details_of(inverted, ms);
    ASSERT_GE(r.handle, 1);
    EXPECT_LT(mean_score(r.d[0]), -0.9);
    clear_mems(r.handle);
}

TEST_F(PartModel, DetailsOfNothingRegisterNothing) {
    const cv::Mat scene = two_instances();
    quro::MatchDetails sentinel;
    quro::MatchDetails* d = &sentinel;
    const std::size_t before = quro::registered_result_count();
    quro::Match m(1, 1, 0.5f);
    EXPECT_EQ(get_match_details(scene.data, scene.cols, scene.rows, 10.f, &m, 0, d), 0);
    EXPECT_EQ(get_match_details(scene.data, scene.cols, scene.rows, 10.f, nullptr, -3, d), 0);
    EXPECT_EQ(d, &sentinel);
    EXPECT_EQ(get_match_details(nullptr, scene.cols, scene.rows, 10.f, &m, 1, d), -1);
    EXPECT_EQ(get_match_details(scene.data, scene.cols, scene.rows, 10.f, nullptr, 1, d), -1);
    EXPECT_EQ(get_match_details(scene.data, 0, scene.rows, 10.f, &m, 1, d), -1);
    EXPECT_EQ(d, &sentinel);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST_F(PartModel, DetailsOfAnUnknownModelHaveNoPoints) {
    const cv::Mat scene = two_instances();
    std::vector<quro::Match> ms = {quro::Match(50, 60, 0.7f, 10.f, 1.f, 1.f, 9999, 1)};
    ms[0].dx = 0.5f;
    Details r = details_of(scene, ms);
    ASSERT_GE(r.handle, 1);
    EXPECT_EQ(r.d[0].count, 0);
    EXPECT_EQ(r.d[0].points, nullptr);
    EXPECT_EQ(r.d[0].scores, nullptr);
    EXPECT_FLOAT_EQ(r.d[0].x, 50.5f);
    EXPECT_EQ(r.d[0].match.model_id, 9999);
    EXPECT_EQ(clear_mems(r.handle), 0);
}

}  // namespace

// The comparison benchmark's own machinery: scene rendering, the scoring rule and the masked NCC
// baseline, checked on drawn images so that the benchmark's figures can be trusted.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "testing/compare_ncc.h"
#include "testing/compare_scenes.h"
#include "testing/compare_score.h"
#include "testing/supersampled.h"
#include "testing/textured_scenes.h"

namespace {

using compare::Accuracy;
using compare::Detection;
using compare::Pose;

cv::Point2d apply(const cv::Mat& m, cv::Point2d p) {
    return {m.at<double>(0, 0) * p.x + m.at<double>(0, 1) * p.y + m.at<double>(0, 2),
            m.at<double>(1, 0) * p.x + m.at<double>(1, 1) * p.y + m.at<double>(1, 2)};
}

// An asymmetric part: drawn at 8x and reduced, so its edges are anti-aliased.
cv::Mat drawn_model() {
    const int s = 8;
    quro_test::Supersampled canvas(cv::Size(64, 44), s, 70);
    cv::Mat& big = canvas.fine();
    cv::rectangle(big, cv::Rect(6 * s, 6 * s, 40 * s, 30 * s), cv::Scalar(190), cv::FILLED);
    cv::circle(big, cv::Point(18 * s, 18 * s), 7 * s, cv::Scalar(30), cv::FILLED);
    const std::vector<cv::Point> tri{{50 * s, 8 * s}, {60 * s, 38 * s}, {44 * s, 38 * s}};
    cv::fillConvexPoly(big, tri, cv::Scalar(240));
    cv::rectangle(big, cv::Rect(28 * s, 26 * s, 12 * s, 5 * s), cv::Scalar(110), cv::FILLED);
    return canvas.reduce();
}

// Smooth random blobs as clutter.
cv::Mat blob_clutter(cv::Size size, unsigned seed) {
    cv::Mat noise(size, CV_32F);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 255.0);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 4.0);
    cv::normalize(noise, noise, 0, 255, cv::NORM_MINMAX);
    cv::Mat out;
    noise.convertTo(out, CV_8U);
    return out;
}

TEST(PasteTransform, PutsTheModelCentreAtThePoseAndTurnsCounterClockwiseOnScreen) {
    const cv::Mat model(41, 61, CV_8U);
    const cv::Point2d c = compare::model_centre(model);
    EXPECT_DOUBLE_EQ(c.x, 30.0);
    EXPECT_DOUBLE_EQ(c.y, 20.0);
    const cv::Mat m = compare::paste_transform(model, 100.25, 70.5, 90.0);
    const cv::Point2d centre = apply(m, c);
    EXPECT_NEAR(centre.x, 100.25, 1e-9);
    EXPECT_NEAR(centre.y, 70.5, 1e-9);
    // A point 10 px right of the centre ends up 10 px above it (rows grow downwards).
    const cv::Point2d right = apply(m, c + cv::Point2d(10, 0));
    EXPECT_NEAR(right.x, 100.25, 1e-9);
    EXPECT_NEAR(right.y, 60.5, 1e-9);
}

TEST(RenderScene, InstancesLieInsideTheSceneAndDoNotOverlap) {
    compare::Photos ph;
    ph.model = cv::Mat(30, 50, CV_8U, cv::Scalar(200));
    ph.clutter = cv::Mat(100, 150, CV_8U, cv::Scalar(50));  // smaller: mirrored to size
    std::mt19937 rng(7);
    const compare::Scene s = compare::render_scene(ph, cv::Size(400, 300), 4, 0.0, rng);
    ASSERT_EQ(s.truth.size(), 4u);
    ASSERT_EQ(s.image.size(), cv::Size(400, 300));
    ASSERT_EQ(s.image.type(), CV_8UC1);
    const double r = 0.5 * std::hypot(50, 30);
    for (std::size_t i = 0; i < s.truth.size(); ++i) {
        const Pose& p = s.truth[i];
        EXPECT_GE(p.x - r, 0.0);
        EXPECT_LE(p.x + r, 399.0);
        EXPECT_GE(p.y - r, 0.0);
        EXPECT_LE(p.y + r, 299.0);
        EXPECT_GE(p.angle, 0.0);
        EXPECT_LT(p.angle, 360.0);
        EXPECT_EQ(s.image.at<uchar>(cvRound(p.y), cvRound(p.x)), 200);
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_GT(std::hypot(p.x - s.truth[j].x, p.y - s.truth[j].y), 2 * r);
    }
    // Without noise, the bright area is the four instances' area (up to their soft borders).
    const int bright = cv::countNonZero(s.image >= 125);
    EXPECT_NEAR(bright, 4 * 50 * 30, 4 * 2 * (50 + 30));
    const cv::Mat between = (s.image > 50) & (s.image < 200);  // anti-aliased borders
    EXPECT_GT(cv::countNonZero(between), 0);
}

TEST(RenderScene, SameSeedGivesTheSameScenes) {
    compare::Photos ph;
    ph.model = drawn_model();
    ph.clutter = blob_clutter(cv::Size(200, 150), 3);
    const compare::SceneSpec spec{"t", 240, 200, 2, 3, 11u};
    const compare::SceneSet a = compare::render_scene_set(spec, ph);
    const compare::SceneSet b = compare::render_scene_set(spec, ph);
    ASSERT_TRUE(a.error.empty());
    ASSERT_EQ(a.scenes.size(), 3u);
    EXPECT_EQ(a.instance_count(), 6);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(cv::norm(a.scenes[i].image, b.scenes[i].image, cv::NORM_INF), 0.0);
        EXPECT_EQ(a.scenes[i].truth[0].x, b.scenes[i].truth[0].x);
    }
    EXPECT_NE(cv::norm(a.scenes[0].image, a.scenes[1].image, cv::NORM_INF), 0.0);
}

TEST(RenderScene, ReportsMissingPhotosAndScenesTooSmall) {
    compare::Photos missing;
    missing.error = "no photos";
    EXPECT_EQ(compare::render_scene_set({"t", 100, 100, 1, 1, 1u}, missing).error, "no photos");
    compare::Photos ph;
    ph.model = drawn_model();
    ph.clutter = blob_clutter(cv::Size(100, 100), 1);
    EXPECT_FALSE(compare::render_scene_set({"t", 90, 90, 2, 1, 1u}, ph).error.empty());
}

// Scenes from one seed differ only by their condition (and noise): instances stay where they
// are; the occluded one covers about a quarter of each instance, the reversed one inverts it.
TEST(TexturedScene, ConditionsCoverAQuarterOrInvertTheInstancesInPlace) {
    cv::Mat texture(90, 110, CV_8U);
    cv::randu(texture, 0, 256);
    const std::vector<cv::Mat> models{texture, blob_clutter({80, 60}, 2)};
    const std::vector<cv::Mat> backgrounds{blob_clutter({300, 200}, 3)};
    auto render = [&](compare::Condition c, unsigned seed) {
        std::mt19937 rng(seed);
        return compare::render_textured_scene(models, 0, backgrounds, {{500, 400}, 2, 1, c, 0},
                                              rng);
    };
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const compare::Scene clean = render(compare::Condition::kClean, seed);
        const compare::Scene occluded = render(compare::Condition::kOccluded, seed);
        const compare::Scene reversed = render(compare::Condition::kReversed, seed);
        ASSERT_EQ(clean.truth.size(), 2u);
        cv::Mat c, o, r;
        clean.image.convertTo(c, CV_32F);
        occluded.image.convertTo(o, CV_32F);
        reversed.image.convertTo(r, CV_32F);
        for (const Pose& p : clean.truth) {
            EXPECT_EQ(p.x, occluded.truth[&p - clean.truth.data()].x);
            cv::Mat cover;
            cv::warpAffine(cv::Mat(texture.size(), CV_32F, cv::Scalar(1)), cover,
                           compare::paste_transform(texture, p.x, p.y, p.angle), c.size());
            const cv::Mat inside = cover > 0.999f;
            const double area = cv::countNonZero(inside);
            const double changed = cv::countNonZero(inside & (cv::abs(c - o) > 15.f));
            EXPECT_NEAR(changed / area, 0.22, 0.05) << "seed " << seed;
            EXPECT_LT(cv::mean(cv::abs(c + r - 255.f), inside)[0], 4.0) << "seed " << seed;
        }
    }
}

TEST(ScoreScene, CountsFoundFalseAndWrongAngleDetections) {
    const std::vector<Pose> truth{{100, 100, 10}, {300, 200, 359.5}, {50, 250, 180}};
    const std::vector<Detection> dets{
        {100.3, 99.6, 10.2, 0.9},   // correct: 0.5 px, 0.2 deg
        {300.0, 200.0, 0.5, 0.95},  // correct across the 0/360 seam: 1 deg
        {100.0, 100.0, 10.0, 0.5},  // duplicate of a claimed instance: false
        {50.0, 250.0, 0.0, 0.8},    // flipped: false, at a true position
        {400.0, 40.0, 0.0, 0.99},   // nowhere near: false
    };
    Accuracy acc;
    compare::score_scene(truth, dets, acc);
    EXPECT_EQ(acc.instances, 3);
    EXPECT_EQ(acc.found, 2);
    EXPECT_EQ(acc.false_positives, 3);
    EXPECT_EQ(acc.wrong_angle, 1);
    EXPECT_NEAR(acc.max_pos, 0.5, 1e-9);
    EXPECT_NEAR(acc.max_angle, 1.0, 1e-4);
    EXPECT_NEAR(acc.rms_pos(), std::sqrt(0.25 / 2), 1e-9);
    EXPECT_NEAR(acc.rms_angle(), std::sqrt((0.04 + 1.0) / 2), 1e-4);
    EXPECT_NEAR(acc.recall(), 2.0 / 3.0, 1e-12);
}

TEST(ScoreScene, AppliesThePositionAndAngleTolerances) {
    const std::vector<Pose> truth{{100, 100, 45}};
    Accuracy inside, too_far, turned;
    compare::score_scene(truth, {{102.9, 100, 47.9, 1}}, inside);
    compare::score_scene(truth, {{103.1, 100, 45, 1}}, too_far);
    compare::score_scene(truth, {{100, 100, 48.2, 1}}, turned);
    EXPECT_EQ(inside.found, 1);
    EXPECT_EQ(too_far.found, 0);
    EXPECT_EQ(too_far.false_positives, 1);
    EXPECT_EQ(too_far.wrong_angle, 0);
    EXPECT_EQ(turned.found, 0);
    EXPECT_EQ(turned.wrong_angle, 1);
}

TEST(ScoreScene, TheBetterScoreClaimsAnInstanceFirst) {
    const std::vector<Pose> truth{{100, 100, 0}};
    Accuracy acc;
    compare::score_scene(truth, {{101.0, 100, 0, 0.6}, {100.1, 100, 0, 0.9}}, acc);
    EXPECT_EQ(acc.found, 1);
    EXPECT_EQ(acc.false_positives, 1);
    EXPECT_NEAR(acc.max_pos, 0.1, 1e-9);
}

TEST(SuppressNeighbours, KeepsTheBestAwayFromEachOtherUpToTheLimit) {
    const std::vector<Detection> dets{
        {0, 0, 0, 0.5}, {3, 0, 0, 0.9}, {50, 0, 0, 0.7}, {100, 0, 0, 0.6}, {52, 1, 0, 0.8}};
    const auto kept = compare::suppress_neighbours(dets, 10.0, 2);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].x, 3);
    EXPECT_EQ(kept[1].x, 52);
    const auto all = compare::suppress_neighbours(dets, 10.0, 10);
    EXPECT_EQ(all.size(), 3u);
}

TEST(Median, OfOddAndEvenCounts) {
    EXPECT_EQ(compare::median({}), 0.0);
    EXPECT_EQ(compare::median({3, 1, 2}), 2.0);
    EXPECT_EQ(compare::median({4, 1, 3, 2}), 2.5);
}

// The baseline must find rendered instances at their true pose, or the benchmark's comparison
// means nothing: this catches a wrong reference point, scale mapping or angle sense.
TEST(NccBaseline, FindsRenderedInstancesAtTheirPose) {
    compare::Photos ph;
    ph.model = drawn_model();
    ph.clutter = blob_clutter(cv::Size(320, 240), 5);
    const compare::NccMatcher ncc(ph.model);
    std::mt19937 rng(21);
    Accuracy acc;
    for (int i = 0; i < 3; ++i) {
        const compare::Scene s = compare::render_scene(ph, cv::Size(320, 240), 2, 2.0, rng);
        ASSERT_EQ(s.truth.size(), 2u);
        const auto dets = ncc.find(s.image, 2);
        EXPECT_LE(dets.size(), 2u);
        compare::score_scene(s.truth, dets, acc);
    }
    EXPECT_EQ(acc.found, 6);
    EXPECT_EQ(acc.false_positives, 0);
    EXPECT_LT(acc.max_pos, 0.5);
    EXPECT_LT(acc.max_angle, 0.7);
}

}  // namespace

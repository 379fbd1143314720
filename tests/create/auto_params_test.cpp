// Contrast proposals: known answers, order on rendered parts, use on the sample part and scene.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "quro/create/level_statistics.h"
#include "quro/quro.h"
#include "testing/part_scene.h"
#include "tests/create/create_support.h"

namespace {

using Out = std::array<double, 4>;
using quro_test::render_part_scene;

// The proposal of the first export (mode 2) or of the second with `mode`; -7 where not written.
Out propose(const unsigned char* data, int w, int h, double weak, int mode) {
    Out out{-7, -7, -7, -7};
    mode == 2 ? auto_shape_model_params(data, w, h, weak, out.data())
              : auto_shape_model_params2(data, w, h, weak, out.data(), mode);
    return out;
}
Out propose(const cv::Mat& img, double weak, int mode) {
    return propose(img.data, img.cols, img.rows, weak, mode);
}

TEST(AutoParams, ProposalIsOrderedOnRenderedPartsAndThresholdRisesWithMode) {
    const std::vector<cv::Mat> images = {
        render_part_scene({320, 240}, {{100, 90, 20}, {230, 150, -70}}, {}, 80, 150, 9, 8),
        render_part_scene({600, 400}, {{300.3, 200.6, 33}}, {2.5, 2, 6, 2.5}, 40, 220, 10, 1.5)};
    for (const cv::Mat& img : images)
        for (const double weak : {0.3, 0.5, 1.0}) {
            double low[4];  // by mode + 1
            for (const int mode : {-1, 0, 1, 2}) {
                const Out o = propose(img, weak, mode);
                EXPECT_TRUE(o[3] <= o[0] && o[0] <= o[1] && o[2] >= 5.0 && o[1] > 5.0)
                    << img.size() << weak << " mode " << mode << testing::PrintToString(o);
                low[mode + 1] = o[0];
            }
            EXPECT_TRUE(low[0] <= low[1] && low[1] <= low[2]) << low[0] << low[1] << low[2];
        }
}

TEST(AutoParams, KnownAnswersOnFlatNoisyAndSmallImages) {
    const cv::Mat flat(40, 40, CV_8U, cv::Scalar(90));
    EXPECT_EQ(quro::noise_level(flat), 0.0);
    EXPECT_EQ(propose(flat, 0.5, 0), (Out{1, 2, 5, 1}));
    EXPECT_EQ(propose(flat, 0.5, 2), (Out{0, 0, 5, 0}));  // no edges: Otsu's threshold is 0
    cv::Mat step(256, 256, CV_8U, cv::Scalar(60)), noise(step.size(), CV_16S), img;
    step.colRange(128, 256).setTo(160);
    const quro::LevelContrast c = quro::nms_level_contrast(step, 0.5, 0.375);
    EXPECT_EQ(Out({c.low, c.high, c.min_contrast, 0}), Out({50, 100, 3, 0}));
    cv::RNG(11).fill(noise, cv::RNG::NORMAL, 0, 5.0);
    cv::add(step, noise, img, cv::noArray(), CV_8U);
    EXPECT_NEAR(quro::noise_level(img), 5.0, 1.5);
}

TEST(AutoParams, SuppressionThinsADiscToItsRim) {
    cv::Mat disc(120, 120, CV_8U, cv::Scalar(40)), dx, dy;
    cv::circle(disc, {60, 60}, 40, cv::Scalar(200), cv::FILLED, cv::LINE_AA);
    const cv::Mat mag = quro::sobel_magnitude_u8_replicated(disc, dx, dy);
    const cv::Mat thin = quro::suppress_non_maxima(mag, dx, dy);
    const int rim = cv::countNonZero(thin > 20);
    EXPECT_TRUE(rim > 0.85 * 2 * CV_PI * 40 && rim < 1.3 * 2 * CV_PI * 40) << rim;
}

TEST(AutoParams, SteepDiagonalMagnitudeSaturatesInsteadOfWrapping) {
    cv::Mat img(32, 32, CV_8U), dx, dy;
    img.forEach<uchar>([](uchar& v, const int* p) { v = p[0] + p[1] > 31 ? 255 : 0; });
    const cv::Mat replicated = quro::sobel_magnitude_u8_replicated(img, dx, dy);
    const cv::Mat mirrored = quro::sobel_magnitude_u8(img);
    for (int x = 2; x < 30; ++x)  // the edge pixels of x + y = 31: |g| = 270
        EXPECT_EQ(std::min(replicated.at<uchar>(31 - x, x), mirrored.at<uchar>(31 - x, x)), 255);
}

TEST(AutoParams, RefusedArgumentsWriteNothing) {
    const cv::Mat img(64, 64, CV_8U, cv::Scalar(7));
    const Out untouched{-7, -7, -7, -7};
    for (const int mode : {2, 1}) {
        EXPECT_EQ(propose(nullptr, 64, 64, 0.5, mode), untouched);
        EXPECT_EQ(propose(img.data, 0, 64, 0.5, mode), untouched);
        EXPECT_EQ(propose(img.data, 64, -3, 0.5, mode), untouched);
        EXPECT_EQ(propose(img.data, 64, 64, NAN, mode), untouched);
        EXPECT_EQ(propose(img.data, 1 << 16, 1 << 16, 0.5, mode), untouched);
    }
    auto_shape_model_params2(img.data, 64, 64, 0.5, nullptr, 0);  // must not crash
}

// A 1024 x 1024 flat image (grey 100) holding a square of side `side` and a disc of radius
// side / 3 (grey 180), shifted by (dx, dy), with Gaussian noise of `sigma`.
cv::Mat flat_scene(int side, double dx, double dy, double sigma) {
    cv::Mat img(1024, 1024, CV_8U, cv::Scalar(100)), noise(img.size(), CV_16S), out;
    const int s = 16;  // drawn with 4 fractional bits
    cv::rectangle(img, cv::Point2d(400 + dx, 300 + dy) * s,
                  cv::Point2d(399 + side + dx, 299 + side + dy) * s, cv::Scalar(180), cv::FILLED,
                  cv::LINE_AA, 4);
    cv::circle(img, cv::Point2d(600 + dx, 700 + dy) * s, side * s / 3, cv::Scalar(180), cv::FILLED,
               cv::LINE_AA, 4);
    cv::RNG(side).fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::add(img, noise, out, cv::noArray(), CV_8U);
    return out;
}

// On a large flat image the top levels lose a small object and their thresholds fall to 0 or
// to the noise; the proposal must still build a model that finds the object in a shifted scene.
TEST(AutoParams, ProposalForASmallObjectOnALargeFlatImageFindsIt) {
    for (const int side : {24, 60})
        for (const double sigma : {0.0, 1.0}) {
            const cv::Mat model = flat_scene(side, 0, 0, sigma);
            cv::Mat scene = flat_scene(side, 37, -21, sigma);
            for (const int mode : {2, 0}) {
                const Out o = propose(model, 0.5, mode);
                EXPECT_GE(o[3], quro::noise_level(model));
                const ContrastParams c{int(o[0] + 0.5), int(o[1] + 0.5), int(o[2] + 0.5),
                                       int(o[3] + 0.5)};
                quro_test::ScopedModel m;
                ASSERT_EQ(0, create_shape_model(model.data, model.cols, model.rows, 0, -10.f, 20.f,
                                                0.f, 1, &c, nullptr, m.out()))
                    << side << " " << sigma << " mode " << mode << testing::PrintToString(o);
                quro::Match* res = nullptr;
                int count = 0, levels[2] = {0, 0};
                set_shape_model_param(m.id, "timeout", 0);
                const int h = find_shape_model(scene.data, scene.cols, scene.rows, m.id, -10.f,
                                               20.f, 0.7f, 1, 0.5f, 2, levels, 0.8f, res, count);
                ASSERT_GT(h, 0) << side << " " << sigma << " mode " << mode;
                EXPECT_LT(std::hypot(res[0].x + res[0].dx - 548.5, res[0].y + res[0].dy - 490.5), 1)
                    << side << " " << sigma << " mode " << mode;
                clear_mems(h);
            }
        }
}

TEST(AutoParams, ProposalFromTheSamplePartFindsEverySceneInstance) {
    const cv::Mat model = cv::imread(QURO_SAMPLE_DIR "/part_model.png", cv::IMREAD_GRAYSCALE);
    const cv::Mat scene = cv::imread(QURO_SAMPLE_DIR "/part_scene.png", cv::IMREAD_GRAYSCALE);
    std::ifstream truth(QURO_SAMPLE_DIR "/part_scene_truth.txt");
    std::vector<cv::Point2d> poses;
    double x, y, angle;
    for (truth.ignore(1 << 10, '\n'); truth >> x >> y >> angle;) poses.emplace_back(x, y);
    for (const int mode : {2, 0}) {
        const Out o = propose(model, 0.5, mode);
        EXPECT_EQ(o, mode == 2 ? (Out{18.5, 37, 8, 3}) : (Out{21, 42, 12, 3}));
        const ContrastParams c{int(o[0] + 0.5), int(o[1] + 0.5), int(o[2] + 0.5), int(o[3] + 0.5)};
        quro_test::ScopedModel m;
        ASSERT_EQ(0, create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1,
                                        &c, nullptr, m.out()));
        quro::Match* res = nullptr;
        int count = 0, levels[2] = {0, 0};
        set_shape_model_param(m.id, "timeout", 0);
        const int h = find_shape_model(scene.data, scene.cols, scene.rows, m.id, 0.f, 360.f, 0.7f,
                                       0, 0.5f, 2, levels, 0.8f, res, count);
        ASSERT_GT(h, 0) << "mode " << mode;
        int found = 0;  // instances with a match within 2 pixels
        for (const cv::Point2d& p : poses)
            for (int i = 0; i < count; ++i)
                found += std::hypot(res[i].x + res[i].dx - p.x, res[i].y + res[i].dy - p.y) < 2;
        EXPECT_EQ(found, 5) << "mode " << mode;
        clear_mems(h);
    }
}

}  // namespace

// The anisotropic search on the rendered part stretched differently along its rows and columns.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "quro/quro.h"
#include "testing/records.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartPose;

struct Stretched {
    PartPose pose;
    double scale_row;
    double scale_col;
};

class AnisoSearch : public quro_test::PartModel {
protected:
    // The model image warped so that a model point (x, y) about its centre lands at
    // pose + R(angle) (x * scale_col, y * scale_row), the library's pose convention, plus mild noise.
    static cv::Mat scene(const std::vector<Stretched>& parts, cv::Size size = {360, 220}) {
        cv::Mat sum(size, CV_32F, cv::Scalar(60)), model, cover, warped, warped_cover;
        model_image_.convertTo(model, CV_32F);
        cover = cv::Mat(model.size(), CV_32F, cv::Scalar(1));
        const cv::Point2d c((model.cols - 1) * 0.5, (model.rows - 1) * 0.5);
        for (const auto& p : parts) {
            const double a = p.pose.angle * CV_PI / 180.0, co = std::cos(a), si = std::sin(a);
            const double m00 = co * p.scale_col, m01 = si * p.scale_row;
            const double m10 = -si * p.scale_col, m11 = co * p.scale_row;
            const cv::Matx23d m(m00, m01, p.pose.x - (m00 * c.x + m01 * c.y),  //
                                m10, m11, p.pose.y - (m10 * c.x + m11 * c.y));
            cv::warpAffine(model, warped, m, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
            cv::warpAffine(cover, warped_cover, m, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
            sum = sum.mul(1.0 - warped_cover) + warped;
        }
        cv::Mat noise(size, CV_32F), img;
        cv::RNG(7).fill(noise, cv::RNG::NORMAL, 0, 1.0);
        cv::Mat(sum + noise).convertTo(img, CV_8U);
        return img;
    }
    static Found find_aniso(const cv::Mat& img, std::pair<float, float> rows,
                            std::pair<float, float> cols, int model, std::vector<int> levels = {0, 0},
                            float start = 0.f, float extent = 360.f) {
        Found f;
        quro::Match* res = nullptr;
        int count = -1;
        f.handle = find_aniso_shape_model(img.data, img.cols, img.rows, model, start, extent,
                                          rows.first, rows.second, cols.first, cols.second, 0.6f,
                                          0, 0.5f, 2, levels.data(), 0.8f, res, count);
        collect(f, res, count);
        return f;
    }
};

// Both scales within 0.005 of the stretch, also when the two ranges are equal (each scale is
// refined on its own); a single searched level (whose selection uses the row scale only, and which
// refines nothing below the scan's scale lattice) finds it within 0.02. The stored model is never
// written.
TEST_F(AnisoSearch, FindsRowAndColumnScalesApart) {
    const std::vector<Stretched> parts = {{{95.3, 105.6, 30.0}, 0.9, 1.1},
                                          {{255.7, 110.2, -62.0}, 0.95, 1.05}};
    const cv::Mat img = scene(parts);
    const int id = copy_shape_model(id_);
    const std::vector<unsigned char> before = quro_test::model_bytes(id);
    struct Run {
        std::pair<float, float> rows, cols;
        std::vector<int> levels;
        float start, extent;
        std::size_t parts;
        double tol;
    };
    for (const Run& r : {Run{{0.85f, 1.15f}, {0.85f, 1.15f}, {0, 0}, 0.f, 360.f, 2, 0.005},
                         Run{{0.9f, 1.1f}, {0.9f, 1.1f}, {0, 0}, 0.f, 360.f, 2, 0.005},
                         Run{{0.85f, 1.15f}, {0.85f, 1.15f}, {1, 1}, 25.f, 10.f, 1, 0.02}}) {
        const Found f = find_aniso(img, r.rows, r.cols, id, r.levels, r.start, r.extent);
        ASSERT_EQ(f.matches.size(), r.parts) << r.levels[0];
        for (std::size_t i = 0; i < r.parts; ++i) {
            const quro::Match* m = near(f.matches, parts[i].pose);
            ASSERT_NE(m, nullptr) << i;
            EXPECT_NEAR(m->scale_row, parts[i].scale_row, r.tol) << i;
            EXPECT_NEAR(m->scale_col, parts[i].scale_col, r.tol) << i;
            EXPECT_LT(angle_error(m->angle, parts[i].pose.angle), 0.1) << i;
            EXPECT_GT(m->score, 0.8f);
        }
    }
    EXPECT_EQ(quro_test::model_bytes(id), before);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST_F(AnisoSearch, BadScaleRangesAreRejected) {
    const cv::Mat img = scene({});
    const std::pair<float, float> good{0.9f, 1.1f};
    for (const auto& bad : {std::pair{1.1f, 1.f}, {0.f, 1.f}, {NAN, 1.f}, {0.9f, INFINITY}}) {
        EXPECT_EQ(find_aniso(img, bad, good, id_).handle, -1);
        EXPECT_EQ(find_aniso(img, good, bad, id_).handle, -1);
    }
}

}  // namespace

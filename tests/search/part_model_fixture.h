// Test fixture of the search tests: a model of the rendered part (testing/part_scene.h)
// created by the library, and helpers to run a search and compare matches with true poses.
#ifndef QURO_TESTS_SEARCH_PART_MODEL_FIXTURE_H
#define QURO_TESTS_SEARCH_PART_MODEL_FIXTURE_H

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "quro/quro.h"
#include "testing/part_scene.h"

namespace quro_test {

// A model of the part, created by the library from a rendered model image.
class PartModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        model_image_ = quro_test::render_part_model(cv::Size(112, 84));
        ContrastParams contrast{10, 30, 10, 10};
        ASSERT_EQ(create_shape_model(model_image_.data, model_image_.cols, model_image_.rows, 0,
                                     0.f, 360.f, 0.f, 1, &contrast, nullptr, &id_),
                  0);
        // No time limit: no test's result may depend on the machine's speed or load.
        set_shape_model_param(id_, "timeout", 0);
    }
    static void TearDownTestSuite() { clear_shape_model(id_); }

    struct Found {
        int handle = 0;
        std::vector<quro::Match> matches;
    };

    static Found find(const cv::Mat& img, float start = 0.f, float extent = 360.f,
                      float min_score = 0.6f, int num = 0, float overlap = 0.5f, int code = 2,
                      std::vector<int> levels = {0, 0}, const cv::Mat* mask = nullptr) {
        Found f;
        quro::Match* res = nullptr;
        int count = -1;
        if (mask == nullptr)
            f.handle = find_shape_model(img.data, img.cols, img.rows, id_, start, extent,
                                        min_score, num, overlap, code, levels.data(), 0.8f, res,
                                        count);
        else
            f.handle = find_shape_model_2(img.data, img.cols, img.rows, id_, start, extent,
                                          min_score, num, overlap, code, levels.data(), 0.8f,
                                          mask->data, res, count);
        collect(f, res, count);
        return f;
    }

    // Copies a search's matches out of its registered array and clears it.
    static void collect(Found& f, const quro::Match* res, int count) {
        if (f.handle > 0) {
            f.matches.assign(res, res + count);
            EXPECT_EQ(clear_mems(f.handle), 0);
        } else {
            EXPECT_EQ(count, 0);
        }
    }

public:
    // The match nearest to `p`, or null.
    static const quro::Match* near(const std::vector<quro::Match>& ms, const PartPose& p,
                                   double tol = 2.0) {
        const quro::Match* best = nullptr;
        double bd = tol;
        for (const auto& m : ms) {
            const double d = std::hypot(m.x + m.dx - p.x, m.y + m.dy - p.y);
            if (d < bd) {
                bd = d;
                best = &m;
            }
        }
        return best;
    }

    static double angle_error(double a, double b) {
        double d = std::fmod(a - b, 360.0);
        if (d > 180) d -= 360;
        if (d < -180) d += 360;
        return std::fabs(d);
    }

protected:
    static inline cv::Mat model_image_;
    static inline int id_ = -1;
};

}  // namespace quro_test

#endif  // QURO_TESTS_SEARCH_PART_MODEL_FIXTURE_H

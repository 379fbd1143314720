// The locally deformable search on the rendered part bent like a sine wave (testing/
// bent_part_scene.h): the matches, their deformation fields, and how the two blocks are handed out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/create/create_from_image.h"
#include "quro/quro.h"
#include "quro/match/deform/dense_field.h"
#include "testing/bent_part_scene.h"
#include "testing/compare_score.h"
#include "testing/test_clock.h"
#include "testing/textured_scenes.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::BentPart;

struct Deformed {
    int handle = 0;
    int fields_handle = 0;
    std::vector<quro::Match> matches;
    quro::Match* results = nullptr;
    quro::VectorField* fields = nullptr;
};

class DeformableSearch : public quro_test::PartModel {
protected:
    // Leaves both blocks registered: the caller clears them.
    static Deformed find_deformed(const cv::Mat& img, float min_score, std::vector<int> levels,
                                  int id = id_, int code = 2) {
        Deformed d;
        int count = -1;
        d.fields = reinterpret_cast<quro::VectorField*>(&d);  // stale values the search must reset
        d.fields_handle = 77;
        d.handle = find_local_deformable_model(img.data, img.cols, img.rows, id, -15.f, 30.f,
                                               0.95f, 1.05f, 0.95f, 1.05f, min_score, 0, 0.5f,
                                               code, levels.data(), 0.8f, d.results, count,
                                               d.fields, d.fields_handle);
        if (d.handle > 0) d.matches.assign(d.results, d.results + count);
        return d;
    }
    static void clear(const Deformed& d) {
        for (const int h : {d.handle, d.fields_handle})
            if (h > 0) {
                EXPECT_EQ(clear_mems(h), 0);
            }
    }

    // Model edge points: the model image's pixels of strong gradient, about its centre, with their
    // unit gradient.
    struct Edge {
        cv::Point2d at;
        cv::Point2d normal;
    };
    static std::vector<Edge> model_edges() {
        cv::Mat gx, gy;
        cv::Sobel(model_image_, gx, CV_32F, 1, 0);
        cv::Sobel(model_image_, gy, CV_32F, 0, 1);
        std::vector<Edge> pts;
        const cv::Point2d c((model_image_.cols - 1) * 0.5, (model_image_.rows - 1) * 0.5);
        for (int y = 2; y < model_image_.rows - 2; y += 2)
            for (int x = 2; x < model_image_.cols - 2; x += 2) {
                const cv::Point2d g(gx.at<float>(y, x), gy.at<float>(y, x));
                if (const double n = std::hypot(g.x, g.y); n > 200.0)
                    pts.push_back({cv::Point2d(x, y) - c, g / n});
            }
        return pts;
    }
};

// A part bent by 3 pixels scores below 0.92 for the rigid (anisotropic) search, which misses it;
// the deformable search finds it, and its field carries the model's edge points to where the bend
// put them.
TEST_F(DeformableSearch, FindsBentPartWhereRigidSearchMissesIt) {
    const std::vector<BentPart> parts = {{{110.4, 100.3, 0.0}, 3.0, 120.0},
                                         {{250.2, 118.7, 0.0}, 3.0, 120.0}};
    const cv::Mat img = quro_test::render_bent_part_scene({360, 220}, parts, 1.0);
    quro::Match* res = nullptr;
    int count = 0;
    std::vector<int> levels{0, 0};
    const int rigid = find_aniso_shape_model(img.data, img.cols, img.rows, id_, -15.f, 30.f, 0.95f,
                                             1.05f, 0.95f, 1.05f, 0.92f, 0, 0.5f, 2,
                                             levels.data(), 0.8f, res, count);
    if (rigid > 0) clear_mems(rigid);
    EXPECT_EQ(count, 0);

    const Deformed d = find_deformed(img, 0.92f, {0, 0});
    ASSERT_EQ(d.matches.size(), parts.size());
    ASSERT_GT(d.fields_handle, 0);
    const std::vector<Edge> edges = model_edges();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const quro::Match& m = d.matches[i];
        const BentPart& b = std::abs(m.x - parts[0].pose.x) < 20 ? parts[0] : parts[1];
        // Fields and matches share their order. A model point sampled at its position under the
        // match's pose, less the field's corner, lies where the field says: the reference point
        // where the bend put it, and along the model's edge normals (the field cannot know where
        // along a straight edge a point went) every edge point.
        const quro::VectorField& f = d.fields[i];
        ASSERT_NE(f.map_x, nullptr);
        auto found = [&](double x, double y) {
            float fx, fy;
            EXPECT_TRUE(quro::sampleFieldBilinear(f.map_x, f.map_y, float(x - f.x), float(y - f.y),
                                                  f.width, f.width, f.height, fx, fy));
            return cv::Point2d(f.x + fx, f.y + fy);
        };
        EXPECT_LT(cv::norm(found(m.x + m.dx, m.y + m.dy) - cv::Point2d(b.pose.x, b.pose.y)), 0.5);
        double sq = 0;
        const double a = m.angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
        for (const Edge& e : edges) {
            const cv::Point2d o = e.at;
            const cv::Point2d err =
                found(m.x + m.dx + c * m.scale_col * o.x + s * m.scale_row * o.y,
                      m.y + m.dy + c * m.scale_row * o.y - s * m.scale_col * o.x) -
                quro_test::bent_position(b, o.x, o.y);
            sq += std::pow(err.x * (c * e.normal.x + s * e.normal.y) +
                               err.y * (c * e.normal.y - s * e.normal.x),
                           2);
        }
        EXPECT_LT(std::sqrt(sq / static_cast<double>(edges.size())), 0.5) << i;
    }
    // Freeing the matches leaves the fields readable (and the other way round, under ASan).
    EXPECT_EQ(clear_mems(d.handle), 0);
    EXPECT_GT(d.fields[1].map_y[d.fields[1].width * 3 + 3], -1e6f);
    EXPECT_EQ(clear_mems(d.fields_handle), 0);
}

// Four searched levels: the two upper ones rigid, fields from the two lower ones, whose rectangle
// covers the posed part with a few pixels to spare, also for a model made from a large canvas
// holding the small part (not the canvas); one searched level: empty fields.
// On undeformed parts in noise a field must do better than the rigid pose it refines, or hold no
// deformation: the model's edge points stay near where the match's pose puts them (RMS 0.29 px
// when every field was kept), and the poses stay exact.
TEST_F(DeformableSearch, UndeformedPartsKeepTheirRigidPoseAndNoDeformation) {
    std::vector<quro_test::PartPose> truth;
    for (int i = 0; i < 12; ++i)
        truth.push_back({90.3 + 150 * (i % 4) + 0.37 * i, 80.6 + 140 * (i / 4) + 0.21 * i, -12 + 2.1 * i});
    const cv::Mat img = quro_test::render_part_scene({620, 440}, truth, {}, 60, 170, 30, 3.0, 7);
    const Deformed d = find_deformed(img, 0.7f, {0, 0});
    ASSERT_EQ(d.matches.size(), truth.size());
    const std::vector<Edge> edges = model_edges();
    double sq_move = 0, sq_pos = 0, n = 0;
    for (std::size_t i = 0; i < d.matches.size(); ++i) {
        const quro::Match& m = d.matches[i];
        const quro::VectorField& f = d.fields[i];
        const double a = m.angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
        for (const Edge& e : edges) {
            const double x = m.x + m.dx + c * m.scale_col * e.at.x + s * m.scale_row * e.at.y;
            const double y = m.y + m.dy + c * m.scale_row * e.at.y - s * m.scale_col * e.at.x;
            float fx, fy;
            if (quro::sampleFieldBilinear(f.map_x, f.map_y, float(x - f.x), float(y - f.y), f.width, f.width, f.height, fx, fy))
                sq_move += std::pow(std::hypot(f.x + fx - x, f.y + fy - y), 2), ++n;
        }
        const quro::Match* t = near(d.matches, truth[i], 3.0);
        ASSERT_NE(t, nullptr);
        sq_pos += std::pow(std::hypot(t->x + t->dx - truth[i].x, t->y + t->dy - truth[i].y), 2);
    }
    EXPECT_LE(std::sqrt(sq_move / n), 0.23);
    EXPECT_LE(std::sqrt(sq_pos / double(truth.size())), 0.06);
    clear(d);
}

TEST_F(DeformableSearch, LevelSplitDecidesWhereFieldsComeFrom) {
    const std::vector<BentPart> parts = {{{150.6, 110.2, 8.0}, 2.0, 120.0}};
    const cv::Mat img = quro_test::render_bent_part_scene({300, 220}, parts);
    cv::Mat canvas;  // 4096 x 4096: far more than 32 times the part's reach
    cv::copyMakeBorder(quro_test::render_part_model(cv::Size(600, 600)), canvas, 1748, 1748, 1748,
                       1748, cv::BORDER_CONSTANT, cv::Scalar(60));
    const ContrastParams contrast{10, 30, 10, 10};
    int big = -1;
    // No time limit on the creation of so large a model or on its searches.
    ASSERT_EQ(quro::create_shape_model_impl(canvas.data, canvas.cols, canvas.rows, 0, 0.f, 360.f,
                                            0.f, 1, &contrast, nullptr, &big, 0),
              0);
    struct Case {
        std::vector<int> levels;
        int id;
        bool fields;
    };
    for (const Case& k : {Case{{4, 1}, id_, true}, Case{{4, 1}, big, true}, Case{{3, 3}, id_, false}}) {
        const Deformed d = find_deformed(img, 0.7f, k.levels, k.id);
        ASSERT_EQ(d.matches.size(), 1u) << k.levels[0];
        ASSERT_GT(d.fields_handle, 0);
        const quro::VectorField& f = d.fields[0];
        if (k.fields) {  // the plate spans about 85 by 64 pixels at 8 degrees
            EXPECT_TRUE(f.width >= 86 && f.width <= 100) << f.width << " " << k.id;
            EXPECT_TRUE(f.height >= 64 && f.height <= 80) << f.height << " " << k.id;
            EXPECT_NE(f.map_x, nullptr);
        } else {
            EXPECT_EQ(f.width, 0);
            EXPECT_EQ(f.height, 0);
            EXPECT_EQ(f.map_x, nullptr);
            EXPECT_EQ(f.map_y, nullptr);
        }
        clear(d);
    }
    EXPECT_EQ(clear_shape_model(big), 0);
}

// Small round textured models in strong noise: their coarse levels look alike at many angles,
// and a field that moves each point by pixels finds agreement in noise and clutter. The coins are
// found at their angles; with one deformable level (a five-level part model searched with levels
// {0, 4}) nothing is reported away from the parts.
TEST(DeformableSearchInNoise, FindsRoundModelsAtTheirAnglesAndNothingBesideTheParts) {
    std::mt19937 rng(23u);
    compare::render_coin_model(rng, 64);
    const cv::Mat coin = compare::render_coin_model(rng, 84);
    const quro_test::PartShape shape{40, 28, 9, 1.43};
    const cv::Mat part = quro_test::render_part_model(cv::Size(160, 120), shape);
    const ContrastParams contrast{10, 30, 10, 10};
    int coin_id = -1, part_id = -1;
    ASSERT_EQ(create_shape_model(coin.data, coin.cols, coin.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                                 nullptr, &coin_id), 0);
    ASSERT_EQ(create_shape_model(part.data, part.cols, part.rows, 5, 0.f, 360.f, 0.f, 1, &contrast,
                                 nullptr, &part_id), 0);
    cv::Mat canvas, noise(240, 320, CV_32F), coins;
    compare::render_photo_texture(rng, {320, 240}).convertTo(canvas, CV_32F);
    const std::vector<compare::Pose> truth = {{90.4, 110.7, 44.8}, {230.2, 120.3, 286.3}};
    for (const compare::Pose& p : truth) compare::paste(canvas, coin, p, false);
    cv::RNG(7).fill(noise, cv::RNG::NORMAL, 0.0, 9.0);
    cv::Mat(canvas + noise).convertTo(coins, CV_8U);
    const std::vector<BentPart> parts = {{{141.88, 222.92, 228.7}, 3.0, 100.0},
                                         {{485.66, 254.61, 5.65}, 0.0, 100.0}};
    const cv::Mat scene = quro_test::render_bent_part_scene({640, 480}, parts, 3.0, 32u, shape);
    struct Case {
        const cv::Mat* img;
        int id;
        std::vector<int> levels;
        std::vector<compare::Pose> truth;
    };
    for (const Case& c : {Case{&coins, coin_id, {0, 0}, truth},
                          Case{&scene, part_id, {0, 4}, {{141.88, 222.92, 0}, {485.66, 254.61, 0}}}}) {
        set_shape_model_param(c.id, "timeout", 0);
        quro::Match* res = nullptr;
        quro::VectorField* fields = nullptr;
        int count = 0, fh = 0;
        const int h = find_local_deformable_model(c.img->data, c.img->cols, c.img->rows, c.id, 0.f,
                                                  360.f, 0.98f, 1.02f, 0.98f, 1.02f, 0.5f, 0, 0.5f,
                                                  2, const_cast<int*>(c.levels.data()), 0.9f, res,
                                                  count, fields, fh);
        ASSERT_GT(h, 0);
        EXPECT_EQ(count, 2) << c.id;
        for (int i = 0; i < count; ++i) {
            const bool at_part = std::any_of(c.truth.begin(), c.truth.end(), [&](const auto& t) {
                return std::hypot(res[i].x + res[i].dx - t.x, res[i].y + res[i].dy - t.y) < 3.0 &&
                       (c.id == part_id || compare::angle_difference(res[i].angle, t.angle) < 3.0);
            });
            EXPECT_TRUE(at_part) << c.id << ": " << res[i].x << " " << res[i].y << " " << res[i].angle;
        }
        clear_mems(h);
        if (fh > 0) clear_mems(fh);
    }
    clear_shape_model(coin_id);
    clear_shape_model(part_id);
}

// Nothing found and a time-out both leave fields_handle 0 and fields null, whatever they held.
TEST_F(DeformableSearch, NoMatchAndTimeOutHandOutNoFields) {
    const cv::Mat plain(240, 320, CV_8U, cv::Scalar(90));
    const Deformed none = find_deformed(plain, 0.7f, {0, 0});
    EXPECT_EQ(none.handle, 0);
    // A scene with a part, searched with time-outs of 1, 64 and 128 ms on a clock that moves on
    // 1 ms at each question (the whole search asks it about 250 times).
    const cv::Mat scene = quro_test::render_part_scene({320, 240}, {{160, 120, 10}});
    const int id = copy_shape_model(id_);
    std::vector<Deformed> found = {none};
    for (const int timeout : {1, 64, 128}) {
        set_shape_model_param(id, "timeout", timeout);
        const quro_test::LibraryClockTicking clock;
        found.push_back(find_deformed(scene, 0.5f, {0, 0}, id));
        EXPECT_EQ(found.back().handle, -2) << timeout;
    }
    for (const Deformed& d : found) {
        EXPECT_EQ(d.fields_handle, 0);
        EXPECT_EQ(d.fields, nullptr);
    }
    EXPECT_EQ(clear_shape_model(id), 0);
}

}  // namespace

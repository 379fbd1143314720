// What every search kind reports of a match on rendered parts at exact poses: its position is the
// model's reference point whatever level the search stops on, and a window of a full turn gives
// its angle within one turn from the window's start.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "quro/quro.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;
using Search = std::function<int(cv::Mat&, int id, int* levels, int code, quro::Match*&, int&)>;

// Every search kind over the window [lo, lo + ext], min_score 0.7, all matches: a model id, a
// level pair {first, last} and a sub-pixel code in; the handle, matches and count out. The
// multi-model search finds the `num_ids` models of `ids` at once.
std::vector<std::pair<const char*, Search>> search_kinds(float lo, float ext, int* ids, int num_ids) {
    return {
        {"rigid", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"masked", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             cv::Mat mask(im.size(), CV_8UC1, cv::Scalar(1));
             return find_shape_model_2(im.data, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, mask.data, r, n);
         }},
        {"scaled", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_scaled_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"aniso", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_aniso_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"deformable", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             quro::VectorField* fields = nullptr;
             int fh = 0;
             const int h = find_local_deformable_model(im.data, im.cols, im.rows, id, lo, ext, 0.97f, 1.03f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n, fields, fh);
             if (fh > 0) clear_mems(fh);
             return h;
         }},
        {"multi", [=](cv::Mat& im, int, int* lv, int code, quro::Match*& r, int& n) {
             int pairs[4] = {lv[0], lv[1] + 1, lv[0], lv[1] + 1};  // its last names the level above
             return find_shape_models(im.data, im.cols, im.rows, ids, num_ids, lo, ext, 0.7f, 0, 0.5f, code, pairs, 0.8f, r, n);
         }},
        {"tiled", [=](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             int tiles[4] = {2, 1, 0, 0};
             return find_shape_model_xl(im.data, im.cols, im.rows, tiles, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, 1.f, r, n);
         }},
    };
}

TEST(ReferencePoint, EverySearchKindReportsTheReferencePointFromEveryLastLevel) {
    quro_test::PartShape shape;
    shape.scale = 2.0;
    std::vector<PartPose> truth;
    for (int i = 0; i < 8; ++i)
        // Sub-pixel phases spread over every level's pixel, so that no pixel bias averages away.
        truth.push_back({130.3 + 240.0 * (i % 4) + 1.13 * i, 130.6 + 240.0 * (i / 4) + 2.71 * i,
                         -35.0 + 10.37 * i});
    cv::Mat scene = quro_test::render_part_scene({1000, 520}, truth, shape);
    const ContrastParams contrast{10, 30, 10, 10};
    int ids[2];
    for (int odd = 0; odd < 2; ++odd) {
        const cv::Mat model = quro_test::render_part_model({224 - odd, 168 - odd}, shape);
        ASSERT_EQ(create_shape_model(model.data, model.cols, model.rows, 5, 0.f, 360.f, 0.f, 1,
                                     &contrast, nullptr, &ids[odd]), 0);
    }
    const auto kinds = search_kinds(-40.f, 120.f, ids, 2);
    // Limit on the mean error in the model frame: a tenth of a pixel of the last level (0.05 px
    // with least squares at full resolution); the deformable search places a match by its field,
    // which adds up to a fifth of a pixel of its own.
    for (const auto& [name, search] : kinds)
        for (int odd = 0; odd < 2; ++odd)
            for (int last = 1; last <= 3; ++last)
                for (const int code : {1, 2}) {
                    const bool deformable = std::string(name) == "deformable";
                    if (deformable && code == 1) continue;  // no sub-pixel step
                    int levels[2] = {5, last};
                    quro::Match* res = nullptr;
                    int count = 0;
                    const int h = search(scene, ids[odd], levels, code, res, count);
                    const std::vector<quro::Match> ms(res, res + count);
                    if (h > 0) clear_mems(h);
                    double bx = 0.0, by = 0.0;
                    for (const PartPose& p : truth) {
                        const quro::Match* m = PartModel::near(ms, p, 2.0 + (1 << last));
                        ASSERT_NE(m, nullptr) << name << " odd " << odd << " last " << last << " code " << code;
                        const double ex = m->x + m->dx - p.x, ey = m->y + m->dy - p.y;
                        const double a = p.angle * CV_PI / 180, c = std::cos(a), s = std::sin(a);
                        bx += (c * ex - s * ey) / 8;
                        by += (s * ex + c * ey) / 8;
                    }
                    const double unit = (1 << (last - 1)) * (deformable ? 0.3 : 0.1);
                    EXPECT_LE(std::hypot(bx, by), last == 1 && code == 2 && !deformable ? 0.05 : unit)
                        << name << " odd " << odd << " last " << last << " code " << code;
                }
    for (const int id : ids) clear_shape_model(id);
}

TEST_F(PartModel, FullTurnWindowsGiveAnglesWithinOneTurnFromTheStart) {
    // Near 0 (the end of a window from 0) and near 180 (the end of a window from -180).
    const std::vector<PartPose> truth = {{80.3, 70.6, 0.0}, {230.7, 75.2, 0.3}, {380.4, 72.9, 179.8}};
    cv::Mat scene = quro_test::render_part_scene({460, 150}, truth);
    for (int code = 0; code <= 5; ++code) {
        const float start = code % 2 ? -180.f : 0.f;
        for (const auto& [name, search] : search_kinds(start, 360.f, &id_, 1))
            for (std::array<int, 2> levels : {std::array{0, 0}, {0, 2}, {0, 4}, {2, 2}, {1, 1}}) {
                quro::Match* res = nullptr;
                int count = 0;
                const int h = search(scene, id_, levels.data(), code, res, count);
                const std::vector<quro::Match> ms(res, res + count);
                if (h > 0) clear_mems(h);
                for (const PartPose& p : truth) {  // the coarsest level's angle step is 11.25
                    const quro::Match* m = near(ms, p, 8.0);
                    ASSERT_NE(m, nullptr) << name << " levels " << levels[1] << " code " << code;
                    EXPECT_TRUE(m->angle >= start && m->angle < start + 360.f && angle_error(m->angle, p.angle) < 12.0)
                        << name << " start " << start << " levels {" << levels[0] << "," << levels[1] << "} code " << code << ": " << m->angle;
                }
            }
    }
}

}  // namespace

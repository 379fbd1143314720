// Every search kind reports a match at the model's reference point, whatever level it stops on:
// rendered parts at exact poses, models of even and odd sides, last levels 1 to 4.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "quro/quro.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;
using Search = std::function<int(cv::Mat&, int id, int* levels, int code, quro::Match*&, int&)>;

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
    const float lo = -40.f, ext = 120.f;
    const std::vector<std::pair<const char*, Search>> kinds = {
        {"rigid", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"masked", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             cv::Mat mask(im.size(), CV_8UC1, cv::Scalar(1));
             return find_shape_model_2(im.data, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, mask.data, r, n);
         }},
        {"scaled", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_scaled_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"aniso", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             return find_aniso_shape_model(im.data, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n);
         }},
        {"deformable", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             quro::VectorField* fields = nullptr;
             int fh = 0;
             const int h = find_local_deformable_model(im.data, im.cols, im.rows, id, lo, ext, 0.97f, 1.03f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv, 0.8f, r, n, fields, fh);
             if (fh > 0) clear_mems(fh);
             return h;
         }},
        {"multi", [&](cv::Mat& im, int, int* lv, int code, quro::Match*& r, int& n) {
             int pairs[4] = {lv[0], lv[1] + 1, lv[0], lv[1] + 1};  // its last names the level above
             return find_shape_models(im.data, im.cols, im.rows, ids, 2, lo, ext, 0.7f, 0, 0.5f, code, pairs, 0.8f, r, n);
         }},
        {"tiled", [&](cv::Mat& im, int id, int* lv, int code, quro::Match*& r, int& n) {
             int tiles[4] = {2, 1, 0, 0};
             return find_shape_model_xl(im.data, im.cols, im.rows, tiles, id, lo, ext, 0.7f, 0, 0.5f, code, lv, 0.8f, 1.f, r, n);
         }},
    };
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

}  // namespace

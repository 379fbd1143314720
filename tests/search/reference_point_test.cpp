// Every search kind on rendered parts at exact poses: a match lies at the model's reference point
// whatever level the search stops on, and a full-turn window gives angles in one turn from its start.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "quro/quro.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;

// The matches of search `kind` (0 rigid, 1 masked, 2 scaled, 3 aniso, 4 deformable, 5 multi-model
// of ids[0..n), 6 tiled) over [lo, lo + ext], min_score 0.7; levels {first, last} as for the rigid
// search.
std::vector<quro::Match> search(int kind, cv::Mat& im, int id, int* ids, int n, float lo, float ext, std::array<int, 2> lv, int code) {
    quro::Match* r = nullptr;
    int c = 0, h = 0, fh = 0, multi[4] = {lv[0], lv[1] + 1, lv[0], lv[1] + 1}, tiles[4] = {2, 1, 0, 0};
    cv::Mat mask(im.size(), CV_8UC1, cv::Scalar(1));
    quro::VectorField* fields = nullptr;
    unsigned char* d = im.data;
    if (kind == 0) h = find_shape_model(d, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, r, c);
    if (kind == 1) h = find_shape_model_2(d, im.cols, im.rows, id, lo, ext, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, mask.data, r, c);
    if (kind == 2) h = find_scaled_shape_model(d, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, r, c);
    if (kind == 3) h = find_aniso_shape_model(d, im.cols, im.rows, id, lo, ext, 0.95f, 1.05f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, r, c);
    if (kind == 4) h = find_local_deformable_model(d, im.cols, im.rows, id, lo, ext, 0.97f, 1.03f, 0.97f, 1.03f, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, r, c, fields, fh);
    if (kind == 5) h = find_shape_models(d, im.cols, im.rows, ids, n, lo, ext, 0.7f, 0, 0.5f, code, multi, 0.8f, r, c);  // last: the level above
    if (kind == 6) h = find_shape_model_xl(d, im.cols, im.rows, tiles, id, lo, ext, 0.7f, 0, 0.5f, code, lv.data(), 0.8f, 1.f, r, c);
    std::vector<quro::Match> ms(r, r + c);
    for (const int handle : {h, fh}) if (handle > 0) clear_mems(handle);
    return ms;
}

// Mean error in the model frame over 8 instances: a tenth of a pixel of the last level (0.05 px with
// least squares at full resolution). On the fourth level (28 x 21 pixels of the model) the peak fit
// holds a fifth of its pixel; the deformable search, whose least squares run on its last level,
// carries the exact centre down its levels and is held to the same limit.
TEST(ReferencePoint, EverySearchKindReportsTheReferencePointFromEveryLastLevel) {
    std::vector<PartPose> truth;  // sub-pixel phases spread over every level's pixel
    for (int i = 0; i < 8; ++i) truth.push_back({130.3 + 240 * (i % 4) + 1.13 * i, 130.6 + 240 * (i / 4) + 2.71 * i, -35 + 10.37 * i});
    cv::Mat scene = quro_test::render_part_scene({1000, 520}, truth, {.scale = 2});
    const ContrastParams contrast{10, 30, 10, 10};
    int ids[2];  // even and odd sides
    for (int odd = 0; odd < 2; ++odd) {
        const cv::Mat model = quro_test::render_part_model({224 - odd, 168 - odd}, {.scale = 2});
        ASSERT_EQ(create_shape_model(model.data, model.cols, model.rows, 5, 0.f, 360.f, 0.f, 1, &contrast, nullptr, &ids[odd]), 0);
        set_shape_model_param(ids[odd], "timeout", 0);
    }
    for (int kind = 0; kind < 7; ++kind)
        for (int odd = 0; odd < 2; ++odd)
            for (int last = 1; last <= 4; ++last)
                for (int code = kind == 4 ? 2 : 1; code <= 2; ++code) {  // deformable: no peak fit
                    const auto ms = search(kind, scene, ids[odd], ids, 2, -40.f, 120.f, {5, last}, code);
                    double bx = 0.0, by = 0.0;
                    for (const PartPose& p : truth) {
                        const quro::Match* m = PartModel::near(ms, p, 2.0 + (1 << last));
                        ASSERT_NE(m, nullptr) << kind << " odd " << odd << " last " << last << " code " << code;
                        const double ex = m->x + m->dx - p.x, ey = m->y + m->dy - p.y, a = p.angle * CV_PI / 180;
                        bx += (std::cos(a) * ex - std::sin(a) * ey) / 8;
                        by += (std::sin(a) * ex + std::cos(a) * ey) / 8;
                    }
                    const double limit = last == 1 && code == 2 ? 0.05 : (1 << (last - (last < 4 || code == 2))) * 0.1;
                    EXPECT_LE(std::hypot(bx, by), limit) << kind << " odd " << odd << " last " << last << " code " << code;
                }
    for (const int id : ids) clear_shape_model(id);
}

TEST_F(PartModel, FullTurnWindowsGiveAnglesWithinOneTurnFromTheStart) {
    // Near 0 (the end of a window from 0) and near 180 (the end of a window from -180).
    const std::vector<PartPose> truth = {{80.3, 70.6, 0.0}, {230.7, 75.2, 0.3}, {380.4, 72.9, 179.8}};
    cv::Mat scene = quro_test::render_part_scene({460, 150}, truth);
    for (int code = 0; code <= 5; ++code)
        for (int kind = 0; kind < 7; ++kind)
            for (std::array<int, 2> levels : {std::array{0, 0}, {0, 2}, {0, 4}, {2, 2}}) {
                const float start = code % 2 ? -180.f : 0.f;
                const auto ms = search(kind, scene, id_, &id_, 1, start, 360.f, levels, code);
                for (const PartPose& p : truth) {  // the coarsest level's angle step is 11.25
                    const quro::Match* m = near(ms, p, 8.0);
                    ASSERT_NE(m, nullptr) << kind << " levels " << levels[1] << " code " << code;
                    EXPECT_TRUE(m->angle >= start && m->angle < start + 360.f && angle_error(m->angle, p.angle) < 12.0)
                        << kind << " levels {" << levels[0] << "," << levels[1] << "} code " << code << ": " << m->angle;
                }
            }
}

}  // namespace

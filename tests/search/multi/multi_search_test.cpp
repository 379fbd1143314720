#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/polygon_model.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartPose;

// The part model of the fixture beside a two-level model of an irregular hexagon.
class MultiSearch : public quro_test::PartModel {
protected:
    static void SetUpTestSuite() {
        PartModel::SetUpTestSuite();
        const cv::Mat img = quro_test::render_polygon(outline(), {100, 100}, {49.5f, 49.5f, 0.f, 1.f, 1.f});
        const ContrastParams contrast{10, 30, 10, 10};
        ASSERT_EQ(create_shape_model(img.data, 100, 100, 2, 0.f, 360.f, 0.f, 1, &contrast, nullptr, &hex_), 0);
        set_shape_model_param(hex_, "timeout", 0);
    }
    static void TearDownTestSuite() {
        clear_shape_model(hex_);
        PartModel::TearDownTestSuite();
    }
    static std::vector<cv::Point2f> outline() { return quro_test::irregular_outline(70.f); }

    // Parts at `parts` and hexagons at `hexes` over one background (both draw on grey 60).
    static cv::Mat scene(cv::Size size, const std::vector<PartPose>& parts, const std::vector<PartPose>& hexes) {
        cv::Mat img = quro_test::render_part_scene(size, parts, {}, 60, 170, 30, 1.0, 3);
        for (const PartPose& p : hexes) {
            const cv::Mat h = quro_test::render_polygon(outline(), size, {float(p.x), float(p.y), float(p.angle), 1.f, 1.f});
            img.setTo(0, h != 60);
            img += h.mul(h != 60, 1.0 / 255);  // the hexagon in front
        }
        return img;
    }
    static Found find_multi(const cv::Mat& img, std::vector<int> ids, std::vector<int> levels, int code = 2,
                            float overlap = 0.5f, float start = 0.f, float extent = 360.f) {
        Found f;
        quro::Match* res = nullptr;
        int count = -1;
        f.handle = find_shape_models(img.data, img.cols, img.rows, ids.data(), static_cast<int>(ids.size()), start, extent,
                                     0.6f, 0, overlap, code, levels.data(), 0.8f, res, count);
        collect(f, res, count);
        return f;
    }
    // RMS position error of the matches of model `id` against `truth` (each must be found).
    static double rms_error(const Found& f, int id, const std::vector<PartPose>& truth) {
        double se = 0;
        for (const auto& p : truth) {
            const quro::Match* m = near(f.matches, p);
            EXPECT_TRUE(m != nullptr && m->model_id == id && angle_error(m->angle, p.angle) < 0.5) << p.x;
            if (m) se += std::pow(m->x + m->dx - p.x, 2) + std::pow(m->y + m->dy - p.y, 2);
        }
        return std::sqrt(se / truth.size());
    }
    static inline int hex_ = -1;
};

const std::vector<PartPose> kParts = {{80.3, 70.6, 20.0}, {230.7, 80.2, -95.5}, {390.4, 75.8, 160.0}};
const std::vector<PartPose> kHexes = {{90.6, 210.3, -40.0}, {240.2, 220.9, 75.5}, {380.8, 205.4, 185.0}};

// A four-level and a two-level model in one scene: every instance found once, with its own id, as
// exact as the rigid search of its model alone.
TEST_F(MultiSearch, ModelsOfFourAndTwoLevelsAreFoundWithTheirIdsAsExactlyAsAlone) {
    int levels = 0;
    get_shape_model_param(id_, "num_levels", &levels);
    ASSERT_GE(levels, 4);
    const cv::Mat img = scene({480, 290}, kParts, kHexes);
    const Found f = find_multi(img, {id_, hex_}, {4, 0, 2, 0});
    ASSERT_EQ(f.matches.size(), kParts.size() + kHexes.size());
    const Found part_alone = find(img, 0.f, 360.f, 0.6f, 0, 0.5f, 2, {4, 1});
    quro::Match* res = nullptr;
    int count = 0, pair[2] = {2, 1};
    Found hex_alone;
    hex_alone.handle = find_shape_model(img.data, img.cols, img.rows, hex_, 0.f, 360.f, 0.6f, 0, 0.5f, 2, pair, 0.8f, res, count);
    collect(hex_alone, res, count);
    EXPECT_LE(rms_error(f, id_, kParts), rms_error(part_alone, id_, kParts) + 0.02);
    EXPECT_LE(rms_error(f, hex_, kHexes), rms_error(hex_alone, hex_, kHexes) + 0.02);
}

// With one model of metric 1 or -1 the search is the rigid search: the same matches, bit for bit,
// for every sub-pixel code but 3 (whose matches the multi-model search leaves at pixel precision)
// and every level pair. The peak fit on a level with cells is the multi-model search's own, so
// there only the matches and their scores agree. The multi-model pair stops one level finer than
// the rigid pair of the same last value, and cannot stop on a top level above full resolution.
TEST_F(MultiSearch, OneModelGivesTheRigidSearchsMatches) {
    const cv::Mat img = scene({480, 290}, kParts, {});
    int num_levels = 0;
    get_shape_model_param(id_, "num_levels", &num_levels);
    for (const int metric : {1, -1})
    for (const int code : {0, 1, 2, 4, 9, 21, 22, 41, 320})
        for (int first = 0; first <= num_levels; ++first)
            for (int used = first >= 1 && first <= num_levels ? first : num_levels, last = 0;
                 last <= std::max(used - 1, 1); ++last) {
                SCOPED_TRACE(::testing::Message() << "metric " << metric << " code " << code << " levels " << first << "," << last);
                set_shape_model_param(id_, "metric", metric);
                const Found r = find(img, 0.f, 360.f, 0.6f, 0, 0.5f, code, {first, last}),
                            m = find_multi(img, {id_}, {first, last + (last > 1)}, code);
                const bool own_fit = code % 10 == 1 && (code / 10 >> std::max(last - 1, 0)) > 1;
                ASSERT_EQ(m.matches.size(), r.matches.size());
                ASSERT_FALSE(r.matches.empty());
                for (std::size_t i = 0; i < r.matches.size(); ++i) {
                    const quro::Match &a = r.matches[i], &b = m.matches[i];
                    EXPECT_TRUE(a.score == b.score && a.flag == b.flag && b.model_id == id_ &&
                                (own_fit || (a.x == b.x && a.y == b.y && a.dx == b.dx && a.dy == b.dy && a.angle == b.angle))) << i;
                }
            }
    set_shape_model_param(id_, "metric", 1);
}

// A refused call changes no stored range: an unknown id among valid ones, no ids, no level pairs.
TEST_F(MultiSearch, RefusedCallsChangeNoModel) {
    const cv::Mat img = scene({480, 290}, kParts, kHexes);
    find_multi(img, {id_, hex_}, {0, 0, 0, 0}, 2, 0.5f, -30.f, 60.f);
    std::vector<int> ids = {id_, 9999, hex_}, levels(6, 0);
    quro::Match* res = nullptr;
    int count = 7;
    const int n = static_cast<int>(ids.size());
    using Args = std::tuple<int*, int*, int>;
    for (auto [id_list, pairs, num] : {Args{ids.data(), levels.data(), n}, Args{nullptr, levels.data(), n},
                                       Args{ids.data(), nullptr, n}, Args{ids.data(), levels.data(), 0}}) {
        EXPECT_EQ(find_shape_models(img.data, img.cols, img.rows, id_list, num, 10.f, 20.f, 0.6f, 0, 0.5f, 2, pairs,
                                    0.8f, res, count), -1);
        EXPECT_EQ(count, 0);
    }
    for (const int id : {id_, hex_}) {
        const auto rec = quro::find_shape_model_record(id);
        EXPECT_TRUE(rec->angle_start == -30.f && rec->angle_extent == 60.f) << id;
    }
}

// A hexagon lying over a part: with a low overlap limit only the better (the whole hexagon)
// remains, whatever model the other belongs to; with a high one both.
TEST_F(MultiSearch, OverlappingMatchesOfTwoModelsKeepTheBetter) {
    const PartPose part{120, 100, 0}, hex{165, 105, 10};
    const cv::Mat img = scene({280, 210}, {part}, {hex});
    const Found both = find_multi(img, {id_, hex_}, {0, 0, 0, 0}, 2, 0.9f, -20.f, 40.f);
    ASSERT_EQ(both.matches.size(), 2u);
    const Found one = find_multi(img, {id_, hex_}, {0, 0, 0, 0}, 2, 0.1f, -20.f, 40.f);
    ASSERT_EQ(one.matches.size(), 1u);
    EXPECT_EQ(one.matches[0].model_id, hex_);
    EXPECT_EQ(one.matches[0].score, both.matches[0].score);
}

// Mode 3 keeps pixel precision, and a pair {4, 3} reports from level 2 (positions doubled). Mode 1
// with cells (the point-set peak fit, on maps without a border) places every match within a pixel:
// the cell search flattens the score peak (the rigid search's cell peak fit is off by up to 0.7 px
// on this scene); read with the wrong border (the model radius + 5 px) the fit finds no peak and
// leaves every match at its pixel.
TEST_F(MultiSearch, SubpixelModesAndLevelPairsPlaceTheMatches) {
    const cv::Mat img = scene({480, 290}, kParts, kHexes);
    struct Case { int code; std::vector<int> ids, levels; bool doubled; };
    for (const Case& c : {Case{3, {id_, hex_}, {0, 0, 0, 0}, false}, Case{3, {id_}, {4, 3}, true},
                          Case{21, {id_, hex_}, {0, 0, 0, 0}, false}}) {
        const Found f = find_multi(img, c.ids, c.levels, c.code);
        EXPECT_EQ(f.matches.size(), c.ids.size() * 3) << c.code;
        // Mode 3 adds no step: from level 2, dx and dy only move the level's centre to the reference point.
        const float shift = c.doubled ? 0.71f : 0.f;
        for (const quro::Match& m : f.matches)
            EXPECT_TRUE(c.code != 3 || (std::fabs(m.dx) <= shift && std::fabs(m.dy) <= shift && (!c.doubled || (m.x % 2 == 0 && m.y % 2 == 0)))) << m.x;
        const bool fitted = std::any_of(f.matches.begin(), f.matches.end(), [](const quro::Match& m) { return m.dx != 0.f || m.dy != 0.f; });
        EXPECT_EQ(fitted, c.code == 21 || c.doubled);
        for (const auto& p : c.code == 21 ? kParts : std::vector<PartPose>{})
            EXPECT_NE(near(f.matches, p, 1.0), nullptr) << p.x;
        for (const auto& p : c.code == 21 ? kHexes : std::vector<PartPose>{})
            EXPECT_NE(near(f.matches, p, 1.0), nullptr) << p.x;
    }
}

}  // namespace

#include "quro/search/tiled/tiled_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <vector>

#include "quro/quro.h"
#include "quro/result_registry.h"
#include "quro/search/core/search_export.h"
#include "quro/search/tiled/tile_grid.h"
#include "quro/search/tiled/tile_merge.h"
#include "quro/settings.h"
#include "testing/test_clock.h"
#include "tests/search/part_model_fixture.h"

namespace {

using quro_test::PartModel;
using quro_test::PartPose;

class TiledSearch : public PartModel {
protected:
    // Through the export, or with `workers` above 0 through its entry on that many tile threads.
    static Found find_xl(const cv::Mat& img, int id, std::vector<int> tiles, float distance = 0.5f,
                         int code = 2, int workers = 0) {
        Found f;
        quro::Match* res = nullptr;
        int count = -1;
        f.handle =
            workers > 0
                ? quro::find_shape_model_xl_impl(
                      quro::make_request(img.data, img.cols, img.rows, 0.f, 360.f, 0.6f, 0, 0.5f,
                                         code, nullptr, 0.8f, nullptr),
                      tiles.data(), id, distance, res, count, workers)
                : find_shape_model_xl(img.data, img.cols, img.rows, tiles.data(), id, 0.f, 360.f,
                                      0.6f, 0, 0.5f, code, nullptr, 0.8f, distance, res, count);
        collect(f, res, count);
        return f;
    }
};

// The grid: derived counts (640 nominal, or twice the model), ends split evenly with the wider
// parts first, later starts moved back by the model's diagonal (ceil(hypot(100, 100)) = 142).
TEST(TileGrid, CountsEndsAndStartsMovedBackByTheModelDiagonal) {
    struct Case {
        int w, h;
        quro::TileParams p;
        std::vector<int> xs, xe, ys, ye;
        int levels = 1;
    };
    const Case cases[] = {
        {2000, 1000, {}, {0, 525, 1192}, {667, 1334, 2000}, {0, 358}, {500, 1000}},
        {300, 200, {}, {0}, {300}, {0}, {200}},          // derived 0: one tile
        {300, 2, {0, 9, 0, 0}, {0}, {300}, {0}, {2}},    // explicit: clamped to 1
        {96, 72, {96, 72, 1, 1}, {0}, {96}, {0}, {72}},  // tiles below the model: one
        {450, 300, {0, 9, 0, 0}, {0}, {450}, {0, 0, 58}, {100, 200, 300}},        // 3 model heights
        {600, 500, {0, 0, 150, 400}, {0, 58, 258}, {200, 400, 600}, {0}, {500}},  // 200 x 400
        // Four pyramid levels: starts on multiples of 8, so tiles see the image's pyramid.
        {2000, 1000, {}, {0, 520, 1192}, {667, 1334, 2000}, {0, 352}, {500, 1000}, 4},
    };
    for (const Case& c : cases) {
        const quro::TileGrid g = quro::plan_tile_grid(c.w, c.h, c.p, 100, 100, c.levels);
        EXPECT_EQ(g.columns.start, c.xs) << c.w;
        EXPECT_EQ(g.columns.end, c.xe) << c.w;
        EXPECT_EQ(g.rows.start, c.ys) << c.h;
        EXPECT_EQ(g.rows.end, c.ye) << c.h;
    }
}

// The bucketed duplicate removal keeps exactly what the pairwise scan keeps.
TEST(TileMerge, BucketedDuplicateRemovalEqualsThePairwiseScan) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(0.f, 60.f), frac(-0.5f, 0.5f), dist(0.f, 4.f);
    std::uniform_int_distribution<int> cell(0, 60);
    for (int round = 0; round < 50; ++round) {
        std::vector<quro::Match> ms(300);
        for (quro::Match& m : ms)
            m = quro::Match(cell(rng), cell(rng), pos(rng), 0.f, 1.f, 0), m.dx = frac(rng),
            m.dy = frac(rng);
        std::vector<quro::Match> a = ms, b = ms;
        const float d = quro::duplicate_distance(dist(rng));
        quro::merge_tile_matches(a, d);
        std::stable_sort(b.begin(), b.end(), [](auto& p, auto& q) { return p.score > q.score; });
        quro::drop_duplicates_pairwise(b, d);
        EXPECT_EQ(a, b);
    }
}

// A tile failing while other threads hold blocks of their own, or the whole call's clock running
// out after two tiles (each tile within its own time-out): -1, no further tile is searched, and
// no block stays registered.
TEST(TiledRun, ALaterFailedTileOrTheCallsTimeOutLeavesNothingRegistered) {
    const std::vector<unsigned char> img(900 * 700, 0);
    quro::SearchRequest req;
    req.data = img.data(), req.width = 900, req.height = 700;
    for (const bool clock : {false, true}) {
        quro::TiledRun run{quro::plan_tile_grid(900, 700, {3, 3, 0, 0}, 50, 50), 0.5f, 0, {}, {}};
        std::atomic<int> calls{0}, asked{0};
        if (clock) run.out_of_time = [&] { return ++asked > 1; };
        const quro::TileSearch search = [&](const quro::SearchRequest&, quro::StoredRange,
                                            quro::Match*& res, int& n) {
            const std::vector<quro::Match> two(2, quro::Match(1, 2, 0.9f, 0.f, 1.f, 0));
            return ++calls == 5 && !clock ? -2 : quro::hand_out_matches(two, 0, 0, {}, res, n);
        };
        run.workers = clock ? 1 : 3;
        const std::size_t before = quro::registered_result_count();
        quro::Match* res = nullptr;
        int count = 0;
        EXPECT_EQ(quro::run_tiled_search(req, run, search, res, count), -1);
        EXPECT_EQ(quro::registered_result_count(), before);
        EXPECT_TRUE(!clock || calls.load() == 2);
    }
}

// An image that fits one pass: one tile equals the plain search, a 2 x 2 grid (instances on the
// seams) finds the same instances within 0.02 px with peak fits and least squares alike (the
// tiles start on the pyramid's grid), whatever the number of tile threads, and the multi-model
// form keeps the ids.
TEST_F(TiledSearch, TiledSearchEqualsThePlainSearchOnAnImageThatFitsOnePass) {
    const std::vector<PartPose> poses = {{90.3, 80.6, 12.0},
                                         {300.8, 85.2, 104.5},
                                         {250.45, 230.7, -45.0},
                                         {80.6, 320.25, 181.0},
                                         {420.2, 330.9, -118.7}};
    const cv::Mat img =
        quro_test::render_part_scene({520, 420}, poses, {}, 60, 170, 30, 2.0, 3, 30);
    Found serial;
    for (const int code : {1, 2}) {
        const Found plain = find(img, 0.f, 360.f, 0.6f, 0, 0.5f, code);
        ASSERT_EQ(plain.matches.size(), poses.size());
        const Found one = find_xl(img, id_, {0, 0, 0, 0}, 0.5f, code);
        EXPECT_EQ(one.matches, plain.matches);
        for (int workers : {1, 3}) {
            const Found grid = find_xl(img, id_, {2, 2, 0, 0}, 0.5f, code, workers);
            if (workers == 1) serial = grid;
            ASSERT_EQ(grid.matches.size(), plain.matches.size());
            for (std::size_t i = 0; i < grid.matches.size(); ++i) {
                EXPECT_EQ(grid.matches[i], serial.matches[i]);
                const quro::Match& m = grid.matches[i];
                const quro::Match* p = near(plain.matches, {m.x + m.dx, m.y + m.dy, 0}, 0.02);
                EXPECT_TRUE(p != nullptr && angle_error(p->angle, m.angle) < 0.05)
                    << code << ": " << m.x << "," << m.y;
            }
        }
    }
    int tiles[4] = {2, 2, 0, 0}, ids[1] = {id_}, levels[2] = {0, 0}, count = 0;
    quro::Match* res = nullptr;
    const int h = find_shape_models_xl(img.data, img.cols, img.rows, tiles, ids, 1, 0.f, 360.f,
                                       0.6f, 0, 0.5f, 2, levels, 0.8f, 0.5f, res, count);
    ASSERT_EQ(count, static_cast<int>(poses.size()));
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(res[i].model_id == id_ &&
                    near(serial.matches, {res[i].x + res[i].dx, res[i].y + res[i].dy, 0}, 0.05));
    clear_mems(h);
}

// An instance at 45 degrees in the overlap of two tiles is found by both; the merge keeps it once,
// with the better of the two scores, also with a duplicate distance of 0 or below (read as 0.5).
TEST_F(TiledSearch, InstanceAcrossASeamIsFoundOnceWithTheHigherScore) {
    const cv::Mat img =
        quro_test::render_part_scene({900, 300}, {{400.4, 150.3, 45.0}}, {}, 60, 170, 30, 2.0, 5);
    int levels = 0;
    get_shape_model_param(id_, "num_levels", &levels);
    const quro::TileGrid g =
        quro::plan_tile_grid(900, 300, {2, 1, 0, 0}, model_image_.cols, model_image_.rows, levels);
    float best = 0.f;
    for (int k = 0; k < 2; ++k) {
        const cv::Mat tile = img.colRange(g.columns.start[k], g.columns.end[k]).clone();
        const Found f = find(tile);
        ASSERT_EQ(f.matches.size(), 1u) << "tile " << k;
        best = std::max(best, f.matches[0].score);
    }
    for (float distance : {0.f, -3.f, 0.5f}) {
        const Found f = find_xl(img, id_, {2, 1, 0, 0}, distance);
        ASSERT_EQ(f.matches.size(), 1u) << distance;
        EXPECT_EQ(f.matches[0].score, best);
    }
}

// Every return path: a failed tile (a time-out of the one tile of 1600 x 1600 noisy pixels, on a
// clock that moves on 1 ms at each question) gives -1 with nothing left registered; "print_time"
// is on again after each call, except for the refused null image, which leaves it alone.
TEST_F(TiledSearch, FailedTilesLeaveNothingAndPrintTimeIsOnAfterEveryReturn) {
    cv::Mat img(1600, 1600, CV_8U);
    cv::randn(img, 60, 20);
    quro_test::render_part_scene({200, 200}, {{100, 100, 20}}, {}, 60, 170, 30, 20.0, 9)
        .copyTo(img(cv::Rect(600, 400, 200, 200)));
    int tiles[4] = {1, 1, 0, 0}, levels[2] = {0, 0}, ids[1] = {id_}, count = 7;
    quro::Match* res = nullptr;
    const auto xl = [&](unsigned char* data, int id, int timeout) {
        set_shape_model_param(id_, "timeout", timeout);
        return find_shape_model_xl(data, img.cols, img.rows, tiles, id, 0.f, 360.f, 0.3f, 0, 0.5f,
                                   2, levels, 0.8f, 0.5f, res, count);
    };
    const auto multi = [&](int* id_list, int n) {
        return find_shape_models_xl(img.data, img.cols, img.rows, nullptr, id_list, n, 0.f, 360.f,
                                    0.3f, 0, 0.5f, 2, levels, 0.8f, 0.5f, res, count);
    };
    const std::size_t before = quro::registered_result_count();
    struct Case {
        std::function<int()> call;
        int rc;
        bool print_after;
    };
    const Case cases[] = {{[&] {
                               const quro_test::LibraryClockTicking clock;
                               return xl(img.data, id_, 1);
                           },
                           -1, true},
                          {[&] { return xl(img.data, id_ + 1000, 0); }, -1, true},
                          {[&] { return xl(nullptr, id_, 0); }, -1, false},
                          {[&] { return multi(ids, 0); }, -2, true},
                          {[&] { return multi(nullptr, 1); }, -1, true}};
    for (const Case& c : cases) {
        set_system("print_time", 0);
        EXPECT_EQ(c.call(), c.rc);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(quro::print_time(), c.print_after);
        EXPECT_EQ(quro::registered_result_count(), before);
    }
    set_system("print_time", 0);
    const int h = xl(img.data, id_, 0);
    EXPECT_TRUE(h >= 1 && count == 1 && quro::print_time() && clear_mems(h) == 0);
}

}  // namespace

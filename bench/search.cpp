// The rigid search on rendered part scenes: 640 x 480 with 5 instances and 2048 x 2048 with 12,
// plain and masked (a mask of ones, which must cost little, and one hiding a corner), and the
// match details of the 12
// matches at 2048 x 2048.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "quro/quro.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/normal_maps.h"
#include "quro/search/core/search_input.h"
#include "testing/part_scene.h"

namespace {

struct Setup {
    int id = -1;
    cv::Mat small, large, ones_small, ones_large, holed_large;
};

const Setup& setup() {
    static const Setup s = [] {
        Setup r;
        const cv::Mat model = quro_test::render_part_model(cv::Size(112, 84));
        const ContrastParams contrast{10, 30, 10, 10};
        create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                           nullptr, &r.id);
        r.small = quro_test::render_part_scene(
            cv::Size(640, 480),
            {{120.3, 110.6, 12}, {480.8, 105.2, 104.5}, {320.4, 250.7, -33}, {140.6, 370.2, 181},
             {505.2, 365.9, -118.7}},
            {}, 60, 170, 30, 3.0, 11, 60);
        std::vector<quro_test::PartPose> poses;
        for (int i = 0; i < 12; ++i)
            poses.push_back({260.0 + 500.0 * (i % 4) + 0.37 * i, 330.0 + 640.0 * (i / 4) + 0.21 * i,
                             29.0 * i - 150.0});
        r.large = quro_test::render_part_scene(cv::Size(2048, 2048), poses, {}, 60, 170, 30, 3.0,
                                               12, 400);
        r.ones_small = cv::Mat(r.small.size(), CV_8U, cv::Scalar(255));
        r.ones_large = cv::Mat(r.large.size(), CV_8U, cv::Scalar(255));
        // A mask that hides a corner without an instance: the masked levels do real work.
        r.holed_large = r.ones_large.clone();
        r.holed_large(cv::Rect(0, 0, 120, 120)).setTo(0);
        return r;
    }();
    return s;
}

int search(const cv::Mat& img, const cv::Mat* mask, quro::Match*& res, int& count) {
    int levels[2] = {0, 0};
    if (mask)
        return find_shape_model_2(img.data, img.cols, img.rows, setup().id, 0.f, 360.f, 0.7f, 0,
                                  0.5f, 2, levels, 0.8f, mask->data, res, count);
    return find_shape_model(img.data, img.cols, img.rows, setup().id, 0.f, 360.f, 0.7f, 0, 0.5f,
                            2, levels, 0.8f, res, count);
}

void run(benchmark::State& state, const cv::Mat& img, const cv::Mat* mask) {
    int found = 0;
    for (auto _ : state) {
        quro::Match* res = nullptr;
        int count = 0;
        const int h = search(img, mask, res, count);
        found = count;
        if (h > 0) clear_mems(h);
    }
    quro::wait_for_search_cleanup();
    state.counters["matches"] = found;
}

void BM_FindShapeModel640(benchmark::State& s) { run(s, setup().small, nullptr); }
void BM_FindShapeModel640Masked(benchmark::State& s) { run(s, setup().small, &setup().ones_small); }
void BM_FindShapeModel2048(benchmark::State& s) { run(s, setup().large, nullptr); }
void BM_FindShapeModel2048Masked(benchmark::State& s) {
    run(s, setup().large, &setup().ones_large);
}

void BM_FindShapeModel2048MaskedHole(benchmark::State& s) {
    run(s, setup().large, &setup().holed_large);
}

void BM_GetMatchDetails2048(benchmark::State& state) {
    const cv::Mat& img = setup().large;
    quro::Match* res = nullptr;
    int count = 0;
    const int h = search(img, nullptr, res, count);
    std::vector<quro::Match> ms(res, res + count);
    if (h > 0) clear_mems(h);
    for (auto _ : state) {
        quro::MatchDetails* d = nullptr;
        const int dh = get_match_details(img.data, img.cols, img.rows, 10.f, ms.data(),
                                         static_cast<int>(ms.size()), d);
        if (dh > 0) clear_mems(dh);
    }
    state.counters["matches"] = static_cast<double>(ms.size());
}

BENCHMARK(BM_FindShapeModel640)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindShapeModel640Masked)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindShapeModel2048)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindShapeModel2048Masked)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindShapeModel2048MaskedHole)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetMatchDetails2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

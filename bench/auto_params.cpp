// Speed of the automatic contrast proposal on a 1024 x 1024 part scene with noise and clutter:
// both exports whole (pyramid statistics and the chain detector on full resolution), and the two
// level statistics alone on the full-resolution image. Target: 100 ms per proposal.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <opencv2/core.hpp>

#include "quro/create/level_statistics.h"
#include "quro/quro.h"
#include "testing/part_scene.h"

namespace {

const cv::Mat& scene() {
    static const cv::Mat img = quro_test::render_part_scene(
        {1024, 1024}, {{250, 260, 10}, {700, 300, -40}, {480, 720, 95}}, {2.5, 2, 6, 2.5}, 60, 170,
        30, 4.0, 3, 60);
    return img;
}

// Arguments: export (1 or 2), number of threads.
void BM_AutoShapeModelParams(benchmark::State& state) {
    const cv::Mat& img = scene();
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(1)));
    double out[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        if (state.range(0) == 1)
            auto_shape_model_params(img.data, img.cols, img.rows, 0.5, out);
        else
            auto_shape_model_params2(img.data, img.cols, img.rows, 0.5, out, 0);
        benchmark::DoNotOptimize(out);
    }
    state.counters["low"] = out[0];
    state.counters["high"] = out[1];
    state.counters["size"] = out[2];
    state.counters["min_contrast"] = out[3];
}
BENCHMARK(BM_AutoShapeModelParams)
    ->Args({1, 1})
    ->Args({1, 8})
    ->Args({2, 1})
    ->Args({2, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arguments: statistic (1 Otsu, 2 suppression).
void BM_LevelStatistic(benchmark::State& state) {
    const cv::Mat& img = scene();
    for (auto _ : state) {
        const quro::LevelContrast c = state.range(0) == 1
                                          ? quro::otsu_level_contrast(img, 0.5)
                                          : quro::nms_level_contrast(img, 0.5, 0.375);
        benchmark::DoNotOptimize(c);
    }
}
BENCHMARK(BM_LevelStatistic)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Dense deformation field of one match, as the locally deformable search computes it per match:
// a square rectangle with 300 model points displaced by a smooth warp (up to 3 pixels), weights
// between 0.25 and 1. Arguments: rectangle side, worker threads (1: what a search's parallel loop
// over matches leaves each field). OpenCV's own threads follow the same count.
#include "quro/match/deform/dense_field.h"

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

void BM_GenerateDenseFieldFast(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                              static_cast<std::size_t>(threads));
    const int cv_threads = cv::getNumThreads();
    cv::setNumThreads(threads);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(0.05f * side, 0.95f * side);
    std::uniform_real_distribution<float> weight(0.25f, 1.f);
    std::vector<cv::Point2f> sources(300), targets(300);
    std::vector<float> weights(300);
    for (int k = 0; k < 300; ++k) {
        sources[k] = {pos(rng), pos(rng)};
        const cv::Point2f d(3.f * std::sin(sources[k].y * 0.02f),
                            2.f * std::cos(sources[k].x * 0.03f));
        targets[k] = sources[k] + d;
        weights[k] = weight(rng);
    }
    cv::Mat map_x, map_y;
    for (auto _ : state) {
        quro::generateDenseFieldFast({side, side}, targets, sources, weights, map_x, map_y, 0, 1.0,
                                     0, 0);
        benchmark::DoNotOptimize(map_x.data);
    }
    cv::setNumThreads(cv_threads);
    state.counters["levels"] = quro::dense_field_levels({side, side});
}
BENCHMARK(BM_GenerateDenseFieldFast)
    ->Args({400, 1})
    ->Args({400, 4})
    ->Args({800, 1})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

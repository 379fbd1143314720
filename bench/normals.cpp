// Gradient normals of one level, outputs reused across iterations (as a search reuses its level
// buffers). Arguments: width, height, worker threads, image kind (0: a blurred scene with drawn
// outlines, where part of the pixels lie below the threshold; 1: raw noise, where nearly every
// pixel is an edge, the worst case). The counter edge_share is the share of kept pixels.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <tbb/global_control.h>

#include "quro/match/refine/normals.h"

namespace {

cv::Mat bench_level(int width, int height, int kind) {
    cv::Mat level(height, width, CV_8UC1);
    cv::RNG rng(1);
    rng.fill(level, cv::RNG::UNIFORM, 0, 256);
    if (kind == 1) return level;
    cv::GaussianBlur(level, level, {0, 0}, 2.0);
    for (int i = 0; i < 40; ++i)
        cv::circle(level, {rng.uniform(0, width), rng.uniform(0, height)},
                   rng.uniform(5, std::max(6, width / 8)), cv::Scalar(rng.uniform(0, 256)), 2);
    return level;
}

// Runs compute(level, nx, ny) per iteration with width, height and thread count from the
// arguments; fresh = true hands it new outputs every call.
template <class Compute>
void run(benchmark::State& state, bool fresh, Compute compute) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                              static_cast<std::size_t>(state.range(2)));
    const cv::Mat level = bench_level(width, height, static_cast<int>(state.range(3)));
    cv::Mat nx, ny;
    compute(level, nx, ny);  // outputs allocated once
    state.counters["edge_share"] =
        static_cast<double>(cv::countNonZero(nx | ny)) / (static_cast<double>(width) * height);
    for (auto _ : state) {
        if (fresh) {
            nx.release();
            ny.release();
        }
        compute(level, nx, ny);
        benchmark::DoNotOptimize(nx.data);
        benchmark::DoNotOptimize(ny.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

constexpr float kThreshold = 10.f;

void BM_GetNormal33(benchmark::State& state) {
    run(state, false, [](const cv::Mat& level, cv::Mat& nx, cv::Mat& ny) {
        quro::_getNormal33(level, nx, kThreshold, ny);
    });
}

// The one-pixel loop that processors without AVX2 run.
void BM_GetNormal33Scalar(benchmark::State& state) {
    run(state, false, [](const cv::Mat& level, cv::Mat& nx, cv::Mat& ny) {
        quro::compute_normals(level, nx, kThreshold, ny, 0, quro::KernelPath::scalar);
    });
}

// Fresh outputs every call: the cost a caller pays when it does not keep its buffers.
void BM_GetNormal33FreshOutputs(benchmark::State& state) {
    run(state, true, [](const cv::Mat& level, cv::Mat& nx, cv::Mat& ny) {
        quro::_getNormal33(level, nx, kThreshold, ny);
    });
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int kind : {0, 1})
        for (int threads : {1, 8}) {
            b->Args({640, 480, threads, kind});
            b->Args({2048, 2048, threads, kind});
        }
    b->ArgNames({"w", "h", "threads", "kind"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_GetNormal33)->Apply(sizes);
BENCHMARK(BM_GetNormal33Scalar)->Apply(sizes);
BENCHMARK(BM_GetNormal33FreshOutputs)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();

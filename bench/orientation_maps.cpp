// Top-level image preparation of a search: orientation codes and the 16 response maps.
// Arguments: image width, height, threads, vector path (1) or one-lane path (0).
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/response_maps.h"
#include "testing/clutter_scene.h"

namespace {

struct Setup {
    cv::Mat level;
    tbb::global_control threads;
    quro::KernelPath vector_path;
    explicit Setup(const benchmark::State& s)
        : level(
              quro_test::clutter_scene(static_cast<int>(s.range(0)), static_cast<int>(s.range(1)))),
          threads(tbb::global_control::max_allowed_parallelism,
                  static_cast<std::size_t>(s.range(2))),
          vector_path(s.range(3) != 0 ? quro::KernelPath::vector : quro::KernelPath::scalar) {}
};

constexpr float kMinContrast = 10.f;
constexpr float kRadius = 30.f;

// Maps rebuilt into the caller's list of the previous call (their block is reused).
void BM_CodesAndMaps(benchmark::State& state) {
    Setup s(state);
    cv::Mat codes;
    std::vector<cv::Mat> maps;
    for (auto _ : state) {
        quro::quantize_orientations_with(s.level, codes, kMinContrast, kRadius, s.vector_path);
        quro::response_maps_with(codes, maps, false, s.vector_path);
        benchmark::DoNotOptimize(maps.data());
    }
}

// As a search runs it: new codes and a new list of maps on every call.
void BM_CodesAndMapsFresh(benchmark::State& state) {
    Setup s(state);
    for (auto _ : state) {
        cv::Mat codes;
        std::vector<cv::Mat> maps;
        quro::quantize_orientations_with(s.level, codes, kMinContrast, kRadius, s.vector_path);
        quro::response_maps_with(codes, maps, false, s.vector_path);
        benchmark::DoNotOptimize(maps.data());
    }
}

void BM_Codes(benchmark::State& state) {
    Setup s(state);
    cv::Mat codes;
    for (auto _ : state) {
        quro::quantize_orientations_with(s.level, codes, kMinContrast, kRadius, s.vector_path);
        benchmark::DoNotOptimize(codes.data);
    }
}

void BM_Maps(benchmark::State& state) {
    Setup s(state);
    cv::Mat codes;
    quro::quantize_orientations_with(s.level, codes, kMinContrast, kRadius,
                                     quro::KernelPath::automatic);
    std::vector<cv::Mat> maps;
    for (auto _ : state) {
        quro::response_maps_with(codes, maps, false, s.vector_path);
        benchmark::DoNotOptimize(maps.data());
    }
}

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "threads", "avx2"});
    for (int avx2 : {1, 0}) {
        b->Args({640, 480, 8, avx2});
        b->Args({256, 256, 8, avx2});
        b->Args({2048, 2048, 8, avx2});
        b->Args({640, 480, 1, avx2});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_CodesAndMaps)->Apply(sizes);
BENCHMARK(BM_CodesAndMapsFresh)->Apply(sizes);
BENCHMARK(BM_Codes)->Apply(sizes);
BENCHMARK(BM_Maps)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();

// Union, difference and intersection of two regions thresholded from one 4096 x 3072 image of
// smooth blobs (uniform noise, Gaussian blur sigma 4, stretched to 0..255): a at 128..255 (about
// 365k runs) and b at 110..140 (about 581k runs). Beside them, cv::bitwise_or on the two masks as
// the yardstick; each set operation reports its run count and `vs_bitwise_or`, its mean time over
// that of 50 cv::bitwise_or calls timed just before it. Argument: 0 union, 1 difference,
// 2 intersection. The set operations run on one thread.
#include <benchmark/benchmark.h>

#include <chrono>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quro/quro.h"
#include "testing/region_blobs.h"

namespace {

struct Inputs {
    cv::Mat mask_a, mask_b;
    quro::region a, b;
};

const Inputs& inputs() {
    static const Inputs in = [] {
        const cv::Mat& img = quro_test::blob_image();
        Inputs r;
        cv::inRange(img, 128, 255, r.mask_a);
        cv::inRange(img, 110, 140, r.mask_b);
        threshold_y(img.data, img.cols, img.rows, 128, 255, &r.a);
        threshold_y(img.data, img.cols, img.rows, 110, 140, &r.b);
        return r;
    }();
    return in;
}

using quro_test::seconds_since;

void BM_BitwiseOr(benchmark::State& state) {
    const Inputs& in = inputs();
    cv::Mat out;
    for (auto _ : state) {
        cv::bitwise_or(in.mask_a, in.mask_b, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_BitwiseOr)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SetOperation(benchmark::State& state) {
    using SetOp = void (*)(const quro::region&, const quro::region&, quro::region*);
    const SetOp ops[] = {union2_y, difference_y, intersection_y};
    const SetOp op = ops[state.range(0)];
    const Inputs& in = inputs();
    cv::Mat mask;
    cv::bitwise_or(in.mask_a, in.mask_b, mask);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) cv::bitwise_or(in.mask_a, in.mask_b, mask);
    const double bitwise_or = seconds_since(t0) / 50;
    quro::region out;
    op(in.a, in.b, &out);  // the output arrays grow once, outside the timing
    t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        op(in.a, in.b, &out);
        benchmark::DoNotOptimize(out.rows);
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs_a"] = in.a.num_runs;
    state.counters["runs_b"] = in.b.num_runs;
    state.counters["runs_out"] = out.num_runs;
    state.counters["vs_bitwise_or"] = mean / bitwise_or;
}
BENCHMARK(BM_SetOperation)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

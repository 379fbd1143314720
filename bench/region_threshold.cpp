// Thresholding a 4096 x 3072 image of smooth blobs (uniform noise, Gaussian blur sigma 4,
// stretched to 0..255) at 128..255 into a region: about 365k runs. Beside it, cv::inRange on the
// same image, which makes the mask only, as the yardstick; the threshold case reports its run
// count and `vs_inRange`, its mean time over that of 50 cv::inRange calls timed just before it.
// Argument: 0 threshold_y (the AVX2 marking kernel where the processor has it), 1 the scalar
// marking kernel.
#include <benchmark/benchmark.h>

#include <chrono>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quro/quro.h"
#include "quro/region/threshold.h"
#include "testing/region_blobs.h"

namespace {

using quro_test::blob_image;
using quro_test::seconds_since;

void BM_InRange(benchmark::State& state) {
    const cv::Mat& img = blob_image();
    cv::Mat mask;
    for (auto _ : state) {
        cv::inRange(img, 128, 255, mask);
        benchmark::DoNotOptimize(mask.data);
    }
}
BENCHMARK(BM_InRange)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThresholdY(benchmark::State& state) {
    const cv::Mat& img = blob_image();
    cv::Mat mask;
    cv::inRange(img, 128, 255, mask);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) cv::inRange(img, 128, 255, mask);
    const double in_range = seconds_since(t0) / 50;
    quro::region r;
    t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (state.range(0) == 0) {
            threshold_y(img.data, img.cols, img.rows, 128, 255, &r);
        } else {
            quro::threshold_region(img.data, img.cols, img.rows, 128, 255,
                                   quro::KernelPath::scalar, r);
        }
        benchmark::DoNotOptimize(r.rows);
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs"] = r.num_runs;
    state.counters["vs_inRange"] = mean / in_range;
}
BENCHMARK(BM_ThresholdY)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

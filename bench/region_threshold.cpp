// Thresholding a 4096 x 3072 image of smooth blobs (uniform noise, Gaussian blur sigma 4,
// stretched to 0..255) at 128..255 into a region: about 365k runs. Beside it, cv::inRange on the
// same image, which makes the mask only, as the yardstick; the threshold case reports its run
// count and `vs_inRange`, its mean time over that of 50 cv::inRange calls timed just before it.
// Argument: 0 threshold_y (the AVX2 marking kernel where the processor has it), 1 the scalar
// marking kernel. The fresh-region rows threshold smaller blob images into a new region per call
// (what a pipeline does), beside cv::inRange followed by a plain serial scan of the mask into run
// vectors, also new per call: `vs_inRange_scan` is the mean time over that yardstick's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

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
            quro::threshold_region(img.data, img.cols, img.rows, 128, 255, quro::KernelPath::scalar,
                                   r);
        }
        benchmark::DoNotOptimize(r.rows);
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs"] = r.num_runs;
    state.counters["vs_inRange"] = mean / in_range;
}
BENCHMARK(BM_ThresholdY)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// cv::inRange, then one pass over the mask rows collecting runs into new vectors; the run count.
std::size_t in_range_and_scan(const cv::Mat& img, cv::Mat& mask) {
    cv::inRange(img, 128, 255, mask);
    std::vector<int> rows, begins, ends;
    for (int y = 0; y < mask.rows; ++y) {
        const unsigned char* m = mask.ptr<unsigned char>(y);
        for (int x = 0; x < mask.cols;) {
            if (m[x] == 0) {
                ++x;
                continue;
            }
            const int b = x;
            while (x < mask.cols && m[x] != 0) ++x;
            rows.push_back(y);
            begins.push_back(b);
            ends.push_back(x - 1);
        }
    }
    benchmark::DoNotOptimize(ends.data());
    return rows.size();
}

// The blob image of the fresh-region rows: argument 0 about 40k runs, 1 about 263k runs.
const cv::Mat& fresh_case_image(std::int64_t which) {
    static const cv::Mat small = quro_test::make_blob_image(1280, 1080);
    static const cv::Mat large = quro_test::make_blob_image(3584, 2560);
    return which == 0 ? small : large;
}

void BM_InRangeAndScan(benchmark::State& state) {
    const cv::Mat& img = fresh_case_image(state.range(0));
    cv::Mat mask;
    std::size_t runs = 0;
    for (auto _ : state) runs = in_range_and_scan(img, mask);
    state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_InRangeAndScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThresholdYFreshRegion(benchmark::State& state) {
    const cv::Mat& img = fresh_case_image(state.range(0));
    cv::Mat mask;
    in_range_and_scan(img, mask);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) in_range_and_scan(img, mask);
    const double yardstick = seconds_since(t0) / 20;
    int runs = 0;
    t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        quro::region r;
        threshold_y(img.data, img.cols, img.rows, 128, 255, &r);
        runs = r.num_runs;
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs"] = runs;
    state.counters["vs_inRange_scan"] = mean / yardstick;
}
BENCHMARK(BM_ThresholdYFreshRegion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

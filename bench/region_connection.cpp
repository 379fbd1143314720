// Connected components of the 128..255 region of one 4096 x 3072 image of smooth blobs (uniform
// noise, Gaussian blur sigma 4, stretched to 0..255; about 365k runs), beside
// cv::connectedComponentsWithStats with 8-connectivity on its mask as the yardstick. The
// connection reports its component count and `vs_opencv`, its mean time over that of 20
// connectedComponentsWithStats calls timed just before it. Also the labelling pass alone, and the
// hole filling and the features of the whole region.
#include <benchmark/benchmark.h>

#include <chrono>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/quro.h"
#include "quro/region/components.h"
#include "testing/region_blobs.h"

namespace {

struct Inputs {
    cv::Mat mask;
    quro::region r;
};

const Inputs& inputs() {
    static const Inputs in = [] {
        const cv::Mat& img = quro_test::blob_image();
        Inputs r;
        cv::inRange(img, 128, 255, r.mask);
        threshold_y(img.data, img.cols, img.rows, 128, 255, &r.r);
        return r;
    }();
    return in;
}

using quro_test::seconds_since;

void BM_ConnectedComponentsWithStats(benchmark::State& state) {
    const Inputs& in = inputs();
    cv::Mat labels, stats, centroids;
    for (auto _ : state) {
        const int n = cv::connectedComponentsWithStats(in.mask, labels, stats, centroids, 8);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_ConnectedComponentsWithStats)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Connection(benchmark::State& state) {
    const Inputs& in = inputs();
    cv::Mat labels, stats, centroids;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i)
        cv::connectedComponentsWithStats(in.mask, labels, stats, centroids, 8);
    const double opencv = seconds_since(t0) / 20;
    quro::region out;
    int count = 0;
    t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        count = connection_y(in.r, &out, 1);
        benchmark::DoNotOptimize(out.parts);
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs"] = in.r.num_runs;
    state.counters["components"] = count;
    state.counters["vs_opencv"] = mean / opencv;
}
BENCHMARK(BM_Connection)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LabelRuns(benchmark::State& state) {
    const Inputs& in = inputs();
    std::vector<int> labels;
    for (auto _ : state) benchmark::DoNotOptimize(quro::label_runs(in.r, 1, labels));
}
BENCHMARK(BM_LabelRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FillUp(benchmark::State& state) {
    const Inputs& in = inputs();
    quro::region out;
    for (auto _ : state) {
        fill_up_y(in.r, &out);
        benchmark::DoNotOptimize(out.rows);
    }
    state.counters["runs_out"] = out.num_runs;
}
BENCHMARK(BM_FillUp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Features(benchmark::State& state) {
    quro::region r = inputs().r;
    for (auto _ : state) {
        compute_feature_y(&r);
        benchmark::DoNotOptimize(r.rect_angle);
    }
}
BENCHMARK(BM_Features)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

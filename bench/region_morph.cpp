// Erosion and dilation of the 128..255 region of the 4096 x 3072 blob image (about 365k runs) by
// the disc gen_se_circle(5) (11 x 11), beside cv::erode and cv::dilate with the same kernel on the
// region's mask. Each quro case reports `vs_opencv`, its mean time over that of 20 OpenCV calls
// timed just before it, and its output run count. Argument: 0 erosion, 1 dilation; opening and
// closing follow for scale.
#include <benchmark/benchmark.h>

#include <chrono>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/quro.h"
#include "testing/region_blobs.h"

namespace {

struct Inputs {
    cv::Mat mask, kernel;
    quro::region in, disc;
};

const Inputs& inputs() {
    static const Inputs in = [] {
        const cv::Mat& img = quro_test::blob_image();
        Inputs r;
        cv::inRange(img, 128, 255, r.mask);
        threshold_y(img.data, img.cols, img.rows, 128, 255, &r.in);
        std::vector<quro::chord> se;
        gen_se_circle(5, &se);
        std::vector<int> rows, begins, ends;
        r.kernel = cv::Mat::zeros(11, 11, CV_8UC1);
        for (const quro::chord& c : se) {
            rows.push_back(c.row);
            begins.push_back(c.col_begin);
            ends.push_back(c.col_end);
            r.kernel(cv::Range(c.row + 5, c.row + 6), cv::Range(c.col_begin + 5, c.col_end + 6)) =
                1;
        }
        gen_region_runs(&r.disc, rows, begins, ends);
        return r;
    }();
    return in;
}

using quro_test::seconds_since;

void opencv_morph(const Inputs& in, bool dilate, cv::Mat& out) {
    if (dilate)
        cv::dilate(in.mask, out, in.kernel);
    else
        cv::erode(in.mask, out, in.kernel);
}

void BM_OpenCv(benchmark::State& state) {
    const Inputs& in = inputs();
    cv::Mat out;
    for (auto _ : state) {
        opencv_morph(in, state.range(0) == 1, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_OpenCv)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Morph(benchmark::State& state) {
    const Inputs& in = inputs();
    const bool dilate = state.range(0) == 1;
    cv::Mat mask;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) opencv_morph(in, dilate, mask);
    const double opencv = seconds_since(t0) / 20;
    quro::region out;
    const auto run = [&] {
        if (dilate)
            dilation2_y(in.in, in.disc, &out, 0, 0);
        else
            erosion2_y(in.in, in.disc, &out, 0, 0);
    };
    run();  // the output arrays grow once, outside the timing
    t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        run();
        benchmark::DoNotOptimize(out.rows);
    }
    const double mean = seconds_since(t0) / static_cast<double>(state.iterations());
    state.counters["runs_in"] = in.in.num_runs;
    state.counters["runs_out"] = out.num_runs;
    state.counters["vs_opencv"] = mean / opencv;
}
BENCHMARK(BM_Morph)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpeningClosing(benchmark::State& state) {
    const Inputs& in = inputs();
    quro::region out;
    for (auto _ : state) {
        if (state.range(0) == 0)
            opening_y(in.in, in.disc, &out);
        else
            closing_y(in.in, in.disc, &out);
        benchmark::DoNotOptimize(out.rows);
    }
    state.counters["runs_out"] = out.num_runs;
}
BENCHMARK(BM_OpeningClosing)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Speed of one-dimensional measuring: the handle layouts (the ellipse's arc-length spacing is the
// costly one) and edge measuring along many handles, on one and four threads.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cmath>
#include <cstddef>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/quro.h"
#include "testing/supersampled.h"

namespace {

// A 1024 x 1024 image with a bright disc of radius 300 at (512.3, 511.6), drawn at 4x.
const cv::Mat& disc_scene() {
    static const cv::Mat img = [] {
        quro_test::Supersampled canvas(cv::Size(1024, 1024), 4, 60);
        cv::circle(canvas.fine(), canvas.fixed(512.3, 511.6),
                   300 * 4 << quro_test::Supersampled::kShift, cv::Scalar(190), cv::FILLED,
                   cv::LINE_8, quro_test::Supersampled::kShift);
        return canvas.reduce();
    }();
    return img;
}

// `n` handles (half_length 20, half_width 2 unless given) evenly around the disc's edge, profiles
// outward.
std::vector<quro::RRect> circle_handles(int n, float half_length = 20.f, float half_width = 2.f) {
    std::vector<quro::RRect> h;
    for (int i = 0; i < n; ++i) {
        const double t = 2.0 * 3.14159265358979323846 * i / n;
        h.push_back({static_cast<float>(512 + 300 * std::sin(t)),
                     static_cast<float>(512 + 300 * std::cos(t)),
                     static_cast<float>(t * 180.0 / 3.14159265358979323846 - 90.0), half_length,
                     half_width});
    }
    return h;
}

// Arguments: handle count, threads, sigma x 10.
void BM_DoMeasureCircle(benchmark::State& state) {
    const cv::Mat& img = disc_scene();
    const std::vector<quro::RRect> handles = circle_handles(static_cast<int>(state.range(0)));
    const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                      static_cast<std::size_t>(state.range(1)));
    const double sigma = state.range(2) / 10.0;
    for (auto _ : state) {
        double* out = nullptr;
        int found = 0;
        const int h = do_measure(img.data, img.cols, img.rows, sigma, 20, "strongest",
                                 handles.data(), static_cast<int>(handles.size()), &out, &found);
        if (h < 1 || found != static_cast<int>(handles.size()))
            state.SkipWithError("an edge was missed");
        clear_mems(h);
    }
    state.counters["handles"] = static_cast<double>(handles.size());
}
BENCHMARK(BM_DoMeasureCircle)
    ->Args({360, 1, 10})
    ->Args({360, 4, 10})
    ->Args({360, 1, 30})
    ->Args({3600, 1, 10})
    ->Args({3600, 4, 10})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// 125 handles of 61 x 11 samples with the library's default threads (run it idle and on a loaded
// machine: a team that spins between loops shows here).
void BM_DoMeasureDefaultThreads(benchmark::State& state) {
    const cv::Mat& img = disc_scene();
    const std::vector<quro::RRect> handles = circle_handles(125, 30.f, 5.f);
    for (auto _ : state) {
        double* out = nullptr;
        int found = 0;
        const int h = do_measure(img.data, img.cols, img.rows, 1.0, 20, "strongest", handles.data(),
                                 static_cast<int>(handles.size()), &out, &found);
        if (h < 1 || found != static_cast<int>(handles.size()))
            state.SkipWithError("an edge was missed");
        clear_mems(h);
    }
}
BENCHMARK(BM_DoMeasureDefaultThreads)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One rectangle, every edge (threshold 20) or the whole derivative (threshold 0).
void BM_MeasurePosD(benchmark::State& state) {
    const cv::Mat& img = disc_scene();
    for (auto _ : state) {
        double* out = nullptr;
        int count = 0;
        const int h = measure_pos_d(812, 512, 0, 40, 5, img.data, img.cols, img.rows, 1.0,
                                    static_cast<double>(state.range(0)), &out, &count);
        if (h < 1) state.SkipWithError("nothing measured");
        clear_mems(h);
    }
}
BENCHMARK(BM_MeasurePosD)->Arg(20)->Arg(0)->Unit(benchmark::kMicrosecond);

// Arguments: semi-axis b (a = 200), half_width x 10.
void BM_GenMeasureEllipse(benchmark::State& state) {
    int count = 0;
    for (auto _ : state) {
        quro::RRect* out = nullptr;
        const int h = gen_measure_ellipse(512, 512, 30, 200, static_cast<double>(state.range(0)),
                                          10, state.range(1) / 10.0, 1, 0, &out, &count);
        if (h < 1) state.SkipWithError("no handles");
        clear_mems(h);
    }
    state.counters["handles"] = count;
}
BENCHMARK(BM_GenMeasureEllipse)
    ->Args({200, 50})
    ->Args({20, 50})
    ->Args({20, 10})
    ->Unit(benchmark::kMillisecond);

void BM_GenMeasureLineAndCircle(benchmark::State& state) {
    for (auto _ : state) {
        quro::RRect* out = nullptr;
        int count = 0;
        clear_mems(gen_measure_line(0, 0, 1000, 300, 10, 1, 0, 0, &out, &count));
        clear_mems(gen_measure_circle(512, 512, 300, 10, 1, 1, 0, &out, &count));
    }
}
BENCHMARK(BM_GenMeasureLineAndCircle)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

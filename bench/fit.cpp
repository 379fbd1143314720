// Speed of do_fit on noisy point sets with 10% outliers: lines (least squares and Huber, beside
// cv::fitLine), circles from 50 random attempts, and ellipses (beside cv::fitEllipseDirect).
#include <benchmark/benchmark.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "quro/quro.h"

namespace {

// n points on the ellipse (centre (300, 200), semi-axes a and b, turned by 30 degrees), moved by
// N(0, 0.2), every tenth point pushed 10..50 px outward; a = b gives a circle, b = 0 a segment of
// length 2a.
std::vector<cv::Point2f> shape_points(int n, double a, double b) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 0.2);
    std::uniform_real_distribution<double> far(10, 50);
    std::vector<cv::Point2f> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * 3.14159265358979323846 * i / n;
        double u = b > 0 ? a * std::cos(t) : a * (2.0 * i / n - 1), v = b * std::sin(t);
        double off = noise(rng) + (i % 10 == 3 ? far(rng) : 0.0);
        if (b > 0) {
            const double k = 1 + off / std::hypot(u, v);
            u *= k, v *= k;
        } else {
            v = off;
        }
        p.emplace_back(300 + u * 0.866 - v * 0.5, 200 + u * 0.5 + v * 0.866);
    }
    return p;
}

std::vector<double> layout(const std::vector<cv::Point2f>& p) {
    std::vector<double> v;
    for (const cv::Point2f& q : p) v.push_back(q.x);
    for (const cv::Point2f& q : p) v.push_back(q.y);
    return v;
}

// Arguments: point count, type, dist (line), attempts.
void BM_DoFit(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), type = static_cast<int>(state.range(1));
    const auto pts = shape_points(n, 100, type == 0 ? 0 : type == 1 ? 100 : 60);
    const std::vector<double> xy = layout(pts);
    double out[5];
    for (auto _ : state) {
        if (do_fit(xy.data(), n, type, static_cast<int>(state.range(2)), 1.f,
                   static_cast<int>(state.range(3)), type == 1 ? 3 : 2, out) != 0)
            state.SkipWithError("the fit failed");
        benchmark::DoNotOptimize(out);
    }
    state.counters["points"] = n;
}
BENCHMARK(BM_DoFit)
    ->ArgNames({"n", "type", "dist", "attempts"})
    ->Args({100, 0, 2, 1})
    ->Args({100, 0, 7, 20})
    ->Args({10000, 0, 2, 1})
    ->Args({10000, 0, 7, 20})
    ->Args({80, 1, 0, 50})
    ->Args({10000, 1, 0, 50})
    ->Args({60, 2, 0, 1})
    ->Args({10000, 2, 0, 1});

// The OpenCV baselines: cv::fitLine (argument 1: its dist code) and cv::fitEllipseDirect.
void BM_CvFitLine(benchmark::State& state) {
    const auto pts = shape_points(static_cast<int>(state.range(0)), 100, 0);
    cv::Vec4f line;
    for (auto _ : state) {
        cv::fitLine(pts, line, static_cast<int>(state.range(1)), 1, 0.01, 0.01);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_CvFitLine)->ArgNames({"n", "dist"})->ArgsProduct({{100, 10000}, {2, 7}});

void BM_CvFitEllipseDirect(benchmark::State& state) {
    const auto pts = shape_points(static_cast<int>(state.range(0)), 100, 60);
    for (auto _ : state) benchmark::DoNotOptimize(cv::fitEllipseDirect(pts));
}
BENCHMARK(BM_CvFitEllipseDirect)->ArgName("n")->Arg(60)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();

// Final selection on the full-resolution level, and one rotated-box overlap. Selection
// arguments: candidate count, border rule on (1) or off (0). The candidates lie in clusters
// around instances (so that many pairs are measured) with some near the image border; the list
// is copied into place each iteration.
#include "quro/match/select/selection.h"

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/select/rotated_box.h"
#include "quro/settings.h"
#include "testing/polygon_model.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;

std::vector<quro::Match> final_candidates(int n) {
    cv::RNG rng(11);
    std::vector<quro::Match> c;
    for (int i = 0; i < n; ++i) {
        // About five candidates per instance, a few pixels and degrees apart.
        const int instance = i / 5;
        cv::RNG place(static_cast<std::uint64_t>(instance) + 100);
        const int x = place.uniform(0, kWidth), y = place.uniform(0, kHeight);
        const float angle = place.uniform(-180.f, 180.f);
        c.emplace_back(x + rng.uniform(-3, 4), y + rng.uniform(-3, 4), rng.uniform(0.5f, 0.95f),
                       angle + rng.uniform(-4.f, 4.f), 1.f, 1.f, 0, 1);
    }
    return c;
}

void BM_SelectMatches(benchmark::State& state) {
    const quro::ShapeModelRecord rec = quro_test::polygon_model(
        {{-60.f, -30.f}, {50.f, -40.f}, {60.f, 25.f}, {-10.f, 40.f}, {-55.f, 20.f}}, 1);
    const quro::OutlineBox box = quro::outline_box(rec, 1);
    const int saved = quro::border_shape_models();
    quro::set_border_shape_models(state.range(1) ? 0 : 1);
    const std::vector<quro::Match> input = final_candidates(static_cast<int>(state.range(0)));
    std::vector<quro::Match> c;
    std::size_t left = 0;
    for (auto _ : state) {
        c.assign(input.begin(), input.end());
        quro::select_matches(0, {kWidth, kHeight}, box, 0.5f, c, rec, 0);
        left = c.size();
        benchmark::DoNotOptimize(c.data());
    }
    quro::set_border_shape_models(saved);
    state.counters["left"] = static_cast<double>(left);
}
BENCHMARK(BM_SelectMatches)
    ->Args({200, 1})
    ->Args({200, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMicrosecond);

// What a low min_score leaves on a small level: a candidate at nearly every pixel, at random
// angles and scores, selected with a high overlap limit (argument: candidate count).
void BM_SelectMatchesDense(benchmark::State& state) {
    const quro::ShapeModelRecord rec = quro_test::polygon_model(
        {{-30.f, -15.f}, {25.f, -20.f}, {30.f, 12.f}, {-5.f, 20.f}, {-28.f, 10.f}}, 1);
    const quro::OutlineBox box = quro::outline_box(rec, 1);
    const int saved = quro::border_shape_models();
    quro::set_border_shape_models(1);
    cv::RNG rng(5);
    std::vector<quro::Match> input;
    for (int i = 0; i < state.range(0); ++i)
        input.emplace_back(rng.uniform(0, 120), rng.uniform(0, 100), rng.uniform(0.3f, 0.6f),
                           rng.uniform(-180.f, 180.f), 1.f, 1.f, 0, 1);
    std::vector<quro::Match> c;
    std::size_t left = 0;
    for (auto _ : state) {
        c.assign(input.begin(), input.end());
        quro::select_matches(0, {120, 100}, box, 0.9f, c, rec, 0);
        left = c.size();
        benchmark::DoNotOptimize(c.data());
    }
    quro::set_border_shape_models(saved);
    state.counters["left"] = static_cast<double>(left);
}
BENCHMARK(BM_SelectMatchesDense)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_RotatedBoxOverlap(benchmark::State& state) {
    const quro::OutlineBox box{-30.f, 40.f, -20.f, 25.f, 0.f, 0.f};
    const quro::RotatedBox a = quro::rotated_box(box, 100.f, 100.f, 10.f, 1.f);
    const quro::RotatedBox b = quro::rotated_box(box, 112.f, 95.f, 37.f, 1.f);
    for (auto _ : state) benchmark::DoNotOptimize(quro::rotated_box_overlap(a, b));
}
BENCHMARK(BM_RotatedBoxOverlap)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();

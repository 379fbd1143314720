// The tiled search of a very large image: an 8192 x 8192 scene with 100 instances of the machined
// part (testing/part_scene.h), 32 of them placed across the seams of a 4 x 4 grid of 2048 x 2048
// quarters, on a background of grey 60 with 600 bars and discs of clutter and noise sigma 2.
// Every search: angles 0..360, min_score 0.6, max_overlap 0.5, sub-pixel code 2, greediness 0.8,
// all levels, all matches (false positives count).
// Rows: xl, find_shape_model_xl with a 4 x 4 grid and duplicate distance 2 on the tile threads
// it picks itself; xl_serial, the same on one tile thread; xl_multi, find_shape_models_xl with the
// one model; quarters_16, the yardstick: find_shape_model on each of the 16 quarters (copied out
// before the timing), one after the other. The quarters lose the instances on their seams.
// xl_over_quarters times xl and quarters_16 in turn (the same load for both) and gives the
// ratio of their medians; xl_serial_over_quarters the same with one tile thread.
// Counters: recall, false positives, RMS position error (px), the median time and the process's
// peak resident memory (MiB; run one row per process with --benchmark_filter to read a row's own
// peak; scene_mib is the resident memory once the scene and the quarters exist).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "quro/quro.h"
#include "quro/search/core/search_export.h"
#include "quro/search/tiled/tiled_search.h"
#include "testing/compare_score.h"
#include "testing/tiled_scene.h"

namespace {

constexpr int kSide = quro_test::kTiledSide, kQuarter = quro_test::kTiledQuarter,
              kInstances = quro_test::kTiledInstances;

// The shared scene, and the resident memory once it and its quarters exist.
struct BigScene : quro_test::TiledScene {
    double scene_mib = 0;
};

double peak_mib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

BigScene render_big_scene() {
    BigScene s;
    static_cast<quro_test::TiledScene&>(s) = quro_test::render_tiled_scene();
    s.scene_mib = peak_mib();
    return s;
}

const BigScene& big_scene() {
    static const BigScene s = render_big_scene();
    return s;
}

void collect(int handle, const quro::Match* res, int count, int ox, int oy,
             std::vector<compare::Detection>& out) {
    for (int i = 0; handle > 0 && i < count; ++i)
        out.push_back(
            {res[i].x + res[i].dx + ox, res[i].y + res[i].dy + oy, res[i].angle, res[i].score});
    if (handle > 0) clear_mems(handle);
}

// The multi-model export, the single-model export, or (workers above 0) the single-model search
// on that many tile threads.
std::vector<compare::Detection> find_xl(const BigScene& s, bool multi, int workers = 0) {
    int tiles[4] = {4, 4, 0, 0}, levels[2] = {0, 0}, ids[1] = {s.model}, count = 0;
    quro::Match* res = nullptr;
    const auto request = [&] {
        return quro::make_request(s.image.data, kSide, kSide, 0.f, 360.f, 0.6f, 0, 0.5f, 2, levels,
                                  0.8f, nullptr);
    };
    const int h =
        multi ? find_shape_models_xl(s.image.data, kSide, kSide, tiles, ids, 1, 0.f, 360.f, 0.6f, 0,
                                     0.5f, 2, levels, 0.8f, 2.f, res, count)
        : workers > 0
            ? quro::find_shape_model_xl_impl(request(), tiles, s.model, 2.f, res, count, workers)
            : find_shape_model_xl(s.image.data, kSide, kSide, tiles, s.model, 0.f, 360.f, 0.6f, 0,
                                  0.5f, 2, levels, 0.8f, 2.f, res, count);
    std::vector<compare::Detection> dets;
    collect(h, res, count, 0, 0, dets);
    return dets;
}

std::vector<compare::Detection> find_quarters(const BigScene& s) {
    std::vector<compare::Detection> dets;
    for (std::size_t q = 0; q < s.quarters.size(); ++q) {
        int levels[2] = {0, 0}, count = 0;
        quro::Match* res = nullptr;
        const cv::Mat& img = s.quarters[q];
        const int h = find_shape_model(img.data, img.cols, img.rows, s.model, 0.f, 360.f, 0.6f, 0,
                                       0.5f, 2, levels, 0.8f, res, count);
        collect(h, res, count, static_cast<int>(q % 4) * kQuarter,
                static_cast<int>(q / 4) * kQuarter, dets);
    }
    return dets;
}

template <class Find>
void run(benchmark::State& state, Find find) {
    const BigScene& s = big_scene();
    std::vector<double> ms;
    std::vector<compare::Detection> dets;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        dets = find(s);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    compare::Accuracy acc;
    compare::score_scene(s.truth, dets, acc);
    state.counters["recall"] = acc.recall();
    state.counters["false_pos"] = acc.false_positives;
    state.counters["rms_px"] = acc.rms_pos();
    state.counters["median_ms"] = compare::median(ms);
    state.counters["peak_mib"] = peak_mib();
    state.counters["scene_mib"] = s.scene_mib;
}

// The target as a ratio on a shared machine: the tiled search and the 16 quarter searches in
// turn, each iteration timing one of each, so that both see the same load.
void run_paired(benchmark::State& state, int workers) {
    const BigScene& s = big_scene();
    std::vector<double> xl, quarters;
    const auto time_ms = [](auto&& f) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(f());
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
            .count();
    };
    for (auto _ : state) {
        xl.push_back(time_ms([&] { return find_xl(s, false, workers); }));
        quarters.push_back(time_ms([&] { return find_quarters(s); }));
    }
    state.counters["xl_ms"] = compare::median(xl);
    state.counters["quarters_ms"] = compare::median(quarters);
    state.counters["ratio"] = compare::median(xl) / compare::median(quarters);
}

void register_all() {
    const auto add = [](const char* name, auto find) {
        benchmark::RegisterBenchmark(name, [find](benchmark::State& st) { run(st, find); })
            ->Iterations(9)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    add("tiled_8192/xl", [](const BigScene& s) { return find_xl(s, false); });
    add("tiled_8192/xl_serial", [](const BigScene& s) { return find_xl(s, false, 1); });
    add("tiled_8192/xl_multi", [](const BigScene& s) { return find_xl(s, true); });
    add("tiled_8192/quarters_16", find_quarters);
    for (int workers : {0, 1}) {
        const char* name =
            workers ? "tiled_8192/xl_serial_over_quarters" : "tiled_8192/xl_over_quarters";
        benchmark::RegisterBenchmark(name,
                                     [workers](benchmark::State& st) { run_paired(st, workers); })
            ->Iterations(15)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

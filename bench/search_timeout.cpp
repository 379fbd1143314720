// How closely the searches keep their model's time-out: a 2048 x 2048 scene with 12 instances of
// the machined part (testing/part_scene.h) among 2000 bars and discs of clutter, blended 6 : 4 with
// the blurred random blocks of testing/clutter_scene.h (edges everywhere), searched at min_score
// 0.5 (the deformable search 0.7) with
// time-outs of 5, 20 and 50 ms (and 0, no limit, for the full duration) by every search kind:
// rigid, masked (a mask hiding a corner), scaled, anisotropic, deformable, two models at once and
// the tiled search (2 x 2 tiles; its time-out applies as the header says).
// Every row runs a fixed number of searches and reports the actual durations: median_ms,
// worst_ms, the median overrun of the limit (over_ms) and how many searches returned -2
// (timed_out).
// --busy=N (default 0) starts N threads that spin beside the searches for the whole run: the
// searches' worker threads then compete for the cores as on a busy line PC. --threads=N limits
// the library's parallel loops to N threads (1: the overrun is the longest stretch of work
// between two questions to the time limit, without the wait for preempted worker threads).
//   bench_search_timeout --benchmark_counters_tabular=true            # idle
//   bench_search_timeout --busy=8 --benchmark_counters_tabular=true   # with 8 busy loops
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <tbb/global_control.h>

#include "quro/quro.h"
#include "quro/search/core/normal_maps.h"
#include "testing/clutter_scene.h"
#include "testing/part_scene.h"

namespace {

constexpr int kRuns = 15;

struct Scene {
    int model = -1, second = -1;
    cv::Mat image, mask;
};

const Scene& scene() {
    static const Scene s = [] {
        Scene r;
        const ContrastParams contrast{10, 30, 10, 10};
        const cv::Mat model = quro_test::render_part_model(cv::Size(112, 84));
        create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                           nullptr, &r.model);
        const cv::Mat second = quro_test::render_part_model(cv::Size(160, 120));
        create_shape_model(second.data, second.cols, second.rows, 0, 0.f, 360.f, 0.f, 1,
                           &contrast, nullptr, &r.second);
        std::vector<quro_test::PartPose> poses;
        for (int i = 0; i < 12; ++i)
            poses.push_back({260.0 + 500.0 * (i % 4) + 0.37 * i, 330.0 + 640.0 * (i / 4) + 0.21 * i,
                             29.0 * i - 150.0});
        const cv::Mat parts = quro_test::render_part_scene(cv::Size(2048, 2048), poses, {}, 60,
                                                           170, 30, 3.0, 12, 2000);
        cv::addWeighted(parts, 0.6, quro_test::clutter_scene(2048, 2048), 0.4, 0.0, r.image);
        r.mask = cv::Mat(r.image.size(), CV_8U, cv::Scalar(255));
        r.mask(cv::Rect(0, 0, 120, 120)).setTo(0);
        return r;
    }();
    return s;
}

enum Kind { kRigid, kMasked, kScaled, kAniso, kDeformable, kMulti, kTiled };
const char* const kKindNames[] = {"rigid", "masked", "scaled", "aniso", "deformable", "multi",
                                  "tiled"};

int& last_count() {
    static int n = 0;
    return n;
}

int search(Kind kind) {
    const Scene& s = scene();
    unsigned char* data = s.image.data;
    const int w = s.image.cols, h = s.image.rows;
    int levels[4] = {0, 0, 0, 0}, ids[2] = {s.model, s.second}, tiles[4] = {2, 2, 0, 0};
    quro::Match* res = nullptr;
    int count = 0;
    int rc = 0;
    switch (kind) {
    case kRigid:
        rc = find_shape_model(data, w, h, s.model, 0.f, 360.f, 0.5f, 0, 0.5f, 2, levels, 0.8f, res,
                              count);
        break;
    case kMasked:
        rc = find_shape_model_2(data, w, h, s.model, 0.f, 360.f, 0.5f, 0, 0.5f, 2, levels, 0.8f,
                                s.mask.data, res, count);
        break;
    case kScaled:
        rc = find_scaled_shape_model(data, w, h, s.model, 0.f, 360.f, 0.9f, 1.1f, 0.7f, 0, 0.5f,
                                     2, levels, 0.8f, res, count);
        break;
    case kAniso:
        rc = find_aniso_shape_model(data, w, h, s.model, 0.f, 360.f, 0.95f, 1.05f, 0.95f, 1.05f,
                                    0.5f, 0, 0.5f, 2, levels, 0.8f, res, count);
        break;
    case kDeformable: {
        quro::VectorField* fields = nullptr;
        int fields_handle = 0;
        rc = find_local_deformable_model(data, w, h, s.model, 0.f, 360.f, 0.95f, 1.05f, 0.95f,
                                         1.05f, 0.7f, 0, 0.5f, 2, levels, 0.8f, res, count,
                                         fields, fields_handle);
        if (fields_handle > 0) clear_mems(fields_handle);
        break;
    }
    case kMulti:
        rc = find_shape_models(data, w, h, ids, 2, 0.f, 360.f, 0.5f, 0, 0.5f, 2, levels, 0.8f,
                               res, count);
        break;
    case kTiled:
        rc = find_shape_model_xl(data, w, h, tiles, s.model, 0.f, 360.f, 0.5f, 0, 0.5f, 2, levels,
                                 0.8f, 2.f, res, count);
        break;
    }
    if (rc > 0) clear_mems(rc);
    last_count() = count;
    return rc;
}

void BM_TimeOut(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    const int limit = static_cast<int>(state.range(1));
    const Scene& s = scene();
    set_shape_model_param(s.model, "timeout", limit);
    set_shape_model_param(s.second, "timeout", limit);
    std::vector<double> ms;
    int timed_out = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = search(kind);
        const std::chrono::duration<double, std::milli> d = std::chrono::steady_clock::now() - t0;
        state.SetIterationTime(d.count() / 1000.0);
        ms.push_back(d.count());
        timed_out += rc == -2 ? 1 : 0;
        quro::wait_for_search_cleanup();
    }
    set_shape_model_param(s.model, "timeout", 0);
    set_shape_model_param(s.second, "timeout", 0);
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    state.counters["median_ms"] = median;
    state.counters["worst_ms"] = ms.back();
    state.counters["over_ms"] = limit > 0 ? median - limit : 0.0;
    state.counters["timed_out"] = timed_out;
    state.counters["matches"] = last_count();
    state.SetLabel(std::string(kKindNames[kind]) + " limit " + std::to_string(limit));
}

BENCHMARK(BM_TimeOut)
    ->ArgsProduct({{kRigid, kMasked, kScaled, kAniso, kDeformable, kMulti, kTiled},
                   {0, 5, 20, 50}})
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Spins until the process ends.
void busy_loop(const std::atomic<bool>* stop) {
    volatile unsigned long x = 0;
    while (!stop->load(std::memory_order_relaxed)) x = x + 1;
}

}  // namespace

int main(int argc, char** argv) {
    int busy = 0, threads = 0;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--busy=", 7) == 0)
            busy = std::atoi(argv[i] + 7);
        else if (std::strncmp(argv[i], "--threads=", 10) == 0)
            threads = std::atoi(argv[i] + 10);
        else
            args.push_back(argv[i]);
    }
    std::unique_ptr<tbb::global_control> thread_limit;
    if (threads > 0)
        thread_limit = std::make_unique<tbb::global_control>(
            tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
    scene();  // rendered before the busy loops start
    std::atomic<bool> stop{false};
    std::vector<std::thread> loops;
    for (int i = 0; i < busy; ++i) loops.emplace_back(busy_loop, &stop);
    benchmark::AddCustomContext("busy_loops", std::to_string(busy));
    benchmark::AddCustomContext("threads", threads > 0 ? std::to_string(threads) : "all");
    benchmark::RunSpecifiedBenchmarks();
    stop = true;
    for (auto& t : loops) t.join();
    benchmark::Shutdown();
    return 0;
}

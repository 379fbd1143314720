// The library's own rigid search in the comparison benchmark (see search_compare.cpp). Compiled
// into bench_search_compare only when the CMake option QURO_HAVE_SEARCH is on.
//
// The model is created once from the model photo (automatic levels and angle step, metric 1,
// contrast {10, 30, 10, 10}, full circle); model creation is not timed. Each search: angles 0..360,
// min_score 0.7, as many matches as the scene has instances, max_overlap 0.5, sub-pixel code 2,
// levels {0, 0}, greediness 0.8. A match's reference point is (x + dx, y + dy).
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <atomic>
#include <cstdio>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "quro/quro.h"
#include "search_compare_runner.h"
#include "search_compare_scenes.h"

namespace compare {
namespace {

constexpr float kMinScore = 0.7f;
constexpr float kMaxOverlap = 0.5f;
constexpr int kSubpixelCode = 2;
constexpr float kGreediness = 0.8f;
constexpr int kPasses = 3;  // passes over the scene set per benchmark run

struct QuroModel {
    int status = -1;
    int id = -1;
};

// Creates the model on first use; needs the photos to be readable.
const QuroModel& quro_model() {
    static const QuroModel m = [] {
        QuroModel r;
        const cv::Mat& model = photos().model;  // continuous, CV_8UC1
        const ContrastParams contrast{10, 30, 10, 10};
        r.status = create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1,
                                      &contrast, nullptr, &r.id);
        return r;
    }();
    return m;
}

std::atomic<int> failed_searches{0};

std::vector<Detection> find_quro(const cv::Mat& scene, int expected) {
    int levels[2] = {0, 0};
    quro::Match* results = nullptr;
    int count = 0;
    // The search only reads the image.
    const int handle =
        find_shape_model(scene.data, scene.cols, scene.rows, quro_model().id, 0.f, 360.f, kMinScore,
                         expected, kMaxOverlap, kSubpixelCode, levels, kGreediness, results, count);
    std::vector<Detection> dets;
    if (handle < 0) {
        failed_searches.fetch_add(1, std::memory_order_relaxed);
        return dets;
    }
    dets.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const quro::Match& m = results[i];
        dets.push_back({m.x + m.dx, m.y + m.dy, m.angle, m.score});
    }
    if (handle > 0) clear_mems(handle);
    return dets;
}

// Runs the search over a scene set, optionally on one thread (oneTBB and OpenCV both limited).
void run_quro(benchmark::State& state, SceneSize size, const std::string& method, int order,
              bool one_thread) {
    const SceneSet& set = scene_set(size);
    if (!set.error.empty()) {
        state.SkipWithError(set.error.c_str());
        return;
    }
    if (quro_model().status < 0) {
        state.SkipWithError("create_shape_model failed on the model photo");
        return;
    }
    failed_searches = 0;
    if (one_thread) {
        const int cv_threads = cv::getNumThreads();
        cv::setNumThreads(1);
        {
            tbb::global_control serial(tbb::global_control::max_allowed_parallelism, 1);
            run_method(state, set, find_quro, method, order);
        }
        cv::setNumThreads(cv_threads);
    } else {
        run_method(state, set, find_quro, method, order);
    }
    if (failed_searches > 0) {
        const std::string msg = "find_shape_model returned an error in " +
                                std::to_string(failed_searches.load()) + " searches";
        state.SkipWithError(msg.c_str());
    }
}

void register_one(SceneSize size, const char* method, int order, bool one_thread) {
    const SceneSpec spec = scene_spec(size);
    const std::string name = std::string("compare/") + spec.label + "/" + method;
    const std::string m = method;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [size, m, order, one_thread](benchmark::State& state) {
                                     run_quro(state, size, m, order, one_thread);
                                 })
        ->Iterations(static_cast<benchmark::IterationCount>(kPasses) * spec.scenes)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

void register_quro_benchmarks(SceneSize size, int order) {
    register_one(size, "quro", order, false);
    if (size == SceneSize::kSmall) register_one(size, "quro_1thread", order + 1, true);
}

}  // namespace compare

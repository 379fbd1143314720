// The timed loop of the search comparison benchmark, shared by every method, the photos and
// scene sets it runs on, and the table printed after all benchmarks ran.
#ifndef QURO_BENCH_SEARCH_COMPARE_RUNNER_H
#define QURO_BENCH_SEARCH_COMPARE_RUNNER_H

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "testing/compare_scenes.h"
#include "testing/compare_score.h"
#include "testing/part_scene.h"
#include "quro/quro.h"

#ifndef QURO_COMPARE_PHOTO_DIR
#define QURO_COMPARE_PHOTO_DIR "/usr/share/doc/opencv-doc/examples/data"
#endif

namespace compare {

// The photos come from $QURO_COMPARE_PHOTOS when set, else from the directory found at configure
// time (the OpenCV documentation's example data).
inline const Photos& photos() {
    static const Photos p = [] {
        Photos r;
        const char* env = std::getenv("QURO_COMPARE_PHOTOS");
        r.dir = env && *env ? env : QURO_COMPARE_PHOTO_DIR;
        const cv::Mat box = cv::imread(r.dir + "/box.png", cv::IMREAD_GRAYSCALE);
        r.clutter = cv::imread(r.dir + "/building.jpg", cv::IMREAD_GRAYSCALE);
        if (box.empty() || r.clutter.empty()) {
            r.error = "box.png or building.jpg not readable in " + r.dir +
                      " (install opencv-doc or set QURO_COMPARE_PHOTOS)";
            return r;
        }
        cv::resize(box, r.model, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
        return r;
    }();
    return p;
}

// The two scene sizes of the comparison, each once with instances at the model's size and once
// at random uniform scales in [kSceneScaleMin, kSceneScaleMax]; the small size also with row and
// column scales drawn apart in [kSceneAnisoMin, kSceneAnisoMax]. The 640 x 480 sets have 210
// instances, the 2048 x 2048 sets 204.
enum class SceneSize { kSmall, kLarge, kSmallScaled, kLargeScaled, kSmallAniso };
inline constexpr int kSceneSizes = 5;
inline constexpr double kSceneScaleMin = 0.8;
inline constexpr double kSceneScaleMax = 1.2;
inline constexpr double kSceneAnisoMin = 0.9;
inline constexpr double kSceneAnisoMax = 1.1;

inline bool is_scaled(SceneSize size) {
    return size == SceneSize::kSmallScaled || size == SceneSize::kLargeScaled;
}

inline SceneSpec scene_spec(SceneSize size) {
    switch (size) {
        case SceneSize::kSmall:
            return {"640x480", 640, 480, 3, 70, 20240613u};
        case SceneSize::kLarge:
            return {"2048x2048", 2048, 2048, 12, 17, 20240614u};
        case SceneSize::kSmallScaled:
            return {"640x480 scaled", 640, 480, 3, 70, 20250615u, kSceneScaleMin, kSceneScaleMax};
        case SceneSize::kSmallAniso:
            return {"640x480 aniso", 640,   480, 3, 70, 20260717u, kSceneAnisoMin, kSceneAnisoMax,
                    true};
        case SceneSize::kLargeScaled:
            break;
    }
    return {"2048x2048 scaled", 2048, 2048, 12, 17, 20250616u, kSceneScaleMin, kSceneScaleMax};
}

// Rendered on first use, once per process.
inline const SceneSet& scene_set(SceneSize size) {
    static std::vector<SceneSet> sets(kSceneSizes);
    static std::vector<bool> done(kSceneSizes, false);
    const auto i = static_cast<std::size_t>(size);
    if (!done[i]) {
        sets[i] = render_scene_set(scene_spec(size), photos());
        done[i] = true;
    }
    return sets[i];
}

// A method's search on one scene; `expected` is the number of instances in it. Every method keeps
// at most that many detections, its best ones.
using Finder = std::function<std::vector<Detection>(const cv::Mat& scene, int expected)>;
// The same for scene sets with several models: the scene says which model to look for.
using SceneFinder = std::function<std::vector<Detection>(const Scene& scene)>;

// The figures of one method on one scene size, printed as a table after all benchmarks ran.
// The 'lost' diagnostic: a second search at kLostMinScore, counting the instances it finds with a
// score of at least kLostFinalScore that the search at the benchmark's min_score missed.
inline constexpr double kLostMinScore = 0.3;
inline constexpr double kLostFinalScore = 0.55;

struct RunSummary {
    Accuracy accuracy;
    double median_ms = 0;
    int searches = 0;
    int lost_coarse = -1;  // diagnostic of the library's search (-1: not counted)
    double field_rms = -1;  // deformation field against the true bend (-1: not measured)
    std::string note;      // printed below the row when not empty
};

// Tables ordered by scene area, rows by the order the methods were registered in.
struct SummaryKey {
    long area;
    std::string size;
    int order;
    std::string method;
    bool operator<(const SummaryKey& o) const {
        if (area != o.area) return area < o.area;
        if (size != o.size) return size < o.size;
        return order < o.order;
    }
};

inline std::map<SummaryKey, RunSummary>& summaries() {
    static std::map<SummaryKey, RunSummary> s;
    return s;
}

inline SummaryKey summary_key(const SceneSet& set, int order, const std::string& method) {
    return {static_cast<long>(set.spec.width) * set.spec.height, set.spec.label, order, method};
}

// The timed loop shared by all methods. Each iteration searches the next scene of the set (the
// caller fixes the iteration count to a multiple of the scene count); the first pass over the
// set is scored. One untimed search runs first so that thread pools and caches are warm.
// Returns the first pass's detections, scene by scene (empty when the run was skipped).
inline std::vector<std::vector<Detection>> run_method(benchmark::State& state, const SceneSet& set,
                                                      const SceneFinder& find,
                                                      const std::string& method, int order) {
    if (!set.error.empty()) {
        state.SkipWithError(set.error.c_str());
        return {};
    }
    const int n = static_cast<int>(set.scenes.size());
    std::vector<std::vector<Detection>> first_pass(static_cast<std::size_t>(n));
    std::vector<double> times_ms;
    const Scene& first = set.scenes.front();
    benchmark::DoNotOptimize(find(first));

    int k = 0;
    for (auto _ : state) {
        const Scene& s = set.scenes[static_cast<std::size_t>(k % n)];
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<Detection> dets = find(s);
        const auto t1 = std::chrono::steady_clock::now();
        times_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (k < n) first_pass[static_cast<std::size_t>(k)] = std::move(dets);
        ++k;
    }
    if (k < n) {
        state.SkipWithError("fewer iterations than scenes: nothing scored");
        return {};
    }

    RunSummary sum;
    for (int i = 0; i < n; ++i)
        score_scene(set.scenes[static_cast<std::size_t>(i)].truth,
                    first_pass[static_cast<std::size_t>(i)], sum.accuracy);
    sum.median_ms = median(times_ms);
    sum.searches = k;
    summaries()[summary_key(set, order, method)] = sum;

    const Accuracy& a = sum.accuracy;
    state.counters["recall"] = a.recall();
    state.counters["false_pos"] = a.false_positives;
    state.counters["rms_px"] = a.rms_pos();
    state.counters["rms_deg"] = a.rms_angle();
    state.counters["median_ms"] = sum.median_ms;
    return first_pass;
}

inline void run_method(benchmark::State& state, const SceneSet& set, const Finder& find,
                       const std::string& method, int order) {
    run_method(
        state, set,
        [&find](const Scene& s) { return find(s.image, static_cast<int>(s.truth.size())); }, method,
        order);
}

// Registers the library's own search on one scene size (bench/search_compare_quro.cpp); table
// rows from `order` on. On the scaled sets that is the scaled search.
void register_quro_benchmarks(SceneSize size, int order);
// The same on one textured set (search_compare_textured_sets.h).
void register_quro_textured(int set, int order);
// The multi-model search on scenes of four models, beside rigid searches of them
// (bench/search_compare_multi.cpp).
void register_quro_multi(int order);
// The deformable search on bent parts and the tiled search of an 8192 x 8192 scene
// (bench/search_compare_deformable.cpp).
void register_quro_deformable_and_tiled(int order);
// The deformable search on parts bent by 3 px at 100 px beside straight ones, and on noisy scenes
// of small coins (bench/search_compare_bend.cpp).
void register_quro_bend_and_coins(int order);

inline void print_summaries() {
    if (summaries().empty()) return;
    std::printf(
        "\nA detection is correct within %.0f px and %.0f deg of a true instance not yet claimed "
        "by a better detection; every other detection is a false positive (FP; 'wrong angle' = "
        "FP at a true position). Errors are over correct detections. Each method keeps at most "
        "as many detections as the scene has instances. 'lost' (the library's search only): "
        "instances missed at the search's min_score that the same search at min_score %.2f "
        "finds correctly with a score of at least %.2f.\n",
        kPosTol, kAngleTol, kLostMinScore, kLostFinalScore);
    std::string size;
    for (const auto& [key, s] : summaries()) {
        if (key.size != size) {
            size = key.size;
            std::printf("\n%s\n%-14s %9s %8s %4s %11s %8s %8s %8s %8s %10s %8s %7s %8s\n",
                        size.c_str(), "method", "instances", "recall", "FP", "wrong angle",
                        "RMS px", "max px", "RMS deg", "max deg", "median ms", "searches", "lost",
                        "field px");
        }
        const Accuracy& a = s.accuracy;
        const std::string lost = s.lost_coarse < 0 ? "-" : std::to_string(s.lost_coarse);
        char field[16] = "-";
        if (s.field_rms >= 0) std::snprintf(field, sizeof field, "%.3f", s.field_rms);
        std::printf("%-14s %9d %7.1f%% %4d %11d %8.3f %8.3f %8.3f %8.3f %10.2f %8d %7s %8s\n",
                    key.method.c_str(), a.instances, 100.0 * a.recall(), a.false_positives,
                    a.wrong_angle, a.rms_pos(), a.max_pos, a.rms_angle(), a.max_angle, s.median_ms,
                    s.searches, lost.c_str(), field);
        if (!s.note.empty()) std::printf("    %s\n", s.note.c_str());
    }
    std::printf("\n");
}

// A rigid model (contrast 10, 30, 10, 10; all angles) of the rendered part on an image of `size`;
// its id, or a negative code.
inline int create_part_model(cv::Size size, const quro_test::PartShape& shape = {}) {
    const cv::Mat model = quro_test::render_part_model(size, shape);
    const ContrastParams contrast{10, 30, 10, 10};
    int id = -1;
    const int rc = create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1,
                                      &contrast, nullptr, &id);
    return rc == 0 ? id : rc;
}

}  // namespace compare

#endif  // QURO_BENCH_SEARCH_COMPARE_RUNNER_H

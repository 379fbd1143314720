// The library's own rigid search in the comparison benchmark (see search_compare.cpp).
//
// The model is created once from the model photo (automatic levels and angle step, metric 1,
// contrast {10, 30, 10, 10}, full circle); model creation is not timed. Each search: angles 0..360,
// min_score 0.7, as many matches as the scene has instances, max_overlap 0.5, sub-pixel code 2
// (or $QURO_COMPARE_SUBPIXEL), levels {0, 0}, greediness 0.8. A match's reference point is
// (x + dx, y + dy).
//
// On the scaled sets the same model and settings go to find_scaled_shape_model over scales
// 0.8..1.2; a match's scale is its scale_row. Below the row: the scale error (RMS and largest, over
// correct detections) and the number of poses the top level scans (its scales times its angles).
//
// On the textured sets (search_compare_textured_sets.h) one model per model crop, made alike, and
// for the reversed set a copy of each with metric -1 (polarity of the whole model ignored). The
// searches use what a new user would: min_score 0.5, max_overlap 0.5, greediness 0.75, levels
// {0, 1}, sub-pixel code 2, as many matches as the scene has instances. After the timed runs every
// scene is searched once more at min_score 0.3 without a count limit, for the 'lost' column.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "bench/search_compare_runner.h"
#include "bench/search_compare_textured_sets.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/compare_scenes.h"

namespace compare {
namespace {

constexpr float kMinScore = 0.7f;
constexpr float kMaxOverlap = 0.5f;
// Sub-pixel code 2, or the code in $QURO_COMPARE_SUBPIXEL when set (e.g. 1 to see the peak fit).
const int kSubpixelCode = [] {
    const char* env = std::getenv("QURO_COMPARE_SUBPIXEL");
    return env && *env ? std::atoi(env) : 2;
}();
constexpr float kGreediness = 0.8f;
constexpr int kPasses = 3;  // passes over the scene set per benchmark run

struct QuroModel {
    int status = -1;
    int id = -1;
};

// Automatic levels and angle step, full circle, the contrast of every model here.
QuroModel create_model(const cv::Mat& model, int metric) {
    QuroModel r;
    const cv::Mat img = model.clone();  // continuous
    const ContrastParams contrast{10, 30, 10, 10};
    r.status = create_shape_model(img.data, img.cols, img.rows, 0, 0.f, 360.f, 0.f, metric,
                                  &contrast, nullptr, &r.id);
    return r;
}

// Creates the model on first use; needs the photos to be readable.
const QuroModel& quro_model() {
    static const QuroModel m = create_model(photos().model, 1);
    return m;
}

std::atomic<int> failed_searches{0};

struct SearchSettings {
    float min_score;
    float max_overlap;
    float greediness;
    int levels[2];
};

const SearchSettings kPhotoSearch{kMinScore, kMaxOverlap, kGreediness, {0, 0}};
const SearchSettings kUserSearch{0.5f, 0.5f, 0.75f, {0, 1}};

// The scale range of the scaled search: that of the scaled scene sets.
constexpr float kScaleMin = static_cast<float>(kSceneScaleMin);
constexpr float kScaleMax = static_cast<float>(kSceneScaleMax);

// The detections of a search's outcome; frees its results.
std::vector<Detection> detections(int handle, const quro::Match* results, int count) {
    std::vector<Detection> dets;
    if (handle < 0) {
        failed_searches.fetch_add(1, std::memory_order_relaxed);
        return dets;
    }
    dets.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const quro::Match& m = results[i];
        dets.push_back({m.x + m.dx, m.y + m.dy, m.angle, m.score, m.scale_row, m.scale_col});
    }
    if (handle > 0) clear_mems(handle);
    return dets;
}

std::vector<Detection> search(const cv::Mat& scene, int id, int num_matches,
                              const SearchSettings& how) {
    int levels[2] = {how.levels[0], how.levels[1]};
    quro::Match* results = nullptr;
    int count = 0;
    // The search only reads the image.
    const int handle = find_shape_model(scene.data, scene.cols, scene.rows, id, 0.f, 360.f,
                                        how.min_score, num_matches, how.max_overlap, kSubpixelCode,
                                        levels, how.greediness, results, count);
    return detections(handle, results, count);
}

std::vector<Detection> find_quro_scaled(const cv::Mat& scene, int expected) {
    const SearchSettings& how = kPhotoSearch;
    int levels[2] = {how.levels[0], how.levels[1]};
    quro::Match* results = nullptr;
    int count = 0;
    const int handle = find_scaled_shape_model(
        scene.data, scene.cols, scene.rows, quro_model().id, 0.f, 360.f, kScaleMin, kScaleMax,
        how.min_score, expected, how.max_overlap, kSubpixelCode, levels, how.greediness, results,
        count);
    return detections(handle, results, count);
}

std::vector<Detection> find_quro_aniso(const cv::Mat& scene, int expected) {
    const SearchSettings& how = kPhotoSearch;
    int levels[2] = {how.levels[0], how.levels[1]};
    quro::Match* results = nullptr;
    int count = 0;
    const auto lo = static_cast<float>(kSceneAnisoMin), hi = static_cast<float>(kSceneAnisoMax);
    const int handle = find_aniso_shape_model(
        scene.data, scene.cols, scene.rows, quro_model().id, 0.f, 360.f, lo, hi, lo, hi,
        how.min_score, expected, how.max_overlap, kSubpixelCode, levels, how.greediness, results,
        count);
    return detections(handle, results, count);
}

// "rows x columns x angles" of the top level of an anisotropic search with levels {0, 0}.
std::string top_level_aniso_poses(int id) {
    quro::ShapeModelRecord rec;
    if (!quro::copy_shape_model_record(id, rec) || rec.num_levels < 1) return "?";
    const auto lo = static_cast<float>(kSceneAnisoMin), hi = static_cast<float>(kSceneAnisoMax);
    std::vector<float> rows, cols, angles;
    quro::scale_list(rec, rows, rec.num_levels, hi, quro::kScaleRow, lo);
    quro::scale_list(rec, cols, rec.num_levels, hi, quro::kScaleCol, lo);
    quro::angle_list(rec, angles, rec.num_levels, 360.f, 0.f);
    return std::to_string(rows.size() * cols.size() * angles.size()) + " (" +
           std::to_string(rows.size()) + " row x " + std::to_string(cols.size()) +
           " column scales x " + std::to_string(angles.size()) + " angles)";
}

// "scales x angles" of the top level of a search with levels {0, 0}: the model's coarsest level.
std::string top_level_poses(int id) {
    quro::ShapeModelRecord rec;
    if (!quro::copy_shape_model_record(id, rec) || rec.num_levels < 1) return "?";
    std::vector<float> scales, angles;
    quro::scale_list(rec, scales, rec.num_levels, kScaleMax, quro::kScaleUniform, kScaleMin);
    quro::angle_list(rec, angles, rec.num_levels, 360.f, 0.f);
    return std::to_string(scales.size() * angles.size()) + " (" + std::to_string(scales.size()) +
           " scales x " + std::to_string(angles.size()) + " angles)";
}

std::vector<Detection> find_quro(const cv::Mat& scene, int expected) {
    return search(scene, quro_model().id, expected, kPhotoSearch);
}

// The textured models: metric 1, then the same with metric -1 for the reversed set.
struct TexturedModels {
    std::vector<int> plain;
    std::vector<int> reversed;
    bool ok = false;
};

const TexturedModels& textured_models() {
    static const TexturedModels m = [] {
        TexturedModels r;
        r.ok = textured_photos().error.empty();
        for (const cv::Mat& model : textured_photos().models) {
            const QuroModel q = create_model(model, 1);
            const int copy = q.status == 0 ? copy_shape_model(q.id) : -1;
            if (copy >= 0) set_shape_model_param(copy, "metric", -1);
            r.ok = r.ok && q.status == 0 && copy >= 0;
            r.plain.push_back(q.id);
            r.reversed.push_back(copy);
        }
        return r;
    }();
    return m;
}

int textured_model_id(const Scene& s, int set) {
    const TexturedModels& m = textured_models();
    const auto i = static_cast<std::size_t>(s.model);
    return textured_condition(set) == Condition::kReversed ? m.reversed[i] : m.plain[i];
}

// Recall per model kind, and the instances missed at min_score 0.5 that a search at 0.3 finds
// with a score of at least 0.55.
void textured_diagnostics(const SceneSet& set, int set_index,
                          const std::vector<std::vector<Detection>>& first_pass, RunSummary& sum) {
    const TexturedPhotos& ph = textured_photos();
    std::vector<int> found(ph.models.size(), 0), total(ph.models.size(), 0);
    SearchSettings low = kUserSearch;
    low.min_score = static_cast<float>(kLostMinScore);
    sum.lost_coarse = 0;
    for (std::size_t i = 0; i < set.scenes.size(); ++i) {
        const Scene& s = set.scenes[i];
        Accuracy ignored;
        const std::vector<bool> hit = score_scene(s.truth, first_pass[i], ignored);
        std::vector<Detection> strong;
        for (const Detection& d : search(s.image, textured_model_id(s, set_index), 0, low))
            if (d.score >= kLostFinalScore) strong.push_back(d);
        const std::vector<bool> hit_low = score_scene(s.truth, strong, ignored);
        for (std::size_t k = 0; k < s.truth.size(); ++k) {
            found[static_cast<std::size_t>(s.model)] += hit[k] ? 1 : 0;
            ++total[static_cast<std::size_t>(s.model)];
            sum.lost_coarse += hit_low[k] && !hit[k] ? 1 : 0;
        }
    }
    sum.note = "recall by model:";
    for (std::size_t k = 0; k < ph.kinds.size(); ++k)
        sum.note +=
            " " + ph.kinds[k] + " " + std::to_string(found[k]) + "/" + std::to_string(total[k]);
}

void run_quro_textured(benchmark::State& state, int set_index, int order) {
    const SceneSet& set = textured_set(set_index);
    if (!set.error.empty()) {
        state.SkipWithError(set.error.c_str());
        return;
    }
    if (!textured_models().ok) {
        state.SkipWithError("create_shape_model failed on a textured model");
        return;
    }
    failed_searches = 0;
    const auto first_pass = run_method(
        state, set,
        [set_index](const Scene& s) {
            return search(s.image, textured_model_id(s, set_index),
                          static_cast<int>(s.truth.size()), kUserSearch);
        },
        "quro", order);
    if (first_pass.empty()) return;
    textured_diagnostics(set, set_index, first_pass, summaries()[summary_key(set, order, "quro")]);
    state.counters["lost"] = summaries()[summary_key(set, order, "quro")].lost_coarse;
    if (failed_searches > 0) {
        const std::string msg = "find_shape_model returned an error in " +
                                std::to_string(failed_searches.load()) + " searches";
        state.SkipWithError(msg.c_str());
    }
}

// Found / total instances of a scaled set in four scale bins of 0.1 from kScaleMin.
std::string recall_by_scale(const SceneSet& set, const std::vector<std::vector<Detection>>& dets) {
    int found[4] = {}, total[4] = {};
    for (std::size_t i = 0; i < set.scenes.size() && i < dets.size(); ++i) {
        Accuracy ignored;
        const std::vector<Pose>& truth = set.scenes[i].truth;
        const std::vector<bool> hit = score_scene(truth, dets[i], ignored);
        for (std::size_t k = 0; k < truth.size(); ++k) {
            const int bin = std::clamp(static_cast<int>((truth[k].scale - kScaleMin) / 0.1), 0, 3);
            found[bin] += hit[k] ? 1 : 0;
            ++total[bin];
        }
    }
    std::string r = "; recall by scale:";
    for (int b = 0; b < 4; ++b) {
        char part[48];
        std::snprintf(part, sizeof part, " %.1f-%.1f %d/%d", kScaleMin + 0.1 * b,
                      kScaleMin + 0.1 * (b + 1), found[b], total[b]);
        r += part;
    }
    return r;
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
    const SceneFinder find = [&](const Scene& s) {
        const int expected = static_cast<int>(s.truth.size());
        if (size == SceneSize::kSmallAniso) return find_quro_aniso(s.image, expected);
        return is_scaled(size) ? find_quro_scaled(s.image, expected) : find_quro(s.image, expected);
    };
    std::vector<std::vector<Detection>> first_pass;
    if (one_thread) {
        const int cv_threads = cv::getNumThreads();
        cv::setNumThreads(1);
        {
            tbb::global_control serial(tbb::global_control::max_allowed_parallelism, 1);
            first_pass = run_method(state, set, find, method, order);
        }
        cv::setNumThreads(cv_threads);
    } else {
        first_pass = run_method(state, set, find, method, order);
    }
    if (is_scaled(size) && failed_searches == 0) {
        RunSummary& sum = summaries()[summary_key(set, order, method)];
        char line[160];
        std::snprintf(line, sizeof line, "scale RMS %.4f, max %.4f; top-level poses ",
                      sum.accuracy.rms_scale(), sum.accuracy.max_scale);
        sum.note = line + top_level_poses(quro_model().id) + recall_by_scale(set, first_pass);
        state.counters["rms_scale"] = sum.accuracy.rms_scale();
    }
    if (size == SceneSize::kSmallAniso && failed_searches == 0) {
        RunSummary& sum = summaries()[summary_key(set, order, method)];
        char line[160];
        std::snprintf(line, sizeof line,
                      "row scale RMS %.4f, max %.4f; column scale RMS %.4f, max %.4f; top-level "
                      "poses ",
                      sum.accuracy.rms_scale(), sum.accuracy.max_scale,
                      sum.accuracy.rms_scale_col(), sum.accuracy.max_scale_col);
        sum.note = line + top_level_aniso_poses(quro_model().id);
        state.counters["rms_scale_row"] = sum.accuracy.rms_scale();
        state.counters["rms_scale_col"] = sum.accuracy.rms_scale_col();
    }
    if (failed_searches > 0) {
        const std::string msg = "the search returned an error in " +
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
    register_one(size,
                 size == SceneSize::kSmallAniso ? "quro_aniso"
                 : is_scaled(size)              ? "quro_scaled"
                                                : "quro",
                 order, false);
    if (size == SceneSize::kSmall) register_one(size, "quro_1thread", order + 1, true);
}

void register_quro_textured(int set, int order) {
    const SceneSpec spec = textured_spec(set).spec;
    const std::string name = std::string("compare/") + spec.label + "/quro";
    benchmark::RegisterBenchmark(
        name.c_str(),
        [set, order](benchmark::State& state) { run_quro_textured(state, set, order); })
        ->Iterations(static_cast<benchmark::IterationCount>(kPasses) * spec.scenes)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace compare

// The multi-model search in the comparison benchmark (see search_compare.cpp).
//
// Models: the four photo crops of the textured sets (board, box, text page, portrait), each made
// as there (automatic levels and angle step, metric 1, contrast {10, 30, 10, 10}). Scenes: 2048 x
// 2048 mosaics of background cuts with three instances of every model at random angles and
// sub-pixel positions, noise sigma 2. Every search: angles 0..360, min_score 0.5, max_overlap 0.5,
// sub-pixel code 2, greediness 0.75, levels {0, 1} (full resolution for both searches), as many
// matches as the scene has instances (of the models searched).
// Rows: quro_multi, find_shape_models with the four models; quro_rigid_4, the four rigid searches
// one after another; rigid_<model>, find_shape_model of one model alone on the same scenes, scored
// on that model's instances only (the yardstick: one rigid search of one model). The models differ
// in cost: the text page keeps fine detail only on its finer levels, so its coarsest level is a
// finer one with several times the points of the others.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

#include "bench/search_compare_runner.h"
#include "bench/search_compare_textured_sets.h"
#include "quro/quro.h"
#include "testing/textured_scenes.h"

namespace compare {
namespace {

constexpr int kModels = 4;
constexpr int kPerModel = 3;
const SceneSpec kMultiSpec{"multi-model 2048x2048", 2048, 2048, kModels * kPerModel, 10, 20250722u};

struct MultiModels {
    std::vector<int> ids;
    std::string error;
};

const MultiModels& multi_models() {
    static const MultiModels m = [] {
        MultiModels r;
        const TexturedPhotos& ph = textured_photos();
        r.error = ph.error;
        const ContrastParams contrast{10, 30, 10, 10};
        for (int k = 0; k < kModels && r.error.empty(); ++k) {
            const cv::Mat img = ph.models[static_cast<std::size_t>(k)].clone();
            int id = -1;
            if (create_shape_model(img.data, img.cols, img.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                                   nullptr, &id) != 0)
                r.error = "create_shape_model failed on " + ph.kinds[static_cast<std::size_t>(k)];
            r.ids.push_back(id);
        }
        return r;
    }();
    return m;
}

// Three instances of each model on a mosaic background, their poses with their model.
SceneSet render_multi_set() {
    const TexturedPhotos& ph = textured_photos();
    SceneSet set{kMultiSpec, {}, multi_models().error};
    if (!set.error.empty()) return set;
    const TexturedPlan plan{{kMultiSpec.width, kMultiSpec.height}, 0, 0, Condition::kClean, 512};
    std::mt19937 rng(kMultiSpec.seed);
    for (int i = 0; i < kMultiSpec.scenes; ++i) {
        Scene s;
        cv::Mat canvas = scene_background(ph.backgrounds, plan, rng);
        std::vector<cv::Point3d> taken;
        for (int k = 0; k < kModels * kPerModel; ++k) {
            const cv::Mat& img = ph.models[static_cast<std::size_t>(k % kModels)];
            Pose p{};
            if (!place_circle(holding_radius(img), plan.size, taken, rng, p)) {
                set.error = "no room for the instances in a multi-model scene";
                return set;
            }
            p.model = k % kModels;
            paste(canvas, img, p, false);
            s.truth.push_back(p);
        }
        cv::Mat n(plan.size, CV_32F);
        cv::RNG(rng()).fill(n, cv::RNG::NORMAL, 0.0, 2.0);
        canvas += n;
        canvas.convertTo(s.image, CV_8U);
        set.scenes.push_back(std::move(s));
    }
    return set;
}

const SceneSet& multi_set() {
    static const SceneSet s = render_multi_set();
    return s;
}

// The same scenes with the truth of model k only (for the one-model rows).
const SceneSet& one_model_set(int k) {
    static const std::vector<SceneSet> sets = [] {
        std::vector<SceneSet> r(kModels, multi_set());
        for (int m = 0; m < kModels; ++m)
            for (Scene& sc : r[static_cast<std::size_t>(m)].scenes)
                std::erase_if(sc.truth, [m](const Pose& p) { return p.model != m; });
        return r;
    }();
    return sets[static_cast<std::size_t>(k)];
}

// The detections of a search (model index from the id, or `model` when >= 0); frees the results.
std::vector<Detection> detections(int handle, const quro::Match* res, int count, int model) {
    std::vector<Detection> dets;
    const std::vector<int>& ids = multi_models().ids;
    for (int i = 0; handle > 0 && i < count; ++i) {
        const quro::Match& m = res[i];
        int k = model;
        for (int j = 0; k < 0 && j < kModels; ++j) k = ids[static_cast<std::size_t>(j)] == m.model_id ? j : -1;
        dets.push_back({m.x + m.dx, m.y + m.dy, m.angle, m.score, m.scale_row, m.scale_col, k});
    }
    if (handle > 0) clear_mems(handle);
    return dets;
}

std::vector<Detection> find_rigid(const Scene& s, int model, int expected) {
    int levels[2] = {0, 1};
    quro::Match* res = nullptr;
    int count = 0;
    const int h = find_shape_model(s.image.data, s.image.cols, s.image.rows,
                                   multi_models().ids[static_cast<std::size_t>(model)], 0.f, 360.f,
                                   0.5f, expected, 0.5f, 2, levels, 0.75f, res, count);
    return detections(h, res, count, model);
}

std::vector<Detection> find_multi(const Scene& s) {
    std::vector<int> ids = multi_models().ids, levels(2 * kModels, 0);
    for (int k = 0; k < kModels; ++k) levels[static_cast<std::size_t>(2 * k + 1)] = 1;
    quro::Match* res = nullptr;
    int count = 0;
    const int h = find_shape_models(s.image.data, s.image.cols, s.image.rows, ids.data(), kModels,
                                    0.f, 360.f, 0.5f, static_cast<int>(s.truth.size()), 0.5f, 2,
                                    levels.data(), 0.75f, res, count);
    return detections(h, res, count, -1);
}

std::vector<Detection> find_rigid_each(const Scene& s) {
    std::vector<Detection> all;
    for (int k = 0; k < kModels; ++k) {
        const std::vector<Detection> d = find_rigid(s, k, kPerModel);
        all.insert(all.end(), d.begin(), d.end());
    }
    return all;
}

void register_multi(const std::string& method, std::function<const SceneSet&()> set,
                    SceneFinder find, int order) {
    const std::string name = std::string("compare/") + kMultiSpec.label + "/" + method;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [set, find, method, order](benchmark::State& state) {
                                     run_method(state, set(), find, method, order);
                                 })
        ->Iterations(3 * kMultiSpec.scenes)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

void register_quro_multi(int order) {
    register_multi("quro_multi", multi_set, find_multi, order);
    register_multi("quro_rigid_4", multi_set, find_rigid_each, order + 1);
    const char* kinds[kModels] = {"board", "box", "text", "portrait"};
    for (int k = 0; k < kModels; ++k)
        register_multi(std::string("rigid_") + kinds[k], [k]() -> const SceneSet& { return one_model_set(k); },
                       [k](const Scene& s) { return find_rigid(s, k, kPerModel); }, order + 2 + k);
}

}  // namespace compare

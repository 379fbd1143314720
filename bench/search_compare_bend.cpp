// The locally deformable search in the comparison benchmark (see search_compare.cpp), beside the
// anisotropic and rigid searches with the same settings, on two sets of its own:
//
// Bend set: 20 scenes of 640 x 480 (noise sigma 3), each with two instances of the machined part
// (testing/part_scene.h, plate scale 1.43 in a 160 x 120 model image) at random angles: one bent
// by 3 px at a wavelength of 100 px (testing/bent_part_scene.h; its true angle is that of the
// nearest rigid pose, fitted_angle) and one straight. Every search: angles 0..360, row and column
// scales 0.98..1.02, min_score 0.5, max_overlap 0.5, code 2, greediness 0.9, levels {0, 0}; the
// rows ending in _04 search a five-level model of the part with levels {0, 4} (the top level
// rigid, one deformable level, reported from level 4). The 'field px' column (deformable rows at
// full resolution): over the bent instances' plates, the field's displacement across the part
// (along its y axis) against the true bend, both with their best plane in (u, v) removed, RMS;
// the note gives the same over the straight instances (where it should be 0) and the pose errors
// of the straight instances alone.
//
// Noisy coin set: 30 scenes of 768 x 576 over photo backgrounds with noise sigma 8..10 (the
// textured sets' noise condition), each with two instances of one of two small rendered coins
// (72 x 72 and 92 x 92 images: round, finely textured models that random texture matches easily)
// and up to three crops of the other. Same searches with min_score 0.5, no count limit: the FP
// column counts every match reported away from an instance; the note gives them per image.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/search_compare_runner.h"
#include "bench/search_compare_textured_sets.h"
#include "quro/quro.h"
#include "testing/bent_part_scene.h"

namespace compare {
namespace {

constexpr int kBendScenes = 20;
constexpr int kCoinScenes = 30;
const SceneSpec kBendSpec{"part bend 3/100", 640, 480, 2, kBendScenes, 20261209u};
const SceneSpec kCoinSpec{"coins noise", 768, 576, 2, kCoinScenes, 20261210u};
const quro_test::PartShape kPart{40, 28, 9, 1.43};

struct Settings {
    float min_score = 0.5f;
    int last_level = 0;
    int num_matches = 0;
};

// The part's model with its levels chosen by the creation (four), and the same model with five
// levels, which the _04 rows search: levels {0, 4} then leave one deformable level below the top
// one (with four levels the top level alone would be searched, without any refinement).
int part_model(int levels = 0) {
    static const int id = create_part_model(cv::Size(160, 120), kPart);
    static const int id5 = [] {
        const cv::Mat model = quro_test::render_part_model(cv::Size(160, 120), kPart);
        const ContrastParams contrast{10, 30, 10, 10};
        int i = -1;
        create_shape_model(model.data, model.cols, model.rows, 5, 0.f, 360.f, 0.f, 1, &contrast,
                           nullptr, &i);
        return i;
    }();
    return levels == 5 ? id5 : id;
}

int part_model_for(const Settings& st) { return part_model(st.last_level == 4 ? 5 : 0); }

// The truth of the bend set: per scene, the bent instance then the straight one.
std::vector<std::vector<quro_test::BentPart>>& bend_parts() {
    static std::vector<std::vector<quro_test::BentPart>> parts;
    return parts;
}

const SceneSet& bend_set() {
    static const SceneSet set = [] {
        SceneSet s{kBendSpec, {}, {}};
        std::mt19937 rng(kBendSpec.seed);
        std::uniform_real_distribution<double> ux(-20, 20), uy(110, 370), ua(0, 360);
        for (int i = 0; i < kBendScenes; ++i) {
            const std::vector<quro_test::BentPart> parts = {
                {{160 + ux(rng), uy(rng), ua(rng)}, 3.0, 100.0},
                {{480 + ux(rng), uy(rng), ua(rng)}, 0.0, 100.0}};
            Scene sc;
            sc.image = quro_test::render_bent_part_scene({640, 480}, parts, 3.0, 31u + i, kPart);
            for (const quro_test::BentPart& b : parts)
                sc.truth.push_back(
                    {b.pose.x, b.pose.y, quro_test::fitted_angle(b, kPart.half_w * kPart.scale)});
            bend_parts().push_back(parts);
            s.scenes.push_back(std::move(sc));
        }
        return s;
    }();
    return set;
}

struct Coins {
    std::vector<int> ids;
    SceneSet set;
};

const Coins& coins() {
    static const Coins c = [] {
        Coins r;
        r.set.spec = kCoinSpec;
        const TexturedPhotos& ph = textured_photos();
        r.set.error = ph.error;
        if (!r.set.error.empty()) return r;
        std::mt19937 model_rng(23u);
        std::vector<cv::Mat> models = {render_coin_model(model_rng, 64),
                                       render_coin_model(model_rng, 84)};
        for (const cv::Mat& m : models) {
            const ContrastParams contrast{10, 30, 10, 10};
            int id = -1;
            create_shape_model(m.data, m.cols, m.rows, 0, 0.f, 360.f, 0.f, 1, &contrast, nullptr,
                               &id);
            r.ids.push_back(id);
        }
        std::mt19937 rng(kCoinSpec.seed);
        const TexturedPlan plan{{768, 576}, 2, 3, Condition::kNoise, 0};
        for (int i = 0; i < kCoinScenes; ++i)
            r.set.scenes.push_back(render_textured_scene(models, i % 2, ph.backgrounds, plan, rng));
        return r;
    }();
    return c;
}

std::vector<Detection> detections(int handle, const quro::Match* res, int count) {
    std::vector<Detection> dets;
    for (int i = 0; handle > 0 && i < count; ++i)
        dets.push_back({res[i].x + res[i].dx, res[i].y + res[i].dy, res[i].angle, res[i].score,
                        res[i].scale_row, res[i].scale_col});
    if (handle > 0) clear_mems(handle);
    return dets;
}

// The deformable search; with `fields_out` the fields are handed to the caller (who clears
// `fields_handle`), else cleared here.
std::vector<Detection> find_deformable(const cv::Mat& img, int id, const Settings& s,
                                       std::vector<quro::Match>* matches = nullptr,
                                       quro::VectorField** fields_out = nullptr,
                                       int* fields_handle_out = nullptr) {
    quro::Match* res = nullptr;
    quro::VectorField* fields = nullptr;
    int count = 0, fields_handle = 0, levels[2] = {0, s.last_level};
    const int h = find_local_deformable_model(img.data, img.cols, img.rows, id, 0.f, 360.f, 0.98f,
                                              1.02f, 0.98f, 1.02f, s.min_score, s.num_matches,
                                              0.5f, 2, levels, 0.9f, res, count, fields,
                                              fields_handle);
    if (matches && h > 0) matches->assign(res, res + count);
    if (fields_out) {
        *fields_out = fields;
        *fields_handle_out = fields_handle;
    } else if (fields_handle > 0) {
        clear_mems(fields_handle);
    }
    return detections(h, res, count);
}

std::vector<Detection> find_aniso(const cv::Mat& img, int id, const Settings& s) {
    quro::Match* res = nullptr;
    int count = 0, levels[2] = {0, s.last_level};
    const int h = find_aniso_shape_model(img.data, img.cols, img.rows, id, 0.f, 360.f, 0.98f,
                                         1.02f, 0.98f, 1.02f, s.min_score, s.num_matches, 0.5f, 2,
                                         levels, 0.9f, res, count);
    return detections(h, res, count);
}

std::vector<Detection> find_rigid(const cv::Mat& img, int id, const Settings& s) {
    quro::Match* res = nullptr;
    int count = 0, levels[2] = {0, s.last_level};
    const int h = find_shape_model(img.data, img.cols, img.rows, id, 0.f, 360.f, s.min_score,
                                   s.num_matches, 0.5f, 2, levels, 0.9f, res, count);
    return detections(h, res, count);
}

// The deformable rows' field error and straight-instance pose errors, from one untimed pass.
void bend_diagnostics(const SceneSet& set, const Settings& st, RunSummary& sum) {
    double sq_bent = 0, sq_straight = 0;
    int n_bent = 0, n_straight = 0;
    Accuracy straight;
    for (std::size_t i = 0; i < set.scenes.size(); ++i) {
        const Scene& sc = set.scenes[i];
        std::vector<quro::Match> ms;
        quro::VectorField* fields = nullptr;
        int fh = 0;
        const std::vector<Detection> dets =
            find_deformable(sc.image, part_model_for(st), st, &ms, &fields, &fh);
        score_scene({sc.truth[1]}, dets, straight);
        for (std::size_t k = 0; k < ms.size() && fields && st.last_level == 0; ++k)
            for (std::size_t t = 0; t < sc.truth.size(); ++t) {
                const Pose& p = sc.truth[t];
                if (std::hypot(ms[k].x + ms[k].dx - p.x, ms[k].y + ms[k].dy - p.y) > kPosTol)
                    continue;
                const double e = quro_test::bend_field_error(ms[k], fields[k], bend_parts()[i][t], kPart);
                if (e < 0) continue;
                (t == 0 ? sq_bent : sq_straight) += e * e;
                ++(t == 0 ? n_bent : n_straight);
            }
        if (fh > 0) clear_mems(fh);
    }
    char field[64] = "field not measured (fields of a coarse last level)";
    if (n_straight > 0)
        std::snprintf(field, sizeof field, "field RMS %.3f px (%d)",
                      std::sqrt(sq_straight / n_straight), n_straight);
    char note[200];
    if (n_bent > 0) sum.field_rms = std::sqrt(sq_bent / n_bent);
    std::snprintf(note, sizeof note, "straight instances: %s; pose RMS %.4f px %.4f deg", field,
                  straight.rms_pos(), straight.rms_angle());
    sum.note = note;
}

void register_bend(const std::string& method, int order, Settings st, int kind) {
    const std::string name = std::string("compare/") + kBendSpec.label + "/" + method;
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
        const SceneSet& set = bend_set();
        auto find = [&](const Scene& s) {
            const int id = part_model_for(st);
            return kind == 0   ? find_deformable(s.image, id, st)
                   : kind == 1 ? find_aniso(s.image, id, st)
                               : find_rigid(s.image, id, st);
        };
        run_method(state, set, find, method, order);
        if (kind == 0 && !state.error_occurred())
            bend_diagnostics(set, st, summaries()[summary_key(set, order, method)]);
    })->Iterations(3 * kBendScenes)->UseRealTime()->Unit(benchmark::kMillisecond);
}

void register_coins(const std::string& method, int order, int kind) {
    const std::string name = std::string("compare/") + kCoinSpec.label + "/" + method;
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
        const Coins& c = coins();
        const Settings st{};
        auto find = [&](const Scene& s) {
            const int id = c.ids[static_cast<std::size_t>(s.model)];
            return kind == 0   ? find_deformable(s.image, id, st)
                   : kind == 1 ? find_aniso(s.image, id, st)
                               : find_rigid(s.image, id, st);
        };
        run_method(state, c.set, find, method, order);
        if (state.error_occurred()) return;
        RunSummary& sum = summaries()[summary_key(c.set, order, method)];
        char note[120];
        const Accuracy& a = sum.accuracy;
        std::snprintf(note, sizeof note,
                      "false matches per image %.3f, of them away from every instance %.3f",
                      static_cast<double>(a.false_positives) / kCoinScenes,
                      static_cast<double>(a.false_positives - a.wrong_angle) / kCoinScenes);
        sum.note = note;
    })->Iterations(3 * kCoinScenes)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

void register_quro_bend_and_coins(int order) {
    register_bend("quro_deformable", order, {}, 0);
    register_bend("quro_aniso", order + 1, {}, 1);
    register_bend("quro", order + 2, {}, 2);
    register_bend("quro_deformable_04", order + 3, {0.5f, 4, 0}, 0);
    register_bend("quro_aniso_04", order + 4, {0.5f, 4, 0}, 1);
    register_coins("quro_deformable", order, 0);
    register_coins("quro_aniso", order + 1, 1);
    register_coins("quro", order + 2, 2);
}

}  // namespace compare

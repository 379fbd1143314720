// The locally deformable and the tiled searches in the comparison benchmark (see
// search_compare.cpp).
//
// Bent set: 50 scenes of 640 x 480, each with the rendered machined part (testing/part_scene.h)
// bent like a sine wave (testing/bent_part_scene.h, wavelength 120 px) by an amplitude from 1 to 4
// pixels, at a random angle within +-10 degrees, noise sigma 2; its true angle is that of the rigid
// pose nearest to the bent outline (fitted_angle). Every search: angles -15..15, min_score
// 0.7, max_overlap 0.5, sub-pixel code 2, all levels; the deformable and anisotropic searches with
// row and column scales 0.95..1.05. Rows: quro_deformable (find_local_deformable_model), quro_aniso
// (the same search without its deformable levels), quro (the rigid search). The deformable row's
// 'field px': the field's error against the true bend (quro_test::bend_field_error), RMS.
//
// Tiled set: one 8192 x 8192 scene with 100 instances of the part, 32 across the seams of a 4 x 4
// grid of 2048 x 2048 quarters (testing/tiled_scene.h). Every search: angles 0..360, min_score
// 0.6, max_overlap 0.5, sub-pixel code 2, greediness 0.8, all levels. Rows: quro_xl
// (find_shape_model_xl, 4 x 4 tiles, duplicate distance 2), quro_quarters_16 (find_shape_model on
// each quarter, copied out beforehand; the quarters lose the instances on their seams). Peak memory
// and a load-fair ratio of the two: bench_search_tiled.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench/search_compare_runner.h"
#include "quro/quro.h"
#include "testing/bent_part_scene.h"
#include "testing/tiled_scene.h"

namespace compare {
namespace {

constexpr int kBentScenes = 50;
const SceneSpec kBentSpec{"bent part 640x480", 640, 480, 1, kBentScenes, 20250801u};
const SceneSpec kTiledSpec{"tiled 8192x8192", 8192, 8192, 100, 1, 20250801u};

int part_model() {
    static const int id = create_part_model(cv::Size(112, 84));
    return id;
}

// The bent part of each scene of the bent set.
std::vector<quro_test::BentPart>& bent_parts() {
    static std::vector<quro_test::BentPart> parts;
    return parts;
}

const SceneSet& bent_set() {
    static const SceneSet set = [] {
        SceneSet s{kBentSpec, {}, {}};
        std::mt19937 rng(kBentSpec.seed);
        std::uniform_real_distribution<double> ux(120, 520), uy(100, 380), ua(-10, 10);
        for (int i = 0; i < kBentScenes; ++i) {
            const double amp = 1.0 + 3.0 * i / (kBentScenes - 1);
            const quro_test::BentPart b{{ux(rng), uy(rng), ua(rng)}, amp, 120.0};
            Scene sc;
            sc.image = quro_test::render_bent_part_scene({640, 480}, {b}, 2.0, 11u + i);
            sc.truth.push_back(
                {b.pose.x, b.pose.y, quro_test::fitted_angle(b, quro_test::PartShape{}.half_w)});
            bent_parts().push_back(b);
            s.scenes.push_back(std::move(sc));
        }
        return s;
    }();
    return set;
}

std::vector<Detection> detections(int handle, const quro::Match* res, int count, double ox = 0,
                                   double oy = 0) {
    std::vector<Detection> dets;
    for (int i = 0; handle > 0 && i < count; ++i)
        dets.push_back({res[i].x + res[i].dx + ox, res[i].y + res[i].dy + oy, res[i].angle,
                        res[i].score, res[i].scale_row, res[i].scale_col});
    if (handle > 0) clear_mems(handle);
    return dets;
}

// The deformable search; with `field_sq` it adds the squared field error of the match nearest
// the scene's bent part (within the position tolerance) and counts it in `fields`.
std::vector<Detection> find_deformable(const Scene& s, const quro_test::BentPart* bent = nullptr,
                                       double* field_sq = nullptr, int* measured = nullptr) {
    quro::Match* res = nullptr;
    quro::VectorField* fields = nullptr;
    int count = 0, fields_handle = 0, levels[2] = {0, 0};
    const int h = find_local_deformable_model(s.image.data, s.image.cols, s.image.rows,
                                              part_model(), -15.f, 30.f, 0.95f, 1.05f, 0.95f,
                                              1.05f, 0.7f, 0, 0.5f, 2, levels, 0.8f, res, count,
                                              fields, fields_handle);
    for (int i = 0; bent && h > 0 && fields && i < count; ++i) {
        const quro::Match& m = res[i];
        if (std::hypot(m.x + m.dx - bent->pose.x, m.y + m.dy - bent->pose.y) > kPosTol) continue;
        const double e = quro_test::bend_field_error(m, fields[i], *bent, quro_test::PartShape{});
        if (e < 0) continue;
        *field_sq += e * e;
        ++*measured;
        break;
    }
    if (fields_handle > 0) clear_mems(fields_handle);
    return detections(h, res, count);
}

// The field error column of the deformable row, from one more untimed pass.
void bent_field_errors(int order) {
    const SceneSet& set = bent_set();
    double sq = 0;
    int n = 0;
    for (std::size_t i = 0; i < set.scenes.size(); ++i)
        find_deformable(set.scenes[i], &bent_parts()[i], &sq, &n);
    if (n > 0) summaries()[summary_key(set, order, "quro_deformable")].field_rms = std::sqrt(sq / n);
}

std::vector<Detection> find_aniso(const Scene& s) {
    quro::Match* res = nullptr;
    int count = 0, levels[2] = {0, 0};
    const int h = find_aniso_shape_model(s.image.data, s.image.cols, s.image.rows, part_model(),
                                         -15.f, 30.f, 0.95f, 1.05f, 0.95f, 1.05f, 0.7f, 0, 0.5f, 2,
                                         levels, 0.8f, res, count);
    return detections(h, res, count);
}

std::vector<Detection> find_rigid(const Scene& s, float start, float extent, float min_score) {
    quro::Match* res = nullptr;
    int count = 0, levels[2] = {0, 0};
    const int h = find_shape_model(s.image.data, s.image.cols, s.image.rows, part_model(), start,
                                   extent, min_score, 0, 0.5f, 2, levels, 0.8f, res, count);
    return detections(h, res, count);
}

const quro_test::TiledScene& tiled_scene() {
    static const quro_test::TiledScene t = quro_test::render_tiled_scene();
    return t;
}

const SceneSet& tiled_set() {
    static const SceneSet set = [] {
        SceneSet s{kTiledSpec, {}, {}};
        Scene sc;
        sc.image = tiled_scene().image;
        sc.truth = tiled_scene().truth;
        s.scenes.push_back(std::move(sc));
        return s;
    }();
    return set;
}

std::vector<Detection> find_xl(const Scene& s) {
    quro::Match* res = nullptr;
    int count = 0, levels[2] = {0, 0};
    int tiles[4] = {4, 4, 0, 0};
    const int h = find_shape_model_xl(s.image.data, s.image.cols, s.image.rows, tiles,
                                      part_model(), 0.f, 360.f, 0.6f, 0, 0.5f, 2, levels, 0.8f,
                                      2.f, res, count);
    return detections(h, res, count);
}

std::vector<Detection> find_quarters(const Scene&) {
    std::vector<Detection> all;
    const quro_test::TiledScene& t = tiled_scene();
    for (std::size_t q = 0; q < t.quarters.size(); ++q) {
        const cv::Mat& img = t.quarters[q];
        quro::Match* res = nullptr;
        int count = 0, levels[2] = {0, 0};
        const int h = find_shape_model(img.data, img.cols, img.rows, part_model(), 0.f, 360.f,
                                       0.6f, 0, 0.5f, 2, levels, 0.8f, res, count);
        const std::vector<Detection> d =
            detections(h, res, count, static_cast<double>(q % 4) * img.cols,
                       static_cast<double>(q / 4) * img.rows);
        all.insert(all.end(), d.begin(), d.end());
    }
    return all;
}

void register_set(const SceneSpec& spec, const std::string& method,
                  std::function<const SceneSet&()> set, SceneFinder find, int order,
                  int iterations) {
    const std::string name = std::string("compare/") + spec.label + "/" + method;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [set, find, method, order](benchmark::State& state) {
                                     run_method(state, set(), find, method, order);
                                 })
        ->Iterations(iterations)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

void register_quro_deformable_and_tiled(int order) {
    const std::string name = std::string("compare/") + kBentSpec.label + "/quro_deformable";
    benchmark::RegisterBenchmark(name.c_str(),
                                 [order](benchmark::State& state) {
                                     run_method(state, bent_set(),
                                                [](const Scene& s) { return find_deformable(s); },
                                                "quro_deformable", order);
                                     if (!state.error_occurred()) bent_field_errors(order);
                                 })
        ->Iterations(3 * kBentScenes)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    register_set(kBentSpec, "quro_aniso", bent_set, find_aniso, order + 1, 3 * kBentScenes);
    register_set(
        kBentSpec, "quro", bent_set,
        [](const Scene& s) { return find_rigid(s, -15.f, 30.f, 0.7f); }, order + 2,
        3 * kBentScenes);
    register_set(kTiledSpec, "quro_xl", tiled_set, find_xl, order, 5);
    register_set(kTiledSpec, "quro_quarters_16", tiled_set, find_quarters, order + 1, 5);
}

}  // namespace compare

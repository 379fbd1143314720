// Cost of posing one model level into a reused output, as the least-squares refinement and the
// multi-model fit do once per iteration and candidate or per angle.
#include "quro/model_transforms.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A one-level record with n points at random positions with random directions, or, for shape
// kind 1, n points around a circle with inward directions (as a circle model stores them).
quro::ShapeModelRecord level_of(int n, unsigned char shape_kind) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> pos(-200.f, 200.f), ang(0.f, 6.2831853f);
    std::vector<quro::Feature> pts;
    pts.reserve(static_cast<std::size_t>(n));
    const float radius = static_cast<float>(n) / 6.2831853f;
    for (int i = 0; i < n; ++i) {
        if (shape_kind == 1) {
            const float t = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
            pts.emplace_back(-radius * std::sin(t), -radius * std::cos(t), std::sin(t),
                             std::cos(t));
        } else {
            const float a = ang(rng);
            pts.emplace_back(pos(rng), pos(rng), std::sin(a), std::cos(a));
        }
    }
    // A complete level (every per-level list holds it); the transforms read no box or radius.
    const float reach = std::fmax(200.f, radius);
    quro::ShapeModelRecord rec;
    rec.num_levels = 1;
    rec.shape_kind = shape_kind;
    rec.level_widths = {400};
    rec.level_heights = {400};
    rec.box_min_x = rec.box_min_y = {-reach};
    rec.box_max_x = rec.box_max_y = {reach};
    rec.level_radius = {reach * 1.4143f};
    rec.level_angle = {0.f};
    rec.level_features.push_back(std::move(pts));
    return rec;
}

void BM_RotatedTemplate(benchmark::State& state) {
    const auto rec = level_of(static_cast<int>(state.range(0)), 0);
    quro::ModelPointSet<quro::Feature> out;
    float angle = 13.7f;
    for (auto _ : state) {
        quro::rotated_template(rec, angle, 1, 1.03f, 1, out);
        benchmark::DoNotOptimize(out.points.data());
        angle += 0.01f;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RotatedTemplate)->Arg(5000);

// The scalar path that processors without AVX2 take for rotated_template.
void BM_PoseKernelScalar(benchmark::State& state) {
    const auto rec = level_of(static_cast<int>(state.range(0)), 0);
    const auto& in = rec.level_features[0];
    std::vector<quro::Feature> out(in.size());
    for (auto _ : state) {
        const quro::PoseBox box = quro::pose_features_scalar(in.data(), 1, in.size(), 0.97f, 0.24f,
                                                             1.03f, 1.03f, out.data());
        benchmark::DoNotOptimize(box);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PoseKernelScalar)->Arg(5000);

void BM_RotatedTemplateAniso(benchmark::State& state) {
    const auto rec =
        level_of(static_cast<int>(state.range(0)), static_cast<unsigned char>(state.range(1)));
    quro::ModelPointSet<quro::Feature> out;
    float angle = 13.7f;
    for (auto _ : state) {
        quro::rotated_template_aniso(rec, angle, 1, 1.1f, 0.95f, 1, out);
        benchmark::DoNotOptimize(out.points.data());
        angle += 0.01f;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
// Second argument: shape kind (1 = circle model, directions from the scaled ellipse).
BENCHMARK(BM_RotatedTemplateAniso)->Args({5000, 0})->Args({5000, 1});

void BM_TransformModelPointsAniso(benchmark::State& state) {
    const auto rec = level_of(static_cast<int>(state.range(0)), 0);
    quro::ModelPointSet<quro::FeatureI> out;
    for (auto _ : state) {
        quro::transform_model_points_aniso(rec, 21.f, 1, 1.1f, 0.95f, 1, out);
        benchmark::DoNotOptimize(out.points.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformModelPointsAniso)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();

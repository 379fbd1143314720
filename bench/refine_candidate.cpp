// Refinement of one level's candidates, as a search runs it: 100 candidates from the level above
// (one pixel and up to 1.5 degrees off), a 640 x 480 level with twelve rendered instances of a
// model whose level template has about 150 points, normal maps without border, a parallel loop
// over the candidates. Arguments: worker threads, variant (0 plain, 1 cells with cell value 4 on a
// 2 x 2 grid), stage (0 the angle refinement; 1 the scale refinement, the candidates starting at
// scale 0.96 with steps of 0.02 in a range 0.8 - 1.2, the instances at scale 1). Also the window
// kernel alone (8 x 8 window, 150 points), scalar and AVX2.
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/refine/scale_refine.h"

#include <benchmark/benchmark.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <opencv2/core.hpp>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "quro/match/refine/window_kernels.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/templates.h"
#include "testing/polygon_scene.h"
#include "testing/refine_level.h"

namespace {

struct Scene {
    quro::ShapeModelRecord rec;
    cv::Mat nx, ny;
    std::vector<quro::Match> candidates;
    std::vector<int> cell_index, cell_order;
};

const Scene& scene() {
    static const Scene s = [] {
        Scene s;
        const quro_test::PolygonScene& p = quro_test::polygon_scene();
        s.rec = p.rec;
        quro::_getNormal33(p.image, s.nx, 10.f, s.ny);
        // Candidates from the level above: up to one pixel and 1.5 degrees off.
        cv::RNG rng(12);
        for (int i = 0; i < 100; ++i) {
            const quro_test::PolygonPose& q = p.poses[static_cast<std::size_t>(i) % p.poses.size()];
            s.candidates.emplace_back(
                cvRound(q.cx / 2) + rng.uniform(-1, 2), cvRound(q.cy / 2) + rng.uniform(-1, 2),
                0.8f, q.angle + rng.uniform(-1.5f, 1.5f), 1.f, 1.f, 0, static_cast<signed char>(1));
        }
        quro::feature_cell_index(s.rec, 1, 2, s.cell_index);
        s.cell_order = quro::argsort_int(s.cell_index);
        return s;
    }();
    return s;
}

void BM_RefineLevel(benchmark::State& state) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                              static_cast<std::size_t>(state.range(0)));
    const bool cells = state.range(1) != 0;
    const bool scale = state.range(2) != 0;
    const Scene& s = scene();
    std::vector<quro::Match> start = s.candidates;
    quro::ShapeModelRecord rec = s.rec;
    if (scale) {
        for (quro::Match& m : start) m.scale_row = m.scale_col = 0.96f;
        rec.scale_min = 0.8f;
        rec.scale_max = 1.2f;
    }
    quro::NormalTemplate t;
    quro::normal_template_aniso(s.rec, t, 1, 1.f, 1.f, 0.f);
    state.counters["template_points"] = static_cast<double>(t.size());
    const quro::Stopwatch sw;
    std::vector<quro::Match> work;
    double mean_score = 0;
    for (auto _ : state) {
        work = start;
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, work.size()),
            [&](const tbb::blocked_range<std::size_t>& r) {
                for (std::size_t i = r.begin(); i != r.end(); ++i) {
                    const quro::RefineLevel lvl =
                        quro_test::refine_level(s.nx, s.ny, 0, rec, 0, 0, 2.f, 0.5f, 1, 2, sw, 0,
                                                cells ? 4 : 1, &s.cell_index, &s.cell_order);
                    if (scale)
                        quro::refine_scale(lvl, 0.02f, work[i]);
                    else
                        quro::refine_candidate(lvl, work[i]);
                }
            });
        benchmark::DoNotOptimize(work.data());
    }
    double mean_scale = 0;
    for (const quro::Match& m : work) {
        mean_score += m.score;
        mean_scale += m.scale_row;
    }
    state.counters["mean_score"] = mean_score / static_cast<double>(work.size());
    state.counters["mean_scale"] = mean_scale / static_cast<double>(work.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.size()));
}
BENCHMARK(BM_RefineLevel)
    ->ArgNames({"threads", "cells", "scale"})
    ->ArgsProduct({{1, 8}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_WindowKernel(benchmark::State& state) {
    const bool vector = state.range(0) != 0;
    if (vector && !quro::cpu_has_avx2()) {
        state.SkipWithError("processor without AVX2");
        return;
    }
    const Scene& s = scene();
    quro::NormalTemplate t;
    quro::normal_template_aniso(s.rec, t, 1, 1.f, 1.f, 30.f);
    quro::WindowTemplate p;
    quro::prepare_window_template(t, s.nx.cols, nullptr, p);
    const quro::NormalMapsRef maps = quro::normal_maps_ref(s.nx, s.ny);
    const quro::WindowCorner c = quro::window_corner(p, maps.rows, maps.cols, 320, 240, 4, 8);
    const std::ptrdiff_t base0 = static_cast<std::ptrdiff_t>(c.y0) * maps.cols + c.x0;
    const std::ptrdiff_t limit =
        static_cast<std::ptrdiff_t>(maps.rows - p.box_height + 1) * maps.cols - p.box_width + 1;
    float out[64];
    for (auto _ : state) {
        if (vector)
            quro::window_kernel_avx2(maps.nx, maps.ny, p.offsets.data(), p.gx.data(), p.gy.data(),
                                     p.size(), base0, maps.cols, 0, limit, 8, false, out);
        else
            quro::window_kernel_scalar(maps.nx, maps.ny, p.offsets.data(), p.gx.data(), p.gy.data(),
                                       p.size(), base0, maps.cols, 0, limit, 8, false, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(p.size());
}
BENCHMARK(BM_WindowKernel)->ArgName("avx2")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

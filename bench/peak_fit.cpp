// Sub-pixel peak fit of the final matches (sub-pixel mode 1), as a search runs it on its last
// level: 100 matches on a 640 x 480 level with twelve rendered instances of a model whose level
// template has about 150 points, each match on its instance's nearest pixel with its angle up to
// half a step off. Arguments: worker threads, variant (0 plain, normal maps with the border of
// mode 1; 1 cells with cell value 4 on a 2 x 2 grid; 2 multi-model fit with cell value 2).
// Reports the mean position and angle error against the rendered poses.
#include "quro/match/subpixel/peak_fit.h"

#include <benchmark/benchmark.h>
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "testing/polygon_scene.h"
#include "testing/refine_level.h"

namespace {

struct Scene {
    quro::ShapeModelRecord rec;
    float step = 0.f;
    int border = 0;
    cv::Mat nx, ny;    // without border
    cv::Mat bnx, bny;  // with the border of mode 1
    std::vector<quro::Match> matches;
    std::vector<int> truth;  // pose index of each match
    std::vector<int> cell_index, cell_order;
};

const Scene& scene() {
    static const Scene s = [] {
        Scene s;
        const quro_test::PolygonScene& p = quro_test::polygon_scene();
        s.rec = p.rec;
        s.step = quro::angle_step(s.rec, 1);
        s.border = static_cast<int>(s.rec.level_radius[0]) + 5;
        quro::_getNormal33(p.image, s.nx, 10.f, s.ny);
        quro::_getNormal34(p.image, s.bnx, 10.f, s.bny, s.border);
        cv::RNG rng(13);
        for (int i = 0; i < 100; ++i) {
            const std::size_t k = static_cast<std::size_t>(i) % p.poses.size();
            const quro_test::PolygonPose& q = p.poses[k];
            s.matches.emplace_back(cvRound(q.cx), cvRound(q.cy), 0.8f,
                                   q.angle + rng.uniform(-0.5f, 0.5f) * s.step, 1.f, 1.f, 0,
                                   static_cast<signed char>(1));
            s.truth.push_back(static_cast<int>(k));
        }
        quro::feature_cell_index(s.rec, 1, 2, s.cell_index);
        s.cell_order = quro::argsort_int(s.cell_index);
        return s;
    }();
    return s;
}

void BM_PeakFit(benchmark::State& state) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                              static_cast<std::size_t>(state.range(0)));
    const int variant = static_cast<int>(state.range(1));
    const Scene& s = scene();
    quro::RefineLevel multi = quro_test::fit_level(s.nx, s.ny, 0, s.rec, 0, s.step, 1, 2);
    multi.min_score = 0.7f;
    std::vector<quro::Match> work;
    for (auto _ : state) {
        work = s.matches;
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, work.size()),
            [&](const tbb::blocked_range<std::size_t>& r) {
                for (std::size_t i = r.begin(); i != r.end(); ++i) {
                    if (variant == 0)
                        quro::fit_peak_subpixel(
                            quro_test::fit_level(s.bnx, s.bny, s.border, s.rec, 0, s.step, 1),
                            work[i]);
                    else if (variant == 1)
                        quro::fit_peak_subpixel(
                            quro_test::fit_level(s.nx, s.ny, 0, s.rec, 0, s.step, 1, 4,
                                                 &s.cell_index, &s.cell_order),
                            work[i]);
                    else
                        quro::fit_peak_subpixel_multi(multi, 0.9f, work[i]);
                }
            });
        benchmark::DoNotOptimize(work.data());
    }
    const auto& poses = quro_test::polygon_scene().poses;
    double position = 0, angle = 0;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const quro_test::PolygonPose& q = poses[static_cast<std::size_t>(s.truth[i])];
        position += std::hypot(work[i].x + work[i].dx - q.cx, work[i].y + work[i].dy - q.cy);
        angle += std::fabs(work[i].angle - q.angle) / s.step;
    }
    state.counters["mean_px_error"] = position / static_cast<double>(work.size());
    state.counters["mean_step_error"] = angle / static_cast<double>(work.size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.size()));
}
BENCHMARK(BM_PeakFit)
    ->ArgNames({"threads", "variant"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({1, 2})
    ->Args({8, 2})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

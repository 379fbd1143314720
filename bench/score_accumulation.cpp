// Coarse search kernels: score accumulation alone (single thread, items = template points times
// template positions), and the top-level loop over poses as a search runs it (accumulate + peaks,
// on 8 threads, and on 1 for the scaling).
#include "quro/match/coarse/score_accumulation.h"

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/response_maps.h"
#include "testing/clutter_scene.h"
#include "testing/polygon_model.h"

namespace {

// Response maps of the clutter scene for maps of map_w x map_h: the image is the map size less
// the frame of a model of radius `radius`.
std::vector<cv::Mat> clutter_maps(int map_w, int map_h, float radius) {
    const int b = quro::orientation_border(radius);
    const int w = map_w - 2 * b, h = map_h - 2 * b;
    cv::Mat codes;
    quro::quantizedOrientations16(quro_test::clutter_scene(w, h), codes, 10.f, radius);
    std::vector<cv::Mat> maps;
    quro::computeResponseMaps16(codes, maps);
    return maps;
}

// Single thread: n = 200 random points in a 50 x 50 box, on 308 x 308 maps. path: 0 one lane,
// 1 32 lanes, 2 32 lanes summing the response values in bytes first (as the searches do).
void BM_Accumulate(benchmark::State& state) {
    const quro::KernelPath vector_path =
        state.range(0) != 0 ? quro::KernelPath::vector : quro::KernelPath::scalar;
    const quro::MapValues values =
        state.range(0) == 2 ? quro::MapValues::responses : quro::MapValues::any;
    const std::vector<cv::Mat> maps = clutter_maps(308, 308, 35.f);
    quro::QuantizedTemplate tpl;
    cv::RNG rng(1);
    for (int k = 0; k < 200; ++k) {
        // The first two points span the box.
        tpl.xs.push_back(k == 0 ? -25 : k == 1 ? 24 : rng.uniform(-25, 25));
        tpl.ys.push_back(k == 0 ? -25 : k == 1 ? 24 : rng.uniform(-25, 25));
        tpl.codes.push_back(rng.uniform(0, 16));
    }
    tpl.min_x = tpl.min_y = -25;
    tpl.max_x = tpl.max_y = 24;
    const std::int64_t positions = (308 - 50 + 1) * 308 - 50 + 1;
    quro::Stopwatch sw;
    cv::Mat score, polarity;
    for (auto _ : state) {
        quro::accumulate_similarity_with(maps, tpl, 1, score, polarity, {sw, 0}, vector_path,
                                         quro::ScoreScope{values, {}});
        benchmark::DoNotOptimize(score.data);
    }
    state.SetItemsProcessed(state.iterations() * positions * 200);
}
BENCHMARK(BM_Accumulate)->ArgName("path")->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The top-level loop: `poses` angles over a full turn, each accumulated (path as above) and its peaks extracted
// in a parallel loop over the poses, as a search's top level does. The model is a rectangle
// outline with n points; the maps are map_w x map_h; the loop runs on `threads` threads.
void BM_TopLevel(benchmark::State& state) {
    const int poses = static_cast<int>(state.range(0));
    const int map_w = static_cast<int>(state.range(1));
    const int map_h = static_cast<int>(state.range(2));
    const int n = static_cast<int>(state.range(3));
    const quro::KernelPath vector_path =
        state.range(4) != 0 ? quro::KernelPath::vector : quro::KernelPath::scalar;
    const quro::MapValues values =
        state.range(4) == 2 ? quro::MapValues::responses : quro::MapValues::any;
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(5)));
    // A rectangle of half sizes hw + hh = n / 4 + 1 has n edge points.
    const float hw = static_cast<float>((n / 4 + 1) * 3 / 5);
    const float hh = static_cast<float>(n / 4 + 1) - hw;
    const quro::ShapeModelRecord rec =
        quro_test::polygon_model(quro_test::rectangle_outline(hw, hh), 1);
    const quro::OutlineBox box = quro::outline_box(rec, 1);
    const std::vector<cv::Mat> maps = clutter_maps(map_w, map_h, box.radius);
    std::vector<quro::QuantizedTemplate> tpls(static_cast<std::size_t>(poses));
    for (int i = 0; i < poses; ++i) {
        quro::quantized_template(rec, tpls[static_cast<std::size_t>(i)], 1, 1.f,
                                 360.f * static_cast<float>(i) / static_cast<float>(poses));
    }
    state.counters["n"] = static_cast<double>(tpls[0].size());
    std::vector<std::vector<quro::Match>> cands(static_cast<std::size_t>(poses));
    quro::Stopwatch sw;
    for (auto _ : state) {
        tbb::parallel_for(0, poses, [&](int i) {
            const auto k = static_cast<std::size_t>(i);
            cv::Mat score, polarity;
            quro::accumulate_similarity_with(maps, tpls[k], 1, score, polarity, {sw, 0},
                                             vector_path, quro::ScoreScope{values, {}});
            cands[k].clear();
            quro::extract_peaks(score, tpls[k], 0.45f, 0.5f, box, 0.f, 1.f, cands[k], {sw, 0},
                                polarity);
        });
        benchmark::DoNotOptimize(cands.data());
    }
}
BENCHMARK(BM_TopLevel)
    ->ArgNames({"poses", "map_w", "map_h", "n", "path", "threads"})
    ->Args({63, 192, 152, 120, 2, 8})
    ->Args({105, 308, 308, 200, 2, 8})
    ->Args({63, 192, 152, 120, 1, 8})
    ->Args({105, 308, 308, 200, 1, 8})
    ->Args({63, 192, 152, 120, 0, 8})
    ->Args({105, 308, 308, 200, 0, 8})
    ->Args({63, 192, 152, 120, 2, 1})
    ->Args({105, 308, 308, 200, 2, 1})
    ->Args({63, 192, 152, 120, 1, 1})
    ->Args({105, 308, 308, 200, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

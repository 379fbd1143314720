// Speed of shape model creation: from an image (pyramid, edge points per level, boxes, insertion)
// on scenes of many filled shapes, and from a generated outline; and of the rotated image
// extraction that cut-outs for models from rotated rectangles use.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <opencv2/core.hpp>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/edge_scenes.h"

namespace {

// 1024 x 1024 with 40 shapes, 2048 x 2048 with 100 (the edge benchmark's scene).
const cv::Mat& scene(int size) {
    static const cv::Mat small = quro::test::render_shapes(1024, 1024, 40, 5);
    static const cv::Mat large = quro::test::render_shapes(2048, 2048, 100, 3);
    return size == 1024 ? small : large;
}

// Arguments: image side (1024 or 2048), number of threads. The model is cleared inside the
// timed loop (a small part of the time).
void BM_CreateShapeModel(benchmark::State& state) {
    const cv::Mat& img = scene(static_cast<int>(state.range(0)));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(1)));
    const ContrastParams contrast{10, 30, 10, 10};
    int levels = 0;
    std::size_t points = 0;
    for (auto _ : state) {
        int id = -1;
        const int rc = create_shape_model(img.data, img.cols, img.rows, 0, -180.f, 360.f, 1.f, 1,
                                          &contrast, nullptr, &id);
        if (rc != 0) {
            state.SkipWithError("creation failed");
            break;
        }
        if (auto rec = quro::find_shape_model_record(id)) {
            levels = rec->num_levels;
            points = rec->level_features.front().size();
        }
        clear_shape_model(id);
    }
    state.counters["levels"] = levels;
    state.counters["points1"] = static_cast<double>(points);
}
BENCHMARK(BM_CreateShapeModel)
    ->Args({1024, 1})
    ->Args({1024, 8})
    ->Args({2048, 1})
    ->Args({2048, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A generated circle outline of radius 1000 (6284 level-1 points): all levels derived from it.
void BM_CreateShapeModelXldCircle(benchmark::State& state) {
    const ContrastParams contrast{10, 30, 10, 10};
    int levels = 0;
    for (auto _ : state) {
        int id = -1;
        if (create_shape_model_xld(1000.f, 0.f, 0, -180.f, 360.f, 1.f, 1, &contrast, &id) != 0) {
            state.SkipWithError("creation failed");
            break;
        }
        if (auto rec = quro::find_shape_model_record(id)) levels = rec->num_levels;
        clear_shape_model(id);
    }
    state.counters["levels"] = levels;
}
BENCHMARK(BM_CreateShapeModelXldCircle)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 1024 x 1024 output turned by 30 degrees out of the 2048 x 2048 scene. Arguments: filter
// (0 one sample, 1 four, 2 nine per pixel), number of threads.
void BM_GetRotImg(benchmark::State& state) {
    const cv::Mat& img = scene(2048);
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(1)));
    std::vector<unsigned char> out(1024 * 1024);
    for (auto _ : state) {
        if (get_rot_img(img.data, img.cols, img.rows, static_cast<int>(state.range(0)), 1023.5,
                        1023.5, 30.0, out.data(), 1024, 1024) != 0) {
            state.SkipWithError("extraction failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(BM_GetRotImg)
    ->ArgsProduct({{0, 1, 2}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

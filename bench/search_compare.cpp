// Rigid search compared with two baselines on the same rendered scenes: the box photo at half
// size pasted at random angles and sub-pixel positions into the building photo, noise sigma 5,
// at 640 x 480 (3 instances per scene) and 2048 x 2048 (12 per scene). Each benchmark searches
// every scene of its set once per pass; the table printed at the end gives recall, false
// positives, position and angle errors and the median time of one search.
//
// Scaled sets: the same scenes with every instance drawn at a random uniform scale in 0.8-1.2
// (about the model's centre; instances kept apart at the largest scale), at 640 x 480 and
// 2048 x 2048, searched by the library's scaled search over 0.8-1.2 with the rigid search's
// settings; below its row the scale error and the number of top-level poses. Its time compares
// with the rigid row of the same scene size (filter with --benchmark_filter=scaled).
//
// Anisotropic set: the 640 x 480 scenes with every instance's rows and columns scaled apart, each
// by a random factor in 0.9-1.1, searched by the anisotropic search over 0.9-1.1 on both axes;
// below its row both scale errors and the number of top-level poses (--benchmark_filter=aniso).
//
// Bent-part and tiled sets (search_compare_deformable.cpp): the deformable search beside the
// anisotropic and rigid ones on bent parts, and the tiled search of an 8192 x 8192 scene beside
// 16 searches of its quarters (--benchmark_filter='bent|tiled').
//
// Bend and coin sets (search_compare_bend.cpp): the deformable search on parts bent by 3 px at a
// wavelength of 100 px beside straight ones, with the field's error against the true bend ('field
// px'), and on noisy scenes of small coins for its false matches (--benchmark_filter='bend|coins').
//
// Textured sets (search_compare_textured_sets.h): five models with fine texture or relief (board,
// box, text page, portrait, coin) in 17 background photos with distractors, each condition its own
// table (clean, noise sigma 8-10, a quarter of every instance covered, reversed contrast, blur,
// a 2048 x 2048 mosaic); the library's search with a new user's settings (min_score 0.5, levels
// {0, 1}), the baselines on the five 768 x 576 sets. Below the library's row: recall by model.
//
// Multi-model set (search_compare_multi.cpp): four photo crops (board, box, text page, portrait),
// three instances of each in every 2048 x 2048 scene; find_shape_models with all four beside one
// rigid search of each model alone (scored on that model's instances) and four in a row.
//
// Run: build/release/bench/bench_search_compare   (all of it takes about two minutes)
// (filter with --benchmark_filter=640, =ncc, =textured, ='textured occluded', ... as usual).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "bench/search_compare_runner.h"
#include "bench/search_compare_textured_sets.h"
#include "testing/compare_linemod.h"
#include "testing/compare_ncc.h"
#include "testing/compare_scenes.h"

namespace compare {
namespace {

const NccMatcher& ncc() {
    static const NccMatcher m(photos().model);
    return m;
}

const LinemodMatcher& linemod() {
    static const LinemodMatcher m(photos().model);
    return m;
}

std::vector<Detection> find_ncc(const Scene& s) {
    return ncc().find(s.image, static_cast<int>(s.truth.size()));
}

std::vector<Detection> find_linemod(const Scene& s) {
    return linemod().find(s.image, static_cast<int>(s.truth.size()));
}

// One matcher of each kind per textured model, made on first use.
template <class Matcher>
const std::vector<Matcher>& textured_matchers() {
    static const std::vector<Matcher> m = [] {
        std::vector<Matcher> r;
        for (const cv::Mat& model : textured_photos().models) r.emplace_back(model);
        return r;
    }();
    return m;
}

template <class Matcher>
std::vector<Detection> find_textured(const Scene& s) {
    return textured_matchers<Matcher>()[static_cast<std::size_t>(s.model)].find(
        s.image, static_cast<int>(s.truth.size()));
}

// Registers both baselines on one scene set (rendered on first use by `set`), table rows from
// `order` on.
void register_baselines(const SceneSpec& spec, const SceneFinder& ncc_find,
                        const SceneFinder& linemod_find, std::function<const SceneSet&()> set,
                        int order) {
    const std::pair<const char*, SceneFinder> methods[] = {{"ncc_masked", ncc_find},
                                                           {"linemod", linemod_find}};
    for (const auto& [method_name, find] : methods) {
        const std::string name = std::string("compare/") + spec.label + "/" + method_name;
        const std::string method = method_name;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [set, find, method, order](benchmark::State& state) {
                                         run_method(state, set(), find, method, order);
                                     })
            ->Iterations(spec.scenes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        ++order;
    }
}

void register_baselines(SceneSize size, int order) {
    register_baselines(
        scene_spec(size), find_ncc, find_linemod,
        [size]() -> const SceneSet& { return scene_set(size); }, order);
}

void register_textured_baselines(int set, int order) {
    register_baselines(
        textured_spec(set).spec, find_textured<NccMatcher>, find_textured<LinemodMatcher>,
        [set]() -> const SceneSet& { return textured_set(set); }, order);
}

}  // namespace
}  // namespace compare

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    using compare::SceneSize;
    compare::register_quro_benchmarks(SceneSize::kSmall, 0);
    compare::register_baselines(SceneSize::kSmall, 10);
    compare::register_quro_benchmarks(SceneSize::kLarge, 0);
    compare::register_baselines(SceneSize::kLarge, 10);
    compare::register_quro_benchmarks(SceneSize::kSmallScaled, 0);
    compare::register_quro_benchmarks(SceneSize::kLargeScaled, 0);
    compare::register_quro_benchmarks(SceneSize::kSmallAniso, 0);
    for (int set = 0; set < compare::kTexturedSets; ++set) {
        compare::register_quro_textured(set, 0);
        if (set != compare::kMosaicSet) compare::register_textured_baselines(set, 10);
    }
    compare::register_quro_multi(0);
    compare::register_quro_deformable_and_tiled(0);
    compare::register_quro_bend_and_coins(0);
    benchmark::RunSpecifiedBenchmarks();
    compare::print_summaries();
    benchmark::Shutdown();
    return 0;
}

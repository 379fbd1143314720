// Rigid search compared with two baselines on the same rendered scenes: the box photo at half
// size pasted at random angles and sub-pixel positions into the building photo, noise sigma 5,
// at 640 x 480 (3 instances per scene) and 2048 x 2048 (12 per scene). Each benchmark searches
// every scene of its set once per pass; the table printed at the end gives recall, false
// positives, position and angle errors and the median time of one search.
//
// Run: build/release/bench/bench_search_compare
// (filter with --benchmark_filter=640, =ncc, ... as usual).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "search_compare_linemod.h"
#include "search_compare_ncc.h"
#include "search_compare_runner.h"
#include "search_compare_scenes.h"

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

std::vector<Detection> find_ncc(const cv::Mat& scene, int expected) {
    return ncc().find(scene, expected);
}

std::vector<Detection> find_linemod(const cv::Mat& scene, int expected) {
    return linemod().find(scene, expected);
}

void register_baselines(SceneSize size, int order) {
    const SceneSpec spec = scene_spec(size);
    struct Method {
        const char* name;
        Finder find;
    };
    const Method methods[] = {{"ncc_masked", find_ncc}, {"linemod", find_linemod}};
    for (const Method& m : methods) {
        const std::string name = std::string("compare/") + spec.label + "/" + m.name;
        const std::string method = m.name;
        const Finder find = m.find;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [size, find, method, order](benchmark::State& state) {
                                         run_method(state, scene_set(size), find, method, order);
                                     })
            ->Iterations(spec.scenes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        ++order;
    }
}

}  // namespace
}  // namespace compare

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    using compare::SceneSize;
#ifdef QURO_HAVE_SEARCH
    compare::register_quro_benchmarks(SceneSize::kSmall, 0);
#endif
    compare::register_baselines(SceneSize::kSmall, 10);
#ifdef QURO_HAVE_SEARCH
    compare::register_quro_benchmarks(SceneSize::kLarge, 0);
#endif
    compare::register_baselines(SceneSize::kLarge, 10);
    benchmark::RunSpecifiedBenchmarks();
    compare::print_summaries();
    benchmark::Shutdown();
    return 0;
}

// Cost of registering and releasing one result block while many others stay outstanding.
#include <benchmark/benchmark.h>

#include <vector>

#include "quro/quro.h"
#include "quro/result_registry.h"

namespace {

void BM_RegisterRelease(benchmark::State& state) {
    const int outstanding = static_cast<int>(state.range(0));
    std::vector<int> held;
    for (int i = 0; i < outstanding; ++i)
        held.push_back(quro::register_result(quro::kResultBytes, nullptr, 0));
    // Free one in the middle so that the lowest free handle is not simply the next fresh one.
    const std::size_t middle = held.size() / 2;
    if (!held.empty()) clear_mems(held[middle]);
    for (auto _ : state) {
        const int h = quro::register_result(quro::kResultBytes, nullptr, 0);
        benchmark::DoNotOptimize(h);
        clear_mems(h);
    }
    for (std::size_t i = 0; i < held.size(); ++i)
        if (i != middle) clear_mems(held[i]);
}
BENCHMARK(BM_RegisterRelease)->Arg(0)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();

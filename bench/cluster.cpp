// Clustering of one level's candidates (single thread: the searches run it on their calling
// thread). Arguments: candidate count, share of candidates around instances in percent (the
// rest is clutter spread over the level). The list is copied into place each iteration (about
// 1 % of the time at 10,000 candidates).
#include "quro/match/select/cluster.h"

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <vector>

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;
constexpr float kAngleStep = 5.f;

// Candidates as a top level leaves them: per instance a few pixels around its position, each
// with peaks over a range of angles near the instance's; clutter at random places and angles.
std::vector<quro::Match> top_level_candidates(int n, int instance_percent) {
    cv::RNG rng(3);
    struct Instance {
        int x, y;
        float angle, score;
    };
    std::vector<Instance> instances;
    for (int i = 0; i < 25; ++i)
        instances.push_back({rng.uniform(5, kWidth - 5), rng.uniform(5, kHeight - 5),
                             rng.uniform(-180.f, 180.f), rng.uniform(0.7f, 0.95f)});
    std::vector<quro::Match> c;
    c.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (rng.uniform(0, 100) < instance_percent) {
            const Instance& in = instances[static_cast<std::size_t>(rng.uniform(0, 25))];
            const int dx = rng.uniform(-2, 3), dy = rng.uniform(-2, 3);
            const float da = kAngleStep * static_cast<float>(rng.uniform(-4, 5));
            const float score =
                in.score * (1.f - 0.04f * static_cast<float>(std::abs(dx) + std::abs(dy)) -
                            0.01f * std::abs(da) / kAngleStep);
            c.emplace_back(in.x + dx, in.y + dy, score, in.angle + da, 1.f, 1.f, 0, 1);
        } else {
            c.emplace_back(rng.uniform(0, kWidth), rng.uniform(0, kHeight),
                           rng.uniform(0.4f, 0.65f), rng.uniform(-180.f, 180.f), 1.f, 1.f, 0, 1);
        }
    }
    return c;
}

void BM_ClusterCandidates(benchmark::State& state) {
    const std::vector<quro::Match> input =
        top_level_candidates(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<quro::Match> c;
    c.reserve(input.size());
    std::size_t left = 0;
    for (auto _ : state) {
        c.assign(input.begin(), input.end());
        quro::cluster_candidates(c, kAngleStep, 0);
        left = c.size();
        benchmark::DoNotOptimize(c.data());
    }
    state.counters["left"] = static_cast<double>(left);
}
BENCHMARK(BM_ClusterCandidates)
    ->Args({10000, 60})
    ->Args({10000, 0})
    ->Args({1000, 60})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

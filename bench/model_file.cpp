// Writing and reading a large model (10 levels, about 400,000 points, 6.4 MB) through a file and
// through a memory buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"

namespace {

// Full resolution holds about half of all points; every further level halves the count.
int large_model() {
    quro::ShapeModelRecord r;
    r.num_levels = 10;
    int points = 200000, w = 4000, h = 3000;
    for (int l = 0; l < 10; ++l) {
        r.level_widths.push_back(w);
        r.level_heights.push_back(h);
        for (auto* list : {&r.box_min_x, &r.box_min_y, &r.box_max_x, &r.box_max_y,
                           &r.level_radius, &r.level_angle})
            list->push_back(static_cast<float>(l));
        std::vector<quro::Feature> level;
        level.reserve(points);
        for (int i = 0; i < points; ++i)
            level.emplace_back(0.25f * (i % 1000), 0.5f * (i / 1000), 0.6f, 0.8f);
        r.level_features.push_back(std::move(level));
        points /= 2;
        w /= 2;
        h /= 2;
    }
    return quro::add_shape_model(std::move(r));
}

std::string scratch_file() {
    return (std::filesystem::temp_directory_path() /
            ("quro_bench_model_" + std::to_string(::getpid()) + ".shm"))
        .string();
}

void BM_WriteModelFile(benchmark::State& state) {
    const int id = large_model();
    const std::string path = scratch_file();
    for (auto _ : state) benchmark::DoNotOptimize(write_shape_model(id, path.c_str()));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
    clear_shape_model(id);
}
BENCHMARK(BM_WriteModelFile)->Unit(benchmark::kMillisecond);

void BM_ReadModelFile(benchmark::State& state) {
    const int id = large_model();
    const std::string path = scratch_file();
    if (write_shape_model(id, path.c_str()) != 0) state.SkipWithError("write failed");
    for (auto _ : state) {
        int loaded = -1;
        benchmark::DoNotOptimize(read_shape_model(path.c_str(), &loaded));
        state.PauseTiming();
        clear_shape_model(loaded);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
    clear_shape_model(id);
}
BENCHMARK(BM_ReadModelFile)->Unit(benchmark::kMillisecond);

void BM_WriteModelBuffer(benchmark::State& state) {
    const int id = large_model();
    for (auto _ : state) {
        void* buf = nullptr;
        int len = 0;
        const int handle = write_shape_model_b(id, &buf, &len);
        benchmark::DoNotOptimize(buf);
        clear_mems(handle);
    }
    clear_shape_model(id);
}
BENCHMARK(BM_WriteModelBuffer)->Unit(benchmark::kMillisecond);

void BM_ReadModelBuffer(benchmark::State& state) {
    const int id = large_model();
    void* buf = nullptr;
    int len = 0;
    const int handle = write_shape_model_b(id, &buf, &len);
    for (auto _ : state) {
        int loaded = -1;
        benchmark::DoNotOptimize(read_shape_model_b(buf, len, &loaded));
        state.PauseTiming();
        clear_shape_model(loaded);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(len));
    clear_mems(handle);
    clear_shape_model(id);
}
BENCHMARK(BM_ReadModelBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

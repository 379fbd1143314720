// The locally deformable search on 50 scenes of 640 x 480, each with the rendered part bent like a
// sine wave (testing/bent_part_scene.h, wavelength 120 px) by an amplitude from 1 to 4 pixels, at a
// random angle within +-10 degrees, noise sigma 2. Every search: angles -15..15, row and column
// scales 0.95..1.05, min_score 0.7, max_overlap 0.5, sub-pixel code 2, all levels. Rows:
// deformable (find_local_deformable_model), aniso (find_aniso_shape_model, the same search
// without the deformable levels) and rigid (find_shape_model, no scales). Counters: recall (a match within 2 px of the part's centre),
// false positives (other matches), position RMS of the found parts (px) and the median time of
// one scene (ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "quro/quro.h"
#include "testing/bent_part_scene.h"

namespace {

constexpr int kScenes = 50;

struct Scenes {
    int model = -1;
    std::vector<cv::Mat> images;
    std::vector<quro_test::BentPart> parts;
};

const Scenes& scenes() {
    static const Scenes s = [] {
        Scenes r;
        const cv::Mat model = quro_test::render_part_model(cv::Size(112, 84));
        ContrastParams contrast{10, 30, 10, 10};
        create_shape_model(model.data, model.cols, model.rows, 0, 0.f, 360.f, 0.f, 1, &contrast,
                           nullptr, &r.model);
        std::mt19937 rng(20250801u);
        std::uniform_real_distribution<double> ux(120, 520), uy(100, 380), ua(-10, 10);
        for (int i = 0; i < kScenes; ++i) {
            const double amp = 1.0 + 3.0 * i / (kScenes - 1);
            const quro_test::BentPart b{{ux(rng), uy(rng), ua(rng)}, amp, 120.0};
            r.parts.push_back(b);
            r.images.push_back(quro_test::render_bent_part_scene({640, 480}, {b}, 2.0, 11u + i));
        }
        return r;
    }();
    return s;
}

template <class Search>
void run(benchmark::State& state, Search&& search) {
    const Scenes& s = scenes();
    std::vector<double> ms;
    int found = 0, false_pos = 0;
    double sq = 0;
    for (auto _ : state) {
        found = false_pos = 0;
        sq = 0;
        for (int i = 0; i < kScenes; ++i) {
            std::vector<quro::Match> m;
            const auto t0 = std::chrono::steady_clock::now();
            search(s.images[static_cast<std::size_t>(i)], m);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
            const quro_test::PartPose& p = s.parts[static_cast<std::size_t>(i)].pose;
            bool hit = false;
            for (const quro::Match& x : m) {
                const double d = std::hypot(x.x + x.dx - p.x, x.y + x.dy - p.y);
                if (d < 2.0 && !hit) {
                    hit = true;
                    sq += d * d;
                } else {
                    ++false_pos;
                }
            }
            found += hit ? 1 : 0;
        }
    }
    std::nth_element(ms.begin(), ms.begin() + static_cast<long>(ms.size() / 2), ms.end());
    state.counters["recall"] = static_cast<double>(found) / kScenes;
    state.counters["false_pos"] = false_pos;
    state.counters["pos_rms"] = found > 0 ? std::sqrt(sq / found) : 0.0;
    state.counters["median_ms"] = ms[ms.size() / 2];
}

void BM_Deformable(benchmark::State& state) {
    const int id = scenes().model;
    run(state, [id](const cv::Mat& img, std::vector<quro::Match>& out) {
        quro::Match* res = nullptr;
        quro::VectorField* fields = nullptr;
        int count = 0, fh = 0;
        std::vector<int> levels{0, 0};
        const int h = find_local_deformable_model(img.data, img.cols, img.rows, id, -15.f, 30.f,
                                                  0.95f, 1.05f, 0.95f, 1.05f, 0.7f, 0, 0.5f, 2,
                                                  levels.data(), 0.8f, res, count, fields, fh);
        if (h > 0) out.assign(res, res + count), clear_mems(h);
        if (fh > 0) clear_mems(fh);
    });
}

void BM_Aniso(benchmark::State& state) {
    const int id = scenes().model;
    run(state, [id](const cv::Mat& img, std::vector<quro::Match>& out) {
        quro::Match* res = nullptr;
        int count = 0;
        std::vector<int> levels{0, 0};
        const int h = find_aniso_shape_model(img.data, img.cols, img.rows, id, -15.f, 30.f, 0.95f,
                                             1.05f, 0.95f, 1.05f, 0.7f, 0, 0.5f, 2, levels.data(),
                                             0.8f, res, count);
        if (h > 0) out.assign(res, res + count), clear_mems(h);
    });
}

void BM_Rigid(benchmark::State& state) {
    const int id = scenes().model;
    run(state, [id](const cv::Mat& img, std::vector<quro::Match>& out) {
        quro::Match* res = nullptr;
        int count = 0;
        std::vector<int> levels{0, 0};
        const int h = find_shape_model(img.data, img.cols, img.rows, id, -15.f, 30.f, 0.7f, 0,
                                       0.5f, 2, levels.data(), 0.8f, res, count);
        if (h > 0) out.assign(res, res + count), clear_mems(h);
    });
}

BENCHMARK(BM_Deformable)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Aniso)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Rigid)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

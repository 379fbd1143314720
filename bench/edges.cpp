// Speed of the filter-based sub-pixel edge detector and of the sub-pixel gradient peak.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <opencv2/core.hpp>
#include <vector>

#include "quro/edges/gradient_peak.h"
#include "quro/edges/sobel_magnitude.h"
#include "quro/quro.h"
#include "testing/edge_scenes.h"

namespace {

// A 2048 x 2048 scene of 100 shapes (fewer than 65536 pixels above 30), and the same scene with
// Gaussian noise of sigma 6, which puts about 0.7 M pixels above 10 (0.5 M fit candidates).
const cv::Mat& scene() {
    static const cv::Mat img = quro::test::render_shapes(2048, 2048, 100, 3);
    return img;
}

const cv::Mat& noisy_scene() {
    static const cv::Mat img = quro::test::add_noise(scene(), 6.0, 1);
    return img;
}

// Arguments: number of threads; 0 for the clean scene, 1 for the noisy one.
void BM_EdgesSubPixGray(benchmark::State& state) {
    const cv::Mat& img = state.range(1) == 0 ? scene() : noisy_scene();
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(0)));
    std::size_t points = 0;
    for (auto _ : state) {
        std::vector<EdgePoint> out;
        const int rc =
            edges_sub_pix_gray(img.data, img.cols, img.rows, 0, 10.f, 30.f, 10, 1, &out, nullptr);
        if (rc != 0) state.SkipWithError("detector failed");
        points = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_EdgesSubPixGray)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FindSubPixContours(benchmark::State& state) {
    const cv::Mat& img = scene();
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<std::vector<EdgePoint>> out;
        const int rc = find_sub_pix_contours(img.data, img.cols, img.rows, 0, 1, 10.f, 30.f, 10, 0,
                                             &out, nullptr);
        if (rc != 0) state.SkipWithError("detector failed");
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_FindSubPixContours)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// Pixels of the scene where the peak is rejected at once (centre magnitude not above the
// threshold) or found.
struct PeakSites {
    std::vector<cv::Point> rejected, accepted;
};

const PeakSites& peak_sites() {
    static const PeakSites sites = [] {
        PeakSites s;
        const cv::Mat& img = scene();
        for (int y = 2; y + 2 < img.rows; y += 3)
            for (int x = 2; x + 2 < img.cols; ++x) {
                float out[4];
                if (quro::get_subpix_pos_mat(img, x, y, 10.f, out)) {
                    s.accepted.emplace_back(x, y);
                } else {
                    int sx, sy;
                    quro::sobel_sums(img.ptr<uchar>(y - 1), img.ptr<uchar>(y),
                                     img.ptr<uchar>(y + 1), x - 1, x, x + 1, sx, sy);
                    if (quro::sobel_magnitude(sx, sy) <= 10.f && s.rejected.size() < 100000)
                        s.rejected.emplace_back(x, y);
                }
            }
        return s;
    }();
    return sites;
}

// Argument 0: calls rejected by the threshold, 1: calls that find a peak. One call per iteration.
void BM_GetSubpixPosMat(benchmark::State& state) {
    const cv::Mat& img = scene();
    const std::vector<cv::Point>& pts =
        state.range(0) == 0 ? peak_sites().rejected : peak_sites().accepted;
    std::size_t i = 0;
    float out[4];
    for (auto _ : state) {
        const cv::Point& p = pts[i];
        benchmark::DoNotOptimize(quro::get_subpix_pos_mat(img, p.x, p.y, 10.f, out));
        benchmark::ClobberMemory();
        if (++i == pts.size()) i = 0;
    }
    state.counters["sites"] = static_cast<double>(pts.size());
}
BENCHMARK(BM_GetSubpixPosMat)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

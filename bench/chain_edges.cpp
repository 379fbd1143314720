// Speed of the chain edge detector (find_sub_pix_contours_c, sigma 1) beside OpenCV's Canny with
// the L2 gradient on the same images: the repository's sample scene (640 x 480) and a photo of
// the OpenCV documentation (building.jpg, resized to 1024 x 1024 and 2048 x 2048).
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <array>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "quro/quro.h"

namespace {

// 0: the sample scene; 1 and 2: the photo at 1024 and 2048 pixels square. Empty when missing.
const cv::Mat& image(int which) {
    static const std::array<cv::Mat, 3> images = [] {
        std::array<cv::Mat, 3> out;
        out[0] = cv::imread(QURO_SAMPLE_DIR "/part_scene.png", cv::IMREAD_GRAYSCALE);
        const char* env = std::getenv("QURO_COMPARE_PHOTOS");
        const std::string dir = env && *env ? env : "/usr/share/doc/opencv-doc/examples/data";
        const cv::Mat photo = cv::imread(dir + "/building.jpg", cv::IMREAD_GRAYSCALE);
        if (!photo.empty()) {
            cv::resize(photo, out[1], cv::Size(1024, 1024), 0, 0, cv::INTER_LINEAR);
            cv::resize(photo, out[2], cv::Size(2048, 2048), 0, 0, cv::INTER_LINEAR);
        }
        return out;
    }();
    return images[static_cast<std::size_t>(which)];
}

// Thresholds on |G| = Sobel / 4; Canny gets them times 4.
constexpr float kLow = 5.f, kHigh = 15.f;

// Arguments: image (0, 1, 2), threads.
void BM_ChainContours(benchmark::State& state) {
    const cv::Mat& img = image(static_cast<int>(state.range(0)));
    if (img.empty()) return state.SkipWithError("image missing (opencv-doc, QURO_COMPARE_PHOTOS)");
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<std::size_t>(state.range(1)));
    int chains = 0;
    for (auto _ : state) {
        quro::Contour* block = nullptr;
        const int h = find_sub_pix_contours_c(img.data, img.cols, img.rows, 1.f, kLow, kHigh,
                                              &block, &chains, nullptr);
        if (h < 0) return state.SkipWithError("detector failed");
        if (h > 0) clear_mems(h);
    }
    state.counters["chains"] = chains;
}

void BM_CannyL2(benchmark::State& state) {
    const cv::Mat& img = image(static_cast<int>(state.range(0)));
    if (img.empty()) return state.SkipWithError("image missing (opencv-doc, QURO_COMPARE_PHOTOS)");
    const int saved = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(1)));
    cv::Mat edges;
    for (auto _ : state) {
        cv::Canny(img, edges, 4 * kLow, 4 * kHigh, 3, true);
        benchmark::DoNotOptimize(edges.data);
    }
    cv::setNumThreads(saved);
    state.counters["pixels"] = cv::countNonZero(edges);
}

void image_args(benchmark::internal::Benchmark* b) {
    for (const int which : {0, 1, 2})
        for (const int threads : {1, 8}) b->Args({which, threads});
}

BENCHMARK(BM_ChainContours)->Apply(image_args)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CannyL2)->Apply(image_args)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();

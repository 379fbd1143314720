// Speed of the workbench's contrast proposal on a 2048 x 2048 synthetic scene (the largest image it
// analyses): the nine-level pyramid statistics without the contour check, which the chain
// detector's own benchmark covers. Target: 150 ms.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "core/ContrastEstimate.h"

namespace {

// Bright discs and boxes of several contrasts on a grey ground, with Gaussian noise of sigma 4.
const cv::Mat& scene() {
    static const cv::Mat img = [] {
        cv::Mat image(2048, 2048, CV_8UC1, cv::Scalar(60));
        cv::RNG rng(11);
        for (int i = 0; i < 60; ++i) {
            const cv::Point c(rng.uniform(64, 1984), rng.uniform(64, 1984));
            const int grey = rng.uniform(90, 230), size = rng.uniform(10, 120);
            if (i % 2)
                cv::circle(image, c, size, cv::Scalar(grey), cv::FILLED, cv::LINE_AA);
            else
                cv::rectangle(image, cv::Rect(c, cv::Size(size, size / 2 + 4)), cv::Scalar(grey),
                              cv::FILLED);
        }
        cv::Mat noise(image.size(), CV_16SC1);
        rng.fill(noise, cv::RNG::NORMAL, 0, 4);
        cv::add(image, noise, image, cv::noArray(), CV_8U);
        return image;
    }();
    return img;
}

void BM_EstimatePyramidContrast(benchmark::State& state) {
    const cv::Mat& img = scene();
    tessolin::ContrastEstimate e;
    for (auto _ : state) {
        e = tessolin::EstimatePyramidContrast(img, 0.375);
        benchmark::DoNotOptimize(e);
    }
    state.counters["low"] = e.low;
    state.counters["high"] = e.high;
    state.counters["min_contrast"] = e.min_contrast;
    state.counters["levels"] = e.levels;
}
BENCHMARK(BM_EstimatePyramidContrast)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

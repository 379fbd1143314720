// One repaint of the image view: a 4096x3072 BGR image at zoom 0.25 onto the 1026x925
// checkerboard, with 20,000 contour points. It must stay well inside the 20 ms redraw tick.
#include <benchmark/benchmark.h>

#include <cmath>

#include "core/ViewRender.h"

namespace {

void BM_RenderImageView(benchmark::State& state) {
    cv::Mat source(3072, 4096, CV_8UC3);
    cv::randu(source, 0, 256);
    const cv::Mat background(925, 1026, CV_8UC1, cv::Scalar(30));
    tessolin::MatchDrawing record;
    constexpr int kPoints = 20000;
    for (int i = 0; i < kPoints; ++i) {  // 40 rings of 500 points across the image
        const float a = 6.2831853f * float(i % 500) / 500.0f;
        const float r = 20.0f + 35.0f * float(i / 500);
        record.points.push_back(
            {2048.0f + r * std::cos(a), 1536.0f + r * std::sin(a), std::cos(a), std::sin(a)});
        record.point_flags.push_back(i % 7 == 0);
    }
    const std::vector<tessolin::MatchDrawing> records{record};
    const tessolin::ViewPose pose{0.25f, {1.0f, 78.0f}};
    cv::Mat view;
    for (auto _ : state) {
        tessolin::RenderView(background, source, pose, view);
        tessolin::DrawRecords(view, records, pose, 2);
        benchmark::DoNotOptimize(view.data);
    }
}
BENCHMARK(BM_RenderImageView)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();

// The edge-measuring exports: do_measure (one chosen edge per handle, handles measured in
// parallel) and measure_pos_d (every edge, or the whole derivative, of one rectangle).
#include <cmath>
#include <cstddef>
#include <limits>

#include "quro/export_guard.h"
#include "quro/measure/edge_profile.h"
#include "quro/measure/hand_out_block.h"
#include "quro/status.h"

namespace quro {

int measure_handles_parallel(const EdgeMeasure& m, const RRect* handles, int count, double* xy) {
    int failed = 0;
#pragma omp parallel if (count > 1) reduction(max : failed)
    {
        MeasureScratch scratch;  // per thread
#pragma omp for schedule(static)
        for (int i = 0; i < count; ++i) {
            try {
                select_measure_edge(handles[i], m, scratch, &xy[2 * static_cast<std::size_t>(i)],
                                    &xy[2 * static_cast<std::size_t>(i) + 1]);
            } catch (...) {
                failed = 1;
            }
        }
    }
    return failed ? kFailed : kOk;
}

namespace {

constexpr double kZeroThreshold = 2.220446049250313e-16;

int do_measure_impl(const unsigned char* image, int width, int height, double sigma,
                    double threshold, const char* select, const RRect* handles, int count,
                    double** out, int* found) {
    if (image == nullptr || width < 1 || height < 1 || !usable_sigma(sigma) || select == nullptr ||
        handles == nullptr || count < 0 || out == nullptr || found == nullptr)
        return kFailed;
    const EdgeMeasure m{{image, width, height},
                        sigma,
                        threshold,
                        gaussian_derivative_kernel(sigma),
                        parse_edge_select(select)};
    std::vector<double> xy(2 * static_cast<std::size_t>(count));
    if (measure_handles_parallel(m, handles, count, xy.data()) != kOk) return kFailed;
    std::vector<double> xs, ys;
    for (int i = 0; i < count; ++i) {
        if (xy[2 * static_cast<std::size_t>(i)] == -1.0) continue;
        xs.push_back(xy[2 * static_cast<std::size_t>(i)]);
        ys.push_back(xy[2 * static_cast<std::size_t>(i) + 1]);
    }
    const std::size_t n = xs.size();
    if (n == 0 || n > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) return kFailed;
    xs.insert(xs.end(), ys.begin(), ys.end());
    const int handle = hand_out_block(xs, kResultMeasure, static_cast<int>(2 * n), out);
    if (handle > 0) *found = static_cast<int>(n);
    return handle;
}

int measure_pos_d_impl(double x, double y, double angle, double half_length, double half_width,
                       const unsigned char* image, int width, int height, double sigma,
                       double threshold, double** out, int* count) {
    if (image == nullptr || width < 1 || height < 1 || !usable_sigma(sigma) || out == nullptr ||
        count == nullptr)
        return kFailed;
    const MeasureImage img{image, width, height};
    PlacedHandle h;
    if (!place_handle(x, y, angle, half_length, half_width, img, &h)) return kFailed;
    MeasureScratch s;
    sample_profile(img, h, s.profile);
    derivative_profile(s.profile, gaussian_derivative_kernel(sigma), sigma, s.d);
    std::vector<double> triples;
    if (std::fabs(threshold) < kZeroThreshold) {
        for (std::size_t i = 0; i < s.d.size(); ++i) {
            const double t = static_cast<double>(i) - h.half_length;
            triples.insert(triples.end(), {h.cx + t * h.dir.ax, h.cy + t * h.dir.ay, s.d[i]});
        }
    } else {
        profile_edges(h, s.d, threshold, s.edges);
        for (const MeasuredEdge& e : s.edges)
            triples.insert(triples.end(), {e.x, e.y, e.amplitude});
    }
    if (triples.empty()) return kFailed;
    const int n = static_cast<int>(triples.size());
    const int handle = hand_out_block(triples, kResultMeasure, n, out);
    if (handle > 0) *count = n;
    return handle;
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int do_measure(const unsigned char* image, int width, int height, double sigma,
                                   double threshold, const char* select, const quro::RRect* handles,
                                   int count, double** out, int* found) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::do_measure_impl(image, width, height, sigma, threshold, select, handles, count,
                                     out, found);
    });
}

extern "C" QURO_API int measure_pos_d(double x, double y, double angle, double half_length,
                                      double half_width, const unsigned char* image, int width,
                                      int height, double sigma, double threshold, double** out,
                                      int* count) {
    return quro::guarded(quro::kFailed, [&] {
        return quro::measure_pos_d_impl(x, y, angle, half_length, half_width, image, width, height,
                                        sigma, threshold, out, count);
    });
}

// The edge-measuring exports: do_measure (one chosen edge per handle, handles measured in
// parallel above a work threshold) and measure_pos_d (every edge, or the whole derivative, of one
// rectangle).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "quro/export_guard.h"
#include "quro/measure/edge_profile.h"
#include "quro/measure/hand_out_block.h"
#include "quro/parallel.h"
#include "quro/status.h"

namespace quro {

namespace {

// Below this many sample reads and kernel taps in all, the handles are measured on the calling
// thread: sharing them out would cost more than it saves. A sub-range holds at least about half
// of kWorkPerRange.
constexpr double kSerialWork = 32768.0;
constexpr double kWorkPerRange = 8192.0;

// Sample reads and taps of one handle's measurement (0 for one that is not placed).
double handle_work(const RRect& h, std::size_t taps) {
    const double hl = h.half_length, hw = h.half_width;
    if (!(hl >= 0.0 && hl < 1e9 && hw >= 0.0 && hw < 1e9)) return 0.0;
    return (2.0 * std::floor(hl) + 1.0) * (2.0 * std::floor(hw) + 1.0 + static_cast<double>(taps));
}

}  // namespace

int measure_handles_parallel(const EdgeMeasure& m, const RRect* handles, int count, double* xy) {
    if (count <= 0) return kOk;
    const std::size_t n = static_cast<std::size_t>(count);
    double work = 0.0;
    for (std::size_t i = 0; i < n; ++i) work += handle_work(handles[i], m.taps.size());
    const double per_handle = work / static_cast<double>(n);
    const RangeCut cut =
        work < kSerialWork
            ? RangeCut{.serial_below = n + 1, .grain = n}
            : RangeCut{
                  .serial_below = 2,
                  .grain = static_cast<std::size_t>(std::clamp(
                      kWorkPerRange / std::max(per_handle, 1.0), 1.0, static_cast<double>(n)))};
    try {
        parallel_for_ranges(n, cut, [&](std::size_t begin, std::size_t end) {
            MeasureScratch scratch;
            for (std::size_t i = begin; i != end; ++i)
                select_measure_edge(handles[i], m, scratch, &xy[2 * i], &xy[2 * i + 1]);
        });
    } catch (...) {
        return kFailed;
    }
    return kOk;
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

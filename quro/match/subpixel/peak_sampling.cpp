#include "quro/match/subpixel/peak_sampling.h"

#include <cfloat>
#include <opencv2/core.hpp>

#include "quro/match/subpixel/peak_surface.h"

namespace quro {

void PeakWindows::reset(int n, int s, float angle, float step) {
    CV_Assert(n >= 1 && n <= kMaxAngles && s >= 3);
    count = n;
    size = s;
    for (int k = 0; k < n; ++k) {
        angles[static_cast<std::size_t>(k)] = angle + static_cast<float>(k - n / 2) * step;
        cells[static_cast<std::size_t>(k)].assign(static_cast<std::size_t>(s) * s, 0.f);
    }
    sampled.fill(false);
    // The smallest positive double: only a positive cell can become the best.
    best_value = DBL_MIN;
    best = -1;
    i = j = 0;
}

void PeakWindows::take(int k) {
    sampled[static_cast<std::size_t>(k)] = true;
    const float* c = window(k);
    const int n = size * size;
    int at = -1;
    double value = best_value;
    for (int q = 0; q < n; ++q) {
        if (c[q] > value) {
            value = c[q];
            at = q;
        }
    }
    if (at < 0) return;
    best_value = value;
    best = k;
    i = at % size;
    j = at / size;
}

void sample_five_angles(PeakWindows& w, const PeakWindowFill& fill) {
    CV_Assert(w.count == 5);
    std::array<bool, 5> marked{};
    marked[2] = marked[3] = true;
    int lo = 2, hi = 3;
    for (;;) {
        for (int k = 0; k < 5; ++k)
            if (marked[static_cast<std::size_t>(k)]) fill(k, w.window(k));
        int sampled = 0;
        for (int k = 0; k < 5; ++k) {
            if (marked[static_cast<std::size_t>(k)]) {
                w.take(k);
                marked[static_cast<std::size_t>(k)] = false;
            }
            if (w.sampled[static_cast<std::size_t>(k)]) ++sampled;
        }
        if (sampled != 2 && sampled != 3) return;
        if (w.best == lo && lo > 0) {
            marked[static_cast<std::size_t>(--lo)] = true;
        } else if (w.best == hi && hi < 4) {
            marked[static_cast<std::size_t>(++hi)] = true;
        } else {
            return;
        }
    }
}

void apply_peak_fit(const PeakWindows& w, int centre, float angle_step, Match& cand) {
    if (w.best < 0) return;
    const float best_angle = w.angles[static_cast<std::size_t>(w.best)];
    cand.x += w.i - centre;
    cand.y += w.j - centre;
    cand.angle = best_angle;
    const int last = w.size - 2;
    if (w.i < 1 || w.i > last || w.j < 1 || w.j > last) return;
    const int b = w.best;
    if (b >= 1 && b + 1 < w.count && w.sampled[static_cast<std::size_t>(b - 1)] &&
        w.sampled[static_cast<std::size_t>(b + 1)]) {
        const float* windows[3] = {w.window(b - 1), w.window(b), w.window(b + 1)};
        const float t[3] = {w.angles[static_cast<std::size_t>(b - 1)] - best_angle, 0.f,
                            w.angles[static_cast<std::size_t>(b + 1)] - best_angle};
        PeakOffset o{};
        if (fit_peak_3d(windows, t, w.size, w.i, w.j, angle_step, o)) {
            cand.dx = o.dx;
            cand.dy = o.dy;
            cand.angle = best_angle + o.dangle;
            return;
        }
    }
    fit_peak_2d(w.window(b), w.size, w.i, w.j, cand.dx, cand.dy);
}

}  // namespace quro

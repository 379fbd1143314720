#include "quro/match/subpixel/posed_score.h"

#include <cmath>
#include <cstddef>

namespace quro {

PosedScore::PosedScore(const RefineLevel& lvl, int flag, int point_step)
    : lvl_(lvl),
      maps_(normal_maps_ref(*lvl.nx, *lvl.ny)),
      positive_(flag == 1),
      point_step_(point_step) {}

bool PosedScore::pose(float scale_row, float scale_col, float angle) {
    normal_template_sampled(*lvl_.rec, t_, lvl_.level + 1, scale_row, scale_col, &xf_, &yf_,
                            point_step_, angle);
    return t_.size() != 0;
}

float PosedScore::at(double x, double y) const {
    const double ox = static_cast<double>(lvl_.border) + x;
    const double oy = static_cast<double>(lvl_.border) + y;
    double sum = 0.0;
    for (std::size_t k = 0; k < t_.size(); ++k) {
        const double px = ox + xf_[k], py = oy + yf_[k];
        const double fx = std::floor(px), fy = std::floor(py);
        if (!(fx >= 0.0 && fy >= 0.0 && fx + 1.0 < maps_.cols && fy + 1.0 < maps_.rows)) continue;
        const double ax = px - fx, ay = py - fy;
        const auto i0 = static_cast<std::size_t>(fy) * static_cast<std::size_t>(maps_.cols) +
                        static_cast<std::size_t>(fx);
        const std::size_t i1 = i0 + static_cast<std::size_t>(maps_.cols);
        const auto sample = [&](const float* m) {
            return (1.0 - ay) * ((1.0 - ax) * m[i0] + ax * m[i0 + 1]) +
                   ay * ((1.0 - ax) * m[i1] + ax * m[i1 + 1]);
        };
        const double d = t_.nxs[k] * sample(maps_.nx) + t_.nys[k] * sample(maps_.ny);
        sum += lvl_.metric == 0 ? std::fabs(d) : d;
    }
    const auto v = static_cast<float>(sum / static_cast<double>(t_.size()));
    return positive_ ? v : -v;
}

bool profile_centre(const std::function<bool(int, float&)>& sample, int max_samples,
                    float crossing, float& t) {
    std::vector<float> f(static_cast<std::size_t>(2 * max_samples + 1));
    std::vector<unsigned char> have(f.size(), 0);
    const auto at = [&](int i, float& v) {
        if (i < -max_samples || i > max_samples) return false;
        const auto q = static_cast<std::size_t>(i + max_samples);
        if (!have[q]) {
            if (!sample(i, f[q])) return false;
            have[q] = 1;
        }
        v = f[q];
        return true;
    };
    int peak = 0;
    float top = 0.f, v = 0.f;
    if (!at(0, top)) return false;
    for (const int dir : {-1, 1})
        for (int i = peak + dir; at(i, v) && v > top; i += dir) peak = i, top = v;
    if (!(top > 0.f)) return false;
    const float level = crossing * top;
    int lo = peak, hi = peak;
    float f_lo = top, f_hi = top;
    while (at(lo - 1, v) && v >= level) --lo, f_lo = v;
    if (!at(lo - 1, v)) return false;
    const float left = static_cast<float>(lo) - (f_lo - level) / (f_lo - v);
    while (at(hi + 1, v) && v >= level) ++hi, f_hi = v;
    if (!at(hi + 1, v)) return false;
    const float right = static_cast<float>(hi) + (f_hi - level) / (f_hi - v);
    t = 0.5f * (left + right);
    return std::isfinite(t);
}

}  // namespace quro

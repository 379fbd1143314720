#include "quro/match/subpixel/peak_fit_scale.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "quro/match/refine/walk_helpers.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/templates.h"

namespace quro {
namespace {

// Samples lie an eighth of the level's scale step apart (a quarter of a pixel at the outermost
// point), at most kMaxSamples of them on either side of the start: two steps.
constexpr float kSampleFraction = 0.125f;
constexpr int kMaxSamples = 16;
// The centre is that of the profile's crossings of this fraction of its peak. The profile is flat
// within a pixel of the edges (unit normals across the edge band) and falls steeply beyond: a
// parabola through samples around the peak stays near the middle sample, the crossings of a level
// just below the flat top do not.
constexpr float kCrossingLevel = 0.95f;

// The score of the model for given scales: the level's points as the search samples them, posed
// without rounding at the match's angle, pixel and sub-pixel offset, on the normal maps read
// bilinearly; the mean dot product (its magnitude for metric 0), negated for reversed contrast.
// Points whose four pixels are not all inside the maps add 0.
class ScaleProfile {
public:
    ScaleProfile(const RefineLevel& lvl, const Match& cand)
        : lvl_(lvl),
          cand_(cand),
          maps_(normal_maps_ref(*lvl.nx, *lvl.ny)),
          ox_(static_cast<double>(lvl.border) + cand.x + cand.dx),
          oy_(static_cast<double>(lvl.border) + cand.y + cand.dy) {}

    // False for a template without points.
    bool score(float scale_row, float scale_col, float& out) {
        normal_template_sampled(*lvl_.rec, t_, lvl_.level + 1, scale_row, scale_col, &xf_, &yf_,
                                0, cand_.angle);
        if (t_.size() == 0) return false;
        double sum = 0.0;
        for (std::size_t k = 0; k < t_.size(); ++k) {
            const double x = ox_ + xf_[k], y = oy_ + yf_[k];
            const double fx = std::floor(x), fy = std::floor(y);
            if (!(fx >= 0.0 && fy >= 0.0 && fx + 1.0 < maps_.cols && fy + 1.0 < maps_.rows))
                continue;
            const double ax = x - fx, ay = y - fy;
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
        out = cand_.flag == 1 ? v : -v;
        return true;
    }

    // The centre of the profile along (r, c) + i (dr, dc): from i = 0 uphill to the peak
    // (lower i first), then outwards on both sides to the first sample below kCrossingLevel times
    // the peak, each crossing placed linearly between the two samples around it. In units of the
    // sample spacing; false when a side does not fall that far within kMaxSamples or a template
    // has no points.
    bool centre(float r, float c, float dr, float dc, float& t) {
        float f[2 * kMax + 1];
        bool have[2 * kMax + 1] = {};
        const auto at = [&](int i, float& v) {
            if (i < -kMax || i > kMax) return false;
            const auto q = static_cast<std::size_t>(i + kMax);
            if (!have[q]) {
                if (!score(r + static_cast<float>(i) * dr, c + static_cast<float>(i) * dc, f[q]))
                    return false;
                have[q] = true;
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
        const float level = kCrossingLevel * top;
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

private:
    static constexpr int kMax = kMaxSamples;
    const RefineLevel& lvl_;
    const Match& cand_;
    NormalMapsRef maps_;
    double ox_;
    double oy_;
    NormalTemplate t_;
    std::vector<float> xf_;
    std::vector<float> yf_;
};

float clamped(float v, float lo, float hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

}  // namespace

void fit_peak_scale(const RefineLevel& lvl, float scale_step, Match& cand) {
    const float q = kSampleFraction * scale_step, s = cand.scale_row;
    if (lvl.uses_cells() || !usable_step(q) || !std::isfinite(s)) return;
    ScaleProfile profile(lvl, cand);
    float t = 0.f;
    if (!profile.centre(s, s, q, q, t)) return;
    cand.scale_row = clamped(s + t * q, lvl.rec->scale_min, lvl.rec->scale_max);
    cand.scale_col = cand.scale_row;
}

void fit_peak_scales_aniso(const RefineLevel& lvl, float row_step, float column_step,
                           Match& cand) {
    const float qr = kSampleFraction * row_step, qc = kSampleFraction * column_step;
    const float r = cand.scale_row, c = cand.scale_col;
    if (lvl.uses_cells() || !std::isfinite(r) || !std::isfinite(c)) return;
    const ShapeModelRecord& rec = *lvl.rec;
    ScaleProfile profile(lvl, cand);
    float t = 0.f;
    if (usable_step(qr) && profile.centre(r, c, qr, 0.f, t))
        cand.scale_row = clamped(r + t * qr, rec.scale_row_min, rec.scale_row_max);
    if (usable_step(qc) && profile.centre(r, c, 0.f, qc, t))
        cand.scale_col = clamped(c + t * qc, rec.scale_col_min, rec.scale_col_max);
}

}  // namespace quro

#include "quro/match/subpixel/peak_fit_multi.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "quro/match/subpixel/peak_sampling.h"
#include "quro/match/subpixel/segment_walk.h"
#include "quro/model_transforms.h"

namespace quro {
namespace {

// Offsets -2..+2 of the reference point: a 5 x 5 window.
constexpr int kMultiReach = 2;
constexpr int kMultiSize = 2 * kMultiReach + 1;
// A normal found along the point's direction must agree at least this well (about 30 degrees).
constexpr float kProbeAgreement = 0.866f;

}  // namespace

float multi_greedy_bound(int m, int n, float sm, float g) {
    const float mf = static_cast<float>(m);
    const float nf = static_cast<float>(n);
    const float plain = mf * sm / nf;
    // The second bound divides by 1 - g: at g = 1 and above only its limit, the first, is left.
    if (g >= 1.f) return plain;
    const float greedy = sm - 1.f + mf * (1.f - g * sm) / ((1.f - g) * nf);
    return std::min(plain, greedy);
}

void direction_probes(const std::vector<FeatureI>& pts, int reach, std::vector<cv::Point>& out) {
    out.clear();
    if (reach < 1) return;
    const auto per_point = static_cast<std::size_t>(reach) * 2;
    out.assign(pts.size() * per_point, cv::Point(0, 0));
    std::vector<cv::Point> forward, backward;
    for (std::size_t k = 0; k < pts.size(); ++k) {
        const FeatureI& p = pts[k];
        rasterize_segment(reach + 1, forward, 0.f, 0.f, p.gx, p.gy);
        rasterize_segment(reach + 1, backward, 0.f, 0.f, -p.gx, -p.gy);
        cv::Point* dst = out.data() + k * per_point;
        for (int s = 1; s <= reach; ++s) {
            // A short walk (never for a finite direction) leaves the start pixel, which has no
            // normal and so is never taken.
            const auto i = static_cast<std::size_t>(s);
            if (i < forward.size()) dst[2 * s - 2] = forward[i];
            if (i < backward.size()) dst[2 * s - 1] = backward[i];
        }
    }
}

namespace {

// One cell of the window: the reference point at (x, y). Checked: every pixel is tested against
// the maps; unchecked when the caller knows that every pixel and probe lies inside.
template <bool Checked>
float cell_score(const NormalMapsRef& maps, const std::vector<FeatureI>& pts,
                 const cv::Point* probes, std::size_t per_point, long long x, long long y,
                 const MultiWindowParams& p, const float* bounds) {
    const long long rows = maps.rows, cols = maps.cols;
    const auto inside = [&](long long r, long long c) {
        return !Checked || (r >= 0 && r < rows && c >= 0 && c < cols);
    };
    const auto agreement = [&](std::ptrdiff_t q, const FeatureI& f) {
        return (maps.nx[q] * f.gx + maps.ny[q] * f.gy) * p.polarity;
    };
    const float nf = static_cast<float>(pts.size());
    float u = 0.f;
    for (std::size_t k = 0; k < pts.size(); ++k) {
        const FeatureI& f = pts[k];
        const long long r = y + f.y, c = x + f.x;
        float v = 0.f;
        if (inside(r, c)) {
            const auto q = static_cast<std::ptrdiff_t>(r * cols + c);
            if (per_point != 0 && maps.nx[q] == 0.f && maps.ny[q] == 0.f) {
                const cv::Point* probe = probes + k * per_point;
                for (std::size_t s = 0; s < per_point; ++s) {
                    const long long pr = r + probe[s].y, pc = c + probe[s].x;
                    if (!inside(pr, pc)) continue;
                    const auto pq = static_cast<std::ptrdiff_t>(pr * cols + pc);
                    if (maps.nx[pq] == 0.f && maps.ny[pq] == 0.f) continue;
                    const float a = agreement(pq, f);
                    if (a > kProbeAgreement) {
                        v = a;
                        break;
                    }
                }
            } else {
                v = agreement(q, f);
            }
            if (p.absolute) v = std::fabs(v);
        }
        u += v / nf;
        if (u < bounds[k]) break;
    }
    return u;
}

}  // namespace

void fill_multi_window(const NormalMapsRef& maps, const std::vector<FeatureI>& pts,
                       const std::vector<cv::Point>& probes, int x, int y,
                       const MultiWindowParams& p, float* out) {
    const int n = static_cast<int>(pts.size());
    std::fill(out, out + kMultiSize * kMultiSize, 0.f);
    if (n == 0) return;
    const std::size_t per_point = p.reach >= 2 ? static_cast<std::size_t>(p.reach) * 2 : 0;
    CV_Assert(probes.size() >= pts.size() * per_point);
    std::vector<float> bounds(static_cast<std::size_t>(n));
    for (int m = 1; m <= n; ++m)
        bounds[static_cast<std::size_t>(m - 1)] =
            multi_greedy_bound(m, n, p.min_score, p.greediness);
    // Every pixel the window reads lies within the points' box widened by the window reach and,
    // when searching, by the probes' reach (a probe moves at most reach + 1 pixels per axis).
    int min_x = pts[0].x, max_x = min_x, min_y = pts[0].y, max_y = min_y;
    for (const FeatureI& f : pts) {
        min_x = std::min(min_x, f.x);
        max_x = std::max(max_x, f.x);
        min_y = std::min(min_y, f.y);
        max_y = std::max(max_y, f.y);
    }
    const long long reach = kMultiReach + (per_point ? static_cast<long long>(p.reach) + 1 : 0);
    const bool all_inside = static_cast<long long>(x) + min_x - reach >= 0 &&
                            static_cast<long long>(x) + max_x + reach < maps.cols &&
                            static_cast<long long>(y) + min_y - reach >= 0 &&
                            static_cast<long long>(y) + max_y + reach < maps.rows;
    for (int ey = -kMultiReach; ey <= kMultiReach; ++ey) {
        for (int ex = -kMultiReach; ex <= kMultiReach; ++ex) {
            const long long cx = static_cast<long long>(x) + ex,
                            cy = static_cast<long long>(y) + ey;
            out[(ey + kMultiReach) * kMultiSize + (ex + kMultiReach)] =
                all_inside ? cell_score<false>(maps, pts, probes.data(), per_point, cx, cy, p,
                                               bounds.data())
                           : cell_score<true>(maps, pts, probes.data(), per_point, cx, cy, p,
                                              bounds.data());
        }
    }
}

void fit_peak_multi_window(const RefineLevel& lvl, float greediness, Match& cand) {
    const NormalMapsRef maps = normal_maps_ref(*lvl.nx, *lvl.ny);
    const ShapeModelRecord& rec = *lvl.rec;
    const int level = lvl.level;
    const float angle_step = lvl.angle_step;
    MultiWindowParams p;
    p.polarity = cand.flag == 1 ? 1.f : -1.f;
    p.absolute = lvl.metric == 0;
    // A walk cannot stay inside the maps for more steps than their larger side.
    p.reach = std::min(lvl.cell_value, std::max(maps.rows, maps.cols) + 1);
    p.min_score = lvl.min_score;
    p.greediness = greediness;
    PeakWindows w;
    w.reset(3, kMultiSize, cand.angle, angle_step);
    ModelPointSet<FeatureI> pts;
    std::vector<cv::Point> probes;
    for (int k = 0; k < 3; ++k) {
        transform_model_points_aniso(rec, w.angles[static_cast<std::size_t>(k)], level + 1,
                                     cand.scale_row, cand.scale_col, 0, pts);
        if (pts.points.empty()) return;
        if (p.reach >= 2) direction_probes(pts.points, p.reach, probes);
        fill_multi_window(maps, pts.points, probes, cand.x, cand.y, p, w.window(k));
    }
    for (int k = 0; k < 3; ++k) w.take(k);
    apply_peak_fit(w, kMultiReach, angle_step, cand);
}

}  // namespace quro

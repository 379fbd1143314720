#include "quro/match/peak_fit_multi.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "quro/match/peak_fit.h"
#include "quro/match/peak_sampling.h"
#include "quro/match/segment_walk.h"
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

void fill_multi_window(const NormalMapsRef& maps, const std::vector<FeatureI>& pts,
                       const std::vector<cv::Point>& probes, int x, int y,
                       const MultiWindowParams& p, float* out) {
    const int n = static_cast<int>(pts.size());
    std::fill(out, out + kMultiSize * kMultiSize, 0.f);
    if (n == 0) return;
    const long long rows = maps.rows, cols = maps.cols;
    const bool search = p.reach >= 2;
    const auto per_point = static_cast<std::size_t>(search ? 2 * p.reach : 0);
    CV_Assert(!search || probes.size() == pts.size() * per_point);
    const float nf = static_cast<float>(n);
    const auto agreement = [&](long long r, long long c, const FeatureI& f) {
        const std::ptrdiff_t q = static_cast<std::ptrdiff_t>(r * cols + c);
        return (maps.nx[q] * f.gx + maps.ny[q] * f.gy) * p.polarity;
    };
    for (int ey = -kMultiReach; ey <= kMultiReach; ++ey) {
        for (int ex = -kMultiReach; ex <= kMultiReach; ++ex) {
            float u = 0.f;
            for (int k = 0; k < n; ++k) {
                const FeatureI& f = pts[static_cast<std::size_t>(k)];
                const long long r = static_cast<long long>(y) + f.y + ey;
                const long long c = static_cast<long long>(x) + f.x + ex;
                float v = 0.f;
                if (r >= 0 && r < rows && c >= 0 && c < cols) {
                    const std::ptrdiff_t q = static_cast<std::ptrdiff_t>(r * cols + c);
                    if (search && maps.nx[q] == 0.f && maps.ny[q] == 0.f) {
                        const cv::Point* probe = probes.data() + static_cast<std::size_t>(k) * per_point;
                        for (std::size_t s = 0; s < per_point; ++s) {
                            const long long pr = r + probe[s].y, pc = c + probe[s].x;
                            if (pr < 0 || pr >= rows || pc < 0 || pc >= cols) continue;
                            const std::ptrdiff_t pq = static_cast<std::ptrdiff_t>(pr * cols + pc);
                            if (maps.nx[pq] == 0.f && maps.ny[pq] == 0.f) continue;
                            const float a = agreement(pr, pc, f);
                            if (a > kProbeAgreement) {
                                v = a;
                                break;
                            }
                        }
                    } else {
                        v = agreement(r, c, f);
                    }
                    if (p.absolute) v = std::fabs(v);
                }
                u += v / nf;
                if (u < multi_greedy_bound(k + 1, n, p.min_score, p.greediness)) break;
            }
            out[(ey + kMultiReach) * kMultiSize + (ex + kMultiReach)] = u;
        }
    }
}

void fit_peak_subpixel_multi(const cv::Mat& nx, const cv::Mat& ny, Match& cand,
                             const ShapeModelRecord& rec, int level, int cell_value,
                             float angle_step, float min_score, float greediness, int metric) {
    const NormalMapsRef maps = normal_maps_ref(nx, ny);
    MultiWindowParams p;
    p.polarity = cand.flag == 1 ? 1.f : -1.f;
    p.absolute = metric == 0;
    // A walk cannot stay inside the maps for more steps than their larger side.
    p.reach = std::min(cell_value, std::max(maps.rows, maps.cols) + 1);
    p.min_score = min_score;
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

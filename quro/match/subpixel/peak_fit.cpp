#include "quro/match/subpixel/peak_fit.h"

#include <algorithm>
#include <cstddef>

#include "quro/match/refine/window_score.h"
#include "quro/match/subpixel/peak_fit_multi.h"
#include "quro/match/subpixel/peak_sampling.h"
#include "quro/match/subpixel/posed_score.h"
#include "quro/match/templates.h"

namespace quro {
namespace {

// The 8 x 8 window: offsets -4..+3 around the candidate.
constexpr int kPlainReach = 4;
constexpr int kPlainSize = 8;

// A map coordinate of the candidate, kept within +-2^30 so that nothing downstream overflows.
int map_coordinate(int border, int v) {
    constexpr long long kLimit = 1LL << 30;
    return static_cast<int>(std::clamp(static_cast<long long>(border) + v, -kLimit, kLimit));
}

// Above full resolution the whole-pixel windows, scored with rounded points, left a model a few
// dozen pixels across up to a fifth of a pixel off, the same way on every instance. The position
// moves on to the centre of the model's score (posed_score.h, the level's point step) along x,
// then along y: samples an eighth of a pixel apart, at most two pixels out, crossings at 0.7 of
// the peak. The top of a profile is flat within the edge bands and in steps of whole pixels of the
// maps; its flanks, where the points leave their bands, place the centre.
constexpr double kFineSpacing = 0.125;
constexpr int kFineSamples = 16;
constexpr float kFineCrossing = 0.7f;

void fit_between_pixels(const RefineLevel& lvl, Match& cand) {
    PosedScore posed(lvl, cand.flag, lvl.point_step);
    if (!posed.pose(cand.scale_row, cand.scale_col, cand.angle)) return;
    for (const int axis : {0, 1}) {
        const double x = static_cast<double>(cand.x) + cand.dx;
        const double y = static_cast<double>(cand.y) + cand.dy;
        float t = 0.f;
        const bool found = profile_centre(
            [&](int i, float& v) {
                const double d = kFineSpacing * i;
                v = axis == 0 ? posed.at(x + d, y) : posed.at(x, y + d);
                return true;
            },
            kFineSamples, kFineCrossing, t);
        if (!found) continue;
        (axis == 0 ? cand.dx : cand.dy) += static_cast<float>(kFineSpacing * t);
    }
}

void negate(float* cells, int count) {
    for (int q = 0; q < count; ++q) cells[q] = -cells[q];
}

void fit_plain(const RefineLevel& lvl, Match& cand) {
    const cv::Mat& nx = *lvl.nx;
    const cv::Mat& ny = *lvl.ny;
    const ShapeModelRecord& rec = *lvl.rec;
    const int border = lvl.border, level = lvl.level, metric = lvl.metric;
    const float angle_step = lvl.angle_step;
    const NormalMapsRef maps = normal_maps_ref(nx, ny);
    const bool positive = cand.flag == 1;
    const bool absolute = metric == 0;
    const int px = map_coordinate(border, cand.x);
    const int py = map_coordinate(border, cand.y);
    NormalTemplate t;
    WindowTemplate prepared;
    PeakWindows w;
    w.reset(5, kPlainSize, cand.angle, angle_step);
    sample_five_angles(w, [&](int k, float* out) {
        normal_template_aniso(rec, t, level + 1, cand.scale_row, cand.scale_col,
                              w.angles[static_cast<std::size_t>(k)]);
        if (t.size() == 0) return;  // the window stays 0: no best cell
        prepare_window_template(t, maps.cols, nullptr, prepared);
        score_window_at(maps, prepared, 0, t.size(),
                        window_corner_unclamped(prepared, px, py, kPlainReach), kPlainSize,
                        absolute, out);
        if (!positive) negate(out, kPlainSize * kPlainSize);
    });
    apply_peak_fit(w, kPlainReach, angle_step, cand);
    if (level > 0) fit_between_pixels(lvl, cand);
}

void fit_cells(const RefineLevel& lvl, Match& cand) {
    const cv::Mat& nx = *lvl.nx;
    const cv::Mat& ny = *lvl.ny;
    const ShapeModelRecord& rec = *lvl.rec;
    const int border = lvl.border, level = lvl.level, metric = lvl.metric;
    const int cell_value = lvl.cell_value;
    const float angle_step = lvl.angle_step;
    CV_Assert(lvl.cell_index != nullptr && lvl.cell_order != nullptr);
    const std::vector<int>& cell_index = *lvl.cell_index;
    const std::vector<int>& cell_order = *lvl.cell_order;
    const NormalMapsRef maps = normal_maps_ref(nx, ny);
    std::vector<std::size_t> group_ends;
    cell_group_ends(cell_index, cell_order, group_ends);
    const std::size_t points = cell_index.size() - 1;
    const bool positive = cand.flag == 1;
    const bool absolute = metric == 0;
    const int c = std::max(4, cell_value);
    const int size = 2 * c + 1;
    const int px = map_coordinate(border, cand.x);
    const int py = map_coordinate(border, cand.y);
    NormalTemplate t;
    WindowTemplate prepared;
    std::vector<float> group(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    PeakWindows w;
    w.reset(5, size, cand.angle, angle_step);
    sample_five_angles(w, [&](int k, float* out) {
        normal_template_aniso(rec, t, level + 1, cand.scale_row, cand.scale_col,
                              w.angles[static_cast<std::size_t>(k)]);
        if (t.size() == 0) return;
        CV_Assert(t.size() == points);
        prepare_window_template(t, maps.cols, cell_order.data(), prepared);
        const WindowCorner corner = window_corner_unclamped(prepared, px, py, c);
        std::fill(out, out + static_cast<std::ptrdiff_t>(size) * size, 0.f);
        std::size_t begin = 0;
        for (const std::size_t end : group_ends) {
            score_window_at(maps, prepared, begin, end, corner, size, absolute, group.data());
            begin = end;
            // Each cell's own best position (the minimum for reversed contrast) goes to the centre.
            const WindowPeak peak = window_peak(group.data(), size, positive);
            const int u0 = std::max(0, peak.i - c), u1 = std::min(size - 1, peak.i + c);
            const int v0 = std::max(0, peak.j - c), v1 = std::min(size - 1, peak.j + c);
            for (int v = v0; v <= v1; ++v) {
                const std::ptrdiff_t src = static_cast<std::ptrdiff_t>(v) * size;
                const std::ptrdiff_t dst =
                    static_cast<std::ptrdiff_t>(c + v - peak.j) * size + (c - peak.i);
                for (int u = u0; u <= u1; ++u)
                    out[dst + u] += group[static_cast<std::size_t>(src + u)];
            }
        }
        if (!positive) negate(out, size * size);
    });
    apply_peak_fit(w, c, angle_step, cand);
}

}  // namespace

void fit_peak_subpixel(const RefineLevel& lvl, Match& cand) {
    if (lvl.uses_cells())
        fit_cells(lvl, cand);
    else
        fit_plain(lvl, cand);
}

void fit_peak_subpixel_multi(const RefineLevel& lvl, float greediness, Match& cand) {
    if (lvl.uses_cells())
        fit_peak_multi_window(lvl, greediness, cand);
    else
        fit_peak_subpixel(lvl, cand);
}

}  // namespace quro

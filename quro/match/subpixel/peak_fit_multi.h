// The multi-model peak fit (chosen by fit_peak_subpixel_multi in peak_fit.h) and its building
// blocks: the score window of one posed point set with its greedy stop and its search along the
// point directions.
#ifndef QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H
#define QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H

#include <opencv2/core/types.hpp>
#include <vector>

#include "quro/match/refine/refine_candidate.h"
#include "quro/match/refine/window_score.h"
#include "quro/quro.h"

namespace quro {

// The greedy bound after m of n points with min score sm and greediness g: a cell stops once its
// partial mean falls below min(m sm / n, sm - 1 + m (1 - g sm) / ((1 - g) n)) for g < 1, and
// below the limit of that for g -> 1, m sm / n, for g >= 1. Single precision.
float multi_greedy_bound(int m, int n, float sm, float g);

// The pixels searched for a point that lies on a pixel without a normal: per point, the offsets
// of steps 1..reach forward along (gx, gy) and backward along (-gx, -gy), interleaved (forward 1,
// backward 1, forward 2, ...), from rasterize_segment started at the pixel centre with reach + 1
// cells. 2 * reach entries per point (none for reach < 1); `out` is replaced.
void direction_probes(const std::vector<FeatureI>& pts, int reach, std::vector<cv::Point>& out);

// How one window of the multi fit is scored.
struct MultiWindowParams {
    float polarity = 1.f;   // +1, or -1 for a reversed-contrast match
    bool absolute = false;  // metric 0: absolute agreements
    int reach = 0;          // steps searched along the direction (cell value; below 2: none)
    float min_score = 0.f;  // of the greedy bound
    float greediness = 0.f;
};

// Fills out[25]: cell (ex + 2, ey + 2) for the reference point at (x + ex, y + ey), ex, ey in
// -2..2, is the sum over the points k, in order, of v_k / n, where v_k is the agreement
// (nx gx + ny gy) * polarity at pixel (x + x_k + ex, y + y_k + ey), or 0 outside the maps. When
// reach >= 2 and that pixel has no normal, v_k comes instead from the first of its probes (`probes`
// from direction_probes with that reach) that lies inside the maps, has a normal, and agrees by
// more than 0.866; none gives 0. absolute: |v_k|. After each point (m visited) the cell stops once
// its sum is below multi_greedy_bound(m, n, min_score, greediness) and keeps that sum. No points:
// all 0.
void fill_multi_window(const NormalMapsRef& maps, const std::vector<FeatureI>& pts,
                       const std::vector<cv::Point>& probes, int x, int y,
                       const MultiWindowParams& p, float* out);

// The multi fit of one match on the level `lvl` (its maps nx, ny, record, level, cell value,
// angle step, minimum score and metric; border, factor and the time limit are not read): three
// angles angle - step, angle, angle + step; model points from transform_model_points_aniso
// (level + 1, the template sampling); 5 x 5 positions of the reference point at offsets -2..+2
// around (x, y), which address the maps directly (no border). A window cell is the mean over the
// points of (nx gx + ny gy) times the polarity (+-1) at the point's pixel; pixels outside the maps
// add 0. With cell_value >= 2, a pixel without a normal is replaced by the nearest pixel along the
// point's direction, forward then backward for steps 1..cell_value (rasterize_segment), that has
// a normal agreeing by more than 0.866; none adds 0. Metric 0 takes absolute values. Each cell
// stops early once its partial mean falls below the greedy bound of min_score and greediness, and
// keeps that partial mean. The best cell over the three windows (the first of equal ones) must be
// positive; edge test i, j within 1..3, move i - 2, j - 2; the three-dimensional fit only when the
// best angle is the middle one. Only x, y, angle, dx and dy are written. The candidate is left
// unchanged for a level the record lacks or without points. Maps of another type or size throw
// cv::Exception. Safe to call concurrently for different candidates.
void fit_peak_multi_window(const RefineLevel& lvl, float greediness, Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H

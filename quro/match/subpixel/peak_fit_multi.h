// Building blocks of the multi-model peak fit (fit_peak_subpixel_multi in peak_fit.h): the score
// window of one posed point set with its greedy stop and its search along the point directions.
#ifndef QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H
#define QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H

#include <opencv2/core/types.hpp>
#include <vector>

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

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_FIT_MULTI_H

// Sub-pixel peak fit of the matches on the last level searched (sub-pixel mode 1): the match is
// re-scored over a small window of positions for a few angles around it, moved to the best
// pixel and angle, and, where that peak lies inside the sampled block, given a sub-pixel offset
// (dx, dy) and a refined angle from a quadratic fitted to the scores around it
// (peak_sampling.h, peak_surface.h). Only x, y, angle, dx and dy are written; the score never.
//
// Candidate fields read: x, y (this level's pixel), angle (degrees), scale_row and scale_col,
// flag as the polarity (1 positive; any other value reversed contrast, whose windows count with
// the opposite sign so that the best match is always the largest value).
//
// The level comes as a RefineLevel (refine_candidate.h); the fits read its maps, border, record,
// level, angle step, metric and, with cells, its partition.
// Maps: the level's normal maps nx, ny (CV_32FC1, continuous, same size; else cv::Exception).
// level is the 0-based pyramid level: templates and points come from the record's level
// level + 1, which the template variants require the record to hold (asserted); the multi
// variant leaves the candidate unchanged for a level the record lacks. A level without points
// leaves the candidate unchanged. Safe to call concurrently for different candidates.
#ifndef QURO_MATCH_SUBPIXEL_PEAK_FIT_H
#define QURO_MATCH_SUBPIXEL_PEAK_FIT_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/refine/refine_candidate.h"
#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro {

// The fit of a level, plain or, when the level uses cells (cell_value > 1), on its partition.
//
// Plain: five angles angle + k * angle_step, k = -2..2, searched from k = 0, 1 toward the better
// side (sample_five_angles, at most four scored). Each window: 8 x 8 positions of the box corner
// of normal_template_aniso at that angle, the reference point at offsets -4..+3 around
// (x + border, y + border) in the maps, with the sums of the window scorer (window_score.h;
// absolute dot products for metric 0), not moved into the maps: a position whose template box
// would read before the first or past the last map pixel scores 0. Best cell on the window's edge
// (column or row 0 or 7): integer move and best angle only. Otherwise the move, then the
// three-dimensional fit when the best angle has both neighbours, else (or when not accepted) the
// two-dimensional fit.
//
// With cells (cell_index from feature_cell_index for level + 1, cell_order its stable argsort; a
// partition that does not fit the template throws cv::Exception): windows of (2c + 1) x (2c + 1)
// positions, c = max(4, cell_value), offsets -c..+c. Each cell's points fill a window of their
// own, which is shifted so that its best cell (polarity taken into account) lands on the centre
// before it is added to the angle's window. The edge test is i, j within 1 .. 2c - 1, the move
// i - c, j - c.
//
// Plain, on a level above full resolution (level > 0): then x + dx along x, and y + dy along y, move
// to the centre of the model's score profile (posed_score.h with the level's point_step, at the
// fitted angle and the candidate's scales): samples 1/8 pixel apart, up to 16 on either side, the
// midpoint of the profile's crossings of 0.7 of its peak (profile_centre); an axis whose profile
// gives no centre keeps its offset. Full resolution and the cell variant are unchanged by this.
void fit_peak_subpixel(const RefineLevel& lvl, Match& cand);

// The multi-model search's fit: on a level with cells the multi fit (fit_peak_multi_window,
// peak_fit_multi.h, with the level's min_score and the search's greediness), else
// fit_peak_subpixel.
void fit_peak_subpixel_multi(const RefineLevel& lvl, float greediness, Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_FIT_H

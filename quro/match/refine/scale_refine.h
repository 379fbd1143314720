// Refinement of a candidate's scale on the next finer pyramid level, run before the angle
// refinement of that level (refine_candidate.h). Each trial scale poses the model at the
// candidate's angle and scores it over the window of positions of the angle walk (window_score.h,
// the 8 x 8 window, or on a level that uses cells each cell of the level's partition in its own
// (2c + 1) square window); the trial's position is that of the window's best cell.
//
// Acceptance (both walks): a trial whose score is strictly above the best so far, at a position
// strictly inside the level image (0 < x < width - 1, 0 < y < height - 1, the maps' border
// excluded), becomes the best; the candidate's x, y and score are written then (the anisotropic
// variants also write both trial scales). A walk that accepts no trial gives score 0 and the
// position predicted on this level, (factor * x, factor * y); a level template without points does
// the same.
//
// Candidate fields: x, y (on entry in the coordinates of the level above, on exit in this
// level's), scale_row, scale_col, score; read only: angle, and flag as the polarity (1 positive,
// kPolarityToSettle whichever polarity scores higher, anything else reversed contrast; the flag is
// not written, the angle walk settles it). Nothing happens when the time-out has passed on entry
// or when lvl.min_score exceeds the candidate's score.
//
// Read from the level (RefineLevel): nx, ny, border, rec (its scale ranges and the template of
// level + 1), level, min_score, metric, factor, deadline, and cell_value (cells above 1)
// with cell_index, cell_order; angle_step and last_level are not read. Safe to call
// concurrently for different candidates. Throws cv::Exception on maps of another type or size, or
// (with cells) a cell partition that does not fit the level.
#ifndef QURO_MATCH_REFINE_SCALE_REFINE_H
#define QURO_MATCH_REFINE_SCALE_REFINE_H

#include "quro/match/refine/refine_candidate.h"
#include "quro/quro.h"

namespace quro {

// Uniform scale walk, from the candidate's scale_row. It tries the scale, then scale + step; when
// that scores lower (or both score 0) it turns and goes on from scale - step, else upwards; it
// stops after the first trial that scores no higher than the one before (at least three trials),
// after a trial scoring 0 beyond the second, or at the time-out. A trial scale outside the
// record's [scale_min, scale_max] (+-1e-6) becomes the range end on its side, unless the trial
// before it was that end: then the walk stops there, except that a second trial beyond the end
// counts as lower than any score, so the walk turns downwards from a start at the range's end. Zero
// scores are dropped from both ends of the samples; when the walk ended at a peak and three
// samples remain, scale_row becomes the vertex of the parabola through the last three (the best
// trial's scale when they lie on a line or give no finite vertex). Otherwise scale and score
// become those of the best accepted trial (score 0 and the scale kept when none was). scale_col = scale_row on exit. A step that is not finite or not above 0
// gives one trial at the candidate's scale; a trial scale that is not finite counts as outside
// the range. Templates: normal_template at the trial scale.
void refine_scale(const RefineLevel& lvl, float scale_step, Match& cand);

// What the anisotropic trials do with a scale beyond an end of its record range: leave it out, or
// try the end itself instead (once).
enum class RangeEnds { skipped, tried };

// Anisotropic scales: the nine combinations of the row scale r - row_step, r, r + row_step (outer)
// and the column scale c - column_step, c, c + column_step (inner) are tried in that order; the
// first of equal best scores wins. A step that is not finite or not above 0 gives that scale
// alone; a scale outside its record range (+-1e-6, a scale that is not finite included) is left
// out or, with RangeEnds::tried, replaced by the range end on its side, so the scales stay inside
// the ranges (a fixed range keeps its scale). Templates: normal_template_aniso. The time-out is
// tested on entry only.
void refine_scales_aniso(const RefineLevel& lvl, float row_scale_step, float column_scale_step,
                         RangeEnds ends, Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_REFINE_SCALE_REFINE_H

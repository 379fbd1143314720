// Refinement of one search candidate on the next finer pyramid level: for each trial angle the
// posed model is scored over a small window of positions on the level's normal maps
// (window_score.h), the best position is kept, and the angle walks up or down by the level's angle
// step until the score falls; the angle is then the vertex of the parabola through the last three
// (angle, score) samples.
//
// Walk (with or without cells). The candidate's angle is tried first, then angle + step. When that
// scores lower the walk turns and continues from angle - step, otherwise it goes on upwards; it
// stops after the first sample that scores no higher than the one before (at least three samples:
// the peak exit), at the first trial angle outside [start - 2.5 step, start + extent + 2.5 step] of
// the record's angle range, modulo 360 (the range exit), at a sample scoring below 0.05 (the
// low-score exit), or at the time-out. A sample is accepted when its score is at least the best so
// far and its position lies strictly inside the level image (0 < x < width - 1, 0 < y < height - 1,
// the maps' border excluded); the candidate's x, y and score are written at acceptance. With a
// record whose angle extent is 0 the walk stops at the first accepted sample, keeping its angle. On
// the last level searched, a first sample accepted on the window's edge re-centres the window on it
// once and is scored again.
//
// Exits. Peak: angle = the vertex, or the best sample's angle when the three samples leave no
// finite vertex (equal or collinear scores). Range and low score: score 0 when the best accepted
// score is below level_min_score, else angle = the best sample's angle. Time-out: score 0 when
// level_min_score > 0, else angle = the best sample's angle. At every exit, a walk that accepted
// no sample gives score 0, the position predicted on this level and the candidate's own angle.
// A level template without points gives score 0.
//
// Candidate fields: x, y (on entry in the coordinates of the level above, or with factor 1 in
// this level's), angle, score, and flag as the polarity (1 positive, kPolarityToSettle: whichever
// polarity scores higher, sample by sample, and the best sample's polarity is written to flag as
// 1 or -1; anything else reversed contrast); scale_row and scale_col are read only. Nothing happens
// when the time-out has passed on entry or when level_min_score exceeds the candidate's score.
//
// Arguments: nx, ny the level's normal maps (CV_32FC1, continuous, same size) with a zero frame
// of `border` pixels; level the 0-based pyramid level refined to (the template is the record's
// level + 1); last_level the lowest level the search reaches; angle_step the level's step in
// degrees; level_min_score the level's minimum score; metric the model's metric (0 ignores each
// point's polarity); factor the ratio of the candidate's level to this one (normally 2). The
// template of every trial angle is normal_template_aniso with the candidate's two scales. Safe to
// call concurrently for different candidates. The record must hold the level (asserted). Throws
// cv::Exception on maps of another type or size, or (with cells) a cell partition that does not
// fit the level.
#ifndef QURO_MATCH_REFINE_REFINE_CANDIDATE_H
#define QURO_MATCH_REFINE_REFINE_CANDIDATE_H

#include "quro/match/refine/refine_level.h"
#include "quro/quro.h"

namespace quro {

// Refines `cand` on the level. Without cells (cell_value <= 1): an 8 x 8 window of positions
// around the predicted position (border + factor * x, border + factor * y); factor 1 takes a
// candidate already placed on this level. With cells (cell_value > 1): the points of each cell of
// the level's partition settle in their own (2c + 1) square window, c = cell_value (at least 4);
// the score is the sum of the cells' best values over the point count, and the position comes
// from the mean best cell.
void refine_candidate(const RefineLevel& lvl, Match& cand);

// The score of `cand` at its own pose on the level, without a walk or a window: the mean agreement
// of the level's points as level_template samples them (RefineLevel::point_step), posed at its
// angle and two scales, at its whole-pixel position (x, y in this level's coordinates), with its
// polarity (flag -1 reversed contrast, else the model's own; metric 0 each point's absolute
// agreement). 0 for a level template without points.
float score_at_pose(const RefineLevel& lvl, const Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_REFINE_REFINE_CANDIDATE_H

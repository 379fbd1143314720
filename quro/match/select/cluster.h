// Candidate clustering between pyramid levels: thins a level's candidates before the next, more
// expensive level. Candidates are grouped by pixel; a group forms only around a local maximum of
// the per-pixel best score and takes in the candidates of that pixel and its eight neighbours;
// inside a group, candidates that score much lower than the maximum or repeat the pose of a
// better one are dropped.
#ifndef QURO_MATCH_SELECT_CLUSTER_H
#define QURO_MATCH_SELECT_CLUSTER_H

#include <vector>

#include "quro/match/select/multi_model_index.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// Replaces `c` by its clustered candidates (x, y are pixel positions on the current level).
//
//  1. Each pixel holding candidates gets a best score: 0, raised by every candidate that scores
//     strictly higher. A candidate whose score is NaN cannot be judged; it takes no part and is
//     dropped.
//  2. A pixel is a local maximum when none of its eight neighbours that hold candidates has a
//     strictly higher best score (equal neighbours are both maxima).
//  3. The maxima are taken by descending best score; equal best scores in ascending pixel order
//     (row, then column). Each gathers the candidates still left at itself and at its neighbours
//     (order: itself, then the pixels up, up-right, right, down-right, down, down-left, left,
//     up-left; each gathered pixel is emptied), sorts them stably by descending score and
//     filters them with o = the maximum's best score: the first stays; each following one is
//     dropped when (o - score) / o > 0.2, else when it repeats the pose of a candidate already
//     kept in this group, else it stays. A non-empty result is a group.
//  4. `c` becomes the groups in the order they were made, each cut to its first `group_limit`
//     candidates when group_limit > 0 (0 or below: no limit). Candidates neither at a maximum
//     nor next to one, and those whose pixel an earlier group emptied, are dropped.
//
// Pixels are told apart by (x, y) and ordered row by row (by y, then x), so no image width is
// needed: a pixel at the end of a row is no neighbour of the one at the start of the next row,
// and candidates outside the image (possible when matches may cross the border) never share a
// pixel with candidates inside it.
//
// A candidate repeats a kept one when the angle difference, wrapped into (-180, 180], is below
// 2.5 * angle_step in magnitude.
//
// `limit` is asked between the stages and every kClusterCheckInterval maxima: once it has passed
// the clustering stops and leaves `c` as it was (the search then gives up).
inline constexpr std::size_t kClusterCheckInterval = 64;
void cluster_candidates(std::vector<Match>& c, float angle_step, int group_limit,
                        const TimeLimit& limit = {});

// As cluster_candidates; a repeat also needs |row scale difference| < 0.5 * scale_step.
void cluster_candidates_scaled(std::vector<Match>& c, float angle_step, int group_limit,
                               float scale_step, const TimeLimit& limit = {});

// As cluster_candidates; a repeat also needs |row scale difference| < 0.5 * row_scale_step and
// |column scale difference| < 0.5 * column_scale_step. Built ahead of its caller, the anisotropic
// search.
void cluster_candidates_aniso(std::vector<Match>& c, float angle_step, int group_limit,
                              float row_scale_step, float column_scale_step,
                              const TimeLimit& limit = {});

// As cluster_candidates over the candidates of several models together, each candidate's model
// being records[id_to_index.at(model_id)]. A candidate repeats a kept one when the angle
// difference is below 2.5 * angle_step(its own model, level_index + 1); model ids are not
// compared, so at one place only the best-scoring model survives within that angle window.
// `level_index` counts from 0 (full resolution). `model_steps`, when given, holds the angle step
// to use in place of that one for each model, by its position in `records`.
// A candidate whose model id is not in the map, or maps outside `records` or to a null record, is
// dropped (a caller fault: asserts in debug builds). Every candidate's model must hold level
// level_index + 1 (asserted). Built ahead of its caller, the multi-model search.
void cluster_candidates_multi(std::vector<Match>& c, const ModelRecords& records,
                              const ModelIdIndex& id_to_index, int group_limit, int level_index,
                              const TimeLimit& limit = {},
                              const std::vector<float>* model_steps = nullptr);

}  // namespace quro

#endif  // QURO_MATCH_SELECT_CLUSTER_H

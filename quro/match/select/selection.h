// Final selection of a search's matches on the last level searched: best first, models that
// leave the image dropped (unless matches may cross the border), rotated boxes that overlap a
// better match's box too much dropped, at most the requested number kept.
#ifndef QURO_MATCH_SELECT_SELECTION_H
#define QURO_MATCH_SELECT_SELECTION_H

#include <vector>

#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/select/multi_model_index.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// The time limit of a selection: the selection stops early (keeping the matches selected so far)
// once it has passed, asked every kTimeoutCheckInterval candidates; the search that called it
// then notices the time-out itself and discards them.
using SelectionLimit = TimeLimit;
inline constexpr std::size_t kTimeoutCheckInterval = 64;

// Replaces `c` (candidates on the level of size level_size = width x height, level_index 0 = full
// resolution) by the selected matches, best first:
//  1. c is sorted stably by descending score (NaN last; equal scores keep their order).
//  2. Walking the sorted list, each candidate gets its rotated box: rotated_box(box, x, y,
//     box.angle + angle, scale_row).
//  3. Border, only while border_shape_models() <= 0: when a corner of the box lies outside
//     [0, width - 1] x [0, height - 1] (or is not a number), the model's sampled points decide:
//     model_leaves_image(rec, x, y, width, height, level_index + 1, angle, scale_row) drops the
//     candidate when one of them lies outside.
//  4. Overlap: the candidate is dropped when its box overlaps the box of an already selected
//     match by more than max_overlap (rotated_box_overlap). Only pairs whose reference points lie
//     within R_a + R_b (+1 pixel for rounding) of each other are measured, R being the distance of
//     the farthest box corner from the reference point (rotated_box_reach, scale included); the
//     boxes of pairs farther apart cannot meet. max_overlap >= 1 removes nothing by overlap (and
//     no pair is measured then).
//  5. The selection stops when num_matches > 0 matches are selected; num_matches <= 0 means no
//     limit. It also stops when `limit` says the search's time is up.
// max_overlap is expected to be a number >= 0 (the searches reject anything else); a negative
// one drops every candidate whose pair with a selected match is measured at all.
// The record must hold level level_index + 1 (asserted).
void select_matches(int num_matches, cv::Size level_size, const OutlineBox& box, float max_overlap,
                    std::vector<Match>& c, const ShapeModelRecord& rec, int level_index,
                    const SelectionLimit& limit = {});

// As select_matches with rotated_box_aniso(box, x, y, box.angle + angle, scale_row,
// scale_col); the model-point border test still uses the row scale alone.
// Built ahead of its caller, the anisotropic search.
void select_matches_aniso(int num_matches, cv::Size level_size, const OutlineBox& box,
                          float max_overlap, std::vector<Match>& c, const ShapeModelRecord& rec,
                          int level_index, const SelectionLimit& limit = {});

// As select_matches over the candidates of several models together, everything model-dependent
// (the outline box of level level_index + 1, the rotated box, the border test) taken from the
// candidate's own model records[id_to_index.at(model_id)]. Candidates of different models
// suppress each other like candidates of one model. A candidate whose model id is not in the
// map, or maps outside `records` or to a null record, is dropped (a caller fault: asserts in
// debug builds). Every candidate's model must hold the level (asserted).
// Built ahead of its caller, the multi-model search.
void select_matches_multi(int num_matches, cv::Size level_size, float max_overlap,
                          std::vector<Match>& c, const ModelRecords& records,
                          const ModelIdIndex& id_to_index, int level_index,
                          const SelectionLimit& limit = {});

}  // namespace quro

#endif  // QURO_MATCH_SELECT_SELECTION_H

// The end of a search that reached its last level: back to full resolution, and the matches
// handed out as one registered array.
#ifndef QURO_SEARCH_CORE_HAND_OUT_H
#define QURO_SEARCH_CORE_HAND_OUT_H

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "quro/model_pose.h"
#include "quro/model_table.h"
#include "quro/quro.h"

namespace quro {

// The model of each candidate while its position moves to a finer level: `rec` for a search of
// one model, or, when `by_id` is set, the record of the candidate's model id (the multi-model
// search). `two_scales`: scale_col holds the column scale (the anisotropic searches); otherwise
// scale_row is the scale of both axes.
struct CandidateModels {
    const ShapeModelRecord* rec = nullptr;
    std::function<const ShapeModelRecord*(int model_id)> by_id = nullptr;
    bool two_scales = false;
};

// Moves candidates from level `from` to the finer level `to`: positions and sub-pixel parts times
// 2^(from - to), and the sub-pixel part moved on by the level_centre_shift of the candidate's
// model, posed at its angle and scales, so that the position stays the model's reference point.
void move_to_finer_level(std::vector<Match>& cands, int from, int to,
                         const CandidateModels& models);

// Moves candidates found on level `last` to full resolution (move_to_finer_level). With
// `drop_below_min` set, candidates scoring below min_score are removed first.
void scale_back_to_full_resolution(std::vector<Match>& cands, int last, float min_score,
                                   bool drop_below_min, const CandidateModels& models);

// What the hand-out leaves of each match as the search set it: a search of one model and one
// scale stamps its model id and copies scale_row into scale_col; the multi-model search keeps the
// ids its candidates carry, the anisotropic search the column scale. A search window of at least
// one full turn (angle_extent >= 360) hands every angle out wrapped into [angle_start,
// angle_start + 360); a narrower window leaves the angles as they are.
struct HandOutOptions {
    bool keep_model_ids = false;
    bool keep_scale_col = false;
    float angle_start = 0.f;
    float angle_extent = 0.f;
};

// `angle` wrapped into [start, start + 360) (NaN stays NaN).
float wrap_angle_into_turn(float angle, float start);

// Hands the first min(num_matches, size) candidates (all when num_matches <= 0) out as one
// registered malloc'd array (kind 0), with scale_col = scale_row and model_id set unless the
// options keep them. Returns the handle, 0 with nothing to hand out, -1 when the array cannot be
// allocated (results then null). `count` receives the number of matches.
int hand_out_matches(const std::vector<Match>& cands, int num_matches, int model_id,
                     HandOutOptions options, Match*& results, int& count);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_HAND_OUT_H

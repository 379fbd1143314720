// The level stages of the multi-model search: the top stage over every model's top level, and
// each level below the deepest top, on the shared stages of the single-model searches with one
// part per model.
#ifndef QURO_SEARCH_MULTI_MULTI_LEVELS_H
#define QURO_SEARCH_MULTI_MULTI_LEVELS_H

#include <vector>

#include "quro/quro.h"
#include "quro/search/core/search_state.h"
#include "quro/search/multi/multi_state.h"

namespace quro {

// Scores every (model, angle) of the models' top levels in one scan (scan_top_poses); the
// response maps of each top level are built once, signed whatever the metrics. Each model's
// candidates carry its id and are selected (its top is its last level) or clustered, then filed
// under its top level. Returns 0, or -2 on a time-out.
int multi_top_stage(const SearchRequest& req, MultiSearchState& ms);

// Refines the candidates of the level above on `level` (below the deepest top), each with its
// own model, on the stages of the single-model searches (angle re-seeding, admission, polarity
// settling, refinement, filter); above the last level clusters them over all models and puts the
// top-stage candidates of `level` before them, on the last level joins those and selects the
// final matches over all models, then runs the sub-pixel mode. Returns 0, or -2 on a time-out.
int multi_search_level(const SearchRequest& req, MultiSearchState& ms, int level,
                       std::vector<Match>& cands);

}  // namespace quro

#endif  // QURO_SEARCH_MULTI_MULTI_LEVELS_H

// The multi-model search: several stored models found in one image in one pass. The models share
// the image pyramid, the response maps and normal maps of each level, the time limit and the stop
// flag; their candidates travel together through the lower levels, and the final selection treats
// them as one set, so a match of one model suppresses an overlapping, weaker match of another.
#ifndef QURO_SEARCH_MULTI_MULTI_SEARCH_H
#define QURO_SEARCH_MULTI_MULTI_SEARCH_H

#include <memory>
#include <vector>

#include "quro/match/outline_box.h"
#include "quro/match/select/multi_model_index.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/search_state.h"

namespace quro {

// One model of the search. Its plan (plan_model_levels) holds its top level, its last level, and
// its cell values and grid sizes walked from its own top; levels above its top are not its own.
struct MultiModel {
    int id = -1;
    std::shared_ptr<ShapeModelRecord> rec;
    LevelPlan plan;
    std::vector<float> min_scores;             // per level up to its top
    std::vector<std::vector<int>> cell_index;  // per level, computed when first needed
    std::vector<std::vector<int>> cell_order;
    int angle_seed_level = -1;  // as SearchState::angle_seed_level, for the search's last level

    SearchModel view() { return {rec.get(), rec->metric, &plan, &cell_index, &cell_order}; }
};

// Everything the search keeps between its stages. `shared` holds what all models share: the
// stopwatch and stop flag, the largest time-out, the smallest minimum contrast, the pyramids, the
// normal maps, and a plan whose top is the deepest model's top, whose last level is the
// smallest last level of all models (the level every candidate is refined down to) and whose
// mode and cell values are those of the sub-pixel code.
struct MultiSearchState {
    SearchState shared;
    std::vector<MultiModel> models;  // one per distinct id, in the order of first appearance
    ModelRecords records;            // models[i].rec at position i
    ModelIdIndex index;              // id -> position in models
    // Per level: the top-stage candidates of the models whose top it is, in model order.
    std::vector<std::vector<Match>> top_stage;

    // The record of model `id`, or null for an id not in the search.
    const ShapeModelRecord* model_of_id(int id) const {
        const auto it = index.find(id);
        return it == index.end() ? nullptr : models[static_cast<std::size_t>(it->second)].rec.get();
    }
};

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

// find_shape_models (and, with req.mask set, its masked twin) without the export wrapper. `ids`
// holds num_ids model ids, `levels` two ints per id. Every id is looked up and every model's plan
// checked before any stored model changes; then each gets the request's angle range (unless
// `range` is kLeave).
int find_shape_models_impl(const SearchRequest& req, const int* ids, int num_ids,
                           const int* levels, Match*& results, int& count,
                           StoredRange range = StoredRange::kWrite);

}  // namespace quro

#endif  // QURO_SEARCH_MULTI_MULTI_SEARCH_H

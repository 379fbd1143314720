// What a multi-model search keeps between its stages: its models, each with its own plan, and
// what they share.
#ifndef QURO_SEARCH_MULTI_MULTI_STATE_H
#define QURO_SEARCH_MULTI_MULTI_STATE_H

#include <memory>
#include <vector>

#include "quro/match/select/multi_model_index.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/level_stages.h"
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
    bool alike_poses = false;   // as SearchState::alike_poses

    SearchModel view() {
        return {rec.get(), rec->metric, &plan, &cell_index, &cell_order, alike_poses};
    }
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

}  // namespace quro

#endif  // QURO_SEARCH_MULTI_MULTI_STATE_H

// The level stages of a single-model search: the exhaustive scan of the top level, where every
// pose (scale, angle) is scored on the response maps and its peaks become candidates, and the
// refinement of the candidates on each level below it.
#ifndef QURO_SEARCH_SEARCH_LEVELS_H
#define QURO_SEARCH_SEARCH_LEVELS_H

#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/search_state.h"
#include "quro/search/search_variant.h"

namespace quro {

// One pose of the top-level scan: uniform scale, then angle in degrees.
struct ScaledPose {
    float scale = 1.f;
    float angle = 0.f;
};

// Every (scale, angle) pose, scale-major: scale i and angle j stand at i * angles.size() + j.
std::vector<ScaledPose> scaled_poses(const std::vector<float>& scales,
                                     const std::vector<float>& angles);

// Scores every pose (the variant's top scales times the top level's angle list) in one parallel
// loop, joins the candidates in pose order, then selects the final matches (top level = last
// level) or clusters them as the variant does. Returns 0, or -2 on a time-out.
int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const SearchVariant& variant, std::vector<Match>& cands);

// Refines the candidates on `level` below the top with the variant's refinement, then filters,
// clusters (as the variant does) or selects them; on the last level also runs the sub-pixel
// mode. Returns 0, or -2 on a time-out.
int search_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                 const SearchVariant& variant, int level, std::vector<Match>& cands);

}  // namespace quro

#endif  // QURO_SEARCH_SEARCH_LEVELS_H

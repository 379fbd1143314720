// The exhaustive stage of a single-model search on the top level: every pose (scale, angle) of
// the search is scored on the level's response maps and its peaks become candidates.
#ifndef QURO_SEARCH_TOP_LEVEL_H
#define QURO_SEARCH_TOP_LEVEL_H

#include <functional>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/search_state.h"

namespace quro {

// One pose of the top-level scan: uniform scale, then angle in degrees.
struct ScaledPose {
    float scale = 1.f;
    float angle = 0.f;
};

// What a search scans on the top level beside the angle list, and how it clusters there.
struct TopLevelScan {
    // The scales of the poses; the rigid search scans the single scale 1.
    std::vector<float> scales{1.f};
    // Clusters the joined candidates when the top level is not the last, given the top level's
    // angle step; empty: by angle alone (cluster_candidates without a group limit).
    std::function<void(std::vector<Match>&, float angle_step)> cluster;
};

// Every (scale, angle) pose, scale-major: scale i and angle j stand at i * angles.size() + j.
std::vector<ScaledPose> scaled_poses(const std::vector<float>& scales,
                                     const std::vector<float>& angles);

// Scores every pose of `scan` times the angle list of the top level in one parallel loop, joins
// the candidates in pose order, then selects the final matches (top level = last level) or
// clusters them. Returns 0, or -2 on a time-out.
int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const TopLevelScan& scan, std::vector<Match>& cands);

}  // namespace quro

#endif  // QURO_SEARCH_TOP_LEVEL_H

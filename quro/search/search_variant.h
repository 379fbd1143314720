// What a single-model search supplies to the shared stages where it differs from the rigid
// search: the scales of the top level's poses, how a level refines one candidate, and how a
// level that is not the last clusters its candidates. A default-built variant is the rigid search.
#ifndef QURO_SEARCH_SEARCH_VARIANT_H
#define QURO_SEARCH_SEARCH_VARIANT_H

#include <functional>
#include <vector>

#include "quro/match/refine/refine_candidate.h"
#include "quro/quro.h"

namespace quro {

struct SearchVariant {
    // The scales of the top level's poses (scale-major with the angles); rigid: the single 1.
    std::vector<float> top_scales{1.f};
    // Refines one candidate on a level below the top; `lvl` has factor 2 and the level's cell
    // partition when `cells` is set. Empty: refine_candidate, or refine_candidate_cells.
    std::function<void(const RefineLevel& lvl, bool cells, Match& cand)> refine;
    // Clusters the candidates of level index `level` (0 = full resolution) when it is not the
    // last, given its angle step. Empty: by angle alone (cluster_candidates, no group limit).
    std::function<void(std::vector<Match>& cands, int level, float angle_step)> cluster;
};

// The variant's clustering of the candidates of `level`.
void cluster_level_candidates(const SearchVariant& v, std::vector<Match>& cands, int level,
                              float angle_step);

}  // namespace quro

#endif  // QURO_SEARCH_SEARCH_VARIANT_H

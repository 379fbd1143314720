// What a single-model search supplies to the shared stages where it differs from the rigid
// search: the scales of the top level's poses, how a level refines one candidate, and how a
// level that is not the last clusters its candidates. A default-built variant is the rigid search.
#ifndef QURO_SEARCH_CORE_SEARCH_VARIANT_H
#define QURO_SEARCH_CORE_SEARCH_VARIANT_H

#include <functional>
#include <vector>

#include "quro/match/refine/refine_candidate.h"
#include "quro/match/subpixel/least_squares_refine.h"
#include "quro/quro.h"

namespace quro {

struct SearchVariant {
    // The scales of the top level's poses (scale-major with the angles); rigid: the single 1.
    // With separate row and column scales these are the row scales.
    std::vector<float> top_scales{1.f};
    // The column scales of the top level's poses; empty when the column scale is the row scale.
    // When set, the search poses and selects with both scales, its least squares poses points
    // with both, and its matches keep scale_col as found.
    std::vector<float> top_col_scales;
    // The least squares refines the scales beside position and angle. The level refinement moves
    // a scale in steps of the level's scale lattice and scores are flat within a pixel of the
    // edges, so only the edges' sub-pixel positions settle it (scale errors fell from 0.004 RMS
    // to 0.0006 on photo scenes, position and angle errors with them).
    bool least_squares_scales = false;
    // Called after the sub-pixel peak fit (mode 1) of each final match on the last level; empty:
    // nothing more. The scaled and anisotropic searches fit their scales there (peak_fit_scale.h).
    std::function<void(const RefineLevel& lvl, Match& cand)> peak_fit_extra;
    // Refines one candidate on a level below the top; `lvl` has factor 2 and says whether the
    // level uses cells. Empty: refine_candidate.
    std::function<void(const RefineLevel& lvl, Match& cand)> refine;
    // Clusters the candidates of level index `level` (0 = full resolution) when it is not the
    // last, given its angle step, asking the search's time limit. Empty: by angle alone
    // (cluster_candidates, no group limit).
    std::function<void(std::vector<Match>& cands, int level, float angle_step,
                       const TimeLimit& limit)>
        cluster;

    bool two_scales() const { return !top_col_scales.empty(); }
};

// How the variant's least squares poses a candidate's points: with both scales, or the row's.
PoseSource pose_source(const SearchVariant& v);

// The variant's clustering of the candidates of `level`.
void cluster_level_candidates(const SearchVariant& v, std::vector<Match>& cands, int level,
                              float angle_step, const TimeLimit& limit);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_VARIANT_H

#include "quro/search/core/search_variant.h"

#include "quro/match/select/cluster.h"

namespace quro {

PoseSource pose_source(const SearchVariant& v) {
    PoseSource src = v.two_scales() ? PoseSource::aniso() : PoseSource::rigid();
    src.refine_scales = v.least_squares_scales;
    return src;
}

void cluster_level_candidates(const SearchVariant& v, std::vector<Match>& cands, int level,
                              float angle_step, const TimeLimit& limit) {
    if (v.cluster)
        v.cluster(cands, level, angle_step, limit);
    else
        cluster_candidates(cands, angle_step, 0, limit);
}

}  // namespace quro

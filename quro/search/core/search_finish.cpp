#include "quro/search/core/search_finish.h"

#include <utility>

#include "quro/search/core/level_stages.h"
#include "quro/search/core/normal_maps.h"
#include "quro/status.h"

namespace quro {

int finish_search(const SearchRequest& req, const ShapeModelRecord& rec, int model_id,
                  SearchState& st, std::vector<Match>& cands, Match*& results, int& count,
                  const PoseSource& src, HandOutOptions out) {
    const LevelPlan& p = st.plan;
    // The final score filter runs whenever the search stopped above full resolution, and also
    // when it ran a single level (whose threshold was only 0.9 of min_score).
    const bool filter = p.last > 0 || p.top == p.last;
    const CandidateModels models{.rec = &rec, .two_scales = out.keep_scale_col};
    if (p.last > 0 && p.mode == kSubpixelLeastSquaresFull) {
        scale_back_to_full_resolution(cands, 0, req.min_score, filter, models);
        for (int level = p.last; level >= 1; --level) {
            if (refine_least_squares_in_window(req, rec, st, level, 0, cands, src) != kOk)
                return kTimedOut;
            move_to_finer_level(cands, level, level - 1, models);
        }
        if (refine_least_squares_in_window(req, rec, st, 0, 0, cands, src) != kOk) return kTimedOut;
    } else {
        scale_back_to_full_resolution(cands, p.last, req.min_score, filter, models);
    }
    st.sw.lap("matchEnd");
    // The maps go first: nothing that can fail may follow the registration of the matches.
    release_in_background(std::move(st.normals));
    out.angle_start = req.angle_start;
    out.angle_extent = req.angle_extent;
    return hand_out_matches(cands, req.num_matches, model_id, out, results, count);
}

}  // namespace quro

#include "quro/search/single/scaled_search.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/library_start.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/refine/scale_refine.h"
#include "quro/match/select/cluster.h"
#include "quro/match/subpixel/peak_fit_scale.h"
#include "quro/model_table.h"
#include "quro/search/core/level_loop.h"
#include "quro/search/core/search_export.h"
#include "quro/search/core/search_finish.h"
#include "quro/search/core/search_input.h"
#include "quro/search/core/search_state.h"
#include "quro/search/core/search_variant.h"
#include "quro/status.h"

namespace quro {

namespace {

// The uniform scale step of every level index (0 = full resolution).
std::vector<float> level_scale_steps(const ShapeModelRecord& rec) {
    std::vector<float> steps(static_cast<std::size_t>(rec.num_levels));
    for (int level = 0; level < rec.num_levels; ++level)
        steps[static_cast<std::size_t>(level)] = scale_step(rec, level + 1, kScaleUniform);
    return steps;
}

// The scaled search's differences from the rigid one: the top level scans the scale list times
// the angles; each lower level refines a candidate's scale on every second model point, then its
// position and angle on every point; clustering keeps candidates of different scales apart.
SearchVariant scaled_variant(const std::vector<float>& steps, std::vector<float> top_scales) {
    SearchVariant v;
    v.top_scales = std::move(top_scales);
    v.least_squares_scales = true;
    v.refine = [&steps](const RefineLevel& lvl, Match& cand) {
        const float step = steps[static_cast<std::size_t>(lvl.level)];
        refine_scale(lvl, step, cand);
        // The scale walk has brought the candidate to this level's coordinates. It scored at the
        // angle the level above gave, up to half that level's angle step off, so its score is no
        // verdict yet: the angle walk measures the candidate again and the level's filter judges.
        admit_to_next_walk(cand, lvl.min_score);
        RefineLevel same_level = lvl;
        same_level.factor = 1;
        refine_candidate(same_level, cand);
    };
    v.peak_fit_extra = [&steps](const RefineLevel& lvl, Match& cand) {
        fit_peak_scale(lvl, steps[static_cast<std::size_t>(lvl.level)], cand);
    };
    v.cluster = [&steps](std::vector<Match>& cands, int level, float angle_step,
                         const TimeLimit& limit) {
        cluster_candidates_scaled(cands, angle_step, 0, steps[static_cast<std::size_t>(level)],
                                  limit);
    };
    return v;
}

}  // namespace

int find_scaled_shape_model_impl(const SearchRequest& req, int model_id, float scale_min,
                                 float scale_max, Match*& results, int& count) {
    count = 0;
    if (check_request(req) != 0 || check_scale_range(scale_min, scale_max) != 0) return kFailed;
    ensure_library_started();
    ShapeModelRecord rec;
    if (!copy_record_for_search(req, model_id, rec)) return kFailed;
    rec.scale_min = scale_min;
    rec.scale_max = scale_max;

    SearchState st;
    st.scale_max = scale_max;
    st.scale_min = scale_min;
    if (const int rc = prepare_search(req, rec, st); rc != 0) return rc;
    const int top = st.plan.top;
    std::vector<float> scales;
    scale_list(rec, scales, top + 1, scale_max, kScaleUniform, scale_min);
    std::vector<float> angles;
    angle_list(rec, angles, top + 1, req.angle_extent, req.angle_start);
    // A range so wide that its poses outgrow any list is no sensible request.
    const std::size_t max_poses = static_cast<std::size_t>(kMaxListValues);
    if (scales.size() > max_poses / std::max<std::size_t>(1, angles.size()))
        return kFailed;

    const std::vector<float> steps = level_scale_steps(rec);
    const SearchVariant scaled = scaled_variant(steps, std::move(scales));
    std::vector<Match> cands;
    if (const int rc = search_all_levels(req, rec, st, scaled, cands); rc != 0) return rc;
    return finish_search(req, rec, model_id, st, cands, results, count, pose_source(scaled));
}

}  // namespace quro

namespace {

int run_scaled_export(const quro::SearchRequest& req, int model_id, float scale_min,
                      float scale_max, quro::Match*& results, int& count) {
    return quro::run_search_export(count, [&] {
        return quro::find_scaled_shape_model_impl(req, model_id, scale_min, scale_max, results,
                                                  count);
    });
}

}  // namespace

extern "C" QURO_API int find_scaled_shape_model(unsigned char* data, int width, int height,
                                                int model_id, float angle_start,
                                                float angle_extent, float scale_min,
                                                float scale_max, float min_score, int num_matches,
                                                float max_overlap, int subpixel_code, int* levels,
                                                float greediness, quro::Match*& results,
                                                int& count) {
    return run_scaled_export(
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr),
        model_id, scale_min, scale_max, results, count);
}

extern "C" QURO_API int find_scaled_shape_model_2(unsigned char* data, int width, int height,
                                                  int model_id, float angle_start,
                                                  float angle_extent, float scale_min,
                                                  float scale_max, float min_score,
                                                  int num_matches, float max_overlap,
                                                  int subpixel_code, int* levels,
                                                  float greediness, unsigned char* mask,
                                                  quro::Match*& results, int& count) {
    return run_scaled_export(
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, mask),
        model_id, scale_min, scale_max, results, count);
}

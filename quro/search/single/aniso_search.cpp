#include "quro/search/single/aniso_search.h"

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

LevelScaleSteps level_scale_steps(const ShapeModelRecord& rec) {
    LevelScaleSteps s;
    for (int level = 0; level < rec.num_levels; ++level) {
        s.row.push_back(scale_step(rec, level + 1, kScaleRow));
        s.col.push_back(scale_step(rec, level + 1, kScaleCol));
    }
    return s;
}

SearchVariant aniso_variant(const LevelScaleSteps& steps, std::vector<float> rows,
                            std::vector<float> cols, bool try_range_ends) {
    SearchVariant v;
    v.top_scales = std::move(rows);
    v.top_col_scales = std::move(cols);
    v.least_squares_scales = true;
    v.refine = [&steps, try_range_ends](const RefineLevel& lvl, Match& cand) {
        const auto li = static_cast<std::size_t>(lvl.level);
        // The last level settles the scales: a trial beyond a range end tries the end (instances
        // at an end stayed half a step inside it, scoring up to 0.03 lower). Above it the coarse
        // lattice only carries hypotheses down.
        const RangeEnds ends = try_range_ends && lvl.level == lvl.last_level ? RangeEnds::tried
                                                                              : RangeEnds::skipped;
        refine_scales_aniso(lvl, steps.row[li], steps.col[li], ends, cand);
        // As in the scaled search: the scale trials scored at the angle the level above gave, so
        // the angle walk measures the candidate again before the level's filter judges it.
        RefineLevel same_level = lvl;
        same_level.factor = 1;
        if (lvl.level == lvl.last_level) {
            // The trials move each scale by a whole step, 0.035-0.05 on the last level for a model
            // 60-80 pixels across: an instance half a step off scored below min_score there and was
            // dropped before the least squares could settle its scales. Nine trials at half the
            // steps around the best pair bring it within a quarter step.
            admit_to_next_walk(cand, lvl.min_score);
            refine_scales_aniso(same_level, 0.5f * steps.row[li], 0.5f * steps.col[li], ends, cand);
        }
        admit_to_next_walk(cand, lvl.min_score);
        refine_candidate(same_level, cand);
    };
    v.peak_fit_extra = [&steps](const RefineLevel& lvl, Match& cand) {
        const auto li = static_cast<std::size_t>(lvl.level);
        fit_peak_scales_aniso(lvl, steps.row[li], steps.col[li], cand);
    };
    v.cluster = [&steps](std::vector<Match>& cands, int level, float angle_step,
                         const TimeLimit& limit) {
        const auto li = static_cast<std::size_t>(level);
        cluster_candidates_aniso(cands, angle_step, 0, steps.row[li], steps.col[li], limit);
    };
    return v;
}

int prepare_aniso_search(const SearchRequest& req, int model_id, const ScaleRanges& r,
                         ShapeModelRecord& rec, SearchState& st, std::vector<float>& rows,
                         std::vector<float>& cols) {
    if (check_request(req) != 0 || check_scale_range(r.row_min, r.row_max) != 0 ||
        check_scale_range(r.col_min, r.col_max) != 0)
        return kFailed;
    ensure_library_started();
    if (!copy_record_for_search(req, model_id, rec)) return kFailed;
    rec.scale_row_min = r.row_min;
    rec.scale_row_max = r.row_max;
    rec.scale_col_min = r.col_min;
    rec.scale_col_max = r.col_max;

    st.scale_max = std::max(r.row_max, r.col_max);
    st.scale_min = std::min(r.row_min, r.col_min);
    if (const int rc = prepare_search(req, rec, st); rc != 0) return rc;
    const int top = st.plan.top;
    std::vector<float> angles;
    scale_list(rec, rows, top + 1, r.row_max, kScaleRow, r.row_min);
    scale_list(rec, cols, top + 1, r.col_max, kScaleCol, r.col_min);
    angle_list(rec, angles, top + 1, req.angle_extent, req.angle_start);
    // Ranges so wide that their poses outgrow any list are no sensible request.
    const auto max_poses = static_cast<std::size_t>(kMaxListValues);
    const std::size_t per_row =
        std::max<std::size_t>(1, angles.size()) * std::max<std::size_t>(1, cols.size());
    if (cols.size() > max_poses / std::max<std::size_t>(1, angles.size()) ||
        rows.size() > max_poses / per_row)
        return kFailed;
    return kOk;
}

int find_aniso_shape_model_impl(const SearchRequest& req, int model_id, const ScaleRanges& r,
                                Match*& results, int& count) {
    count = 0;
    ShapeModelRecord rec;
    SearchState st;
    std::vector<float> rows, cols;
    if (const int rc = prepare_aniso_search(req, model_id, r, rec, st, rows, cols); rc != 0)
        return rc;
    const LevelScaleSteps steps = level_scale_steps(rec);
    const SearchVariant aniso = aniso_variant(steps, std::move(rows), std::move(cols), true);
    std::vector<Match> cands;
    if (const int rc = search_all_levels(req, rec, st, aniso, cands); rc != 0) return rc;
    return finish_search(req, rec, model_id, st, cands, results, count, pose_source(aniso),
                         HandOutOptions{.keep_scale_col = true});
}

}  // namespace quro

namespace {

int run_aniso_export(const quro::SearchRequest& req, int model_id, const quro::ScaleRanges& r,
                     quro::Match*& results, int& count) {
    return quro::run_search_export(count, [&] {
        return quro::find_aniso_shape_model_impl(req, model_id, r, results, count);
    });
}

}  // namespace

extern "C" QURO_API int find_aniso_shape_model(unsigned char* data, int width, int height,
                                               int model_id, float angle_start, float angle_extent,
                                               float scale_row_min, float scale_row_max,
                                               float scale_col_min, float scale_col_max,
                                               float min_score, int num_matches, float max_overlap,
                                               int subpixel_code, int* levels, float greediness,
                                               quro::Match*& results, int& count) {
    return run_aniso_export(
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr),
        model_id, {scale_row_min, scale_row_max, scale_col_min, scale_col_max}, results, count);
}

extern "C" QURO_API int find_aniso_shape_model_2(unsigned char* data, int width, int height,
                                                 int model_id, float angle_start,
                                                 float angle_extent, float scale_row_min,
                                                 float scale_row_max, float scale_col_min,
                                                 float scale_col_max, float min_score,
                                                 int num_matches, float max_overlap,
                                                 int subpixel_code, int* levels, float greediness,
                                                 unsigned char* mask, quro::Match*& results,
                                                 int& count) {
    return run_aniso_export(
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, mask),
        model_id, {scale_row_min, scale_row_max, scale_col_min, scale_col_max}, results, count);
}

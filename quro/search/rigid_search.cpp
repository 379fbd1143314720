#include "quro/search/rigid_search.h"

#include <algorithm>
#include <vector>

#include "quro/library_start.h"
#include "quro/match/angle_scale_lists.h"
#include "quro/match/select/cluster.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/selection.h"
#include "quro/model_archive.h"
#include "quro/model_table.h"
#include "quro/parallel.h"
#include "quro/search/least_squares_refine.h"
#include "quro/search/search_export.h"
#include "quro/search/top_level.h"
#include "quro/status.h"

namespace quro {
namespace {

// Refines the candidates on one level below the top and filters, clusters or selects them; on
// the last level also runs the sub-pixel mode. Returns -2 on a time-out.
int search_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                 int level, std::vector<Match>& cands) {
    const auto li = static_cast<std::size_t>(level);
    const float step = angle_step(rec, level + 1);
    const int border = normal_map_border(st, rec, level);
    const int cell_value = st.plan.cell_values[li];
    const bool cells = cell_value > 1;
    if (cells) prepare_level_cells(st, rec, level);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;
    const cv::Mat& nx = st.normals.nx[li];
    const cv::Mat& ny = st.normals.ny[li];
    const float level_min = st.min_scores[li];
    admit_candidates_to_level(cands, level_min);
    // With the polarity of the whole model ignored, the top level's choice of polarity is not
    // reliable for fine texture (strokes thinner than a top-level pixel look alike either way):
    // the first level below it settles the polarity itself.
    const bool settle = st.metric < 0 && level == st.plan.top - 1;
    if (settle) leave_polarity_to_settle(cands);

    const RefineLevel lvl{.nx = &nx,
                          .ny = &ny,
                          .border = border,
                          .rec = &rec,
                          .level = level,
                          .last_level = st.plan.last,
                          .angle_step = step,
                          .min_score = level_min,
                          .metric = st.metric,
                          .factor = 2,
                          .sw = &st.sw,
                          .timeout_ms = st.timeout_ms,
                          .cell_value = cell_value,
                          .cell_index = &st.cell_index[li],
                          .cell_order = &st.cell_order[li]};
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        if (cells)
            refine_candidate_cells(lvl, cands[i]);
        else
            refine_candidate(lvl, cands[i]);
        st.stop.check(st.sw, st.timeout_ms);
    });
    if (settle) settle_unconfirmed_polarity(cands);
    if (st.stop.is_set()) return kTimedOut;

    filter_refined_candidates(st, req, level, step, cands);
    if (st.timed_out()) return kTimedOut;
    if (level > st.plan.last) {
        cluster_candidates(cands, step, 0);
        return st.timed_out() ? kTimedOut : kOk;
    }
    select_final_matches(req, st, rec, level, cands);
    if (st.timed_out()) return kTimedOut;

    if (st.plan.mode == kSubpixelPeakFit) {
        parallel_for_index(cands.size(), [&](std::size_t i) {
            if (cells)
                fit_peak_subpixel_cells(lvl, cands[i]);
            else
                fit_peak_subpixel(lvl, cands[i]);
        });
    } else if (least_squares_run(st.plan.mode) != nullptr &&
               st.plan.mode != kSubpixelLeastSquaresFull) {
        refine_least_squares_in_window(req, rec, st, level, level, cands, PoseSource::rigid());
    }
    return kOk;
}

}  // namespace

int find_shape_model_impl(const SearchRequest& req, int model_id, Match*& results, int& count) {
    count = 0;
    if (check_request(req) != 0) return kFailed;
    ensure_library_started();
    auto stored = find_shape_model_record(model_id);
    if (!stored) return kFailed;
    ShapeModelRecord& rec = *stored;
    // Everything that could refuse the search later is checked before the stored model changes.
    if (!search_can_run(req, rec)) return kFailed;
    // The stored model keeps the range of its latest search (a later save writes it).
    set_shape_model_angle_range(rec, req.angle_start, req.angle_extent);

    SearchState st;
    if (const int rc = prepare_search(req, rec, st); rc != 0) return rc;
    std::vector<Match> cands;
    if (const int rc = search_top_level(req, rec, st, TopLevelScan{}, cands); rc != 0) return rc;
    for (int level = st.plan.top - 1; level >= st.plan.last; --level)
        if (const int rc = search_level(req, rec, st, level, cands); rc != 0) return rc;
    return finish_search(req, rec, model_id, st, cands, results, count);
}

}  // namespace quro

extern "C" QURO_API int find_shape_model(unsigned char* data, int width, int height, int model_id,
                                         float angle_start, float angle_extent, float min_score,
                                         int num_matches, float max_overlap, int subpixel_code,
                                         int* levels, float greediness, quro::Match*& results,
                                         int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr);
    return quro::run_search_export(
        count, [&] { return quro::find_shape_model_impl(req, model_id, results, count); });
}

extern "C" QURO_API int find_shape_model_2(unsigned char* data, int width, int height,
                                           int model_id, float angle_start, float angle_extent,
                                           float min_score, int num_matches, float max_overlap,
                                           int subpixel_code, int* levels, float greediness,
                                           unsigned char* mask, quro::Match*& results,
                                           int& count) {
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, mask);
    return quro::run_search_export(
        count, [&] { return quro::find_shape_model_impl(req, model_id, results, count); });
}

#include "quro/search/search_state.h"

#include <algorithm>
#include <cmath>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "quro/match/order_utils.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/select/selection.h"
#include "quro/model_validation.h"
#include "quro/settings.h"
#include "quro/status.h"

namespace quro {

void copy_level_pair(const int* levels, SearchRequest& req) {
    req.levels[0] = levels ? levels[0] : 0;
    req.levels[1] = levels ? levels[1] : 0;
}

int check_request(const SearchRequest& req) {
    return check_search_args(req.data, req.width, req.height, req.angle_start, req.angle_extent,
                             req.min_score, req.max_overlap);
}

bool search_can_run(const SearchRequest& req, const ShapeModelRecord& rec) {
    LevelPlan plan;
    return shape_model_is_consistent(rec) &&
           plan_levels(req.levels, rec.num_levels, req.subpixel_code, plan) &&
           angle_list_fits(rec, plan.top + 1, req.angle_extent);
}

bool copy_record_for_search(const SearchRequest& req, int model_id, ShapeModelRecord& rec) {
    if (!copy_shape_model_record(model_id, rec) || !search_can_run(req, rec)) return false;
    rec.angle_start = req.angle_start;
    rec.angle_extent = req.angle_extent;
    return true;
}

SearchState::~SearchState() {
    const auto holds = [](const std::vector<cv::Mat>& maps) {
        return std::any_of(maps.begin(), maps.end(), [](const cv::Mat& m) { return !m.empty(); });
    };
    if (holds(normals.nx) || holds(normals.ny)) release_in_background(std::move(normals));
}

int prepare_search(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st) {
    st.timeout_ms = rec.timeout_ms;
    st.metric = rec.metric;
    st.min_contrast = search_min_contrast(rec.contrast.min_contrast);
    const int built = std::min<int>(rec.num_levels, static_cast<int>(rec.level_features.size()));
    if (!plan_levels(req.levels, built, req.subpixel_code, st.plan)) return kFailed;
    const int L = st.plan.levels_used;
    st.pyramid = build_search_pyramid(req.data, req.width, req.height, L, st.limit());
    st.mask_pyramid = build_mask_pyramid(req.mask, req.width, req.height, L);
    st.sw.lap("pyrDown");
    if (st.timed_out()) return kTimedOut;
    st.normals.nx.assign(static_cast<std::size_t>(L), cv::Mat());
    st.normals.ny.assign(static_cast<std::size_t>(L), cv::Mat());
    st.min_scores = level_min_scores(
        req.min_score, L,
        st.scale_min < 1.f ? kSmallInstanceLevelScoreFactor : kInnerLevelScoreFactor);
    st.cell_index.assign(static_cast<std::size_t>(L), {});
    st.cell_order.assign(static_cast<std::size_t>(L), {});
    return kOk;
}

int normal_map_border(const SearchState& st, const ShapeModelRecord& rec, int level) {
    const bool peak_fit_here = level == st.plan.last && st.plan.mode == kSubpixelPeakFit;
    if (border_shape_models() <= 0 && !peak_fit_here) return 0;
    const cv::Mat& img = st.pyramid[static_cast<std::size_t>(level)];
    const float cap = static_cast<float>(std::max(img.rows, img.cols)) + 5.f;
    // The radius is finite and >= 0 (validated), the scale finite (check_scale_range).
    const float r = rec.level_radius[static_cast<std::size_t>(level)] * std::max(1.f, st.scale_max);
    const float b = std::ceil(r) + 5.f;
    return static_cast<int>(b < cap ? b : cap);
}

int compute_level_normals(SearchState& st, int level, int border) {
    if (st.timed_out()) return kTimedOut;
    const auto i = static_cast<std::size_t>(level);
    const float threshold = static_cast<float>(st.min_contrast);
    if (!compute_normals(st.pyramid[i], st.normals.nx[i], threshold, st.normals.ny[i], border,
                         KernelPath::automatic, st.limit()))
        return kTimedOut;
    if (i < st.mask_pyramid.size() && !st.mask_pyramid[i].empty())
        _setNxNyZero(st.mask_pyramid[i], st.normals.nx[i], st.normals.ny[i], border);
    return kOk;
}

int top_level_response_maps(const SearchState& st, float radius, std::vector<cv::Mat>& maps) {
    return level_response_maps(st, st.plan.top, radius, st.metric == 0, maps);
}

int level_response_maps(const SearchState& st, int level, float radius, bool polarity_free,
                        std::vector<cv::Mat>& maps) {
    if (st.timed_out()) return kTimedOut;
    cv::Mat codes;
    if (!quantize_orientations_with(st.pyramid[static_cast<std::size_t>(level)], codes,
                                    static_cast<float>(st.min_contrast), radius,
                                    KernelPath::automatic, st.limit()) ||
        !response_maps_with(codes, maps, polarity_free, KernelPath::automatic, st.limit())) {
        maps.clear();
        return kTimedOut;
    }
    return kOk;
}

RefineLevel level_refinement(const SearchState& st, const ShapeModelRecord& rec, int level,
                             int border, float min_score, LevelTemplates* templates) {
    const auto li = static_cast<std::size_t>(level);
    return {.nx = &st.normals.nx[li],
            .ny = &st.normals.ny[li],
            .border = border,
            .rec = &rec,
            .level = level,
            .last_level = st.plan.last,
            .angle_step = angle_step(rec, level + 1),
            .min_score = min_score,
            .metric = st.metric,
            .factor = 2,
            .sw = &st.sw,
            .timeout_ms = st.timeout_ms,
            .cell_value = st.plan.cell_values[li],
            .cell_index = &st.cell_index[li],
            .cell_order = &st.cell_order[li],
            .templates = templates};
}

void prepare_level_cells(SearchState& st, const ShapeModelRecord& rec, int level) {
    const auto i = static_cast<std::size_t>(level);
    if (st.plan.cell_values[i] <= 1 || !st.cell_index[i].empty()) return;
    feature_cell_index(rec, level + 1, st.plan.grid_sizes[i], st.cell_index[i]);
    st.cell_order[i] = argsort_int(st.cell_index[i]);
}

void admit_candidates_to_level(std::vector<Match>& cands, float level_min_score) {
    for (Match& m : cands)
        if (m.score < level_min_score) m.score = level_min_score;
}

void admit_to_next_walk(Match& cand, float level_min_score) {
    if (cand.score > 0.f && cand.score < level_min_score) cand.score = level_min_score;
}

void leave_polarity_to_settle(std::vector<Match>& cands) {
    for (Match& m : cands) m.flag = kPolarityToSettle;
}

void settle_unconfirmed_polarity(std::vector<Match>& cands) {
    for (Match& m : cands)
        if (m.flag == kPolarityToSettle) m.flag = 1;
}

void filter_refined_candidates(const SearchState& st, const SearchRequest& req, int level,
                               float angle_step, std::vector<Match>& cands) {
    const float min_score = st.min_scores[static_cast<std::size_t>(level)];
    const int margin_steps = level > st.plan.last ? 1 : 0;
    std::vector<Match> kept;
    kept.reserve(cands.size());
    for (Match& m : cands) {
        if (!(m.score >= min_score)) continue;
        m.angle = clamp_angle_to_window(m.angle, req.angle_start, req.angle_extent, angle_step,
                                        margin_steps);
        kept.push_back(m);
    }
    cands.swap(kept);
}

int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   std::vector<Match>& cands, const PoseSource& src) {
    return refine_least_squares_in_window(req, rec, st, level, reported_level,
                                          st.plan.levels_used, cands, src);
}

int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   int levels_used, std::vector<Match>& cands,
                                   const PoseSource& src) {
    const std::vector<Match> before = cands;
    if (!refine_matches_least_squares(cands, st.pyramid[static_cast<std::size_t>(level)], level,
                                      levels_used, st.plan.cell_values, st.min_contrast,
                                      st.plan.mode, rec, src, nullptr, st.limit()))
        return kTimedOut;
    const float step = angle_step(rec, reported_level + 1);
    const double lo = static_cast<double>(req.angle_start) - step;
    const double hi = static_cast<double>(req.angle_start) + req.angle_extent + step;
    for (std::size_t i = 0; i < cands.size(); ++i)
        if (!(cands[i].angle >= lo && cands[i].angle <= hi)) cands[i] = before[i];
    return kOk;
}

void select_final_matches(const SearchRequest& req, const SearchState& st,
                          const ShapeModelRecord& rec, int level, std::vector<Match>& cands,
                          bool two_scales) {
    cands.erase(std::remove_if(cands.begin(), cands.end(),
                               [&](const Match& m) { return !(m.score >= req.min_score); }),
                cands.end());
    const cv::Mat& img = st.pyramid[static_cast<std::size_t>(level)];
    (two_scales ? select_matches_aniso : select_matches)(
        req.num_matches, img.cols, img.rows, outline_box(rec, level + 1), req.max_overlap, cands,
        rec, level, st.limit());
}

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
        if (refine_least_squares_in_window(req, rec, st, 0, 0, cands, src) != kOk)
            return kTimedOut;
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

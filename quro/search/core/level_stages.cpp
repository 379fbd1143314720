#include "quro/search/core/level_stages.h"

#include <algorithm>
#include <cmath>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/coarse/response_maps.h"
#include "quro/match/order_utils.h"
#include "quro/match/outline_box.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "quro/match/select/selection.h"
#include "quro/parallel.h"
#include "quro/settings.h"
#include "quro/status.h"

namespace quro {

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

SearchModel single_model(SearchState& st, const ShapeModelRecord& rec) {
    return {&rec, st.metric, &st.plan, &st.cell_index, &st.cell_order, st.alike_poses};
}

LevelInput level_input(const SearchState& st, const SearchModel& m, int level, int border,
                       float min_score) {
    const auto li = static_cast<std::size_t>(level);
    return {.nx = &st.normals.nx[li],
            .ny = &st.normals.ny[li],
            .border = border,
            .rec = m.rec,
            .level = level,
            .min_score = min_score,
            .metric = m.metric,
            .deadline = st.deadline};
}

LevelInput level_input(const SearchState& st, const ShapeModelRecord& rec, int level, int border,
                       float min_score) {
    return level_input(st, SearchModel{&rec, st.metric, &st.plan, nullptr, nullptr}, level, border,
                       min_score);
}

RefineLevel level_refinement(const SearchState& st, const SearchModel& m, int level, int border,
                             float min_score, LevelTemplates* templates) {
    const auto li = static_cast<std::size_t>(level);
    RefineLevel lvl{level_input(st, m, level, border, min_score)};
    lvl.last_level = m.plan->last;
    lvl.angle_step = angle_step(*m.rec, level + 1);
    lvl.factor = 2;
    lvl.cell_value = st.plan.cell_values[li];
    lvl.cell_index = &(*m.cell_index)[li];
    lvl.cell_order = &(*m.cell_order)[li];
    lvl.templates = templates;
    if (m.alike_poses && level == st.plan.last && level == 0)
        lvl.point_step = last_level_point_step(*m.rec, level, lvl.cell_value);
    return lvl;
}

RefineLevel level_refinement(SearchState& st, const ShapeModelRecord& rec, int level, int border,
                             float min_score, LevelTemplates* templates) {
    return level_refinement(st, single_model(st, rec), level, border, min_score, templates);
}

void prepare_level_cells(const SearchState& st, const SearchModel& m, int level) {
    const auto i = static_cast<std::size_t>(level);
    if (st.plan.cell_values[i] <= 1 || !(*m.cell_index)[i].empty()) return;
    feature_cell_index(*m.rec, level + 1, m.plan->grid_sizes[i], (*m.cell_index)[i]);
    (*m.cell_order)[i] = argsort_int((*m.cell_index)[i]);
}

void prepare_level_cells(SearchState& st, const ShapeModelRecord& rec, int level) {
    prepare_level_cells(st, single_model(st, rec), level);
}

void admit_candidates_to_level(std::vector<Match>& cands, float level_min_score) {
    for (Match& m : cands)
        if (m.score < level_min_score) m.score = level_min_score;
}

void admit_to_next_walk(Match& cand, float level_min_score) {
    if (cand.score > 0.f && cand.score < level_min_score) cand.score = level_min_score;
}

int score_alike_poses(const SearchState& st, const LevelModels& models,
                      std::vector<Match>& cands) {
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        Match& c = cands[i];
        const RefineLevel& lvl = models.of(c).lvl;
        if (lvl.point_step > 0 && c.score > 0.f) c.score = score_at_pose(lvl, c);
        st.stop.check(st.deadline);
    });
    return st.stop.is_set() ? kTimedOut : kOk;
}

void filter_refined_candidates(const SearchState& st, const SearchRequest& req, int level,
                               const LevelModels& models, std::vector<Match>& cands) {
    const int margin_steps = level > st.plan.last ? 1 : 0;
    std::vector<Match> kept;
    kept.reserve(cands.size());
    for (Match& m : cands) {
        const RefineLevel& lvl = models.of(m).lvl;
        if (!(m.score >= lvl.min_score)) continue;
        m.angle = clamp_angle_to_window(m.angle, req.angle_start, req.angle_extent, lvl.angle_step,
                                        margin_steps);
        kept.push_back(m);
    }
    cands.swap(kept);
}

void filter_refined_candidates(const SearchState& st, const SearchRequest& req, int level,
                               float angle_step, std::vector<Match>& cands) {
    ModelLevel part;
    part.lvl.angle_step = angle_step;
    part.lvl.min_score = st.min_scores[static_cast<std::size_t>(level)];
    filter_refined_candidates(st, req, level, LevelModels{&part}, cands);
}

int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   std::vector<Match>& cands, const PoseSource& src) {
    return refine_least_squares_in_window(req, rec, st, level, reported_level, st.plan.levels_used,
                                          cands, src);
}

int refine_least_squares_in_window(const SearchRequest& req, const ShapeModelRecord& rec,
                                   const SearchState& st, int level, int reported_level,
                                   int levels_used, std::vector<Match>& cands,
                                   const PoseSource& src) {
    const std::vector<Match> before = cands;
    const auto li = static_cast<std::size_t>(level);
    const LeastSquaresLevel lvl{.image = &st.pyramid[li],
                                .level = level,
                                .levels_used = levels_used,
                                .cell_value = st.plan.cell_values[li],
                                .min_contrast = st.min_contrast};
    if (!refine_matches_least_squares(cands, lvl, st.plan.mode, rec, src, nullptr, st.limit()))
        return kTimedOut;
    const float step = angle_step(rec, reported_level + 1);
    const double lo = static_cast<double>(req.angle_start) - step;
    const double hi = static_cast<double>(req.angle_start) + req.angle_extent + step;
    for (std::size_t i = 0; i < cands.size(); ++i)
        if (!(cands[i].angle >= lo && cands[i].angle <= hi)) cands[i] = before[i];
    return kOk;
}

namespace {

// The candidates that can reach the caller: those at min_score or above.
void drop_below_min_score(const SearchRequest& req, std::vector<Match>& cands) {
    cands.erase(std::remove_if(cands.begin(), cands.end(),
                               [&](const Match& m) { return !(m.score >= req.min_score); }),
                cands.end());
}

}  // namespace

void select_final_matches(const SearchRequest& req, const SearchState& st,
                          const ShapeModelRecord& rec, int level, std::vector<Match>& cands,
                          bool two_scales) {
    drop_below_min_score(req, cands);
    const cv::Mat& img = st.pyramid[static_cast<std::size_t>(level)];
    (two_scales ? select_matches_aniso : select_matches)(
        req.num_matches, img.size(), outline_box(rec, level + 1), req.max_overlap, cands, rec,
        level, st.limit());
}

void select_final_matches(const SearchRequest& req, const SearchState& st,
                          const ModelRecords& records, const ModelIdIndex& index, int level,
                          std::vector<Match>& cands) {
    drop_below_min_score(req, cands);
    const cv::Mat& img = st.pyramid[static_cast<std::size_t>(level)];
    select_matches_multi(req.num_matches, img.size(), req.max_overlap, cands, records, index, level,
                         st.limit());
}

}  // namespace quro

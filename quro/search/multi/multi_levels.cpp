#include "quro/search/multi/multi_levels.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/outline_box.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/cluster.h"
#include "quro/match/select/selection.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/parallel.h"
#include "quro/search/core/angle_profile.h"
#include "quro/search/core/level_loop.h"
#include "quro/status.h"

namespace quro {

namespace {

// The response maps of every model's top level, each level's built once with the box of the
// first model whose top it is (whose radius sets the frame of the direction codes). Returns 0 or
// -2.
int top_level_maps(MultiSearchState& ms, std::vector<std::vector<cv::Mat>>& maps,
                   std::vector<OutlineBox>& boxes) {
    const auto depth = static_cast<std::size_t>(ms.shared.plan.levels_used);
    maps.assign(depth, {});
    boxes.assign(depth, {});
    std::vector<bool> built(depth, false);
    for (const MultiModel& m : ms.models) {
        const auto top = static_cast<std::size_t>(m.plan.top);
        if (built[top]) continue;
        boxes[top] = outline_box(*m.rec, m.plan.top + 1);
        if (level_response_maps(ms.shared, m.plan.top, boxes[top].radius, false, maps[top]) != 0)
            return kTimedOut;
        built[top] = true;
    }
    return kOk;
}

// The level data of the models that reach `level` (their top at or above it; the others have
// no candidate there, and their record may lack the level): the cell partition where the level
// uses cells, and the part of each, as in the rigid search: the first level below a model's top
// settles the polarity of its candidates, and a model whose top levels tell no angles apart has
// its candidates' angles re-seeded from `angles[i]` (filled here) on its re-seeding level; each
// candidate of a model whose level above looks alike under shifts is also refined from those
// shifts either side (`shifts[i]`, filled here).
std::vector<ModelLevel> model_levels(const SearchRequest& req, MultiSearchState& ms, int level,
                                     int border, std::vector<std::vector<float>>& angles,
                                     std::vector<std::vector<cv::Point2f>>& shifts,
                                     std::vector<std::unique_ptr<LevelTemplates>>& templates) {
    SearchState& st = ms.shared;
    const auto li = static_cast<std::size_t>(level);
    std::vector<ModelLevel> lvls(ms.models.size());
    angles.resize(ms.models.size());
    shifts.resize(ms.models.size());
    templates.resize(ms.models.size());
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        MultiModel& m = ms.models[i];
        if (m.plan.top < level) continue;
        const bool seeds = level == m.angle_seed_level;
        if (seeds) angle_list(*m.rec, angles[i], level + 1, req.angle_extent, req.angle_start);
        // The candidates of the level below a model's top start at its top angles: their walks
        // share the posed templates.
        if (level == m.plan.top - 1 || seeds) templates[i] = std::make_unique<LevelTemplates>();
        prepare_level_cells(st, m.view(), level);
        const RefineLevel lvl = level_refinement(st, m.view(), level, border, m.min_scores[li],
                                                 templates[i].get());
        if (level < m.plan.top) shifts[i] = alike_shifts(*m.rec, level + 2);
        lvls[i] = {lvl, m.rec->metric < 0 && level == m.plan.top - 1,
                   seeds ? &angles[i] : nullptr,
                   m.angle_seed_level > level ? 2.f * lvl.angle_step : 0.f, &shifts[i]};
    }
    return lvls;
}

// The clustering angle step of each model that reaches `level` (clustering_angle_step).
std::vector<float> clustering_steps(const MultiSearchState& ms, int level) {
    std::vector<float> steps(ms.models.size(), 0.f);
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        const MultiModel& m = ms.models[i];
        if (m.plan.top >= level)
            steps[i] = clustering_angle_step(*m.rec, m.angle_seed_level, level);
    }
    return steps;
}

// Border of the level's normal maps: none when the level uses cells (the cell refinement and the
// multi peak fit address the maps directly), else the widest border any model reaching the level
// needs.
int multi_normal_border(const MultiSearchState& ms, int level) {
    if (ms.shared.plan.cell_values[static_cast<std::size_t>(level)] > 1) return 0;
    int border = 0;
    for (const MultiModel& m : ms.models)
        if (m.plan.top >= level)
            border = std::max(border, normal_map_border(ms.shared, *m.rec, level));
    return border;
}

// The sub-pixel mode on the last level, each candidate with its own model. Returns 0, or -2 when
// the time-out passed before every candidate was refined.
int multi_subpixel(const SearchRequest& req, MultiSearchState& ms, int level,
                   const LevelModels& models, std::vector<Match>& cands) {
    const SearchState& st = ms.shared;
    const int mode = st.plan.mode;
    if (mode == kSubpixelPeakFit) {
        parallel_for_index(cands.size(), [&](std::size_t i) {
            if (st.stop.is_set()) return;
            fit_peak_subpixel_multi(models.of(cands[i]).lvl, req.greediness, cands[i]);
            st.stop.check(st.deadline);
        });
        return st.stop.is_set() ? kTimedOut : kOk;
    }
    if (least_squares_run(mode) == nullptr || mode == kSubpixelLeastSquaresFull) return kOk;
    // Least squares per model, on the model's candidates in list order.
    for (const MultiModel& m : ms.models) {
        std::vector<std::size_t> at;
        std::vector<Match> own;
        for (std::size_t i = 0; i < cands.size(); ++i)
            if (cands[i].model_id == m.id) {
                at.push_back(i);
                own.push_back(cands[i]);
            }
        if (own.empty()) continue;
        if (refine_least_squares_in_window(req, *m.rec, st, level, level, m.plan.levels_used, own,
                                           PoseSource::rigid()) != kOk)
            return kTimedOut;
        for (std::size_t k = 0; k < at.size(); ++k) cands[at[k]] = own[k];
    }
    return kOk;
}

// `first` followed by `then`, into `then`.
void put_before(std::vector<Match>&& first, std::vector<Match>& then) {
    first.insert(first.end(), then.begin(), then.end());
    then.swap(first);
}

}  // namespace

int multi_top_stage(const SearchRequest& req, MultiSearchState& ms) {
    SearchState& st = ms.shared;
    std::vector<std::vector<cv::Mat>> maps;
    std::vector<OutlineBox> boxes;
    if (top_level_maps(ms, maps, boxes) != 0) return kTimedOut;

    // All models' angles in one scan, joined in model order, then angle order.
    std::vector<TopScan> scans(ms.models.size());
    std::vector<float> angles;
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        const MultiModel& m = ms.models[i];
        const auto top = static_cast<std::size_t>(m.plan.top);
        angle_list(*m.rec, angles, m.plan.top + 1, req.angle_extent, req.angle_start);
        scans[i] = {m.rec.get(), m.plan.top, m.rec->metric, m.min_scores[top], &maps[top],
                    &boxes[top], top_level_poses({1.f}, {}, angles)};
    }
    std::vector<std::vector<Match>> per_model;
    if (scan_top_poses(st, scans, false, per_model) != kOk) return kTimedOut;

    // Each model's candidates are thinned on their own (thousands per model on textured
    // scenes), so the models run side by side and their lists are filed in model order after.
    parallel_for_index(ms.models.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const MultiModel& m = ms.models[i];
        std::vector<Match>& cands = per_model[i];
        for (Match& c : cands) c.model_id = m.id;
        const int top = m.plan.top;
        if (top == m.plan.last) {
            // Not yet the final selection (other models may go on below): no count limit and no
            // drop below min_score here.
            const cv::Mat& img = st.pyramid[static_cast<std::size_t>(top)];
            select_matches(0, img.size(), outline_box(*m.rec, top + 1), req.max_overlap, cands,
                           *m.rec, top, st.limit());
        } else {
            cluster_candidates(cands, clustering_angle_step(*m.rec, m.angle_seed_level, top), 0,
                               st.limit());
        }
    });
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        auto& list = ms.top_stage[static_cast<std::size_t>(ms.models[i].plan.top)];
        list.insert(list.end(), per_model[i].begin(), per_model[i].end());
    }
    st.sw.lap("topLevel");
    return st.timed_out() ? kTimedOut : kOk;
}

int multi_search_level(const SearchRequest& req, MultiSearchState& ms, int level,
                       std::vector<Match>& cands) {
    SearchState& st = ms.shared;
    const auto li = static_cast<std::size_t>(level);
    const int border = multi_normal_border(ms, level);
    std::vector<std::vector<float>> angles;
    std::vector<std::vector<cv::Point2f>> shifts;
    std::vector<std::unique_ptr<LevelTemplates>> templates;
    const std::vector<ModelLevel> parts =
        model_levels(req, ms, level, border, angles, shifts, templates);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;
    const LevelModels models{parts.data(), &ms.index};
    if (refine_spread_candidates(st, models, SearchVariant{}, cands) != kOk) return kTimedOut;
    filter_refined_candidates(st, req, level, models, cands);
    if (st.timed_out()) return kTimedOut;
    if (level > st.plan.last) {
        const std::vector<float> steps = clustering_steps(ms, level);
        cluster_candidates_multi(cands, ms.records, ms.index, 0, level, st.limit(), &steps);
        put_before(std::move(ms.top_stage[li]), cands);
        return st.timed_out() ? kTimedOut : kOk;
    }
    // The models whose top is the last level compete in the final selection with the others.
    put_before(std::move(ms.top_stage[li]), cands);
    select_final_matches(req, st, ms.records, ms.index, st.plan.last, cands);
    if (st.timed_out()) return kTimedOut;
    return multi_subpixel(req, ms, level, models, cands);
}

}  // namespace quro

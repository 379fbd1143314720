// The level stages of the multi-model search (multi_search.h).
#include <algorithm>
#include <memory>
#include <utility>

#include <tbb/enumerable_thread_specific.h>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/score_accumulation.h"
#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/cluster.h"
#include "quro/match/select/selection.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/match/templates.h"
#include "quro/parallel.h"
#include "quro/search/multi_search.h"
#include "quro/status.h"

namespace quro {

namespace {

// One pose of the top stage: a model and one of its angles.
struct ModelAngle {
    int model;
    float angle;
};

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
// uses cells, and the refinement of each.
std::vector<RefineLevel> model_levels(MultiSearchState& ms, int level, int border,
                                      std::vector<std::unique_ptr<LevelTemplates>>& templates) {
    SearchState& st = ms.shared;
    const auto li = static_cast<std::size_t>(level);
    const int cell_value = st.plan.cell_values[li];
    std::vector<RefineLevel> lvls(ms.models.size());
    templates.resize(ms.models.size());
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        MultiModel& m = ms.models[i];
        if (m.plan.top < level) continue;
        // The candidates of the level below a model's top start at its top angles: their walks
        // share the posed templates.
        if (level == m.plan.top - 1) templates[i] = std::make_unique<LevelTemplates>();
        if (cell_value > 1 && m.cell_index[li].empty()) {
            feature_cell_index(*m.rec, level + 1, m.plan.grid_sizes[li], m.cell_index[li]);
            m.cell_order[li] = argsort_int(m.cell_index[li]);
        }
        RefineLevel& lvl = lvls[i];
        static_cast<LevelInput&>(lvl) = {.nx = &st.normals.nx[li],
                                         .ny = &st.normals.ny[li],
                                         .border = border,
                                         .rec = m.rec.get(),
                                         .level = level,
                                         .min_score = m.min_scores[li],
                                         .metric = m.rec->metric,
                                         .deadline = st.deadline};
        lvl.last_level = m.plan.last;
        lvl.angle_step = angle_step(*m.rec, level + 1);
        lvl.factor = 2;
        lvl.cell_value = cell_value;
        lvl.cell_index = &m.cell_index[li];
        lvl.cell_order = &m.cell_order[li];
        lvl.templates = templates[i].get();
    }
    return lvls;
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
                   const std::vector<RefineLevel>& lvls, std::vector<Match>& cands) {
    const SearchState& st = ms.shared;
    const int mode = st.plan.mode;
    if (mode == kSubpixelPeakFit) {
        parallel_for_index(cands.size(), [&](std::size_t i) {
            if (st.stop.is_set()) return;
            const RefineLevel& lvl = lvls[static_cast<std::size_t>(ms.index.at(cands[i].model_id))];
            fit_peak_subpixel_multi(lvl, req.greediness, cands[i]);
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

// After a level's refinement: drops each candidate below its model's minimum score of the level
// and brings the others' angles back into the window (one of its model's steps of margin above
// the last level).
void filter_multi_candidates(const SearchRequest& req, const MultiSearchState& ms, int level,
                             const std::vector<RefineLevel>& lvls, std::vector<Match>& cands) {
    const int margin_steps = level > ms.shared.plan.last ? 1 : 0;
    std::vector<Match> kept;
    kept.reserve(cands.size());
    for (Match& m : cands) {
        const RefineLevel& lvl = lvls[static_cast<std::size_t>(ms.index.at(m.model_id))];
        if (!(m.score >= lvl.min_score)) continue;
        m.angle = clamp_angle_to_window(m.angle, req.angle_start, req.angle_extent,
                                        lvl.angle_step, margin_steps);
        kept.push_back(m);
    }
    cands.swap(kept);
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

    // All models' angles in one loop (a few models with few angles each would leave cores idle),
    // each pose into its own slot; joined in model order, then angle order.
    std::vector<ModelAngle> poses;
    std::vector<std::size_t> first_pose(ms.models.size() + 1, 0);
    std::vector<float> angles;
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        const MultiModel& m = ms.models[i];
        angle_list(*m.rec, angles, m.plan.top + 1, req.angle_extent, req.angle_start);
        for (const float a : angles) poses.push_back({static_cast<int>(i), a});
        first_pose[i + 1] = poses.size();
    }
    std::vector<std::vector<Match>> per_pose(poses.size());
    tbb::enumerable_thread_specific<std::pair<cv::Mat, cv::Mat>> score_buffers;
    parallel_for_index(poses.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const MultiModel& m = ms.models[static_cast<std::size_t>(poses[i].model)];
        const auto top = static_cast<std::size_t>(m.plan.top);
        QuantizedTemplate tpl;
        quantized_template(*m.rec, tpl, m.plan.top + 1, 1.f, poses[i].angle);
        auto& [score, polarity] = score_buffers.local();
        const ScoreScope scope{MapValues::responses,
                               peak_read_window(maps[top][0].size(), tpl, boxes[top])};
        accumulate_similarity(maps[top], tpl, m.rec->metric, score, polarity, st.deadline, scope);
        // The peak margin is the frame the level's direction codes were built with.
        extract_peaks(score, tpl, m.min_scores[top], kCoarseOverlapLimit, boxes[top],
                      poses[i].angle, 1.f, per_pose[i], st.deadline, polarity);
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;

    // Each model's candidates are thinned on their own (thousands per model on textured
    // scenes), so the models run side by side and their lists are filed in model order after.
    std::vector<std::vector<Match>> per_model(ms.models.size());
    parallel_for_index(ms.models.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const MultiModel& m = ms.models[i];
        std::vector<Match>& cands = per_model[i];
        for (std::size_t p = first_pose[i]; p < first_pose[i + 1]; ++p)
            cands.insert(cands.end(), per_pose[p].begin(), per_pose[p].end());
        for (Match& c : cands) c.model_id = m.id;
        const int top = m.plan.top;
        if (top == m.plan.last) {
            // Not yet the final selection (other models may go on below): no count limit and no
            // drop below min_score here.
            const cv::Mat& img = st.pyramid[static_cast<std::size_t>(top)];
            select_matches(0, img.size(), outline_box(*m.rec, top + 1), req.max_overlap, cands,
                           *m.rec, top, st.limit());
        } else {
            cluster_candidates(cands, angle_step(*m.rec, top + 1), 0, st.limit());
        }
    });
    for (std::size_t i = 0; i < ms.models.size(); ++i) {
        auto& list = ms.top_stage[static_cast<std::size_t>(ms.models[i].plan.top)];
        list.insert(list.end(), per_model[i].begin(), per_model[i].end());
    }
    st.sw.lap("topLevel");
    return st.timed_out() ? kTimedOut : kOk;
}

void select_final_multi(const SearchRequest& req, MultiSearchState& ms,
                        std::vector<Match>& cands) {
    const SearchState& st = ms.shared;
    cands.erase(std::remove_if(cands.begin(), cands.end(),
                               [&](const Match& m) { return !(m.score >= req.min_score); }),
                cands.end());
    const int level = st.plan.last;
    const cv::Mat& img = st.pyramid[static_cast<std::size_t>(level)];
    select_matches_multi(req.num_matches, img.size(), req.max_overlap, cands, ms.records, ms.index,
                         level, st.limit());
}

int multi_search_level(const SearchRequest& req, MultiSearchState& ms, int level,
                       std::vector<Match>& cands) {
    SearchState& st = ms.shared;
    const auto li = static_cast<std::size_t>(level);
    const int border = multi_normal_border(ms, level);
    std::vector<std::unique_ptr<LevelTemplates>> templates;
    const std::vector<RefineLevel> lvls = model_levels(ms, level, border, templates);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;

    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        Match& c = cands[i];
        const MultiModel& m = ms.model_of(c);
        const RefineLevel& lvl = lvls[static_cast<std::size_t>(ms.index.at(c.model_id))];
        // As in the rigid search: admitted at this level's minimum, and with the polarity of the
        // whole model ignored, the first level below the model's top settles the polarity.
        if (c.score < lvl.min_score) c.score = lvl.min_score;
        const bool settle = lvl.metric < 0 && level == m.plan.top - 1;
        if (settle) c.flag = kPolarityToSettle;
        refine_candidate(lvl, c);
        if (settle && c.flag == kPolarityToSettle) c.flag = 1;
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;

    filter_multi_candidates(req, ms, level, lvls, cands);
    if (st.timed_out()) return kTimedOut;
    if (level > st.plan.last) {
        cluster_candidates_multi(cands, ms.records, ms.index, 0, level, st.limit());
        put_before(std::move(ms.top_stage[li]), cands);
        return st.timed_out() ? kTimedOut : kOk;
    }
    // The models whose top is the last level compete in the final selection with the others.
    put_before(std::move(ms.top_stage[li]), cands);
    select_final_multi(req, ms, cands);
    if (st.timed_out()) return kTimedOut;
    return multi_subpixel(req, ms, level, lvls, cands);
}

}  // namespace quro

#include "quro/search/deform/deformable_search.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <tbb/parallel_invoke.h>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/model_pose.h"
#include "quro/parallel.h"
#include "quro/result_registry.h"
#include "quro/search/core/angle_profile.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/level_loop.h"
#include "quro/search/core/search_export.h"
#include "quro/status.h"

namespace quro {
namespace {

// The whole pixel nearest to a candidate's exact position becomes its x, y; the rest dx, dy.
void settle_whole_pixel(Match& m) {
    const float fx = static_cast<float>(m.x) + m.dx, fy = static_cast<float>(m.y) + m.dy;
    m.x = round_posed(fx);
    m.y = round_posed(fy);
    m.dx = fx - static_cast<float>(m.x);
    m.dy = fy - static_cast<float>(m.y);
}

// The rigid levels top .. boundary of the anisotropic search, without a sub-pixel step. The
// boundary clusters its candidates as a level above the last does, keeping several angles per
// place: its angles are not yet reliable, and the deformable levels judge them (selected there,
// the best score of a level whose coarse points look alike at many angles kept a wrong angle of
// small round models and lost the right one). The angles are re-seeded where the whole descent
// would re-seed them (angle_profile.h), also when that level is a deformable one. A single level
// searched (no deformable level) selects as a last level.
int search_rigid_levels(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                        const SearchVariant& aniso, int boundary, std::vector<Match>& cands) {
    const LevelPlan plan = st.plan;
    st.angle_seed_level = angle_seed_level(rec, plan.top, plan.last);
    st.plan.last = boundary > plan.last ? boundary - 1 : boundary;
    st.plan.mode = kSubpixelNone;
    SearchRequest upper = req;
    upper.min_score = 0.f;
    upper.num_matches = 0;
    int rc = search_top_level(upper, rec, st, aniso, cands);
    for (int level = plan.top - 1; rc == kOk && level >= boundary; --level)
        rc = search_level(upper, rec, st, aniso, level, cands);
    st.plan = plan;
    return rc;
}

// Spreads the candidates' angles as the anisotropic search's own level would, refines each one
// rigidly on the level (position, angle, both scales; score: the rigid score there) and keeps
// the best rigid pose of each place (the selection with the top level's overlap limit, no score
// limit), so that the deformable refinement starts from the level's best rigid pose once per
// place. `stage` as in search_deformable_level.
int settle_rigid_poses(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                       const SearchVariant& aniso, int level, int border, int stage,
                       std::vector<Match>& cands) {
    prepare_level_cells(st, rec, level);
    const bool seeds = level == st.angle_seed_level;
    std::vector<float> angles;
    if (seeds) angle_list(rec, angles, level + 1, req.angle_extent, req.angle_start);
    ModelLevel part{level_refinement(st, rec, level, border, 0.f, nullptr), false,
                    seeds ? &angles : nullptr,
                    st.angle_seed_level > level ? 2.f * angle_step(rec, level + 1) : 0.f};
    part.lvl.factor = 1;
    std::vector<int> moved_from;  // none: the part holds no alike shifts
    spread_level_poses(LevelModels{&part}, cands, moved_from);
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        Match& m = cands[i];
        const int px = m.x, py = m.y;
        aniso.refine(part.lvl, m);
        if (stage == 0) {
            m.dx = m.dy = 0.f;
        } else {
            m.dx = std::clamp(m.dx + static_cast<float>(px - m.x), -0.5f, 0.5f);
            m.dy = std::clamp(m.dy + static_cast<float>(py - m.y), -0.5f, 0.5f);
        }
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;
    SearchRequest places = req;
    places.min_score = 0.f;
    places.num_matches = 0;
    places.max_overlap = kCoarseOverlapLimit;
    select_final_matches(places, st, rec, level, cands, true);
    return st.timed_out() ? kTimedOut : kOk;
}

// One deformable level: every candidate refined with its field, then the level's filter.
// `stage` counts the deformable levels from 0, `boundary_count` is the boundary level counted from
// 1 at the last level searched.
int search_deformable_level(const SearchRequest& req, const ShapeModelRecord& rec,
                            SearchState& st, const SearchVariant& aniso, int level, int stage,
                            int boundary_count, const std::vector<int>& neighbours,
                            std::vector<Match>& cands, std::vector<DeformField>& work) {
    const auto li = static_cast<std::size_t>(level);
    const int border = normal_map_border(st, rec, level);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;
    // The candidates' exact positions move to this level as the hand-out moves them (with the
    // level's centre shift). Each candidate then takes the level's rigid refinement about its
    // whole pixel: the deformable one starts from the best rigid pose of this level. Below a
    // deformable level it starts at the exact position carried down when that rounds to the
    // rigid pixel, else at the point of the rigid pixel nearest to it; below the rigid levels,
    // whose positions are whole pixels (the carried fraction is only the centre shift's), at the
    // rigid pixel itself.
    move_to_finer_level(cands, level + 1, level, {.rec = &rec, .two_scales = true});
    for (Match& m : cands) settle_whole_pixel(m);
    if (settle_rigid_poses(req, rec, st, aniso, level, border, stage, cands) != kOk)
        return kTimedOut;
    // Each candidate left takes its own field, seeded from the one it was spread from.
    std::vector<DeformField> seeds(cands.size());
    for (std::size_t i = 0; i < cands.size(); ++i) {
        seeds[i] = work[static_cast<std::size_t>(cands[i].model_id)];
        cands[i].model_id = static_cast<int>(i);
    }
    work.swap(seeds);
    const float level_min = st.min_scores[li];
    admit_candidates_to_level(cands, level_min);
    DeformLevel lvl{level_input(st, rec, level, border, level_min)};
    lvl.last = level == st.plan.last;
    lvl.stage = deform_stage(stage);
    lvl.neighbours = &neighbours;
    lvl.neighbour_count = deform_neighbour_count(boundary_count);
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        refine_deformable(lvl, cands[i], work[static_cast<std::size_t>(cands[i].model_id)]);
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;
    filter_refined_candidates(st, req, level, angle_step(rec, level + 1), cands);
    return st.timed_out() ? kTimedOut : kOk;
}

// The least squares poses the model through the match's field: each posed point (about the
// match's centre) moves by the field's displacement at its place in the field rectangle.
PoseSource deformed_pose_source(const SearchVariant& aniso, const std::vector<DeformField>& work) {
    PoseSource src = pose_source(aniso);
    src.move_points = [&work](const Match& cand, std::vector<Feature>& pts) {
        const auto i = static_cast<std::size_t>(cand.model_id);
        if (i >= work.size() || work[i].empty()) return;
        const DeformField& f = work[i];
        const float ox = static_cast<float>(cand.x - f.rect.x) + cand.dx;
        const float oy = static_cast<float>(cand.y - f.rect.y) + cand.dy;
        for (Feature& p : pts) {
            float dx, dy;
            field_displacement(f, p.x + ox, p.y + oy, dx, dy);
            p.x += dx;
            p.y += dy;
        }
    };
    return src;
}

// The nearest neighbours of the model points each deformable level relates, the level `boundary`
// - 1 - s at entry s: they depend on the model alone.
std::vector<std::vector<int>> deformable_neighbours(const ShapeModelRecord& rec, int boundary,
                                                    int last) {
    std::vector<std::vector<int>> lists(static_cast<std::size_t>(std::max(0, boundary - last)));
    const int k = deform_neighbour_count(boundary - last + 1);
    for (std::size_t stage = 0; stage < lists.size(); ++stage) {
        const int s = deform_stage(static_cast<int>(stage));
        FeatureGrid grid;
        feature_neighbours(rec, grid, boundary - static_cast<int>(stage), kDeformGridDivisor[s], k,
                           lists[stage], kDeformPointStep[s]);
    }
    return lists;
}

// A heap copy of a continuous float map, or null.
float* copy_map(const cv::Mat& m) {
    const std::size_t n = m.total();
    auto* out = static_cast<float*>(std::malloc(n * sizeof(float)));
    if (out == nullptr) return nullptr;
    if (m.isContinuous()) {
        std::memcpy(out, m.ptr<float>(), n * sizeof(float));
    } else {
        for (int r = 0; r < m.rows; ++r)
            std::memcpy(out + static_cast<std::size_t>(r) * static_cast<std::size_t>(m.cols),
                        m.ptr<float>(r), static_cast<std::size_t>(m.cols) * sizeof(float));
    }
    return out;
}

}  // namespace

int deformable_boundary(int top, int last) {
    const int h = top - last + 1;
    const int p = h - (h - 1) / 2;
    return last + p - 1;
}

int hand_out_fields(const std::vector<Match>& cands, int count,
                    const std::vector<DeformField>& work, VectorField*& fields) noexcept {
    fields = nullptr;
    if (count <= 0) return 0;
    auto* block = new (std::nothrow) VectorField[static_cast<std::size_t>(count)];
    if (block == nullptr) return kFailed;
    for (int i = 0; i < count && i < static_cast<int>(cands.size()); ++i) {
        const auto w = static_cast<std::size_t>(cands[static_cast<std::size_t>(i)].model_id);
        if (w >= work.size() || work[w].empty()) continue;
        const DeformField& f = work[w];
        VectorField& v = block[i];
        v.map_x = copy_map(f.map_x);
        v.map_y = copy_map(f.map_y);
        if (v.map_x == nullptr || v.map_y == nullptr) {
            delete[] block;
            return kFailed;
        }
        v.x = f.rect.x;
        v.y = f.rect.y;
        v.width = f.map_x.cols;
        v.height = f.map_x.rows;
    }
    try {
        const int handle = register_result(kResultFields, block, count);
        fields = block;
        return handle;
    } catch (...) {
        delete[] block;
        return kFailed;
    }
}

int find_local_deformable_model_impl(const SearchRequest& req, int model_id,
                                     const ScaleRanges& ranges, Match*& results, int& count,
                                     VectorField*& fields, int& fields_handle) {
    count = 0;
    fields = nullptr;
    fields_handle = 0;
    ShapeModelRecord rec;
    SearchState st;
    std::vector<float> rows, cols;
    if (const int rc = prepare_aniso_search(req, model_id, ranges, rec, st, rows, cols); rc != 0)
        return rc;
    const LevelScaleSteps steps = level_scale_steps(rec);
    // The rigid levels end above the last level here, and the fields take up what the scales
    // leave: trying the range ends there moved bent parts (max error 0.415 -> 0.441 px).
    const SearchVariant aniso = aniso_variant(steps, std::move(rows), std::move(cols), false);
    const int last = st.plan.last;
    const int boundary = deformable_boundary(st.plan.top, last);
    std::vector<Match> cands;
    // The deformable levels' neighbour lists are found while the rigid levels search.
    std::vector<std::vector<int>> neighbours;
    int rigid_rc = kOk;
    tbb::parallel_invoke(
        [&] { rigid_rc = search_rigid_levels(req, rec, st, aniso, boundary, cands); },
        [&] { neighbours = deformable_neighbours(rec, boundary, last); });
    if (rigid_rc != 0) return rigid_rc;

    // From here on a candidate's model_id is its index into `work`, which keeps each field in
    // place while the candidates are filtered, sorted and selected.
    std::vector<DeformField> work(cands.size());
    for (std::size_t i = 0; i < cands.size(); ++i) cands[i].model_id = static_cast<int>(i);
    for (int level = boundary - 1; level >= last; --level)
        if (const int rc = search_deformable_level(
                req, rec, st, aniso, level, boundary - 1 - level, boundary - last + 1,
                neighbours[static_cast<std::size_t>(boundary - 1 - level)], cands, work);
            rc != 0)
            return rc;
    if (boundary > last) {
        select_final_matches(req, st, rec, last, cands, true);
        if (st.timed_out()) return kTimedOut;
    }
    if (least_squares_run(st.plan.mode) != nullptr && st.plan.mode != kSubpixelLeastSquaresFull &&
        refine_least_squares_in_window(req, rec, st, last, last, cands,
                                       deformed_pose_source(aniso, work)) != kOk)
        return kTimedOut;
    st.sw.lap("matchEnd");
    scale_back_to_full_resolution(cands, last, req.min_score, true,
                                  {.rec = &rec, .two_scales = true});
    release_in_background(std::move(st.normals));
    const int handle = hand_out_matches(cands, req.num_matches, model_id,
                                        {.keep_scale_col = true,
                                         .angle_start = req.angle_start,
                                         .angle_extent = req.angle_extent},
                                        results, count);
    if (handle > 0) fields_handle = hand_out_fields(cands, count, work, fields);
    return handle;
}

}  // namespace quro

extern "C" QURO_API int find_local_deformable_model(
    unsigned char* data, int width, int height, int model_id, float angle_start,
    float angle_extent, float scale_row_min, float scale_row_max, float scale_col_min,
    float scale_col_max, float min_score, int num_matches, float max_overlap, int subpixel_code,
    int* levels, float greediness, quro::Match*& results, int& count, quro::VectorField*& fields,
    int& fields_handle) {
    fields = nullptr;
    fields_handle = 0;
    const quro::SearchRequest req =
        quro::make_request(data, width, height, angle_start, angle_extent, min_score, num_matches,
                           max_overlap, subpixel_code, levels, greediness, nullptr);
    const quro::ScaleRanges ranges{scale_row_min, scale_row_max, scale_col_min, scale_col_max};
    return quro::run_search_export(count, [&] {
        return quro::find_local_deformable_model_impl(req, model_id, ranges, results, count,
                                                      fields, fields_handle);
    });
}

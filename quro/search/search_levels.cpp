#include "quro/search/search_levels.h"

#include <algorithm>
#include <utility>

#include <tbb/enumerable_thread_specific.h>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/score_accumulation.h"
#include "quro/match/outline_box.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/select/cluster.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/match/templates.h"
#include "quro/parallel.h"
#include "quro/search/angle_profile.h"
#include "quro/status.h"

namespace quro {
namespace {

// The angle step by which a level's clustering tells candidates apart. Above the level that
// re-seeds the angles, the angles tell nothing: one candidate per place goes on (per scale, for
// the variants that keep scales apart), the one scoring best.
float clustering_angle_step(const ShapeModelRecord& rec, const SearchState& st, int level) {
    return level > st.angle_seed_level && st.angle_seed_level >= 0 ? 360.f
                                                                   : angle_step(rec, level + 1);
}

// Replaces every candidate by copies at every second angle of the level's angle list over the
// search range: walks from there reach every peak of the level's angle profile.
void seed_angles(const SearchRequest& req, const ShapeModelRecord& rec, int level,
                 std::vector<Match>& cands) {
    std::vector<float> angles;
    angle_list(rec, angles, level + 1, req.angle_extent, req.angle_start);
    std::vector<Match> seeded;
    seeded.reserve(cands.size() * ((angles.size() + 1) / 2));
    for (const Match& c : cands)
        for (std::size_t k = 0; k < angles.size(); k += 2) {
            seeded.push_back(c);
            seeded.back().angle = angles[k];
        }
    cands.swap(seeded);
}

// Adds to every candidate two copies turned by -offset and +offset.
void add_angle_neighbours(std::vector<Match>& cands, float offset) {
    const std::size_t n = cands.size();
    cands.reserve(3 * n);
    for (std::size_t i = 0; i < n; ++i)
        for (const float d : {-offset, offset}) {
            cands.push_back(cands[i]);
            cands.back().angle += d;
        }
}

}  // namespace

std::vector<AnisoPose> top_level_poses(const std::vector<float>& row_scales,
                                       const std::vector<float>& col_scales,
                                       const std::vector<float>& angles) {
    std::vector<AnisoPose> poses;
    const std::size_t cols = col_scales.empty() ? 1 : col_scales.size();
    poses.reserve(row_scales.size() * cols * angles.size());
    for (const float r : row_scales)
        for (std::size_t j = 0; j < cols; ++j)
            for (const float a : angles)
                poses.push_back({r, col_scales.empty() ? r : col_scales[j], a});
    return poses;
}

int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const SearchVariant& variant, std::vector<Match>& cands) {
    const int top = st.plan.top;
    const OutlineBox box = outline_box(rec, top + 1);
    std::vector<cv::Mat> maps;
    if (top_level_response_maps(st, box.radius, maps) != 0) return kTimedOut;

    std::vector<float> angles;
    angle_list(rec, angles, top + 1, req.angle_extent, req.angle_start);
    const std::vector<AnisoPose> poses =
        top_level_poses(variant.top_scales, variant.top_col_scales, angles);
    const bool two_scales = variant.two_scales();
    std::vector<std::vector<Match>> per_pose(poses.size());
    const float level_min = st.min_scores[static_cast<std::size_t>(top)];
    // Each thread scores its poses into the same two images: no page faults per pose.
    tbb::enumerable_thread_specific<std::pair<cv::Mat, cv::Mat>> score_buffers;
    parallel_for_index(poses.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const AnisoPose& pose = poses[i];
        QuantizedTemplate tpl;
        if (two_scales)
            quantized_template_aniso(rec, tpl, top + 1, pose.scale_row, pose.scale_col,
                                     pose.angle);
        else
            quantized_template(rec, tpl, top + 1, pose.scale_row, pose.angle);
        auto& [score, polarity] = score_buffers.local();
        // Only the positions the peak extraction reads.
        const ScoreScope scope{MapValues::responses, peak_read_window(maps[0].size(), tpl, box)};
        accumulate_similarity(maps, tpl, st.metric, score, polarity, st.deadline, scope);
        if (two_scales)
            extract_peaks_aniso(score, tpl, level_min, kCoarseOverlapLimit, box, pose.angle,
                                pose.scale_row, pose.scale_col, per_pose[i], st.deadline, polarity);
        else
            extract_peaks(score, tpl, level_min, kCoarseOverlapLimit, box, pose.angle,
                          pose.scale_row, per_pose[i], st.deadline, polarity);
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;
    std::size_t total = 0;
    for (const auto& l : per_pose) total += l.size();
    cands.reserve(total);
    for (const auto& l : per_pose) cands.insert(cands.end(), l.begin(), l.end());

    if (top == st.plan.last)
        select_final_matches(req, st, rec, top, cands, variant.two_scales());
    else
        cluster_level_candidates(variant, cands, top, clustering_angle_step(rec, st, top),
                                 st.limit());
    st.sw.lap("topLevel");
    return st.timed_out() ? kTimedOut : kOk;
}

int search_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                 const SearchVariant& variant, int level, std::vector<Match>& cands) {
    const auto li = static_cast<std::size_t>(level);
    const float step = angle_step(rec, level + 1);
    const int border = normal_map_border(st, rec, level);
    prepare_level_cells(st, rec, level);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;
    const float level_min = st.min_scores[li];
    admit_candidates_to_level(cands, level_min);
    // With the polarity of the whole model ignored, the top level's choice of polarity is not
    // reliable for fine texture (strokes thinner than a top-level pixel look alike either way):
    // the first level below it settles the polarity itself.
    const bool settle = st.metric < 0 && level == st.plan.top - 1;
    if (settle) leave_polarity_to_settle(cands);
    const bool seeds = level == st.angle_seed_level;
    if (seeds) seed_angles(req, rec, level, cands);
    if (st.angle_seed_level > level) add_angle_neighbours(cands, 2.f * step);

    // The rigid candidates of the level below the top start at the top level's angles: their
    // walks share the posed templates.
    LevelTemplates templates;
    const bool share = !variant.refine && (level == st.plan.top - 1 || seeds);
    const RefineLevel lvl =
        level_refinement(st, rec, level, border, level_min, share ? &templates : nullptr);
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        if (variant.refine)
            variant.refine(lvl, cands[i]);
        else
            refine_candidate(lvl, cands[i]);
        st.stop.check(st.deadline);
    });
    if (settle) settle_unconfirmed_polarity(cands);
    if (st.stop.is_set()) return kTimedOut;

    filter_refined_candidates(st, req, level, step, cands);
    if (st.timed_out()) return kTimedOut;
    if (level > st.plan.last) {
        cluster_level_candidates(variant, cands, level, clustering_angle_step(rec, st, level),
                                 st.limit());
        return st.timed_out() ? kTimedOut : kOk;
    }
    select_final_matches(req, st, rec, level, cands, variant.two_scales());
    if (st.timed_out()) return kTimedOut;

    if (st.plan.mode == kSubpixelPeakFit) {
        parallel_for_index(cands.size(), [&](std::size_t i) {
            if (st.stop.is_set()) return;
            fit_peak_subpixel(lvl, cands[i]);
            st.stop.check(st.deadline);
        });
        if (st.stop.is_set()) return kTimedOut;
    } else if (least_squares_run(st.plan.mode) != nullptr &&
               st.plan.mode != kSubpixelLeastSquaresFull) {
        return refine_least_squares_in_window(req, rec, st, level, level, cands,
                                              pose_source(variant));
    }
    return kOk;
}

int search_all_levels(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                      const SearchVariant& variant, std::vector<Match>& cands) {
    st.angle_seed_level = angle_seed_level(rec, st.plan.top, st.plan.last);
    int rc = search_top_level(req, rec, st, variant, cands);
    for (int level = st.plan.top - 1; rc == kOk && level >= st.plan.last; --level)
        rc = search_level(req, rec, st, variant, level, cands);
    return rc;
}

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

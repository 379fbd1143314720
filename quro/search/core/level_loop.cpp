#include "quro/search/core/level_loop.h"

#include <algorithm>
#include <utility>

#include <tbb/enumerable_thread_specific.h>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/coarse/peak_extraction.h"
#include "quro/match/coarse/score_accumulation.h"
#include "quro/match/outline_box.h"
#include "quro/match/refine/refine_candidate.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/match/templates.h"
#include "quro/model_pose.h"
#include "quro/numeric.h"
#include "quro/parallel.h"
#include "quro/search/core/angle_profile.h"
#include "quro/status.h"

namespace quro {

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

float clustering_angle_step(const ShapeModelRecord& rec, int seed_level, int level) {
    return level > seed_level && seed_level >= 0 ? 360.f : angle_step(rec, level + 1);
}

void spread_level_poses(const LevelModels& models, std::vector<Match>& cands,
                        std::vector<int>& moved_from) {
    std::vector<Match> spread;
    spread.reserve(cands.size());
    for (const Match& c : cands) {
        const std::vector<float>* angles = models.of(c).seed_angles;
        if (angles == nullptr) {
            spread.push_back(c);
            continue;
        }
        for (std::size_t k = 0; k < angles->size(); k += 2) {
            spread.push_back(c);
            spread.back().angle = (*angles)[k];
        }
    }
    const std::size_t n = spread.size();
    spread.reserve(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const float offset = models.of(spread[i]).neighbour_offset;
        if (offset > 0.f)
            for (const float d : {-offset, offset}) {
                spread.push_back(spread[i]);
                spread.back().angle += d;
            }
    }
    const std::size_t turned = spread.size();
    moved_from.assign(turned, -1);
    for (std::size_t i = 0; i < turned; ++i) {
        const std::vector<cv::Point2f>* shifts = models.of(spread[i]).alike_shifts;
        if (shifts == nullptr || shifts->empty()) continue;
        const Match c = spread[i];
        const float scale = std::isfinite(c.scale_row) && c.scale_row > 0.f ? c.scale_row : 1.f;
        const PoseRotation r = pose_rotation(c.angle);
        for (const cv::Point2f& t : *shifts) {
            const PoseVec v = pose_position(r, t.x, t.y, scale, scale);
            const int dx = round_half_away(v.x), dy = round_half_away(v.y);
            for (const int sign : {-1, 1}) {
                spread.push_back(c);
                spread.back().x += sign * dx;
                spread.back().y += sign * dy;
                moved_from.push_back(static_cast<int>(i));
            }
        }
    }
    cands.swap(spread);
}

void drop_repeated_copies(const LevelModels& models, const std::vector<int>& moved_from,
                          std::vector<Match>& cands) {
    if (moved_from.size() != cands.size()) return;
    // The refined candidates that are no copies, by row, then column.
    std::vector<std::size_t> found;
    for (std::size_t j = 0; j < cands.size(); ++j)
        if (moved_from[j] < 0 && cands[j].score > 0.f) found.push_back(j);
    if (found.size() == cands.size()) return;
    const auto before = [&](std::size_t j, std::pair<int, int> yx) {
        return std::pair(cands[j].y, cands[j].x) < yx;
    };
    std::sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
        return before(a, {cands[b].y, cands[b].x});
    });
    const int reach = static_cast<int>(kSamePlace);
    const auto repeated = [&](const Match& copy) {
        for (int y = copy.y - reach; y <= copy.y + reach; ++y)
            for (auto it = std::lower_bound(found.begin(), found.end(),
                                            std::pair(y, copy.x - reach), before);
                 it != found.end() && cands[*it].y == y && cands[*it].x <= copy.x + reach; ++it) {
                const Match& m = cands[*it];
                if (m.model_id == copy.model_id &&
                    std::hypot(static_cast<float>(copy.x - m.x),
                               static_cast<float>(copy.y - m.y)) <= kSamePlace &&
                    std::fabs(wrap_angle_180(copy.angle - m.angle)) <=
                        2.f * models.of(m).lvl.angle_step)
                    return true;
            }
        return false;
    };
    std::vector<Match> kept;
    kept.reserve(cands.size());
    for (std::size_t i = 0; i < cands.size(); ++i)
        if (moved_from[i] < 0 || !repeated(cands[i])) kept.push_back(cands[i]);
    cands.swap(kept);
}

int refine_spread_candidates(const SearchState& st, const LevelModels& models,
                             const SearchVariant& variant, std::vector<Match>& cands) {
    std::vector<int> moved_from;
    spread_level_poses(models, cands, moved_from);
    if (refine_level_candidates(st, models, variant, cands) != kOk ||
        score_alike_poses(st, models, cands) != kOk)
        return kTimedOut;
    drop_repeated_copies(models, moved_from, cands);
    return kOk;
}

int scan_top_poses(const SearchState& st, const std::vector<TopScan>& scans, bool two_scales,
                   std::vector<std::vector<Match>>& found) {
    std::vector<std::pair<std::size_t, std::size_t>> poses;  // (scan, pose)
    for (std::size_t k = 0; k < scans.size(); ++k)
        for (std::size_t p = 0; p < scans[k].poses.size(); ++p) poses.emplace_back(k, p);
    std::vector<std::vector<Match>> per_pose(poses.size());
    // Each thread scores its poses into the same two images: no page faults per pose.
    tbb::enumerable_thread_specific<std::pair<cv::Mat, cv::Mat>> score_buffers;
    parallel_for_index(poses.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        const TopScan& scan = scans[poses[i].first];
        const AnisoPose& pose = scan.poses[poses[i].second];
        const int model_level = scan.level + 1;
        QuantizedTemplate tpl;
        if (two_scales)
            quantized_template_aniso(*scan.rec, tpl, model_level, pose.scale_row, pose.scale_col,
                                     pose.angle);
        else
            quantized_template(*scan.rec, tpl, model_level, pose.scale_row, pose.angle);
        auto& [score, polarity] = score_buffers.local();
        const std::vector<cv::Mat>& maps = *scan.maps;
        // Only the positions the peak extraction reads.
        const ScoreScope scope{MapValues::responses,
                               peak_read_window(maps[0].size(), tpl, *scan.box)};
        accumulate_similarity(maps, tpl, scan.metric, score, polarity, st.deadline, scope);
        // The peak margin is the frame the level's direction codes were built with.
        if (two_scales)
            extract_peaks_aniso(score, tpl, scan.min_score, kCoarseOverlapLimit, *scan.box,
                                pose.angle, pose.scale_row, pose.scale_col, per_pose[i],
                                st.deadline, polarity);
        else
            extract_peaks(score, tpl, scan.min_score, kCoarseOverlapLimit, *scan.box, pose.angle,
                          pose.scale_row, per_pose[i], st.deadline, polarity);
        st.stop.check(st.deadline);
    });
    if (st.stop.is_set()) return kTimedOut;
    found.assign(scans.size(), {});
    std::size_t first = 0;
    for (std::size_t k = 0; k < scans.size(); ++k) {
        const std::size_t end = first + scans[k].poses.size();
        std::size_t total = 0;
        for (std::size_t i = first; i < end; ++i) total += per_pose[i].size();
        found[k].reserve(total);
        for (std::size_t i = first; i < end; ++i)
            found[k].insert(found[k].end(), per_pose[i].begin(), per_pose[i].end());
        first = end;
    }
    return kOk;
}

int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const SearchVariant& variant, std::vector<Match>& cands) {
    const int top = st.plan.top;
    const OutlineBox box = outline_box(rec, top + 1);
    std::vector<cv::Mat> maps;
    if (top_level_response_maps(st, box.radius, maps) != 0) return kTimedOut;

    std::vector<float> angles;
    angle_list(rec, angles, top + 1, req.angle_extent, req.angle_start);
    const std::vector<TopScan> scans = {
        {&rec, top, st.metric, st.min_scores[static_cast<std::size_t>(top)], &maps, &box,
         top_level_poses(variant.top_scales, variant.top_col_scales, angles)}};
    std::vector<std::vector<Match>> found;
    if (scan_top_poses(st, scans, variant.two_scales(), found) != kOk) return kTimedOut;
    if (cands.empty())
        cands.swap(found[0]);
    else
        cands.insert(cands.end(), found[0].begin(), found[0].end());

    if (top == st.plan.last)
        select_final_matches(req, st, rec, top, cands, variant.two_scales());
    else
        cluster_level_candidates(variant, cands, top,
                                 clustering_angle_step(rec, st.angle_seed_level, top), st.limit());
    st.sw.lap("topLevel");
    return st.timed_out() ? kTimedOut : kOk;
}

int refine_level_candidates(const SearchState& st, const LevelModels& models,
                            const SearchVariant& variant, std::vector<Match>& cands) {
    parallel_for_index(cands.size(), [&](std::size_t i) {
        if (st.stop.is_set()) return;
        Match& c = cands[i];
        const ModelLevel& part = models.of(c);
        const RefineLevel& lvl = part.lvl;
        if (c.score < lvl.min_score) c.score = lvl.min_score;
        if (part.settles_polarity) c.flag = kPolarityToSettle;
        if (variant.refine)
            variant.refine(lvl, c);
        else
            refine_candidate(lvl, c);
        if (part.settles_polarity && c.flag == kPolarityToSettle) c.flag = 1;
        st.stop.check(st.deadline);
    });
    return st.stop.is_set() ? kTimedOut : kOk;
}

int search_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                 const SearchVariant& variant, int level, std::vector<Match>& cands) {
    const auto li = static_cast<std::size_t>(level);
    const float step = angle_step(rec, level + 1);
    const int border = normal_map_border(st, rec, level);
    prepare_level_cells(st, rec, level);
    if (compute_level_normals(st, level, border) != 0) return kTimedOut;
    const float level_min = st.min_scores[li];
    const bool seeds = level == st.angle_seed_level;
    std::vector<float> angles;
    if (seeds) angle_list(rec, angles, level + 1, req.angle_extent, req.angle_start);

    // The rigid candidates of the level below the top start at the top level's angles: their
    // walks share the posed templates.
    LevelTemplates templates;
    const bool share = !variant.refine && (level == st.plan.top - 1 || seeds);
    // With the polarity of the whole model ignored, the top level's choice of polarity is not
    // reliable for fine texture (strokes thinner than a top-level pixel look alike either way):
    // the first level below it settles the polarity itself.
    const std::vector<cv::Point2f> shifts = alike_shifts(rec, level + 2);
    const ModelLevel part{
        level_refinement(st, rec, level, border, level_min, share ? &templates : nullptr),
        st.metric < 0 && level == st.plan.top - 1, seeds ? &angles : nullptr,
        st.angle_seed_level > level ? 2.f * step : 0.f, &shifts};
    const RefineLevel& lvl = part.lvl;
    const LevelModels models{&part};
    if (refine_spread_candidates(st, models, variant, cands) != kOk) return kTimedOut;

    filter_refined_candidates(st, req, level, models, cands);
    if (st.timed_out()) return kTimedOut;
    if (level > st.plan.last) {
        cluster_level_candidates(variant, cands, level,
                                 clustering_angle_step(rec, st.angle_seed_level, level),
                                 st.limit());
        return st.timed_out() ? kTimedOut : kOk;
    }
    select_final_matches(req, st, rec, level, cands, variant.two_scales());
    if (st.timed_out()) return kTimedOut;

    if (st.plan.mode == kSubpixelPeakFit) {
        parallel_for_index(cands.size(), [&](std::size_t i) {
            if (st.stop.is_set()) return;
            fit_peak_subpixel(lvl, cands[i]);
            if (variant.peak_fit_extra) variant.peak_fit_extra(lvl, cands[i]);
            st.stop.check(st.deadline);
        });
        if (st.stop.is_set()) return kTimedOut;
    } else if (least_squares_run(st.plan.mode) != nullptr &&
               st.plan.mode != kSubpixelLeastSquaresFull) {
        // On a last level above full resolution the two scales' scores hardly change across their
        // ranges: as unknowns of the least squares they ran to the range ends and the position took
        // up the error (a pixel). There the peak fit's scale profiles set them, held in the steps.
        PoseSource src = pose_source(variant);
        if (level > 0 && variant.two_scales() && variant.peak_fit_extra) {
            src.refine_scales = false;
            for (Match& m : cands) variant.peak_fit_extra(lvl, m);
        }
        return refine_least_squares_in_window(req, rec, st, level, level, cands, src);
    }
    return kOk;
}

int search_all_levels(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                      const SearchVariant& variant, std::vector<Match>& cands) {
    st.angle_seed_level = angle_seed_level(rec, st.plan.top, st.plan.last);
    st.alike_poses = carries_alike_poses(rec, st.angle_seed_level, st.plan.top, st.plan.last);
    int rc = search_top_level(req, rec, st, variant, cands);
    for (int level = st.plan.top - 1; rc == kOk && level >= st.plan.last; --level)
        rc = search_level(req, rec, st, variant, level, cands);
    return rc;
}

}  // namespace quro

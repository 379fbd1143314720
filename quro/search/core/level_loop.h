// The level loop of a single-model search: the exhaustive scan of the top level, where every
// pose (scale, angle) is scored on the response maps and its peaks become candidates, and the
// refinement of the candidates on each level below it.
//
// The stages of a search, in order (files below quro/search/; the kernels they call are named
// in brackets, below quro/match/). The single-model searches (single/) run every row through
// search_all_levels; the multi-model search (multi/multi_levels.cpp) runs the same stages with
// one part per model, the deformable search (deform/) the anisotropic one and then its own
// refinement (match/deform/).
//
//   stage          file                      function
//   request        core/search_request.cpp   check_request, copy_record_for_search
//   set-up         core/search_state.cpp     prepare_search (core/level_plan.cpp: plan_levels,
//                                            core/search_input.cpp: the pyramids)
//                  core/angle_profile.cpp    angle_seed_level
//   top level      core/level_stages.cpp     top_level_response_maps [coarse/]
//                  core/level_loop.cpp       search_top_level, scan_top_poses [templates.cpp,
//                                            coarse/score_accumulation, coarse/peak_extraction]
//                  core/search_variant.cpp   cluster_level_candidates [select/cluster]
//   each level     core/level_stages.cpp     prepare_level_cells [refine/feature_cells],
//   below the top                            compute_level_normals [refine/normals],
//                                            level_refinement
//                  core/level_loop.cpp       search_level: refine_spread_candidates:
//                                            spread_level_poses, refine_level_candidates
//                                            [refine/refine_candidate, refine/scale_refine
//                                            through the variant], drop_repeated_copies
//                  core/level_stages.cpp     score_alike_poses, filter_refined_candidates
//                  core/search_variant.cpp   cluster_level_candidates (above the last level)
//   last level     core/level_stages.cpp     select_final_matches [select/selection]
//                  core/level_loop.cpp       the sub-pixel mode: fit_peak_subpixel
//                                            [subpixel/peak_fit], or
//                  core/level_stages.cpp     refine_least_squares_in_window
//                                            [subpixel/least_squares_refine]
//   finish         core/search_finish.cpp    finish_search: full-resolution least squares,
//                  core/hand_out.cpp         scale_back_to_full_resolution, hand_out_matches,
//                  core/normal_maps.cpp      release_in_background
#ifndef QURO_SEARCH_CORE_LEVEL_LOOP_H
#define QURO_SEARCH_CORE_LEVEL_LOOP_H

#include <vector>

#include "quro/match/outline_box.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/search/core/level_stages.h"
#include "quro/search/core/search_state.h"
#include "quro/search/core/search_variant.h"

namespace quro {

// One pose of the top-level scan: row scale, column scale, angle in degrees.
struct AnisoPose {
    float scale_row = 1.f;
    float scale_col = 1.f;
    float angle = 0.f;
};

// Every (row scale, column scale, angle) pose: row scale i, column scale j and angle k stand at
// (i * col_scales.size() + j) * angles.size() + k. Empty `col_scales`: the column scale is the
// row scale, and pose (i, k) stands at i * angles.size() + k.
std::vector<AnisoPose> top_level_poses(const std::vector<float>& row_scales,
                                       const std::vector<float>& col_scales,
                                       const std::vector<float>& angles);

// One model's share of a top-level scan: its record, top level (0-based) and metric, the minimum
// score of its peaks, the response maps and outline box it is scored with, and its poses.
struct TopScan {
    const ShapeModelRecord* rec = nullptr;
    int level = 0;
    int metric = 0;
    float min_score = 0.f;
    const std::vector<cv::Mat>* maps = nullptr;
    const OutlineBox* box = nullptr;
    std::vector<AnisoPose> poses;
};

// Scores every pose of every model in one parallel loop (a few models with few poses each would
// leave cores idle), each pose into its own slot: its template posed with both scales when
// `two_scales` is set (else with the row scale), the similarity accumulated on the model's maps
// over the positions the peak extraction reads, and the peaks above the model's minimum score
// extracted with the coarse overlap limit. found[k] receives the candidates of scans[k] in pose
// order. Returns 0, or -2 on a time-out.
int scan_top_poses(const SearchState& st, const std::vector<TopScan>& scans, bool two_scales,
                   std::vector<std::vector<Match>>& found);

// Scores every pose (the variant's top scales times the top level's angle list) in one parallel
// loop, joins the candidates in pose order, then selects the final matches (top level = last
// level) or clusters them as the variant does. Returns 0, or -2 on a time-out.
int search_top_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                     const SearchVariant& variant, std::vector<Match>& cands);

// The angle step by which the clustering of `level` tells a model's candidates apart: 360 above
// the level `seed_level` that re-seeds its angles (the angles there tell nothing: one candidate
// per place goes on, per scale for the variants that keep scales apart, the one scoring best),
// else the model's angle step of the level. A `seed_level` of -1: no re-seeding.
float clustering_angle_step(const ShapeModelRecord& rec, int seed_level, int level);

// Before a level's refinement, by each candidate's model part: a part with seed angles replaces
// the candidate by copies at every second of them (walks from there reach every peak of the
// level's angle profile); then every candidate of a part with a neighbour offset gets two copies
// turned by -offset and +offset, appended after all candidates in their order; then every
// candidate so far of a part with alike shifts gets two copies per shift t, moved by -t and +t
// posed at its angle and scale (in the level above's pixels, rounded half away from zero),
// appended in the same way. moved_from[i] receives, for each candidate, the index of the one a moved
// copy was made from, or -1.
void spread_level_poses(const LevelModels& models, std::vector<Match>& cands,
                        std::vector<int>& moved_from);

// After the refinement of spread candidates: drops each moved copy that settled on the place of a
// refined candidate that is no moved copy (of its model, scoring above 0, within kSamePlace pixels
// and two of its level's angle steps): that peak was found without the copies, and keeps the pose
// it was found at (a copy refined from elsewhere settles a pixel or an angle sample off it, which
// changed the matches of instances found before). Nothing happens when moved_from does not hold
// one entry per candidate.
inline constexpr float kSamePlace = 2.f;
void drop_repeated_copies(const LevelModels& models, const std::vector<int>& moved_from,
                          std::vector<Match>& cands);

// The spread, refinement and scoring of a level's candidates as the rigid and multi-model levels
// run them: spread_level_poses, refine_level_candidates, score_alike_poses, then
// drop_repeated_copies. Returns 0, or -2 on a time-out.
int refine_spread_candidates(const SearchState& st, const LevelModels& models,
                             const SearchVariant& variant, std::vector<Match>& cands);

// Refines every candidate on `level` below its model's top with its model's part of the level
// (in parallel), the variant's refinement or else refine_candidate (refine_candidate_cells where
// the level uses cells). Each candidate is first admitted at its part's minimum score
// (admit_candidates_to_level); where the part settles the polarity, the refinement tries both
// (kPolarityToSettle) and a candidate it could not confirm gets polarity 1, so that no match
// leaves the search without one. Returns 0, or -2 on a time-out.
int refine_level_candidates(const SearchState& st, const LevelModels& models,
                            const SearchVariant& variant, std::vector<Match>& cands);

// Refines the candidates on `level` below the top with the variant's refinement, then filters,
// clusters (as the variant does) or selects them; on the last level also runs the sub-pixel
// mode. Returns 0, or -2 on a time-out.
int search_level(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                 const SearchVariant& variant, int level, std::vector<Match>& cands);

// The whole coarse-to-fine descent of a single-model search: the top level, then every level
// below it down to st.plan.last. Returns 0, or -2 on a time-out (the candidates are left as the
// stage that timed out left them).
int search_all_levels(const SearchRequest& req, const ShapeModelRecord& rec, SearchState& st,
                      const SearchVariant& variant, std::vector<Match>& cands);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_LEVEL_LOOP_H

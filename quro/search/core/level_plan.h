// The plan of a search: which pyramid levels it runs on, the sub-pixel mode and cell values of
// each, the minimum score of each level, and how a refined angle is kept in the search window.
// A search with a plan of its own (the scaled, anisotropic, multi-model and deformable searches)
// builds it from plan_levels and adds its own fields.
#ifndef QURO_SEARCH_CORE_LEVEL_PLAN_H
#define QURO_SEARCH_CORE_LEVEL_PLAN_H

#include <vector>

#include "quro/match/subpixel/subpixel_mode.h"

namespace quro {

// Which pyramid levels a search runs on and how it refines them. Levels are 0-based here
// (0 = full resolution).
struct LevelPlan {
    int levels_used = 0;  // L: pyramid levels built
    int top = 0;          // L - 1: exhaustive level
    int last = 0;         // lowest level searched
    int mode = 0;         // SubpixelMode (may be negative)
    std::vector<int> cell_values;  // per level; above 1: cell-partitioned refinement
    std::vector<int> grid_sizes;   // per level; the cell grid of levels whose cell value > 1
};

// Overlap limit of the top level's box suppression, whatever the caller's max_overlap. That
// suppression compares axis-parallel template boxes of one angle on the coarsest level; with the
// caller's limit there, of two overlapping instances the better one could be suppressed by a peak
// of the other before either was measured, and a limit above this one (as 1, "no suppression")
// let other hypotheses reach the lower levels, so that a match's pose and score depended on
// max_overlap. The caller's limit applies in the final selection only, to rotated boxes on the
// last level; the top level only removes near duplicates.
inline constexpr float kCoarseOverlapLimit = 0.7f;

// Resolves the caller's level pair {first, last} (1-based; null means {0, 0}) and the sub-pixel
// code against a model of `num_levels` levels. Returns false when the model has no levels.
bool plan_levels(const int* levels, int num_levels, int subpixel_code, LevelPlan& plan);

// The plan of one model of a multi-model search from its level pair (non-null) {first, last}.
// first as in plan_levels; the last level searched is one finer than plan_levels would stop at:
// last = max(0, pair[1] - 2) when 1 <= pair[1] <= levels used, else full resolution. The
// full-resolution least-squares mode does not move the last level. Returns false when the model
// has no levels or the pair is null.
bool plan_model_levels(const int* pair, int num_levels, int subpixel_code, LevelPlan& plan);

// Fills the plan's sub-pixel mode, cell values and cell grid sizes from the sub-pixel code, for
// levels_used levels with the cell grid walked from plan.top down.
void plan_modes_and_cells(int subpixel_code, LevelPlan& plan);

// Factors of a search's minimum score on the coarse levels, for every metric; full resolution
// always takes the minimum score itself.
// The coarse levels score lower than full resolution, and the top level most: its quantised
// score counts only points that fall on a pixel of agreeing direction, and on a level 8 or 16
// times coarser than the image the rounding of the posed points and the resampling of the
// pyramid move an instance's edges by up to a pixel. For finely textured models (print,
// engraving, knurling, photos) and for occluded instances the top-level score was measured at
// 0.51-0.6 of the full-resolution score in the worst cases (0.75-0.85 typically), so the top
// level keeps candidates down to 0.55 of the minimum score; a factor of 0.9 there lost instances
// that score 0.85-0.95 at full resolution. The levels in between score with the same dot
// products as full resolution and keep 0.9: factors of 1 below the top lost a quarter of the
// instances of photo scenes, 0.9 lost none.
inline constexpr float kTopLevelScoreFactor = 0.55f;
inline constexpr float kInnerLevelScoreFactor = 0.9f;
// Instances smaller than the model lose more on the coarse levels: their outline covers fewer
// pixels there, and a scale refinement still a step from its peak scores them lower. At scale
// 0.8-0.85 instances scoring 0.83-0.93 at full resolution were measured at 0.60-0.80 on level 3
// (a factor down to 0.85 of the minimum score); a search whose scale range reaches below 1 keeps
// 0.8 on the levels between the top and full resolution.
inline constexpr float kSmallInstanceLevelScoreFactor = 0.8f;

// Minimum score of each level: full resolution takes min_score, the top level min_score times
// kTopLevelScoreFactor and the levels between min_score times kInnerLevelScoreFactor, whatever
// the metric; a single-level search takes 0.9 * min_score there (its matches are filtered at
// min_score at the end). Coarse levels must not lose what full resolution would accept: a
// polarity-free model (metric 0) loses as much texture detail on them as any other, so it takes
// the same factors. `inner_factor` replaces kInnerLevelScoreFactor (a scaled search whose range
// reaches below 1 passes kSmallInstanceLevelScoreFactor).
std::vector<float> level_min_scores(float min_score, int levels_used,
                                    float inner_factor = kInnerLevelScoreFactor);

// Brings a refined angle back into the search window [start, start + extent]. On a level above
// the last (`margin_steps` = 1) the window is widened by one angle step on each side; on the last
// level (0) it is exact. An angle outside goes to the nearer end (the start on a tie).
float clamp_angle_to_window(float angle, float start, float extent, float step, int margin_steps);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_LEVEL_PLAN_H

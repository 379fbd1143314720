// What the refinement of one pyramid level reads, as a search builds it once per level: the
// level's input, its angle step and cell partition, and the polarity flag a walk is to settle.
#ifndef QURO_MATCH_REFINE_REFINE_LEVEL_H
#define QURO_MATCH_REFINE_REFINE_LEVEL_H

#include <cstddef>
#include <vector>

#include "quro/match/level_input.h"
#include "quro/match/refine/level_templates.h"
#include "quro/match/templates.h"
#include "quro/model_pose.h"
#include "quro/model_transforms.h"

namespace quro {

// Flag of a candidate whose contrast polarity the refinement is to settle (refine_candidate.h).
// A walk that accepts no sample leaves it, with score 0.
inline constexpr signed char kPolarityToSettle = 0;

// One level's refinement, as a search builds it once per level: the level's input (level_input.h;
// `level` is the 0-based level refined to), the lowest level the search reaches, the level's angle
// step (degrees), the ratio of the candidates' level to this one (normally 2), and for a level
// with cells (cell_value > 1) the level's cell partition (cell_index from feature_cell_index for
// level + 1, cell_order its stable argsort).
struct RefineLevel : LevelInput {
    int last_level = 0;
    float angle_step = 0.f;
    int factor = 2;
    int cell_value = 1;
    const std::vector<int>* cell_index = nullptr;
    const std::vector<int>* cell_order = nullptr;
    // Whether the level scores on its cell partition: every refinement and peak fit of the level
    // chooses its cell variant by this.
    bool uses_cells() const { return cell_value > 1; }
    // The level's shared posed templates (level_templates.h), or null: each walk poses its own.
    // One object per RefineLevel and cell choice; the results are the same either way.
    LevelTemplates* templates = nullptr;
    // The step between the model points score_at_pose scores on this level (every point_step-th
    // point); 0: the level's default sampling (template_point_step), as the walks score. A
    // search's last level that decides between alike poses scores at least kMinScoredPoints
    // points where the model level has that many (last_level_point_step).
    int point_step = 0;
};

// The mean over fewer points of a level errs by more than the few hundredths that tell a model
// from itself a period off (a page a line off, a rim a tooth off).
inline constexpr std::size_t kMinScoredPoints = 100;

// The point step of `level` (0-based) when it is a search's last level: the default step halved
// until the level's sampled points number at least kMinScoredPoints (or the step is 1); 0 when the
// default already samples that many, or when the level is scored on cells (their partition holds
// the default sampling).
inline int last_level_point_step(const ShapeModelRecord& rec, int level, int cell_value) {
    if (cell_value > 1 || !rec.has_level(level + 1)) return 0;
    const std::size_t n = rec.level(level + 1).features.size();
    const int def = template_point_step(rec, level + 1, 0);
    int step = def;
    while (step > 1 && sampled_count(n, step) < kMinScoredPoints) step /= 2;
    return step == def ? 0 : step;
}

// The level's model points posed at (row scale, column scale, angle), every point_step-th of them
// (RefineLevel::point_step; 0: the level's default sampling).
inline void level_template(const RefineLevel& lvl, NormalTemplate& t, float scale_row,
                           float scale_col, float angle) {
    if (lvl.point_step > 0)
        normal_template_sampled(*lvl.rec, t, lvl.level + 1, scale_row, scale_col, nullptr, nullptr,
                                lvl.point_step, angle);
    else
        normal_template_aniso(*lvl.rec, t, lvl.level + 1, scale_row, scale_col, angle);
}

}  // namespace quro

#endif  // QURO_MATCH_REFINE_REFINE_LEVEL_H

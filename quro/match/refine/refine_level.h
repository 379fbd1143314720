// What the refinement of one pyramid level reads, as a search builds it once per level: the
// level's input, its angle step and cell partition, and the polarity flag a walk is to settle.
#ifndef QURO_MATCH_REFINE_REFINE_LEVEL_H
#define QURO_MATCH_REFINE_REFINE_LEVEL_H

#include <vector>

#include "quro/match/level_input.h"
#include "quro/match/refine/level_templates.h"

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
};

}  // namespace quro

#endif  // QURO_MATCH_REFINE_REFINE_LEVEL_H

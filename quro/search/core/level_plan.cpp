#include "quro/search/core/level_plan.h"

#include <algorithm>
#include <cmath>

#include "quro/numeric.h"

namespace quro {

bool plan_levels(const int* levels, int num_levels, int subpixel_code, LevelPlan& plan) {
    if (num_levels < 1) return false;
    const int first = levels ? levels[0] : 0;
    const int lowest = levels ? levels[1] : 0;
    plan.levels_used = (first >= 1 && first <= num_levels) ? first : num_levels;
    plan.top = plan.levels_used - 1;
    plan.last = (lowest >= 1 && lowest <= plan.levels_used) ? lowest - 1 : 0;
    plan_modes_and_cells(subpixel_code, plan);
    // Least squares at full resolution: stop one level above it (needs a level in between).
    if (plan.mode == kSubpixelLeastSquaresFull && plan.last == 0 && plan.top > 1) plan.last = 1;
    return true;
}

bool plan_model_levels(const int* pair, int num_levels, int subpixel_code, LevelPlan& plan) {
    if (num_levels < 1 || pair == nullptr) return false;
    plan.levels_used = (pair[0] >= 1 && pair[0] <= num_levels) ? pair[0] : num_levels;
    plan.top = plan.levels_used - 1;
    // The pair's last value names the level above the last one searched (1-based), so a last
    // value of 3 stops at 0-based level 1; 1 and 2 both reach full resolution.
    plan.last = (pair[1] >= 1 && pair[1] <= plan.levels_used) ? std::max(0, pair[1] - 2) : 0;
    plan_modes_and_cells(subpixel_code, plan);
    return true;
}

void plan_modes_and_cells(int subpixel_code, LevelPlan& plan) {
    const int units = subpixel_code % 10;  // negative for a negative code
    plan.mode = units < 6 ? units : kSubpixelLeastSquares4;
    const int L = plan.levels_used;
    plan.cell_values.assign(static_cast<std::size_t>(L), 1);
    plan.cell_values[0] = std::clamp(subpixel_code / 10, 0, 32);
    for (int k = 1; k < L; ++k)
        plan.cell_values[k] = std::max(1, plan.cell_values[k - 1] / 2);

    static constexpr int kGridSizes[21] = {2, 3, 3, 4, 4, 4, 5, 5, 5, 5, 6,
                                           6, 6, 6, 6, 7, 7, 7, 7, 7, 7};
    plan.grid_sizes.assign(static_cast<std::size_t>(L), 0);
    int k = 0;
    for (int level = plan.top; level >= 0; --level)
        if (plan.cell_values[level] > 1) plan.grid_sizes[level] = kGridSizes[std::min(k++, 20)];
}

std::vector<float> level_min_scores(float min_score, int levels_used, float inner_factor) {
    std::vector<float> s(static_cast<std::size_t>(std::max(levels_used, 0)), min_score);
    if (s.empty()) return s;
    const int top = levels_used - 1;
    s[top] = static_cast<float>(static_cast<double>(min_score) * 0.9);
    for (int n = top; n >= 1; --n)
        s[n] = min_score * (n == top ? kTopLevelScoreFactor : inner_factor);
    return s;
}

float clamp_angle_to_window(float angle, float start, float extent, float step, int margin_steps) {
    const float m = static_cast<float>(margin_steps);
    const float a = wrap_angle_360(angle - (start - m * step));
    if (std::isnan(a)) return start;
    if (a > extent + 2.f * m * step) {
        const float to_start = std::fabs(wrap_angle_180(angle - start));
        const float to_end = std::fabs(wrap_angle_180(angle - (start + extent)));
        return to_end < to_start ? start + extent : start;
    }
    return start - m * step + a;
}

}  // namespace quro

// Pieces shared by the level walks (the angle walk of refine_candidate.cpp and the scale walks of
// scale_refine.cpp): the entry test, the scorer of a level, the predicted position, the
// acceptance area and the parabola vertex through the last three samples.
#ifndef QURO_MATCH_REFINE_WALK_HELPERS_H
#define QURO_MATCH_REFINE_WALK_HELPERS_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "quro/match/refine/refine_level.h"
#include "quro/match/refine/window_score.h"

namespace quro {

// A map coordinate of the predicted position (border + factor * v), kept within +-2^30 so that
// nothing downstream overflows on a wild candidate.
inline int predicted_coordinate(int border, long long factor, int v) {
    constexpr long long kLimit = 1LL << 30;
    return static_cast<int>(std::clamp(border + factor * v, -kLimit, kLimit));
}

// Whether a scale step can be stepped by: finite and above 0.
inline bool usable_step(float step) {
    return std::isfinite(step) && step > 0.f;
}

// Vertex of the parabola through three (abscissa, score) samples; false when there is none (the
// scores lie on a line, or the result is not finite).
inline bool parabola_vertex(float a1, float s1, float a2, float s2, float a3, float s3,
                            float& vertex) {
    const double m = (static_cast<double>(s1) - s2) / (static_cast<double>(a1) - a2);
    const double q = (m - (static_cast<double>(s2) - s3) / (static_cast<double>(a2) - a3)) /
                     (static_cast<double>(a1) - a3);
    if (q == 0.0 || !std::isfinite(q)) return false;
    const double v = -0.5 * (m - (static_cast<double>(a1) + a2) * q) / q;
    if (!std::isfinite(v) || std::fabs(v) > 3.0e38) return false;
    vertex = static_cast<float>(v);
    return true;
}

// The samples of a walk over one value (angle or scale): trial values (the next one to try last),
// their scores, the direction and the best accepted sample.
struct WalkSamples {
    std::vector<float> values;
    std::vector<float> scores;
    float dir = 1.f;
    float best = 0.f;
    float best_value;
    bool accepted = false;

    explicit WalkSamples(float start) : values{start}, best_value(start) {
        values.reserve(8);
        scores.reserve(8);
    }
    void accept(float value, float score) {
        best = score;
        best_value = value;
        accepted = true;
    }
    // Appends the score of the last trial. When the second sample scores lower than the first (or
    // both score 0, with `turn_on_zeros`), the two swap places and the walk turns downwards.
    void add(float score, bool turn_on_zeros) {
        scores.push_back(score);
        if (scores.size() == 2 &&
            (scores[0] > scores[1] || (turn_on_zeros && scores[0] == 0.f && scores[1] == 0.f))) {
            std::swap(scores[0], scores[1]);
            std::swap(values[0], values[1]);
            dir = -1.f;
        }
    }
    // At least three samples, the last no higher than the one before.
    bool peak_passed() const {
        return scores.size() >= 3 && scores[scores.size() - 2] >= scores.back();
    }
    void step(float by) { values.push_back(values.back() + dir * by); }
    // The parabola vertex through the samples end - 3 .. end - 1, or the best accepted value.
    float vertex_or_best(std::size_t end) const {
        float v = best_value;
        return parabola_vertex(values[end - 3], scores[end - 3], values[end - 2], scores[end - 2],
                               values[end - 1], scores[end - 1], v)
                   ? v
                   : best_value;
    }
};

// The peak a candidate's flag asks for: 1 the model's own contrast, kPolarityToSettle either,
// anything else reversed contrast.
inline PeakPolarity peak_polarity(signed char flag) {
    if (flag == 1) return PeakPolarity::positive;
    return flag == kPolarityToSettle ? PeakPolarity::either : PeakPolarity::reversed;
}

// Entry test of every walk: false when the time-out has passed or the candidate already scores
// below the level's minimum (it is then left untouched).
inline bool worth_refining(const Match& cand, const RefineLevel& lvl) {
    return !lvl.deadline.passed() && !(lvl.min_score > cand.score);
}

// The scorer of a level for one candidate, on the level's cell partition when it uses cells.
inline WindowScorer level_scorer(const RefineLevel& lvl, const NormalMapsRef& maps,
                                 const Match& cand) {
    WindowScorer scorer(maps, lvl.border, lvl.metric, peak_polarity(cand.flag));
    if (lvl.uses_cells()) {
        CV_Assert(lvl.cell_index != nullptr && lvl.cell_order != nullptr);
        scorer.use_cells(lvl.cell_value, *lvl.cell_index, *lvl.cell_order);
    }
    return scorer;
}

// Whether a window's best cell lies strictly inside the level image (0 < x < width - 1,
// 0 < y < height - 1, the maps' border excluded): only such positions are accepted.
inline bool inside_level(const WindowMatch& m, const NormalMapsRef& maps, int border) {
    return m.x > 0 && m.x < maps.cols - 2 * border - 1 && m.y > 0 &&
           m.y < maps.rows - 2 * border - 1;
}

}  // namespace quro

#endif  // QURO_MATCH_REFINE_WALK_HELPERS_H

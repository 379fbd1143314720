#include "quro/match/refine/refine_candidate.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "quro/match/templates.h"
#include "quro/match/refine/window_score.h"
#include "quro/numeric.h"

namespace quro {
namespace {

// Single-precision machine epsilon: an angle extent below it counts as a fixed angle.
constexpr float kFixedAngleExtent = 1.1920929e-7f;
// A best score below this ends the walk.
constexpr float kLowScore = 0.05f;

enum class WalkExit { peak, range, low_score, time_out };

// A map coordinate of the predicted position, kept within +-2^30 so that nothing downstream
// overflows on a wild candidate.
int predicted_coordinate(int border, long long factor, int v) {
    constexpr long long kLimit = 1LL << 30;
    return static_cast<int>(std::clamp(border + factor * v, -kLimit, kLimit));
}

// Vertex of the parabola through three (angle, score) samples; false when there is none (the
// scores lie on a line, or the result is not finite).
bool parabola_vertex(float a1, float s1, float a2, float s2, float a3, float s3, float& vertex) {
    const double m = (static_cast<double>(s1) - s2) / (static_cast<double>(a1) - a2);
    const double q = (m - (static_cast<double>(s2) - s3) / (static_cast<double>(a2) - a3)) /
                     (static_cast<double>(a1) - a3);
    if (q == 0.0 || !std::isfinite(q)) return false;
    const double v = -0.5 * (m - (static_cast<double>(a1) + a2) * q) / q;
    if (!std::isfinite(v) || std::fabs(v) > 3.0e38) return false;
    vertex = static_cast<float>(v);
    return true;
}

// The angle walk shared by the three variants; (px, py) is the predicted position in map
// coordinates.
void walk_angles(const NormalMapsRef& maps, WindowScorer& scorer, Match& cand,
                 const ShapeModelRecord& rec, int level, int last_level, float angle_step,
                 float level_min_score, int px, int py, const Stopwatch& sw, int timeout_ms) {
    const int b = scorer.border();
    const int inner_w = maps.cols - 2 * b;
    const int inner_h = maps.rows - 2 * b;
    const int predicted_x = px - b;
    const int predicted_y = py - b;

    // Trial angles and their scores; the walk rarely takes more than a handful.
    std::vector<float> angles{cand.angle};
    std::vector<float> scores;
    angles.reserve(8);
    scores.reserve(8);
    float dir = 1.f;
    float best = 0.f;
    float best_angle = cand.angle;
    bool accepted = false;
    bool restarted = false;
    std::size_t e = 0;
    const float lo = rec.angle_start - 2.5f * angle_step;
    const float span = rec.angle_extent + 5.f * angle_step;
    const bool settle_polarity = cand.flag == kPolarityToSettle;
    const bool fixed_angle = std::fabs(rec.angle_extent) < kFixedAngleExtent;

    NormalTemplate t;
    bool built = false;  // t holds the template of `theta` (a re-centred first angle reuses it)
    WalkExit exit;
    for (;;) {
        const float theta = angles[e];
        if (!(wrap_angle_360(theta - lo) <= span)) {
            exit = WalkExit::range;
            break;
        }
        if (timed_out(sw, timeout_ms)) {
            exit = WalkExit::time_out;
            break;
        }
        if (!built || e != 0) {
            normal_template_aniso(rec, t, level + 1, cand.scale_row, cand.scale_col, theta);
            built = true;
        }
        if (t.size() == 0) {
            cand.score = 0.f;
            return;
        }
        const WindowMatch m = scorer.score(t, px, py);
        const float p = m.score;
        if (p >= best && m.x > 0 && m.x < inner_w - 1 && m.y > 0 && m.y < inner_h - 1) {
            best = p;
            best_angle = theta;
            accepted = true;
            cand.x = m.x;
            cand.y = m.y;
            cand.score = p;
            if (settle_polarity) cand.flag = m.positive ? 1 : -1;
            if (level == last_level && e == 0 && !restarted && m.on_edge) {
                // Re-centre the window on the edge hit and score the first angle again.
                restarted = true;
                px = m.x + b;
                py = m.y + b;
                continue;
            }
            if (fixed_angle) {
                cand.angle = best_angle;
                return;
            }
        }
        if (p < kLowScore) {
            exit = WalkExit::low_score;
            break;
        }
        scores.push_back(p);
        if (scores.size() == 2 && scores[0] > scores[1]) {
            std::swap(scores[0], scores[1]);
            std::swap(angles[0], angles[1]);
            dir = -1.f;
        }
        if (scores.size() >= 3 && scores[scores.size() - 2] >= scores.back()) {
            exit = WalkExit::peak;
            break;
        }
        angles.push_back(angles.back() + dir * angle_step);
        ++e;
    }

    if (!accepted) {
        // No position was ever acceptable: nothing of this level confirms the candidate.
        cand.score = 0.f;
        cand.x = predicted_x;
        cand.y = predicted_y;
        return;
    }
    switch (exit) {
        case WalkExit::peak: {
            const std::size_t k = scores.size();
            float vertex = 0.f;
            cand.angle = parabola_vertex(angles[k - 3], scores[k - 3], angles[k - 2],
                                         scores[k - 2], angles[k - 1], scores[k - 1], vertex)
                             ? vertex
                             : best_angle;
            break;
        }
        case WalkExit::range:
        case WalkExit::low_score:
            if (level_min_score > best)
                cand.score = 0.f;
            else
                cand.angle = best_angle;
            break;
        case WalkExit::time_out:
            if (level_min_score > 0.f)
                cand.score = 0.f;
            else
                cand.angle = best_angle;
            break;
    }
}

PeakPolarity peak_polarity(signed char flag) {
    if (flag == 1) return PeakPolarity::positive;
    return flag == kPolarityToSettle ? PeakPolarity::either : PeakPolarity::reversed;
}

// Entry checks shared by the variants: false when the candidate is to be left untouched.
bool worth_refining(const Match& cand, float level_min_score, const Stopwatch& sw,
                    int timeout_ms) {
    return !timed_out(sw, timeout_ms) && !(level_min_score > cand.score);
}

// The three variants: `factor` scales the candidate's position onto this level; `cells` scores
// with the level's cell partition.
void refine_on_level(const RefineLevel& lvl, Match& cand, int factor, bool cells) {
    if (!worth_refining(cand, lvl.min_score, *lvl.sw, lvl.timeout_ms)) return;
    const NormalMapsRef maps = normal_maps_ref(*lvl.nx, *lvl.ny);
    WindowScorer scorer(maps, lvl.border, lvl.metric, peak_polarity(cand.flag));
    if (cells) {
        CV_Assert(lvl.cell_index != nullptr && lvl.cell_order != nullptr);
        scorer.use_cells(lvl.cell_value, *lvl.cell_index, *lvl.cell_order);
    }
    walk_angles(maps, scorer, cand, *lvl.rec, lvl.level, lvl.last_level, lvl.angle_step,
                lvl.min_score, predicted_coordinate(lvl.border, factor, cand.x),
                predicted_coordinate(lvl.border, factor, cand.y), *lvl.sw, lvl.timeout_ms);
}

}  // namespace

void refine_candidate(const RefineLevel& lvl, Match& cand) {
    refine_on_level(lvl, cand, lvl.factor, false);
}

void refine_candidate_cells(const RefineLevel& lvl, Match& cand) {
    refine_on_level(lvl, cand, lvl.factor, true);
}

void refine_candidate_aniso(const RefineLevel& lvl, Match& cand) {
    refine_on_level(lvl, cand, 1, false);
}

}  // namespace quro

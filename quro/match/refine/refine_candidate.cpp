#include "quro/match/refine/refine_candidate.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "quro/match/templates.h"
#include "quro/match/refine/walk_helpers.h"
#include "quro/match/refine/window_score.h"
#include "quro/numeric.h"

namespace quro {
namespace {

// Single-precision machine epsilon: an angle extent below it counts as a fixed angle.
constexpr float kFixedAngleExtent = 1.1920929e-7f;
// A best score below this ends the walk.
constexpr float kLowScore = 0.05f;

enum class WalkExit { peak, range, low_score, time_out };

// The angle walk of a level from the predicted position (px, py) in map coordinates.
void walk_angles(const RefineLevel& lvl, const NormalMapsRef& maps, WindowScorer& scorer, int px,
                 int py, Match& cand) {
    const ShapeModelRecord& rec = *lvl.rec;
    const int level = lvl.level;
    const float angle_step = lvl.angle_step;
    const int b = scorer.border();
    const int predicted_x = px - b;
    const int predicted_y = py - b;

    WalkSamples w(cand.angle);
    bool restarted = false;
    std::size_t e = 0;
    const float lo = rec.angle_start - 2.5f * angle_step;
    const float span = rec.angle_extent + 5.f * angle_step;
    const bool settle_polarity = cand.flag == kPolarityToSettle;
    const bool fixed_angle = std::fabs(rec.angle_extent) < kFixedAngleExtent;

    NormalTemplate t;
    WindowTemplate own;
    const WindowTemplate* w_t = nullptr;  // the template of `theta` (a re-centred first angle reuses it)
    WalkExit exit;
    for (;;) {
        const float theta = w.values[e];
        if (!(wrap_angle_360(theta - lo) <= span)) {
            exit = WalkExit::range;
            break;
        }
        if (lvl.deadline.passed()) {
            exit = WalkExit::time_out;
            break;
        }
        if (w_t == nullptr || e != 0) {
            const auto build = [&](WindowTemplate& out) {
                normal_template_aniso(rec, t, level + 1, cand.scale_row, cand.scale_col, theta);
                scorer.prepare(t, out);
            };
            if (lvl.templates) {
                w_t = &lvl.templates->get({theta, cand.scale_row, cand.scale_col}, own, build);
            } else {
                build(own);
                w_t = &own;
            }
        }
        if (w_t->size() == 0) {
            cand.score = 0.f;
            return;
        }
        const WindowMatch m = scorer.score_prepared(*w_t, px, py);
        const float p = m.score;
        if (p >= w.best && inside_level(m, maps, b)) {
            w.accept(theta, p);
            cand.x = m.x;
            cand.y = m.y;
            cand.score = p;
            if (settle_polarity) cand.flag = m.positive ? 1 : -1;
            if (level == lvl.last_level && e == 0 && !restarted && m.on_edge) {
                // Re-centre the window on the edge hit and score the first angle again.
                restarted = true;
                px = m.x + b;
                py = m.y + b;
                continue;
            }
            if (fixed_angle) {
                cand.angle = w.best_value;
                return;
            }
        }
        if (p < kLowScore) {
            exit = WalkExit::low_score;
            break;
        }
        w.add(p, false);
        if (w.peak_passed()) {
            exit = WalkExit::peak;
            break;
        }
        w.step(angle_step);
        ++e;
    }

    if (!w.accepted) {
        // No position was ever acceptable: nothing of this level confirms the candidate.
        cand.score = 0.f;
        cand.x = predicted_x;
        cand.y = predicted_y;
        return;
    }
    switch (exit) {
        case WalkExit::peak:
            cand.angle = w.vertex_or_best(w.scores.size());
            break;
        case WalkExit::range:
        case WalkExit::low_score:
            if (lvl.min_score > w.best)
                cand.score = 0.f;
            else
                cand.angle = w.best_value;
            break;
        case WalkExit::time_out:
            if (lvl.min_score > 0.f)
                cand.score = 0.f;
            else
                cand.angle = w.best_value;
            break;
    }
}

}  // namespace

float score_at_pose(const RefineLevel& lvl, const Match& cand) {
    const NormalMapsRef maps = normal_maps_ref(*lvl.nx, *lvl.ny);
    NormalTemplate t;
    level_template(lvl, t, cand.scale_row, cand.scale_col, cand.angle);
    if (t.size() == 0) return 0.f;
    WindowTemplate w;
    prepare_window_template(t, maps.cols, nullptr, w);
    float sum = 0.f;
    score_window_at(maps, w, 0, w.size(),
                    window_corner_unclamped(w, cand.x + lvl.border, cand.y + lvl.border, 0), 1,
                    lvl.metric == 0, &sum);
    const float mean = sum / static_cast<float>(w.size());
    return lvl.metric != 0 && cand.flag == -1 ? -mean : mean;
}

void refine_candidate(const RefineLevel& lvl, Match& cand) {
    if (!worth_refining(cand, lvl)) return;
    const NormalMapsRef maps = normal_maps_ref(*lvl.nx, *lvl.ny);
    WindowScorer scorer = level_scorer(lvl, maps, cand);
    walk_angles(lvl, maps, scorer, predicted_coordinate(lvl.border, lvl.factor, cand.x),
                predicted_coordinate(lvl.border, lvl.factor, cand.y), cand);
}

}  // namespace quro

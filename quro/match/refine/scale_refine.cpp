#include "quro/match/refine/scale_refine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "quro/match/refine/walk_helpers.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/templates.h"

namespace quro {
namespace {

// Slack of the range tests on trial and final scales.
constexpr float kRangeSlack = 0.000001f;

// One level's scoring of trial scales around one candidate: the scorer, the predicted position
// in map coordinates, and the template reused by every trial.
class ScaleTrials {
public:
    ScaleTrials(const RefineLevel& lvl, const Match& cand)
        : lvl_(lvl),
          maps_(normal_maps_ref(*lvl.nx, *lvl.ny)),
          scorer_(level_scorer(lvl, maps_, cand)),
          px_(predicted_coordinate(lvl.border, lvl.factor, cand.x)),
          py_(predicted_coordinate(lvl.border, lvl.factor, cand.y)) {}

    // Scores the model at (row scale, column scale) and the candidate's angle; `uniform` builds
    // the uniform template (row scale used). Returns false for a level template without points.
    bool score(float scale_row, float scale_col, float angle, bool uniform, WindowMatch& m) {
        if (uniform)
            normal_template(*lvl_.rec, t_, lvl_.level + 1, scale_row, angle);
        else
            normal_template_aniso(*lvl_.rec, t_, lvl_.level + 1, scale_row, scale_col, angle);
        if (t_.size() == 0) return false;
        m = scorer_.score(t_, px_, py_);
        return true;
    }

    bool acceptable(const WindowMatch& m, float best) const {
        return m.score > best && inside_level(m, maps_, lvl_.border);
    }

    // No trial accepted, or no points to score: score 0 at the predicted position.
    void reject(Match& cand) const {
        cand.score = 0.f;
        cand.x = px_ - lvl_.border;
        cand.y = py_ - lvl_.border;
    }

private:
    const RefineLevel& lvl_;
    NormalMapsRef maps_;
    WindowScorer scorer_;
    int px_;
    int py_;
    NormalTemplate t_;
};

// The walk's step on [lo, hi]: the level's step, or half the range where that step spans the
// whole range. A coarse level's step can (0.18 on the fourth level for 0.95-1.05), and the walk
// from the range end the level above gave could then try nothing but the two ends, 5 % off a part
// at 1.
float walk_step(float level_step, float lo, float hi) {
    const float range = hi - lo;
    return range > 0.f && level_step >= range ? 0.5f * range : level_step;
}

bool outside(float s, float lo, float hi) {
    return !(s >= lo - kRangeSlack && s <= hi + kRangeSlack);
}

// The end of [lo, hi] on the side of s, a value outside the range (lo for NaN).
float range_end_towards(float s, float lo, float hi) {
    return s > hi ? hi : lo;
}

// The range cut the walk beside its best sample: beyond it lies the range end (a trial outside,
// unscored, or the lowest score), inside it a lower sample one step away. The step may be too
// coarse to see a peak between the two (an instance at 0.87 searched from the range end 0.8 with a
// step of 0.1 scores lower at 0.9 than at 0.8 and stayed at 0.8, below the level's minimum): one
// trial halfway decides. Highest there, it brackets the peak with the two and the parabola places
// the scale (x, y and score from the halfway trial); otherwise nothing changes. Returns true when
// the halfway trial was accepted.
bool halve_towards_range_end(ScaleTrials& trials, const WalkSamples& w, bool range_ended_walk,
                             Match& cand) {
    const std::size_t n = w.scores.size();
    const std::size_t b = static_cast<std::size_t>(
        std::max_element(w.scores.begin(), w.scores.end()) - w.scores.begin());
    const auto beyond_range = [&](std::size_t i) {
        return (range_ended_walk && i == n) || (i < n && std::isinf(w.scores[i]));
    };
    std::size_t inner = 0;
    if (beyond_range(b + 1) && b >= 1 && !beyond_range(b - 1))
        inner = b - 1;
    else if (b >= 1 && beyond_range(b - 1) && b + 1 < n && !beyond_range(b + 1))
        inner = b + 1;
    else
        return false;
    if (w.values[b] != w.best_value) return false;
    const float half = 0.5f * (w.values[b] + w.values[inner]);
    WindowMatch m{};
    if (!trials.score(half, half, cand.angle, true, m) || !trials.acceptable(m, w.best))
        return false;
    float vertex = half;
    if (!parabola_vertex(w.values[inner], w.scores[inner], half, m.score, w.values[b],
                         w.scores[b], vertex) ||
        !(vertex >= std::fmin(w.values[b], w.values[inner]) &&
          vertex <= std::fmax(w.values[b], w.values[inner])))
        vertex = half;
    cand.x = m.x;
    cand.y = m.y;
    cand.score = m.score;
    cand.scale_row = vertex;
    return true;
}

void walk_scale(const RefineLevel& lvl, float level_step, Match& cand) {
    if (!worth_refining(cand, lvl)) return;
    ScaleTrials trials(lvl, cand);
    const ShapeModelRecord& rec = *lvl.rec;
    const float step = walk_step(level_step, rec.scale_min, rec.scale_max);
    const bool stepping = usable_step(step);

    WalkSamples w(cand.scale_row);
    bool range_ended_walk = false;
    for (std::size_t e = 0;; ++e) {
        float s = w.values[e];
        bool end_in_place_of_step = false;
        if (lvl.deadline.passed()) {
            w.dir = 0.f;
            break;
        }
        if (outside(s, rec.scale_min, rec.scale_max)) {
            const float end = range_end_towards(s, rec.scale_min, rec.scale_max);
            if (e == 0 || !(std::fabs(w.values[e - 1] - end) <= kRangeSlack)) {
                // A step past the range end tries the end itself, unless the walk was there
                // already: stopping a step short left instances at the end 0.01-0.02 inside,
                // scoring 0.83-0.93 instead of 0.99, and which hypothesis reached full
                // resolution decided how far inside (so a higher min_score could score higher).
                s = end;
                w.values[e] = end;
                end_in_place_of_step = e > 0;
            } else if (e == 1 && w.dir > 0.f) {
                // The walk starts at the range end: the trial beyond it counts as lower than any
                // score, so the walk turns downwards as after a lower second sample. Stopping
                // here kept an instance just inside the range end at the end's scale (1.15
                // searched in 0.8-1.2 came back as 1.2).
                w.add(-std::numeric_limits<float>::infinity(), true);
                w.step(step);
                continue;
            } else {
                w.dir = 0.f;
                range_ended_walk = true;
                break;
            }
        }
        WindowMatch m{};
        if (!trials.score(s, s, cand.angle, true, m)) {
            trials.reject(cand);
            cand.scale_col = cand.scale_row;
            return;
        }
        if (end_in_place_of_step &&
            !(m.score > *std::max_element(w.scores.begin(), w.scores.end()))) {
            // The end, tried in place of a step beyond it, scores no higher than the walk's best
            // sample: it only says that the peak lies inside, and as a sample closer than a step
            // it pulled the vertex towards the best sample (0.854 came back from the coarse levels
            // as 0.845, then 0.0014 off after least squares). The walk goes on as if the range
            // had stopped the step: downwards after a first step up, else ended by the range.
            if (e == 1 && w.dir > 0.f) {
                w.add(-std::numeric_limits<float>::infinity(), true);
                w.step(step);
                continue;
            }
            w.values.pop_back();
            w.dir = 0.f;
            range_ended_walk = true;
            break;
        }
        if (trials.acceptable(m, w.best)) {
            w.accept(s, m.score);
            cand.x = m.x;
            cand.y = m.y;
            cand.score = m.score;
        }
        w.add(m.score, true);
        if (m.score == 0.f && e > 1) break;
        if (!stepping) {
            w.dir = 0.f;
            break;
        }
        if (w.peak_passed()) break;
        w.step(step);
    }

    // Zero scores at either end carry no information about the peak.
    std::size_t first = 0, last = w.scores.size();
    while (first < last && w.scores[first] == 0.f) ++first;
    while (last > first && w.scores[last - 1] == 0.f) --last;

    if (w.accepted && stepping && halve_towards_range_end(trials, w, range_ended_walk, cand)) {
        cand.scale_col = cand.scale_row;
        return;
    }
    if (!w.accepted)
        trials.reject(cand);
    else if (w.dir != 0.f && last - first >= 3)
        cand.scale_row = w.vertex_or_best(last);
    else {
        // Stopped at the range or without a bracketed peak: the best accepted trial, score and
        // scale together (the scale it came with would belong to another sample's position).
        cand.score = w.best;
        cand.scale_row = w.best_value;
    }
    cand.scale_col = cand.scale_row;
}

// The trial values around v: v - step, v, v + step, or v alone for an unusable step. A value
// beyond an end of [lo, hi] is left out, or with RangeEnds::tried becomes that end (tried once).
std::vector<float> trial_values(float v, float step, float lo, float hi, RangeEnds ends) {
    std::vector<float> out;
    for (float t : usable_step(step) ? std::vector<float>{v - step, v, v + step}
                                     : std::vector<float>{v}) {
        if (outside(t, lo, hi)) {
            if (ends == RangeEnds::skipped) continue;
            t = range_end_towards(t, lo, hi);
        }
        if (out.empty() || !(std::fabs(out.back() - t) <= kRangeSlack)) out.push_back(t);
    }
    return out;
}

void try_scale_pairs(const RefineLevel& lvl, float row_step, float col_step, RangeEnds ends,
                     Match& cand) {
    if (!worth_refining(cand, lvl)) return;
    ScaleTrials trials(lvl, cand);
    float best = 0.f;
    bool accepted = false;
    const ShapeModelRecord& rec = *lvl.rec;
    // Only pairs inside the ranges are tried. Testing only the winner, as before, zeroed in-range
    // instances whenever a neighbour beyond a range end scored higher, which the coarse levels'
    // steps (up to 0.15, wider than a range of 0.2) made common.
    for (const float r : trial_values(cand.scale_row, row_step, rec.scale_row_min,
                                      rec.scale_row_max, ends)) {
        for (const float c : trial_values(cand.scale_col, col_step, rec.scale_col_min,
                                          rec.scale_col_max, ends)) {
            WindowMatch m{};
            if (!trials.score(r, c, cand.angle, false, m)) {
                trials.reject(cand);
                return;
            }
            if (!trials.acceptable(m, best)) continue;
            best = m.score;
            accepted = true;
            cand.x = m.x;
            cand.y = m.y;
            cand.score = m.score;
            cand.scale_row = r;
            cand.scale_col = c;
        }
    }
    if (!accepted) trials.reject(cand);
}

}  // namespace

void refine_scale(const RefineLevel& lvl, float scale_step, Match& cand) {
    walk_scale(lvl, scale_step, cand);
}

void refine_scales_aniso(const RefineLevel& lvl, float row_scale_step, float column_scale_step,
                         RangeEnds ends, Match& cand) {
    try_scale_pairs(lvl, row_scale_step, column_scale_step, ends, cand);
}

}  // namespace quro

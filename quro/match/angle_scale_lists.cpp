#include "quro/match/angle_scale_lists.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "quro/numeric.h"

namespace quro {
namespace {

// Whether a range or step cannot be laid at all (lay_values then gives the single value start).
bool unlayable(float start, float extent, float step) {
    return !std::isfinite(start) || !std::isfinite(extent) || !(extent >= 0.f) ||
           !std::isfinite(step) || !(step > 0.f);
}

// Whether lay_values lays the range within kMaxListValues values.
bool fits_in_list(float start, float extent, float step) {
    return unlayable(start, extent, step) ||
           extent / step < static_cast<float>(kMaxListValues - 1);
}

// Lays start, start + step, ... over [start, start + extent] into `out` (cleared first): n steps
// with n = extent / step rounded, unless that leaves more than 0.001 uncovered; then n grows to
// floor(extent / step) + 1 and the step shrinks to extent / n. Each value is the previous one plus
// the step, in single precision. A range or step that cannot be laid gives the single value start.
void lay_values(std::vector<float>& out, float start, float extent, float step) {
    out.clear();
    if (unlayable(start, extent, step)) {
        out.push_back(start);
        return;
    }
    if (!fits_in_list(start, extent, step)) throw std::length_error("value list too long");
    const float ratio = extent / step;
    int n = round_half_away(ratio);
    if (std::fabs(extent - static_cast<float>(n) * step) > 0.001f) {
        n = static_cast<int>(std::floor(ratio)) + 1;
        step = extent / static_cast<float>(n);
    }
    out.reserve(static_cast<std::size_t>(n) + 1);
    float v = start;
    out.push_back(v);
    for (int i = 0; i < n; ++i) {
        v += step;
        out.push_back(v);
    }
}

// Automatic scale step along one axis from the farthest bound `far` of that axis: the step that
// moves it by about two pixels.
float automatic_scale_step(float far) {
    if (std::isnan(far)) return std::numeric_limits<float>::quiet_NaN();
    return 2.f / std::ceil(std::fmax(far, 1.f));
}

// The farthest bounds of a level along its box axes (columns, rows): those of its points rotated
// by the box angle as creation measured them, so that a stored box larger than the points cannot
// make the step fine; a level without points takes its box.
std::pair<float, float> level_reach(const LevelView& v) {
    const auto far = [](float lo, float hi) {
        return std::isnan(lo) || std::isnan(hi) ? lo + hi : std::fmax(std::fabs(lo), std::fabs(hi));
    };
    if (v.features.empty()) return {far(v.box_min_x, v.box_max_x), far(v.box_min_y, v.box_max_y)};
    const float a = -v.angle * kDegToRad;
    const float c = std::cos(a), s = std::sin(a);
    float cols = 0.f, rows = 0.f;
    for (const Feature& p : v.features) {
        cols = std::fmax(cols, std::fabs(p.x * c + p.y * s));
        rows = std::fmax(rows, std::fabs(p.y * c - p.x * s));
    }
    return {cols, rows};
}

}  // namespace

float angle_step(const ShapeModelRecord& rec, int level) {
    const double d = level == rec.num_levels ? 1.5 : 2.0;
    const double r = rec.level(level).radius;
    const float step = static_cast<float>(std::acos(1.0 - d * d / (2.0 * r * r)) * kRadToDegD);
    // std::fmin would hide a NaN; a radius too small for the chord (or 0, or NaN) takes the cap.
    if (!std::isfinite(step) || step > kMaxAngleStep) return kMaxAngleStep;
    return step;
}

void angle_list(const ShapeModelRecord& rec, std::vector<float>& out, int level, float extent,
                float start) {
    lay_values(out, start, extent, angle_step(rec, level));
    if (out.size() > 1 && std::fabs(wrap_angle_180(out.back() - out.front())) < 0.1f) {
        out.pop_back();  // a full turn: the last value repeats the first
    }
}

bool angle_list_fits(const ShapeModelRecord& rec, int level, float extent) {
    return fits_in_list(0.f, extent, angle_step(rec, level));
}

float scale_step(const ShapeModelRecord& rec, int level, int kind) {
    const LevelView v = rec.level(level);
    float stored = 0.f;
    switch (kind) {
        case kScaleUniform: stored = rec.scale_step; break;
        case kScaleRow: stored = rec.scale_row_step; break;
        case kScaleCol: stored = rec.scale_col_step; break;
        default: return 0.f;
    }
    const auto [far_cols, far_rows] = level_reach(v);
    const float rows = automatic_scale_step(far_rows);
    const float cols = automatic_scale_step(far_cols);
    float automatic = 0.f;
    switch (kind) {
        case kScaleRow: automatic = rows; break;
        case kScaleCol: automatic = cols; break;
        default:
            automatic = std::isnan(rows) || std::isnan(cols)
                            ? std::numeric_limits<float>::quiet_NaN()
                            : (rows < cols ? rows : cols);
    }
    // A stored step is taken no finer than an eighth of the automatic one of a level with points
    // (a quarter of a pixel at the outermost point): finer steps tell nothing apart and would
    // multiply the poses without bound (a stored step of 5e-7 asked for a million top-level poses).
    if (!(stored > 0.f)) return automatic;
    const float at_level = std::ldexp(stored, level - 1);
    return v.features.empty() ? at_level : std::fmax(at_level, automatic / 8.f);
}

void scale_list(const ShapeModelRecord& rec, std::vector<float>& out, int level, float max,
                int kind, float min) {
    const float step = scale_step(rec, level, kind);
    lay_values(out, min, max - min, step);
}

}  // namespace quro

// Pose arithmetic for stored model points, shared by the outline transforms and by the template
// builders of the matching core. Every place that places a model point at an angle and a scale
// goes through these few inline functions, so that all of them round, rotate and orient alike.
//
// A pose is an angle a in degrees, a row scale sr and a column scale sc (a uniform scale passes
// the same value twice). With c = cos a and s = sin a (see PoseRotation):
//   scaled:    x' = x * sc,            y' = y * sr
//   position:  X  = c * x' + s * y',   Y  = c * y' - s * x'
//   direction: gx' = c * gx + s * gy,  gy' = c * gy - s * gx    (never scaled)
// Integer positions are X and Y rounded half away from zero (round_posed).
//
// Circle models (ShapeModelRecord::shape_kind == kShapeCircle) are the one exception to "directions are never
// scaled": under separate row and column scales a circle becomes an ellipse, and a point's
// direction must follow the normal of that ellipse. circle_model_direction() computes it, and it
// must be used by every anisotropic poser of a circle model (the aniso outline transforms and the
// aniso template builders); the uniform-scale posers keep the stored direction.
#ifndef QURO_MODEL_POSE_H
#define QURO_MODEL_POSE_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

#include "quro/model_table.h"
#include "quro/numeric.h"
#include "quro/pose_kernels.h"

namespace quro {

// A 2-vector: a posed position or a direction (x = column, y = row).
struct PoseVec {
    float x;
    float y;
};

// Cosine and sine of a pose angle. Compute it once per template, not once per point.
struct PoseRotation {
    float c;
    float s;
};

// The rotation of `angle_deg` degrees: theta = angle_deg * 0.017453292f, in float.
inline PoseRotation pose_rotation(float angle_deg) {
    const float theta = angle_deg * kDegToRad;
    return PoseRotation{std::cos(theta), std::sin(theta)};
}

// Position of the stored point (x, y) under row scale sr and column scale sc and rotation r.
inline PoseVec pose_position(const PoseRotation& r, float x, float y, float sr, float sc) {
    const float xs = x * sc;
    const float ys = y * sr;
    return PoseVec{r.c * xs + r.s * ys, r.c * ys - r.s * xs};
}

// A direction turned by rotation r (no scaling).
inline PoseVec rotate_direction(const PoseRotation& r, float gx, float gy) {
    return PoseVec{r.c * gx + r.s * gy, r.c * gy - r.s * gx};
}

// Rounds a posed coordinate half away from zero (round_half_away). Values beyond +-2^30, and NaN,
// are first clamped into that range, so that a wild scale or angle can never make the conversion
// to int undefined; sane poses are never affected.
inline int round_posed(float v) {
    constexpr float kLimit = 1073741824.f;  // 2^30
    // Written so that NaN fails the first test and becomes -2^30.
    const float clamped = !(v >= -kLimit) ? -kLimit : (v > kLimit ? kLimit : v);
    return round_half_away(clamped);
}

// Where the reference point of level `to` lies from the reference point of the coarser level
// `from` scaled up to level `to` (levels from 0 = full resolution), in level-`to` pixels of the
// unposed model frame (x = column, y = row). A model made from an image keeps each level's points
// relative to that level's own image centre ((cols - 1) / 2, (rows - 1) / 2); halving an even
// side moves that centre by half a pixel of the finer level against the coarser one scaled up,
// so over several levels the two drift apart by up to (2^(from - to) - 1) / 2 pixels. Outline
// models keep one reference point on every level: no shift. Also no shift for from <= to or a
// level outside the record's lists.
inline PoseVec level_centre_shift(const ShapeModelRecord& rec, int from, int to) {
    if (rec.shape_kind != kShapeImage || to < 0 || from <= to || from > 30) return PoseVec{0.f, 0.f};
    const auto f = static_cast<std::size_t>(from);
    const auto t = static_cast<std::size_t>(to);
    if (f >= rec.level_widths.size() || f >= rec.level_heights.size()) return PoseVec{0.f, 0.f};
    const double k = std::ldexp(1.0, from - to);
    const auto centre = [](int side) { return (static_cast<double>(side) - 1.0) * 0.5; };
    return PoseVec{static_cast<float>(centre(rec.level_widths[t]) - k * centre(rec.level_widths[f])),
                   static_cast<float>(centre(rec.level_heights[t]) - k * centre(rec.level_heights[f]))};
}

// The level_centre_shift of `rec` from level `from` to level `to`, posed at the angle and scales of
// `m` (scale_col the column scale when `two_scales`, else scale_row for both axes).
inline PoseVec posed_centre_shift(const ShapeModelRecord& rec, const Match& m, int from, int to,
                                  bool two_scales) {
    const PoseVec shift = level_centre_shift(rec, from, to);
    if (shift.x == 0.f && shift.y == 0.f) return shift;
    return pose_position(pose_rotation(m.angle), shift.x, shift.y, m.scale_row,
                         two_scales ? m.scale_col : m.scale_row);
}

// Whether a record's anisotropic poses derive point directions from the scaled ellipse.
inline bool is_circle_model(const ShapeModelRecord& rec) {
    return rec.shape_kind == kShapeCircle;
}

// The unrotated direction of a circle-model point (x, y) with stored direction (gx, gy) under row
// scale sr and column scale sc: the unit normal of the scaled ellipse through the point, turned so
// that its dot product with the stored direction is not negative. Rotate the result with
// rotate_direction() like any stored direction.
//
// The ellipse through (x' = sc * x, y' = sr * y) has its inward normal along
// -(sr^2 * x', sc^2 * y'); that one is taken unless it points against the stored direction.
// Orienting by the stored direction (rather than always inward) keeps a circle whose directions
// were stored outward (a flipped circle) outward under every scale, so that anisotropic poses show
// the same polarity as uniform ones, and it makes points on the axes (including x = -0.0f) come
// out right. At sr == sc the result equals (within rounding) a stored radial direction. When the
// normal is undefined (the point at the centre, zero scales) or overflows, the stored direction is
// kept.
inline PoseVec circle_model_direction(float x, float y, float gx, float gy, float sr, float sc) {
    const float xs = x * sc;
    const float ys = y * sr;
    float nx = -(sr * sr * xs);
    float ny = -(sc * sc * ys);
    const float len = std::sqrt(nx * nx + ny * ny);
    if (!(len > 0.f) || !std::isfinite(len)) return PoseVec{gx, gy};  // also 0/0 and overflow
    nx /= len;
    ny /= len;
    if (nx * gx + ny * gy < 0.f) {
        nx = -nx;
        ny = -ny;
    }
    return PoseVec{nx, ny};
}

// Number of indices 0, step, 2 * step, ... below n: (n - 1) / step + 1 of n, none of none. A step
// below 1 counts as 1.
inline std::size_t sampled_count(std::size_t n, int step) {
    return n == 0 ? 0 : (n - 1) / static_cast<std::size_t>(std::max(step, 1)) + 1;
}

// An empty PoseBox (pose_kernels.h): INT_MAX / INT_MIN bounds, min > max. Each kind of posed
// level decides at its boundary what an empty box becomes.
inline constexpr PoseBox kEmptyPoseBox{INT_MAX, INT_MAX, INT_MIN, INT_MIN};

// The one posing loop: poses points in[0], in[stride], ..., in[(count - 1) * stride] under
// rotation r, row scale sr and column scale sc, hands each to emit(i, posed position, rotated
// direction, rounded column, rounded row) and returns the box of the rounded positions. kCircle:
// directions from the scaled ellipse (circle_model_direction), else the stored ones.
template <bool kCircle, class Emit>
inline PoseBox pose_points(const Feature* in, std::size_t stride, std::size_t count,
                           const PoseRotation& r, float sr, float sc, Emit&& emit) {
    PoseBox box = kEmptyPoseBox;
    for (std::size_t i = 0; i < count; ++i) {
        const Feature& p = in[i * stride];
        const PoseVec pos = pose_position(r, p.x, p.y, sr, sc);
        PoseVec dir;
        if constexpr (kCircle) {
            const PoseVec g = circle_model_direction(p.x, p.y, p.gx, p.gy, sr, sc);
            dir = rotate_direction(r, g.x, g.y);
        } else {
            dir = rotate_direction(r, p.gx, p.gy);
        }
        const int ix = round_posed(pos.x);
        const int iy = round_posed(pos.y);
        box.min_x = std::min(box.min_x, ix);
        box.max_x = std::max(box.max_x, ix);
        box.min_y = std::min(box.min_y, iy);
        box.max_y = std::max(box.max_y, iy);
        emit(i, pos, dir, ix, iy);
    }
    return box;
}

// pose_points with the direction rule chosen at run time (circle: the scaled ellipse's).
template <class Emit>
inline PoseBox pose_points(const Feature* in, std::size_t stride, std::size_t count,
                           const PoseRotation& r, float sr, float sc, bool circle, Emit&& emit) {
    return circle ? pose_points<true>(in, stride, count, r, sr, sc, emit)
                  : pose_points<false>(in, stride, count, r, sr, sc, emit);
}

}  // namespace quro

#endif  // QURO_MODEL_POSE_H

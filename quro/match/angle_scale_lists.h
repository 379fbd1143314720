// Steps and value lists of the angles and scales that a search tries on one pyramid level.
// Levels count from 1 (full resolution) to the record's num_levels (top).
#ifndef QURO_MATCH_ANGLE_SCALE_LISTS_H
#define QURO_MATCH_ANGLE_SCALE_LISTS_H

#include <vector>

#include "quro/model_table.h"

namespace quro {

// Largest angle step allowed on any level, degrees.
inline constexpr float kMaxAngleStep = 11.25f;

// Which stored scale step and which box bounds a scale step is derived from.
enum ScaleKind : int { kScaleUniform = 0, kScaleRow = 1, kScaleCol = 2 };

// Angle step of `level`, in degrees: the angle by which the level's outermost point (at the
// level's model radius) moves by a chord of 1.5 pixels on the top level and 2 pixels below it,
// capped at 11.25. A radius that gives no finite step (0, below half the chord, NaN) gives 11.25.
// `level` must be one of the record's levels (asserted).
float angle_step(const ShapeModelRecord& rec, int level);

// Replaces `out` by the angles start, start + s, ... covering [start, start + extent], where s is
// angle_step(rec, level), shrunk so that a whole number of steps spans the extent when it does not
// divide it. Values are made by repeated single-precision addition. The last value is dropped when
// it repeats the first one modulo 360 (within 0.1 degrees). A negative or non-finite extent, or
// a non-finite start, gives the single value start. Note the order: extent before start.
// Throws std::length_error when the list would exceed kMaxListValues.
void angle_list(const ShapeModelRecord& rec, std::vector<float>& out, int level, float extent,
                float start);

// Whether angle_list(rec, out, level, extent, start) with a finite start stays within
// kMaxListValues, that is, does not throw std::length_error. Lays nothing. Throws cv::Exception as angle_step does.
bool angle_list_fits(const ShapeModelRecord& rec, int level, float extent);

// Scale step of `level` for `kind` (ScaleKind): the stored step times 2^(level - 1) when the
// stored step is above 0; otherwise the automatic step 2 / ceil(max(1, e)), with e the farthest
// the level's points lie along the rows (row kind) or columns (column kind) of its outline box
// (the points rotated by the box angle; a level without points takes its box's larger absolute
// bound); the uniform kind takes the smaller of the two. Any other kind gives 0. A NaN bound of
// a level without points gives NaN.
// `level` must be one of the record's levels (asserted).
float scale_step(const ShapeModelRecord& rec, int level, int kind);

// Replaces `out` by the scales min, min + s, ... covering [min, max] with s = scale_step(rec,
// level, kind), laid like angle_list but never dropping a value. max < min, a non-finite bound, or
// a step that is not finite and above 0 gives the single value min. Note the order: max, kind, min.
// Throws std::length_error when the list would exceed kMaxListValues.
void scale_list(const ShapeModelRecord& rec, std::vector<float>& out, int level, float max,
                int kind, float min);

// Longest list either function lays out; anything longer means a corrupt model or range.
inline constexpr int kMaxListValues = 1 << 24;

}  // namespace quro

#endif  // QURO_MATCH_ANGLE_SCALE_LISTS_H

// The one check every shape model record passes before it enters the model table: model files and
// buffers as they are read, and every creation before its record is inserted. The searches rely
// on it: every value they size a buffer by, loop over or convert to int is finite and bounded.
#ifndef QURO_MODEL_VALIDATION_H
#define QURO_MODEL_VALIDATION_H

#include "quro/model_table.h"

namespace quro {

// Largest magnitude of a model point coordinate (relative to the reference point), the bound that
// outline creation already keeps: twice a coordinate still converts to int.
inline constexpr float kMaxModelCoordinate = 1073741824.f;  // 2^30
// Largest magnitude of a direction component: dot products and squares of directions stay finite
// in single precision for any point count a file can hold.
inline constexpr float kMaxModelDirection = 1e15f;

// Returns 0 when `rec` can be stored and searched, -1 when it is refused. A record is accepted
// when:
// - 1 <= num_levels <= kMaxModelLevels and every per-level list holds num_levels entries;
// - every float of the record is finite;
// - level sizes are >= 0 and each level is at most half the level below it plus 2 pixels per side;
// - on each level, every coordinate lies within (width + height + 2) and below
//   kMaxModelCoordinate in magnitude, every direction component within kMaxModelDirection;
//   the box has min <= max, lies within 2 (width + height + 2), and holds every point rotated by
//   the level's box angle (|angle| <= 180), and the radius is at least the distance of the
//   farthest point and at most that of the farthest box corner (both up to a tolerance of one
//   pixel plus 0.1 % of the level size).
// Levels without points are allowed (points removed after creation).
int validate_shape_model_record(const ShapeModelRecord& rec);

}  // namespace quro

#endif  // QURO_MODEL_VALIDATION_H

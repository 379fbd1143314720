// The one check every shape model record passes before it enters the model table: model files and
// buffers as they are read, and every creation before its record is inserted. The searches rely
// on it: every value they size a buffer by, loop over or convert to int is finite and bounded.
#ifndef QURO_MODEL_VALIDATION_H
#define QURO_MODEL_VALIDATION_H

#include "quro/model_table.h"

namespace quro {

// Most pyramid levels a model can have; model creation never builds more.
constexpr int kMaxModelLevels = 10;

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
// - with r the points' reach on a level (the largest distance of a point from the reference point
//   over all levels, halved per level above the one it lies on, since a level's points are halved
//   copies of those below it): each level's width and height are at most 32 (2 r + 2), or 1024
//   halved per level above the first, whichever is larger (creation from an image puts the points
//   in the middle of the image, creation from outlines sizes the level by them); its box bounds
//   and radius lie within 2 r + tol, with tol = 1 + 0.001 r (creation gives r; twice allows for
//   points removed after creation). A file that claims a level of 2^31 - 1 pixels or a box edge
//   of 2^24 about points spanning 100 pixels is refused;
// - on each level, every coordinate lies within (width + height + 2) and below
//   kMaxModelCoordinate in magnitude, every direction component within kMaxModelDirection;
//   the box has min <= max and holds every point rotated by the level's box angle
//   (|angle| <= 180), and the radius is at least the distance of the farthest point (both up to
//   tol).
// Levels without points are allowed (points removed after creation).
int validate_shape_model_record(const ShapeModelRecord& rec);

// The first part of that check, all a search needs of a record it did not take from the table:
// 1 <= num_levels <= kMaxModelLevels, and level_features and every per-level list hold
// num_levels entries. Empty levels and zero sizes are allowed.
bool shape_model_is_consistent(const ShapeModelRecord& rec);

}  // namespace quro

#endif  // QURO_MODEL_VALIDATION_H

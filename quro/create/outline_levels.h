// The pyramid levels of a shape model made from an outline or a point list: level 1 is the given
// points (relative to the reference point, with their edge directions); each further level keeps
// one point per even-or-mixed rounded position of the level below, halved.
#ifndef QURO_CREATE_OUTLINE_LEVELS_H
#define QURO_CREATE_OUTLINE_LEVELS_H

#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// Appends the points of the segment (x0, y0) -> (x1, y1) to `out`: with g its length and (ux, uy)
// its unit direction, the points (x0 + i ux, y0 + i uy) for i = 1 .. (int)g - 1 (the end points
// are never emitted), or the one midpoint when 1.1920929e-7 < g < 2; nothing for a shorter
// segment or one with a non-finite end point. Each point's direction is the left normal
// (-uy, ux) when sign >= 0, the right normal (uy, -ux) when sign < 0.
// Returns 0, or -1 (nothing appended) when g does not fit an int. May throw std::bad_alloc.
int segment_to_features(int sign, std::vector<Feature>& out, float x0, float y0, float x1,
                        float y1);

// The next coarser level of outline points, in the order of `prev`: a point is skipped when both
// of its rounded coordinates (half away from zero) are odd, or when an earlier point of `prev` had
// the same rounded position; every other point is kept with its position halved and its
// direction unchanged. Positions must be finite and below 2^30 in magnitude.
std::vector<Feature> derive_outline_level(const std::vector<Feature>& prev);

// Where the box statistics of each level start: a level's min x is the smaller of min_x and its
// points' smallest x, and so on.
struct OutlineBoxStart {
    float min_x;
    float min_y;
    float max_x;
    float max_y;
};

// The start values of a generated outline of half extents hx (columns) and hy (rows).
OutlineBoxStart outline_box_start(float hx, float hy);
// The start values of a polygon or point list: no bound.
OutlineBoxStart unbounded_box_start();

// Builds up to 10 levels from `level1` into `record` (whose per-level lists must be empty):
// each level needs at least 40 points (building ends without error at the first that has fewer,
// which is not kept); its box is the raw extent of its points (box angle 0), its size
// (int)(2 max(|min|, |max|)) per axis, its radius the largest distance from the reference point.
// Returns 0 with record.num_levels set; -1 when no level was built or a level-1 position is not
// finite or not below 2^30 in magnitude; -2 when the deadline has passed after any
// level.
int build_outline_levels(std::vector<Feature> level1, const OutlineBoxStart& start,
                         ShapeModelRecord& record, const Deadline& deadline);

}  // namespace quro

#endif  // QURO_CREATE_OUTLINE_LEVELS_H

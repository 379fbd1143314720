// The outline box of one model level, as every stage of the search uses it: the level's point box
// in its own (rotated) frame, the model radius and the box's angle.
#ifndef QURO_MATCH_OUTLINE_BOX_H
#define QURO_MATCH_OUTLINE_BOX_H

#include "quro/model_table.h"

namespace quro {

// Box of a model level's points in the frame turned by `angle` (degrees), relative to the
// reference point, and the largest distance of a point from the level's centre. Aggregate
// initialisation takes the fields in this order.
struct OutlineBox {
    float min_x;
    float max_x;
    float min_y;
    float max_y;
    float radius;
    float angle;

    bool operator==(const OutlineBox&) const = default;
};

// The OutlineBox of `level` (1 = full resolution) of a record, which must hold the level
// (asserted).
OutlineBox outline_box(const ShapeModelRecord& rec, int level);

}  // namespace quro

#endif  // QURO_MATCH_OUTLINE_BOX_H

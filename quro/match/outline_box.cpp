#include "quro/match/outline_box.h"

namespace quro {

OutlineBox outline_box(const ShapeModelRecord& rec, int level) {
    const LevelView v = rec.level(level);
    return {v.box_min_x, v.box_max_x, v.box_min_y, v.box_max_y, v.radius, v.angle};
}

}  // namespace quro

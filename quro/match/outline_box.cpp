#include "quro/match/outline_box.h"

#include "quro/match/level_check.h"

namespace quro {

OutlineBox outline_box(const ShapeModelRecord& rec, int level) {
    require_level(rec, level);
    const auto i = static_cast<std::size_t>(level - 1);
    return {rec.box_min_x[i], rec.box_max_x[i],    rec.box_min_y[i],
            rec.box_max_y[i], rec.level_radius[i], rec.level_angle[i]};
}

}  // namespace quro

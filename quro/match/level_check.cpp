#include "quro/match/level_check.h"

#include <cstddef>
#include <opencv2/core.hpp>

#include "quro/model_transforms.h"

namespace quro {

void require_level(const ShapeModelRecord& rec, int level) {
    CV_Assert(model_level_exists(rec, level));
    const auto need = static_cast<std::size_t>(level);
    CV_Assert(rec.box_min_x.size() >= need && rec.box_min_y.size() >= need &&
              rec.box_max_x.size() >= need && rec.box_max_y.size() >= need &&
              rec.level_radius.size() >= need && rec.level_angle.size() >= need);
}

}  // namespace quro

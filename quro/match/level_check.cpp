#include "quro/match/level_check.h"

#include <opencv2/core.hpp>

namespace quro {

void require_level(const ShapeModelRecord& rec, int level) {
    CV_Assert(record_has_level(rec, level));
}

}  // namespace quro

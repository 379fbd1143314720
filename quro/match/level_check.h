// Guard of the matching core's per-level functions against a level the record does not hold.
#ifndef QURO_MATCH_LEVEL_CHECK_H
#define QURO_MATCH_LEVEL_CHECK_H

#include <cstddef>

#include "quro/model_table.h"

namespace quro {

// Whether `level` (1 = full resolution) is one of the record's built levels and every per-level
// list of the record has an entry for it.
inline bool record_has_level(const ShapeModelRecord& rec, int level) {
    if (level < 1 || level > rec.num_levels) return false;
    const auto i = static_cast<std::size_t>(level - 1);
    return i < rec.level_widths.size() && i < rec.level_heights.size() &&
           i < rec.box_min_x.size() && i < rec.box_min_y.size() && i < rec.box_max_x.size() &&
           i < rec.box_max_y.size() && i < rec.level_radius.size() &&
           i < rec.level_angle.size() && i < rec.level_features.size();
}

// Throws cv::Exception (an internal fault: callers pass only built levels) unless
// record_has_level(rec, level). The exports' guards turn it into their failure code.
void require_level(const ShapeModelRecord& rec, int level);

}  // namespace quro

#endif  // QURO_MATCH_LEVEL_CHECK_H

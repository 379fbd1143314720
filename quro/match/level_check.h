// Guard of the matching core's per-level functions against a level the record does not hold.
#ifndef QURO_MATCH_LEVEL_CHECK_H
#define QURO_MATCH_LEVEL_CHECK_H

#include "quro/model_table.h"

namespace quro {

// Throws cv::Exception (an internal fault: callers pass only built levels) unless `level`
// (1 = full resolution) is a built level of the record (model_level_exists) that also has its
// outline box and radius entries. The exports' guards turn the exception into their failure code.
void require_level(const ShapeModelRecord& rec, int level);

}  // namespace quro

#endif  // QURO_MATCH_LEVEL_CHECK_H

// What every refinement of a candidate on one pyramid level reads of that level, whether rigid
// (RefineLevel, refine/refine_candidate.h) or deformable (DeformLevel, deformable_refine.h): the
// level's normal maps with their zero frame of `border` pixels, the model (the record's level
// level + 1 is the model level), the 0-based level, the level's minimum score, the model's metric
// (0 ignores each point's polarity) and the search's deadline.
#ifndef QURO_MATCH_LEVEL_INPUT_H
#define QURO_MATCH_LEVEL_INPUT_H

#include <opencv2/core.hpp>

#include "quro/model_table.h"
#include "quro/stopwatch.h"

namespace quro {

struct LevelInput {
    const cv::Mat* nx = nullptr;
    const cv::Mat* ny = nullptr;
    int border = 0;
    const ShapeModelRecord* rec = nullptr;
    int level = 0;
    float min_score = 0.f;
    int metric = 0;
    Deadline deadline;
};

}  // namespace quro

#endif  // QURO_MATCH_LEVEL_INPUT_H

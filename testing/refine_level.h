// The refinement and the peak fit of one level for tests and benchmarks, with their inputs in one
// argument list.
#ifndef QURO_TESTING_REFINE_LEVEL_H
#define QURO_TESTING_REFINE_LEVEL_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/refine/refine_candidate.h"

namespace quro_test {

inline quro::RefineLevel refine_level(const cv::Mat& nx, const cv::Mat& ny, int border,
                                      const quro::ShapeModelRecord& rec, int level, int last,
                                      float step, float min_score, int metric, int factor,
                                      const quro::Stopwatch& sw, int timeout_ms, int cell_value = 1,
                                      const std::vector<int>* cell_index = nullptr,
                                      const std::vector<int>* cell_order = nullptr) {
    const quro::LevelInput input{.nx = &nx,
                                 .ny = &ny,
                                 .border = border,
                                 .rec = &rec,
                                 .level = level,
                                 .min_score = min_score,
                                 .metric = metric,
                                 .deadline = {sw, timeout_ms}};
    return {input, last, step, factor, cell_value, cell_index, cell_order};
}

// The level of a sub-pixel peak fit: what fit_peak_subpixel(_cells) reads of a RefineLevel.
inline quro::RefineLevel fit_level(const cv::Mat& nx, const cv::Mat& ny, int border,
                                   const quro::ShapeModelRecord& rec, int level, float step,
                                   int metric, int cell_value = 1,
                                   const std::vector<int>* cell_index = nullptr,
                                   const std::vector<int>* cell_order = nullptr) {
    static const quro::Stopwatch unused;  // the fits have no time limit
    return refine_level(nx, ny, border, rec, level, 0, step, 0.f, metric, 2, unused, 0, cell_value,
                        cell_index, cell_order);
}

}  // namespace quro_test

#endif  // QURO_TESTING_REFINE_LEVEL_H

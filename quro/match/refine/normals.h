// Gradient normal maps of one pyramid level: the unit 3x3 Sobel gradient where its magnitude
// reaches a threshold, 0 elsewhere, optionally inside a zero border.
#ifndef QURO_MATCH_REFINE_NORMALS_H
#define QURO_MATCH_REFINE_NORMALS_H

#include <opencv2/core.hpp>

#include "quro/cpu.h"
#include "quro/stopwatch.h"

namespace quro {

// Requires level to be 8-bit single-channel (any other type throws cv::Exception). Creates nx and
// ny as float maps of the level's size (reusing same-size buffers) and fills them: at a pixel
// whose gradient magnitude m = 0.25 * sqrt(gx^2 + gy^2) is at least threshold they hold the unit
// gradient (gx, gy) / |g|, elsewhere 0. A pixel without gradient is 0 for every threshold. The
// level's border pixels are replicated for the gradient. An empty level gives empty maps.
void _getNormal33(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny);

// The same with maps enlarged by border pixels on every side: level pixel (r, c) lands at
// (r + border, c + border) and the frame is 0. border must be >= 0 (else cv::Exception).
void _getNormal34(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny, int border);

// Wherever mask(r, c) == 0, sets nx and ny at (r + offset, c + offset) to 0. Only the overlap of
// the mask with the maps' inner area (their size minus 2 * offset) is visited. Requires an 8-bit
// single-channel mask, two float maps of one size and offset >= 0 (else cv::Exception).
void _setNxNyZero(const cv::Mat& mask, cv::Mat& nx, cv::Mat& ny, int offset);

// Rows of normals computed between two questions to a time limit (on 2048 columns about 0.1 ms of
// one core).
inline constexpr int kNormalCheckRows = 16;

// The engine behind _getNormal33 (border 0) and _getNormal34, with the row kernel chosen by the
// caller (use_avx2(path)); tests and benchmarks force one to compare them. The searches pass
// their time limit: every band of rows asks it before each kNormalCheckRows rows and stops when
// it has passed. Returns false when the limit passed (the maps are then partly written and
// must be discarded), true when the maps are complete.
bool compute_normals(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny, int border,
                     KernelPath path, const TimeLimit& limit = {});

}  // namespace quro

#endif  // QURO_MATCH_REFINE_NORMALS_H

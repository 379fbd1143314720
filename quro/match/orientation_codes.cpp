#include "quro/match/orientation_codes.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <climits>
#include <cmath>

#include "quro/match/core_tables.h"
#include "quro/match/orientation_kernels.h"

namespace quro {

int orientation_border(float radius) {
    const double b = static_cast<double>(radius) + 1.5;
    if (!(b >= 0.0)) return 0;  // negative or NaN
    if (b >= static_cast<double>(kMaxOrientationBorder)) return kMaxOrientationBorder;
    return static_cast<int>(b);
}

int orientation_threshold(float min_contrast) {
    const float t = min_contrast * min_contrast * 16.f;
    if (!(t >= 0.f)) return 0;  // NaN
    // 2^31 is the first float above INT_MAX; converting anything at or above it is undefined.
    if (t >= 2147483648.f) return INT_MAX;
    return static_cast<int>(t);
}

void quantize_orientations_with(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                                float radius, bool vector_path) {
    const int rows = level.rows;
    const int cols = level.cols;
    const int b = orientation_border(radius);
    cv::Mat out = cv::Mat::zeros(rows + 2 * b, cols + 2 * b, CV_8UC1);
    if (rows >= 3 && cols >= 3) {
        CV_Assert(level.type() == CV_8UC1);
        // Only inner pixels are coded, so their 3x3 Sobel neighbourhoods never reach past the
        // level: the kernels compute the gradient from the three rows directly.
        const int threshold = orientation_threshold(min_contrast);
        const bool avx2 = vector_path && core_tables().cpu_avx2 != 0;
        const auto n = static_cast<std::size_t>(cols - 2);
        tbb::parallel_for(tbb::blocked_range<int>(1, rows - 1),
                          [&](const tbb::blocked_range<int>& rr) {
                              for (int r = rr.begin(); r != rr.end(); ++r) {
                                  const auto* up = level.ptr<std::uint8_t>(r - 1);
                                  const auto* mid = level.ptr<std::uint8_t>(r);
                                  const auto* down = level.ptr<std::uint8_t>(r + 1);
                                  std::uint8_t* dst = out.ptr<std::uint8_t>(r + b) + b + 1;
                                  if (avx2) code_row_avx2(up, mid, down, dst, n, threshold);
                                  else code_row_scalar(up, mid, down, dst, n, threshold);
                              }
                          });
    }
    // Assigned last, so that `codes` may be the level image itself.
    codes = out;
}

void quantizedOrientations16(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                             float radius) {
    quantize_orientations_with(level, codes, min_contrast, radius, true);
}

}  // namespace quro

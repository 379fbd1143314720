#include "quro/match/coarse/orientation_codes.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "quro/match/coarse/orientation_kernels.h"
#include "quro/parallel.h"

namespace quro {

int orientation_border(float radius) {
    const double b = static_cast<double>(radius) + 1.5;
    if (!(b >= 0.0)) return 0;  // negative or NaN
    if (b >= static_cast<double>(kMaxOrientationBorder)) return kMaxOrientationBorder;
    return static_cast<int>(b);
}

int orientation_border(float radius, int rows, int cols) {
    const long long cap = std::max<long long>({rows, cols, 0}) + kOrientationFrameSlack;
    return static_cast<int>(std::min<long long>(orientation_border(radius), cap));
}

int orientation_border_of_frame(float radius, int frame_rows, int frame_cols) {
    // With M the level's larger side and K the slack: uncapped, the larger frame side is M + 2b
    // and b <= M + K means 3b <= side + K; capped, the side is 3M + 2K and the frame M + K.
    constexpr long long K = kOrientationFrameSlack;
    const long long b = orientation_border(radius);
    const long long side = std::max<long long>({frame_rows, frame_cols, 0});
    if (3 * b <= side + K) return static_cast<int>(b);
    return static_cast<int>(std::max<long long>((side - 2 * K) / 3 + K, 0));
}

int orientation_threshold(float min_contrast) {
    const float t = min_contrast * min_contrast * 16.f;
    if (!(t >= 0.f)) return 0;  // NaN
    // 2^31 is the first float above INT_MAX; converting anything at or above it is undefined.
    if (t >= 2147483648.f) return INT_MAX;
    return static_cast<int>(t);
}

bool quantize_orientations_with(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                                float radius, KernelPath path, const TimeLimit& limit) {
    const int rows = level.rows;
    const int cols = level.cols;
    const int b = orientation_border(radius, rows, cols);
    cv::Mat out = cv::Mat::zeros(rows + 2 * b, cols + 2 * b, CV_8UC1);
    if (rows >= 3 && cols >= 3) {
        CV_Assert(level.type() == CV_8UC1);
        // Only inner pixels are coded, so their 3x3 Sobel neighbourhoods never reach past the
        // level: the kernels compute the gradient from the three rows directly.
        const int threshold = orientation_threshold(min_contrast);
        const bool avx2 = use_avx2(path);
        const auto n = static_cast<std::size_t>(cols - 2);
        // Index i codes inner row i + 1.
        parallel_for_index(static_cast<std::size_t>(rows - 2), [&](std::size_t i) {
            if (limit.passed()) return;
            const int r = static_cast<int>(i) + 1;
            const auto* up = level.ptr<std::uint8_t>(r - 1);
            const auto* mid = level.ptr<std::uint8_t>(r);
            const auto* down = level.ptr<std::uint8_t>(r + 1);
            std::uint8_t* dst = out.ptr<std::uint8_t>(r + b) + b + 1;
            if (avx2) code_row_avx2(up, mid, down, dst, n, threshold);
            else code_row_scalar(up, mid, down, dst, n, threshold);
        });
    }
    if (limit.passed()) return false;
    // Assigned last, so that `codes` may be the level image itself.
    codes = out;
    return true;
}

void quantizedOrientations16(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                             float radius) {
    quantize_orientations_with(level, codes, min_contrast, radius, KernelPath::automatic);
}

}  // namespace quro

// Image side of the coarse (top-level) comparison: 16-direction orientation codes of a pyramid
// level, and the 16 response maps that say how well each model direction agrees with the image
// direction at every pixel.
#ifndef QURO_MATCH_COARSE_ORIENTATION_CODES_H
#define QURO_MATCH_COARSE_ORIENTATION_CODES_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/coarse/orientation_kernels.h"
#include "quro/stopwatch.h"

namespace quro {

// Width B of the zero frame around an orientation code image made for a model of level radius
// `radius`: (int)((double)radius + 1.5). A negative or NaN radius gives 0 and a huge one is
// capped at kMaxOrientationBorder.
int orientation_border(float radius);
inline constexpr int kMaxOrientationBorder = 1 << 16;

// The frame actually laid around a level of rows x cols pixels: orientation_border(radius), but
// at most max(rows, cols) + kOrientationFrameSlack. A reference point inside the level then still
// sees every model point within reach of the level (a model level whose radius exceeds about 1.5
// times the level's larger side is scored only where its box fits in the frame), and the codes,
// response maps and score maps stay within a fixed multiple of the level's size whatever radius a
// model holds.
int orientation_border(float radius, int rows, int cols);
inline constexpr int kOrientationFrameSlack = 64;

// The frame of a code (or response or score) image of frame_rows x frame_cols pixels made by
// quantizedOrientations16 for `radius`: the inverse of the above. Peak extraction takes its margin
// from here.
int orientation_border_of_frame(float radius, int frame_rows, int frame_cols);

// Squared-magnitude threshold of the orientation codes for `min_contrast`:
// (int)(min_contrast * min_contrast * 16.f), saturated to [0, INT_MAX] (NaN gives 0).
int orientation_threshold(float min_contrast);

// Orientation codes of one pyramid level (8-bit, one channel). `codes` is replaced by a new
// continuous 8-bit image of (rows + 2B) x (cols + 2B), B = orientation_border(radius, rows, cols),
// all zero
// except at (r + B, c + B) for the level's inner pixels (1 <= r <= rows - 2, 1 <= c <= cols - 2)
// whose 3x3 Sobel gradient has gx^2 + gy^2 strictly above orientation_threshold(min_contrast):
// there it holds orientation_bin16(gx, gy) + 1 (1..16). A level with fewer than 3 rows or
// columns (or none) gives an all-zero image of that size. `codes` may be `level` itself.
// Throws cv::Exception for a non-empty level that is not 8-bit one-channel.
void quantizedOrientations16(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                             float radius);

// The builder with the kernel chosen by the caller (use_avx2(path)): the AVX2 kernels or the
// one-lane loops, which give the same bytes. For tests and benchmarks; everything else calls
// quantizedOrientations16. The searches pass their time limit, asked before every row of codes:
// when it has passed the builder stops and returns false, and its output (partly written) must be
// discarded; true when the output is complete.
bool quantize_orientations_with(const cv::Mat& level, cv::Mat& codes, float min_contrast,
                                float radius, KernelPath path, const TimeLimit& limit = {});

}  // namespace quro

#endif  // QURO_MATCH_COARSE_ORIENTATION_CODES_H

// The sub-pixel gradient peak at one pixel: the single-pixel form of the edge detector's fit, used
// by the searches for the image edge that belongs to a model point.
#ifndef QURO_EDGES_GRADIENT_PEAK_H
#define QURO_EDGES_GRADIENT_PEAK_H

#include <opencv2/core/mat.hpp>

namespace quro {

// For an 8-bit single-channel matrix (any row stride): when 2 <= x < cols - 2, 2 <= y < rows - 2,
// the Sobel magnitude at (x, y) exceeds `threshold` and the quadratic fit of the 3x3 magnitudes
// around it has a ridge whose peak lies within half a pixel, writes {x + ox, y + oy, nx, ny} to
// out[0..3] (the unit normal pointing from dark to bright) and returns true. Otherwise returns
// false and leaves out untouched. Pure: safe to call from many threads at once.
bool get_subpix_pos_mat(const cv::Mat& img8u, int x, int y, float threshold, float* out);

}  // namespace quro

#endif  // QURO_EDGES_GRADIENT_PEAK_H

// The fold check of a dense deformation field: a point whose neighbourhood the field squeezes,
// flips or stretches too far loses its weight, so that the field can be solved again without it.
#ifndef QURO_MATCH_DEFORM_DENSE_FIELD_FOLDS_H
#define QURO_MATCH_DEFORM_DENSE_FIELD_FOLDS_H

#include <opencv2/core.hpp>
#include <vector>

namespace quro {

// Zeroes the weight of every point (weight above 0) where the maps fold or tear: at the point's
// source position rounded half to even, for the 5 by 5 pixels around it, the Jacobian
// (a, b; c, d) of the maps by 3 by 3 Sobel kernels divided by 8 must keep a * d - b * c at least
// `min_determinant` and (a - 1)^2 + b^2 + c^2 + (d - 1)^2 at most `max_deviation`. Points closer
// than 3 pixels to the border (2 < x < cols - 3 and 2 < y < rows - 3 fail) and non-finite sources
// are skipped; only the first min(sources, weights) points count. Returns how many weights it
// zeroed, or -1 (nothing changed) when the maps are not two CV_32FC1 matrices of one size.
int rejectFoldingPoints(const cv::Mat& map_x, const cv::Mat& map_y,
                        const std::vector<cv::Point2f>& sources, std::vector<float>& weights,
                        float min_determinant, float max_deviation);

}  // namespace quro

#endif  // QURO_MATCH_DEFORM_DENSE_FIELD_FOLDS_H

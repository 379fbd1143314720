// Robust statistics and the weighted least-squares pose correction of the sub-pixel refinement.
#ifndef QURO_MATCH_SUBPIXEL_POSE_STEP_H
#define QURO_MATCH_SUBPIXEL_POSE_STEP_H

#include <opencv2/core.hpp>

#include "quro/quro.h"

#include <utility>
#include <vector>

namespace quro {

// {median, median absolute deviation} of the values; {0, 0} for an empty list. The median of an
// even count averages the element of rank n/2 with the largest element below it. NaN values rank
// above every number. The list is not changed.
std::pair<float, float> median_mad(const std::vector<float>& values);

// One weighted least-squares solve for a pose correction (shift x, shift y in pixels, rotation in
// radians) from N equation rows: rows is N x 3 CV_32F, rhs holds N CV_32F values (one column or
// one row), weights N floats; rows whose weight is not above 1e-5 are skipped. Sizes or types that
// do not match throw cv::Exception (N = 0 may be given as empty matrices). A well-conditioned
// system (condition number below 1e7) is solved by Cholesky; otherwise, or when that solution
// fails or leaves the bounds, by singular value decomposition (pseudo-inverse). The bounds are
// tolerance + 2.5 pixels for each shift and tolerance / 2 (integer division) + 2.5 degrees for the
// rotation, or min_angle_bound degrees when that is larger. Returns true and writes dx, dy
// (pixels) and dangle (degrees) when a finite step within the bounds was found; returns false and
// leaves the outputs untouched otherwise.
bool pose_least_squares_step(const cv::Mat& rows, const cv::Mat& rhs,
                             const std::vector<float>& weights, int tolerance, float& dx,
                             float& dy, float& dangle, float min_angle_bound = 0.f);

// As pose_least_squares_step with the scales among the unknowns: rows is N x k CV_32F, k = 4 (a
// uniform scale change) or 5 (row, then column scale change), after the row shift, column shift
// and rotation. The same solves and bounds, and every scale change within scale_bound. Returns
// true and writes x[0..k-1] (x[2] in degrees) for a finite step within the bounds; false and x
// untouched otherwise.
bool pose_scale_least_squares_step(const cv::Mat& rows, const cv::Mat& rhs,
                                   const std::vector<float>& weights, int tolerance,
                                   float min_angle_bound, float scale_bound, float* x);

// The scale columns of one equation row of pose_scale_least_squares_step: the change of the posed
// point (px, py) (about the match's centre, at the match's angle and scales) along the unit normal
// (nx, ny) per unit change of each scale. The point is R S p with S = diag(column scale, row
// scale); unrotated, q = R^T (px, py) = S p, so a row scale change moves it by (q.y / sr) R (0, 1)
// and a column scale change by (q.x / sc) R (1, 0), a uniform one by (px, py) / s. `unknowns` 1
// writes out[0] (uniform), 2 writes out[0] (row) and out[1] (column).
void scale_change_columns(const Match& m, int unknowns, float px, float py, float nx, float ny,
                          float* out);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_POSE_STEP_H

// Dense deformation fields from scattered point displacements. The locally deformable search knows
// where each of its model points was found; these functions spread those displacements over the
// whole field rectangle (a smooth interpolation that follows each point in proportion to its
// confidence and relaxes to the mean of its neighbours elsewhere), and sample it bilinearly
// (the fold check is dense_field_folds.h). Internal to the library: nothing here is exported.
//
// Frames: positions are (x = column, y = row) in pixels of the rectangle, whose top-left corner is
// (0, 0). A displacement field is a CV_32FC2 matrix (channel 0 the x displacement, channel 1 the y
// displacement, always in full-resolution pixels whatever the grid's size). Sampling maps are two
// CV_32FC1 matrices of the rectangle's size holding absolute positions: map_x(i, j) = j + dx,
// map_y(i, j) = i + dy.
#ifndef QURO_MATCH_DEFORM_DENSE_FIELD_H
#define QURO_MATCH_DEFORM_DENSE_FIELD_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/deform/dense_field_spline.h"

namespace quro {

// Relaxation limits of one grid level: at most this many sweeps, with the convergence test after
// every positive multiple of the interval.
inline constexpr int kFieldMaxSweeps = 200;
inline constexpr int kFieldCheckInterval = 50;
// The tolerance generateDenseFieldFast passes on (largest change per sweep, pixels).
inline constexpr double kFieldTolerance = 0.001;
// A pyramid deeper than this holds only 1 by 1 grids on its extra levels; deeper requests are cut.
inline constexpr int kFieldMaxLevels = 32;

// The displacement field of `size` (at least 1 by 1; an empty size gives an empty matrix) from
// point k at positions[k] carrying displacements[k] with confidence min(1, weights[k] *
// weight_scale) (0 when that product is not above 0). Solved coarse to fine over `levels` grids
// (below 1 counts as 1), p = levels - 1 .. 0: level p has a cell every 2^p positions, the first
// on position 0, and enough cells that the last lies on or beyond the last position; a coarser
// level's field is enlarged bilinearly so that its cell g starts the finer cells at 2g. Each by at most
// kFieldMaxSweeps Jacobi sweeps of "new = c * data + (1 - c) * mean of the 4 neighbours" (indices
// clamped into the grid), stopping after sweep 50, 100 or 150 when no value of that sweep changed
// by `tolerance` or more (the field from before that sweep is kept). A cell with several points
// holds their mean displacement and the largest of their confidences; a weight-0 point pulls the
// mean but fixes nothing. Only the first min(positions, displacements, weights) points count;
// points with a non-finite position or displacement, or outside the grid, are skipped. Rounding is
// half to even. `reserved` is not read.
cv::Mat computeDisplacementFieldPyramid(cv::Size size, const std::vector<cv::Point2f>& positions,
                                        const std::vector<cv::Point2f>& displacements,
                                        const std::vector<float>& weights, double weight_scale,
                                        int levels, int reserved, double tolerance);

// Number of pyramid levels generateDenseFieldFast solves a rectangle of `size` on: with
// m = min(width / 4, height / 4), 1 when m <= 16, else min(6, trunc(log2(m / 16)) + 1).
int dense_field_levels(cv::Size size);

// Sampling maps of a rectangle of `size` (map_x, map_y: CV_32FC1 of `size`, absolute positions)
// from model points found at targets[k] that lie at sources[k] in the rectangle (note the order:
// targets first). The field is solved on a grid with a cell every 4 pixels (cell g at pixel 4g,
// the last cell on or beyond the last pixel) from positions sources * 0.25 and displacements
// targets - sources, with dense_field_levels and kFieldTolerance, then enlarged bilinearly so that
// pixel x takes the grid's value at x / 4: a point on a cell's pixel holds the field exactly
// there. No points give the identity maps. An empty
// `size` gives empty maps. The three ints are not read.
void generateDenseFieldFast(cv::Size size, const std::vector<cv::Point2f>& targets,
                            const std::vector<cv::Point2f>& sources,
                            const std::vector<float>& weights, cv::Mat& map_x, cv::Mat& map_y,
                            int reserved1, double weight_scale, int reserved2, int reserved3);

// Sampling maps of a rectangle of `size` (as generateDenseFieldFast: CV_32FC1, absolute
// positions) from the spline field of `points` fitted as `fit` says (solve_spline_field of
// dense_field_spline.h; positions in pixels of the rectangle), sampled every 4 pixels (cell g at
// pixel 4g, the last cell on or beyond the last pixel) and enlarged bilinearly as there. No point
// with a weight gives the identity maps; an empty `size` gives empty maps.
void dense_field_maps_spline(cv::Size size, const SplinePoints& points, const SplineFit& fit,
                             cv::Mat& map_x, cv::Mat& map_y);

// Bilinear value of two float grids of `width` by `height` values (row stride `stride` floats) at
// the fractional position (x, y), written to out_x and out_y. A position outside the grid takes
// the nearest edge value (edge replicate) and never reads outside it; a NaN coordinate counts as 0.
// Returns false, writing 0 to both, for a null grid or one without values.
bool sampleFieldBilinear(const float* map_x, const float* map_y, float x, float y, int stride,
                         int width, int height, float& out_x, float& out_y);

}  // namespace quro

#endif  // QURO_MATCH_DEFORM_DENSE_FIELD_H

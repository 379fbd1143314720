// A smooth deformation field as a cubic B-spline surface (a penalised spline): the field of the
// locally deformable search, solved from model points whose moves are known across their edges.
// A membrane (the relaxation of dense_field.h) sags between two edges that bend alike, by
// cosh(2 pi v / wavelength) over the distance v between them, and stays flat beyond its last
// points; a spline with a curvature penalty carries the bend across the part and continues it
// beyond the last points. Internal to the library: nothing here is exported.
//
// Frames: positions are (x = column, y = row) in pixels of the field rectangle, displacements in
// pixels; the rectangle's top-left corner is (0, 0).
#ifndef QURO_MATCH_DEFORM_DENSE_FIELD_SPLINE_H
#define QURO_MATCH_DEFORM_DENSE_FIELD_SPLINE_H

#include <opencv2/core.hpp>
#include <vector>

namespace quro {

// The points of one spline solve: point k lies at positions[k] and moved by displacements[k]; its
// move is known along its unit normal normals[k] (across its edge) with the weight weights[k] (0
// or below, or not finite: the point is not used). Along its edge the field is free.
struct SplinePoints {
    const std::vector<cv::Point2f>& positions;
    const std::vector<cv::Point2f>& displacements;
    const std::vector<cv::Point2f>& normals;
    const std::vector<float>& weights;
};

// Knots of the spline over a rectangle of `size`: `intervals` knot intervals across its shorter
// side (at least 1 pixel each), the same spacing along the longer one.
struct SplineKnots {
    double spacing = 1.0;
    int nx = 4;  // control values per row
    int ny = 4;  // control values per column
};
SplineKnots spline_knots(cv::Size size, int intervals);

// How a spline field is fitted: knot intervals across the rectangle's shorter side, the weight of
// the curvature penalty and that of the size penalty (both against point weights of about 1).
struct SplineFit {
    int intervals = 6;
    double curvature = 0.0;
    double ridge = 0.0;
};

// The field (two components, image x and y) over a rectangle of `size` minimising
//   sum over the points of weight * (n . f(p) - n . d)^2
//   + fit.curvature * sum of the control values' second differences squared (along x, along y
//     and twice the mixed one, per component)
//   + fit.ridge * sum of the control values squared,
// sampled on `grid` (CV_32FC2 of cells (i, j) at pixel (cell_spacing * j, cell_spacing * i)),
// with the knots of spline_knots(size, fit.intervals). The curvature penalty leaves planes free;
// the size penalty pulls the field towards no deformation where the points say little (beyond
// the last points and along long straight edges). Only the first min of the four sizes count;
// points with a non-finite position, displacement or normal are skipped. Returns false, leaving
// `field` zero, when no point holds a weight or the system cannot be solved.
bool solve_spline_field(const SplinePoints& pts, const SplineFit& fit, cv::Size size,
                        cv::Size grid, int cell_spacing, cv::Mat& field);

}  // namespace quro

#endif  // QURO_MATCH_DEFORM_DENSE_FIELD_SPLINE_H

// Measure handles laid out along lines, circles and ellipses, and the handle geometry shared
// with edge measuring.
#ifndef QURO_MEASURE_HANDLE_LAYOUT_H
#define QURO_MEASURE_HANDLE_LAYOUT_H

#include <vector>

#include "quro/quro.h"

namespace quro {

// The two unit directions of a handle with `angle` degrees: with phi = angle + 90 degrees, the
// profile axis (sin phi, cos phi) and the across direction (cos phi, -sin phi).
struct HandleDirections {
    double ax, ay;  // along the profile
    double wx, wy;  // across it
};
HandleDirections handle_directions(double angle_deg);

// Most handles one layout hands out (2^20, 20 MB of handles).
inline constexpr int kMaxMeasureHandles = 1 << 20;

// How many handles a layout hands out: m = (int)fit + plus fit (fit truncated toward zero), or
// `wanted` of them when 1 <= wanted < m. Returns 0 when none fits, when fit is not a number or
// m does not fit an int, or when the count would exceed kMaxMeasureHandles.
int handle_count(double fit, int plus, int wanted);

// An ellipse layout's geometry: centre, rotation in degrees (positive turns the ellipse
// counter-clockwise on screen), semi-axes a (along the rotated x axis) and b, the handles' size,
// their direction (outward for direction >= 0, inward below) and the wanted count (< 1: all that
// fit).
struct EllipseLayout {
    double x, y, angle, a, b;
    double half_length, half_width;
    int direction;
    int wanted;
};

// Fills `out` with the handles of an ellipse, evenly spaced by arc length, the last at
// parameter 0. Returns 0, or -1 (out left empty) when none fits or the geometry is not usable:
// a or b <= 0, half_width <= 0, or a value that is not finite.
int gen_ellipse_detector(const EllipseLayout& e, std::vector<RRect>& out);

}  // namespace quro

#endif  // QURO_MEASURE_HANDLE_LAYOUT_H

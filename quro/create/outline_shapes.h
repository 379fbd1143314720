// Full-resolution points of the generated outlines, relative to the reference point, with unit
// edge directions pointing into the shape. Orders are fixed: the search samples every d-th point.
#ifndef QURO_CREATE_OUTLINE_SHAPES_H
#define QURO_CREATE_OUTLINE_SHAPES_H

#include <vector>

#include "quro/quro.h"

namespace quro {

// Circle of radius r > 0: for t = i / r (i = 0, 1, ...) while t < 2 pi, the point
// (-r sin t, -r cos t) with direction (sin t, cos t). Nothing for r <= 0.
std::vector<Feature> circle_outline(float r);

// Ellipse of semi-axes ra (columns) and rb (rows), both > 0: for t = i / ra while t < 2 pi, the
// point (ra sin t, rb cos t) with the inward normal of the ellipse as direction. Nothing for
// ra <= 0.
std::vector<Feature> ellipse_outline(float ra, float rb);

// Rectangle of half lengths a (columns) and b (rows), one point per pixel along each side without
// the corners: left side top to bottom, bottom side left to right, right side bottom to top, top
// side right to left.
std::vector<Feature> rectangle_outline(float a, float b);

// Cross of arm half-length a and half-width c: the eight long edges of its arms (not the end
// caps), each through segment_to_features. Returns 0, or -1 when an edge is too long.
int cross_outline(float a, float c, std::vector<Feature>& out);

// Two segments (x0, y0, x1, y1, sign each) through segment_to_features. Returns 0 or -1.
struct SignedSegment {
    float x0, y0, x1, y1;
    int sign;
};
int segment_pair_outline(const SignedSegment& first, const SignedSegment& second,
                         std::vector<Feature>& out);

}  // namespace quro

#endif  // QURO_CREATE_OUTLINE_SHAPES_H

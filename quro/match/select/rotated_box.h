// Rotated outline boxes of posed matches and their overlap, for the final match selection.
#ifndef QURO_MATCH_SELECT_ROTATED_BOX_H
#define QURO_MATCH_SELECT_ROTATED_BOX_H

#include <opencv2/core.hpp>

#include "quro/match/coarse/peak_extraction.h"

namespace quro {

// A level's outline box placed at a match. corners are in the order (min_x, min_y),
// (max_x, min_y), (max_x, max_y), (min_x, max_y) of the scaled box, posed.
struct RotatedBox {
    float cx;  // centre: the mean of the four corners
    float cy;
    float angle;   // degrees: the full pose angle the box was built with
    float half_w;  // half the scaled box extent along its x axis
    float half_h;  // half the scaled box extent along its y axis
    cv::Point2f corners[4];
};

// The box `box` (an OutlineBox) scaled by `scale` and posed at reference point (x, y) with
// angle `angle` in degrees. `angle` is the FULL angle: the caller adds the box angle
// (box.angle) to
// the match's angle; this function does not. A corner (X, Y) lands at
// (c * X + s * Y + x, c * Y - s * X + y), c = cos angle, s = sin angle (the model pose).
RotatedBox rotated_box(const OutlineBox& box, float x, float y, float angle, float scale);

// As rotated_box with min_x and max_x scaled by scale_col and min_y and max_y by scale_row.
RotatedBox rotated_box_aniso(const OutlineBox& box, float x, float y, float angle, float scale_row,
                             float scale_col);

// Area of the intersection of a and b divided by the smaller of the two box areas, in [0, 1]:
// 1 for equal boxes and for a box inside the other, 0 for disjoint ones. A box is measured at
// least one pixel across in each direction (half sizes below 0.5 count as 0.5), so boxes of
// models whose points lie on a line overlap like thin bars. 0 when either box has a non-finite
// value or area (no NaN ever comes out).
float rotated_box_overlap(const RotatedBox& a, const RotatedBox& b);

// Largest distance of a corner of `b` from the point (x, y): with (x, y) the reference point the
// box was posed at, the radius of a disc around it that holds the whole box.
float rotated_box_reach(const RotatedBox& b, float x, float y);

}  // namespace quro

#endif  // QURO_MATCH_SELECT_ROTATED_BOX_H

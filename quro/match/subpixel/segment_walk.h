// The pixels a ray passes through, as offsets from its start pixel.
#ifndef QURO_MATCH_SUBPIXEL_SEGMENT_WALK_H
#define QURO_MATCH_SUBPIXEL_SEGMENT_WALK_H

#include <opencv2/core/types.hpp>

#include <vector>

namespace quro {

// Replaces pts with the integer offsets (x, y), relative to the start pixel, of the pixels that a
// ray from (fx, fy) in direction (dx, dy) enters, in order, starting with (0, 0). fx and fy are the
// start point's offset from the centre of its pixel (each within +-0.5). The walk steps
// diagonally only where the ray passes a pixel corner exactly. It visits count steps along the
// ray's major axis and stops once count cells are listed; the list holds at most count + 1 cells
// (none for count < 0), whatever the inputs.
void rasterize_segment(int count, std::vector<cv::Point>& pts, float fx, float fy, float dx,
                       float dy);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_SEGMENT_WALK_H

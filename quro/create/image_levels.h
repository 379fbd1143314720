// The pyramid levels of a shape model made from an image: per level, the sub-pixel edge points of
// the level image centred on the level's middle, and their rotated box.
#ifndef QURO_CREATE_IMAGE_LEVELS_H
#define QURO_CREATE_IMAGE_LEVELS_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/create/creation_frame.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// Edge-chain minimum length per level (index 0 = full resolution): min_component_size clamped to
// 1..128, then halved per level (integer division), 2 where that gives less than 3.
// 40 gives 40, 20, 10, 5, 2, 2, ...; 1 gives 1, 2, 2, ...
std::vector<int> level_min_lengths(int min_component_size, int levels);

// Box angle (degrees, in [-45, 45]) of a rectangle given by its four corners in the order of
// cv::RotatedRect::points: of the sides p0 - p1 and p1 - p2 the longer (p1 - p2 on a tie) is the
// direction (dx, dy); theta0 = atan2(dx, dy) in degrees - 90 and theta1 = theta0 + 90 are folded
// into [-90, 90], and the one of smaller magnitude is taken (theta0 on a tie). In the pose
// convention of the models, a rectangle turned by a in (-45, 45] gives a, one turned by a + 90
// gives a as well.
float box_angle_of_corners(const cv::Point2f (&corners)[4]);

// Centres `points` on (cx, cy) and measures them into `box`: radius, the box angle of their
// minimum-area rectangle, and that rectangle's corners rotated by -angle (bounded by +-cols and
// +-rows). Sets box.width = cols and box.height = rows. Needs at least one point.
std::vector<Feature> centre_and_measure(const std::vector<EdgePoint>& points, int cols, int rows,
                                        LevelBox& box);

// Builds the pyramid levels of an image model into `record` (whose per-level lists must be
// empty). `image` is an 8-bit continuous matrix; `mask` is an 8-bit continuous matrix of the
// same size or empty (no mask). num_levels 1..10 builds at most that many levels; 0 up to 10,
// stopping at a level with a side below 8 or both sides below 12; any other value up to 10
// without that size stop. Building ends without error at a level with fewer than 20 edge points.
// Returns 0 with record.num_levels set; -1 when no level was built; the edge detector's code when
// it fails (-2 for too many strong pixels, -1 for no memory); -2 when the deadline has passed
// after any level. Neither matrix is written.
int build_shape_model_levels(const cv::Mat& image, const cv::Mat& mask, int num_levels,
                             const ContrastParams& contrast, ShapeModelRecord& record,
                             const Deadline& deadline);

}  // namespace quro

#endif  // QURO_CREATE_IMAGE_LEVELS_H

// Outline transforms: one pyramid level of a stored model placed at an angle and a scale, with
// integer or float positions. The searches build their sub-pixel and detail templates with them,
// and the outline exports (get_model_transform*, get_model_contour*) hand their results to
// callers. The per-point arithmetic is the shared one of quro/model_pose.h.
#ifndef QURO_MODEL_TRANSFORMS_H
#define QURO_MODEL_TRANSFORMS_H

#include <cstddef>
#include <vector>

#include "quro/model_pose.h"
#include "quro/model_table.h"
#include "quro/pose_kernels.h"
#include "quro/quro.h"

namespace quro {

// One posed model level: the bounding box of the rounded positions (relative to the reference
// point), the level's image size, and the sampled points in their stored order. A level without
// points (or a level that does not exist) gives the box 0, 0, 0, 0 and no points.
template <class P>
struct ModelPointSet {
    int min_x = 0;
    int min_y = 0;
    int max_x = 0;
    int max_y = 0;
    int level_width = 0;
    int level_height = 0;
    std::vector<P> points;
};


// Sampling steps. transform_model_points_aniso: a step below 1 means 2^(num_levels - level).
// rotated_template and rotated_template_aniso: a step below 1 means
// 2^(num_levels + max(0, -step) - level). A step of 1 or more is used as it is. The exponent is
// kept within 0..30, so no step overflows.
int aniso_point_step(const ShapeModelRecord& rec, int level, int step);
int template_point_step(const ShapeModelRecord& rec, int level, int step);

// Every transform below fills `out` completely, reusing the capacity of out.points: with an output
// that is reused across calls it allocates nothing. Points taken are those with index 0, step,
// 2 * step, ... of the level, (n - 1) / step + 1 of n (none of none). A level that does not exist
// gives an empty set with level size 0. No transform touches the model table or the result
// registry; sin and cos are computed once per call.

// Level 1, every point, uniform scale; positions rounded half away from zero, tag 0.
void transform_model_points(const ShapeModelRecord& rec, float angle, float scale,
                            ModelPointSet<FeatureI>& out);

// The given level and step, row and column scales; positions rounded, tag 0. Circle models take
// their directions from the scaled ellipse (circle_model_direction).
void transform_model_points_aniso(const ShapeModelRecord& rec, float angle, int level,
                                  float scale_row, float scale_col, int step,
                                  ModelPointSet<FeatureI>& out);

// The given level and step, uniform scale; float positions (rounded only for the box).
void rotated_template(const ShapeModelRecord& rec, float angle, int level, float scale, int step,
                      ModelPointSet<Feature>& out);

// The given level and step, row and column scales; float positions. Circle models take their
// directions from the scaled ellipse (circle_model_direction).
void rotated_template_aniso(const ShapeModelRecord& rec, float angle, int level, float scale_row,
                            float scale_col, int step, ModelPointSet<Feature>& out);

}  // namespace quro

#endif  // QURO_MODEL_TRANSFORMS_H

#include "quro/model_transforms.h"

#include <algorithm>
#include <climits>
#include <type_traits>

#include "quro/cpu.h"
#include "quro/model_pose.h"

namespace quro {
namespace {

int power_of_two_step(long long exponent) {
    return 1 << static_cast<int>(std::clamp(exponent, 0LL, 30LL));
}

// Poses points in[0], in[stride], ... into out[0 .. count). FeatureI output holds the rounded
// positions with tag 0.
template <class P>
PoseBox pose_into(const Feature* in, std::size_t stride, std::size_t count, const PoseRotation& r,
                  float sr, float sc, bool circle, P* out) {
    return pose_points(in, stride, count, r, sr, sc, circle,
                       [out](std::size_t i, const PoseVec& pos, const PoseVec& dir, int ix,
                             int iy) {
                           if constexpr (std::is_same_v<P, FeatureI>) {
                               out[i] = FeatureI(ix, iy, dir.x, dir.y, 0);
                           } else {
                               out[i] = Feature(pos.x, pos.y, dir.x, dir.y);
                           }
                       });
}

// Poses every step-th point of `level` into `out`. circle: directions from the scaled ellipse.
template <class P>
void pose_level(const ShapeModelRecord& rec, float angle, int level, float sr, float sc, int step,
                bool circle, ModelPointSet<P>& out) {
    out.min_x = out.min_y = out.max_x = out.max_y = 0;
    if (!rec.has_level(level)) {
        out.level_width = out.level_height = 0;
        out.points.clear();
        return;
    }
    const LevelView view = rec.level(level);
    const std::vector<Feature>& src = view.features;
    out.level_width = view.width;
    out.level_height = view.height;
    const std::size_t stride = static_cast<std::size_t>(std::max(step, 1));
    const std::size_t count = sampled_count(src.size(), step);
    out.points.resize(count);
    if (count == 0) return;  // the box of a set without points stays 0, 0, 0, 0

    const PoseRotation r = pose_rotation(angle);
    PoseBox box = kEmptyPoseBox;
    if (circle) {
        box = pose_into(src.data(), stride, count, r, sr, sc, true, out.points.data());
    } else if constexpr (std::is_same_v<P, Feature>) {
        box = use_avx2(KernelPath::automatic)
                  ? pose_features_avx2(src.data(), stride, count, r.c, r.s, sr, sc, out.points.data())
                  : pose_features_scalar(src.data(), stride, count, r.c, r.s, sr, sc,
                                         out.points.data());
    } else {
        box = pose_into(src.data(), stride, count, r, sr, sc, false, out.points.data());
    }
    out.min_x = box.min_x;
    out.min_y = box.min_y;
    out.max_x = box.max_x;
    out.max_y = box.max_y;
}

}  // namespace

PoseBox pose_features_scalar(const Feature* in, std::size_t stride, std::size_t count, float c,
                             float s, float scale_row, float scale_col, Feature* out) {
    return pose_into(in, stride, count, PoseRotation{c, s}, scale_row, scale_col, false, out);
}

int aniso_point_step(const ShapeModelRecord& rec, int level, int step) {
    if (step >= 1) return step;
    return power_of_two_step(static_cast<long long>(rec.num_levels) - level);
}

int template_point_step(const ShapeModelRecord& rec, int level, int step) {
    if (step >= 1) return step;
    const long long coarser = -static_cast<long long>(step);  // step <= 0 here
    return power_of_two_step(static_cast<long long>(rec.num_levels) + coarser - level);
}

void transform_model_points(const ShapeModelRecord& rec, float angle, float scale,
                            ModelPointSet<FeatureI>& out) {
    pose_level(rec, angle, 1, scale, scale, 1, false, out);
}

void transform_model_points_aniso(const ShapeModelRecord& rec, float angle, int level,
                                  float scale_row, float scale_col, int step,
                                  ModelPointSet<FeatureI>& out) {
    pose_level(rec, angle, level, scale_row, scale_col, aniso_point_step(rec, level, step),
               is_circle_model(rec), out);
}

void rotated_template(const ShapeModelRecord& rec, float angle, int level, float scale, int step,
                      ModelPointSet<Feature>& out) {
    pose_level(rec, angle, level, scale, scale, template_point_step(rec, level, step), false, out);
}

void rotated_template_aniso(const ShapeModelRecord& rec, float angle, int level, float scale_row,
                            float scale_col, int step, ModelPointSet<Feature>& out) {
    pose_level(rec, angle, level, scale_row, scale_col, template_point_step(rec, level, step),
               is_circle_model(rec), out);
}

}  // namespace quro

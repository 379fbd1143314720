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

// Poses points in[0], in[stride], ... into out[0 .. count). kCircle: directions from the scaled
// ellipse. FeatureI output holds the rounded positions with tag 0.
template <class P, bool kCircle>
PoseBox pose_points(const Feature* in, std::size_t stride, std::size_t count, const PoseRotation& r,
                    float sr, float sc, P* out) {
    PoseBox box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (std::size_t i = 0; i < count; ++i) {
        const Feature& p = in[i * stride];
        const PoseVec pos = pose_position(r, p.x, p.y, sr, sc);
        PoseVec dir;
        if constexpr (kCircle) {
            const PoseVec g = circle_model_direction(p.x, p.y, p.gx, p.gy, sr, sc);
            dir = rotate_direction(r, g.x, g.y);
        } else {
            dir = rotate_direction(r, p.gx, p.gy);
        }
        const int ix = round_posed(pos.x);
        const int iy = round_posed(pos.y);
        box.min_x = std::min(box.min_x, ix);
        box.max_x = std::max(box.max_x, ix);
        box.min_y = std::min(box.min_y, iy);
        box.max_y = std::max(box.max_y, iy);
        if constexpr (std::is_same_v<P, FeatureI>) {
            out[i] = FeatureI(ix, iy, dir.x, dir.y, 0);
        } else {
            out[i] = Feature(pos.x, pos.y, dir.x, dir.y);
        }
    }
    return box;
}

// Poses every step-th point of `level` into `out`. circle: directions from the scaled ellipse.
template <class P>
void pose_level(const ShapeModelRecord& rec, float angle, int level, float sr, float sc, int step,
                bool circle, ModelPointSet<P>& out) {
    out.min_x = out.min_y = out.max_x = out.max_y = 0;
    if (!model_level_exists(rec, level)) {
        out.level_width = out.level_height = 0;
        out.points.clear();
        return;
    }
    const std::size_t li = static_cast<std::size_t>(level - 1);
    const std::vector<Feature>& src = rec.level_features[li];
    out.level_width = rec.level_widths[li];
    out.level_height = rec.level_heights[li];
    if (src.empty()) {
        out.points.clear();
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(std::max(step, 1));
    const std::size_t count = (src.size() - 1) / stride + 1;
    out.points.resize(count);

    const PoseRotation r = pose_rotation(angle);
    PoseBox box;
    if (circle) {
        box = pose_points<P, true>(src.data(), stride, count, r, sr, sc, out.points.data());
    } else if constexpr (std::is_same_v<P, Feature>) {
        box = use_avx2(KernelPath::automatic)
                  ? pose_features_avx2(src.data(), stride, count, r.c, r.s, sr, sc, out.points.data())
                  : pose_features_scalar(src.data(), stride, count, r.c, r.s, sr, sc,
                                         out.points.data());
    } else {
        box = pose_points<P, false>(src.data(), stride, count, r, sr, sc, out.points.data());
    }
    out.min_x = box.min_x;
    out.min_y = box.min_y;
    out.max_x = box.max_x;
    out.max_y = box.max_y;
}

}  // namespace

PoseBox pose_features_scalar(const Feature* in, std::size_t stride, std::size_t count, float c,
                             float s, float scale_row, float scale_col, Feature* out) {
    return pose_points<Feature, false>(in, stride, count, PoseRotation{c, s}, scale_row, scale_col,
                                       out);
}

bool model_level_exists(const ShapeModelRecord& rec, int level) {
    if (level < 1 || level > rec.num_levels) return false;
    const std::size_t need = static_cast<std::size_t>(level);
    return rec.level_features.size() >= need && rec.level_widths.size() >= need &&
           rec.level_heights.size() >= need;
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

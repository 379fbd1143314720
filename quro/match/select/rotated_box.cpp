#include "quro/match/select/rotated_box.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "quro/edges/geometry.h"
#include "quro/model_pose.h"
#include "quro/numeric.h"

namespace quro {
namespace {

RotatedBox pose_box(const OutlineBox& box, float x, float y, float angle, float scale_row,
                    float scale_col) {
    const float min_x = box.min_x * scale_col, max_x = box.max_x * scale_col;
    const float min_y = box.min_y * scale_row, max_y = box.max_y * scale_row;
    const PoseRotation r = pose_rotation(angle);
    RotatedBox out{};
    const float xs[4] = {min_x, max_x, max_x, min_x};
    const float ys[4] = {min_y, min_y, max_y, max_y};
    for (int k = 0; k < 4; ++k) {
        const PoseVec p = pose_position(r, xs[k], ys[k], 1.f, 1.f);
        out.corners[k] = cv::Point2f(p.x + x, p.y + y);
    }
    out.cx = (out.corners[0].x + out.corners[1].x + out.corners[2].x + out.corners[3].x) / 4.f;
    out.cy = (out.corners[0].y + out.corners[1].y + out.corners[2].y + out.corners[3].y) / 4.f;
    out.angle = angle;
    out.half_w = (max_x - min_x) / 2.f;
    out.half_h = (max_y - min_y) / 2.f;
    return out;
}

bool finite_box(const RotatedBox& b) {
    return std::isfinite(b.cx) && std::isfinite(b.cy) && std::isfinite(b.angle) &&
           std::isfinite(b.half_w) && std::isfinite(b.half_h);
}

// The box's four corners from its centre, half sizes and angle (the pose of rotated_box: the box's
// x axis runs along (cos a, -sin a), its y axis along (sin a, cos a)), in double precision.
std::vector<cv::Point2d> box_polygon(const RotatedBox& b) {
    const double a = static_cast<double>(b.angle) * kDegToRadD;
    const double c = std::cos(a), s = std::sin(a);
    const double hw = b.half_w, hh = b.half_h;
    std::vector<cv::Point2d> p;
    for (const auto& [u, v] : {std::pair{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}})
        p.emplace_back(b.cx + u * hw * c + v * hh * s, b.cy - u * hw * s + v * hh * c);
    return p;
}

// Model points are pixels, so a box spans at least one pixel across: a box thinner than that (a
// model whose points lie on a straight line has no area at all) is measured one pixel thick.
RotatedBox at_least_one_pixel_thick(RotatedBox b) {
    b.half_w = std::max(b.half_w, 0.5f);
    b.half_h = std::max(b.half_h, 0.5f);
    return b;
}

}  // namespace

RotatedBox rotated_box(const OutlineBox& box, float x, float y, float angle, float scale) {
    return pose_box(box, x, y, angle, scale, scale);
}

RotatedBox rotated_box_aniso(const OutlineBox& box, float x, float y, float angle, float scale_row,
                             float scale_col) {
    return pose_box(box, x, y, angle, scale_row, scale_col);
}

float rotated_box_overlap(const RotatedBox& box_a, const RotatedBox& box_b) {
    if (!finite_box(box_a) || !finite_box(box_b)) return 0.f;
    const RotatedBox a = at_least_one_pixel_thick(box_a);
    const RotatedBox b = at_least_one_pixel_thick(box_b);
    const float area_a = 4.f * a.half_w * a.half_h;
    const float area_b = 4.f * b.half_w * b.half_h;
    const float smaller = std::min(area_a, area_b);
    if (!(smaller > 0.f) || !std::isfinite(smaller)) return 0.f;
    // Clipped in double precision: OpenCV's rotated-rectangle intersection lost part of the
    // polygon for nested boxes sharing an edge (two matches at one place and row scale with
    // different column scales overlapped by 0.5 or 1 depending on the argument order).
    const auto overlap = static_cast<float>(
        convex_intersection_area(box_polygon(a), box_polygon(b)) / static_cast<double>(smaller));
    // The area is measured on rounded corners and may pass the box area by a few ulps.
    if (!(overlap > 0.f)) return 0.f;  // also NaN
    return std::min(overlap, 1.f);
}

float rotated_box_reach(const RotatedBox& b, float x, float y) {
    float reach2 = 0.f;
    for (const cv::Point2f& p : b.corners) {
        const float dx = p.x - x, dy = p.y - y;
        reach2 = std::max(reach2, dx * dx + dy * dy);
    }
    return std::sqrt(reach2);
}

}  // namespace quro

// Test fixture of the matching core: a shape model record built from a polygon outline, and the
// grey image of that polygon rendered at a pose. Matching-core tests use it instead of model
// creation.
//
// Pose convention (the library's): a model point (x, y) at angle a (degrees), row scale sr and
// column scale sc, placed at centre (cx, cy), lands at
//   X = cx + cos a * (sc * x) + sin a * (sr * y),   Y = cy + cos a * (sr * y) - sin a * (sc * x).
// Image pixel (c, r) covers [c - 0.5, c + 0.5] x [r - 0.5, r + 0.5].
#ifndef QURO_TESTING_POLYGON_MODEL_H
#define QURO_TESTING_POLYGON_MODEL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <vector>

#include "quro/model_table.h"
#include "testing/supersampled.h"

namespace quro_test {

struct PolygonPose {
    float cx = 0.f;
    float cy = 0.f;
    float angle = 0.f;  // degrees
    float scale_row = 1.f;
    float scale_col = 1.f;
};

// Places the model point (x, y) at `pose` (double precision, for reference values in tests).
inline cv::Point2d pose_model_point(const PolygonPose& pose, double x, double y) {
    const double a = pose.angle * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double xs = x * pose.scale_col, ys = y * pose.scale_row;
    return {pose.cx + c * xs + s * ys, pose.cy + c * ys - s * xs};
}

// Twice the signed area of a closed polygon (positive: its inside lies left of each edge, i.e.
// the left normal (-uy, ux) of an edge direction (ux, uy) points inside).
inline double polygon_signed_area2(const std::vector<cv::Point2f>& v) {
    double a = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const cv::Point2f& p = v[i];
        const cv::Point2f& q = v[(i + 1) % v.size()];
        a += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    return a;
}

// Full-resolution edge points of a closed polygon (vertices relative to the reference point, in
// either orientation, the closing side implied): along each side one point per pixel of length,
// without the vertices, each with the unit normal of its side pointing into the polygon. With a
// polygon brighter than its surroundings that normal is the image gradient (dark to bright).
inline std::vector<quro::Feature> polygon_edge_points(const std::vector<cv::Point2f>& vertices) {
    if (vertices.size() < 3) throw std::invalid_argument("a polygon needs 3 vertices");
    const double sign = polygon_signed_area2(vertices) > 0 ? 1.0 : -1.0;
    std::vector<quro::Feature> pts;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const cv::Point2f p = vertices[i];
        const cv::Point2f q = vertices[(i + 1) % vertices.size()];
        const double dx = q.x - p.x, dy = q.y - p.y;
        const double len = std::hypot(dx, dy);
        if (len < 1.0) continue;
        const double ux = dx / len, uy = dy / len;
        const auto gx = static_cast<float>(-uy * sign), gy = static_cast<float>(ux * sign);
        const int n = static_cast<int>(len);
        for (int k = 1; k < n; ++k) {
            pts.emplace_back(static_cast<float>(p.x + k * ux), static_cast<float>(p.y + k * uy),
                             gx, gy);
        }
    }
    return pts;
}

// A shape model record of `levels` levels from a closed polygon: level k holds the edge points
// (polygon_edge_points) of the polygon shrunk by 2^(k - 1), so each level has one point per pixel
// of its own resolution and about half the points of the level below. Per level: box (min/max of
// x and y), radius (largest distance from the reference point), box angle 0, level size twice the
// larger extent from the reference point along each axis. shape_kind 2 (an outline that is not a
// circle). Throws std::invalid_argument when a level comes out empty.
inline quro::ShapeModelRecord polygon_model(const std::vector<cv::Point2f>& vertices,
                                            int levels) {
    quro::ShapeModelRecord rec;
    rec.shape_kind = 2;
    rec.num_levels = levels;
    for (int level = 1; level <= levels; ++level) {
        const float shrink = std::ldexp(1.f, 1 - level);
        std::vector<cv::Point2f> shrunk;
        for (const cv::Point2f& v : vertices) shrunk.emplace_back(v.x * shrink, v.y * shrink);
        const std::vector<quro::Feature> pts = polygon_edge_points(shrunk);
        if (pts.empty()) throw std::invalid_argument("polygon too small for the level count");
        float min_x = pts[0].x, max_x = pts[0].x, min_y = pts[0].y, max_y = pts[0].y, radius = 0.f;
        for (const quro::Feature& f : pts) {
            min_x = std::min(min_x, f.x);
            max_x = std::max(max_x, f.x);
            min_y = std::min(min_y, f.y);
            max_y = std::max(max_y, f.y);
            radius = std::max(radius, std::sqrt(f.x * f.x + f.y * f.y));
        }
        rec.level_widths.push_back(static_cast<int>(2.f * std::max(-min_x, max_x)));
        rec.level_heights.push_back(static_cast<int>(2.f * std::max(-min_y, max_y)));
        rec.box_min_x.push_back(min_x);
        rec.box_max_x.push_back(max_x);
        rec.box_min_y.push_back(min_y);
        rec.box_max_y.push_back(max_y);
        rec.level_radius.push_back(radius);
        rec.level_angle.push_back(0.f);
        rec.level_features.push_back(pts);
    }
    return rec;
}

// The polygon at `pose` as an 8-bit image of `size`: `inside` grey within the polygon, `outside`
// grey around it, anti-aliased by rendering at `supersample` times the resolution and reducing
// with area averaging.
inline cv::Mat render_polygon(const std::vector<cv::Point2f>& vertices, cv::Size size,
                              const PolygonPose& pose, std::uint8_t inside = 200,
                              std::uint8_t outside = 60, int supersample = 8) {
    Supersampled canvas(size, supersample, outside);
    std::vector<cv::Point2d> placed;
    for (const cv::Point2f& v : vertices) placed.push_back(pose_model_point(pose, v.x, v.y));
    canvas.fill_polygon(placed, inside);
    return canvas.reduce();
}

// Axis-parallel rectangle of half-sizes hw (columns) and hh (rows) around the reference point.
inline std::vector<cv::Point2f> rectangle_outline(float hw, float hh) {
    return {{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}};
}

// An irregular hexagon with no symmetry (so that each pose is unique), about `size` across.
inline std::vector<cv::Point2f> irregular_outline(float size) {
    const float s = size / 100.f;
    return {{-50 * s, -38 * s}, {22 * s, -46 * s}, {50 * s, -8 * s},
            {34 * s, 41 * s},   {-12 * s, 30 * s}, {-44 * s, 44 * s}};
}

}  // namespace quro_test

#endif  // QURO_TESTING_POLYGON_MODEL_H

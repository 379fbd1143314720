// Region features: bounding box, area, centroid, second moments with the equivalent ellipse,
// circularity and the smallest rotated rectangle of the row ends' convex hull.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <opencv2/core/types.hpp>

#include "quro/edges/geometry.h"
#include "quro/numeric.h"
#include "quro/quro.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"

namespace quro {
namespace {

// An angle in degrees brought into (-90, 90] by adding or subtracting 180 (at most twice for an
// atan2 result minus 90).
double half_turn_range(double deg) {
    if (deg > 90.0) deg -= 180.0;
    while (deg <= -90.0) deg += 180.0;
    return deg;
}

// Features of a region of two pixels that touch (8-neighbours): the centre midway, the long
// radius and half length that of the pair, the short ones 0. Side by side the angles are 0; one
// above the other both are -90; a diagonal pair has 45 when it rises to the right on screen,
// else -45.
void set_touching_pair(region& r, int c0, int r0, int c1, int r1) {
    r.rect_x = r.centroid_x = (c0 + static_cast<double>(c1)) / 2.0;
    r.rect_y = r.centroid_y = (r0 + static_cast<double>(r1)) / 2.0;
    r.circularity = 1.0;
    double angle = 0.0;
    double length = 1.0;
    if (r0 != r1 && c0 != c1) {
        length = std::sqrt(2.0);
        angle = (c0 - c1) * (r0 - r1) < 1 ? 45.0 : -45.0;
    } else if (r0 != r1) {
        angle = -90.0;
    }
    r.ellipse_ra = length;
    r.rect_len1 = length / 2.0;
    r.ellipse_angle = r.rect_angle = angle;
}

// The two pixels of a region of area 2 when they touch (8-neighbours).
bool touching_pair(const region& r, int n, int& c0, int& r0, int& c1, int& r1) {
    if (n == 1) {
        c0 = r.col_begins[0], c1 = r.col_ends[0], r0 = r1 = r.rows[0];
    } else if (n == 2 && r.col_begins[0] == r.col_ends[0] && r.col_begins[1] == r.col_ends[1]) {
        c0 = r.col_begins[0], c1 = r.col_begins[1], r0 = r.rows[0], r1 = r.rows[1];
    } else {
        return false;
    }
    const std::int64_t dc = std::int64_t{c1} - c0, dr = std::int64_t{r1} - r0;
    return std::max(std::llabs(dc), std::llabs(dr)) == 1;
}

// Sums of x, x^2, y, y^2 and x*y over the pixels, with x and y relative to a reference pixel
// (the first run's start) so that the central moments lose no precision to large coordinates.
struct Moments {
    double area = 0.0, sx = 0.0, sxx = 0.0, sy = 0.0, syy = 0.0, sxy = 0.0;
};

Moments run_moments(const region& r, int n) {
    Moments m;
    const double x0 = r.col_begins[0], y0 = r.rows[0];
    for (int i = 0; i < n; ++i) {
        const double len = static_cast<double>(r.col_ends[i]) - r.col_begins[i] + 1.0;
        if (len <= 0.0) continue;
        const double b = r.col_begins[i] - x0, y = r.rows[i] - y0;
        // Sums over the columns b .. b + len - 1 in closed form.
        const double sx = len * b + (len - 1.0) * len / 2.0;
        const double sxx =
            len * b * b + (len - 1.0) * len * b + (2.0 * len - 1.0) * (len - 1.0) * len / 6.0;
        m.area += len;
        m.sx += sx;
        m.sxx += sxx;
        m.sy += len * y;
        m.syy += len * y * y;
        m.sxy += y * sx;
    }
    return m;
}

// The pixel centres at both ends of every row group (one point when they coincide).
std::vector<cv::Point2d> row_ends(const region& r, int n) {
    std::vector<cv::Point2d> points;
    for (RowGroup g = row_group_at(r, n, 0); !g.empty(); g = row_group_at(r, n, g.end)) {
        int left = r.col_begins[g.begin], right = r.col_ends[g.begin];
        for (int i = g.begin + 1; i < g.end; ++i) {
            left = std::min(left, r.col_begins[i]);
            right = std::max(right, r.col_ends[i]);
        }
        points.emplace_back(left, g.row);
        if (right != left) points.emplace_back(right, g.row);
    }
    return points;
}

// Moments, ellipse, circularity and rectangle of a region of more than two pixels (or of two that
// do not touch).
void set_shape_features(region& r, int n) {
    const Moments m = run_moments(r, n);
    const double cx = m.sx / m.area, cy = m.sy / m.area;
    const double mxx = m.sxx / m.area - cx * cx;
    const double myy = m.syy / m.area - cy * cy;
    const double mxy = m.sxy / m.area - cx * cy;
    r.centroid_x = r.col_begins[0] + cx;
    r.centroid_y = r.rows[0] + cy;

    const double p = std::sqrt(4.0 * mxy * mxy + (myy - mxx) * (myy - mxx));
    r.ellipse_ra = 0.5 * std::sqrt(std::max(0.0, 8.0 * (mxx + myy + p)));
    r.ellipse_rb = 0.5 * std::sqrt(std::max(0.0, 8.0 * (mxx + myy - p)));
    r.ellipse_angle = -0.5 * std::atan2(2.0 * mxy, mxx - myy) * kRadToDegD;

    const std::vector<cv::Point2d> ends = row_ends(r, n);
    // The farthest point of the hull from the centroid is one of its vertices, so the row ends
    // themselves give the same largest distance.
    double d2 = 0.0;
    for (const cv::Point2d& q : ends) {
        const double dx = q.x - r.centroid_x, dy = q.y - r.centroid_y;
        d2 = std::max(d2, dx * dx + dy * dy);
    }
    r.circularity = std::min(1.0, m.area / (kPi * d2));

    CaliperBox box;
    min_area_rect_of_hull(convex_hull(ends), box);
    r.rect_x = box.center_x;
    r.rect_y = box.center_y;
    const bool first_longer = box.length1 > box.length2;
    const double u = first_longer ? box.side1_x : box.side2_x;
    const double v = first_longer ? box.side1_y : box.side2_y;
    r.rect_len1 = std::max(box.length1, box.length2) / 2.0;
    r.rect_len2 = std::min(box.length1, box.length2) / 2.0;
    r.rect_angle = half_turn_range(std::atan2(u, v) * kRadToDegD - 90.0);
}

}  // namespace

bool run_bounds(const region& r, int& row1, int& col1, int& row2, int& col2) {
    const int n = held_runs(r);
    if (n == 0) return false;
    row1 = row2 = r.rows[0];
    col1 = r.col_begins[0];
    col2 = r.col_ends[0];
    for (int i = 1; i < n; ++i) {
        row1 = std::min(row1, r.rows[i]);
        row2 = std::max(row2, r.rows[i]);
        col1 = std::min(col1, r.col_begins[i]);
        col2 = std::max(col2, r.col_ends[i]);
    }
    return true;
}

void compute_features(region& r) {
    const int n = held_runs(r);
    run_bounds(r, r.row1, r.col1, r.row2, r.col2);
    std::int64_t area = 0;
    for (int i = 0; i < n; ++i)
        area += std::max<std::int64_t>(0, std::int64_t{r.col_ends[i]} - r.col_begins[i] + 1);
    r.area = static_cast<int>(std::min<std::int64_t>(area, INT32_MAX));
    r.rect_x = r.centroid_x = r.col_begins[0];
    r.rect_y = r.centroid_y = r.rows[0];
    r.rect_angle = r.rect_len1 = r.rect_len2 = 0.0;
    r.ellipse_ra = r.ellipse_rb = r.ellipse_angle = 0.0;
    r.circularity = 0.0;
    if (area <= 1) return;
    int c0 = 0, r0 = 0, c1 = 0, r1 = 0;
    if (area == 2 && touching_pair(r, n, c0, r0, c1, r1)) {
        set_touching_pair(r, c0, r0, c1, r1);
        return;
    }
    set_shape_features(r, n);
}

}  // namespace quro

extern "C" void compute_feature_y(quro::region* r) {
    if (r == nullptr || r->num_parts != 0 || quro::held_runs(*r) == 0) return;
    quro::compute_features(*r);
}

extern "C" void smallest_rectangle1_y(const quro::region& r, int* row1, int* col1, int* row2,
                                      int* col2) {
    int box[4];
    if (r.num_parts != 0 || !quro::run_bounds(r, box[0], box[1], box[2], box[3])) return;
    int* outputs[4] = {row1, col1, row2, col2};
    for (int i = 0; i < 4; ++i)
        if (outputs[i] != nullptr) *outputs[i] = box[i];
}

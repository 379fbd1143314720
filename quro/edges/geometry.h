// Point-set geometry of the edge detectors, region features and match selection: convex hull,
// diameter, minimum-area rectangle of a convex polygon, the area shared by two convex polygons,
// and the closed-form eigen-decomposition of the
// symmetric 2x2 Hessian of a fitted quadratic surface.
//
// Points are (x = column, y = row) in double precision.
#ifndef QURO_EDGES_GEOMETRY_H
#define QURO_EDGES_GEOMETRY_H

#include <array>
#include <cmath>
#include <opencv2/core/types.hpp>
#include <vector>

namespace quro {

// Convex hull by the monotone chain. With fewer than four points the points come back as given
// (duplicates and collinear points kept); exactly three are first put in clockwise order in a
// frame with y pointing up. With four or more, collinear and repeated points are dropped and the
// vertices come back clockwise (y up), starting at the smallest (x, y); a set whose points all
// coincide gives that one point.
std::vector<cv::Point2d> convex_hull(std::vector<cv::Point2d> pts);

// Largest distance between two of the points (0 for an empty set or a single point).
double hull_diameter(const std::vector<cv::Point2d>& pts);

// Minimum-area enclosing rectangle of a convex polygon. The corners are corner, corner + side1,
// corner + side1 + side2 and corner + side2, in `corners` in that order.
struct CaliperBox {
    double length1 = 0.0;  // |side1|
    double length2 = 0.0;  // |side2|
    double center_x = 0.0;
    double center_y = 0.0;
    double corner_x = 0.0;
    double corner_y = 0.0;
    double side1_x = 0.0;
    double side1_y = 0.0;
    double side2_x = 0.0;
    double side2_y = 0.0;
    std::array<cv::Point2d, 4> corners{};
};

// Rotating calipers over the vertices of a convex polygon given in order (either orientation),
// as convex_hull() returns them. Degenerate polygons give finite results: no vertex gives all
// zeros; one distinct vertex gives a rectangle of size 0 at that point; vertices on one line give
// the segment between its two extreme points (length2 = 0, side2 = 0).
void min_area_rect_of_hull(const std::vector<cv::Point2d>& hull, CaliperBox& out);

// Area of the intersection of two convex polygons, each given by its vertices in order (either
// orientation), found by clipping one with the other's edges in double precision. Nested
// polygons, shared edges and shared corners give the exact area; a polygon of fewer than three
// vertices or without area gives 0, and so do disjoint ones.
double convex_intersection_area(const std::vector<cv::Point2d>& a,
                                const std::vector<cv::Point2d>& b);

// Coefficients of z = k0 + kx x + ky y + kxx x^2 + kxy x y + kyy y^2 (x = column, y = row).
struct QuadCoeffs {
    float k0;
    float kx;
    float ky;
    float kxx;
    float kxy;
    float kyy;
};

// Eigen-decomposition of the Hessian [[2 kyy, kxy], [kxy, 2 kxx]] in (row, column) order.
// |l1| >= |l2|; on equal absolute values the smaller value comes first. v1 belongs to l1 and v2
// to l2; each is a unit vector stored as (row component, column component). Turn one into an
// edge normal with normal_from_eigenvector() (quro/numeric.h), never by hand.
struct Eigen2 {
    float l1;
    float l2;
    float v1[2];
    float v2[2];
};

// One Jacobi rotation, evaluated in double precision.
inline void eigen_sym2x2_array(const float k[6], Eigen2& r) {
    const double hrr = 2.0 * static_cast<double>(k[5]);
    const double hrc = static_cast<double>(k[4]);
    const double hcc = 2.0 * static_cast<double>(k[3]);
    double c = 1.0;
    double s = 0.0;
    double e1 = hrr;
    double e2 = hcc;
    if (hrc != 0.0) {
        const double theta = 0.5 * (hcc - hrr) / hrc;
        double t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        if (theta < 0.0) t = -t;
        c = 1.0 / std::sqrt(t * t + 1.0);
        s = t * c;
        e1 = hrr - t * hrc;
        e2 = hcc + t * hrc;
    }
    const bool first = std::fabs(e1) > std::fabs(e2) || (std::fabs(e1) == std::fabs(e2) && e1 < e2);
    if (first) {
        r.l1 = static_cast<float>(e1);
        r.l2 = static_cast<float>(e2);
        r.v1[0] = static_cast<float>(c);
        r.v1[1] = static_cast<float>(-s);
        r.v2[0] = static_cast<float>(s);
        r.v2[1] = static_cast<float>(c);
    } else {
        r.l1 = static_cast<float>(e2);
        r.l2 = static_cast<float>(e1);
        r.v1[0] = static_cast<float>(s);
        r.v1[1] = static_cast<float>(c);
        r.v2[0] = static_cast<float>(c);
        r.v2[1] = static_cast<float>(-s);
    }
}

inline void eigen_sym2x2(const QuadCoeffs& q, Eigen2& r) {
    const float k[6] = {q.k0, q.kx, q.ky, q.kxx, q.kxy, q.kyy};
    eigen_sym2x2_array(k, r);
}

}  // namespace quro

#endif  // QURO_EDGES_GEOMETRY_H

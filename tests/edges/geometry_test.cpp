// Convex hull, diameter, minimum-area rectangle and the 2x2 eigen-decomposition, checked against
// OpenCV and brute force on random inputs.
#include "quro/edges/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "quro/numeric.h"

namespace {

using quro::CaliperBox;
using quro::convex_hull;
using quro::Eigen2;
using quro::hull_diameter;
using quro::min_area_rect_of_hull;
using P = cv::Point2d;

// Random integer point sets of 4 to 500 points with repeated points and collinear runs.
std::vector<P> random_set(std::mt19937& rng) {
    std::uniform_int_distribution<int> count(4, 500);
    std::uniform_int_distribution<int> coord(-200, 200);
    const int n = count(rng);
    std::vector<P> pts;
    while (static_cast<int>(pts.size()) < n) {
        const int kind = static_cast<int>(rng() % 10);
        if (kind == 0 && !pts.empty()) {
            pts.push_back(pts[rng() % pts.size()]);  // repeat
        } else if (kind == 1) {
            // collinear run with an integer step
            const P start(coord(rng), coord(rng));
            const P step(static_cast<int>(rng() % 7) - 3, static_cast<int>(rng() % 7) - 3);
            const int len = 2 + static_cast<int>(rng() % 20);
            for (int k = 0; k < len; ++k) pts.push_back(start + step * k);
        } else {
            pts.emplace_back(coord(rng), coord(rng));
        }
    }
    return pts;
}

double brute_diameter(const std::vector<P>& p) {
    double best = 0.0;
    for (std::size_t i = 0; i < p.size(); ++i)
        for (std::size_t j = i + 1; j < p.size(); ++j)
            best = std::max(best, std::hypot(p[i].x - p[j].x, p[i].y - p[j].y));
    return best;
}

std::set<std::pair<double, double>> as_set(const std::vector<P>& v) {
    std::set<std::pair<double, double>> s;
    for (const P& p : v) s.insert({p.x, p.y});
    return s;
}

double cross(const P& a, const P& b, const P& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// ---------------------------------------------------------------------------------------------
// Convex hull

TEST(ConvexHull, ThreeCollinearPointsComeBackAsAllThree) {
    const std::vector<P> in = {{0, 0}, {1, 1}, {2, 2}};
    const auto h = convex_hull(in);
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(as_set(h), as_set(in));
}

TEST(ConvexHull, ThreePointsAreOrderedClockwiseWithYUp) {
    // Counter-clockwise input (y up): the last two are swapped.
    const auto h = convex_hull({{0, 0}, {1, 0}, {0, 1}});
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[0], P(0, 0));
    EXPECT_EQ(h[1], P(0, 1));
    EXPECT_EQ(h[2], P(1, 0));
    EXPECT_LT(cross(h[0], h[1], h[2]), 0.0);
    // Already clockwise: unchanged.
    const auto g = convex_hull({{0, 0}, {0, 1}, {1, 0}});
    EXPECT_EQ(g[1], P(0, 1));
}

TEST(ConvexHull, FewerThanFourPointsKeepDuplicates) {
    const auto h = convex_hull({{3, 3}, {3, 3}});
    ASSERT_EQ(h.size(), 2u);
    EXPECT_TRUE(convex_hull({}).empty());
}

TEST(ConvexHull, SquareWithCentreGivesTheFourCorners) {
    const auto h = convex_hull({{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 1}});
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(as_set(h), as_set({{0, 0}, {2, 0}, {2, 2}, {0, 2}}));
}

TEST(ConvexHull, CoincidentPointsGiveOneVertex) {
    const auto h = convex_hull({{5, 7}, {5, 7}, {5, 7}, {5, 7}});
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0], P(5, 7));
}

TEST(ConvexHull, CollinearSetGivesItsTwoEnds) {
    const auto h = convex_hull({{0, 0}, {3, 3}, {1, 1}, {2, 2}, {1, 1}});
    EXPECT_EQ(as_set(h), as_set({{0, 0}, {3, 3}}));
}

TEST(ConvexHull, RandomSetsMatchOpenCvWithoutCollinearVertices) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 1000; ++iter) {
        const std::vector<P> pts = random_set(rng);
        std::vector<cv::Point> ipts;
        for (const P& p : pts) ipts.emplace_back(static_cast<int>(p.x), static_cast<int>(p.y));
        std::vector<cv::Point> ref;
        cv::convexHull(ipts, ref);
        std::vector<P> refd(ref.begin(), ref.end());

        const auto h = convex_hull(pts);
        if (h.size() < 3) {
            // Every point on one line: the hull is the segment between the extremes.
            ASSERT_EQ(h.size(), 2u) << iter;
            for (const P& p : pts) ASSERT_EQ(cross(h[0], h[1], p), 0.0) << iter;
            EXPECT_DOUBLE_EQ(std::hypot(h[0].x - h[1].x, h[0].y - h[1].y), brute_diameter(pts));
            continue;
        }
        // No repeated vertex, no collinear vertex, one turning direction.
        EXPECT_EQ(as_set(h).size(), h.size()) << iter;
        for (std::size_t i = 0; i < h.size(); ++i) {
            const P& a = h[i];
            const P& b = h[(i + 1) % h.size()];
            const P& c = h[(i + 2) % h.size()];
            ASSERT_LT(cross(a, b, c), 0.0) << "iteration " << iter << " vertex " << i;
        }
        // OpenCV may keep a collinear point on an edge; compare the strict corners.
        std::vector<P> ref_corners;
        for (std::size_t i = 0; i < refd.size(); ++i) {
            const P& a = refd[(i + refd.size() - 1) % refd.size()];
            const P& c = refd[(i + 1) % refd.size()];
            if (cross(a, refd[i], c) != 0.0) ref_corners.push_back(refd[i]);
        }
        EXPECT_EQ(as_set(h), as_set(ref_corners)) << iter;
    }
}

// ---------------------------------------------------------------------------------------------
// Diameter

TEST(HullDiameter, MatchesBruteForceOnRandomSets) {
    std::mt19937 rng(12);
    for (int iter = 0; iter < 1000; ++iter) {
        const std::vector<P> pts = random_set(rng);
        const double ref = brute_diameter(pts);
        EXPECT_NEAR(hull_diameter(pts), ref, 1e-12 * ref) << iter;
    }
}

TEST(HullDiameter, RandomFloatSetsMatchBruteForce) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<double> u(-50.0, 50.0);
    for (int iter = 0; iter < 300; ++iter) {
        std::vector<P> pts(4 + rng() % 200);
        for (P& p : pts) p = P(u(rng), u(rng) * 0.3);  // elongated sets
        const double ref = brute_diameter(pts);
        EXPECT_NEAR(hull_diameter(pts), ref, 1e-12 * ref) << iter;
    }
}

TEST(HullDiameter, SmallAndDegenerateSets) {
    EXPECT_EQ(hull_diameter({}), 0.0);
    EXPECT_EQ(hull_diameter({{4, 5}}), 0.0);
    EXPECT_DOUBLE_EQ(hull_diameter({{0, 0}, {3, 4}}), 5.0);
    EXPECT_DOUBLE_EQ(hull_diameter({{1, 1}, {1, 1}, {1, 1}}), 0.0);
    // Three collinear points, the extremes last: all pairs are compared.
    EXPECT_DOUBLE_EQ(hull_diameter({{1, 0}, {0, 0}, {10, 0}}), 10.0);
    EXPECT_DOUBLE_EQ(hull_diameter({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {7, 0}}), 7.0);
    EXPECT_DOUBLE_EQ(hull_diameter({{2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}}), 0.0);
}

TEST(HullDiameter, RegularPolygonsWithParallelEdges) {
    for (int n : {4, 6, 8, 12, 64}) {
        std::vector<P> pts;
        for (int k = 0; k < n; ++k) {
            const double t = 2.0 * CV_PI * k / n;
            pts.emplace_back(10.0 * std::cos(t), 10.0 * std::sin(t));
        }
        EXPECT_NEAR(hull_diameter(pts), brute_diameter(pts), 1e-12) << n;
    }
}

// ---------------------------------------------------------------------------------------------
// Minimum-area rectangle

// Whether p lies in the rectangle (both sides of non-zero length), with a tolerance.
bool inside(const CaliperBox& r, const P& p, double tol) {
    const P d(p.x - r.corner_x, p.y - r.corner_y);
    const auto along = [&](double sx, double sy, double len) {
        const double t = (d.x * sx + d.y * sy) / len;
        return t >= -tol && t <= len + tol;
    };
    return along(r.side1_x, r.side1_y, r.length1) && along(r.side2_x, r.side2_y, r.length2);
}

TEST(MinAreaRect, AxisSquareOfSideTwo) {
    CaliperBox r;
    min_area_rect_of_hull(convex_hull({{1, 1}, {3, 1}, {3, 3}, {1, 3}}), r);
    EXPECT_NEAR(r.length1, 2.0, 1e-12);
    EXPECT_NEAR(r.length2, 2.0, 1e-12);
    EXPECT_NEAR(r.center_x, 2.0, 1e-12);
    EXPECT_NEAR(r.center_y, 2.0, 1e-12);
    // The hull runs clockwise (y up) from (1, 1); every caliper position gives the same area, the
    // last one is kept, and the rectangle starts at the lower left corner.
    EXPECT_NEAR(r.corner_x, 1.0, 1e-12);
    EXPECT_NEAR(r.corner_y, 1.0, 1e-12);
    EXPECT_NEAR(r.side1_x, 2.0, 1e-12);
    EXPECT_NEAR(r.side1_y, 0.0, 1e-12);
    EXPECT_NEAR(r.side2_x, 0.0, 1e-12);
    EXPECT_NEAR(r.side2_y, 2.0, 1e-12);
    EXPECT_NEAR(r.corners[2].x, 3.0, 1e-12);
    EXPECT_NEAR(r.corners[2].y, 3.0, 1e-12);
}

TEST(MinAreaRect, RotatedRectangleLengths) {
    const double a = 30.0 * CV_PI / 180.0;
    const P u(std::cos(a), std::sin(a)), v(-std::sin(a), std::cos(a));
    const P c(17.5, -4.25);
    std::vector<P> pts;
    for (double s : {-50.0, 50.0})
        for (double t : {-20.0, 20.0}) pts.push_back(c + u * s + v * t);
    CaliperBox r;
    min_area_rect_of_hull(convex_hull(pts), r);
    const double l1 = std::max(r.length1, r.length2), l2 = std::min(r.length1, r.length2);
    EXPECT_NEAR(l1, 100.0, 1e-9);
    EXPECT_NEAR(l2, 40.0, 1e-9);
    EXPECT_NEAR(r.center_x, c.x, 1e-9);
    EXPECT_NEAR(r.center_y, c.y, 1e-9);
}

TEST(MinAreaRect, RandomHullsMatchOpenCvArea) {
    std::mt19937 rng(14);
    std::uniform_real_distribution<double> u(-100.0, 100.0);
    for (int iter = 0; iter < 500; ++iter) {
        std::vector<P> pts(4 + rng() % 100);
        const double squash = 0.05 + 0.95 * (rng() % 1000) / 1000.0;
        for (P& p : pts) p = P(u(rng), u(rng) * squash);
        const auto hull = convex_hull(pts);
        ASSERT_GE(hull.size(), 3u);
        CaliperBox r;
        min_area_rect_of_hull(hull, r);

        std::vector<cv::Point2f> fpts(hull.begin(), hull.end());
        const cv::RotatedRect ref = cv::minAreaRect(fpts);
        const double ref_area = static_cast<double>(ref.size.width) * ref.size.height;
        EXPECT_NEAR(r.length1 * r.length2, ref_area, 1e-4 * ref_area) << iter;
        // The result may not be worse than the float reference by more than rounding.
        EXPECT_LE(r.length1 * r.length2, ref_area * (1.0 + 1e-5)) << iter;

        const double dot = r.side1_x * r.side2_x + r.side1_y * r.side2_y;
        EXPECT_NEAR(dot / (r.length1 * r.length2), 0.0, 1e-12) << iter;
        for (const P& p : hull) EXPECT_TRUE(inside(r, p, 1e-9)) << iter;
        // Corners are consistent with corner and sides.
        EXPECT_NEAR(r.corners[2].x, r.corner_x + r.side1_x + r.side2_x, 1e-9);
        EXPECT_NEAR(r.corners[2].y, r.corner_y + r.side1_y + r.side2_y, 1e-9);
    }
}

TEST(MinAreaRect, EitherOrientationGivesTheSameRectangle) {
    auto hull = convex_hull({{0, 0}, {10, 1}, {12, 7}, {3, 9}, {-2, 4}});
    CaliperBox cw, ccw;
    min_area_rect_of_hull(hull, cw);
    std::reverse(hull.begin(), hull.end());
    min_area_rect_of_hull(hull, ccw);
    EXPECT_NEAR(cw.length1 * cw.length2, ccw.length1 * ccw.length2, 1e-9);
    EXPECT_NEAR(cw.center_x, ccw.center_x, 1e-9);
    EXPECT_NEAR(cw.center_y, ccw.center_y, 1e-9);
}

TEST(MinAreaRect, DegenerateHullsGiveFiniteValues) {
    CaliperBox r;
    min_area_rect_of_hull({}, r);
    EXPECT_EQ(r.length1, 0.0);
    EXPECT_EQ(r.center_x, 0.0);

    min_area_rect_of_hull({{4, 6}}, r);
    EXPECT_EQ(r.length1, 0.0);
    EXPECT_EQ(r.length2, 0.0);
    EXPECT_EQ(r.center_x, 4.0);
    EXPECT_EQ(r.center_y, 6.0);
    EXPECT_EQ(r.corner_x, 4.0);

    min_area_rect_of_hull({{4, 6}, {4, 6}, {4, 6}}, r);
    EXPECT_EQ(r.center_x, 4.0);
    EXPECT_EQ(r.length1, 0.0);

    // A segment, and collinear points in any order: the rectangle along the segment.
    for (const std::vector<P>& seg :
         {std::vector<P>{{1, 2}, {7, 10}}, std::vector<P>{{4, 6}, {1, 2}, {7, 10}},
          std::vector<P>{{1, 2}, {4, 6}, {7, 10}, {4, 6}}}) {
        min_area_rect_of_hull(seg, r);
        EXPECT_DOUBLE_EQ(r.length1, 10.0);
        EXPECT_EQ(r.length2, 0.0);
        EXPECT_EQ(r.side2_x, 0.0);
        EXPECT_EQ(r.side2_y, 0.0);
        EXPECT_DOUBLE_EQ(r.center_x, 4.0);
        EXPECT_DOUBLE_EQ(r.center_y, 6.0);
        for (const P& c : r.corners) {
            EXPECT_TRUE(std::isfinite(c.x));
            EXPECT_TRUE(std::isfinite(c.y));
        }
    }
    // cv::minAreaRect gives the same for a segment.
    const cv::RotatedRect ref = cv::minAreaRect(std::vector<cv::Point2f>{{1, 2}, {7, 10}});
    EXPECT_NEAR(std::max(ref.size.width, ref.size.height), 10.0, 1e-5);
    EXPECT_NEAR(ref.center.x, 4.0, 1e-5);
}

// ---------------------------------------------------------------------------------------------
// Eigen-decomposition

TEST(EigenSym2x2, DiagonalHessianGivesIdentityVectors) {
    Eigen2 e;
    // kyy = 1 -> hrr = 2; kxx = -2 -> hcc = -4: the column entry is larger in magnitude.
    quro::eigen_sym2x2(quro::QuadCoeffs{0.f, 0.f, 0.f, -2.f, 0.f, 1.f}, e);
    EXPECT_EQ(e.l1, -4.f);
    EXPECT_EQ(e.l2, 2.f);
    EXPECT_EQ(e.v1[0], 0.f);  // (row, column) = (0, 1)
    EXPECT_EQ(e.v1[1], 1.f);
    EXPECT_EQ(e.v2[0], 1.f);
    EXPECT_EQ(e.v2[1], 0.f);

    quro::eigen_sym2x2(quro::QuadCoeffs{0.f, 0.f, 0.f, 0.5f, 0.f, 3.f}, e);
    EXPECT_EQ(e.l1, 6.f);
    EXPECT_EQ(e.v1[0], 1.f);
    EXPECT_EQ(e.v1[1], 0.f);
}

TEST(EigenSym2x2, EqualMagnitudesPutTheSmallerValueFirst) {
    Eigen2 e;
    const float k[6] = {0.f, 0.f, 0.f, 1.5f, 0.f, -1.5f};  // hrr = -3, hcc = 3
    quro::eigen_sym2x2_array(k, e);
    EXPECT_EQ(e.l1, -3.f);
    EXPECT_EQ(e.l2, 3.f);
    EXPECT_EQ(e.v1[0], 1.f);                                // row direction
    const float k2[6] = {0.f, 0.f, 0.f, -1.5f, 0.f, 1.5f};  // hrr = 3, hcc = -3
    quro::eigen_sym2x2_array(k2, e);
    EXPECT_EQ(e.l1, -3.f);
    EXPECT_EQ(e.v1[1], 1.f);  // column direction
}

TEST(EigenSym2x2, VectorMapsToNormalWithColumnFirst) {
    Eigen2 e;
    // Curvature only along the columns: the normal is along x.
    quro::eigen_sym2x2(quro::QuadCoeffs{0.f, 0.f, 0.f, -1.f, 0.f, 0.f}, e);
    const quro::Normal2 n = quro::normal_from_eigenvector(e.v1[0], e.v1[1]);
    EXPECT_EQ(n.nx, 1.f);
    EXPECT_EQ(n.ny, 0.f);
}

TEST(EigenSym2x2, RandomCoefficientsAgreeWithOpenCv) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<float> u(-100.f, 100.f);
    for (int iter = 0; iter < 10000; ++iter) {
        float k[6];
        for (float& v : k) v = u(rng);
        if (iter % 10 == 0) k[4] = 0.f;             // diagonal
        if (iter % 10 == 1) k[3] = k[5];            // equal diagonal
        if (iter % 10 == 2) k[4] = u(rng) * 1e-4f;  // nearly diagonal
        Eigen2 e;
        quro::eigen_sym2x2_array(k, e);

        const cv::Matx22d h(2.0 * k[5], k[4], k[4], 2.0 * k[3]);
        cv::Mat vals, vecs;
        cv::eigen(cv::Mat(h), vals, vecs);
        const double r0 = vals.at<double>(0), r1 = vals.at<double>(1);  // descending
        const double scale = std::max(std::fabs(r0), std::fabs(r1));
        // Which reference value has the larger magnitude (the smaller value on a tie).
        const int big = std::fabs(r1) > std::fabs(r0) ? 1 : 0;
        const double ref1 = big ? r1 : r0, ref2 = big ? r0 : r1;
        ASSERT_NEAR(e.l1, ref1, 1e-5 * std::fabs(ref1) + 1e-6 * scale) << iter;
        ASSERT_NEAR(e.l2, ref2, 1e-5 * std::fabs(ref2) + 1e-6 * scale) << iter;

        // Unit vectors, orthogonal.
        EXPECT_NEAR(e.v1[0] * e.v1[0] + e.v1[1] * e.v1[1], 1.f, 1e-6f);
        EXPECT_NEAR(e.v1[0] * e.v2[0] + e.v1[1] * e.v2[1], 0.f, 1e-6f);
        if (std::fabs(r0 - r1) < 1e-3 * scale) continue;  // vectors ill-defined
        const double* rv = vecs.ptr<double>(big);  // row `big` belongs to ref1, (row, column)
        const double dot = e.v1[0] * rv[0] + e.v1[1] * rv[1];
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-5) << iter;
        const double* rv2 = vecs.ptr<double>(1 - big);
        const double dot2 = e.v2[0] * rv2[0] + e.v2[1] * rv2[1];
        EXPECT_NEAR(std::fabs(dot2), 1.0, 1e-5) << iter;
    }
}

}  // namespace

// Convex hull, diameter and minimum-area rectangle of point sets.
#include "quro/edges/geometry.h"

#include <algorithm>
#include <cfloat>
#include <cstddef>

namespace quro {
namespace {

// (b.y - a.y)(c.x - a.x) - (b.x - a.x)(c.y - a.y): <= 0 when c does not turn clockwise (y up)
// from the line a -> b.
double turn(const cv::Point2d& a, const cv::Point2d& b, const cv::Point2d& c) {
    return (b.y - a.y) * (c.x - a.x) - (b.x - a.x) * (c.y - a.y);
}

// Twice the area of the triangle a, b, c.
double area2(const cv::Point2d& a, const cv::Point2d& b, const cv::Point2d& c) {
    return std::fabs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
}

double dist(const cv::Point2d& a, const cv::Point2d& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

double max_pairwise_distance(const std::vector<cv::Point2d>& p) {
    double best = 0.0;
    for (std::size_t i = 0; i < p.size(); ++i)
        for (std::size_t j = i + 1; j < p.size(); ++j) best = std::max(best, dist(p[i], p[j]));
    return best;
}

void set_box(CaliperBox& out, cv::Point2d corner, cv::Point2d side1, cv::Point2d side2) {
    out.corner_x = corner.x;
    out.corner_y = corner.y;
    out.side1_x = side1.x;
    out.side1_y = side1.y;
    out.side2_x = side2.x;
    out.side2_y = side2.y;
    out.length1 = std::hypot(side1.x, side1.y);
    out.length2 = std::hypot(side2.x, side2.y);
    out.center_x = corner.x + 0.5 * (side1.x + side2.x);
    out.center_y = corner.y + 0.5 * (side1.y + side2.y);
    out.corners = {corner, corner + side1, corner + side1 + side2, corner + side2};
}

// The rectangle of a polygon without area: the segment between its two extreme points. For
// points on one line, the point farthest from any point is an end, and the point farthest from
// that end is the other end.
void segment_box(const std::vector<cv::Point2d>& p, CaliperBox& out) {
    auto farthest_from = [&](const cv::Point2d& q) {
        std::size_t best = 0;
        double d = -1.0;
        for (std::size_t i = 0; i < p.size(); ++i) {
            const double di = dist(p[i], q);
            if (di > d) {
                d = di;
                best = i;
            }
        }
        return p[best];
    };
    const cv::Point2d a = farthest_from(p[0]);
    const cv::Point2d b = farthest_from(a);
    set_box(out, a, b - a, cv::Point2d(0.0, 0.0));
}

}  // namespace

std::vector<cv::Point2d> convex_hull(std::vector<cv::Point2d> pts) {
    const std::size_t n = pts.size();
    if (n < 4) {
        if (n == 3 && turn(pts[0], pts[1], pts[2]) <= 0.0) std::swap(pts[1], pts[2]);
        return pts;
    }
    std::sort(pts.begin(), pts.end(), [](const cv::Point2d& a, const cv::Point2d& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    std::vector<cv::Point2d> hull;
    hull.reserve(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        while (hull.size() >= 2 && turn(hull[hull.size() - 2], hull.back(), pts[i]) <= 0.0)
            hull.pop_back();
        hull.push_back(pts[i]);
    }
    const std::size_t first_chain = hull.size() + 1;  // never drop a vertex of the first chain
    for (std::size_t i = n - 1; i-- > 0;) {
        while (hull.size() >= first_chain &&
               turn(hull[hull.size() - 2], hull.back(), pts[i]) <= 0.0)
            hull.pop_back();
        hull.push_back(pts[i]);
    }
    hull.pop_back();  // repeats the first vertex
    // All points equal: the chains leave that point twice.
    if (hull.size() == 2 && hull[0] == hull[1]) hull.pop_back();
    return hull;
}

double hull_diameter(const std::vector<cv::Point2d>& pts) {
    const std::vector<cv::Point2d> h = convex_hull(pts);
    const std::size_t n = h.size();
    // Small hulls may still hold repeated or collinear points: compare every pair.
    if (n <= 3) return max_pairwise_distance(h);
    // Rotating calipers: for each edge (i, i+1) advance the opposite vertex j while the triangle
    // grows. Every pair visited is a true distance, so extra pairs never overshoot; each edge
    // advances j at most n times, so the walk is bounded even on degenerate input.
    std::size_t j = 1;
    double best = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t i1 = (i + 1) % n;
        for (std::size_t steps = 0; steps < n; ++steps) {
            const std::size_t j1 = (j + 1) % n;
            if (area2(h[i], h[i1], h[j1]) > area2(h[i], h[i1], h[j]))
                j = j1;
            else
                break;
        }
        const std::size_t j1 = (j + 1) % n;
        best = std::max(
            {best, dist(h[i], h[j]), dist(h[i1], h[j]), dist(h[i], h[j1]), dist(h[i1], h[j1])});
    }
    return best;
}

void min_area_rect_of_hull(const std::vector<cv::Point2d>& hull, CaliperBox& out) {
    out = CaliperBox{};
    // Repeated consecutive vertices would give edges of length 0: drop them.
    std::vector<cv::Point2d> p;
    p.reserve(hull.size());
    for (const cv::Point2d& q : hull)
        if (p.empty() || q != p.back()) p.push_back(q);
    while (p.size() > 1 && p.back() == p.front()) p.pop_back();
    const std::size_t n = p.size();
    if (n == 0) return;
    if (n == 1) {
        set_box(out, p[0], cv::Point2d(0.0, 0.0), cv::Point2d(0.0, 0.0));
        return;
    }

    std::vector<cv::Point2d> edge(n);
    std::vector<double> inv_len(n);
    for (std::size_t i = 0; i < n; ++i) {
        edge[i] = p[(i + 1) % n] - p[i];
        inv_len[i] = 1.0 / std::hypot(edge[i].x, edge[i].y);
    }

    double orientation = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const cv::Point2d& a = edge[(i + n - 1) % n];
        const cv::Point2d& b = edge[i];
        const double cross = a.x * b.y - a.y * b.x;
        if (cross != 0.0) {
            orientation = cross > 0.0 ? 1.0 : -1.0;
            break;
        }
    }
    if (orientation == 0.0) {  // every vertex on one line
        segment_box(p, out);
        return;
    }

    std::size_t left = 0, right = 0, top = 0, bottom = 0;
    for (std::size_t i = 1; i < n; ++i) {
        const cv::Point2d& q = p[i];
        if (q.x < p[left].x || (q.x == p[left].x && q.y < p[left].y)) left = i;
        if (q.x > p[right].x || (q.x == p[right].x && q.y > p[right].y)) right = i;
        if (q.y > p[top].y || (q.y == p[top].y && q.x < p[top].x)) top = i;
        if (q.y < p[bottom].y || (q.y == p[bottom].y && q.x > p[bottom].x)) bottom = i;
    }

    // Calipers in the order bottom, right, top, left; (a, b) is the base direction.
    std::size_t seq[4] = {bottom, right, top, left};
    double a = orientation, b = 0.0;
    double min_area = DBL_MAX;
    double keep_a = a, keep_b = b, keep_w = 0.0, keep_h = 0.0;
    std::size_t keep_left = left, keep_bottom = bottom;
    for (std::size_t k = 0; k < n; ++k) {
        double cosv[4];
        for (int c = 0; c < 4; ++c) {
            const cv::Point2d& e = edge[seq[c]];
            const double il = inv_len[seq[c]];
            switch (c) {
                case 0:
                    cosv[c] = (a * e.x + b * e.y) * il;
                    break;
                case 1:
                    cosv[c] = (-b * e.x + a * e.y) * il;
                    break;
                case 2:
                    cosv[c] = (-a * e.x - b * e.y) * il;
                    break;
                default:
                    cosv[c] = (b * e.x - a * e.y) * il;
                    break;
            }
        }
        int main = 0;
        for (int c = 1; c < 4; ++c)
            if (cosv[c] > cosv[main]) main = c;
        const double ux = edge[seq[main]].x * inv_len[seq[main]];
        const double uy = edge[seq[main]].y * inv_len[seq[main]];
        switch (main) {
            case 0:
                a = ux;
                b = uy;
                break;
            case 1:
                a = uy;
                b = -ux;
                break;
            case 2:
                a = -ux;
                b = -uy;
                break;
            default:
                a = -uy;
                b = ux;
                break;
        }
        seq[main] = (seq[main] + 1) % n;

        const cv::Point2d wv = p[seq[1]] - p[seq[3]];
        const cv::Point2d hv = p[seq[2]] - p[seq[0]];
        const double width = wv.x * a + wv.y * b;
        const double height = -hv.x * b + hv.y * a;
        const double area = width * height;
        if (area <= min_area) {
            min_area = area;
            keep_a = a;
            keep_b = b;
            keep_w = width;
            keep_h = height;
            keep_left = seq[3];
            keep_bottom = seq[0];
        }
    }

    // Corner: the line through the left vertex with normal (a, b) meets the line through the
    // bottom vertex with normal (-b, a). (a, b) is a unit vector, so the two normals form an
    // orthonormal basis.
    const double c1 = keep_a * p[keep_left].x + keep_b * p[keep_left].y;
    const double c2 = -keep_b * p[keep_bottom].x + keep_a * p[keep_bottom].y;
    const cv::Point2d corner(c1 * keep_a - c2 * keep_b, c1 * keep_b + c2 * keep_a);
    set_box(out, corner, cv::Point2d(keep_a * keep_w, keep_b * keep_w),
            cv::Point2d(-keep_b * keep_h, keep_a * keep_h));
}

namespace {

// Twice the signed area (positive for counter-clockwise vertices in a frame with y up).
double signed_area2(const std::vector<cv::Point2d>& p) {
    double a = 0.0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const cv::Point2d& u = p[i];
        const cv::Point2d& v = p[(i + 1) % p.size()];
        a += u.x * v.y - v.x * u.y;
    }
    return a;
}

}  // namespace

double convex_intersection_area(const std::vector<cv::Point2d>& a,
                                const std::vector<cv::Point2d>& b) {
    if (a.size() < 3 || b.size() < 3) return 0.0;
    const double wind = signed_area2(b);
    if (!(wind != 0.0)) return 0.0;
    const double s = wind > 0.0 ? 1.0 : -1.0;
    std::vector<cv::Point2d> subject = a, out;
    // Sutherland-Hodgman: keep the part of the subject on the inner side of each edge of b.
    for (std::size_t e = 0; e < b.size() && !subject.empty(); ++e) {
        const cv::Point2d u = b[e], v = b[(e + 1) % b.size()];
        const auto side = [&](const cv::Point2d& p) {
            return s * ((v.x - u.x) * (p.y - u.y) - (v.y - u.y) * (p.x - u.x));
        };
        out.clear();
        for (std::size_t i = 0; i < subject.size(); ++i) {
            const cv::Point2d p = subject[i], q = subject[(i + 1) % subject.size()];
            const double sp = side(p), sq = side(q);
            if (sp >= 0.0) out.push_back(p);
            if ((sp >= 0.0) != (sq >= 0.0)) out.push_back(p + (q - p) * (sp / (sp - sq)));
        }
        subject.swap(out);
    }
    return subject.size() < 3 ? 0.0 : std::fabs(signed_area2(subject)) * 0.5;
}

}  // namespace quro

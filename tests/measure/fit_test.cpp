// Line, circle and ellipse fits on rendered point sets with known geometry, noise and outliers,
// against the truth and against OpenCV's fitLine and fitEllipseDirect.
#include "quro/measure/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <random>
#include <tuple>
#include <vector>

#include "quro/numeric.h"
#include "quro/quro.h"

namespace {

using quro::kPi;
using Pts = std::vector<cv::Point2f>;

std::vector<double> layout(const Pts& p) {  // n x values, then n y values
    std::vector<double> v;
    for (const cv::Point2f& q : p) v.push_back(q.x);
    for (const cv::Point2f& q : p) v.push_back(q.y);
    return v;
}

// Angle in degrees between two undirected directions, and the distance of p from a line.
double angle_between(double ax, double ay, double bx, double by) {
    return std::atan2(std::fabs(ax * by - ay * bx), std::fabs(ax * bx + ay * by)) * 180 / kPi;
}
double off_line(cv::Point2d p, double vx, double vy, double x0, double y0) {
    return std::fabs((p.x - x0) * vy - (p.y - y0) * vx);
}

// n points c + (i - (n - 1) / 2) step, i = 0 .. n - 1, moved across the line by N(0, sigma), every
// tenth one (when `outliers`) by a further 10..50 px of random sign. Dyadic c and step with sigma
// 0 give points exactly on a line in float.
Pts line_points(cv::Point2d c, cv::Point2d step, int n, double sigma, bool outliers,
                unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 1);
    const cv::Point2d across = cv::Point2d(-step.y, step.x) / std::hypot(step.x, step.y);
    Pts p;
    for (int i = 0; i < n; ++i) {
        double d = sigma * noise(rng);
        if (outliers && i % 10 == 3)
            d += (rng() % 2 ? 1 : -1) * std::uniform_real_distribution<double>(10, 50)(rng);
        const cv::Point2d q = c + (i - (n - 1) / 2.0) * step + d * across;
        p.emplace_back(q.x, q.y);
    }
    return p;
}

// n points on the ellipse (centre c, semi-axes a, b, major axis along (cos deg, sin deg)) at
// parameters from t0 over `sweep` radians, each moved by N(0, sigma) in x and y.
Pts ellipse_points(cv::Point2d c, double a, double b, double deg, int n, double t0, double sweep,
                   double sigma, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 1);
    const double ca = std::cos(deg * kPi / 180), sa = std::sin(deg * kPi / 180);
    Pts p;
    for (int i = 0; i < n; ++i) {
        const double t = t0 + sweep * i / n, u = a * std::cos(t), v = b * std::sin(t);
        p.emplace_back(c.x + u * ca - v * sa + sigma * noise(rng),
                       c.y + u * sa + v * ca + sigma * noise(rng));
    }
    return p;
}

TEST(Fit, LineEdgeCasesGiveTheLineThroughTheInliers) {
    Pts one_outlier = line_points({40, 20}, {3, 1.25}, 20, 0, false, 1);
    one_outlier[7].y += 30;
    const Pts exact = line_points({60, 160}, {4, -2.5}, 30, 0, false, 1);
    const std::tuple<Pts, int, float, std::size_t> cases[] = {
        // points, dist, param, outlier
        {exact, 2, 0, 99},        // collinear: their exact line
        {one_outlier, 7, 1, 7},   // Huber: the line of the rest
        {one_outlier, 7, -1, 7},  // no point within param: the best-distance line, not garbage
    };
    for (const auto& [pts, dist, param, outlier] : cases) {
        double out[4];
        ASSERT_EQ(do_fit(layout(pts).data(), int(pts.size()), 0, dist, param, 5, 2, out), 0);
        EXPECT_TRUE(out[0] >= 0 && std::fabs(std::hypot(out[0], out[1]) - 1) < 1e-12);
        const double tol = param < 0 ? 0.5 : 1e-5;
        for (std::size_t i = 0; i < pts.size(); ++i)
            EXPECT_LT(off_line(pts[i], out[0], out[1], out[2], out[3]), i == outlier ? 1e9 : tol);
    }
}

TEST(Fit, CircleThroughThreePointsAndOfNoisyPointsWithOutliers) {
    double out[3];
    ASSERT_EQ(do_fit(layout({{150, 100}, {100, 150}, {50, 100}}).data(), 3, 1, 0, 1.f, 1, 3, out),
              0);
    for (const auto& [got, want] : {std::pair{out[0], 100.0}, {out[1], 100.0}, {out[2], 50.0}})
        EXPECT_NEAR(got, want, 1e-5);
    Pts ring = ellipse_points({321.4, 207.9}, 90, 90, 0, 80, 0, 2 * kPi, 0.2, 5);
    for (std::size_t i = 2; i < ring.size(); i += 10) ring[i] *= 1.1f + 0.05f * float(i % 7);
    for (const int samples : {3, 6}) {  // circumcircles, and Taubin fits of the samples
        quro::FitCircle c{};
        ASSERT_TRUE(quro::fit_circle_robust(ring, {0, 1.f, 50, samples, 17}, &c));
        EXPECT_LT(std::hypot(c.cx - 321.4, c.cy - 207.9), 0.2) << samples;
        EXPECT_NEAR(c.r, 90, 0.1) << samples;
    }
}

TEST(Fit, EllipseAngleNamesTheMajorAxisWhateverTheEigenvectorSign) {
    for (const double deg : {-60.0, -30.0, 20.0, 50.0, 80.0}) {
        double out[5];  // five exact points give the truth
        const Pts five = ellipse_points({140.5, 96.25}, 61, 23, deg, 5, 0.3, 2 * kPi, 0, 0);
        ASSERT_EQ(do_fit(layout(five).data(), 5, 2, 0, 0.f, 0, 0, out), 0) << deg;
        // Noisy points on a partial arc agree with the direct fit of OpenCV.
        const Pts noisy = ellipse_points({412, 303}, 150, 80, deg, 60, 1, 4.5, 1.0, 9);
        const cv::RotatedRect box = cv::fitEllipseDirect(noisy);
        quro::FitEllipse e{};
        ASSERT_TRUE(quro::fit_ellipse(noisy, &e));
        const double w = box.size.width / 2.0, h = box.size.height / 2.0;
        const double got[] = {out[0], out[1], out[3], out[4], e.cx, e.cy, e.major, e.minor};
        const double want[] = {140.5,          96.25,         61, 23, box.center.x, box.center.y,
                               std::max(w, h), std::min(w, h)};
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(got[i], want[i], 1e-3) << deg << " " << i;
        EXPECT_NEAR(out[2], deg, 1e-2);
        const double major_deg = box.angle - (w >= h ? 0 : 90);
        EXPECT_NEAR(std::remainder(e.angle - major_deg, 180.0), 0.0, 1e-2) << deg;
    }
}

TEST(Fit, LinesAgreeWithOpenCvAndTheTruth) {
    // dist, param, bounds against OpenCV (degrees, px) and against the truth
    const std::tuple<int, float, double, double, double, double> cases[] = {
        {2, 0, 0.05, 0.05, 10, 10},          {1, 0, 0.5, 0.25, 0.25, 0.15},
        {4, 0, 0.5, 0.25, 0.25, 0.15},       {5, 1.3998f, 0.5, 0.25, 0.25, 0.15},
        {6, 2.9846f, 0.5, 0.25, 0.25, 0.15}, {7, 1.345f, 0.5, 0.25, 0.25, 0.15}};
    const cv::Point2d centre(250, 180);
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const double rad = (-70 + 37.0 * seed) * kPi / 180;
        const cv::Point2d step(2 * std::cos(rad), 2 * std::sin(rad));
        for (const auto& [dist, param, cv_deg, cv_px, truth_deg, truth_px] : cases) {
            const Pts pts = line_points(centre, step, 100, 0.2, true, seed);
            quro::FitLine l{};
            ASSERT_TRUE(quro::fit_line_robust(pts, {dist, param, 20, 2, seed}, &l));
            cv::Vec4f cvl;
            cv::fitLine(pts, cvl, dist, param, 0.01, 0.01);
            EXPECT_LT(angle_between(l.vx, l.vy, cvl[0], cvl[1]), cv_deg) << dist;
            EXPECT_LT(off_line({l.x0, l.y0}, cvl[0], cvl[1], cvl[2], cvl[3]), cv_px) << dist;
            EXPECT_LT(angle_between(l.vx, l.vy, std::cos(rad), std::sin(rad)), truth_deg);
            EXPECT_LT(off_line(centre, l.vx, l.vy, l.x0, l.y0), truth_px) << dist;
        }
        // Clean, nearly collinear points: the least-squares direction agrees to 1e-4 degrees.
        const Pts clean = line_points(centre, step / 2, 200, 0.01, false, seed);
        cv::Vec4f cvl;
        cv::fitLine(clean, cvl, cv::DIST_L2, 0, 0.01, 0.01);
        const quro::FitLine l = quro::weighted_line(clean, nullptr);
        EXPECT_LT(angle_between(l.vx, l.vy, cvl[0], cvl[1]), 1e-4);
    }
}

TEST(Fit, SeededFitsRepeatAndTheExportsLeaveRandAlone) {
    const Pts pts = line_points({10, 20}, {2, 0.5}, 100, 0.3, true, 3);
    const Pts ring = ellipse_points({0, 0}, 40, 40, 0, 50, 0, 6, 2.0, 4);
    quro::FitLine l[2]{};
    quro::FitCircle c[2]{};
    for (int k = 0; k < 2; ++k)
        ASSERT_TRUE(quro::fit_line_robust(pts, {6, 0, 7, 4, 11}, &l[k]) &&
                    quro::fit_circle_robust(ring, {0, 1, 9, 3, 5}, &c[k]));
    EXPECT_TRUE(!std::memcmp(l, l + 1, sizeof *l) && !std::memcmp(c, c + 1, sizeof *c));
    // do_fit2 is do_fit with param moved to the end; outliers far off keep draws from mattering.
    const std::vector<double> xy = layout(pts);
    double f1[4], f2[4];
    std::srand(42);
    const int first = std::rand();
    std::srand(42);
    ASSERT_EQ(do_fit(xy.data(), 100, 0, 7, 0.7f, 30, 2, f1), 0);
    ASSERT_EQ(do_fit2(xy.data(), 100, 0, 7, 30, 2, 0.7, f2), 0);
    EXPECT_EQ(std::rand(), first);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f1[i], f2[i]);
}

TEST(Fit, TooFewCollinearOrBadArgumentsFailWithOutUntouched) {
    const auto line = layout(line_points({8, 20}, {0.5, 2.75}, 12, 0, false, 1));
    const auto ring = layout(ellipse_points({0, 0}, 9, 4, 10, 12, 0, 6, 0, 1));
    // points, n, type, dist, param, attempts, out null
    const std::tuple<const std::vector<double>*, int, int, int, float, int, bool> cases[] = {
        {&ring, 4, 2, 0, 1, 1, false},    {&ring, 2, 1, 0, 1, 1, false},
        {&ring, 1, 0, 2, 1, 1, false},    {&line, 12, 1, 0, 1, 20, false},
        {&line, 12, 2, 0, 1, 1, false},                                    // collinear
        {&ring, 12, 3, 2, 1, 1, false},   {&ring, 12, 0, 3, 1, 1, false},  // unknown type, dist
        {&ring, 12, 0, 7, 1, 0, false},   {&ring, 12, 1, 0, 1, 0, false},  // no attempt
        {&ring, 12, 1, 0, NAN, 5, false}, {nullptr, 12, 2, 0, 1, 1, false},
        {&ring, 12, 2, 0, 1, 1, true}};
    for (const auto& [pts, n, type, dist, param, attempts, null_out] : cases) {
        double out[5] = {7, 7, 7, 7, 7};
        EXPECT_EQ(do_fit(pts ? pts->data() : nullptr, n, type, dist, param, attempts, 3,
                         null_out ? nullptr : out),
                  -1)
            << type << " " << n << " " << dist;
        for (const double v : out) EXPECT_EQ(v, 7.0);
    }
}

}  // namespace

#include "quro/match/deform/dense_field.h"
#include "quro/match/deform/dense_field_folds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

namespace {

using P = cv::Point2f;
using V = cv::Vec2f;

// The relaxation of one grid written out plainly: per-cell lookups with clamped indices.
cv::Mat reference_relaxation(const cv::Mat& data, const cv::Mat& conf, double tol) {
    cv::Mat f(data.size(), CV_32FC2, cv::Scalar(0)), next(f.size(), CV_32FC2);
    auto at = [&](int r, int c) {
        return f.at<V>(std::clamp(r, 0, f.rows - 1), std::clamp(c, 0, f.cols - 1));
    };
    for (int n = 0; n < quro::kFieldMaxSweeps; ++n) {
        for (int i = 0; i < f.rows; ++i)
            for (int j = 0; j < f.cols; ++j) {
                const V a = (((at(i - 1, j) + at(i + 1, j)) + at(i, j - 1)) + at(i, j + 1)) * .25f;
                const float c = conf.at<float>(i, j);
                next.at<V>(i, j) = c > 0 ? V(data.at<V>(i, j) * c + a * (1.f - c)) : a;
            }
        if (n > 0 && n % quro::kFieldCheckInterval == 0 && cv::norm(next, f, cv::NORM_INF) < tol)
            break;
        next.copyTo(f);
    }
    return f;
}

TEST(DenseField, CellsHoldTheMeanOfTheirPointsAndRelaxLikeAPlainClampedReference) {
    // {size, tolerance}: single rows and columns, fields that never settle (tolerance 0), and a
    // grid large enough to relax in parallel bands. Every 7th cell has a point of weight 0, 0.4,
    // 0.8 or 1.2 (held: c = 1), every 21st a second one of weight 0.25: the cell takes the mean.
    const std::pair<cv::Size, double> cases[] = {
        {{1, 9}, 0}, {{13, 1}, 0}, {{37, 23}, 1e-3}, {{300, 250}, 1e-3}};
    std::mt19937 rng(7);
    auto d = [&] { return float(rng() % 601) * 0.01f - 3; };
    for (const auto& [size, tol] : cases) {
        cv::Mat data(size, CV_32FC2, cv::Scalar(0)), conf(size, CV_32F, 0.f);
        std::vector<P> pos, disp;
        std::vector<float> w;
        for (int k = 0; k < size.area(); k += 7) {
            const P at(float(k % size.width), float(k / size.width)), d1(d(), d()), d2(d(), d());
            pos.push_back(at), disp.push_back(d1), w.push_back(float(k % 4) * 0.4f);
            data.at<V>(at) = V(d1.x, d1.y);
            if (k % 3 == 0) pos.push_back(at + P(.3f, -.3f)), disp.push_back(d2), w.push_back(.25f);
            if (k % 3 == 0) data.at<V>(at) = V((d1.x + d2.x) / 2, (d1.y + d2.y) / 2);
            conf.at<float>(at) = std::min(1.f, std::max(float(k % 4) * 0.4f, k % 3 ? 0.f : .25f));
        }
        const cv::Mat got = quro::computeDisplacementFieldPyramid(size, pos, disp, w, 1, 1, 0, tol);
        EXPECT_EQ(cv::norm(got, reference_relaxation(data, conf, tol), cv::NORM_INF), 0) << size;
    }
}

TEST(DenseField, NoPointsGiveIdentityMapsAndLevelsFollowTheSize) {
    // Rectangles under 4 pixels keep one cell (they used to give an empty grid).
    const std::pair<cv::Size, int> cases[] = {{{67, 400}, 1},    {{68, 68}, 1}, {{128, 128}, 2},
                                              {{2048, 2048}, 6}, {{3, 2}, 1},   {{400, 400}, 3}};
    for (const auto& [size, levels] : cases) {
        EXPECT_EQ(quro::dense_field_levels(size), levels) << size;
        if (size.area() > 400 * 400) continue;
        cv::Mat mx, my, ix(size, CV_32F), iy(size, CV_32F);
        for (int j = 0; j < size.width; ++j) ix.col(j).setTo(j);
        for (int i = 0; i < size.height; ++i) iy.row(i).setTo(i);
        quro::generateDenseFieldFast(size, {}, {}, {}, mx, my, 0, 1.0, 0, 0);
        EXPECT_EQ(cv::norm(mx, ix, cv::NORM_INF) + cv::norm(my, iy, cv::NORM_INF), 0) << size;
        // A point (a non-finite one is skipped) moves the maps without leaving them empty.
        quro::generateDenseFieldFast(size, {{1.5f, 1}, {NAN, 0}}, {{1, 1}, {0, 0}}, {1, 1}, mx, my,
                                     0, 1.0, 0, 0);
        EXPECT_TRUE(mx.size() == size && cv::checkRange(mx) && cv::checkRange(my)) << size;
        EXPECT_GT(mx.at<float>(0, 0), 0.f) << size;
    }
}

// Maps of a 400 by 400 rectangle from `n` points displaced by d(x, y), and their RMS error
// against the true positions over the pixels inside the points' hull.
double warp_rms(int n, P (*d)(P), cv::Mat& mx, cv::Mat& my) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(40.f, 360.f);
    std::vector<P> src(n), dst, hull;
    for (P& s : src) s = P(u(rng), u(rng)), dst.push_back(s + d(s));
    const std::vector<float> w(n, 1.f);
    quro::generateDenseFieldFast({400, 400}, dst, src, w, mx, my, 0, 1, 0, 0);
    cv::convexHull(src, hull);
    double sq = 0, count = 0;
    for (int i = 0; i < 400; ++i)
        for (int j = 0; j < 400; ++j) {
            const P at{float(j), float(i)},
                e = P(mx.at<float>(i, j), my.at<float>(i, j)) - at - d(at);
            if (cv::pointPolygonTest(hull, at, false) > 0) sq += e.dot(e), ++count;
        }
    return std::sqrt(sq / count);
}

TEST(DenseField, ConstantAndSmoothWarpsAreReproducedAndDoNotFold) {
    cv::Mat mx, my;
    const auto shift = [](P) { return P(2.5f, -1.25f); };
    EXPECT_LE(warp_rms(400, shift, mx, my), 0.01);
    const auto wave = [](P p) { return P(2 * std::sin(p.y * .02f), 1.5f * std::cos(p.x * .016f)); };
    EXPECT_LE(warp_rms(300, wave, mx, my), 0.2);
    const std::vector<P> src = {{200, 200}, {100, 300}, {1, 1}, {200, 201}, {NAN, 5}};
    std::vector<float> w = {1, 1, 1, 0, 1};
    EXPECT_EQ(quro::rejectFoldingPoints(mx, my, src, w, 0.05f, 0.8f), 0);
    for (const float slope : {-1.f, 0.02f}) {  // fold (mirror), then squeeze, around (200, 200)
        cv::Mat fx = mx.clone();
        for (int i = 190; i < 211; ++i)
            for (int j = 190; j < 211; ++j) fx.at<float>(i, j) = 200.f + slope * float(j - 200);
        std::vector<float> wf = w;
        EXPECT_EQ(quro::rejectFoldingPoints(fx, my, src, wf, 0.05f, 0.8f), 1) << slope;
        EXPECT_EQ(wf, (std::vector<float>{0, 1, 1, 0, 1})) << slope;
    }
    EXPECT_EQ(quro::rejectFoldingPoints(mx, cv::Mat(3, 3, CV_32F), src, w, 0.05f, 0.8f), -1);
}

// A displaced point holds the field at its own pixel, also on the rectangle's last row and
// column, and the field falls off evenly on both sides of it.
TEST(DenseField, PointsHoldTheFieldAtTheirExactPlaces) {
    cv::Mat mx, my;
    quro::generateDenseFieldFast({161, 121}, {{80, 62}}, {{80, 60}}, {1}, mx, my, 0, 1.0, 0, 0);
    EXPECT_EQ(my.at<float>(60, 80), 62.f);
    for (int k = 1; k <= 12; ++k) {
        EXPECT_NEAR(my.at<float>(60, 80 + k), my.at<float>(60, 80 - k), 1e-4) << k;
        EXPECT_NEAR(my.at<float>(60 + k, 80) - k, my.at<float>(60 - k, 80) + k, 1e-4) << k;
        EXPECT_LT(my.at<float>(60, 80 + k), 62.f) << k;
    }
    quro::generateDenseFieldFast({161, 121}, {{161, 118}}, {{160, 120}}, {1}, mx, my, 0, 1.0, 0, 0);
    EXPECT_EQ(cv::Vec2f(mx.at<float>(120, 160), my.at<float>(120, 160)), cv::Vec2f(161, 118));
}

// The spline field: moves known only across edges give back a plane exactly (the curvature
// penalty leaves planes free), and two long edges bent alike (2 px at 100 px) carry most of the
// bend across the 80 px between them (midway the spline is 0.47 px off, the membrane of
// generateDenseFieldFast 1.7 px: it keeps about 1 / cosh(2.5) of the bend there).
TEST(DenseField, SplineKeepsPlanesAndCarriesABendBetweenEdges) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> pos(0.f, 160.f), angle(0.f, 6.2832f);
    const auto plane = [](P p) { return P(0.5f + 0.01f * p.x - 0.02f * p.y, -1 + 0.015f * p.x); };
    const auto wave = [](P p) { return P(0, 2 * std::sin(p.x * 0.0628f)); };
    for (const bool bend : {false, true}) {
        std::vector<P> src, d, n;
        for (int k = 0; k < 200; ++k) {
            const float a = angle(rng);
            const P s = bend ? P(8 + 0.72f * k, k % 2 ? 100.f : 20.f) : P(pos(rng), 0.75f * pos(rng));
            src.push_back(s);
            n.push_back(bend ? P(0, 1) : P(std::cos(a), std::sin(a)));
            d.push_back((bend ? wave(s) : plane(s)) + P(-n.back().y, n.back().x) * 5.f);
        }
        const std::vector<float> w(src.size(), 1.f);
        cv::Mat mx, my;
        quro::dense_field_maps_spline({161, 121}, {src, d, n, w}, {6, 0.03, 0}, mx, my);
        double worst = 0;
        for (int y = bend ? 60 : 0; y <= (bend ? 60 : 120); y += 4)
            for (int x = bend ? 8 : 0; x <= (bend ? 152 : 160); x += 4) {
                const P got(mx.at<float>(y, x) - x, my.at<float>(y, x) - y);
                const P want = bend ? wave(P(x, y)) : plane(P(x, y));
                worst = std::max(worst, double(cv::norm(got - (bend ? P(got.x, want.y) : want))));
            }
        EXPECT_LE(worst, bend ? 0.6 : 1e-3) << bend;
    }
}

TEST(DenseField, BilinearSamplingClampsToTheGrid) {
    const std::vector<float> gx = {0, 1, 2, 10, 11, 12}, gy = {5, 5, 5, 7, 7, 7};  // 3 by 2
    const float cases[][4] = {{0.5f, 0.5f, 5.5f, 6},  {-5, -5, 0, 5},
                              {9, 0.25f, 4.5f, 5.5f}, {2, 1, 12, 7},
                              {NAN, 1e9f, 10, 7},     {1.25f, -0.5f, 1.25f, 5}};  // x, y
    float ox, oy;
    for (const auto& c : cases) {
        ASSERT_TRUE(quro::sampleFieldBilinear(gx.data(), gy.data(), c[0], c[1], 3, 3, 2, ox, oy));
        EXPECT_EQ(cv::Vec2f(ox, oy), cv::Vec2f(c[2], c[3])) << c[0] << "," << c[1];
    }
    EXPECT_FALSE(quro::sampleFieldBilinear(gx.data(), gy.data(), 0, 0, 3, 0, 2, ox, oy));
}

}  // namespace

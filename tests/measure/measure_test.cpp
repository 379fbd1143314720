// Handle layouts along lines, circles and ellipses, their quadrature, rectangles to and from
// points, and edges measured on rendered sub-pixel steps, with profile and derivative against
// OpenCV.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "quro/measure/adaptive_quadrature.h"
#include "quro/measure/edge_profile.h"
#include "quro/numeric.h"
#include "quro/result_registry.h"
#include "testing/edge_scenes.h"

namespace {

using quro::kPi;

// The elements of the block behind `handle` (none below 1); checks its entry and frees it once.
template <class T>
std::vector<T> take_block(int handle, T* const& block, const int& count, int kind) {
    if (handle < 1) return {};
    quro::ResultEntry e{};
    EXPECT_TRUE(quro::lookup_result(handle, &e));
    EXPECT_EQ(e.kind, kind);
    EXPECT_EQ(e.count, count);
    std::vector<T> v(block, block + count);
    EXPECT_EQ(clear_mems(handle), 0);
    EXPECT_EQ(clear_mems(handle), -1);
    return v;
}

double arc_length(double a, double b, double t) {
    const double k = 1 - b * b / (a * a);
    return a * integrate_adaptive(
                   [k](double s) { return std::sqrt(1 - k * std::cos(s) * std::cos(s)); }, 0, t,
                   1e-12, 15, nullptr);
}

TEST(HandleLayout, LineAndCircleHandlesSitWhereTheyFit) {
    quro::RRect* out = nullptr;
    int n = 0;
    for (const int flip : {0, 1}) {
        const auto v =
            take_block(gen_measure_line(0, 0, 100, 0, 20, 5, flip, 0, &out, &n), out, n, 6);
        ASSERT_EQ(v.size(), 6u);
        for (int i = 0; i < 6; ++i)
            EXPECT_TRUE(std::fabs(v[i].cx - 10 - 16 * i) < 1e-4 && v[i].cy == 0 &&
                        v[i].angle == (flip ? -90.f : 90.f))
                << i;
    }
    auto v = take_block(gen_measure_line(0, 0, 100, 0, 20, 5, 0, 1, &out, &n), out, n, 6);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_FLOAT_EQ(v[0].cx, 50.f);
    for (const int wanted : {0, 99}) {
        v = take_block(gen_measure_circle(0, 0, 10, 3, 5, 1, wanted, &out, &n), out, n, 6);
        ASSERT_EQ(v.size(), 4u);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i].angle, -90.0 + 90.0 * i, 1e-5);
        EXPECT_NEAR(v[0].cy, 10.f, 1e-5);  // theta 0 lies below the centre on screen
    }
}

// Every handle lies on the ellipse with its profile along the normal, and handle i (1 .. count)
// within a quarter degree's arc of i P / count from parameter 0: the last at parameter 0.
TEST(HandleLayout, EllipseHandlesLieOnItAlongItsNormalEvenlyByArcLength) {
    const std::tuple<double, double, double, double, int> cases[] = {
        {30, 20, 20, 2, 1}, {30, 20, 20, 2, -1}, {35, 200, 20, 10, 1}, {-60, 50, 80, 3, -1}};
    for (const auto& [angle, a, b, half_width, direction] : cases) {
        const double perimeter = arc_length(a, b, 2 * kPi), rot = angle * kPi / 180;
        quro::RRect* out = nullptr;
        int n = 0;
        const auto v = take_block(
            gen_measure_ellipse(50, 40, angle, a, b, 6, half_width, direction, 0, &out, &n), out, n,
            6);
        ASSERT_EQ(v.size(), static_cast<std::size_t>(perimeter / (3 * half_width)));
        for (std::size_t i = 0; i < v.size(); ++i) {
            const double dx = v[i].cx - 50, dy = v[i].cy - 40;
            const double px = dx * std::cos(rot) - dy * std::sin(rot);  // back to the ellipse's
            const double py = dx * std::sin(rot) + dy * std::cos(rot);  // unrotated frame
            EXPECT_NEAR(px * px / (a * a) + py * py / (b * b), 1.0, 1e-5);
            const double nx = px / (a * a), ny = py / (b * b), nn = std::hypot(nx, ny);
            const quro::HandleDirections d = quro::handle_directions(v[i].angle);
            const double ux = d.ax * std::cos(rot) - d.ay * std::sin(rot);
            const double uy = d.ax * std::sin(rot) + d.ay * std::cos(rot);
            EXPECT_NEAR(ux * nx / nn + uy * ny / nn, direction, 1e-6);
            const double t = std::atan2(py / b, px / a);
            const double s = arc_length(a, b, t < 0 ? t + 2 * kPi : t);
            const double want = std::fmod((i + 1) * perimeter / v.size(), perimeter);
            EXPECT_LE(std::fabs(std::remainder(s - want, perimeter)),
                      std::max(a, b) * kPi / 720 + 1e-4)
                << a << " " << i;
        }
    }
}

TEST(AdaptiveQuadrature, PerimeterPolynomialAndRejectedArguments) {
    EXPECT_NEAR(arc_length(200, 20, 2 * kPi), 812.794836020, 1e-6);
    double err = -1;
    EXPECT_DOUBLE_EQ(integrate_adaptive([](double x) { return x * x; }, 0, 3, 1e-12, 15, &err), 9);
    EXPECT_EQ(err, 0.0);
    const auto f = [](double x) { return x; };
    const auto message = [&](double lo, double hi, int depth, double tol = 1e-9) -> std::string {
        try {
            quro::integrate_gauss_kronrod(f, lo, hi, tol, depth, nullptr);
        } catch (const std::invalid_argument& e) {
            EXPECT_TRUE(std::isnan(integrate_adaptive(f, lo, hi, tol, depth, &err)));
            EXPECT_TRUE(std::isnan(err));
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(message(0, 1, 0), "max_depth must be positive");
    EXPECT_EQ(message(0, INFINITY, 15), "Integration limits must be finite");
    EXPECT_EQ(message(std::nan(""), 1, 15), "Integration limits must be finite");
    // A tolerance no interval can meet halved without end (a NaN one overflowed the stack).
    for (const double tol : {std::nan(""), -1.0, -1e-300})
        for (const double lo : {0.0, 1.0})
            EXPECT_EQ(message(lo, lo + 1, 2000, tol), "tolerance must not be negative or NaN");
}

TEST(HandleLayout, PointConversionsAgreeWithOpenCvRotatedRect) {
    for (const double ang : {0.0, 17.0, 90.0, -135.5, 250.0}) {
        const float hl = 12.5f, hw = 3.25f, cx = 40.f, cy = 30.f;
        double p[12];
        rr_to_pts(cx, cy, static_cast<float>(ang), hl, hw, p);
        cv::Point2f ref[4];
        cv::RotatedRect({cx, cy}, cv::Size2f(2 * hl, 2 * hw), static_cast<float>(-ang)).points(ref);
        for (int c = 0; c < 4; ++c) {  // the same corner set
            const cv::Point2f q(p[4 + 2 * c], p[5 + 2 * c]);
            EXPECT_LT(std::min({cv::norm(ref[0] - q), cv::norm(ref[1] - q), cv::norm(ref[2] - q),
                                cv::norm(ref[3] - q)}),
                      1e-4);
        }
        const double x2 = 40 + 9 * std::cos(ang), y2 = 30 - 4 * std::sin(ang);
        quro::RRect r;
        ppw_to_rr(cx, cy, x2, y2, 2, &r);
        rr_to_pts(r.cx, r.cy, r.angle, r.half_length, r.half_width, p);
        for (const auto& [got, want] :
             {std::pair{p[0], 40.0}, {p[1], 30.0}, {p[2], x2}, {p[3], y2}})
            EXPECT_NEAR(got, want, 1e-4);
    }
}

// Vertical steps rendered at sub-pixel positions: grey `base`, rising by rise_i right of x_i.
cv::Mat steps(const std::vector<std::pair<double, int>>& rises, int base = 40) {
    cv::Mat img(24, 48, CV_8U, cv::Scalar(base));
    for (const auto& [x0, rise] : rises)
        img += quro::test::render_scene(
            48, 24, [x0 = x0](double x, double) { return x > x0; }, 0, rise);
    return img;
}

// The doubles do_measure hands out for `handles` (none on failure).
std::vector<double> measure(const cv::Mat& img, const std::vector<quro::RRect>& handles,
                            const char* select, double sigma = 1.0, double threshold = 10.0) {
    double* out = nullptr;
    int found = 0;
    const int code = do_measure(img.data, img.cols, img.rows, sigma, threshold, select,
                                handles.data(), static_cast<int>(handles.size()), &out, &found);
    return take_block(code, out, 2 * found, quro::kResultMeasure);
}

std::vector<double> measure_pos(const cv::Mat& img, quro::RRect r, double sigma, double threshold) {
    double* out = nullptr;
    int count = 0;
    const int code = measure_pos_d(r.cx, r.cy, r.angle, r.half_length, r.half_width, img.data,
                                   img.cols, img.rows, sigma, threshold, &out, &count);
    return take_block(code, out, count, quro::kResultMeasure);
}

TEST(EdgeMeasure, SelectionPicksByOrderPolarityAndStrength) {
    const cv::Mat img = steps({{14.25, 40}, {30.25, 100}});
    const quro::RRect across{22, 12, 0, 14, 3}, backwards{22, 12, 180, 14, 3};
    // select, the x found across (left to right) and backwards; -1: none
    const std::tuple<const char*, double, double> cases[] = {
        {"first", 14.25, 30.25},     {"first+", 14.25, -1},         {"first-", -1, 30.25},
        {"last", 30.25, 14.25},      {"last+", 30.25, -1},          {"last-", -1, 14.25},
        {"strongest", 30.25, 30.25}, {"no such rule", 30.25, 30.25}};
    for (const auto& [select, x_across, x_backwards] : cases) {
        for (const auto& [r, x] : {std::pair{across, x_across}, {backwards, x_backwards}}) {
            const std::vector<double> m = measure(img, {r}, select);
            ASSERT_EQ(m.size(), x < 0 ? 0u : 2u) << select << " " << r.angle;
            EXPECT_TRUE(m.empty() || std::fabs(m[0] - x) < 0.02) << select << " " << r.angle;
        }
    }
    // A corner on column 0, a negative half_width, a single sample, a NaN centre.
    for (const quro::RRect r : {quro::RRect{10, 12, 0, 10, 3},
                                {22, 12, 0, 14, -1},
                                {22, 12, 0, 0.9f, 3},
                                {22, NAN, 0, 14, 3}})
        EXPECT_TRUE(measure(img, {r}, "strongest").empty()) << r.cx << " " << r.half_length;
    EXPECT_TRUE(measure(img, {across}, "strongest", 1.0, 200).empty());  // above every |D|
    // Found edges come back as the xs, then the ys, in handle order.
    const auto m =
        measure(img, {{22, 5, 0, 14, 3}, {10, 12, 0, 10, 3}, {22, 17, 0, 14, 3}}, "first+");
    ASSERT_EQ(m.size(), 4u);
    for (const auto& [got, want] :
         {std::pair{m[0], 14.25}, {m[1], 14.25}, {m[2], 5.0}, {m[3], 17.0}})
        EXPECT_NEAR(got, want, 0.02);
}

TEST(EdgeMeasure, SubPixelStepsAcrossSigmas) {
    for (const double frac : {0.0, 0.25, 0.625}) {
        const cv::Mat img = steps({{23 + frac, 100}});
        for (const double sigma : {1.0, 1.5, 2.0, 3.0}) {
            const std::vector<double> m = measure(img, {{23, 12, 0, 12, 4}}, "strongest", sigma);
            ASSERT_EQ(m.size(), 2u);
            EXPECT_NEAR(m[0], 23 + frac, 0.01) << frac << " sigma " << sigma;
        }
    }
}

TEST(EdgeMeasure, MidwayStepIsFoundOnce) {
    cv::Mat img(24, 48, CV_8U, cv::Scalar(50));
    img.colRange(21, 48).setTo(150);  // sharp step at x = 20.5
    for (const double sigma : {1.0, 2.0, 2.5}) {
        const std::vector<double> m = measure_pos(img, {20, 12, 0, 10, 2}, sigma, 5);
        ASSERT_EQ(m.size(), 3u) << sigma;
        EXPECT_DOUBLE_EQ(m[0], 20.5);
        // Beside the step the derivative is 100 g(1/2) sqrt(2 pi) sigma (88.2 at sigma 1).
        const std::vector<double> d = measure_pos(img, {20, 12, 0, 10, 2}, sigma, 0);
        EXPECT_NEAR(d.at(3 * 10 + 2), 100 * std::exp(-0.125 / (sigma * sigma)), 1e-9);
    }
    const std::vector<double> all = measure_pos(img, {20, 12, 90, 7.6f, 2}, 1, 0);  // upwards
    ASSERT_EQ(all.size(), 3u * 15);
    for (int i = 0; i < 15; ++i) EXPECT_NEAR(all[3 * i + 1], 12 + 7 - i, 1e-9);
    EXPECT_EQ(measure_pos(img, {20, 12, 0, 0.9f, 2}, 1, 0).size(), 3u);
    EXPECT_TRUE(measure_pos(img, {20, 12, 0, 0.9f, 2}, 1, 1).empty());
}

// Profiles of columns grey(x) across a 48 x 24 image, measured left to right over x = 4 .. 44
// (sigma 1, threshold 5): every edge is a positive maximum or a negative minimum of the
// derivative, a ramp's flat derivative counts once at its middle, and do_measure picks from the
// same edges.
TEST(EdgeMeasure, OnlyRisesAndFallsAreEdgesOnStepsStairsRampsAndPlateaus) {
    const auto up = [](double x, double at, double by) { return x > at ? by : 0.0; };
    const std::pair<std::function<double(double)>, std::vector<double>> cases[] = {
        {[&](double x) { return 40 + up(x, 19.5, 40) + up(x, 23.5, 40); }, {19.5, 23.5}},
        {[&](double x) { return 200 - up(x, 19.5, 40) - up(x, 23.5, 40); }, {-19.5, -23.5}},
        {[&](double x) { return 40 + up(x, 19.5, 60) - up(x, 23.5, 60); }, {19.5, -23.5}},
        {[&](double x) { return 20 + 30.0 * std::floor((x + 0.5) / 6); },
         {5.5, 11.5, 17.5, 23.5, 29.5, 35.5, 41.5}},
        {[](double x) { return 20 + 5 * x; }, {24}},                              // ramp
        {[](double x) { return 40 + 6 * std::clamp(x - 14, 0.0, 20.0); }, {24}},  // ramp 14 .. 34
        {[&](double x) { return 50 + up(x, 20.5, 100); }, {20.5}}};               // 2-sample top
    const quro::RRect r{24, 12, 0, 20, 2};
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        cv::Mat img(24, 48, CV_8U);
        for (int x = 0; x < 48; ++x) img.col(x).setTo(std::lround(cases[c].first(x)));
        const std::vector<double> e = measure_pos(img, r, 1, 5);  // x, y, amplitude
        ASSERT_EQ(e.size(), 3 * cases[c].second.size()) << c;
        std::vector<quro::MeasuredEdge> edges;
        for (std::size_t i = 0; i < e.size() / 3; ++i) {
            const double want = cases[c].second[i];
            EXPECT_NEAR(e[3 * i], std::fabs(want), 0.05) << c << " " << i;
            EXPECT_EQ(e[3 * i + 2] > 0, want > 0) << c << " " << i;
            edges.push_back({e[3 * i], e[3 * i + 1], e[3 * i + 2]});
        }
        for (const char* select : {"first", "last", "first+", "first-", "last+", "last-", "x"}) {
            const int k = quro::choose_edge(edges, quro::parse_edge_select(select));
            const std::vector<double> m = measure(img, {r}, select, 1, 5);
            ASSERT_EQ(m.size(), k < 0 ? 0u : 2u) << c << select;
            if (k >= 0) {
                EXPECT_EQ(m[0], edges[k].x) << c << select;
            }
        }
    }
}

TEST(Measuring, RejectedArgumentsRegisterNothing) {
    const cv::Mat img = steps({{20.25, 100}});
    const quro::RRect r{20, 12, 0, 8, 2};
    quro::RRect* handles = nullptr;
    double* out = nullptr;
    int n = -7;
    const std::size_t before = quro::registered_result_count();
    std::vector<int> codes = {// the third fit overflows an int
                              gen_measure_line(0, 0, 100, 0, 5, 0, 0, 0, &handles, &n),
                              gen_measure_line(0, 0, 100, 0, 5, NAN, 0, 0, &handles, &n),
                              gen_measure_line(0, 0, 100, 0, 5, 1e-300, 0, 0, &handles, &n),
                              gen_measure_line(0, 0, 100, 0, 5, 5, 0, 0, nullptr, &n),
                              gen_measure_circle(0, 0, 10, 5, -1, 0, 0, &handles, &n),
                              gen_measure_circle(0, 0, 10, 5, 5, 0, 0, &handles, nullptr),
                              gen_measure_ellipse(0, 0, 0, 30, 0, 5, 2, 0, 0, &handles, &n),
                              gen_measure_ellipse(0, 0, 0, 0, 30, 5, 2, 0, 0, &handles, &n),
                              gen_measure_ellipse(0, 0, NAN, 30, 20, 5, 2, 0, 0, &handles, &n),
                              gen_measure_ellipse(0, 0, 0, 30, 20, 5, 0, 0, 0, &handles, &n),
                              measure_pos_d(20, 12, 0, 8, 2, nullptr, 48, 24, 1, 5, &out, &n),
                              do_measure(img.data, 48, 24, 1, 5, "first", nullptr, 1, &out, &n),
                              do_measure(img.data, 48, 24, 1, 5, "first", &r, -1, &out, &n),
                              do_measure(img.data, 48, 24, 1, 5, "first", &r, 1, nullptr, &n),
                              do_measure(img.data, 48, 24, 1, 5, "first", &r, 1, &out, nullptr),
                              do_measure(img.data, 48, 24, 1, 5, nullptr, &r, 1, &out, &n)};
    for (const double sigma : {0.0, -1.0, double(NAN), double(INFINITY)})
        for (const int c : {do_measure(img.data, 48, 24, sigma, 5, "first", &r, 1, &out, &n),
                            measure_pos_d(20, 12, 0, 8, 2, img.data, 48, 24, sigma, 5, &out, &n)})
            codes.push_back(c);
    for (std::size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], -1) << i;
    EXPECT_EQ(handles, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(n, -7);
    EXPECT_EQ(quro::registered_result_count(), before);
}

TEST(EdgeMeasure, ProfileAndDerivativeMatchOpenCv) {
    std::mt19937 rng(33);
    cv::Mat img(48, 64, CV_8U);
    cv::randu(img, 0, 256);
    cv::GaussianBlur(img, img, cv::Size(7, 7), 2);  // float sample positions then err < 1e-5
    const quro::MeasureImage mi{img.data, img.cols, img.rows};
    std::uniform_real_distribution<double> u(0, 1);
    for (int trial = 0; trial < 40; ++trial) {
        quro::PlacedHandle h;
        if (!quro::place_handle(10 + 44 * u(rng), 10 + 28 * u(rng), 360 * u(rng), 9 * u(rng),
                                4 * u(rng), mi, &h))
            continue;
        std::vector<double> profile, d;
        quro::sample_profile(mi, h, profile);
        for (int k = -h.half_length; k <= h.half_length; ++k) {
            double sum = 0;
            for (int m = -h.half_width; m <= h.half_width; ++m) {
                cv::Mat p;
                const cv::Point2f at(h.cx + k * h.dir.ax + m * h.dir.wx,
                                     h.cy + k * h.dir.ay + m * h.dir.wy);
                cv::getRectSubPix(img, cv::Size(1, 1), at, p, CV_32F);
                sum += p.at<float>(0);
            }
            EXPECT_NEAR(profile[k + h.half_length], sum / (2 * h.half_width + 1), 1e-4);
        }
        const double sigma = 0.5 + 3 * u(rng);
        const std::vector<double> taps = quro::gaussian_derivative_kernel(sigma);
        quro::derivative_profile(profile, taps, sigma, d);
        cv::Mat ref;
        cv::filter2D(
            cv::Mat(1, static_cast<int>(profile.size()), CV_64F, profile.data()), ref, CV_64F,
            cv::Mat(1, static_cast<int>(taps.size()), CV_64F, const_cast<double*>(taps.data())),
            cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        for (std::size_t i = 0; i < d.size(); ++i)
            EXPECT_NEAR(d[i], ref.at<double>(static_cast<int>(i)) * std::sqrt(2 * M_PI) * sigma,
                        1e-9);
    }
}

}  // namespace

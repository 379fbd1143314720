// The filter-based sub-pixel edge exports on rendered scenes: arguments, limits, geometry of the
// points, chain structure, thinning, output order, threads, and agreement with OpenCV's Canny.
#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <cmath>
#include <cstring>
#include <iostream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <set>
#include <utility>
#include <vector>

#include "quro/edges/geometry.h"
#include "quro/edges/subpix_detector.h"
#include "quro/quro.h"
#include "testing/edge_scenes.h"

namespace {

using quro::test::add_noise;
using quro::test::render_disc;
using quro::test::render_scene;
using quro::test::render_shapes;
using Contours = std::vector<std::vector<EdgePoint>>;

int gray(const cv::Mat& img, std::vector<EdgePoint>& out, float low = 10.f, float high = 30.f,
         int min_length = 5, int window = 1, int blur = 0, const cv::Mat& mask = cv::Mat()) {
    return edges_sub_pix_gray(img.data, img.cols, img.rows, blur, low, high, min_length, window,
                              &out, mask.empty() ? nullptr : mask.data);
}

int contours(const cv::Mat& img, Contours& out, float low = 10.f, float high = 30.f,
             int min_length = 5, int margin = 1, int blur = 0, const cv::Mat& mask = cv::Mat()) {
    return find_sub_pix_contours(img.data, img.cols, img.rows, blur, margin, low, high, min_length,
                                 0, &out, mask.empty() ? nullptr : mask.data);
}

std::size_t total_points(const Contours& c) {
    std::size_t n = 0;
    for (const auto& ch : c) n += ch.size();
    return n;
}

double angle_deg(double ax, double ay, double bx, double by) {
    const double c = (ax * bx + ay * by) / (std::hypot(ax, ay) * std::hypot(bx, by));
    return std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / CV_PI;
}

bool same_bytes(const std::vector<EdgePoint>& a, const std::vector<EdgePoint>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(EdgePoint)) == 0);
}

// A straight edge through (cx, cy) tilted by `deg` from the vertical, bright on the right.
cv::Mat render_tilted_edge(int w, int h, double cx, double deg, double dark, double bright) {
    const double t = std::tan(deg * CV_PI / 180.0);
    const double cy = h / 2.0;
    return render_scene(
        w, h, [=](double x, double y) { return x - cx > (y - cy) * t; }, dark, bright);
}

// ---------------------------------------------------------------------------------------------
// Arguments and limits

TEST(SubPixEdges, BadArgumentsGiveMinusOneAndLeaveOutAlone) {
    const cv::Mat img = render_disc(40, 40, 20, 20, 10, 0, 200);
    std::vector<EdgePoint> out(3);
    Contours cout_(2);
    EXPECT_EQ(edges_sub_pix_gray(nullptr, 40, 40, 0, 10, 30, 5, 1, &out, nullptr), -1);
    EXPECT_EQ(edges_sub_pix_gray(img.data, 40, 40, 0, 10, 30, 5, 1, nullptr, nullptr), -1);
    EXPECT_EQ(edges_sub_pix_gray(img.data, 0, 40, 0, 10, 30, 5, 1, &out, nullptr), -1);
    EXPECT_EQ(edges_sub_pix_gray(img.data, 40, -3, 0, 10, 30, 5, 1, &out, nullptr), -1);
    EXPECT_EQ(find_sub_pix_contours(nullptr, 40, 40, 0, 1, 10, 30, 5, 0, &cout_, nullptr), -1);
    EXPECT_EQ(find_sub_pix_contours(img.data, 40, 40, 0, 1, 10, 30, 5, 0, nullptr, nullptr), -1);
    EXPECT_EQ(find_sub_pix_contours(img.data, -1, 40, 0, 1, 10, 30, 5, 0, &cout_, nullptr), -1);
    EXPECT_EQ(out.size(), 3u);
    EXPECT_EQ(cout_.size(), 2u);
}

TEST(SubPixEdges, TinyImagesGiveNothing) {
    for (int w : {1, 2, 3})
        for (int h : {1, 2, 3}) {
            cv::Mat img(h, w, CV_8U);
            cv::randu(img, 0, 256);
            std::vector<EdgePoint> out;
            Contours c;
            EXPECT_EQ(gray(img, out, 1, 2), 0);
            EXPECT_EQ(contours(img, c, 1, 2), 0);
        }
}

TEST(SubPixEdges, NoMagnitudeAboveHighGivesZeroAndNothing) {
    // A step of 20 grey values has a magnitude of at most 20.
    const cv::Mat img = render_disc(60, 60, 30.3, 29.6, 15, 100, 120);
    std::vector<EdgePoint> out(1);
    EXPECT_EQ(gray(img, out, 5, 30), 0);
    EXPECT_EQ(out.size(), 1u);
    Contours c;
    EXPECT_EQ(contours(img, c, 5, 30), 0);
    EXPECT_TRUE(c.empty());
    // The same image with a lower high threshold does give points.
    EXPECT_EQ(gray(img, out, 5, 10), 0);
    EXPECT_GT(out.size(), 1u);
}

TEST(SubPixEdges, MaskOfZerosGivesNothing) {
    const cv::Mat img = render_disc(60, 60, 30.3, 29.6, 15, 0, 200);
    const cv::Mat zeros = cv::Mat::zeros(img.size(), CV_8U);
    std::vector<EdgePoint> out;
    Contours c;
    EXPECT_EQ(gray(img, out, 10, 30, 5, 1, 0, zeros), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(contours(img, c, 10, 30, 5, 1, 0, zeros), 0);
    EXPECT_TRUE(c.empty());
}

TEST(SubPixEdges, MaskKeepsPointsInsideIt) {
    const cv::Mat img = render_disc(60, 60, 30.3, 29.6, 15, 0, 200);
    cv::Mat right = cv::Mat::zeros(img.size(), CV_8U);
    right.colRange(30, 60).setTo(255);
    std::vector<EdgePoint> all, masked;
    ASSERT_EQ(gray(img, all), 0);
    ASSERT_EQ(gray(img, masked, 10, 30, 5, 1, 0, right), 0);
    ASSERT_FALSE(masked.empty());
    EXPECT_LT(masked.size(), all.size());
    for (const EdgePoint& p : masked) EXPECT_GE(p.x, 29.5f);
}

TEST(SubPixEdges, MoreThan65536StrongPixelsGiveMinusTwo) {
    cv::Mat noise(512, 512, CV_8U);
    cv::setRNGSeed(5);
    cv::randu(noise, 0, 256);
    std::vector<EdgePoint> out(7);
    EXPECT_EQ(gray(noise, out, 1, 2), -2);
    EXPECT_EQ(out.size(), 7u);
    Contours c(4);
    EXPECT_EQ(contours(noise, c, 1, 2), -2);
    EXPECT_EQ(c.size(), 4u);
}

// Vertical bars 4 pixels wide: each of the `edges` ideal steps makes two strong pixels in every
// candidate row (the columns on both sides of the step), rows - 2 candidate rows in all.
cv::Mat bars(int edges, int rows) {
    cv::Mat img(rows, 4 * edges + 3, CV_8U);
    for (int c = 0; c < img.cols; ++c) img.col(c).setTo((std::min(c, 4 * edges) / 4) % 2 ? 200 : 0);
    return img;
}

TEST(SubPixEdges, Exactly65536StrongPixelsAreAllowed) {
    const cv::Mat exact = bars(128, 258);  // 2 * 128 * 256 = 65536
    quro::EdgeMaps maps;
    quro::compute_edge_maps(exact.data, exact.step[0], exact.cols, exact.rows, nullptr, 0, 1, 10.f,
                            30.f, maps);
    ASSERT_EQ(maps.strong, 65536);
    std::vector<EdgePoint> out;
    EXPECT_EQ(gray(exact, out), 0);
    EXPECT_FALSE(out.empty());
    Contours c;
    EXPECT_EQ(contours(exact, c), 0);
    EXPECT_FALSE(c.empty());

    const cv::Mat over = bars(128, 259);  // one row more: 65792
    out.clear();
    EXPECT_EQ(gray(over, out), -2);
    EXPECT_TRUE(out.empty());
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(SubPixEdges, AllocationFailureIsReportedAndAppendsNothing) {
    // Maps for an INT_MAX x INT_MAX image cannot be allocated; the image is never read.
    const unsigned char pixel = 0;
    std::vector<EdgePoint> out(2);
    testing::internal::CaptureStderr();
    const int rc = edges_sub_pix_gray(&pixel, INT_MAX, INT_MAX, 0, 10, 30, 5, 1, &out, nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(err, "detlines: Out of memory\n");
    EXPECT_EQ(out.size(), 2u);
}
#endif

// ---------------------------------------------------------------------------------------------
// Geometry of the points

TEST(SubPixEdges, BrightDiscGivesOneClosedChainOnTheCircle) {
    const double cx = 40.37, cy = 41.71, radius = 30.0;
    const cv::Mat img = render_disc(82, 84, cx, cy, radius, 40, 200);
    Contours c;
    ASSERT_EQ(contours(img, c), 0);
    ASSERT_EQ(c.size(), 1u);
    const auto& ch = c[0];
    // Walked once around: about one point per pixel of the circumference, the last point next
    // to the first, and no pixel twice.
    EXPECT_GT(ch.size(), 170u);
    EXPECT_LT(ch.size(), 230u);
    EXPECT_LT(std::hypot(ch.front().x - ch.back().x, ch.front().y - ch.back().y), 1.5);
    std::set<std::pair<float, float>> seen;
    for (const EdgePoint& p : ch) EXPECT_TRUE(seen.insert({p.x, p.y}).second);
    for (const EdgePoint& p : ch) {
        EXPECT_NEAR(std::hypot(p.x - cx, p.y - cy), radius, 0.15);
        // Dark outside, bright inside: the normal points to the centre.
        EXPECT_LT(angle_deg(p.nx, p.ny, cx - p.x, cy - p.y), 10.0);
        EXPECT_NEAR(std::hypot(p.nx, p.ny), 1.0, 1e-6);
    }
    // Neighbouring chain points are neighbours on the circle.
    for (std::size_t k = 1; k < ch.size(); ++k)
        EXPECT_LT(std::hypot(ch[k].x - ch[k - 1].x, ch[k].y - ch[k - 1].y), 2.0);

    // The first pass came back to the seed and closed the chain, so the second pass was not
    // walked and the chain was never reversed: it starts at its seed, the strongest pixel.
    quro::EdgeMaps maps;
    quro::compute_edge_maps(img.data, img.step[0], img.cols, img.rows, nullptr, 0, 1, 10.f, 30.f,
                            maps);
    const auto seeds = quro::collect_seeds(maps);
    ASSERT_FALSE(seeds.empty());
    const quro::EdgeCandidate& strongest = maps.candidate_at(seeds[0].row, seeds[0].col);
    EXPECT_EQ(ch.front().x, strongest.x);
    EXPECT_EQ(ch.front().y, strongest.y);
}

TEST(SubPixEdges, GrayEmitsEachRoundedPixelOnce) {
    const double cx = 40.37, cy = 41.71;
    const cv::Mat img = render_disc(82, 84, cx, cy, 30.0, 40, 200);
    std::vector<EdgePoint> out;
    ASSERT_EQ(gray(img, out), 0);
    ASSERT_GT(out.size(), 150u);
    std::set<std::pair<int, int>> pixels;
    for (const EdgePoint& p : out) {
        EXPECT_TRUE(
            pixels.insert({static_cast<int>(p.x + 0.5f), static_cast<int>(p.y + 0.5f)}).second);
        EXPECT_NEAR(std::hypot(p.x - cx, p.y - cy), 30.0, 0.15);
    }
}

TEST(SubPixEdges, DiscRadiusAccuracy) {
    // Radial error of the points on anti-aliased discs with sub-pixel centres, without and with
    // Gaussian noise of sigma 2.
    for (const double sigma : {0.0, 2.0}) {
        double sum = 0, sum2 = 0;
        long n = 0;
        for (int t = 0; t < 10; ++t) {
            const double cx = 40.3 + 0.137 * t, cy = 41.7 - 0.091 * t;
            cv::Mat img = render_disc(82, 84, cx, cy, 30.0, 40, 200);
            if (sigma > 0) img = add_noise(img, sigma, 100 + t);
            Contours c;
            ASSERT_EQ(contours(img, c), 0);
            for (const auto& ch : c)
                for (const EdgePoint& p : ch) {
                    const double e = std::hypot(p.x - cx, p.y - cy) - 30.0;
                    sum += e;
                    sum2 += e * e;
                    ++n;
                }
        }
        const double mean = sum / n, sd = std::sqrt(sum2 / n - mean * mean);
        std::cout << "disc radius 30, noise sigma " << sigma << ": " << n
                  << " points, radial error mean " << mean << " px, sd " << sd << " px\n";
        RecordProperty(sigma > 0 ? "noisy_bias" : "bias", std::to_string(mean));
        RecordProperty(sigma > 0 ? "noisy_sd" : "sd", std::to_string(sd));
        EXPECT_LT(std::fabs(mean), 0.025);
        EXPECT_LT(sd, sigma > 0 ? 0.06 : 0.04);
    }
}

TEST(SubPixEdges, VerticalStepEdgeNormalsPointToTheBrightSide) {
    for (const bool bright_right : {true, false}) {
        const double step = 20.3;
        const cv::Mat img = render_scene(
            40, 30, [=](double x, double) { return bright_right ? x > step : x < step; }, 30, 220);
        Contours c;
        ASSERT_EQ(contours(img, c), 0);
        ASSERT_FALSE(c.empty());
        for (const auto& ch : c)
            for (const EdgePoint& p : ch) {
                EXPECT_NEAR(p.x, step, 0.05);
                EXPECT_NEAR(p.nx, bright_right ? 1.f : -1.f, 1e-4f);
                EXPECT_NEAR(p.ny, 0.f, 1e-2f);
            }
        std::vector<EdgePoint> g;
        ASSERT_EQ(gray(img, g), 0);
        EXPECT_GE(g.size(), 24u);  // one point per row away from the top and bottom border
    }
}

TEST(SubPixEdges, IdealStepBetweenColumnsLiesHalfWay) {
    cv::Mat img(30, 40, CV_8U, cv::Scalar(0));
    img.colRange(20, 40).setTo(200);
    std::vector<EdgePoint> g;
    ASSERT_EQ(gray(img, g), 0);
    ASSERT_GE(g.size(), 20u);
    for (const EdgePoint& p : g) {
        EXPECT_FLOAT_EQ(p.x, 19.5f);
        EXPECT_FLOAT_EQ(p.nx, 1.f);
    }
}

TEST(SubPixEdges, OnePixelLineGivesTwoChainsWithOppositeNormals) {
    cv::Mat img(40, 40, CV_8U, cv::Scalar(50));
    img.col(20).setTo(200);
    Contours c;
    ASSERT_EQ(contours(img, c), 0);
    ASSERT_EQ(c.size(), 2u);
    double mean_nx[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        for (const EdgePoint& p : c[k]) mean_nx[k] += p.nx;
        mean_nx[k] /= static_cast<double>(c[k].size());
        EXPECT_NEAR(std::fabs(mean_nx[k]), 1.0, 1e-3);
        const float x = c[k].front().x;
        EXPECT_NEAR(x, mean_nx[k] > 0 ? 19.f : 21.f, 1e-3f);  // flanks, normals into the line
    }
    EXPECT_LT(mean_nx[0] * mean_nx[1], 0.0);
}

// ---------------------------------------------------------------------------------------------
// Chains and thinning

TEST(SubPixEdges, WindowKeepsWindowStartsOfAStraightEdge) {
    const cv::Mat img = render_tilted_edge(40, 60, 20.2, 8.0, 20, 200);
    Contours c;
    ASSERT_EQ(contours(img, c), 0);
    ASSERT_EQ(c.size(), 1u);
    const auto& ch = c[0];
    const int count = static_cast<int>(ch.size());
    ASSERT_GT(count, 40);

    std::vector<EdgePoint> g;
    ASSERT_EQ(gray(img, g, 10, 30, 5, 5), 0);
    std::vector<int> expect;
    int b = 0;
    for (; b + 4 <= count - 1; b += 4) expect.push_back(b);
    expect.push_back(b);
    if (count - b > 2 && b != count - 1) expect.push_back(count - 1);
    ASSERT_EQ(g.size(), expect.size());
    for (std::size_t k = 0; k < expect.size(); ++k) {
        EXPECT_EQ(g[k].x, ch[static_cast<std::size_t>(expect[k])].x) << k;
        EXPECT_EQ(g[k].y, ch[static_cast<std::size_t>(expect[k])].y) << k;
    }

    // A window longer than the chain: nothing from the thinned export, everything from the
    // contour export.
    std::vector<EdgePoint> none;
    ASSERT_EQ(gray(img, none, 10, 30, 5, count + 1), 0);
    EXPECT_TRUE(none.empty());
    std::vector<EdgePoint> every;
    ASSERT_EQ(gray(img, every, 10, 30, 5, 1), 0);
    EXPECT_EQ(static_cast<int>(every.size()), count);
}

TEST(SubPixEdges, BlurKeepsTheDiscAndEvenSizesActAsTheNextOdd) {
    const double cx = 40.37, cy = 41.71;
    const cv::Mat img = render_disc(82, 84, cx, cy, 30.0, 40, 200);
    Contours c5;
    ASSERT_EQ(contours(img, c5, 10, 30, 5, 1, 5), 0);
    ASSERT_EQ(c5.size(), 1u);
    for (const EdgePoint& p : c5[0]) EXPECT_NEAR(std::hypot(p.x - cx, p.y - cy), 30.0, 0.2);

    std::vector<EdgePoint> g2, g3, g5;
    ASSERT_EQ(gray(img, g2, 10, 30, 5, 3, 2), 0);
    ASSERT_EQ(gray(img, g3, 10, 30, 5, 3, 3), 0);
    ASSERT_EQ(gray(img, g5, 10, 30, 5, 3, 5), 0);
    EXPECT_FALSE(g3.empty());
    EXPECT_TRUE(same_bytes(g2, g3));
    EXPECT_FALSE(same_bytes(g3, g5));
}

TEST(SubPixEdges, MarginKeepsPointsAwayFromTheBorder) {
    const cv::Mat img = render_shapes(200, 160, 30, 7);
    Contours c;
    ASSERT_EQ(contours(img, c, 10, 30, 5, 10), 0);
    ASSERT_FALSE(c.empty());
    for (const auto& ch : c)
        for (const EdgePoint& p : ch) {
            EXPECT_GE(p.x, 9.5f);
            EXPECT_GE(p.y, 9.5f);
            EXPECT_LE(p.x, img.cols - 1 - 9.5f);
            EXPECT_LE(p.y, img.rows - 1 - 9.5f);
        }
    // A disc cut by the border still gives points near it with margin 1.
    const cv::Mat cut = render_disc(60, 60, 3.0, 30.0, 15.0, 0, 200);
    Contours c1, c10;
    ASSERT_EQ(contours(cut, c1, 10, 30, 5, 1), 0);
    ASSERT_EQ(contours(cut, c10, 10, 30, 5, 10), 0);
    EXPECT_GT(total_points(c1), total_points(c10));
}

TEST(SubPixEdges, MinLengthFiltersByDiameter) {
    const cv::Mat img = render_shapes(200, 160, 30, 8);
    // Every chain the linking builds, with its diameter.
    quro::EdgeMaps maps;
    quro::compute_edge_maps(img.data, img.step[0], img.cols, img.rows, nullptr, 0, 1, 10.f, 30.f,
                            maps);
    const auto chains = quro::link_chains(maps, quro::collect_seeds(maps));
    std::vector<double> diam;
    for (const auto& ch : chains) {
        std::vector<cv::Point2d> pts;
        for (std::size_t i = 0; i < ch.size(); ++i) pts.emplace_back(ch.cols[i], ch.rows[i]);
        diam.push_back(quro::hull_diameter(pts));
    }
    ASSERT_GT(chains.size(), 10u);
    for (const int min_length : {1, 3, 8, 20}) {
        Contours c;
        ASSERT_EQ(contours(img, c, 10, 30, min_length), 0);
        const auto kept = static_cast<std::size_t>(std::count_if(
            diam.begin(), diam.end(), [&](double d) { return d > min_length - 1.0; }));
        EXPECT_EQ(c.size(), kept) << min_length;
    }
    Contours none;
    ASSERT_EQ(contours(img, none, 10, 30, 100000), 0);
    EXPECT_TRUE(none.empty());
}

TEST(SubPixEdges, LongerChainsComeFirstInTheThinnedOutput) {
    // A large disc of low contrast and a small disc of high contrast: the small one holds the
    // strongest seed, so it is grown first, but the thinned output starts with the large one.
    const cv::Mat large = render_disc(160, 120, 50.3, 55.6, 35.0, 60, 120);
    const cv::Mat small = render_disc(160, 120, 130.4, 50.2, 10.0, 0, 250);
    cv::Mat img;
    cv::max(large, small, img);
    Contours c;
    ASSERT_EQ(contours(img, c), 0);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_GT(c.front().front().x, 100.f);  // creation order: the small disc first

    std::vector<EdgePoint> g;
    ASSERT_EQ(gray(img, g), 0);
    ASSERT_FALSE(g.empty());
    // All of the large disc's points come before any of the small one's.
    EXPECT_LT(g.front().x, 100.f);
    bool seen_small = false;
    for (const EdgePoint& p : g) {
        if (p.x > 100.f)
            seen_small = true;
        else
            EXPECT_FALSE(seen_small);
    }
    EXPECT_TRUE(seen_small);
}

TEST(SubPixEdges, CrossingChainsEmitASharedPixelOnce) {
    const cv::Mat img = render_shapes(256, 256, 60, 9);
    std::vector<EdgePoint> g;
    ASSERT_EQ(gray(img, g), 0);
    std::set<std::pair<int, int>> pixels;
    for (const EdgePoint& p : g)
        EXPECT_TRUE(
            pixels.insert({static_cast<int>(p.x + 0.5f), static_cast<int>(p.y + 0.5f)}).second);
    // The contour lists may hold a pixel more than once, but never more points in total than
    // there are candidates in chains.
    Contours c;
    ASSERT_EQ(contours(img, c), 0);
    EXPECT_GE(total_points(c), g.size());
}

TEST(SubPixEdges, SeedsComeStrongestFirstWithRasterOrderOnTies) {
    const cv::Mat img = render_shapes(300, 200, 40, 12);
    quro::EdgeMaps maps;
    quro::compute_edge_maps(img.data, img.step[0], img.cols, img.rows, nullptr, 0, 1, 10.f, 30.f,
                            maps);
    std::vector<quro::EdgeSeed> ref;
    for (std::size_t i = 0; i < maps.candidates.size(); ++i) {
        const auto& c = maps.candidates[i];
        if (c.magnitude > 30.f)
            ref.push_back(quro::EdgeSeed{c.col, c.row, c.magnitude, static_cast<std::int32_t>(i)});
    }
    std::stable_sort(ref.begin(), ref.end(),
                     [](const auto& a, const auto& b) { return a.magnitude > b.magnitude; });
    const std::vector<quro::EdgeSeed> seeds = quro::collect_seeds(maps);
    ASSERT_EQ(seeds.size(), ref.size());
    ASSERT_EQ(static_cast<long long>(seeds.size()), maps.strong);
    ASSERT_GT(seeds.size(), 100u);
    std::size_t ties = 0;
    for (std::size_t k = 0; k < seeds.size(); ++k) {
        EXPECT_EQ(seeds[k].row, ref[k].row) << k;
        EXPECT_EQ(seeds[k].col, ref[k].col) << k;
        if (k > 0 && seeds[k].magnitude == seeds[k - 1].magnitude) ++ties;
    }
    EXPECT_GT(ties, 10u);  // the tie-break was exercised
}

// ---------------------------------------------------------------------------------------------
// Determinism and a soft differential test

TEST(SubPixEdges, SameBytesWithOneAndEightThreads) {
    const cv::Mat img = render_shapes(640, 480, 60, 10);
    using Limit = tbb::global_control;
    auto threads = std::make_unique<Limit>(Limit::max_allowed_parallelism, 1);
    std::vector<EdgePoint> g1;
    Contours c1;
    ASSERT_EQ(gray(img, g1, 10, 30, 5, 3), 0);
    ASSERT_EQ(contours(img, c1), 0);
    threads.reset();  // the smallest of the active limits applies
    threads = std::make_unique<Limit>(Limit::max_allowed_parallelism, 8);
    std::vector<EdgePoint> g8;
    Contours c8;
    ASSERT_EQ(gray(img, g8, 10, 30, 5, 3), 0);
    ASSERT_EQ(contours(img, c8), 0);
    threads.reset();
    ASSERT_FALSE(g1.empty());
    EXPECT_TRUE(same_bytes(g1, g8));
    ASSERT_EQ(c1.size(), c8.size());
    for (std::size_t k = 0; k < c1.size(); ++k) EXPECT_TRUE(same_bytes(c1[k], c8[k])) << k;
}

TEST(SubPixEdges, PointsLieOnCannyEdges) {
    const float low = 8.f, high = 20.f;
    cv::Mat img = render_shapes(400, 300, 40, 11);
    cv::GaussianBlur(img, img, cv::Size(5, 5), 0);
    std::vector<EdgePoint> g;
    ASSERT_EQ(gray(img, g, low, high, 5, 1), 0);
    ASSERT_GT(g.size(), 500u);
    cv::Mat canny;
    cv::Canny(img, canny, 4 * low, 4 * high, 3, true);
    cv::dilate(canny, canny, cv::Mat::ones(3, 3, CV_8U));
    std::size_t near = 0;
    for (const EdgePoint& p : g)
        if (canny.at<uchar>(static_cast<int>(p.y + 0.5f), static_cast<int>(p.x + 0.5f)) != 0)
            ++near;
    const double share = static_cast<double>(near) / static_cast<double>(g.size());
    std::cout << "share of points within 1 px of a Canny edge: " << share << "\n";
    EXPECT_GE(share, 0.95);
}

}  // namespace

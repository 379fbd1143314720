// The chain edge detector: parts against OpenCV and plain rules, rendered scenes with known edges,
// hysteresis, the exports' agreement, arguments and threads, and the pixel set against Canny.
#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <vector>

#include "quro/edges/chain_detector.h"
#include "quro/edges/geometry.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "testing/edge_scenes.h"

namespace {

using Contours = std::vector<std::vector<EdgePoint>>;

struct CResult {  // find_sub_pix_contours_c copied out and freed; rc is its return value
    int rc = 0, count = -1;
    Contours chains;
    std::vector<double> diameters;
};

CResult run_c(const cv::Mat& img, float sigma, float low, float high) {
    CResult r;
    quro::Contour* block = nullptr;
    r.rc = find_sub_pix_contours_c(img.data, img.cols, img.rows, sigma, low, high, &block, &r.count,
                                   nullptr);
    if (r.rc < 1) return r;
    for (int i = 0; i < r.count; ++i) {
        r.chains.emplace_back(block[i].points, block[i].points + block[i].count);
        r.diameters.push_back(block[i].diameter);
    }
    EXPECT_EQ(clear_mems(r.rc), 0);
    return r;
}

bool same_points(const std::vector<EdgePoint>& a, const std::vector<EdgePoint>& b) {
    return a.size() == b.size() &&
           (a.empty() || !std::memcmp(&a[0], &b[0], a.size() * sizeof a[0]));
}

cv::Mat to_double(const cv::Mat& img, cv::Mat d = {}) {
    img.convertTo(d, CV_64F);
    return d;
}

TEST(ChainEdges, SmoothingAndGradientMatchOpenCv) {
    cv::Mat img(37, 53, CV_8U);
    cv::setRNGSeed(3);
    cv::randu(img, 0, 256);
    for (const double sigma : {0.6, 1.0, 2.5}) {
        cv::Mat ours = to_double(img), scratch(img.size(), CV_64F), ref;
        quro::gaussian_filter(ours.ptr<double>(), scratch.ptr<double>(), img.cols, img.rows, sigma);
        const cv::Mat k = cv::getGaussianKernel(2 * quro::gaussian_half_size(sigma) + 1, sigma);
        cv::sepFilter2D(to_double(img), ref, CV_64F, k, k, {-1, -1}, 0, cv::BORDER_REFLECT);
        EXPECT_LT(cv::norm(ours, ref, cv::NORM_INF), 1e-9) << sigma;
    }
    // Gradient: the Sobel sums / 4, exactly, and its magnitude where the mask is set, else 0.
    cv::Mat mask(img.size(), CV_8U);
    cv::randu(mask, 0, 2);
    quro::ChainMaps m;
    m.allocate(img.cols, img.rows);
    const cv::Mat d = to_double(img);
    quro::compute_gradient(d.ptr<double>(), mask.data, m);
    cv::Mat sx, sy;
    cv::Sobel(d, sx, CV_64F, 1, 0);
    cv::Sobel(d, sy, CV_64F, 0, 1);
    for (int y = 1; y + 1 < img.rows; ++y)
        for (int x = 1; x + 1 < img.cols; ++x) {
            const double gx = sx.at<double>(y, x) / 4, gy = sy.at<double>(y, x) / 4;
            double ox, oy;
            quro::gradient_at(d.ptr<double>(), img.cols, x, y, ox, oy);
            ASSERT_TRUE(ox == gx && oy == gy) << x << "," << y;
            const double mod = m.mod[static_cast<std::size_t>(y) * img.cols + x];
            ASSERT_EQ(mod, mask.at<uchar>(y, x) != 0 ? std::sqrt(gx * gx + gy * gy) : 0.0);
        }
}

// Linking against its rules written out plainly (the visiting order changes which links survive).
TEST(ChainEdges, LinkingFollowsThePlainRulesInColumnOrder) {
    const cv::Mat img = quro::test::add_noise(quro::test::render_shapes(150, 120, 10, 5), 4, 1);
    cv::Mat d = to_double(img);
    quro::ChainMaps m;
    m.allocate(img.cols, img.rows);
    quro::gaussian_filter(d.ptr<double>(), m.mod.get(), img.cols, img.rows, 1.0);
    quro::compute_gradient(d.ptr<double>(), nullptr, m);
    quro::compute_edge_points(m);
    std::vector<int> next(m.points.size(), -1), prev(m.points.size(), -1);
    const int X = img.cols;
    for (int x = 2; x < X - 2; ++x)
        for (int y = 2; y < img.rows - 2; ++y) {
            const int from = m.id[static_cast<std::size_t>(y * X + x)];
            if (from < 0) continue;
            int fwd = -1, bck = -1;
            double fs = 0, bs = 0;
            for (int i = -2; i <= 2; ++i)
                for (int j = -2; j <= 2; ++j) {
                    const int to = m.id[static_cast<std::size_t>((y + j) * X + x + i)];
                    const double s = to < 0 ? 0.0 : quro::chain_score(m, from, to);
                    if (s > fs) fs = s, fwd = to;
                    if (s < bs) bs = s, bck = to;
                }
            if (fwd >= 0 && next[from] != fwd &&
                (prev[fwd] < 0 || quro::chain_score(m, prev[fwd], fwd) < fs)) {
                if (next[from] >= 0) prev[next[from]] = -1;
                if (prev[fwd] >= 0) next[prev[fwd]] = -1;
                next[from] = fwd, prev[fwd] = from;
            }
            if (bck >= 0 && prev[from] != bck &&
                (next[bck] < 0 || quro::chain_score(m, next[bck], bck) > bs)) {
                if (next[bck] >= 0) prev[next[bck]] = -1;
                if (prev[from] >= 0) next[prev[from]] = -1;
                next[bck] = from, prev[from] = bck;
            }
        }
    quro::chain_edge_points(m);
    ASSERT_GT(m.points.size(), 1000u);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), m.next.begin()));
    EXPECT_TRUE(std::equal(prev.begin(), prev.end(), m.prev.begin()));
}

// A bright disc: one closed chain on the circle, normals pointing to the centre.
TEST(ChainEdges, DiscGivesOneClosedChainOnTheCircle) {
    const double cx = 70.37, cy = 68.81, radius = 55.23;
    const cv::Mat img = quro::test::render_disc(140, 140, cx, cy, radius, 40, 200);
    for (const float sigma : {0.f, 1.f}) {
        const CResult r = run_c(img, sigma, 10, 30);
        ASSERT_EQ(r.count, 1) << sigma;
        const std::vector<EdgePoint>& c = r.chains[0];
        ASSERT_GT(c.size(), 200u);
        EXPECT_TRUE(same_points({c.front()}, {c.back()}));
        double sum = 0, sum2 = 0;
        for (const EdgePoint& p : c) {
            const double dx = p.x - cx, dy = p.y - cy, r0 = std::hypot(dx, dy);
            sum += r0 - radius;
            sum2 += (r0 - radius) * (r0 - radius);
            EXPECT_NEAR(std::hypot(p.nx, p.ny), 1.0, 1e-6);
            EXPECT_LT((p.nx * dx + p.ny * dy) / r0, -0.99);
        }
        const double n = static_cast<double>(c.size()), bias = sum / n;
        EXPECT_LE(std::fabs(bias), 0.02) << sigma;
        EXPECT_LE(std::sqrt(sum2 / n - bias * bias), 0.05) << sigma;
    }
}

// Chain points of column 20 on a step of 20 between columns 20 and 21 (|G| = 20), optionally with
// pixel (21, 30) raised to 160 (|G| = 40 at (20, 30), about 31.6 at rows 29 and 31).
int points_on_step(float low, float high, bool raised) {
    cv::Mat img(60, 40, CV_8U, cv::Scalar(100));
    img.colRange(21, 40).setTo(120);
    if (raised) img.at<uchar>(30, 21) = 160;
    int n = 0;
    for (const auto& c : run_c(img, 0, low, high).chains)
        for (const EdgePoint& p : c) n += p.x >= 20.f && p.x <= 20.5f;
    return n;
}

TEST(ChainEdges, HysteresisKeepsWholeRunsFromStrongPoints) {
    const int full = 60 - 4;  // edge points exist on rows 2..57
    for (const auto& [low, high, raised, expected] :
         std::vector<std::tuple<float, float, bool, int>>{{10, 30, false, 0},
                                                          {10, 20, false, full},
                                                          {10, 30, true, full},
                                                          {20, 30, true, full},
                                                          {20.5f, 30, true, 3},
                                                          {10, 41, true, 0}})
        EXPECT_EQ(points_on_step(low, high, raised), expected)
            << low << " " << high << " " << raised;
}

TEST(ChainEdges, ExportsAgreeAndKeepTheirSizeRule) {
    const cv::Mat img = quro::test::add_noise(quro::test::render_shapes(400, 300, 30, 4), 3, 2);
    const CResult one = [&] {
        tbb::global_control single(tbb::global_control::max_allowed_parallelism, 1);
        return run_c(img, 1, 5, 15);
    }();
    tbb::global_control eight(tbb::global_control::max_allowed_parallelism, 8);
    const CResult r = run_c(img, 1, 5, 15);
    ASSERT_TRUE(r.count > 5 && r.count == one.count) << r.count << " " << one.count;
    for (int i = 0; i < r.count; ++i) {
        EXPECT_TRUE(same_points(r.chains[i], one.chains[i]));
        EXPECT_GE(r.chains[i].size(), 2u);
        std::vector<cv::Point2d> pts;
        for (const EdgePoint& p : r.chains[i]) pts.emplace_back(p.x, p.y);
        EXPECT_EQ(r.diameters[i], quro::hull_diameter(pts));
    }
    for (const float min_size : {0.f, 8.f, 30.f}) {
        Contours lists(1);  // appended after what is there
        std::vector<EdgePoint> flat(2), expect_flat(2);
        ASSERT_EQ(find_sub_pix_contours_d(img.data, img.cols, img.rows, 1, 5, 15, min_size, &lists,
                                          nullptr),
                  0);
        ASSERT_EQ(
            edges_sub_pix_gray_d(img.data, img.cols, img.rows, 1, 5, 15, min_size, &flat, nullptr),
            0);
        Contours expected(1);
        for (int i = 0; i < r.count; ++i)
            if (r.diameters[i] >= min_size) {
                expected.push_back(r.chains[i]);
                expect_flat.insert(expect_flat.end(), r.chains[i].begin(), r.chains[i].end());
            }
        EXPECT_TRUE(
            std::equal(lists.begin(), lists.end(), expected.begin(), expected.end(), same_points));
        EXPECT_TRUE(same_points(flat, expect_flat)) << min_size;
    }
}

TEST(ChainEdges, NothingFoundAndBadArguments) {
    const cv::Mat flat(50, 50, CV_8U, cv::Scalar(90));
    const cv::Mat disc = quro::test::render_disc(50, 50, 25, 25, 12, 0, 200);
    const cv::Mat zeros = cv::Mat::zeros(disc.size(), CV_8U);
    quro::Contour* keep = reinterpret_cast<quro::Contour*>(&keep);
    quro::Contour* block = keep;
    int count = -1;
    std::vector<EdgePoint> out(1);
    // Nothing to find: 0, *count 0, *out unchanged, nothing appended.
    for (const auto& [img, mask] : {std::pair{flat, cv::Mat()}, std::pair{disc, zeros}}) {
        const unsigned char* m = mask.empty() ? nullptr : mask.data;
        EXPECT_EQ(find_sub_pix_contours_c(img.data, 50, 50, 1, 1, 2, &block, &count, m), 0);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(block, keep);
        EXPECT_EQ(edges_sub_pix_gray_d(img.data, 50, 50, 1, 1, 2, 0, &out, m), 0);
        EXPECT_EQ(out.size(), 1u);
    }
    const cv::Mat noise = quro::test::add_noise(flat, 60, 3);
    for (const int rows : {1, 2, 3, 4})  // fewer than 5 rows: no edge point
        EXPECT_EQ(find_sub_pix_contours_c(noise.data, 7, rows, 0.25f, 0, 0, &block, &count, 0), 0);
    // Bad arguments: -1, *count 0, nothing registered, *out unchanged.
    const std::size_t registered = quro::registered_result_count();
    struct Case {
        const unsigned char* img;
        int w, h;
        float sigma;
    } cases[] = {{nullptr, 50, 50, 1},        {disc.data, 0, 50, 1},    {disc.data, 50, -2, 0},
                 {disc.data, 50, 50, -1},     {disc.data, 50, 50, NAN}, {disc.data, 50, 50, 14},
                 {disc.data, 65536, 65536, 0}};
    for (const Case& k : cases) {
        count = 5;
        EXPECT_EQ(find_sub_pix_contours_c(k.img, k.w, k.h, k.sigma, 1, 2, &block, &count, nullptr),
                  -1);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(edges_sub_pix_gray_d(k.img, k.w, k.h, k.sigma, 1, 2, 0, &out, nullptr), -1);
        Contours lists;
        EXPECT_EQ(find_sub_pix_contours_d(k.img, k.w, k.h, k.sigma, 1, 2, 0, &lists, nullptr), -1);
    }
    EXPECT_EQ(find_sub_pix_contours_c(disc.data, 50, 50, 1, 1, 2, nullptr, &count, nullptr), -1);
    EXPECT_EQ(find_sub_pix_contours_c(disc.data, 50, 50, 1, 1, 2, &block, nullptr, nullptr), -1);
    EXPECT_EQ(edges_sub_pix_gray_d(disc.data, 50, 50, 1, 1, 2, 0, nullptr, nullptr), -1);
    EXPECT_TRUE(out.size() == 1u && block == keep);
    EXPECT_EQ(quro::registered_result_count(), registered);
}

// Unsmoothed, |G| is Sobel / 4: Canny (L2, thresholds times 4) finds nearly the same pixels.
TEST(ChainEdges, PixelSetAgreesWithCanny) {
    const cv::Mat img = quro::test::render_shapes(320, 240, 25, 9);
    const CResult r = run_c(img, 0, 8, 24);
    cv::Mat ours = cv::Mat::zeros(img.size(), CV_8U), canny, near_ours, near_canny;
    for (const auto& c : r.chains)
        for (const EdgePoint& p : c) ours.at<uchar>(cvRound(p.y), cvRound(p.x)) = 255;
    cv::Canny(img, canny, 32, 96, 3, true);
    cv::dilate(ours, near_ours, cv::Mat());
    cv::dilate(canny, near_canny, cv::Mat());
    const double n_ours = cv::countNonZero(ours), n_canny = cv::countNonZero(canny);
    ASSERT_GT(n_ours, 500);
    EXPECT_GT(cv::countNonZero(ours & near_canny) / n_ours, 0.97);
    EXPECT_GT(cv::countNonZero(canny & near_ours) / n_canny, 0.97);
}

}  // namespace

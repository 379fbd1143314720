// Synthetic grey scenes for edge tests and benchmarks: shapes rendered at 8x with anti-aliased
// sub-samples and reduced by area averaging, so that edges carry exact sub-pixel positions.
//
// Coordinates follow the library: pixel (c, r) has its centre at x = c, y = r.
#ifndef QURO_TESTING_EDGE_SCENES_H
#define QURO_TESTING_EDGE_SCENES_H

#include <algorithm>
#include <cmath>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "testing/supersampled.h"

namespace quro::test {

// Renders `inside(x, y)` (true = foreground) into a width x height 8-bit image: each pixel is
// split into factor x factor cells, each cell into sub x sub point samples; the cells' coverage
// is averaged down with cv::resize(INTER_AREA).
inline cv::Mat render_scene(int width, int height,
                            const std::function<bool(double, double)>& inside, double background,
                            double foreground, int factor = 8, int sub = 4) {
    quro_test::Supersampled canvas(cv::Size(width, height), factor, 0.0, CV_32F);
    cv::Mat& big = canvas.fine();
    const double cell = 1.0 / factor;
    for (int by = 0; by < big.rows; ++by) {
        float* row = big.ptr<float>(by);
        for (int bx = 0; bx < big.cols; ++bx) {
            int hits = 0;
            for (int sy = 0; sy < sub; ++sy)
                for (int sx = 0; sx < sub; ++sx) {
                    const double x = (bx + (sx + 0.5) / sub) * cell - 0.5;
                    const double y = (by + (sy + 0.5) / sub) * cell - 0.5;
                    hits += inside(x, y) ? 1 : 0;
                }
            const double f = static_cast<double>(hits) / (sub * sub);
            row[bx] = static_cast<float>(background + f * (foreground - background));
        }
    }
    cv::Mat out;
    canvas.reduce().convertTo(out, CV_8U);  // rounds to nearest
    return out;
}

inline cv::Mat render_disc(int width, int height, double cx, double cy, double radius,
                           double background, double foreground) {
    return render_scene(
        width, height,
        [=](double x, double y) {
            return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
        },
        background, foreground);
}

// Adds Gaussian noise of standard deviation sigma, saturating to 0..255.
inline cv::Mat add_noise(const cv::Mat& img, double sigma, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, sigma);
    cv::Mat out = img.clone();
    for (int r = 0; r < out.rows; ++r) {
        unsigned char* p = out.ptr<unsigned char>(r);
        for (int c = 0; c < out.cols; ++c) p[c] = cv::saturate_cast<unsigned char>(p[c] + g(rng));
    }
    return out;
}

// A scene of many filled shapes (discs, rotated rectangles, triangles) of varying grey levels on a
// mid-grey background, drawn directly with anti-aliased OpenCV primitives at 8x and reduced.
inline cv::Mat render_shapes(int width, int height, int shapes, unsigned seed) {
    std::mt19937 rng(seed);
    const int f = 4;  // enough for a speed scene
    quro_test::Supersampled canvas(cv::Size(width, height), f, 110);
    cv::Mat& big = canvas.fine();
    std::uniform_real_distribution<double> ux(0.05 * width, 0.95 * width);
    std::uniform_real_distribution<double> uy(0.05 * height, 0.95 * height);
    std::uniform_real_distribution<double> usize(0.01, 0.04);
    std::uniform_int_distribution<int> grey(0, 255);
    const double scale = std::min(width, height);
    for (int s = 0; s < shapes; ++s) {
        const cv::Point2d c(ux(rng) * f, uy(rng) * f);
        const double size = usize(rng) * scale * f;
        int g = grey(rng);
        if (std::abs(g - 110) < 50) g = g < 110 ? g - 50 : g + 50;
        g = std::clamp(g, 0, 255);
        const cv::Scalar col(g);
        switch (s % 3) {
            case 0:
                cv::circle(big, c, static_cast<int>(size), col, cv::FILLED, cv::LINE_AA);
                break;
            case 1: {
                const cv::RotatedRect rr(
                    c, cv::Size2f(static_cast<float>(size * 2.0), static_cast<float>(size)),
                    static_cast<float>(rng() % 180));
                cv::Point2f v[4];
                rr.points(v);
                std::vector<cv::Point> poly(v, v + 4);
                cv::fillConvexPoly(big, poly, col, cv::LINE_AA);
                break;
            }
            default: {
                std::vector<cv::Point> tri;
                for (int k = 0; k < 3; ++k) {
                    const double a = (rng() % 360) * CV_PI / 180.0;
                    tri.emplace_back(static_cast<int>(c.x + size * std::cos(a)),
                                     static_cast<int>(c.y + size * std::sin(a)));
                }
                cv::fillConvexPoly(big, tri, col, cv::LINE_AA);
                break;
            }
        }
    }
    return canvas.reduce();
}

}  // namespace quro::test

#endif  // QURO_TESTING_EDGE_SCENES_H

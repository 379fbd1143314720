// The rendered part (part_scene.h) bent like a sine wave: at part coordinates (u, v) a point moves
// by A sin(2 pi u / wavelength) along the part's own v axis, so the part's centre stays put and its
// two ends bend in opposite directions. The scene is the unbent scene resampled with cv::remap.
#ifndef QURO_TESTING_BENT_PART_SCENE_H
#define QURO_TESTING_BENT_PART_SCENE_H

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "quro/quro.h"
#include "quro/match/deform/dense_field.h"
#include "testing/part_scene.h"

namespace quro_test {

struct BentPart {
    PartPose pose;
    double amplitude = 3.0;    // pixels
    double wavelength = 120.0;  // pixels along the part's x axis
};

// Image displacement of the part point (u, v) (part coordinates, scale 1) of `b`.
inline cv::Point2d bend_of_part_point(const BentPart& b, double u) {
    const double a = b.pose.angle * CV_PI / 180.0;
    const double v = b.amplitude * std::sin(2.0 * CV_PI * u / b.wavelength);
    return {std::sin(a) * v, std::cos(a) * v};
}

// Where the part point (u, v) of `b` lies in the bent scene.
inline cv::Point2d bent_position(const BentPart& b, double u, double v) {
    return detail::place(b.pose, u, v) + bend_of_part_point(b, u);
}

// The angle of the rigid pose nearest to the bent part `b` whose plate spans u in -half_w..half_w:
// the bend moves a point at u by A sin(2 pi u / wavelength) along the part's y axis, which near
// u = 0 is a turn by -A 2 pi / wavelength radians; the least-squares slope of the bend over the
// plate's width gives the turn that fits the whole part. Degrees in [0, 360).
inline double fitted_angle(const BentPart& b, double half_w) {
    double su = 0, suu = 0;
    for (int i = 0; i <= 400; ++i) {
        const double u = -half_w + 2.0 * half_w * i / 400.0;
        su += u * b.amplitude * std::sin(2.0 * CV_PI * u / b.wavelength);
        suu += u * u;
    }
    const double a = b.pose.angle - std::atan(su / suu) * 180.0 / CV_PI;
    return a < 0 ? a + 360.0 : a;
}

// The scene of render_part_scene with every part bent; each pixel follows the part whose centre is
// nearest. The inverse of the bend is found by fixed-point steps (the bend's slope is below 1).
inline cv::Mat render_bent_part_scene(cv::Size size, const std::vector<BentPart>& parts,
                                      double noise_sigma = 0, unsigned seed = 1,
                                      const PartShape& shape = {}) {
    std::vector<PartPose> poses;
    for (const BentPart& b : parts) poses.push_back(b.pose);
    const cv::Mat flat = render_part_scene(size, poses, shape);
    cv::Mat mx(size, CV_32F), my(size, CV_32F);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const BentPart* near = nullptr;
            double best = std::numeric_limits<double>::infinity();
            for (const BentPart& b : parts)
                if (const double d = std::hypot(x - b.pose.x, y - b.pose.y); d < best) {
                    best = d;
                    near = &b;
                }
            cv::Point2d q(x, y);
            if (near != nullptr) {
                const double a = near->pose.angle * CV_PI / 180.0;
                for (int it = 0; it < 8; ++it) {
                    const double u = std::cos(a) * (q.x - near->pose.x) - std::sin(a) * (q.y - near->pose.y);
                    q = cv::Point2d(x, y) - bend_of_part_point(*near, u);
                }
            }
            mx.at<float>(y, x) = static_cast<float>(q.x);
            my.at<float>(y, x) = static_cast<float>(q.y);
        }
    cv::Mat img;
    cv::remap(flat, img, mx, my, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    if (noise_sigma > 0) {
        cv::Mat noise(size, CV_32F), f;
        cv::RNG(seed * 7919u + 17u).fill(noise, cv::RNG::NORMAL, 0, noise_sigma);
        img.convertTo(f, CV_32F);
        cv::Mat(f + noise).convertTo(img, CV_8U);
    }
    return img;
}

// How far the deformation field `f` of match `m` is from the bend of `b` (plate of `shape`): over
// the plate (step 2 px), the field's displacement along the part's y axis at each model point
// posed by the match (sampled at that point's image position less the field's placement; beyond
// the field's rectangle, the displacement at its nearest pixel),
// against the true bend there, with the best plane in the plate's (u, v) removed from the
// difference; RMS in px. -1 when the field is empty.
inline double bend_field_error(const quro::Match& m, const quro::VectorField& f,
                               const BentPart& b, const PartShape& shape) {
    if (f.map_x == nullptr || f.width < 1 || f.height < 1) return -1;
    const double a = m.angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const double hw = shape.half_w * shape.scale, hh = shape.half_h * shape.scale;
    cv::Mat rows(0, 3, CV_64F), rhs(0, 1, CV_64F);
    for (double v = -hh; v <= hh; v += 2)
        for (double u = -hw; u <= hw; u += 2) {
            const double rx = m.x + m.dx + c * m.scale_col * u + s * m.scale_row * v;
            const double ry = m.y + m.dy + c * m.scale_row * v - s * m.scale_col * u;
            // Beyond the rectangle the field holds the displacement of its nearest pixel.
            const double cx = std::clamp(rx - f.x, 0.0, f.width - 1.0);
            const double cy = std::clamp(ry - f.y, 0.0, f.height - 1.0);
            float fx = 0, fy = 0;
            quro::sampleFieldBilinear(f.map_x, f.map_y, static_cast<float>(cx),
                                      static_cast<float>(cy), f.width, f.width, f.height, fx, fy);
            const double across = (fx - cx) * s + (fy - cy) * c;
            const double truth = b.amplitude * std::sin(2.0 * CV_PI * u / b.wavelength);
            rows.push_back(cv::Mat((cv::Mat_<double>(1, 3) << 1.0, u, v)));
            rhs.push_back(across - truth);
        }
    cv::Mat plane;
    cv::solve(rows, rhs, plane, cv::DECOMP_SVD);
    const cv::Mat r = rhs - rows * plane;
    return std::sqrt(r.dot(r) / r.rows);
}

}  // namespace quro_test

#endif  // QURO_TESTING_BENT_PART_SCENE_H

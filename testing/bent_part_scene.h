// The rendered part (part_scene.h) bent like a sine wave: at part coordinates (u, v) a point moves
// by A sin(2 pi u / wavelength) along the part's own v axis, so the part's centre stays put and its
// two ends bend in opposite directions. The scene is the unbent scene resampled with cv::remap.
#ifndef QURO_TESTING_BENT_PART_SCENE_H
#define QURO_TESTING_BENT_PART_SCENE_H

#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

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

// The scene of render_part_scene with every part bent; each pixel follows the part whose centre is
// nearest. The inverse of the bend is found by fixed-point steps (the bend's slope is below 1).
inline cv::Mat render_bent_part_scene(cv::Size size, const std::vector<BentPart>& parts,
                                      double noise_sigma = 0, unsigned seed = 1) {
    std::vector<PartPose> poses;
    for (const BentPart& b : parts) poses.push_back(b.pose);
    const cv::Mat flat = render_part_scene(size, poses);
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

}  // namespace quro_test

#endif  // QURO_TESTING_BENT_PART_SCENE_H

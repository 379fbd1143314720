// A machined part for search tests: a chamfered plate with a raised pad, a round hole and a slot,
// rendered at any pose with exact sub-pixel geometry (drawn at 16x with sub-pixel vertex
// coordinates and reduced by area averaging: supersampled.h). The part's reference point is its
// pose centre, so a model created from render_part_model() has its reference point where the
// scene instances have their centre.
//
// Pose convention (the library's): a part point (x, y) at angle a (degrees, counter-clockwise on
// screen), centred at (cx, cy), lands at X = cx + cos a x + sin a y, Y = cy + cos a y - sin a x.
#ifndef QURO_TESTING_PART_SCENE_H
#define QURO_TESTING_PART_SCENE_H

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/supersampled.h"

namespace quro_test {

struct PartPose {
    double x;
    double y;
    double angle;  // degrees
};

// Part geometry in part coordinates (pixels at scale 1), centred on the reference point.
struct PartShape {
    double half_w = 40;   // plate half width
    double half_h = 28;   // plate half height
    double chamfer = 9;   // corner chamfer of the plate
    double scale = 1.0;   // uniform size factor of everything
};

namespace detail {

constexpr int kPartSuper = 16;

// Part point (x, y) at pose p, in image coordinates.
inline cv::Point2d place(const PartPose& p, double x, double y) {
    const double a = p.angle * CV_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    return {p.x + c * x + s * y, p.y + c * y - s * x};
}

inline void fill_part_polygon(Supersampled& canvas, const PartPose& p,
                              const std::vector<cv::Point2d>& pts, double grey) {
    std::vector<cv::Point2d> placed;
    for (const auto& v : pts) placed.push_back(place(p, v.x, v.y));
    canvas.fill_polygon(placed, grey);
}

inline void draw_part_fine(Supersampled& canvas, const PartShape& s, const PartPose& p,
                           double plate_grey, double hole_grey) {
    const double k = s.scale, w = s.half_w * k, h = s.half_h * k, c = s.chamfer * k;
    // Plate: chamfered on three corners, a larger chamfer bottom-left (breaks the symmetry).
    fill_part_polygon(canvas, p,
                      {{-w + c, -h}, {w - c, -h}, {w, -h + c}, {w, h - c}, {w - c, h},
                       {-w + 2 * c, h}, {-w, h - 2 * c}, {-w, -h + c}},
                      plate_grey);
    // Raised pad (lighter) in the upper left.
    fill_part_polygon(canvas, p,
                      {{-w + 0.25 * w, -h + 0.3 * h}, {-0.05 * w, -h + 0.3 * h},
                       {-0.05 * w, 0.05 * h}, {-w + 0.25 * w, 0.05 * h}},
                      std::min(255.0, plate_grey + 40));
    // Slot (dark) in the lower middle.
    fill_part_polygon(canvas, p,
                      {{0.0, 0.45 * h}, {0.45 * w, 0.45 * h}, {0.45 * w, 0.72 * h},
                       {0.0, 0.72 * h}},
                      hole_grey);
    // Round hole on the right.
    const cv::Point2d hole = place(p, 0.62 * w, -0.3 * h);
    const int radius = static_cast<int>(
        std::lround(0.22 * h * kPartSuper * (1 << Supersampled::kShift)));
    cv::circle(canvas.fine(), canvas.fixed(hole.x, hole.y), radius, cv::Scalar(hole_grey),
               cv::FILLED, cv::LINE_8, Supersampled::kShift);
}

}  // namespace detail

// The model image: the part upright, centred at ((cols - 1) / 2, (rows - 1) / 2) of an image of
// `size` on a plain background.
inline cv::Mat render_part_model(cv::Size size, const PartShape& s = {}, double background = 60,
                                 double plate = 170, double hole = 30) {
    Supersampled canvas(size, detail::kPartSuper, background);
    detail::draw_part_fine(canvas, s,
                           {(size.width - 1) * 0.5, (size.height - 1) * 0.5, 0.0}, plate, hole);
    return canvas.reduce();
}

// A scene of `size` with the part at each pose over a background of `background` grey, optionally
// with clutter (bars and discs that never touch an instance's box) and Gaussian noise.
inline cv::Mat render_part_scene(cv::Size size, const std::vector<PartPose>& poses,
                                 const PartShape& s = {}, double background = 60,
                                 double plate = 170, double hole = 30, double noise_sigma = 0,
                                 unsigned seed = 1, int clutter = 0) {
    Supersampled canvas(size, detail::kPartSuper, background);
    cv::Mat& fine = canvas.fine();
    std::mt19937 rng(seed);
    const double reach = std::hypot(s.half_w, s.half_h) * s.scale + 3;
    for (int i = 0; i < clutter; ++i) {
        std::uniform_real_distribution<double> ux(0, size.width), uy(0, size.height);
        const double x = ux(rng), y = uy(rng);
        bool near = false;
        for (const auto& p : poses) near = near || std::hypot(p.x - x, p.y - y) < reach + 12;
        if (near) continue;
        const cv::Point c(static_cast<int>(x * detail::kPartSuper),
                          static_cast<int>(y * detail::kPartSuper));
        const int grey = 30 + static_cast<int>(rng() % 150);
        if (i % 2)
            cv::circle(fine, c, detail::kPartSuper * (3 + static_cast<int>(rng() % 8)),
                       cv::Scalar(grey), cv::FILLED);
        else
            cv::line(fine, c, c + cv::Point(detail::kPartSuper * 10, detail::kPartSuper * 4),
                     cv::Scalar(grey), detail::kPartSuper * 2);
    }
    for (const auto& p : poses) detail::draw_part_fine(canvas, s, p, plate, hole);
    cv::Mat img = canvas.reduce();
    if (noise_sigma > 0) {
        cv::Mat noise(size, CV_32F);
        cv::RNG noise_rng(seed * 7919u + 17u);
        noise_rng.fill(noise, cv::RNG::NORMAL, 0, noise_sigma);
        cv::Mat f;
        img.convertTo(f, CV_32F);
        f += noise;
        f.convertTo(img, CV_8U);
    }
    return img;
}

}  // namespace quro_test

#endif  // QURO_TESTING_PART_SCENE_H

// The one anti-aliasing renderer of the test scenes: an image drawn at `factor` times its
// resolution (the fine image) and reduced by area averaging, so that drawn edges land at exact
// sub-pixel positions.
//
// Coordinates follow the library: pixel (c, r) has its centre at x = c, y = r, and spans the fine
// pixels factor * c .. factor * c + factor - 1, whose centre is factor * c + (factor - 1) / 2.
#ifndef QURO_TESTING_SUPERSAMPLED_H
#define QURO_TESTING_SUPERSAMPLED_H

#include <cmath>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace quro_test {

class Supersampled {
public:
    // Sub-pixel bits of the fine coordinates that fixed() hands to OpenCV's drawing calls.
    static constexpr int kShift = 4;

    // A fine image of `size` times `factor`, of `type`, filled with `background`.
    Supersampled(cv::Size size, int factor, double background, int type = CV_8UC1)
        : size_(size),
          factor_(factor),
          fine_(size.height * factor, size.width * factor, type, cv::Scalar(background)) {}

    // A fine image drawn elsewhere; the result is its size divided by `factor`.
    Supersampled(cv::Mat fine, int factor)
        : size_(fine.cols / factor, fine.rows / factor), factor_(factor), fine_(std::move(fine)) {}

    cv::Mat& fine() { return fine_; }
    int factor() const { return factor_; }

    // Image position (x, y) in fine pixels.
    cv::Point2d to_fine(double x, double y) const {
        const double half = (factor_ - 1) * 0.5;
        return {x * factor_ + half, y * factor_ + half};
    }

    // Image position (x, y) in fine pixels with kShift fractional bits, for drawing with kShift.
    cv::Point fixed(double x, double y) const {
        const cv::Point2d f = to_fine(x, y);
        return {static_cast<int>(std::lround(f.x * (1 << kShift))),
                static_cast<int>(std::lround(f.y * (1 << kShift)))};
    }

    // A filled polygon of image-position vertices in flat `grey`, without anti-aliasing of its own.
    void fill_polygon(const std::vector<cv::Point2d>& vertices, double grey) {
        std::vector<cv::Point> poly;
        for (const cv::Point2d& v : vertices) poly.push_back(fixed(v.x, v.y));
        cv::fillPoly(fine_, std::vector<std::vector<cv::Point>>{poly}, cv::Scalar(grey),
                     cv::LINE_8, kShift);
    }

    // The image: the fine image reduced by area averaging (same type).
    cv::Mat reduce() const {
        cv::Mat out;
        cv::resize(fine_, out, size_, 0, 0, cv::INTER_AREA);
        return out;
    }

private:
    cv::Size size_;
    int factor_;
    cv::Mat fine_;
};

}  // namespace quro_test

#endif  // QURO_TESTING_SUPERSAMPLED_H

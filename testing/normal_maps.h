// Synthetic normal maps for the matching-core tests: the column (nx) and row (ny) components of
// the image normal at each pixel, CV_32FC1, made to order instead of from an image.
#ifndef QURO_TESTING_NORMAL_MAPS_H
#define QURO_TESTING_NORMAL_MAPS_H

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace quro_test {

struct NormalMapPair {
    cv::Mat nx, ny;

    NormalMapPair() = default;
    NormalMapPair(cv::Mat x, cv::Mat y) : nx(std::move(x)), ny(std::move(y)) {}
    // Zero maps of rows x cols.
    NormalMapPair(int rows, int cols)
        : nx(rows, cols, CV_32FC1, cv::Scalar(0)), ny(rows, cols, CV_32FC1, cv::Scalar(0)) {}
};

// Normals of one direction, p_deg degrees counter-clockwise on screen, i.e. (cos p, -sin p),
// whose length at column c and row r is length(c, r) (a double).
template <class Length>
NormalMapPair directed_maps(int rows, int cols, double p_deg, Length length) {
    NormalMapPair m(rows, cols);
    const double p = p_deg * CV_PI / 180.0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const double f = length(c, r);
            m.nx.at<float>(r, c) = float(f * std::cos(p));
            m.ny.at<float>(r, c) = float(-f * std::sin(p));
        }
    }
    return m;
}

// Maps in buffers of their exact size, with `guard` NaN values before and after each: the
// sanitizer sees a read just past an unguarded map, and a read into a guard turns what it feeds
// into NaN. The maps view the buffers, so the pair moves but does not copy.
class BufferedMaps {
public:
    // Maps of rows x cols holding NaN.
    BufferedMaps(int rows, int cols, std::size_t guard = 0)
        : x_(std::size_t(rows) * cols + 2 * guard, std::numeric_limits<float>::quiet_NaN()),
          y_(x_.size(), std::numeric_limits<float>::quiet_NaN()),
          nx(rows, cols, CV_32FC1, x_.data() + guard),
          ny(rows, cols, CV_32FC1, y_.data() + guard) {}

    // Copies of two continuous maps.
    BufferedMaps(const cv::Mat& mx, const cv::Mat& my) : BufferedMaps(mx.rows, mx.cols) {
        mx.copyTo(nx);
        my.copyTo(ny);
    }

    BufferedMaps(BufferedMaps&&) = default;
    BufferedMaps(const BufferedMaps&) = delete;
    BufferedMaps& operator=(const BufferedMaps&) = delete;

private:
    std::vector<float> x_, y_;

public:
    cv::Mat nx, ny;
};

}  // namespace quro_test

#endif  // QURO_TESTING_NORMAL_MAPS_H

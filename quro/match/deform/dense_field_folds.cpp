#include "quro/match/deform/dense_field_folds.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quro {

namespace {

// Derivatives of a map at (row i, column j) by the 3 by 3 Sobel kernels divided by 8; the caller
// keeps (i, j) at least one pixel inside the map.
struct Gradient {
    float dx;
    float dy;
};

Gradient sobel8(const cv::Mat& m, int i, int j) {
    const float* up = m.ptr<float>(i - 1);
    const float* mid = m.ptr<float>(i);
    const float* down = m.ptr<float>(i + 1);
    const float gx =
        (up[j + 1] + 2.f * mid[j + 1] + down[j + 1]) - (up[j - 1] + 2.f * mid[j - 1] + down[j - 1]);
    const float gy =
        (down[j - 1] + 2.f * down[j] + down[j + 1]) - (up[j - 1] + 2.f * up[j] + up[j + 1]);
    return Gradient{gx * 0.125f, gy * 0.125f};
}

// Whether the maps fold or tear at any pixel of the 5 by 5 neighbourhood around (row y, col x).
bool folds_around(const cv::Mat& map_x, const cv::Mat& map_y, int x, int y, float min_determinant,
                  float max_deviation) {
    for (int i = y - 2; i <= y + 2; ++i) {
        for (int j = x - 2; j <= x + 2; ++j) {
            const Gradient gx = sobel8(map_x, i, j);
            const Gradient gy = sobel8(map_y, i, j);
            const float a = gx.dx;
            const float b = gx.dy;
            const float c = gy.dx;
            const float d = gy.dy;
            const float deviation = (a - 1.f) * (a - 1.f) + b * b + c * c + (d - 1.f) * (d - 1.f);
            // Written so that a NaN in the maps counts as a fold.
            if (!(a * d - c * b >= min_determinant) || !(deviation <= max_deviation)) return true;
        }
    }
    return false;
}

}  // namespace

int rejectFoldingPoints(const cv::Mat& map_x, const cv::Mat& map_y,
                        const std::vector<cv::Point2f>& sources, std::vector<float>& weights,
                        float min_determinant, float max_deviation) {
    if (map_x.type() != CV_32FC1 || map_y.type() != CV_32FC1 || map_x.dims != 2 ||
        map_x.size() != map_y.size())
        return -1;
    const std::size_t n = std::min(sources.size(), weights.size());
    int zeroed = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (!(weights[k] > 0.f)) continue;
        const double rx = std::nearbyint(static_cast<double>(sources[k].x));
        const double ry = std::nearbyint(static_cast<double>(sources[k].y));
        // 2 < x < cols - 3 keeps the neighbourhood and its Sobel support inside; NaN fails too.
        if (!(rx > 2.0 && rx < map_x.cols - 3.0 && ry > 2.0 && ry < map_x.rows - 3.0)) continue;
        if (folds_around(map_x, map_y, static_cast<int>(rx), static_cast<int>(ry), min_determinant,
                         max_deviation)) {
            weights[k] = 0.f;
            ++zeroed;
        }
    }
    return zeroed;
}

}  // namespace quro

// Sub-pixel gradient peak at one pixel.
#include "quro/edges/gradient_peak.h"

#include <cstdint>

#include "quro/edges/quadratic_peak.h"
#include "quro/edges/sobel_magnitude.h"
#include "quro/export_guard.h"
#include "quro/quro.h"

namespace quro {
namespace {

// The peak on rows given by pointer (row y of the image is rows[2], rows[0..4] = y - 2 .. y + 2).
bool subpix_peak(const std::uint8_t* const rows[5], int x, int y, float threshold, float* out) {
    int sx, sy;
    sobel_sums(rows[1], rows[2], rows[3], x - 1, x, x + 1, sx, sy);
    const float centre = sobel_magnitude(sx, sy);
    if (!(centre > threshold)) return false;
    float m[9];
    for (int j = -1; j <= 1; ++j) {
        for (int i = -1; i <= 1; ++i) {
            if (i == 0 && j == 0) {
                m[4] = centre;
                continue;
            }
            int ax, ay;
            sobel_sums(rows[1 + j], rows[2 + j], rows[3 + j], x + i - 1, x + i, x + i + 1, ax, ay);
            m[(j + 1) * 3 + (i + 1)] = sobel_magnitude(ax, ay);
        }
    }
    QuadraticPeak pk;
    if (!fit_quadratic_peak(m, pk)) return false;
    float nx = pk.nx, ny = pk.ny;
    if (static_cast<float>(sx) * 0.25f * nx + static_cast<float>(sy) * 0.25f * ny <= 0.f) {
        nx = -nx;
        ny = -ny;
    }
    out[0] = static_cast<float>(x) + pk.ox;
    out[1] = static_cast<float>(y) + pk.oy;
    out[2] = nx;
    out[3] = ny;
    return true;
}

// Whether the 5x5 window around (x, y) lies inside a width x height image. Compared against
// width - 2 and height - 2 (never x + 2, x - 2), so coordinates near INT_MAX or INT_MIN cannot
// overflow.
bool window_inside(int x, int y, int width, int height) {
    return x >= 2 && y >= 2 && x < width - 2 && y < height - 2;
}

}  // namespace

bool get_subpix_pos_mat(const cv::Mat& img8u, int x, int y, float threshold, float* out) {
    if (out == nullptr || img8u.type() != CV_8UC1 || img8u.dims != 2) return false;
    if (!window_inside(x, y, img8u.cols, img8u.rows)) return false;
    const std::uint8_t* rows[5];
    for (int k = 0; k < 5; ++k) rows[k] = img8u.ptr<std::uint8_t>(y - 2 + k);
    return subpix_peak(rows, x, y, threshold, out);
}

}  // namespace quro

extern "C" QURO_API bool get_subpix_pos(const unsigned char* image, int width, int height, int x,
                                        int y, float threshold, float* out) {
    if (image == nullptr || out == nullptr || width < 1 || height < 1) return false;
    if (!quro::window_inside(x, y, width, height)) return false;
    return quro::guarded(false, [&] {
        const std::size_t w = static_cast<std::size_t>(width);
        const std::uint8_t* rows[5];
        for (int k = 0; k < 5; ++k) rows[k] = image + static_cast<std::size_t>(y - 2 + k) * w;
        return quro::subpix_peak(rows, x, y, threshold, out);
    });
}

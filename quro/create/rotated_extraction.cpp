// Rotated rectangles cut out of an 8-bit image: the sampler, the sampling filters, the cut-out of
// model creation and the rotated image extraction export.
#include "quro/create/rotated_extraction.h"

#include <climits>
#include <cmath>
#include <cstddef>

#include "quro/export_guard.h"
#include "quro/numeric.h"
#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/status.h"

namespace quro {

namespace {

// One sample of a filter: offsets along u and v (in cut-out pixels) and its weight.
struct Tap {
    double du;
    double dv;
    double weight;
};

struct FilterTaps {
    Tap taps[9];
    int count;
    double scale;  // applied to the weighted sum
};

constexpr FilterTaps kFilters[kRotatedFilterCount] = {
    {{{0.0, 0.0, 1.0}}, 1, 1.0},
    {{{-0.5, -0.5, 1.0}, {0.5, -0.5, 1.0}, {-0.5, 0.5, 1.0}, {0.5, 0.5, 1.0}}, 4, 0.25},
    {{{-1.0, -1.0, 1.0}, {0.0, -1.0, 2.0}, {1.0, -1.0, 1.0},
      {-1.0, 0.0, 2.0}, {0.0, 0.0, 4.0}, {1.0, 0.0, 2.0},
      {-1.0, 1.0, 1.0}, {0.0, 1.0, 2.0}, {1.0, 1.0, 1.0}},
     9, 0.0625},
};

}  // namespace

double sample_bilinear(const cv::Mat& image, double x, double y) {
    // x1 = ceil(x) < cols is x <= cols - 1; the negated test also turns NaN away.
    if (!(x >= 0.0 && y >= 0.0 && x <= image.cols - 1 && y <= image.rows - 1)) return 0.0;
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int x0 = static_cast<int>(fx0), y0 = static_cast<int>(fy0);
    const int x1 = static_cast<int>(std::ceil(x)), y1 = static_cast<int>(std::ceil(y));
    const double fx = x - fx0, fy = y - fy0;
    const unsigned char* r0 = image.ptr<unsigned char>(y0);
    const unsigned char* r1 = image.ptr<unsigned char>(y1);
    return (r0[x0] * (1.0 - fx) + r0[x1] * fx) * (1.0 - fy) +
           (r1[x0] * (1.0 - fx) + r1[x1] * fx) * fy;
}

void render_rotated(const cv::Mat& image, const RotatedGrid& grid, int filter, unsigned char* out,
                    int out_width, int out_height) {
    const double a = grid.angle * kDegToRadD;
    const double ux = std::cos(a), uy = -std::sin(a);
    const double vx = std::sin(a), vy = std::cos(a);
    const FilterTaps& f = kFilters[filter];
    const auto rows = static_cast<std::size_t>(out_height);
    parallel_for_ranges(rows, RangeCut{2, 8}, [&](std::size_t begin, std::size_t end) {
        for (std::size_t r = begin; r != end; ++r) {
            const double k = grid.first_row + static_cast<double>(r);
            unsigned char* row = out + r * static_cast<std::size_t>(out_width);
            for (int c = 0; c < out_width; ++c) {
                const double j = grid.first_col + c;
                const double px = grid.cx + j * ux + k * vx;
                const double py = grid.cy + j * uy + k * vy;
                double sum = 0.0;
                for (int t = 0; t < f.count; ++t) {
                    const Tap& tap = f.taps[t];
                    sum += tap.weight * sample_bilinear(image, px + tap.du * ux + tap.dv * vx,
                                                        py + tap.du * uy + tap.dv * vy);
                }
                // Samples lie in [0, 255], so the truncated value does too.
                row[c] = static_cast<unsigned char>(static_cast<int>(sum * f.scale));
            }
        }
    });
}

bool rotated_pose_valid(int width, int height, double cx, double cy, double angle) {
    const double reach = static_cast<double>(width) + height;
    // NaN fails every comparison, an infinity the range.
    return std::isfinite(angle) && cx >= -reach && cx <= width - 1 + reach && cy >= -reach &&
           cy <= height - 1 + reach;
}

cv::Mat crop_rotated_rect(const unsigned char* image, int width, int height, double cx, double cy,
                          double angle, double len1, double len2) {
    if (image == nullptr || width < 1 || height < 1 ||
        !rotated_pose_valid(width, height, cx, cy, angle))
        return {};
    const double reach = static_cast<double>(width) + height;
    if (!(len1 >= 0.0 && len1 <= reach && len2 >= 0.0 && len2 <= reach)) return {};
    // Sizes in double first: the lengths may exceed an int.
    const double cols = 2.0 * std::floor(len1) + 1.0, rows = 2.0 * std::floor(len2) + 1.0;
    // A rectangle in the image covers at most twice its area turned: a cut-out beyond four times
    // (the border included) is mostly samples off the image, and its size no image vouches for.
    if (cols * rows > INT_MAX || cols * rows > 4.0 * (width + 2.0) * (height + 2.0)) return {};

    const cv::Mat img(height, width, CV_8UC1, const_cast<unsigned char*>(image));
    cv::Mat cut(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1);
    const RotatedGrid grid{cx, cy, angle, static_cast<double>(static_cast<int>(-len1)),
                           static_cast<double>(static_cast<int>(-len2))};
    render_rotated(img, grid, 1, cut.data, cut.cols, cut.rows);
    return cut;
}

}  // namespace quro

extern "C" QURO_API int get_rot_img(const unsigned char* image, int width, int height, int filter,
                                    double cx, double cy, double angle, unsigned char* out,
                                    int out_width, int out_height) {
    using namespace quro;
    return guarded(kFailed, [&] {
        if (image == nullptr || out == nullptr || width < 1 || height < 1 || out_width < 1 ||
            out_height < 1 || filter < 0 || filter >= kRotatedFilterCount ||
            !rotated_pose_valid(width, height, cx, cy, angle))
            return kFailed;
        const cv::Mat img(height, width, CV_8UC1, const_cast<unsigned char*>(image));
        const RotatedGrid grid{cx, cy, angle, -(out_width - 1) * 0.5, -(out_height - 1) * 0.5};
        render_rotated(img, grid, filter, out, out_width, out_height);
        return kOk;
    });
}
